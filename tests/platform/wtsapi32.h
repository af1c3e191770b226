#pragma once
// Takes the place of the platform header in the native test build.

#include <windows.h>

#define WTS_CURRENT_SERVER_HANDLE (static_cast<HANDLE>(nullptr))
constexpr DWORD WTS_CURRENT_SESSION = ~DWORD{0};
enum WTS_INFO_CLASS { WTSUserName = 5, WTSDomainName = 7 };

struct WTS_PROCESS_INFOA {
    DWORD SessionId;
    DWORD ProcessId;
    char* pProcessName;
    PSID pUserSid;
};

BOOL WTSEnumerateProcessesA(HANDLE server, DWORD reserved, DWORD version, WTS_PROCESS_INFOA** processes, DWORD* count);
BOOL WTSQuerySessionInformationA(HANDLE server, DWORD session, WTS_INFO_CLASS kind, char** text, DWORD* size);
void WTSFreeMemory(void* memory);
