#pragma once

#include <windows.h>

// The registry views of the Windows the program runs on, as the flags that open a key in
// one of them. Both are 0 on 32-bit Windows, which has one view (and Windows 2000
// rejects the flags).
struct RegistryViews {
    // The view that the program's own reads don't reach: the 64-bit one for the x86
    // build, the 32-bit one for the x86-64 build.
    REGSAM other = 0;
    // The view of 64-bit programs, Explorer's.
    REGSAM sixtyFourBit = 0;
};

RegistryViews registryViews();

// The view that the program's own reads reach: that of its own bitness, by no flag.
constexpr REGSAM kOwnRegistryView = 0;
