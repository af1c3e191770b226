#pragma once
// Takes the place of the platform header in the native test build.

#include <windows.h>

#define WTS_CURRENT_SERVER_HANDLE (static_cast<HANDLE>(nullptr))

struct WTS_PROCESS_INFOA {
    DWORD SessionId;
    DWORD ProcessId;
    char* pProcessName;
    PSID pUserSid;
};

BOOL WTSEnumerateProcessesA(HANDLE server, DWORD reserved, DWORD version, WTS_PROCESS_INFOA** processes, DWORD* count);
void WTSFreeMemory(void* memory);
