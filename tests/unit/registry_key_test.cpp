#include "registry/registry_key.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kSubkey = "Software\\Scratch";

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        fake::platform().keys[fake::currentUserKey(kSubkey)] = {};
    }

    fake::Values& values() { return fake::platform().keys.at(fake::currentUserKey(kSubkey)); }

    std::vector<std::string> callNames() const
    {
        std::vector<std::string> names;
        for (const auto& call : fake::platform().calls) {
            names.push_back(call.function + '=' + std::to_string(call.result));
        }
        return names;
    }

    RegistryKey key;
};

TEST_F(RegistryKeyTest, ReadsStoredBytesUpToTheFirstNul)
{
    const struct {
        const char* what;
        fake::Value stored;
        std::string expected;
    } cases[] = {
        {"string with its terminator", {REG_SZ, "abc\0"s}, "abc"},
        {"string without a terminator", {REG_SZ, "abc"}, "abc"},
        {"NUL inside", {REG_SZ, "a\0b"s}, "a"},
        {"zero-length data", {REG_SZ, ""}, ""},
        {"data of another type", {REG_BINARY, "\x07\x08\0\x09"s}, "\x07\x08"},
    };
    ASSERT_EQ(key.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        values()["v"] = c.stored;
        std::string out = "previous";
        EXPECT_TRUE(key.readString("v", out));
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(RegistryKeyTest, FailedReadLeavesTheOutputUntouched)
{
    const struct {
        const char* what;
        std::function<void()> arrange;
    } cases[] = {
        {"missing value", [this] { values().erase("v"); }},
        {"refused size probe", [] { fake::platform().failures["RegQueryValueExA(size) v"] = ERROR_ACCESS_DENIED; }},
        {"refused read", [] { fake::platform().failures["RegQueryValueExA(data) v"] = ERROR_ACCESS_DENIED; }},
        {"value grown since the probe",
         [this] { fake::platform().afterSizeProbe = [this] { values()["v"].data += "longer"; }; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        values()["v"] = {REG_SZ, "abc\0"s};
        c.arrange();
        RegistryKey reader;
        ASSERT_EQ(reader.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
        std::string out = "previous";
        EXPECT_FALSE(reader.readString("v", out));
        EXPECT_EQ(out, "previous");
    }
}

TEST_F(RegistryKeyTest, WritesTextWithItsTerminatorAsString)
{
    ASSERT_EQ(key.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_TRUE(key.writeString("v", "abc"));
    EXPECT_EQ(values().at("v"), (fake::Value{REG_SZ, "abc\0"s}));
    EXPECT_TRUE(key.writeString("v", "ab\0cd"s));
    EXPECT_EQ(values().at("v"), (fake::Value{REG_SZ, "ab\0"s}));
}

TEST_F(RegistryKeyTest, ReportsRefusedWriteAndDeletion)
{
    values()["v"] = {REG_SZ, "abc\0"s};
    fake::platform().failures["RegSetValueExA v"] = ERROR_ACCESS_DENIED;
    fake::platform().failures["RegDeleteValueA v"] = ERROR_ACCESS_DENIED;
    ASSERT_EQ(key.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_FALSE(key.writeString("v", "xyz"));
    EXPECT_EQ(key.deleteValue("v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(values().at("v"), (fake::Value{REG_SZ, "abc\0"s}));
}

TEST_F(RegistryKeyTest, DeletesOnlyExistingValues)
{
    values()["v"] = {REG_SZ, "abc\0"s};
    ASSERT_EQ(key.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(key.deleteValue("V"), ERROR_SUCCESS);
    EXPECT_TRUE(values().empty());
    EXPECT_EQ(key.deleteValue("v"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, ClosedHolderCallsNothing)
{
    values()["v"] = {REG_SZ, "abc\0"s};
    std::string out = "previous";
    EXPECT_FALSE(key.readString("v", out));
    EXPECT_FALSE(key.writeString("v", "xyz"));
    EXPECT_EQ(key.deleteValue("v"), ERROR_INVALID_HANDLE);
    key.close();
    EXPECT_EQ(out, "previous");
    EXPECT_TRUE(callNames().empty());
}

TEST_F(RegistryKeyTest, OpenReleasesTheHeldKeyEvenWhenItFails)
{
    ASSERT_EQ(key.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(key.open(HKEY_CURRENT_USER, "Software\\Missing", KEY_ALL_ACCESS), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(fake::platform().openKeys.empty());
    std::string out;
    EXPECT_FALSE(key.readString("v", out));
    EXPECT_EQ(callNames(), (std::vector<std::string>{"RegOpenKeyExA=0", "RegCloseKey=0", "RegOpenKeyExA=2"}));
}

TEST_F(RegistryKeyTest, OpensOrCreatesAndTellsMissingFromRefused)
{
    const std::string missing = "Software\\Scratch\\New";
    const struct {
        const char* what;
        bool creates; // by create, rather than open
        std::string subkey;
        const char* refused; // the call to refuse, if any
        LONG expected;
        bool createsTheKey;
    } cases[] = {
        {"open of a key", false, kSubkey, nullptr, ERROR_SUCCESS, false},
        {"open of a missing key", false, missing, nullptr, ERROR_FILE_NOT_FOUND, false},
        {"refused open", false, kSubkey, "RegOpenKeyExA", ERROR_ACCESS_DENIED, false},
        {"create of a key", true, kSubkey, nullptr, ERROR_SUCCESS, false},
        {"create of a missing key", true, missing, nullptr, ERROR_SUCCESS, true},
        {"refused create", true, missing, "RegCreateKeyExA", ERROR_ACCESS_DENIED, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        values()["v"] = {REG_SZ, "abc\0"s};
        if (c.refused != nullptr) {
            fake::platform().failures[c.refused + (' ' + c.subkey)] = ERROR_ACCESS_DENIED;
        }
        RegistryKey holder;
        EXPECT_EQ(c.creates ? holder.create(HKEY_CURRENT_USER, c.subkey, KEY_ALL_ACCESS)
                             : holder.open(HKEY_CURRENT_USER, c.subkey, KEY_ALL_ACCESS),
                  c.expected);
        EXPECT_EQ(fake::platform().keys.count(fake::currentUserKey(missing)), c.createsTheKey ? 1u : 0u);
        EXPECT_EQ(values().at("v"), (fake::Value{REG_SZ, "abc\0"s}));
        // An open holder can write; a closed one can't.
        EXPECT_EQ(holder.writeString("w", "x"), c.expected == ERROR_SUCCESS);
    }
}

TEST_F(RegistryKeyTest, ReleasesItsKeyOnceWhenItEnds)
{
    {
        RegistryKey scoped;
        ASSERT_EQ(scoped.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
        ASSERT_EQ(scoped.create(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
        scoped.close();
        ASSERT_EQ(scoped.open(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS), ERROR_SUCCESS);
    }
    EXPECT_TRUE(fake::platform().openKeys.empty());
    EXPECT_EQ(callNames(), (std::vector<std::string>{"RegOpenKeyExA=0", "RegCloseKey=0", "RegCreateKeyExA=0",
                                                     "RegCloseKey=0", "RegOpenKeyExA=0", "RegCloseKey=0"}));
}

} // namespace
