#include "toggle/signed_in_user.h"

#include "toggle/owned_handle.h"

#include <windows.h>

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

} // namespace

bool runsAsSignedInUser()
{
    const HWND shell = GetShellWindow();
    DWORD shellProcessId = 0;
    if (shell != nullptr) {
        GetWindowThreadProcessId(shell, &shellProcessId);
    }
    // No shell window, or one that closed since it was asked for.
    if (shellProcessId == 0) {
        return true;
    }
    const OwnedHandle shellProcess(openForQuery(shellProcessId));
    TokenAccount shellAccount;
    TokenAccount ownAccount;
    return shellProcess.get() != nullptr && readTokenAccount(shellProcess.get(), shellAccount) &&
           readTokenAccount(GetCurrentProcess(), ownAccount) && EqualSid(shellAccount.sid(), ownAccount.sid()) != FALSE;
}
