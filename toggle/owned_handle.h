#pragma once

#include <windows.h>

// The one owner of a handle that `release` gives back: it releases the handle once, when
// it ends, and cannot be copied. A null handle is no handle.
template <typename Handle, auto release>
class Owned {
public:
    Owned() = default;
    // Takes over `handle`, which may be null.
    explicit Owned(Handle handle) : handle_(handle) {}
    ~Owned()
    {
        if (handle_ != nullptr) {
            release(handle_);
        }
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    // The handle, still owned here; null when none is held.
    Handle get() const { return handle_; }
    // Where a platform call stores a new handle for this owner; only while none is held.
    Handle* receive() { return &handle_; }

private:
    Handle handle_ = nullptr;
};

// A process or token handle.
using OwnedHandle = Owned<HANDLE, &::CloseHandle>;
// A DLL the program loaded.
using OwnedLibrary = Owned<HMODULE, &::FreeLibrary>;
// Text that the system allocated for a result, as ConvertSidToStringSidA does.
using OwnedLocalText = Owned<char*, &::LocalFree>;
