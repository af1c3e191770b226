#include "toggle/library_function.h"
#include "toggle/toggle_autostart.h"

#include <windows.h>

namespace {

// The program runs elevated, often from Downloads. For a DLL that isn't a known system
// DLL, Windows looks in the program's own folder first, and showing a message box loads
// such DLLs (uxtheme.dll among them): one planted beside the program would run with its
// rights. So every later load searches the system directory alone.
void limitDllSearchToSystemDirectory()
{
    // Windows 8 has it, and Windows 7 and Vista with update KB2533623.
    const auto setDefaultDllDirectories =
        kernel32Function<decltype(&::SetDefaultDllDirectories)>("SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) {
        return;
    }
    // Windows XP SP1 and later have it: it takes at least the current directory out of the search.
    const auto setDllDirectory = kernel32Function<decltype(&::SetDllDirectoryA)>("SetDllDirectoryA");
    if (setDllDirectory != nullptr) {
        setDllDirectory("");
    }
}

// Whether nobody can see the program's window station, and so its message box: a
// service, a task set to run whether the user is signed in or not, or a deployment tool
// running as SYSTEM starts it on one of its own, where a box waits for ever. False where
// Windows won't say.
bool windowStationUnseen()
{
    USEROBJECTFLAGS flags = {};
    DWORD size = 0;
    return GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size) != FALSE &&
           (flags.dwFlags & WSF_VISIBLE) == 0;
}

} // namespace

// Whatever the program is started with, each start flips the autostart entry once.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    limitDllSearchToSystemDirectory();
    // Where nobody can answer a box, the program changes nothing, and its exit code is
    // the only word it can leave: 1, for nothing done.
    if (windowStationUnseen()) {
        return 1;
    }
    return toggleAutostart();
}
