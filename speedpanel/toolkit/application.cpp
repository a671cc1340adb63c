#include "speedpanel/toolkit/application.h"
#include "speedpanel/toolkit/detail.h"
#include <algorithm>
#include <commctrl.h>

namespace velotune::tk {

namespace {
Application* g_app = nullptr;
TFormOfWindow g_formOf = nullptr;
constexpr char kAppClass[] = "TApplication";
constexpr char kUtilClass[] = "TPUtilWindow";
} // namespace

Application* App() {
    return g_app;
}

void SetFormOfWindow(TFormOfWindow fn) {
    g_formOf = fn;
}

TShiftState KeyboardShiftState() {
    TShiftState s;
    if (GetKeyState(VK_SHIFT) < 0) s.Add(ssShift);
    if (GetKeyState(VK_CONTROL) < 0) s.Add(ssCtrl);
    if (GetKeyState(VK_MENU) < 0) s.Add(ssAlt);
    return s;
}

std::string Window::Text() const {
    int n = GetWindowTextLengthA(h_);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    n = GetWindowTextA(h_, s.data(), n + 1);
    s.resize(static_cast<size_t>(n < 0 ? 0 : n));
    return s;
}

Application::Application() {
    if (!g_app) g_app = this;
}

Application::~Application() {
    handle_.Reset();
    if (g_app == this) g_app = nullptr;
}

void ReportException(std::exception_ptr error) {
    if (g_app) g_app->HandleException(error);
}

bool Application::Initialize(const std::string& title, int iconResourceId, bool windowLater) {
    title_ = title;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    if (iconResourceId) icon_.LoadFromResource(iconResourceId);
    if (!detail::RegisterOnce(kAppClass, &BoundWindowProc<Application>, 0, icon_.Handle(),
                              LoadCursor(nullptr, IDC_ARROW)))
        return false;
    return windowLater || HandleNeeded();
}

bool Application::HandleNeeded() {
    if (handle_) return true;
    // The window is bound to this object while it is created.
    CreateWindowExA(WS_EX_TOOLWINDOW, kAppClass, title_.c_str(),
                    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                    GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                    nullptr, nullptr, GetModuleHandleA(nullptr), this);
    return static_cast<bool>(handle_);
}

LRESULT Application::WndProc(TMessage& m) {
    // A snapshot, and a check before each call: a hook may remove itself or others.
    const std::vector<Hook> hooks = hooks_;
    for (const Hook& h : hooks) {
        bool still = std::any_of(hooks_.begin(), hooks_.end(),
                                 [&](const Hook& x) { return x.token == h.token; });
        if (still && h.fn(m)) return m.Result;
    }
    if (m.Msg == WM_SYSCOMMAND) {
        switch (m.WParam & 0xFFF0) {
        case SC_MINIMIZE:
            Minimize();
            return 0;
        case SC_RESTORE:
            Restore();
            return 0;
        default:
            break;
        }
    }
    if (!handle_) return 0;
    return DefWindowProcA(handle_.Get(), m.Msg, m.WParam, m.LParam);
}

void Application::Minimize() {
    if (minimized_) return;
    minimized_ = true;
    if (mainForm_ && mainForm_->Handle() && IsWindowVisible(mainForm_->Handle()) &&
        !IsIconic(mainForm_->Handle()))
        ShowWindow(mainForm_->Handle(), SW_MINIMIZE);
    if (OnMinimize) OnMinimize(nullptr);
}

void Application::Restore() {
    if (!minimized_) return;
    minimized_ = false;
    if (mainForm_ && mainForm_->Handle() && IsIconic(mainForm_->Handle()))
        ShowWindow(mainForm_->Handle(), SW_RESTORE);
    if (OnRestore) OnRestore(nullptr);
}

int Application::AddHook(TWindowHook hook) {
    int token = nextToken_++;
    hooks_.push_back({token, std::move(hook)});
    return token;
}

void Application::RemoveHook(int token) {
    hooks_.erase(std::remove_if(hooks_.begin(), hooks_.end(),
                                [&](const Hook& h) { return h.token == token; }),
                 hooks_.end());
}

void Application::ProcessMessage(MSG& msg) {
    bool handled = false;
    bool failed = false;
    try {
        if (OnMessage) OnMessage(msg, handled);
        if (!handled) {
            TAppForm* form = g_formOf ? g_formOf(msg.hwnd) : nullptr;
            if (form && form->PreTranslateMessage(msg)) handled = true;
        }
    } catch (...) {
        failed = true;
        HandleException(std::current_exception());
    }
    if (handled || failed) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void Application::Run() {
    // An error while the main form is first shown reaches the caller (start-up).
    if (mainForm_) mainForm_->Show();
    MSG msg;
    while (!terminated_) {
        // A window still to come is made when the queue is first idle, which is
        // after the main form's first paint.
        if (!handle_ && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && !HandleNeeded())
            throw EOutOfResources("Cannot create the application window");
        BOOL r = GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) break;
        ProcessMessage(msg);
    }
    terminated_ = true;
}

void Application::Terminate() {
    terminated_ = true;
    PostQuitMessage(0);
}

int Application::DefaultMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return MessageBoxA(owner, text, caption, type);
}

void Application::ShowException(const std::string& text) {
    HWND owner = GetActiveWindow();
    if (!owner) owner = handle_.Get();
    messageBox_(owner, text.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

void Application::HandleException(std::exception_ptr error) {
    std::string text;
    try {
        if (error) std::rethrow_exception(error);
    } catch (const Exception& e) {
        text = e.Message();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    ShowException(text);
}

// ---- utility windows ----------------------------------------------------------

namespace {
LRESULT CALLBACK UtilProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    auto* handler = reinterpret_cast<TMessageHandler*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!handler) return DefWindowProcA(hwnd, msg, w, l);
    TMessage m{msg, w, l, 0};
    Guarded([&] { (*handler)(m); });
    return m.Result;
}
} // namespace

HWND AllocateHWnd(TMessageHandler handler) {
    if (!detail::RegisterOnce(kUtilClass, &UtilProc)) return nullptr;
    HWND h = CreateWindowExA(WS_EX_TOOLWINDOW, kUtilClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!h) return nullptr;
    auto* stored = new TMessageHandler(std::move(handler));
    SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(stored));
    return h;
}

void DeallocateHWnd(HWND hwnd) {
    if (!hwnd) return;
    auto* handler = reinterpret_cast<TMessageHandler*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
    delete handler;
}

std::string LoadStr(UINT id) {
    char buffer[1024];
    int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof(buffer));
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

} // namespace velotune::tk
