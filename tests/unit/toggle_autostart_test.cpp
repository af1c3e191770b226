#include "toggle/toggle_autostart.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kMakerKey = "HKLM\\Software\\Yarrowtide";
// The user signed in to the desktop, and the hive that holds their keys.
const std::string kUser = fake::Platform{}.ownAccount;
const std::string kHive = "HKU\\" + kUser;
// What goes before a per-user key's path, opened under HKEY_USERS.
const std::string kUserPrefix = kUser + "\\";
const std::string kRunSubkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kRunKey = kHive + "\\" + kRunSubkey;
const std::string kRecordsSubkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const std::string kRecordsKey = kHive + "\\" + kRecordsSubkey;
const std::string kPoliciesSubkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const std::string kEntry = "YarrowTide Desktop";
const std::string kExecutable = "C:\\Yarrow\\YarrowTideDesktop.exe";

const fake::Box kNotInstalled{
    "Could not find the path on which YarrowTide Desktop is installed. No changes will be made.", "Error", 0x10};
const fake::Box kNoRunKey{"Failed opening the windows autorun registry. Not changes will be made.", "Error", 0x10};
const fake::Box kWritten{"YarrowTide Desktop will start up automatically from now on.", "Info", 0x40};
const fake::Box kDeleted{"YarrowTide Desktop will not start up automatically anymore.", "Info", 0x40};
const fake::Box kNotChanged{"Could not change the autostart entry of YarrowTide Desktop. No changes were made.",
                            "Error", 0x10};
const fake::Box kUnreachable{"Could not change the autostart entry of YarrowTide Desktop: the settings of the "
                             "user who is signed in could not be reached. No changes were made.",
                             "Error", 0x10};
const fake::Box kRunListDisabled{"Could not change the autostart entry of YarrowTide Desktop: a policy on this "
                                 "computer keeps programs from starting up automatically. No changes were made.",
                                 "Error", 0x10};
// Where nobody could see a box, none.
const fake::Box kNoBox{};
const fake::Value kPolicyOn{REG_DWORD, "\x01\0\0\0"s};
// A startup record as Task Manager leaves it: disabled, then the time of the change.
const fake::Value kDisabledRecord{REG_BINARY, "\x03\0\0\0\x10\x32\x54\x76\x98\xba\xdc\x01"s};

fake::Value sz(const std::string& text)
{
    return {REG_SZ, text + '\0'};
}

fake::Values& keyAt(const std::string& path)
{
    return fake::platform().keys.at(path);
}

// The registry as the product's installer and another program leave it, for the user
// signed in to the desktop the program runs on.
void seedInstalledProduct()
{
    fake::reset();
    fake::platform().keys[kMakerKey] = {{"path", sz("C:\\Yarrow")}};
    fake::platform().keys[kHive] = {};
    fake::platform().keys[kRunKey] = {{"Other", sz("C:\\other.exe")}};
    fake::platform().keys[kRecordsKey] = {{"Other", kDisabledRecord}};
    fake::platform().shellAccount = fake::platform().ownAccount;
}

std::function<void()> installedIn(fake::Value path)
{
    return [path] { keyAt(kMakerKey)["path"] = path; };
}

std::function<void()> entryHolding(fake::Value entry, const std::string& failingCall = "")
{
    return [entry, failingCall] {
        keyAt(kRunKey)[kEntry] = entry;
        if (!failingCall.empty()) {
            fake::platform().failures[failingCall] = ERROR_ACCESS_DENIED;
        }
    };
}

template <typename... Calls>
std::function<void()> failing(const Calls&... calls)
{
    return [names = std::vector<std::string>{calls...}] {
        for (const auto& name : names) {
            fake::platform().failures[name] = ERROR_ACCESS_DENIED;
        }
    };
}

std::function<void()> recordHolding(fake::Value record, const std::function<void()>& andThen = [] {})
{
    return [record, andThen] {
        keyAt(kRecordsKey)[kEntry] = record;
        andThen();
    };
}

// "Do not process the legacy run list", set under `root` to `value`.
std::function<void()> runListPolicy(const std::string& root, fake::Value value,
                                    const std::function<void()>& andThen = [] {})
{
    return [root, value, andThen] {
        fake::platform().keys[root + "\\" + kPoliciesSubkey]["DisableCurrentUserRun"] = value;
        andThen();
    };
}

std::function<void()> shellOf(const std::string& account)
{
    return [account] { fake::platform().shellAccount = account; };
}

const std::string kRecordDeletion = "RegDeleteValueA " + kRecordsKey + "\\" + kEntry;
const std::string kLimitedOpen = "OpenProcess " + std::to_string(PROCESS_QUERY_LIMITED_INFORMATION);
const std::string kQueryOpen = "OpenProcess " + std::to_string(PROCESS_QUERY_INFORMATION);

// Elevated as another account than the one signed in, with a HKEY_CURRENT_USER of its own.
std::function<void()> runningAsAdministrator(const std::function<void()>& andThen = [] {})
{
    return [andThen] {
        fake::platform().ownAccount = "S-1-5-21-admin";
        andThen();
    };
}

// Refused a look at the shell's process, which the session's process list shows as `listing` says.
std::function<void()> shellListed(fake::Listing listing)
{
    return [listing] {
        failing(kLimitedOpen, kQueryOpen)();
        fake::platform().shellListing = listing;
    };
}

std::function<void()> without(const std::string& key, const std::string& value = "")
{
    return [key, value] { value.empty() ? fake::platform().keys.erase(key) : keyAt(key).erase(value); };
}

TEST(ToggleAutostart, ShowsOneBoxChangesOnlyTheEntryAndClosesEveryKey)
{
    const struct {
        const char* what;
        std::function<void()> arrange;
        fake::Box box;
        const char* entryAfter; // null: as it was before the run; empty: removed
        bool recordRemoved = false;
    } cases[] = {
        {"no entry, on a seen window station in session 1", [] {}, kWritten, kExecutable.c_str()},
        {"window station's flags unknown", failing("GetUserObjectInformationA station"), kWritten, kExecutable.c_str()},
        {"session 0, the services' since Vista", [] { fake::platform().session = 0; }, kNoBox, nullptr},
        {"session 0, the console's before Vista", [] {
             fake::platform().session = 0;
             fake::platform().vistaOrLater = false;
         }, kWritten, kExecutable.c_str()},
        {"session unknown", failing("ProcessIdToSessionId own"), kWritten, kExecutable.c_str()},
        {"entry for another path", entryHolding(sz("D:\\Old\\x.exe")), kDeleted, ""},
        {"entry of another type", entryHolding({REG_BINARY, "\x01\0"s}), kDeleted, ""},
        {"entry with no data", entryHolding({REG_SZ, ""}), kWritten, kExecutable.c_str()},
        {"entry whose data starts with NUL", entryHolding({REG_SZ, "\0D:\\x.exe\0"s}), kWritten,
         kExecutable.c_str()},
        {"unreadable entry", entryHolding(sz("D:\\x.exe"), "RegQueryValueExA(size) YarrowTide Desktop"), kWritten,
         kExecutable.c_str()},
        {"directory ending in a backslash", installedIn(sz("C:\\Yarrow\\")), kWritten, kExecutable.c_str()},
        {"directory ending in a Shift-JIS character whose second byte is 0x5C", installedIn(sz("C:\\\x83\x5c")),
         kWritten, "C:\\\x83\x5c\\YarrowTideDesktop.exe"},
        {"directory with a space", installedIn(sz("C:\\Program Files\\Yarrow")), kWritten,
         "\"C:\\Program Files\\Yarrow\\YarrowTideDesktop.exe\""},
        {"directory with an environment reference", installedIn({REG_EXPAND_SZ, "%Apps%\\Yarrow\0"s}), kWritten,
         "%Apps%\\Yarrow\\YarrowTideDesktop.exe"},
        {"no maker key", without(kMakerKey), kNotInstalled, nullptr},
        {"maker key refused", failing("RegOpenKeyExA Software\\Yarrowtide"), kNotInstalled, nullptr},
        {"no path value", without(kMakerKey, "path"), kNotInstalled, nullptr},
        {"path value refused", failing("RegQueryValueExA(data) path"), kNotInstalled, nullptr},
        {"empty path value", installedIn({REG_SZ, ""}), kNotInstalled, nullptr},
        {"path value starting with NUL", installedIn({REG_SZ, "\0C:\\Yarrow\0"s}), kNotInstalled, nullptr},
        {"no Run key", without(kRunKey), kWritten, kExecutable.c_str()},
        {"Run key refused", failing("RegOpenKeyExA " + kUserPrefix + kRunSubkey), kNoRunKey, nullptr},
        {"no Run key, and none can be made", [] {
             without(kRunKey)();
             failing("RegCreateKeyExA " + kUserPrefix + kRunSubkey)();
         }, kNoRunKey, nullptr},
        {"refused write", failing("RegSetValueExA YarrowTide Desktop"), kNotChanged, nullptr},
        {"refused deletion",
         recordHolding(kDisabledRecord, entryHolding(sz("D:\\x.exe"), "RegDeleteValueA " + kRunKey + "\\" + kEntry)),
         kNotChanged, nullptr},
        {"disabled record", recordHolding(kDisabledRecord), kWritten, kExecutable.c_str(), true},
        {"record of another type", recordHolding({REG_DWORD, "\x03\0\0\0"s}), kWritten, kExecutable.c_str(), true},
        {"record refused", recordHolding(kDisabledRecord, failing(kRecordDeletion)), kNotChanged, nullptr},
        {"record key refused, and no Run key",
         [] { without(kRunKey)(); failing("RegOpenKeyExA " + kUserPrefix + kRecordsSubkey)(); }, kNotChanged, nullptr},
        {"no record key", without(kRecordsKey), kWritten, kExecutable.c_str()},
        {"entry and record", recordHolding(kDisabledRecord, entryHolding(sz(kExecutable))), kDeleted, "", true},
        {"entry, and a record refused", recordHolding(kDisabledRecord, entryHolding(sz(kExecutable), kRecordDeletion)),
         kDeleted, ""},
        {"entry, and the record key refused",
         entryHolding(sz(kExecutable), "RegOpenKeyExA " + kUserPrefix + kRecordsSubkey), kDeleted, ""},
        {"run as another account", runningAsAdministrator(), kWritten, kExecutable.c_str()},
        {"shell process refused", runningAsAdministrator(shellListed(fake::Listing::withAccount)), kWritten,
         kExecutable.c_str()},
        {"limited right unknown, as before Vista", failing(kLimitedOpen, "WTSEnumerateProcessesA session"), kWritten,
         kExecutable.c_str()},
        {"shell token refused", failing("OpenProcessToken shell"), kWritten, kExecutable.c_str()},
        {"shell account unreadable", failing("GetTokenInformation shell"), kWritten, kExecutable.c_str()},
        {"search flag unknown, as without KB2533623", failing(kLimitedOpen, kQueryOpen, "LoadLibraryExA wtsapi32.dll"), kWritten,
         kExecutable.c_str()},
        {"shell not listed", shellListed(fake::Listing::absent), kUnreachable, nullptr},
        {"shell listed in another session", shellListed(fake::Listing::inAnotherSession), kUnreachable, nullptr},
        {"shell window's process changed once opened", [] {
             fake::platform().afterOpenProcess = [] { fake::platform().shellProcessId = 0x510; };
         }, kUnreachable, nullptr},
        {"shell listed without an account", shellListed(fake::Listing::withoutAccount), kUnreachable, nullptr},
        {"shell's SID not convertible", failing("ConvertSidToStringSidA " + kUser), kUnreachable, nullptr},
        {"shell's hive not loaded", without(kHive), kUnreachable, nullptr},
        {"no shell window", shellOf(""), kWritten, kExecutable.c_str()},
        {"no shell window, run as another account", runningAsAdministrator(shellOf("")), kWritten,
         kExecutable.c_str()},
        {"shell window closed, and the session's user maps to no SID",
         failing("GetWindowThreadProcessId shell", "LookupAccountNameA YARROW\\alice"), kUnreachable, nullptr},
        {"shell window closed before its process was asked for", failing("GetWindowThreadProcessId shell"), kWritten,
         kExecutable.c_str()},
        {"run list off for the user", runListPolicy(kHive, kPolicyOn), kRunListDisabled, nullptr},
        {"run list off for the machine, entry present",
         runListPolicy("HKLM", kPolicyOn, entryHolding(sz(kExecutable))), kDeleted, ""},
        {"run list policy as text", runListPolicy(kHive, sz("Yes")), kWritten, kExecutable.c_str()},
        {"run list policy keys refused",
         runListPolicy(kHive, kPolicyOn,
                       failing("RegOpenKeyExA " + kPoliciesSubkey, "RegOpenKeyExA " + kUserPrefix + kPoliciesSubkey)),
         kWritten, kExecutable.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seedInstalledProduct();
        c.arrange();
        auto expected = fake::platform().keys;
        if (c.entryAfter != nullptr && *c.entryAfter == '\0') {
            expected.at(kRunKey).erase(kEntry);
        } else if (c.entryAfter != nullptr) {
            expected[kRunKey][kEntry] = sz(c.entryAfter);
        }
        if (c.recordRemoved) {
            expected.at(kRecordsKey).erase(kEntry);
        }

        // Where nobody could be told, exit code 1, with nothing read.
        const bool told = !c.box.caption.empty();
        EXPECT_EQ(toggleAutostart(), told ? 0 : 1);
        EXPECT_EQ(fake::platform().boxes, told ? std::vector<fake::Box>{c.box} : std::vector<fake::Box>{});
        const auto& calls = fake::platform().calls;
        const auto registryCall = [](const fake::Call& call) { return call.function.rfind("Reg", 0) == 0; };
        EXPECT_EQ(std::any_of(calls.begin(), calls.end(), registryCall), told);
        EXPECT_EQ(fake::platform().keys, expected);
        EXPECT_TRUE(fake::platform().openKeys.empty());
        EXPECT_TRUE(fake::platform().openHandles.empty());
    }
}

TEST(ToggleAutostart, LeavesTheRunKeyAloneWhenItCantChangeIt)
{
    const struct {
        const char* what;
        std::function<void()> arrange;
    } cases[] = {
        {"product not installed", without(kMakerKey, "path")},
        {"settings of the signed-in user unreachable", shellListed(fake::Listing::absent)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seedInstalledProduct();
        c.arrange();
        toggleAutostart();
        for (const auto& call : fake::platform().calls) {
            EXPECT_EQ(call.subject.find(kRunSubkey), std::string::npos);
            EXPECT_EQ(call.subject.find(kRecordsSubkey), std::string::npos);
            EXPECT_NE(call.subject, kEntry);
        }
    }
}

TEST(ToggleAutostart, TwoRunsRestoreTheRegistry)
{
    const std::function<void()> states[] = {
        [] {},
        entryHolding(sz(kExecutable)),
    };
    for (const auto& arrange : states) {
        seedInstalledProduct();
        arrange();
        const auto before = fake::platform().keys;
        toggleAutostart();
        toggleAutostart();
        EXPECT_EQ(fake::platform().keys, before);
    }
}

} // namespace
