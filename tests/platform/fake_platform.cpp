#include "fake_platform.h"

#include <sddl.h>
#include <versionhelpers.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fake {

bool NoCase::operator()(const std::string& a, const std::string& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

bool operator==(const Value& a, const Value& b)
{
    return a.type == b.type && a.data == b.data;
}

void PrintTo(const Value& value, std::ostream* out)
{
    *out << "type " << value.type << " \"";
    for (const char c : value.data) {
        if (c == '\0') {
            *out << "\\0";
        } else {
            *out << c;
        }
    }
    *out << '"';
}

bool operator==(const Box& a, const Box& b)
{
    return a.text == b.text && a.caption == b.caption && a.style == b.style;
}

void PrintTo(const Box& box, std::ostream* out)
{
    *out << '[' << box.caption << ", style " << box.style << "] " << box.text;
}

Platform& platform()
{
    static Platform state;
    return state;
}

void reset()
{
    platform() = Platform{};
}

std::string currentUserKey(const std::string& subkey)
{
    return "HKU\\" + platform().ownAccount + "\\" + subkey;
}

} // namespace fake

namespace {

using namespace std::string_literals;

const HWND kShellWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x20010));
const DWORD kShellProcessId = fake::Platform{}.shellProcessId;
const DWORD kOwnProcessId = 0x9c4;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(~static_cast<std::uintptr_t>(0));
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7c800000));
const HWINSTA kWindowStation = reinterpret_cast<HWINSTA>(static_cast<std::uintptr_t>(0x5c));
const char kSystemDirectory[] = "C:\\Windows\\system32";

template <typename Handle>
Handle newHandle()
{
    static std::uintptr_t lastHandle = 0x1000;
    return reinterpret_cast<Handle>(lastHandle += 4);
}

DWORD lastError = 0;

// Records the call, failing it where a test asked for that by its subject or, for a
// value of an open key, by the key's path and the value's name.
LONG record(std::string function, const std::string& subject, LONG result, const std::string& keyPath = "")
{
    auto& state = fake::platform();
    for (const auto& name : {function + ' ' + subject, function + ' ' + keyPath + '\\' + subject}) {
        const auto failure = state.failures.find(name);
        if (result == ERROR_SUCCESS && failure != state.failures.end()) {
            result = failure->second;
        }
    }
    state.calls.push_back({std::move(function), subject, result});
    lastError = result != ERROR_SUCCESS ? static_cast<DWORD>(result) : lastError;
    return result;
}

// HKEY_CURRENT_USER is the hive of the program's own account under HKEY_USERS.
std::string rootName(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? "HKLM"
           : root == HKEY_USERS       ? "HKU"
           : root == HKEY_CURRENT_USER ? "HKU\\" + fake::platform().ownAccount
                                       : "";
}

// The path of an open key, or empty for a closed or unknown handle.
std::string pathOf(HKEY key)
{
    const auto& open = fake::platform().openKeys;
    const auto found = open.find(key);
    return found == open.end() ? "" : found->second;
}

// What an open process or token handle is, or empty for an unknown one.
std::string kindOf(HANDLE handle)
{
    const auto& open = fake::platform().openHandles;
    const auto found = open.find(handle);
    return found == open.end() ? "" : found->second;
}

} // namespace

LONG RegOpenKeyExA(HKEY root, const char* subkey, DWORD, REGSAM, HKEY* result)
{
    auto& state = fake::platform();
    *result = nullptr;
    if (rootName(root).empty()) {
        return record("RegOpenKeyExA", subkey, ERROR_INVALID_HANDLE);
    }
    const auto key = state.keys.find(rootName(root) + '\\' + subkey);
    const LONG status = record("RegOpenKeyExA", subkey, key == state.keys.end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    if (status == ERROR_SUCCESS) {
        *result = newHandle<HKEY>();
        state.openKeys[*result] = key->first;
    }
    return status;
}

LONG RegCreateKeyExA(HKEY root, const char* subkey, DWORD, char*, DWORD, REGSAM, SECURITY_ATTRIBUTES*, HKEY* result,
                     DWORD*)
{
    auto& state = fake::platform();
    *result = nullptr;
    const LONG status = record("RegCreateKeyExA", subkey, rootName(root).empty() ? ERROR_INVALID_HANDLE : ERROR_SUCCESS);
    if (status == ERROR_SUCCESS) {
        const auto key = state.keys.try_emplace(rootName(root) + '\\' + subkey).first;
        *result = newHandle<HKEY>();
        state.openKeys[*result] = key->first;
    }
    return status;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    const char* const function = data == nullptr ? "RegQueryValueExA(size)" : "RegQueryValueExA(data)";
    const std::string path = pathOf(key);
    if (path.empty()) {
        return record(function, name, ERROR_INVALID_HANDLE);
    }
    const fake::Values& values = fake::platform().keys.at(path);
    const auto value = values.find(name);
    if (value == values.end()) {
        return record(function, name, ERROR_FILE_NOT_FOUND, path);
    }
    const std::string& bytes = value->second.data;
    const bool fits = data == nullptr || *size >= bytes.size();
    const LONG status = record(function, name, fits ? ERROR_SUCCESS : ERROR_MORE_DATA, path);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
        return status;
    }
    if (type != nullptr) {
        *type = value->second.type;
    }
    if (status == ERROR_SUCCESS && data != nullptr) {
        std::copy(bytes.begin(), bytes.end(), data);
    }
    *size = static_cast<DWORD>(bytes.size());
    if (data == nullptr && fake::platform().afterSizeProbe) {
        fake::platform().afterSizeProbe();
    }
    return status;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    const std::string path = pathOf(key);
    const LONG status = record("RegSetValueExA", name, path.empty() ? ERROR_INVALID_HANDLE : ERROR_SUCCESS, path);
    if (status == ERROR_SUCCESS) {
        fake::platform().keys.at(path)[name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
    }
    return status;
}

LONG RegDeleteValueA(HKEY key, const char* name)
{
    const std::string path = pathOf(key);
    if (path.empty()) {
        return record("RegDeleteValueA", name, ERROR_INVALID_HANDLE);
    }
    fake::Values& values = fake::platform().keys.at(path);
    const auto value = values.find(name);
    const LONG status = record("RegDeleteValueA", name, value == values.end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS, path);
    if (status == ERROR_SUCCESS) {
        values.erase(value);
    }
    return status;
}

LONG RegCloseKey(HKEY key)
{
    const bool open = fake::platform().openKeys.erase(key) == 1;
    return record("RegCloseKey", "", open ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT style)
{
    fake::platform().boxes.push_back({text, caption, style});
    record("MessageBoxA", caption, ERROR_SUCCESS);
    return 1; // IDOK
}

HWND GetShellWindow()
{
    const bool shell = !fake::platform().shellAccount.empty();
    record("GetShellWindow", "", shell ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    return shell ? kShellWindow : nullptr;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId)
{
    const bool shell =
        window == kShellWindow && record("GetWindowThreadProcessId", "shell", ERROR_SUCCESS) == ERROR_SUCCESS;
    *processId = shell ? fake::platform().shellProcessId : 0;
    return shell ? 1 : 0;
}

char* CharPrevA(const char* start, const char* current)
{
    const auto leads = [](unsigned char byte) { return (byte >= 0x81 && byte <= 0x9f) || byte >= 0xe0; };
    const char* previous = start;
    for (const char* c = start; c < current; c += leads(*c) && c + 1 < current ? 2 : 1) {
        previous = c;
    }
    return const_cast<char*>(previous);
}

DWORD GetLastError()
{
    return lastError;
}

HANDLE GetCurrentProcess()
{
    return kCurrentProcess;
}

DWORD GetCurrentProcessId()
{
    return kOwnProcessId;
}

// The session of the program's own process alone.
BOOL ProcessIdToSessionId(DWORD processId, DWORD* session)
{
    if (record("ProcessIdToSessionId", "own", processId == kOwnProcessId ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER) !=
        ERROR_SUCCESS) {
        return FALSE;
    }
    *session = fake::platform().session;
    return 1;
}

bool IsWindowsVistaOrGreater()
{
    return fake::platform().vistaOrLater;
}

HWINSTA GetProcessWindowStation()
{
    return kWindowStation;
}

// The flags of the program's window station alone, which everyone sees: the Wine tests show
// one that nobody sees for real.
BOOL GetUserObjectInformationA(HANDLE object, int index, void* information, DWORD size, DWORD*)
{
    const bool flags = object == kWindowStation && index == UOI_FLAGS && size == sizeof(USEROBJECTFLAGS);
    if (record("GetUserObjectInformationA", "station", flags ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER) !=
        ERROR_SUCCESS) {
        return FALSE;
    }
    static_cast<USEROBJECTFLAGS*>(information)->dwFlags = WSF_VISIBLE;
    return 1;
}

HANDLE OpenProcess(DWORD access, BOOL, DWORD processId)
{
    if (record("OpenProcess", std::to_string(access),
               processId == kShellProcessId ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER) != ERROR_SUCCESS) {
        return nullptr;
    }
    const auto process = newHandle<HANDLE>();
    fake::platform().openHandles[process] = "process shell";
    if (fake::platform().afterOpenProcess) {
        fake::platform().afterOpenProcess();
    }
    return process;
}

BOOL OpenProcessToken(HANDLE process, DWORD, HANDLE* token)
{
    const bool shell = kindOf(process) == "process shell";
    if (record("OpenProcessToken", shell ? "shell" : "", shell ? ERROR_SUCCESS : ERROR_INVALID_HANDLE) !=
        ERROR_SUCCESS) {
        return FALSE;
    }
    *token = newHandle<HANDLE>();
    fake::platform().openHandles[*token] = "token shell";
    return 1;
}

// Gives the account's SID as its text, after the TOKEN_USER that points at it.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS, void* data, DWORD, DWORD*)
{
    const bool shell = kindOf(token) == "token shell";
    if (record("GetTokenInformation", shell ? "shell" : "", shell ? ERROR_SUCCESS : ERROR_INVALID_HANDLE) !=
        ERROR_SUCCESS) {
        return FALSE;
    }
    const std::string& account = fake::platform().shellAccount;
    char* const sid = static_cast<char*>(data) + sizeof(TOKEN_USER);
    std::memcpy(sid, account.c_str(), account.size() + 1);
    static_cast<TOKEN_USER*>(data)->User = {sid, 0};
    return 1;
}

BOOL ConvertSidToStringSidA(PSID sid, char** text)
{
    if (record("ConvertSidToStringSidA", static_cast<const char*>(sid), ERROR_SUCCESS) != ERROR_SUCCESS) {
        return FALSE;
    }
    *text = strdup(static_cast<const char*>(sid));
    return 1;
}

// Memory leaked, freed twice, or never allocated is the sanitizer's to report.
HLOCAL LocalFree(HLOCAL memory)
{
    std::free(memory);
    return nullptr;
}

BOOL CloseHandle(HANDLE handle)
{
    const bool open = fake::platform().openHandles.erase(handle) == 1;
    return record("CloseHandle", "", open ? ERROR_SUCCESS : ERROR_INVALID_HANDLE) == ERROR_SUCCESS;
}

HMODULE GetModuleHandleA(const char*)
{
    return kKernel32;
}

UINT GetSystemDirectoryA(char* buffer, UINT size)
{
    return static_cast<UINT>(std::snprintf(buffer, size, "%s", kSystemDirectory));
}

// Loads wtsapi32 from the system directory: by name with the flag that limits the search
// to it, or by its full path there. By name without that flag, the search looks in the
// program's folder first, and finds there a planted copy that exports nothing.
HMODULE LoadLibraryExA(const char* name, HANDLE, DWORD flags)
{
    const bool planted = name == "wtsapi32.dll"s && flags != LOAD_LIBRARY_SEARCH_SYSTEM32;
    const bool fromSystem = name == "wtsapi32.dll"s ? !planted
                                                   : name == kSystemDirectory + "\\wtsapi32.dll"s &&
                                                         flags == LOAD_WITH_ALTERED_SEARCH_PATH;
    if (!planted && record("LoadLibraryExA", name, fromSystem ? ERROR_SUCCESS : ERROR_MOD_NOT_FOUND) != ERROR_SUCCESS) {
        return nullptr;
    }
    const auto library = newHandle<HMODULE>();
    fake::platform().openHandles[library] = planted ? "library planted" : "library wtsapi32";
    return library;
}

BOOL FreeLibrary(HMODULE library)
{
    return fake::platform().openHandles.erase(library) == 1 ? 1 : FALSE;
}

// Lists the program's own process, then the shell's where it is listed.
BOOL WTSEnumerateProcessesA(HANDLE server, DWORD, DWORD version, WTS_PROCESS_INFOA** processes, DWORD* count)
{
    auto& state = fake::platform();
    const bool valid = server == WTS_CURRENT_SERVER_HANDLE && version == 1;
    if (record("WTSEnumerateProcessesA", "session", valid ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER) != ERROR_SUCCESS) {
        return FALSE;
    }
    PSID const shellSid = state.shellListing != fake::Listing::withoutAccount ? &state.shellAccount[0] : nullptr;
    const DWORD shellSession = state.session + (state.shellListing == fake::Listing::inAnotherSession ? 1 : 0);
    const WTS_PROCESS_INFOA listed[] = {{state.session, kOwnProcessId, nullptr, &state.ownAccount[0]},
                                        {shellSession, kShellProcessId, nullptr, shellSid}};
    // Only what it lists, so that the sanitizer sees a read past the list.
    *count = state.shellListing == fake::Listing::absent ? 1 : 2;
    *processes = static_cast<WTS_PROCESS_INFOA*>(std::malloc(*count * sizeof listed[0]));
    std::copy(listed, listed + *count, *processes);
    return 1;
}

// Names the session's user by the last part of their SID, in the domain YARROW; only for
// the program's own session on its own server.
BOOL WTSQuerySessionInformationA(HANDLE server, DWORD session, WTS_INFO_CLASS kind, char** text, DWORD*)
{
    if (server != WTS_CURRENT_SERVER_HANDLE || session != WTS_CURRENT_SESSION) {
        return FALSE;
    }
    const std::string& account = fake::platform().sessionAccount;
    *text = strdup(kind == WTSDomainName ? "YARROW" : account.c_str() + account.rfind('-') + 1);
    return 1;
}

// Maps "DOMAIN\<name>" to the SID "S-1-5-21-<name>", as its text.
BOOL LookupAccountNameA(const char*, const char* name, PSID sid, DWORD*, char*, DWORD*, SID_NAME_USE*)
{
    std::snprintf(static_cast<char*>(sid), SECURITY_MAX_SID_SIZE, "S-1-5-21-%s", std::strchr(name, '\\') + 1);
    return record("LookupAccountNameA", name, ERROR_SUCCESS) == ERROR_SUCCESS;
}

// As LocalFree, the sanitizer's to check.
void WTSFreeMemory(void* memory)
{
    std::free(memory);
}

FARPROC GetProcAddress(HMODULE library, const char* name)
{
    void* const function =
        library == kKernel32 && name == "ProcessIdToSessionId"s ? reinterpret_cast<void*>(&ProcessIdToSessionId)
        : kindOf(library) != "library wtsapi32"                 ? nullptr
        : name == "WTSEnumerateProcessesA"s                     ? reinterpret_cast<void*>(&WTSEnumerateProcessesA)
        : name == "WTSFreeMemory"s                              ? reinterpret_cast<void*>(&WTSFreeMemory)
        : name == "WTSQuerySessionInformationA"s                ? reinterpret_cast<void*>(&WTSQuerySessionInformationA)
                                                                : nullptr;
    return reinterpret_cast<FARPROC>(function);
}
