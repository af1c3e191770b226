#pragma once

// Flips whether YarrowTide Desktop starts at the current user's logon and tells the
// user the outcome in one message box. Returns the process exit code, always 0.
int toggleAutostart();
