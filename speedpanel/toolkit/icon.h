// TIcon: an icon image that owns its handle.
#pragma once

#include "speedpanel/toolkit/base.h"

namespace velotune::tk {

class TIcon {
public:
    TIcon() = default;
    TIcon(TIcon&&) noexcept = default;
    TIcon& operator=(TIcon&&) noexcept = default;
    TIcon(const TIcon&) = delete;
    TIcon& operator=(const TIcon&) = delete;

    HICON Handle() const { return h_.Get(); }
    bool Empty() const { return !h_; }
    // Makes this icon a copy of another (empty when the other is empty).
    void Assign(const TIcon& other) { AssignHandle(other.Handle()); }
    // Makes this icon a copy of the image behind a handle it does not own.
    void AssignHandle(HICON h) { h_.Reset(h ? CopyIcon(h) : nullptr); }
    // Takes over a handle.
    void TakeHandle(HICON h) { h_.Reset(h); }
    void Clear() { h_.Reset(); }
    // Loads an icon of the given size from the program's resources; false if absent.
    bool LoadFromResource(int id, int size = 0) {
        HANDLE h = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, size,
                              size, size ? 0 : LR_DEFAULTSIZE);
        h_.Reset(static_cast<HICON>(h));
        return h != nullptr;
    }

private:
    UniqueIconHandle h_;
};

} // namespace velotune::tk
