#include "toggle/nobody_sees.h"

#include "toggle/own_session.h"

#include <windows.h>

#include <versionhelpers.h>

namespace {

// A service, a task set to run whether the user is signed in or not, or a deployment tool
// running as SYSTEM starts the program on a window station of its own, which nobody sees.
bool windowStationUnseen()
{
    USEROBJECTFLAGS flags = {};
    DWORD size = 0;
    return GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size) != FALSE &&
           (flags.dwFlags & WSF_VISIBLE) == 0;
}

// Since Vista, session 0 is the services' own and no user signs in to it, yet its WinSta0
// counts as visible: `psexec -s -i 0` and services marked interactive start programs
// there. Before Vista, session 0 is the console's, where the user sits.
bool inServicesSession()
{
    DWORD session = 0;
    return readOwnSession(session) && session == 0 && IsWindowsVistaOrGreater();
}

} // namespace

bool nobodyCanSeeABox()
{
    return windowStationUnseen() || inServicesSession();
}
