// Basic types of the panel's GUI toolkit: exceptions, the message record,
// event shapes, non-owning window views and owning handle types.
#pragma once

#include <windows.h>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace velotune::tk {

class TComponent;

// The toolkit's exception class. Errors of the user-interface layer are
// raised as exceptions of this class (or derived ones); the message loop
// shows them in the standard error box and goes on.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    const char* Message() const { return what(); }
};

// A window, menu or other system object could not be created.
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// A window message as handlers see it. Result is what the window procedure returns.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

enum TMouseButton : std::uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// A set of seven flags: Shift, Alt, Ctrl, Left, Right, Middle, Double.
enum TShiftFlag : std::uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
class TShiftState {
public:
    constexpr TShiftState() = default;
    constexpr TShiftState(std::initializer_list<TShiftFlag> flags) {
        for (auto f : flags)
            bits_ |= static_cast<std::uint8_t>(1u << f);
    }
    constexpr bool Has(TShiftFlag f) const { return (bits_ >> f) & 1u; }
    constexpr TShiftState& Add(TShiftFlag f) {
        bits_ |= static_cast<std::uint8_t>(1u << f);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TShiftState&) const = default;

private:
    std::uint8_t bits_ = 0;
};

// Events are handlers bound to an object; they receive the raising component.
using TNotifyEvent = std::function<void(TComponent* sender)>;
using TMouseEvent =
    std::function<void(TComponent* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TComponent* sender, TShiftState shift, int x, int y)>;
using TKeyEvent = std::function<void(TComponent* sender, WORD& key, TShiftState shift)>;

// Binds a member function of an object to an event.
template <class T, class R, class... A> auto Bind(T* object, R (T::*method)(A...)) {
    return [object, method](A... args) -> R { return (object->*method)(args...); };
}

// Shift, Alt and Ctrl from the keyboard state of the current message.
TShiftState KeyboardShiftState();

// Non-owning view of a window. Copyable; never destroys anything.
class Window {
public:
    constexpr Window() = default;
    constexpr Window(HWND h) : h_(h) {}
    HWND Handle() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    bool IsWindow() const { return h_ && ::IsWindow(h_); }
    bool Visible() const { return h_ && ::IsWindowVisible(h_); }
    bool Enabled() const { return h_ && ::IsWindowEnabled(h_); }
    void Show(int command) const { ::ShowWindow(h_, command); }
    void Enable(bool on) const { ::EnableWindow(h_, on); }
    LONG_PTR Style() const { return ::GetWindowLongPtrA(h_, GWL_STYLE); }
    LONG_PTR ExStyle() const { return ::GetWindowLongPtrA(h_, GWL_EXSTYLE); }
    RECT Bounds() const {
        RECT r{};
        ::GetWindowRect(h_, &r);
        return r;
    }
    std::string Text() const;
    void SetText(const std::string& text) const { ::SetWindowTextA(h_, text.c_str()); }
    LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) const {
        return ::SendMessageA(h_, msg, w, l);
    }

private:
    HWND h_ = nullptr;
};

// Owning handle: releases its handle once with Free. Movable, never copyable.
template <class H, class Free> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, H{})) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) Reset(std::exchange(o.h_, H{}));
        return *this;
    }
    ~UniqueHandle() { Reset(); }
    H Get() const { return h_; }
    H Release() { return std::exchange(h_, H{}); }
    void Reset(H h = H{}) {
        if (h_) Free{}(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != H{}; }

private:
    H h_{};
};

struct GdiFree {
    void operator()(HGDIOBJ h) const { ::DeleteObject(h); }
};
struct IconFree {
    void operator()(HICON h) const { ::DestroyIcon(h); }
};
struct MenuFree {
    void operator()(HMENU h) const { ::DestroyMenu(h); }
};
struct WindowFree {
    void operator()(HWND h) const { ::DestroyWindow(h); }
};
using UniqueBitmap = UniqueHandle<HBITMAP, GdiFree>;
using UniqueFont = UniqueHandle<HFONT, GdiFree>;
using UniqueBrush = UniqueHandle<HBRUSH, GdiFree>;
using UniqueRegion = UniqueHandle<HRGN, GdiFree>;
using UniqueIconHandle = UniqueHandle<HICON, IconFree>;
using UniqueMenu = UniqueHandle<HMENU, MenuFree>;
using UniqueWindow = UniqueHandle<HWND, WindowFree>;

} // namespace velotune::tk
