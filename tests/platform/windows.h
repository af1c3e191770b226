#pragma once
// Takes the place of the platform header in the native test build: the few types,
// constants and functions the program uses, served by the in-memory stand-in.

#include <cstdint>

#define WINAPI
#define FALSE 0

using BYTE = unsigned char;
using BOOL = int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using REGSAM = DWORD;
using HKEY = struct HKEY__*;
using HWND = struct HWND__*;
using HWINSTA = struct HWINSTA__*;
using HANDLE = void*;
using HMODULE = struct HINSTANCE__*;
using HLOCAL = void*;
using FARPROC = int (*)();
using PSID = void*;
struct SECURITY_ATTRIBUTES;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr UINT MB_OK = 0x00;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD SECURITY_MAX_SID_SIZE = 68;
constexpr DWORD LOAD_WITH_ALTERED_SEARCH_PATH = 0x8;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;
constexpr UINT MAX_PATH = 260;
constexpr int UOI_FLAGS = 1;
constexpr DWORD WSF_VISIBLE = 1;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
struct USEROBJECTFLAGS {
    BOOL fInherit;
    BOOL fReserved;
    DWORD dwFlags;
};
enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
enum SID_NAME_USE { SidTypeUser = 1 };

LONG RegOpenKeyExA(HKEY root, const char* subkey, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyExA(HKEY root, const char* subkey, DWORD reserved, char* keyClass, DWORD options, REGSAM access,
                     SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegCloseKey(HKEY key);
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style);
HWND GetShellWindow();
// As in Shift-JIS, the system code page of Japanese Windows.
char* CharPrevA(const char* start, const char* current);
DWORD GetLastError();
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
HWINSTA GetProcessWindowStation();
BOOL GetUserObjectInformationA(HANDLE object, int index, void* information, DWORD size, DWORD* needed);
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* data, DWORD size, DWORD* needed);
BOOL LookupAccountNameA(const char* system, const char* name, PSID sid, DWORD* sidSize, char* domain,
                        DWORD* domainSize, SID_NAME_USE* use);
HLOCAL LocalFree(HLOCAL memory);
BOOL CloseHandle(HANDLE handle);
// A Windows whose kernel32 has ProcessIdToSessionId alone of the functions newer than
// Windows 2000 that the program looks up, and one registry view; wtsapi32's functions are
// there once it is loaded.
HMODULE GetModuleHandleA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* name);
UINT GetSystemDirectoryA(char* buffer, UINT size);
HMODULE LoadLibraryExA(const char* name, HANDLE reserved, DWORD flags);
BOOL FreeLibrary(HMODULE library);
BOOL IsWow64Process(HANDLE process, BOOL* wow64);
BOOL ProcessIdToSessionId(DWORD processId, DWORD* session);
