#pragma once

// Flips whether YarrowTide Desktop starts at the signed-in user's logon and tells the
// user the outcome, or why nothing changed, in one message box. Returns the process exit
// code: 0 once the box is answered; 1 at once, with nothing read or changed, where nobody
// could see it.
int toggleAutostart();
