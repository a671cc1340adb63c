// Basic types of the panel's GUI toolkit: exceptions, the message record,
// event shapes, non-owning window views and owning handle types.
#pragma once

#include "common/uniquehandle.h"

#include <windows.h>
#include <cstdint>
#include <exception>
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

// Owning handles: the programs' one UniqueHandle, with null as the empty value.
using velotune::UniqueHandle;

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
struct DcFree {
    void operator()(HDC h) const { ::DeleteDC(h); }
};
using UniqueBitmap = UniqueHandle<HBITMAP, GdiFree>;
using UniqueFont = UniqueHandle<HFONT, GdiFree>;
using UniqueBrush = UniqueHandle<HBRUSH, GdiFree>;
using UniquePen = UniqueHandle<HPEN, GdiFree>;
using UniqueIconHandle = UniqueHandle<HICON, IconFree>;
using UniqueMenu = UniqueHandle<HMENU, MenuFree>;
using UniqueWindow = UniqueHandle<HWND, WindowFree>;
// A memory device context, compatible with the given one (null: the screen).
class MemoryDC : public UniqueHandle<HDC, DcFree> {
public:
    explicit MemoryDC(HDC compatibleWith) : UniqueHandle(::CreateCompatibleDC(compatibleWith)) {}
};

// The paint scope of a window: BeginPaint on entry, EndPaint on exit.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) : hwnd_(hwnd), dc_(::BeginPaint(hwnd, &ps_)) {}
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
    HDC DC() const { return dc_; }
    const RECT& Dirty() const { return ps_.rcPaint; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// An object selected into a device context for the scope; the previous one is
// selected back on exit. The object itself stays with its owner.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;
    ~SelectScope() {
        if (old_) ::SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// An exception escaping a handler goes to the application's error box (or is
// dropped when there is no application).
void ReportException(std::exception_ptr error);

// Runs a handler with its exceptions reported. Used by every window procedure.
template <class F> void Guarded(F&& f) {
    try {
        f();
    } catch (...) {
        ReportException(std::current_exception());
    }
}

// The window procedure of windows bound to an object of class T. The object
// comes in lpCreateParams; it is bound at WM_NCCREATE with T::Attach(hwnd),
// gets every message up to WM_NCDESTROY in T::HandleMessage (its exceptions
// reported, the result then 0) and is unbound with T::Detach() at WM_NCDESTROY.
// Messages before the binding and after the unbinding get default processing.
template <class T> LRESULT CALLBACK BoundWindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
        auto* object = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        if (object) object->Attach(hwnd);
    }
    auto* self = reinterpret_cast<T*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (self) self->Detach();
        return ::DefWindowProcA(hwnd, msg, w, l);
    }
    if (!self) return ::DefWindowProcA(hwnd, msg, w, l);
    LRESULT result = 0;
    bool failed = true;
    Guarded([&] {
        result = self->HandleMessage(hwnd, msg, w, l);
        failed = false;
    });
    return failed ? 0 : result;
}

} // namespace velotune::tk
