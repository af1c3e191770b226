#pragma once

#include "toggle/signed_in_user.h"

#include <windows.h>

// Whether the policy "Do not process the legacy run list" is on, so that Windows starts
// none of the user's Run entries at logon. The machine's setting, read in `machineView`,
// holds over the setting in the user's hive `user`; a key that can't be read, or a value
// that isn't a REG_DWORD, is no setting.
bool legacyRunListDisabled(REGSAM machineView, const UserHive& user);
