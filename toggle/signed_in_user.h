#pragma once

// Whether the program runs as the account signed in to the desktop it was started on,
// whose autostart entry the user means. A standard user who starts it types an
// administrator's credentials, and it then runs as that administrator. The account of
// the desktop is the account of the shell window's process; without a shell window (a
// replaced shell, a service, a scheduled task) there is nothing to tell by, and the
// answer is yes. Where either account can't be read, the answer is no.
bool runsAsSignedInUser();
