#include "toggle/own_session.h"

#include "toggle/library_function.h"

bool readOwnSession(DWORD& session)
{
    // Windows XP and later have it; Windows 2000's kernel32 may not.
    const auto processIdToSessionId = kernel32Function<decltype(&::ProcessIdToSessionId)>("ProcessIdToSessionId");
    return processIdToSessionId != nullptr && processIdToSessionId(GetCurrentProcessId(), &session) != FALSE;
}
