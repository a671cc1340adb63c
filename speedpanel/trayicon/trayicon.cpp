#include "speedpanel/trayicon/trayicon.h"
#include "speedpanel/toolkit/form.h"
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velotune {

// The icon record is the form with the 128-byte tip and the balloon fields,
// without the later GUID and balloon icon.
#ifdef _WIN64
static_assert(NOTIFYICONDATAA_V2_SIZE == 504, "64-bit icon record");
#else
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "32-bit icon record");
#endif
static_assert(offsetof(NOTIFYICONDATAA, szTip) + sizeof(NOTIFYICONDATAA::szTip) <=
                  NOTIFYICONDATAA_V2_SIZE,
              "the tip lies inside the record the shell reads");

namespace {
// String table entries of the two failure messages.
constexpr UINT kCannotCreateIcon = 0;
constexpr UINT kCannotRemoveIcon = 5;
constexpr std::size_t kTipBound = 127;
} // namespace

namespace {
// The shell library is loaded at the first icon call, not with the program:
// a host that never shows its icon does not pay for loading it at start-up.
BOOL WINAPI NotifyIconOnDemand(DWORD message, PNOTIFYICONDATAA record) {
    using NotifyFn = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAA);
    static const NotifyFn notify = [] {
        HMODULE shell = LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return shell ? reinterpret_cast<NotifyFn>(
                           reinterpret_cast<void*>(GetProcAddress(shell, "Shell_NotifyIconA")))
                     : nullptr;
    }();
    return notify ? notify(message, record) : FALSE;
}
} // namespace

const ShellSeam& RealShellSeam() {
    static const ShellSeam real = {&NotifyIconOnDemand};
    return real;
}

TTrayIcon::TTrayIcon(tk::TComponent* owner, const ShellSeam& shell)
    : tk::TComponent(owner), shell_(shell) {
    // A component made for a designing owner is designing too.
    if (owner && owner->Designing()) SetDesigning(true);

    timer_ = std::make_unique<tk::TTimer>(nullptr, false);
    CopyApplicationIcon();

    timer_->SetEnabled(false);
    timer_->OnTimer = [this](tk::TComponent* sender) { DoOnAnimate(sender); };
    timer_->SetInterval(1000);

    if (Designing()) return;
    std::memset(&record_, 0, sizeof(record_));
    record_.cbSize = kTrayIconRecordSize;
    window_ = tk::UtilityWindow([this](tk::TMessage& m) { DoMessage(m); });
    record_.hWnd = window_.Handle();
    record_.uID = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(this));
    record_.hIcon = icon_.Handle();
    record_.uFlags = NIF_MESSAGE | NIF_ICON;
    record_.uCallbackMessage = kTrayIconCallback;
    hook_ = [this](tk::TMessage& m) { return ApplicationHookProc(m); };
    Update();
}

TTrayIcon::~TTrayIcon() {
    if (!Designing()) {
        if (shell_.notifyIcon) shell_.notifyIcon(NIM_DELETE, &record_);
        window_.Reset();
    }
    // A destroyed component must never be called by the application again.
    RemoveAppHook();
    timer_.reset();
    icon_.Clear();
    hint_.clear();
}

void TTrayIcon::CopyApplicationIcon() {
    if (tk::App())
        icon_.Assign(tk::App()->Icon());
    else
        icon_.Clear();
}

void TTrayIcon::Loaded() {
    tk::TComponent::Loaded();
    if (Icons) {
        timer_->SetEnabled(animate_);
        Icons->GetIcon(iconIndex_, icon_);
    } else {
        animate_ = false;
        CopyApplicationIcon();
    }
    Update();
}

void TTrayIcon::Notification(tk::TComponent* component, tk::TOperation operation) {
    tk::TComponent::Notification(component, operation);
    if (operation != tk::TOperation::opRemove || !component) return;
    if (component == Icons)
        Icons = nullptr;
    else if (component == PopupMenu)
        PopupMenu = nullptr;
}

// ---- properties -------------------------------------------------------------------

void TTrayIcon::SetVisible(bool value) {
    visible_ = value;
    if (Designing()) return;
    if (value) {
        if (!shell_.notifyIcon(NIM_ADD, &record_))
            throw tk::EOutOfResources(tk::LoadStr(kCannotCreateIcon));
        SetHide(true);
        AddAppHook();
    } else {
        if (!shell_.notifyIcon(NIM_DELETE, &record_))
            throw tk::EOutOfResources(tk::LoadStr(kCannotRemoveIcon));
        SetHide(false);
        RemoveAppHook();
    }
}

void TTrayIcon::SetHint(const std::string& text) {
    if (text == hint_) return;
    if (text.size() >= kTrayHintLimit) return;
    hint_ = text;
    const std::size_t n = std::min(text.size(), std::min(kTipBound, sizeof(record_.szTip) - 1));
    std::memcpy(record_.szTip, text.data(), n);
    record_.szTip[n] = '\0';
    if (text.empty())
        record_.uFlags &= ~static_cast<UINT>(NIF_TIP);
    else
        record_.uFlags |= NIF_TIP;
    Update();
}

int TTrayIcon::AnimateInterval() const {
    return static_cast<int>(timer_->Interval());
}

void TTrayIcon::SetAnimateInterval(int milliseconds) {
    timer_->SetInterval(milliseconds < 0 ? 0u : static_cast<unsigned>(milliseconds));
}

void TTrayIcon::SetAnimate(bool value) {
    if (Icons || Loading()) animate_ = value;
    if (Icons && !Designing()) timer_->SetEnabled(value);
}

void TTrayIcon::SetIconIndex(int index) {
    iconIndex_ = index;
    if (Icons) Icons->GetIcon(index, icon_);
    Update();
}

void TTrayIcon::SetDefaultIcon() {
    CopyApplicationIcon();
    Update();
}

void TTrayIcon::Update() {
    if (Designing()) return;
    record_.hIcon = icon_.Handle();
    if (visible_) shell_.notifyIcon(NIM_MODIFY, &record_);
}

void TTrayIcon::EndSession() {
    shell_.notifyIcon(NIM_DELETE, &record_);
}

// ---- animation ----------------------------------------------------------------------

void TTrayIcon::DoOnAnimate(tk::TComponent*) {
    // The image list may have gone while the timer still ran: stop, touch nothing.
    if (!Icons) {
        timer_->SetEnabled(false);
        return;
    }
    const int count = Icons->Count();
    iconIndex_ = iconIndex_ < count - 1 ? iconIndex_ + 1 : 0;
    SetIconIndex(iconIndex_);
    Update();
}

// ---- messages -----------------------------------------------------------------------

void TTrayIcon::DoMessage(tk::TMessage& message) {
    switch (message.Msg) {
    case WM_QUERYENDSESSION:
        message.Result = 1;
        break;
    case WM_ENDSESSION:
        EndSession();
        break;
    case kTrayIconCallback:
        DispatchMouse(message.LParam);
        break;
    default:
        break;
    }
}

void TTrayIcon::DispatchMouse(LPARAM mouseMessage) {
    POINT p{};
    auto cursor = [&p] {
        p = POINT{};
        GetCursorPos(&p);
    };
    tk::TShiftState shift;
    switch (static_cast<UINT>(mouseMessage)) {
    case WM_MOUSEMOVE:
        if (!OnMouseMove) break;
        shift = ShiftState();
        cursor();
        DoMouseMove(shift, p.x, p.y);
        break;
    case WM_LBUTTONDOWN:
        shift = ShiftState().Add(tk::ssLeft);
        cursor();
        DoMouseDown(tk::mbLeft, shift, p.x, p.y);
        break;
    case WM_LBUTTONUP:
        shift = ShiftState().Add(tk::ssLeft);
        cursor();
        if (OnClick) DoClick();
        DoMouseUp(tk::mbLeft, shift, p.x, p.y);
        if (RestoreOn == imLeftClickUp) Restore();
        if (PopupMenuOn == imLeftClickUp) ShowMenu();
        break;
    case WM_LBUTTONDBLCLK:
        DoDblClick();
        if (RestoreOn == imLeftDoubleClick) Restore();
        if (PopupMenuOn == imLeftDoubleClick) ShowMenu();
        break;
    case WM_RBUTTONDOWN:
        shift = ShiftState().Add(tk::ssRight);
        cursor();
        DoMouseDown(tk::mbRight, shift, p.x, p.y);
        break;
    case WM_RBUTTONUP:
        shift = ShiftState().Add(tk::ssRight);
        cursor();
        DoMouseUp(tk::mbRight, shift, p.x, p.y);
        if (RestoreOn == imRightClickUp) Restore();
        if (PopupMenuOn == imRightClickUp) ShowMenu();
        break;
    case WM_RBUTTONDBLCLK:
        DoDblClick();
        if (RestoreOn == imRightDoubleClick) Restore();
        if (PopupMenuOn == imRightDoubleClick) ShowMenu();
        break;
    case WM_MBUTTONDOWN:
        shift = ShiftState().Add(tk::ssMiddle);
        cursor();
        DoMouseDown(tk::mbMiddle, shift, p.x, p.y);
        break;
    case WM_MBUTTONUP:
        shift = ShiftState().Add(tk::ssMiddle);
        cursor();
        DoMouseUp(tk::mbMiddle, shift, p.x, p.y);
        break;
    case WM_MBUTTONDBLCLK:
        DoDblClick();
        break;
    default:
        break;
    }
}

tk::TShiftState TTrayIcon::ShiftState() const {
    tk::TShiftState s;
    if (GetKeyState(VK_SHIFT) < 0) s.Add(tk::ssShift);
    if (GetKeyState(VK_CONTROL) < 0) s.Add(tk::ssCtrl);
    if (GetKeyState(VK_MENU) < 0) s.Add(tk::ssAlt);
    return s;
}

// ---- overridable steps: the component's own choice first, the host's handler last ---

void TTrayIcon::DoClick() {
    if (RestoreOn == imClick) Restore();
    if (PopupMenuOn == imClick) ShowMenu();
    if (OnClick) OnClick(this);
}

void TTrayIcon::DoDblClick() {
    if (RestoreOn == imDoubleClick) Restore();
    if (PopupMenuOn == imDoubleClick) ShowMenu();
    if (OnDblClick) OnDblClick(this);
}

void TTrayIcon::DoMouseMove(tk::TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TTrayIcon::DoMouseDown(tk::TMouseButton button, tk::TShiftState shift, int x, int y) {
    if (RestoreOn == imMouseDown) Restore();
    if (PopupMenuOn == imMouseDown) ShowMenu();
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TTrayIcon::DoMouseUp(tk::TMouseButton button, tk::TShiftState shift, int x, int y) {
    if (RestoreOn == imMouseUp) Restore();
    if (PopupMenuOn == imMouseUp) ShowMenu();
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

// ---- menu, minimize, restore ------------------------------------------------------------

void TTrayIcon::ShowMenu() {
    if (!PopupMenu) return;
    POINT p{};
    GetCursorPos(&p);
    tk::TForm* active = tk::TheScreen().ActiveForm();
    if (active && active->Handle()) SetForegroundWindow(active->Handle());
    PopupMenu->Popup(p.x, p.y);
}

void TTrayIcon::Minimize() {
    if (tk::Application* app = tk::App()) {
        app->Minimize();
        if (app->Handle()) ShowWindow(app->Handle(), SW_HIDE);
    }
    if (OnMinimize) OnMinimize(this);
}

void TTrayIcon::Restore() {
    if (tk::Application* app = tk::App()) {
        app->Restore();
        if (app->Handle()) {
            ShowWindow(app->Handle(), SW_RESTORE);
            SetForegroundWindow(app->Handle());
        }
    }
    if (OnRestore) OnRestore(this);
}

// ---- application hook ---------------------------------------------------------------------

bool TTrayIcon::ApplicationHookProc(tk::TMessage& message) {
    if (message.Msg == WM_SYSCOMMAND) {
        // WParam compared whole on purpose: a command with its low four bits set is not taken.
        if (message.WParam == SC_MINIMIZE)
            Minimize();
        else if (message.WParam == SC_RESTORE)
            Restore();
    }
    return false;
}

void TTrayIcon::AddAppHook() {
    // Placing the icon again keeps the one registration it has.
    if (hookToken_ || !hook_) return;
    if (tk::Application* app = tk::App()) hookToken_ = app->AddHook(hook_);
}

void TTrayIcon::RemoveAppHook() {
    if (!hookToken_) return;
    if (tk::Application* app = tk::App()) app->RemoveHook(hookToken_);
    hookToken_ = 0;
}

} // namespace velotune
