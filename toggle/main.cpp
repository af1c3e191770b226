#include "toggle/toggle_autostart.h"

#include <windows.h>

namespace {

// The program runs elevated, often from Downloads. For a DLL that isn't a known system
// DLL, Windows looks in the program's own folder first, and showing a message box loads
// such DLLs (uxtheme.dll among them): one planted beside the program would run with its
// rights. So every later load searches the system directory alone.
void limitDllSearchToSystemDirectory()
{
    // Windows 7 without update KB2533623, and older, lack it; looked up so that the
    // image still loads there.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories == nullptr || setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) == FALSE) {
        // Takes at least the current directory out of the search.
        SetDllDirectoryA("");
    }
}

} // namespace

// Whatever the program is started with, each start flips the autostart entry once.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    limitDllSearchToSystemDirectory();
    return toggleAutostart();
}
