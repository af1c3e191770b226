#pragma once
// Takes the place of the platform header in the native test build.

#include <windows.h>

BOOL ConvertSidToStringSidA(PSID sid, char** text);
