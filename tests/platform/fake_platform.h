#pragma once
// The in-memory registry, message box, shell window and process accounts behind the
// platform calls in the native test build. It answers as the platform does where the
// program relies on it, records every call with its result, and fails any call a test
// names.

#include <windows.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace fake {

// Orders names as the registry compares them: without regard to case.
struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct Value {
    DWORD type;
    std::string data;
};
bool operator==(const Value& a, const Value& b);
void PrintTo(const Value& value, std::ostream* out);

using Values = std::map<std::string, Value, NoCase>;

// One platform call: its name, its subject and its result. The subject is the subkey or
// value name it was given; for a process or token call, "shell" or "own" for the process
// it concerns; for OpenProcess, the access right asked for, in decimal; for LoadLibraryExA
// and LookupAccountNameA, the name it was given.
struct Call {
    std::string function;
    std::string subject;
    LONG result;
};

struct Box {
    std::string text;
    std::string caption;
    UINT style;
};
bool operator==(const Box& a, const Box& b);
void PrintTo(const Box& box, std::ostream* out);

// How the process list shows the shell's process.
enum class Listing { withAccount, withoutAccount, inAnotherSession, absent };

struct Platform {
    // Keys by root and path, for instance "HKLM\Software\Scratch"; a user's under
    // "HKU\<SID>", where HKEY_CURRENT_USER names the hive of the program's own account.
    std::map<std::string, Values, NoCase> keys;
    // The key path behind each open handle.
    std::map<HKEY, std::string> openKeys;
    // The SIDs, as text, of the account the program runs as, of the shell window's process
    // and of the session's user; an empty shell account means there is no shell window.
    std::string ownAccount = "S-1-5-21-alice";
    std::string shellAccount;
    std::string sessionAccount = ownAccount;
    // The program's session, and whether Windows is Vista or later.
    DWORD session = 1;
    bool vistaOrLater = true;
    Listing shellListing = Listing::withAccount;
    // What each open handle is: "process shell", "token shell" or "library wtsapi32".
    std::map<HANDLE, std::string> openHandles;
    std::vector<Call> calls;
    std::vector<Box> boxes;
    // Calls to fail, as "function subject", with the error each returns instead; a value
    // call also as "function KEY\NAME", to fail it in one key only. A size probe is
    // "RegQueryValueExA(size)", a read into a buffer "RegQueryValueExA(data)".
    std::map<std::string, LONG> failures;
    // Runs between a size probe and the next platform call, to change the registry there.
    std::function<void()> afterSizeProbe;
    // The process the shell window names, and what runs once a process is opened.
    DWORD shellProcessId = 0x4e8;
    std::function<void()> afterOpenProcess;
};

// The state behind the calls; `reset` empties it between tests.
Platform& platform();
void reset();
// The path of `subkey` in the hive of the program's own account, as `keys` names it.
std::string currentUserKey(const std::string& subkey);

} // namespace fake
