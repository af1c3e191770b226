#pragma once

// Whether nobody can see a message box of the program, and so answer it: on a window
// station that isn't visible, or in session 0 since Vista. False where Windows won't say.
[[nodiscard]] bool nobodyCanSeeABox();
