#pragma once

#include <windows.h>

// The kernel32 function `name`, or null where this Windows lacks it: how the program
// calls what Windows 2000 lacks, since the loader refuses an image that imports a
// function the system doesn't export. `Function` is the type of the SDK's declaration,
// decltype(&::Name), so that the calling convention is the SDK's too.
template <typename Function>
Function kernel32Function(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}
