#include "toggle/toggle_autostart.h"

#include "registry/registry_key.h"
#include "toggle/nobody_sees.h"
#include "toggle/registry_views.h"
#include "toggle/run_list_policy.h"
#include "toggle/signed_in_user.h"

#include <windows.h>

#include <string>

namespace {

const char kDisplayName[] = "YarrowTide Desktop";
const char kExecutableName[] = "YarrowTideDesktop.exe";
const char kMakerKey[] = "Software\\Yarrowtide";
const char kInstallPathValue[] = "path";
const char kAutostartKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Task Manager and Settings switch a Run entry off, without removing it, by a record of
// the same name here; a record outlives its entry.
const char kStartupApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
// Reading and setting values is all the entry needs.
const REGSAM kAutostartKeyAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

void showError(const std::string& text)
{
    MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
}

void showInfo(const std::string& text)
{
    MessageBoxA(nullptr, text.c_str(), "Info", MB_OK | MB_ICONINFORMATION);
}

// Windows reads the program of an unquoted command line up to its first space, so
// "C:\Program Files\..." would start C:\Program.exe at every logon if one were planted.
std::string commandLineFor(const std::string& executablePath)
{
    if (executablePath.find(' ') == std::string::npos) {
        return executablePath;
    }
    return '"' + executablePath + '"';
}

// The install directory recorded in `view` of the maker key, or empty where none can be read.
std::string installDirectoryIn(RegistryKey& key, REGSAM view)
{
    std::string directory;
    // A failed open leaves the key closed, and then the read fails; a failed read leaves
    // the directory empty.
    (void)key.open(HKEY_LOCAL_MACHINE, kMakerKey, KEY_QUERY_VALUE | view);
    (void)key.readString(kInstallPathValue, directory);
    return directory;
}

// Removes the startup record named `name` from the hive `user`, so that no record left by
// Task Manager keeps a new entry from starting. True if no such record is left; the key
// is never created.
[[nodiscard]] bool removeStartupRecord(const UserHive& user, const std::string& name)
{
    RegistryKey records;
    // Removing a value needs no more, and a key may grant the user no more.
    const LONG opened = records.open(HKEY_USERS, user.path(kStartupApprovedKey), KEY_SET_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (opened != ERROR_SUCCESS) {
        return false;
    }
    const LONG removed = records.deleteValue(name);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

} // namespace

int toggleAutostart()
{
    // A box nobody can answer waits for ever. The exit code is then the only word the
    // program can leave: 1, for nothing done.
    if (nobodyCanSeeABox()) {
        return 1;
    }
    const std::string displayName = kDisplayName;
    const std::string executableName = kExecutableName;
    const RegistryViews views = registryViews();

    RegistryKey key;
    std::string installPath = installDirectoryIn(key, kOwnRegistryView);
    // An installer of the other bitness records the directory in its own view alone,
    // which this program's reads don't reach by themselves: a 64-bit one, for the x86 build.
    if (installPath.empty() && views.other != 0) {
        installPath = installDirectoryIn(key, views.other);
    }
    // An empty directory would point the entry at the root of the current drive.
    if (installPath.empty()) {
        showError("Could not find the path on which " + displayName + " is installed. No changes will be made.");
        return 0;
    }
    key.close();

    // The last character, not the last byte: in a double-byte code page, Shift-JIS or Big5
    // before Windows 10 1903's UTF-8, a character's second byte may be 0x5C.
    const char* const end = installPath.c_str() + installPath.size();
    const char* const last = CharPrevA(installPath.c_str(), end);
    if (std::string(last, end) != "\\") {
        installPath += '\\';
    }
    installPath += executableName;

    UserHive user;
    if (!findSignedInUserHive(user)) {
        showError("Could not change the autostart entry of " + displayName +
                  ": the settings of the user who is signed in could not be reached. No changes were made.");
        return 0;
    }

    // "Not changes" is this message's wording from the start, kept on purpose: leave it uncorrected.
    const std::string runKeyRefused = "Failed opening the windows autorun registry. Not changes will be made.";
    const std::string runKey = user.path(kAutostartKey);
    // A new profile may have no Run key yet; it is made only to write the entry.
    const LONG opened = key.open(HKEY_USERS, runKey, kAutostartKeyAccess);
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
        showError(runKeyRefused);
        return 0;
    }

    // An entry that can't be read counts as absent, as does one with empty data.
    std::string entry;
    (void)key.readString(displayName, entry);
    const bool wasPresent = !entry.empty();
    // Windows would start no entry at logon, whatever the program wrote.
    if (!wasPresent && legacyRunListDisabled(views.sixtyFourBit, user)) {
        showError("Could not change the autostart entry of " + displayName +
                  ": a policy on this computer keeps programs from starting up automatically. No changes were made.");
        return 0;
    }
    bool changed = false;
    if (wasPresent) {
        changed = key.deleteValue(displayName) == ERROR_SUCCESS;
        // With the entry gone the product won't start, whether the record goes or not.
        if (changed) {
            (void)removeStartupRecord(user, displayName);
        }
    } else if (removeStartupRecord(user, displayName)) {
        if (opened == ERROR_FILE_NOT_FOUND && key.create(HKEY_USERS, runKey, kAutostartKeyAccess) != ERROR_SUCCESS) {
            showError(runKeyRefused);
            return 0;
        }
        changed = key.writeString(displayName, commandLineFor(installPath));
    }
    if (!changed) {
        showError("Could not change the autostart entry of " + displayName + ". No changes were made.");
    } else if (wasPresent) {
        showInfo(displayName + " will not start up automatically anymore.");
    } else {
        showInfo(displayName + " will start up automatically from now on.");
    }
    return 0;
}
