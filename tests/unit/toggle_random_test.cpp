// Runs the toggle on thousands of drawn registry states and checks what must hold for
// every one of them. The seed is fixed and printed, so that a failure can be replayed.
#include "toggle/toggle_autostart.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

namespace {

const std::string kMakerKey = "HKLM\\Software\\Yarrowtide";
const std::string kRunSubkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// With no shell window, the keys of the session's user, the program's own account.
const std::string kRunKey = fake::currentUserKey(kRunSubkey);
const std::string kRecordsKey =
    fake::currentUserKey("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run");
const std::string kEntry = "YarrowTide Desktop";

class StateDrawer {
public:
    explicit StateDrawer(unsigned seed) : random_(seed) {}

    // Of the given length, from letters, spaces, backslashes and NUL bytes.
    std::string bytes(size_t length)
    {
        static const char alphabet[] = {'C', ':', 'x', ' ', '\\', '\0', 'y', '.'};
        std::string out;
        while (out.size() < length) {
            out += alphabet[below(sizeof alphabet)];
        }
        return out;
    }

    fake::Value value()
    {
        static const DWORD types[] = {REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD};
        std::string data = bytes(below(6));
        if (chance(2)) {
            data += '\0';
        }
        return {types[below(5)], data};
    }

    void draw(fake::Platform& state)
    {
        state.keys["HKU\\" + state.sessionAccount];
        if (!chance(8)) {
            auto& maker = state.keys[kMakerKey];
            if (!chance(6)) {
                maker["path"] = value();
            }
        }
        if (!chance(8)) {
            auto& run = state.keys[kRunKey];
            for (size_t others = below(4); others > 0; --others) {
                run["Other" + std::to_string(others)] = value();
            }
            if (chance(2)) {
                run[kEntry] = value();
            }
        }
        if (!chance(4)) {
            auto& records = state.keys[kRecordsKey];
            if (chance(2)) {
                records["Other"] = value();
            }
            if (chance(2)) {
                records[kEntry] = value();
            }
        }
        if (chance(10)) {
            state.failures["RegDeleteValueA " + kRecordsKey + '\\' + kEntry] = ERROR_ACCESS_DENIED;
        }
        if (chance(20)) {
            state.failures["RegCreateKeyExA " + state.sessionAccount + '\\' + kRunSubkey] = ERROR_ACCESS_DENIED;
        }
        if (chance(10)) {
            state.failures["RegSetValueExA " + kEntry] = ERROR_ACCESS_DENIED;
        }
        if (chance(10)) {
            state.failures["RegDeleteValueA " + kEntry] = ERROR_ACCESS_DENIED;
        }
    }

private:
    size_t below(size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(random_); }
    bool chance(size_t oneIn) { return below(oneIn) == 0; }

    std::mt19937 random_;
};

using Keys = std::map<std::string, fake::Values, fake::NoCase>;

bool hasEntry(const Keys& keys)
{
    const auto run = keys.find(kRunKey);
    return run != keys.end() && run->second.count(kEntry) != 0;
}

// An entry counts as present when its first byte isn't NUL.
bool entryPresent(const Keys& keys)
{
    return hasEntry(keys) && keys.at(kRunKey).at(kEntry).data.c_str()[0] != '\0';
}

Keys withoutEntry(Keys keys)
{
    if (hasEntry(keys)) {
        keys.at(kRunKey).erase(kEntry);
    }
    return keys;
}

const fake::Value* recordOf(const Keys& keys)
{
    const auto records = keys.find(kRecordsKey);
    if (records == keys.end() || records->second.count(kEntry) == 0) {
        return nullptr;
    }
    return &records->second.at(kEntry);
}

// Without what a run may change that Windows doesn't act on at a logon: the product's
// startup record, cleared with every change of the entry, and an empty Run key made
// where there was none.
Keys asWindowsActsOnThem(Keys keys)
{
    if (recordOf(keys) != nullptr) {
        keys.at(kRecordsKey).erase(kEntry);
    }
    if (keys.count(kRunKey) != 0 && keys.at(kRunKey).empty()) {
        keys.erase(kRunKey);
    }
    return keys;
}

TEST(ToggleAutostartOnDrawnStates, KeepsItsInvariants)
{
    const unsigned seed = 20261207;
    std::cout << "seed " << seed << '\n';
    StateDrawer drawer(seed);
    std::set<std::string> refused;
    for (int round = 0; round < 5000; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fake::reset();
        drawer.draw(fake::platform());
        const Keys before = fake::platform().keys;
        bool failed = false;
        for (int run = 0; run < 2; ++run) {
            const Keys last = fake::platform().keys;
            fake::platform().boxes.clear();
            ASSERT_EQ(toggleAutostart(), 0);
            ASSERT_EQ(fake::platform().boxes.size(), 1u);
            ASSERT_TRUE(fake::platform().openKeys.empty());
            const Keys& after = fake::platform().keys;
            ASSERT_EQ(asWindowsActsOnThem(withoutEntry(after)), asWindowsActsOnThem(withoutEntry(last)));
            // A record is only ever removed, and never outlives the writing of an entry.
            if (recordOf(after) != nullptr) {
                ASSERT_TRUE(recordOf(last) != nullptr && *recordOf(after) == *recordOf(last));
            }
            if (fake::platform().boxes[0].caption == "Error") {
                ASSERT_EQ(asWindowsActsOnThem(after), asWindowsActsOnThem(last));
                failed = true;
            } else {
                ASSERT_NE(entryPresent(after), entryPresent(last));
                ASSERT_TRUE(!entryPresent(after) || recordOf(after) == nullptr);
            }
        }
        for (const auto& call : fake::platform().calls) {
            if (call.result == ERROR_ACCESS_DENIED) {
                refused.insert(call.function);
            }
        }
        // A present entry comes back as the program writes it, an empty one not at all.
        if (!failed && !hasEntry(before)) {
            ASSERT_EQ(asWindowsActsOnThem(fake::platform().keys), asWindowsActsOnThem(before));
        }
    }
    // Every failure drawn happened in some round.
    EXPECT_EQ(refused, (std::set<std::string>{"RegCreateKeyExA", "RegDeleteValueA", "RegSetValueExA"}));
}

} // namespace
