#include "toggle/library_function.h"
#include "toggle/toggle_autostart.h"

#include <windows.h>

namespace {

// Where User Account Control is on, the program runs elevated, often from Downloads. For
// a DLL that isn't a known system DLL, Windows looks in the program's own folder first,
// and showing a message box loads such DLLs (uxtheme.dll among them): one planted beside
// the program would run with its rights. So every later load searches the system
// directory alone.
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

} // namespace

// Whatever the program is started with, it does the same.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    limitDllSearchToSystemDirectory();
    return toggleAutostart();
}
