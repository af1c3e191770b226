#pragma once
// Takes the place of the platform header in the native test build.

bool IsWindowsVistaOrGreater();
