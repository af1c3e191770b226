#pragma once

#include <windows.h>

// The function `name` of the loaded DLL `library`, or null where it lacks it. `Function`
// is the type of the SDK's declaration, decltype(&::Name), so that the calling
// convention is the SDK's too.
template <typename Function>
Function libraryFunction(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The kernel32 function `name`, or null where this Windows lacks it: how the program
// calls what Windows 2000 lacks, since the loader refuses an image that imports a
// function the system doesn't export.
template <typename Function>
Function kernel32Function(const char* name)
{
    return libraryFunction<Function>(GetModuleHandleA("kernel32.dll"), name);
}
