// The least a Win32 program can be that shows one message box: no C run time, no
// resources but the product's manifest, one call and an exit. The benchmark measures the
// program against it.
#include <windows.h>

extern "C" void start()
{
    MessageBoxA(nullptr, "YarrowTide Desktop will start up automatically from now on.", "Info",
                MB_OK | MB_ICONINFORMATION);
    ExitProcess(0);
}
