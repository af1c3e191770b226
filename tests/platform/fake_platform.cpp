#include "fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>

namespace fake {

bool NoCase::operator()(const std::string& a, const std::string& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

bool operator==(const Value& a, const Value& b)
{
    return a.type == b.type && a.data == b.data;
}

void PrintTo(const Value& value, std::ostream* out)
{
    *out << "type " << value.type << " \"";
    for (const char c : value.data) {
        if (c == '\0') {
            *out << "\\0";
        } else {
            *out << c;
        }
    }
    *out << '"';
}

bool operator==(const Box& a, const Box& b)
{
    return a.text == b.text && a.caption == b.caption && a.style == b.style;
}

void PrintTo(const Box& box, std::ostream* out)
{
    *out << '[' << box.caption << ", style " << box.style << "] " << box.text;
}

Platform& platform()
{
    static Platform state;
    return state;
}

void reset()
{
    platform() = Platform{};
}

} // namespace fake

namespace {

LONG record(std::string function, const char* subject, LONG result)
{
    auto& state = fake::platform();
    const auto failure = state.failures.find(function + ' ' + subject);
    if (result == ERROR_SUCCESS && failure != state.failures.end()) {
        result = failure->second;
    }
    state.calls.push_back({std::move(function), subject, result});
    return result;
}

// The values behind an open handle, or null for a closed or unknown one.
fake::Values* valuesOf(HKEY key)
{
    auto& state = fake::platform();
    const auto open = state.openKeys.find(key);
    return open == state.openKeys.end() ? nullptr : &state.keys.at(open->second);
}

} // namespace

LONG RegOpenKeyExA(HKEY root, const char* subkey, DWORD, REGSAM, HKEY* result)
{
    auto& state = fake::platform();
    *result = nullptr;
    const std::string rootName = root == HKEY_LOCAL_MACHINE ? "HKLM" : root == HKEY_CURRENT_USER ? "HKCU" : "";
    if (rootName.empty()) {
        return record("RegOpenKeyExA", subkey, ERROR_INVALID_HANDLE);
    }
    const auto key = state.keys.find(rootName + '\\' + subkey);
    const LONG status = record("RegOpenKeyExA", subkey, key == state.keys.end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    if (status == ERROR_SUCCESS) {
        static std::uintptr_t lastHandle = 0x1000;
        *result = reinterpret_cast<HKEY>(lastHandle += 4);
        state.openKeys[*result] = key->first;
    }
    return status;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    const char* const function = data == nullptr ? "RegQueryValueExA(size)" : "RegQueryValueExA(data)";
    fake::Values* const values = valuesOf(key);
    if (values == nullptr) {
        return record(function, name, ERROR_INVALID_HANDLE);
    }
    const auto value = values->find(name);
    if (value == values->end()) {
        return record(function, name, ERROR_FILE_NOT_FOUND);
    }
    const std::string& bytes = value->second.data;
    const bool fits = data == nullptr || *size >= bytes.size();
    const LONG status = record(function, name, fits ? ERROR_SUCCESS : ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
        return status;
    }
    if (type != nullptr) {
        *type = value->second.type;
    }
    if (status == ERROR_SUCCESS && data != nullptr) {
        std::copy(bytes.begin(), bytes.end(), data);
    }
    *size = static_cast<DWORD>(bytes.size());
    if (data == nullptr && fake::platform().afterSizeProbe) {
        fake::platform().afterSizeProbe();
    }
    return status;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    fake::Values* const values = valuesOf(key);
    const LONG status = record("RegSetValueExA", name, values == nullptr ? ERROR_INVALID_HANDLE : ERROR_SUCCESS);
    if (status == ERROR_SUCCESS) {
        (*values)[name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
    }
    return status;
}

LONG RegDeleteValueA(HKEY key, const char* name)
{
    fake::Values* const values = valuesOf(key);
    if (values == nullptr) {
        return record("RegDeleteValueA", name, ERROR_INVALID_HANDLE);
    }
    const auto value = values->find(name);
    const LONG status = record("RegDeleteValueA", name, value == values->end() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    if (status == ERROR_SUCCESS) {
        values->erase(value);
    }
    return status;
}

LONG RegCloseKey(HKEY key)
{
    const bool open = fake::platform().openKeys.erase(key) == 1;
    return record("RegCloseKey", "", open ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT style)
{
    fake::platform().boxes.push_back({text, caption, style});
    record("MessageBoxA", caption, ERROR_SUCCESS);
    return 1; // IDOK
}
