#pragma once

#include <windows.h>

#include <string>

// The one owner of an open registry key in this program. It holds at most one key,
// releases it before opening another and when it ends, and cannot be copied.
// Every operation reports its outcome; an output is untouched on failure. Where a
// caller must tell a missing key or value from a refused one, the operation returns
// the platform's result: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, or the refusal.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Releases any held key, then opens `subkey` under `root` with `access`, which may
    // carry the flag of a registry view.
    [[nodiscard]] LONG open(HKEY root, const std::string& subkey, REGSAM access);
    // Releases any held key, then opens `subkey` under `root` with `access`, creating it
    // and any missing key above it first.
    [[nodiscard]] LONG create(HKEY root, const std::string& subkey, REGSAM access);
    // Releases the held key; does nothing when none is held.
    void close();
    // Reads the value `name`, of any type, as its bytes up to the first NUL.
    [[nodiscard]] bool readString(const std::string& name, std::string& out) const;
    // Reads the value `name` where it is a REG_DWORD.
    [[nodiscard]] bool readDword(const std::string& name, DWORD& out) const;
    // Creates or replaces the value `name` as REG_SZ holding `text` up to its first NUL.
    [[nodiscard]] bool writeString(const std::string& name, const std::string& text) const;
    // Removes the value `name`; calls nothing and returns ERROR_INVALID_HANDLE when no key is held.
    [[nodiscard]] LONG deleteValue(const std::string& name) const;

private:
    HKEY key_ = nullptr;
};
