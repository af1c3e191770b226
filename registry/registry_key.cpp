#include "registry/registry_key.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

RegistryKey::~RegistryKey()
{
    close();
}

LONG RegistryKey::open(HKEY root, const std::string& subkey, REGSAM access)
{
    close();
    return RegOpenKeyExA(root, subkey.c_str(), 0, access, &key_);
}

LONG RegistryKey::create(HKEY root, const std::string& subkey, REGSAM access)
{
    close();
    return RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key_, nullptr);
}

void RegistryKey::close()
{
    if (key_ == nullptr) {
        return;
    }
    RegCloseKey(key_);
    key_ = nullptr;
}

bool RegistryKey::readString(const std::string& name, std::string& out) const
{
    if (key_ == nullptr) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    if (size == 0) {
        out.clear();
        return true;
    }
    // A value can be as large as the registry allows, so running out of memory is
    // a failed read, not a crash.
    const std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) {
        return false;
    }
    // A value that grew since the probe fails here with ERROR_MORE_DATA.
    if (RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, buffer.get(), &size) != ERROR_SUCCESS) {
        return false;
    }
    const char* const bytes = reinterpret_cast<const char*>(buffer.get());
    out.assign(bytes, std::find(bytes, bytes + size, '\0'));
    return true;
}

bool RegistryKey::readDword(const std::string& name, DWORD& out) const
{
    if (key_ == nullptr) {
        return false;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return false;
    }
    out = value;
    return true;
}

bool RegistryKey::writeString(const std::string& name, const std::string& text) const
{
    if (key_ == nullptr) {
        return false;
    }
    const DWORD size = static_cast<DWORD>(std::strlen(text.c_str())) + 1;
    return RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          size) == ERROR_SUCCESS;
}

LONG RegistryKey::deleteValue(const std::string& name) const
{
    return key_ == nullptr ? ERROR_INVALID_HANDLE : RegDeleteValueA(key_, name.c_str());
}
