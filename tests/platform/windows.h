#pragma once
// Takes the place of the platform header in the native test build: the few types,
// constants and functions the program uses, served by the in-memory stand-in.

#include <cstdint>

using BYTE = unsigned char;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using REGSAM = DWORD;
using HKEY = struct HKEY__*;
using HWND = struct HWND__*;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr UINT MB_OK = 0x00;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONINFORMATION = 0x40;

LONG RegOpenKeyExA(HKEY root, const char* subkey, DWORD options, REGSAM access, HKEY* result);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegCloseKey(HKEY key);
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style);
