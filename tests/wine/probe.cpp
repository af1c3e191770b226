// Seeds and reads back the registry byte for byte, and runs a program while answering
// its message boxes, for the end-to-end tests under Wine. It reads one command per
// line from standard input, fields separated by tabs:
//   create  ROOT KEY                 create KEY
//   set     ROOT KEY NAME TYPE HEX   create KEY, then store HEX as the value's raw data
//   delete  ROOT KEY                 delete KEY with its subkeys
//   refuse  ROOT KEY RIGHTS          let everyone do RIGHTS (SDDL, as KR) to KEY, and no more
//   dump    ROOT KEY                 print "key KEY", then "value KEY NAME TYPE HEX" per
//                                    value, and the same for each subkey; or "missing KEY"
//   run     EXE [ARGUMENT]           print "thread ID", "box CAPTION TEXT BUTTON-CLASS CONTROLS" per
//                                    box, CONTROLS being the paths of every comctl32.dll loaded in
//                                    the box's process, joined by "|", and "exit CODE MICROSECONDS"
//                                    with the time from start to exit
//   hidden  EXE                      run EXE as run does, on a new window station, which
//                                    nobody sees, as a service's
//   desktop EXE                      run EXE as run does, on a new desktop of the probe's
//                                    window station, which has no shell window
//   shell                            make a window of the probe's the shell window, as
//                                    Explorer's is on Windows (Wine has none of its own);
//                                    where one is held already, Explorer's, keep that
//   load    DLL                      load DLL by name, by the search a program gets by default
//   as      USER PASSWORD COMMAND    as USER, with USER's hive loaded, run COMMAND on the
//                                    probe's desktop, answer the boxes of any process, and
//                                    print them and COMMAND's exit code as run does
//   user                             print "user SID", the SID of the probe's account, the
//                                    one signed in to the session
//   logon                            run the current user's Run entries as a logon does
//                                    (wineboot), and wait until all it started have ended
//   trust   FILE                     print "trust FILE RESULT", what WinVerifyTrust says of
//                                    FILE's Authenticode signature, in hex
//   facts                            print what this Windows is: "windows PRODUCT VERSION BUILD",
//                                    "session N", "integrity LEVEL", "uac ENABLELUA CONSENT FILTER"
//                                    (each "none" where unset), "shell PID IMAGE ACCOUNT" or
//                                    "shell none", and "station visible" or "station not visible"
// ROOT is HKCU, HKLM (the registry view a program of the probe's own bitness reads, as
// the program under test does), HKLM-other (the other view, in a 64-bit prefix) or
// HKLM-64 (the 64-bit view, where there is one).
// Texts are UTF-8; HEX is the raw bytes as stored, UTF-16 for strings. A failed command
// prints "failed LINE ERROR", with GetLastError() or the registry call's status.
#include <windows.h>

#include <psapi.h>
#include <sddl.h>
#include <softpub.h>
#include <wintrust.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <vector>

// In no SDK header, but in user32's import library, whose x86 name for it carries the
// calling convention: a wrong one here fails the link.
extern "C" __declspec(dllimport) BOOL WINAPI SetShellWindow(HWND window);

namespace {

std::wstring wide(const std::string& text)
{
    std::wstring out(text.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size())));
    return out;
}

std::string utf8(const std::wstring& text)
{
    std::string out(text.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

HKEY rootOf(const std::string& name)
{
    return name == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

REGSAM viewOf(const std::string& name)
{
#ifdef _WIN64
    const REGSAM other = KEY_WOW64_32KEY;
#else
    const REGSAM other = KEY_WOW64_64KEY;
#endif
    return name == "HKLM-other" ? other : name == "HKLM-64" ? KEY_WOW64_64KEY : 0;
}

// Whether a registry call succeeded; where not, its status is the last error.
bool succeeded(LONG status)
{
    SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

bool set(const std::vector<std::string>& f)
{
    HKEY key = nullptr;
    if (!succeeded(RegCreateKeyExW(rootOf(f[1]), wide(f[2]).c_str(), 0, nullptr, 0, KEY_SET_VALUE | viewOf(f[1]),
                                   nullptr, &key, nullptr))) {
        return false;
    }
    if (f.size() == 3) {
        RegCloseKey(key);
        return true;
    }
    std::vector<BYTE> data;
    for (size_t i = 0; i + 1 < f[5].size(); i += 2) {
        data.push_back(static_cast<BYTE>(std::stoul(f[5].substr(i, 2), nullptr, 16)));
    }
    const LONG status = RegSetValueExW(key, wide(f[3]).c_str(), 0, std::stoul(f[4]), data.data(),
                                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return succeeded(status);
}

bool remove(const std::vector<std::string>& f)
{
    LONG status = RegDeleteKeyExW(rootOf(f[1]), wide(f[2]).c_str(), viewOf(f[1]), 0);
    HKEY key = nullptr;
    // Refused where it has subkeys.
    if (status == ERROR_ACCESS_DENIED &&
        RegOpenKeyExW(rootOf(f[1]), wide(f[2]).c_str(), 0, KEY_ALL_ACCESS | viewOf(f[1]), &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        status = RegDeleteKeyExW(rootOf(f[1]), wide(f[2]).c_str(), viewOf(f[1]), 0);
    }
    return status == ERROR_FILE_NOT_FOUND || succeeded(status);
}

bool refuse(const std::vector<std::string>& f)
{
    HKEY key = nullptr;
    if (!succeeded(RegOpenKeyExW(rootOf(f[1]), wide(f[2]).c_str(), 0, WRITE_DAC | viewOf(f[1]), &key))) {
        return false;
    }
    PSECURITY_DESCRIPTOR limited = nullptr;
    const std::wstring onlyRights = L"D:P(A;;" + wide(f[3]) + L";;;WD)";
    const bool refused = ConvertStringSecurityDescriptorToSecurityDescriptorW(onlyRights.c_str(), SDDL_REVISION_1,
                                                                              &limited, nullptr) &&
                         succeeded(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, limited));
    LocalFree(limited);
    RegCloseKey(key);
    return refused;
}

bool dump(const std::vector<std::string>& f)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(rootOf(f[1]), wide(f[2]).c_str(), 0, KEY_READ | viewOf(f[1]), &key) != ERROR_SUCCESS) {
        std::printf("missing\t%s\n", f[2].c_str());
        return true;
    }
    std::printf("key\t%s\n", f[2].c_str());
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        BYTE data[65536];
        DWORD nameLength = 16384;
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        std::printf("value\t%s\t%s\t%lu\t", f[2].c_str(), utf8(std::wstring(name, nameLength)).c_str(), type);
        for (DWORD i = 0; i < size; ++i) {
            std::printf("%02x", data[i]);
        }
        std::printf("\n");
    }
    wchar_t subkey[256];
    for (DWORD index = 0, length = 256; RegEnumKeyExW(key, index, subkey, &length, nullptr, nullptr, nullptr,
                                                      nullptr) == ERROR_SUCCESS; ++index, length = 256) {
        dump({f[0], f[1], f[2] + "\\" + utf8(subkey)});
    }
    RegCloseKey(key);
    return true;
}

// The paths of every comctl32.dll loaded in the process `processId`, joined by "|". The
// common controls 6 that a manifest asks for load from a folder of their own in the
// side-by-side store, WinSxS; the older ones from the system directory.
std::string commonControlsOf(DWORD processId)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    HMODULE modules[1024];
    DWORD size = 0;
    std::string paths;
    if (process != nullptr && EnumProcessModulesEx(process, modules, sizeof modules, &size, LIST_MODULES_ALL)) {
        const std::wstring name = L"\\comctl32.dll";
        for (DWORD i = 0; i < size / sizeof modules[0] && i < 1024; ++i) {
            wchar_t path[MAX_PATH];
            const std::wstring file(path, GetModuleFileNameExW(process, modules[i], path, MAX_PATH));
            if (file.size() >= name.size() && _wcsicmp(file.c_str() + file.size() - name.size(), name.c_str()) == 0) {
                paths += (paths.empty() ? "" : "|") + utf8(file);
            }
        }
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return paths;
}

// Answers each box of the process (of any process, for 0) that has been shown since the
// last look, once.
void answerBoxes(DWORD processId, std::set<HWND>& answered)
{
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        // A box is only complete once it is shown; its text is the static control 0xFFFF.
        if ((processId != 0 && owner != processId) || !IsWindowVisible(box) || !answered.insert(box).second) {
            continue;
        }
        wchar_t caption[256] = {};
        wchar_t text[1024] = {};
        wchar_t buttonClass[256] = {};
        GetWindowTextW(box, caption, 256);
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        // A class name as registered, with comctl32 6's version where it is active, since
        // window classes and clipboard formats name their atoms from one table.
        GetClipboardFormatNameW(GetClassLongW(GetDlgItem(box, IDOK), GCW_ATOM), buttonClass, 256);
        std::printf("box\t%s\t%s\t%s\t%s\n", utf8(caption).c_str(), utf8(text).c_str(), utf8(buttonClass).c_str(),
                    commonControlsOf(owner).c_str());
        std::fflush(stdout);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

// Waits for a process while answering the boxes of answerFor; prints its exit code and
// the time since started.
void answerUntilExit(HANDLE process, DWORD answerFor, std::chrono::steady_clock::time_point started)
{
    std::set<HWND> answered;
    // Looking often keeps the time a box waits for its answer small next to a whole run;
    // looking only for dialogs keeps the looking from slowing the run down.
    while (WaitForSingleObject(process, 5) == WAIT_TIMEOUT) {
        answerBoxes(answerFor, answered);
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(30)) {
            TerminateProcess(process, 0xDEAD);
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    std::printf("exit\t%lu\t%lld\n", code,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
}

bool run(const std::vector<std::string>& f, wchar_t* desktop = nullptr)
{
    std::wstring commandLine = L"\"" + wide(f[1]) + L"\"";
    for (size_t i = 2; i < f.size(); ++i) {
        commandLine += L" " + wide(f[i]);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process = {};
    const auto started = std::chrono::steady_clock::now();
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    std::printf("thread\t%04lx\n", process.dwThreadId);
    answerUntilExit(process.hProcess, process.dwProcessId, started);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool runHidden(const std::vector<std::string>& f)
{
    const HWINSTA own = GetProcessWindowStation();
    const HWINSTA station = CreateWindowStationW(L"YarrowTideHidden", 0, WINSTA_ALL_ACCESS, nullptr);
    // A desktop is made on the window station of the process that makes it.
    const HDESK desktop = station != nullptr && SetProcessWindowStation(station)
                              ? CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr)
                              : nullptr;
    SetProcessWindowStation(own);
    std::wstring name = L"YarrowTideHidden\\Default";
    const bool ran = desktop != nullptr && run(f, &name[0]);
    CloseDesktop(desktop);
    CloseWindowStation(station);
    return ran;
}

bool runOnNewDesktop(const std::vector<std::string>& f)
{
    const HDESK own = GetThreadDesktop(GetCurrentThreadId());
    const HDESK desktop = CreateDesktopW(L"YarrowTideTests", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    // The probe's thread, which has no window, moves there to look for the boxes.
    std::wstring name = L"YarrowTideTests";
    const bool ran = desktop != nullptr && SetThreadDesktop(desktop) && run(f, &name[0]);
    SetThreadDesktop(own);
    if (desktop != nullptr) {
        CloseDesktop(desktop);
    }
    return ran;
}

bool becomeShell()
{
    if (GetShellWindow() != nullptr) {
        return true;
    }
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    return window != nullptr && SetShellWindow(window) && GetShellWindow() == window;
}

// Given no desktop, Windows lets the account use the probe's window station and desktop.
bool runAs(const std::vector<std::string>& f)
{
    std::wstring commandLine = wide(f[3]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // It returns once the account's profile is loaded, which its first logon makes.
    // The account may not read the probe's own current directory.
    wchar_t system[MAX_PATH];
    if (GetSystemDirectoryW(system, MAX_PATH) == 0 ||
        !CreateProcessWithLogonW(wide(f[1]).c_str(), L".", wide(f[2]).c_str(), LOGON_WITH_PROFILE, nullptr,
                                 &commandLine[0], 0, nullptr, system, &startup, &process)) {
        return false;
    }
    answerUntilExit(process.hProcess, 0, std::chrono::steady_clock::now());
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool printUser()
{
    HANDLE token = nullptr;
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    wchar_t* sid = nullptr;
    const bool named = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                       ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
    if (named) {
        std::printf("user\t%s\n", utf8(sid).c_str());
    }
    LocalFree(sid);
    CloseHandle(token);
    return named;
}

bool logon()
{
    // Everything wineboot starts stays in its job, so the job tells when all have ended.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    std::wstring commandLine = L"wineboot.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (job == nullptr || !CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                          nullptr, &startup, &process)) {
        return false;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    const auto started = std::chrono::steady_clock::now();
    do {
        Sleep(20);
        QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr);
    } while (accounting.ActiveProcesses > 0 && std::chrono::steady_clock::now() - started < std::chrono::seconds(30));
    std::printf("logon\t%lu started\n", accounting.TotalProcesses);
    CloseHandle(job);
    return accounting.ActiveProcesses == 0;
}

bool trust(const std::vector<std::string>& f)
{
    const std::wstring path = wide(f[1]);
    WINTRUST_FILE_INFO file = {sizeof file, path.c_str(), nullptr, nullptr};
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID authenticode = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(nullptr, &authenticode, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &authenticode, &data);
    std::printf("trust\t%s\t%08lx\n", f[1].c_str(), static_cast<unsigned long>(result));
    return true;
}

// The value `name` of the key `path` under HKEY_LOCAL_MACHINE, in the 64-bit view where
// there is one, as text; "none" where it can't be read.
std::string machineSetting(const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    BYTE data[512] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = REG_NONE;
    const bool read = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) ==
                          ERROR_SUCCESS &&
                      RegQueryValueExW(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read || (type != REG_SZ && type != REG_DWORD)) {
        return "none";
    }
    return type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data))
                             : utf8(reinterpret_cast<const wchar_t*>(data));
}

// The name of a mandatory label's level, as whoami /groups gives it.
std::string integrityLevelOf(HANDLE token)
{
    alignas(TOKEN_MANDATORY_LABEL) BYTE label[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size)) {
        return "unknown";
    }
    const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
    const DWORD level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
    const std::pair<DWORD, const char*> names[] = {{SECURITY_MANDATORY_SYSTEM_RID, "System"},
                                                   {SECURITY_MANDATORY_HIGH_RID, "High"},
                                                   {SECURITY_MANDATORY_MEDIUM_RID, "Medium"},
                                                   {SECURITY_MANDATORY_LOW_RID, "Low"}};
    for (const auto& [rid, name] : names) {
        if (level >= rid) {
            return name;
        }
    }
    return "Untrusted";
}

// The image name and DOMAIN\user of the process `processId`, or what couldn't be read.
std::string processOf(DWORD processId)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    HANDLE token = nullptr;
    wchar_t image[MAX_PATH] = L"unreadable";
    DWORD imageSize = MAX_PATH;
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    wchar_t name[256] = L"";
    wchar_t domain[256] = L"";
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (process != nullptr && !QueryFullProcessImageNameW(process, 0, image, &imageSize)) {
        wcscpy(image, L"unreadable");
    }
    const bool named = process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                       LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, name, &nameSize,
                                         domain, &domainSize, &use);
    CloseHandle(token);
    CloseHandle(process);
    const std::wstring file = image;
    return utf8(file.substr(file.find_last_of(L'\\') + 1)) + "\t" +
           (named ? utf8(std::wstring(domain) + L"\\" + name) : "unreadable");
}

bool printFacts()
{
    const wchar_t version[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    std::printf("windows\t%s\t%s\t%s.%s\n", machineSetting(version, L"ProductName").c_str(),
                machineSetting(version, L"DisplayVersion").c_str(), machineSetting(version, L"CurrentBuild").c_str(),
                machineSetting(version, L"UBR").c_str());
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::printf("session\t%lu\n", session);
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    std::printf("integrity\t%s\n", integrityLevelOf(token).c_str());
    CloseHandle(token);
    const wchar_t system[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    std::printf("uac\t%s\t%s\t%s\n", machineSetting(system, L"EnableLUA").c_str(),
                machineSetting(system, L"ConsentPromptBehaviorAdmin").c_str(),
                machineSetting(system, L"FilterAdministratorToken").c_str());
    DWORD shell = 0;
    GetWindowThreadProcessId(GetShellWindow(), &shell);
    std::printf("shell\t%s\n", shell == 0 ? "none" : (std::to_string(shell) + "\t" + processOf(shell)).c_str());
    USEROBJECTFLAGS flags = {};
    DWORD size = 0;
    const bool visible = GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size) &&
                         (flags.dwFlags & WSF_VISIBLE) != 0;
    std::printf("station\t%s\n", visible ? "visible" : "not visible");
    return true;
}

} // namespace

int main()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> f;
        for (size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
            tab = line.find('\t', start);
            f.push_back(line.substr(start, tab - start));
        }
        const bool done = line.empty() || (f[0] == "set" && f.size() == 6 && set(f)) ||
                          (f[0] == "create" && f.size() == 3 && set(f)) ||
                          (f[0] == "desktop" && f.size() >= 2 && runOnNewDesktop(f)) ||
                          (f[0] == "load" && f.size() == 2 && LoadLibraryW(wide(f[1]).c_str()) != nullptr) ||
                          (f[0] == "as" && f.size() == 4 && runAs(f)) ||
                          (f[0] == "delete" && f.size() == 3 && remove(f)) ||
                          (f[0] == "refuse" && f.size() == 4 && refuse(f)) ||
                          (f[0] == "dump" && f.size() == 3 && dump(f)) || (f[0] == "run" && f.size() >= 2 && run(f)) ||
                          (f[0] == "hidden" && f.size() == 2 && runHidden(f)) || (f[0] == "shell" && becomeShell()) ||
                          (f[0] == "user" && printUser()) || (f[0] == "logon" && logon()) ||
                          (f[0] == "trust" && f.size() == 2 && trust(f)) || (f[0] == "facts" && printFacts());
        if (!done) {
            std::printf("failed\t%s\t%lu\n", line.c_str(), GetLastError());
            return 1;
        }
        std::fflush(stdout);
    }
    return 0;
}
