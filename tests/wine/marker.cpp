// Leaves a mark each time it is loaded as a DLL or started as a program: its own path,
// as a value of HKCU\Software\Yarrowtide Tests\Marks. The end-to-end tests plant it as a
// DLL beside the program, and install it as the product that a logon starts.
#include <windows.h>

namespace {

void leaveMark(HMODULE self)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(self, path, MAX_PATH);
    HKEY marks = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Yarrowtide Tests\\Marks", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &marks, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(marks, path, 0, REG_SZ, nullptr, 0);
        RegCloseKey(marks);
    }
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        leaveMark(self);
    }
    return TRUE;
}

int WINAPI WinMain(HINSTANCE self, HINSTANCE, LPSTR, int)
{
    leaveMark(self);
    return 0;
}
