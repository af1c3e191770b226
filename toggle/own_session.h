#pragma once

#include <windows.h>

// Reads the session of the program's own process into `session`; false, with `session`
// untouched, where Windows won't say.
[[nodiscard]] bool readOwnSession(DWORD& session);
