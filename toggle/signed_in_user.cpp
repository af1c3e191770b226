#include "toggle/signed_in_user.h"

#include "registry/registry_key.h"
#include "toggle/library_function.h"
#include "toggle/own_session.h"
#include "toggle/owned_handle.h"

#include <windows.h>

#include <sddl.h>
#include <wtsapi32.h>

#include <algorithm>
#include <memory>

namespace {

// The account of a token: its TOKEN_USER, then room for the largest SID, which it points at.
struct TokenAccount {
    alignas(TOKEN_USER) BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];

    PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(bytes)->User.Sid; }
};

// Reads the token user of `process` into `account`; false where it can't be read.
bool readTokenAccount(HANDLE process, TokenAccount& account)
{
    OwnedHandle token;
    DWORD size = 0;
    return OpenProcessToken(process, TOKEN_QUERY, token.receive()) != FALSE &&
           GetTokenInformation(token.get(), TokenUser, account.bytes, sizeof account.bytes, &size) != FALSE;
}

// Windows before Vista doesn't know the limited right and refuses it; there the full
// query right is what it offers.
HANDLE openForQuery(DWORD processId)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    return process != nullptr ? process : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
}

// `sid` as text, "S-1-5-21-…", the name of its hive under HKEY_USERS; false where it
// can't be converted.
bool readSidText(PSID sid, std::string& text)
{
    OwnedLocalText converted;
    if (ConvertSidToStringSidA(sid, converted.receive()) == FALSE) {
        return false;
    }
    text = converted.get();
    return true;
}

// Loads the system's own copy of the DLL `name`, and its dependencies from the system
// directory too: one that isn't a known DLL, loaded by name, may come from the program's
// folder.
HMODULE loadSystemLibrary(const std::string& name)
{
    // Windows 7, Vista and older without update KB2533623 reject the flag.
    const HMODULE library = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library != nullptr) {
        return library;
    }
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    // With a full path, the search for its dependencies starts in its own folder.
    return LoadLibraryExA((std::string(directory, length) + '\\' + name).c_str(), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The account of the process `processId` as the process list gives it: Windows gives an
// administrator each process's account there without opening the process. The list holds
// every session's processes, and a process of another session is never the shell of this
// program's desktop.
bool readListedAccount(DWORD processId, std::string& sid)
{
    DWORD ownSession = 0;
    if (!readOwnSession(ownSession)) {
        return false;
    }
    const OwnedLibrary wtsapi(loadSystemLibrary("wtsapi32.dll"));
    if (wtsapi.get() == nullptr) {
        return false;
    }
    const auto enumerate = libraryFunction<decltype(&::WTSEnumerateProcessesA)>(wtsapi.get(), "WTSEnumerateProcessesA");
    const auto freeMemory = libraryFunction<decltype(&::WTSFreeMemory)>(wtsapi.get(), "WTSFreeMemory");
    WTS_PROCESS_INFOA* processes = nullptr;
    DWORD count = 0;
    if (enumerate == nullptr || freeMemory == nullptr ||
        enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count) == FALSE) {
        return false;
    }
    const std::unique_ptr<WTS_PROCESS_INFOA, decltype(freeMemory)> list(processes, freeMemory);
    const WTS_PROCESS_INFOA* const first = list.get();
    const WTS_PROCESS_INFOA* const end = first + count;
    const auto found = std::find_if(first, end, [processId, ownSession](const WTS_PROCESS_INFOA& process) {
        return process.ProcessId == processId && process.SessionId == ownSession;
    });
    return found != end && found->pUserSid != nullptr && readSidText(found->pUserSid, sid);
}

// The process of the desktop's shell window, or 0 where there is none.
DWORD shellProcessId()
{
    const HWND shell = GetShellWindow();
    DWORD processId = 0;
    if (shell != nullptr) {
        GetWindowThreadProcessId(shell, &processId);
    }
    return processId;
}

// The account of the shell's process `processId`, from its token; where Windows refuses a
// look at that (a standard user's Explorer need not grant another account access to its
// process or token), from the process list. Once a process has ended, its ID may name
// another, a service's child say; an open handle keeps the ID its process's, so a shell
// window that still names it after the open names that process. Where the shell changed
// hands in between, as when Explorer restarts, nobody is named.
bool readShellAccount(DWORD processId, std::string& sid)
{
    const OwnedHandle process(openForQuery(processId));
    const DWORD refused = process.get() == nullptr ? GetLastError() : ERROR_SUCCESS;
    if ((refused != ERROR_SUCCESS && refused != ERROR_ACCESS_DENIED) || shellProcessId() != processId) {
        return false;
    }
    TokenAccount account;
    if (process.get() != nullptr && readTokenAccount(process.get(), account)) {
        return readSidText(account.sid(), sid);
    }
    return readListedAccount(processId, sid);
}

// The account of the user signed in to the program's session, by the name the session
// gives it: what tells the desktop's user where no shell window does.
bool readSessionAccount(std::string& sid)
{
    const OwnedLibrary wtsapi(loadSystemLibrary("wtsapi32.dll"));
    if (wtsapi.get() == nullptr) {
        return false;
    }
    const auto query =
        libraryFunction<decltype(&::WTSQuerySessionInformationA)>(wtsapi.get(), "WTSQuerySessionInformationA");
    const auto freeMemory = libraryFunction<decltype(&::WTSFreeMemory)>(wtsapi.get(), "WTSFreeMemory");
    if (query == nullptr || freeMemory == nullptr) {
        return false;
    }
    const auto readSessionText = [query, freeMemory](WTS_INFO_CLASS kind, std::string& text) {
        char* buffer = nullptr;
        DWORD size = 0;
        if (query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, kind, &buffer, &size) == FALSE) {
            return false;
        }
        const std::unique_ptr<char, decltype(freeMemory)> owned(buffer, freeMemory);
        text = owned != nullptr ? owned.get() : "";
        return true;
    };
    std::string domain;
    std::string user;
    // A session that no user is signed in to has no user name; "DOMAIN\" alone would
    // name the domain.
    if (!readSessionText(WTSDomainName, domain) || !readSessionText(WTSUserName, user) || user.empty()) {
        return false;
    }
    const std::string name = domain.empty() ? user : domain + '\\' + user;
    alignas(DWORD) BYTE account[SECURITY_MAX_SID_SIZE];
    DWORD accountSize = sizeof account;
    char accountDomain[256];
    DWORD accountDomainSize = sizeof accountDomain;
    SID_NAME_USE use;
    return LookupAccountNameA(nullptr, name.c_str(), account, &accountSize, accountDomain, &accountDomainSize,
                              &use) != FALSE &&
           readSidText(account, sid);
}

} // namespace

bool findSignedInUserHive(UserHive& hive)
{
    const DWORD shell = shellProcessId();
    std::string sid;
    // No shell window, or one that closed since it was asked for.
    const bool named = shell != 0 ? readShellAccount(shell, sid) : readSessionAccount(sid);
    RegistryKey userHive;
    // A hive is loaded while its user is signed in.
    if (!named || userHive.open(HKEY_USERS, sid, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
        return false;
    }
    hive = {sid};
    return true;
}
