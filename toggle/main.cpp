#include "toggle/toggle_autostart.h"

#include <windows.h>

// Whatever the program is started with, each start flips the autostart entry once.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return toggleAutostart();
}
