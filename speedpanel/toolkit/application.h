// The application object, hidden utility windows, the standard exception box
// and string resources. The form layer (form.h) builds on this file, never the
// other way round: the application sees its forms only as TAppForm.
#pragma once

#include "speedpanel/toolkit/base.h"
#include "speedpanel/toolkit/icon.h"
#include <memory>
#include <vector>

namespace velotune::tk {

// What the application asks of a form: its window, showing it, and the message
// loop's step before dispatch (true when the message needs no dispatch). The
// form layer's TForm is one.
class TAppForm {
public:
    virtual HWND Handle() const = 0;
    virtual void Show() = 0;
    virtual bool PreTranslateMessage(MSG& msg) = 0;

protected:
    ~TAppForm() = default;
};
// The form whose window is hwnd or an ancestor of hwnd, or null. The form layer
// sets it when its first form is made; until then no message has a form.
using TFormOfWindow = TAppForm* (*)(HWND hwnd);
void SetFormOfWindow(TFormOfWindow fn);

// A handler on the application window's messages. Returning true stops the
// handling of the message there: neither later hooks nor the application see it.
using TWindowHook = std::function<bool(TMessage& message)>;
// A message taken from the queue, before it is dispatched.
using TMessageEvent = std::function<void(MSG& msg, bool& handled)>;
// The standard error box; tests replace it.
using MessageBoxFn = int (*)(HWND owner, const char* text, const char* caption, UINT type);

class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Creates the hidden application window (class "TApplication", a tool window,
    // so it never carries a taskbar button), loads the application icon from the
    // given resource id (0: none) and initialises the common controls.
    // Returns false when the window cannot be created. With windowLater the
    // window is made by Run once the main form is on screen and painted
    // (HandleNeeded makes it sooner), so that the main form does not wait for it.
    bool Initialize(const std::string& title, int iconResourceId, bool windowLater = false);
    // Creates the application window if it does not exist; false when it cannot.
    bool HandleNeeded();

    HWND Handle() const { return handle_.Get(); }
    const std::string& Title() const { return title_; }
    TIcon& Icon() { return icon_; }

    // The main form: the first form shown with Run; closing it ends the program.
    TAppForm* MainForm() const { return mainForm_; }
    void SetMainForm(TAppForm* form) { mainForm_ = form; }

    // Minimises the application with its main window, then raises OnMinimize.
    // Does nothing while the application is minimised already.
    void Minimize();
    // Restores the application with its main window, then raises OnRestore.
    // Does nothing while the application is not minimised.
    void Restore();
    bool Minimized() const { return minimized_; }

    TNotifyEvent OnMinimize;
    TNotifyEvent OnRestore;
    TMessageEvent OnMessage;

    // Hooks on the application window's messages. They run in the order added,
    // before the application's own handling. AddHook returns a token for RemoveHook.
    int AddHook(TWindowHook hook);
    void RemoveHook(int token);
    int HookCount() const { return static_cast<int>(hooks_.size()); }

    // Shows the main form, then processes messages until the main form closes or
    // a quit request arrives. An application window still to come is made when
    // the queue is first idle (EOutOfResources when it cannot be).
    void Run();
    // Handles one message taken from the queue: OnMessage, key preview and
    // dialog navigation of forms, then translation and dispatch.
    void ProcessMessage(MSG& msg);
    // Asks the message loop to end.
    void Terminate();
    bool Terminated() const { return terminated_; }

    // Shows the current exception in the standard error box (MB_ICONSTOP, caption =
    // the title). Toolkit and standard exceptions show their text; others an empty one.
    void HandleException(std::exception_ptr error);
    void ShowException(const std::string& text);
    void SetMessageBox(MessageBoxFn fn) { messageBox_ = fn ? fn : &DefaultMessageBox; }
    static int DefaultMessageBox(HWND owner, const char* text, const char* caption, UINT type);

    // The application window's own procedure step (public for tests): hooks, then
    // WM_SYSCOMMAND minimise and restore, then default processing.
    LRESULT WndProc(TMessage& message);

private:
    template <class T> friend LRESULT CALLBACK BoundWindowProc(HWND, UINT, WPARAM, LPARAM);
    void Attach(HWND hwnd) { handle_ = UniqueWindow(hwnd); }
    void Detach() { handle_.Release(); }
    LRESULT HandleMessage(HWND, UINT msg, WPARAM w, LPARAM l) {
        TMessage m{msg, w, l, 0};
        return WndProc(m);
    }

    struct Hook {
        int token;
        TWindowHook fn;
    };
    UniqueWindow handle_;
    std::string title_;
    TIcon icon_;
    TAppForm* mainForm_ = nullptr;
    bool minimized_ = false;
    bool terminated_ = false;
    std::vector<Hook> hooks_;
    int nextToken_ = 1;
    MessageBoxFn messageBox_ = &DefaultMessageBox;
};

// The one application object of the program (null before it exists).
Application* App();

// Hidden utility window: every message it receives after creation goes to the
// handler with Result preset to 0, and the handler's Result is returned; no
// message gets default processing. Created as a WS_POPUP tool window of class
// "TPUtilWindow", 0 x 0 at 0,0, never shown. Returns null on failure.
using TMessageHandler = std::function<void(TMessage& message)>;
HWND AllocateHWnd(TMessageHandler handler);
void DeallocateHWnd(HWND hwnd);

// Owning form of a utility window. Movable, never copyable.
class UtilityWindow {
public:
    UtilityWindow() = default;
    explicit UtilityWindow(TMessageHandler handler) : h_(AllocateHWnd(std::move(handler))) {}
    UtilityWindow(UtilityWindow&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UtilityWindow& operator=(UtilityWindow&& o) noexcept {
        if (this != &o) {
            Reset();
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    UtilityWindow(const UtilityWindow&) = delete;
    UtilityWindow& operator=(const UtilityWindow&) = delete;
    ~UtilityWindow() { Reset(); }
    HWND Handle() const { return h_; }
    void Reset() {
        if (h_) DeallocateHWnd(std::exchange(h_, nullptr));
    }

private:
    HWND h_ = nullptr;
};

// A string from the program's string table; empty when there is none.
std::string LoadStr(UINT id);

} // namespace velotune::tk
