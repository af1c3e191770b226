#pragma once

#include <string>

// The hive of the user signed in to the desktop, HKEY_USERS\<their SID>, where every
// per-user key is opened. With User Account Control on, the program runs elevated, and
// elevated it may run as another account than that user: as the administrator whose
// password a standard user typed, or as the hidden administrator account of Windows 11's
// Administrator protection, each with its own HKEY_CURRENT_USER. So it never uses
// HKEY_CURRENT_USER: for its own account that is the same hive.
struct UserHive {
    std::string sid;

    // The path of `subkey` of the user's hive, under HKEY_USERS.
    std::string path(const std::string& subkey) const { return sid + '\\' + subkey; }
};

// Finds the hive of the user signed in to the desktop the program was started on: that
// of the desktop's shell window's account, or, without a shell window (Explorer ended or
// restarting, a replaced shell), that of the session's user. False, with `hive`
// untouched, where that user's SID can't be learned or their hive isn't loaded.
[[nodiscard]] bool findSignedInUserHive(UserHive& hive);
