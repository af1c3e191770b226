#pragma once

#include <windows.h>

// The one owner of a process or token handle: it closes the handle once, when it ends,
// and cannot be copied. A null handle is no handle.
class OwnedHandle {
public:
    OwnedHandle() = default;
    // Takes over `handle`, which may be null.
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle()
    {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    // The handle, still owned here; null when none is held.
    HANDLE get() const { return handle_; }
    // Where a platform call stores a new handle for this owner; only while none is held.
    HANDLE* receive() { return &handle_; }

private:
    HANDLE handle_ = nullptr;
};
