// Owning handle types: one class for every system handle the programs own,
// with the handle's empty value and its release as policies. Window, menu and
// GDI handles are empty when null; a file handle is empty when it is
// INVALID_HANDLE_VALUE, which is what CreateFile gives on failure.
#pragma once

#include <windows.h>
#include <utility>

namespace velotune {

// Empty-value policies: `Value()` is the handle that owns nothing.
template <class H> struct NullIsEmpty {
    static H Value() { return H{}; }
};
struct InvalidHandleIsEmpty {
    static HANDLE Value() { return INVALID_HANDLE_VALUE; }
};

// Releases its handle once with Free, never the empty value. Movable, never
// copyable. The Free object travels with the handle, so a release that goes
// through a seam's function reaches the same function wherever the handle moves.
template <class H, class Free, class Empty = NullIsEmpty<H>> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h, Free free = Free{}) : h_(h), free_(std::move(free)) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Release()), free_(std::move(o.free_)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            Reset(o.Release()); // the old handle goes with the old Free
            free_ = std::move(o.free_);
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }
    H Get() const { return h_; }
    H Release() { return std::exchange(h_, Empty::Value()); }
    void Reset(H h = Empty::Value()) {
        if (h_ != Empty::Value()) free_(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != Empty::Value(); }

private:
    H h_ = Empty::Value();
    [[no_unique_address]] Free free_{};
};

// Kernel handles closed with CloseHandle, or with a seam's replacement for it.
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
struct HandleClose {
    CloseHandleFn close = &::CloseHandle;
    void operator()(HANDLE h) const { close(h); }
};
// A file or device from CreateFile: empty when INVALID_HANDLE_VALUE.
using UniqueFileHandle = UniqueHandle<HANDLE, HandleClose, InvalidHandleIsEmpty>;
// A thread, process, mutex or event: empty when null.
using UniqueKernelHandle = UniqueHandle<HANDLE, HandleClose>;

} // namespace velotune
