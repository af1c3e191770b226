#pragma once

#include <windows.h>

#include <string>

// Where the per-user keys of the user signed in to the desktop are. The program always
// runs elevated, and elevated it may run as another account than that user: as the
// administrator whose password a standard user typed, or as the hidden administrator
// account of Windows 11's Administrator protection, each with its own HKEY_CURRENT_USER.
struct UserHive {
    HKEY root = HKEY_CURRENT_USER;
    // Goes before each per-user key's path: the user's SID and a backslash under
    // HKEY_USERS, nothing under HKEY_CURRENT_USER.
    std::string prefix;

    // The path of `subkey` of the user's hive, under `root`.
    std::string path(const std::string& subkey) const { return prefix + subkey; }
};

// Finds the hive of the user signed in to the desktop the program was started on. That
// desktop's shell window names the user: its hive is HKEY_USERS\<the shell's SID>. Without
// a shell window (a replaced shell, a service, a scheduled task) there is nothing to tell
// by, and the hive is HKEY_CURRENT_USER. False, with `hive` untouched, where a shell
// window names an account whose SID can't be learned or whose hive can't be opened.
[[nodiscard]] bool findSignedInUserHive(UserHive& hive);
