#include "toggle/toggle_autostart.h"

#include "registry/registry_key.h"

#include <windows.h>

#include <string>

namespace {

const char kDisplayName[] = "YarrowTide Desktop";
const char kExecutableName[] = "YarrowTideDesktop.exe";
const char kMakerKey[] = "Software\\Yarrowtide";
const char kInstallPathValue[] = "path";
const char kAutostartKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void showError(const std::string& text)
{
    MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
}

void showInfo(const std::string& text)
{
    MessageBoxA(nullptr, text.c_str(), "Info", MB_OK | MB_ICONINFORMATION);
}

// Windows reads an unquoted command line with a space up to the space first, so
// "C:\Program Files\..." would start C:\Program.exe at every logon if one were planted.
std::string commandLineFor(const std::string& executablePath)
{
    if (executablePath.find(' ') == std::string::npos) {
        return executablePath;
    }
    return '"' + executablePath + '"';
}

} // namespace

int toggleAutostart()
{
    const std::string displayName = kDisplayName;
    const std::string executableName = kExecutableName;
    std::string installPath;

    RegistryKey key;
    // A failed open leaves the key closed, and then the read below fails.
    key.open(HKEY_LOCAL_MACHINE, kMakerKey);
    // An empty directory would point the entry at the root of the current drive.
    if (!key.readString(kInstallPathValue, installPath) || installPath.empty()) {
        showError("Could not find the path on which " + displayName + " is installed. No changes will be made.");
        return 0;
    }
    key.close();

    if (installPath.back() != '\\') {
        installPath += '\\';
    }
    installPath += executableName;

    if (!key.open(HKEY_CURRENT_USER, kAutostartKey)) {
        showError("Failed opening the windows autorun registry. Not changes will be made.");
        return 0;
    }

    // An entry that can't be read counts as absent, as does one with empty data.
    std::string entry;
    key.readString(displayName, entry);
    const bool wasPresent = !entry.empty();
    const bool changed =
        wasPresent ? key.deleteValue(displayName) : key.writeString(displayName, commandLineFor(installPath));
    if (!changed) {
        showError("Could not change the autostart entry of " + displayName + ". No changes were made.");
    } else if (wasPresent) {
        showInfo(displayName + " will not start up automatically anymore.");
    } else {
        showInfo(displayName + " will start up automatically from now on.");
    }
    return 0;
}
