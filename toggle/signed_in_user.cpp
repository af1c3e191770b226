#include "toggle/signed_in_user.h"

#include "toggle/owned_handle.h"

#include <windows.h>

#include <memory>
#include <new>

namespace {

// The token user of `process`, or null where it can't be read.
std::unique_ptr<BYTE[]> tokenUserOf(HANDLE process)
{
    OwnedHandle token;
    if (OpenProcessToken(process, TOKEN_QUERY, token.receive()) == FALSE) {
        return nullptr;
    }
    DWORD size = 0;
    // Fails with ERROR_INSUFFICIENT_BUFFER, and gives the size.
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER)) {
        return nullptr;
    }
    std::unique_ptr<BYTE[]> user(new (std::nothrow) BYTE[size]);
    if (!user || GetTokenInformation(token.get(), TokenUser, user.get(), size, &size) == FALSE) {
        return nullptr;
    }
    return user;
}

PSID sidOf(const std::unique_ptr<BYTE[]>& tokenUser)
{
    return reinterpret_cast<const TOKEN_USER*>(tokenUser.get())->User.Sid;
}

// Windows before Vista doesn't know the limited right and refuses it; there the full
// query right is what it offers.
HANDLE openForQuery(DWORD processId)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    return process != nullptr ? process : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
}

} // namespace

bool runsAsSignedInUser()
{
    const HWND shell = GetShellWindow();
    if (shell == nullptr) {
        return true;
    }
    DWORD shellProcessId = 0;
    GetWindowThreadProcessId(shell, &shellProcessId);
    const OwnedHandle shellProcess(openForQuery(shellProcessId));
    if (shellProcess.get() == nullptr) {
        return false;
    }
    const auto shellUser = tokenUserOf(shellProcess.get());
    const auto ownUser = tokenUserOf(GetCurrentProcess());
    return shellUser && ownUser && EqualSid(sidOf(shellUser), sidOf(ownUser)) != FALSE;
}
