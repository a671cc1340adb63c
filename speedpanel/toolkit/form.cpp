// Forms: creation of the window and its controls, placement, showing (also
// modally), keyboard and mouse handling, and the toolkit's default message handling.
#include "speedpanel/toolkit/form.h"
#include "speedpanel/toolkit/detail.h"
#include "speedpanel/toolkit/nonvisual.h"
#include <algorithm>
#include <windowsx.h>

namespace velotune::tk {

namespace detail {
HFONT MakeFont(const FontDef& f) {
    return CreateFontA(f.height, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, f.face);
}

bool RegisterOnce(const char* name, WNDPROC proc, UINT style, HICON icon, HCURSOR cursor) {
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExA(inst, name, &existing)) return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hIcon = icon;
    // The same picture serves as the small icon, drawn scaled; without one the
    // system would make a scaled copy from the resource for every class.
    wc.hIconSm = icon;
    wc.hCursor = cursor;
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}
} // namespace detail

COLORREF ResolveColor(COLORREF c) {
    if ((c & 0xFF000000u) == 0xFF000000u) return GetSysColor(static_cast<int>(c & 0xFFu));
    return c;
}

TForm::TForm(TComponent* owner, const FormDef& def, std::span<const ControlDef> controls)
    : TComponent(owner), className_(def.className), caption_(def.caption), width_(def.width),
      height_(def.height), color_(def.color), position_(def.position), stayOnTop_(def.stayOnTop) {
    KeyPreview = def.keyPreview;
    font_.Reset(detail::MakeFont(def.font));
    for (const ControlDef& d : controls) {
        TControl* parent = nullptr;
        if (d.parent) {
            parent = FindControl(d.parent);
            if (!parent) throw Exception(std::string("Unknown parent ") + d.parent);
        }
        controls_.push_back(std::make_unique<TControl>(*this, d, parent));
    }
    // Option buttons: the checked one of each group is its tab stop.
    for (auto& c : controls_)
        if (c->kind_ == ControlKind::RadioButton && c->checked_) c->SetChecked(true);
    TheScreen().AddForm(this);
}

TForm::~TForm() {
    // The derived form is gone already: its handlers must not run while the
    // window and the components go.
    DropHandlers();
    DestroyComponents();
    TheScreen().RemoveForm(this);
    window_.Reset();
}

void TForm::DropHandlers() {
    OnShow = nullptr;
    OnActivate = nullptr;
    OnDeactivate = nullptr;
    OnKeyUp = nullptr;
    map_.clear();
    for (auto& c : controls_) {
        c->OnClick = nullptr;
        c->OnChange = nullptr;
        c->OnMouseDown = nullptr;
        c->OnKeyUp = nullptr;
    }
}

void TForm::CreateParams(TCreateParams& p) {
    p.className = className_;
    p.caption = caption_;
    p.style = WS_POPUP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    p.exStyle = 0;
    p.x = left_;
    p.y = top_;
    p.width = width_;
    p.height = height_;
    p.parent = nullptr;
}

void TForm::HandleNeeded() {
    if (window_) return;
    // A placement still to come is where the window is made: the showing that
    // applies it then finds it there, unless what it depends on has moved.
    if (placementPending_) {
        const POINT pt = PlacedAt();
        left_ = pt.x;
        top_ = pt.y;
    }
    TCreateParams p;
    CreateParams(p);
    // Made topmost at once rather than moved into the topmost band afterwards.
    if (stayOnTop_) p.exStyle |= WS_EX_TOPMOST;
    HICON icon = App() ? App()->Icon().Handle() : nullptr;
    if (!detail::RegisterOnce(p.className.c_str(), &BoundWindowProc<TForm>, CS_DBLCLKS, icon,
                              LoadCursor(nullptr, IDC_ARROW)))
        throw EOutOfResources("Cannot register window class " + p.className);
    HWND h = CreateWindowExA(p.exStyle, p.className.c_str(), p.caption.c_str(), p.style, p.x, p.y,
                             p.width, p.height, p.parent, nullptr, GetModuleHandleA(nullptr), this);
    if (!h) throw EOutOfResources("Cannot create window " + p.className);
    creationPending_ = true;
    CreateControls(true);
}

namespace {
// A timer of the form's own window: the first idle moment after the first showing.
constexpr UINT_PTR kCompleteCreationTimer = 0x7A11;

// The windowed controls directly inside parent (the form for null), in tab order.
std::vector<TControl*> TabOrdered(const std::vector<std::unique_ptr<TControl>>& all,
                                  const TControl* parent) {
    std::vector<TControl*> children;
    for (auto& c : all)
        if (c->Parent() == parent && c->Windowed()) children.push_back(c.get());
    std::stable_sort(children.begin(), children.end(), [](TControl* a, TControl* b) {
        return a->TabOrder() < b->TabOrder();
    });
    return children;
}
} // namespace

bool TForm::NeededForFirstPaint(const TControl& c) const {
    if (!c.Visible()) return false;
    RECT bounds = c.FormBounds();
    RECT window{0, 0, width_, height_};
    RECT both;
    return IntersectRect(&both, &bounds, &window) != FALSE;
}

void TForm::CreateChildren(TControl* parent, HWND parentWindow) {
    for (TControl* c : TabOrdered(controls_, parent)) {
        c->CreateWindowed(parentWindow);
        if (c->kind_ == ControlKind::GroupBox) CreateChildren(c, c->hwnd_);
    }
}

void TForm::CreateControls(bool firstPaintOnly) {
    // Windowed controls are made parent first and, among siblings, in tab order,
    // so the window order is the keyboard's tab order. One made later goes in
    // behind the sibling before it in that order.
    HWND previous = HWND_TOP;
    for (TControl* c : TabOrdered(controls_, nullptr)) {
        const bool wanted = !firstPaintOnly || NeededForFirstPaint(*c);
        if (wanted && !c->hwnd_) {
            c->CreateWindowed(Handle());
            if (c->kind_ == ControlKind::GroupBox) CreateChildren(c, c->hwnd_);
            if (!firstPaintOnly && c->hwnd_)
                SetWindowPos(c->hwnd_, previous, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        }
        if (c->hwnd_) previous = c->hwnd_;
    }
}

void TForm::CompleteCreation() {
    if (!window_ || !creationPending_) return;
    creationPending_ = false;
    KillTimer(Handle(), kCompleteCreationTimer);
    CreateDeferred();
}

void TForm::CreateDeferred() {
    CreateControls(false);
}

TControl* TForm::FindControl(const std::string& name) {
    for (auto& c : controls_)
        if (c->name_ == name) return c.get();
    return nullptr;
}

TControl& TForm::Control(const std::string& name) {
    TControl* c = FindControl(name);
    if (!c) throw Exception("Control not found: " + name);
    return *c;
}

TControl* TForm::ControlOf(HWND hwnd) {
    if (!hwnd) return nullptr;
    for (auto& c : controls_)
        if (c->hwnd_ == hwnd || c->listHwnd_ == hwnd) return c.get();
    return nullptr;
}

void TForm::SetCaption(const std::string& text) {
    caption_ = text;
    if (window_) SetWindowTextA(Handle(), text.c_str());
}

void TForm::SetBounds(int x, int y, int w, int h) {
    left_ = x;
    top_ = y;
    width_ = w;
    height_ = h;
    if (window_) SetWindowPos(Handle(), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetWidth(int w) {
    SetBounds(left_, top_, w, height_);
}
void TForm::SetHeight(int h) {
    SetBounds(left_, top_, width_, h);
}

void TForm::SetPosition(TPosition p) {
    position_ = p;
    placementPending_ = true;
}

POINT TForm::PlacementPoint(TPosition p, const RECT& screen, const RECT& mainForm, bool haveMain,
                            int width, int height) {
    if (p == TPosition::poMainFormCenter && haveMain) return CentredIn(mainForm, width, height);
    return CentredIn(screen, width, height);
}

POINT TForm::PlacedAt() const {
    if (position_ == TPosition::poDesigned) return POINT{left_, top_};
    RECT screen{0, 0, Screen::Width(), Screen::Height()};
    RECT main{};
    TForm* mf = MainForm();
    bool haveMain = mf && mf != this && mf->Visible();
    if (haveMain) GetWindowRect(mf->Handle(), &main);
    return PlacementPoint(position_, screen, main, haveMain, width_, height_);
}

void TForm::ApplyPlacement() {
    placementPending_ = false;
    const POINT pt = PlacedAt();
    // Made there already (HandleNeeded places a form it creates): no move.
    if (pt.x == left_ && pt.y == top_) return;
    SetBounds(pt.x, pt.y, width_, height_);
}

void TForm::Show() {
    HandleNeeded();
    if (placementPending_) ApplyPlacement();
    if (!IsWindowVisible(Handle())) ShowWindow(Handle(), SW_SHOW);
    // Timer messages come after paint messages: the rest is made once the
    // first paint is done.
    if (creationPending_) SetTimer(Handle(), kCompleteCreationTimer, USER_TIMER_MINIMUM, nullptr);
}

void TForm::Hide() {
    if (window_) ShowWindow(Handle(), SW_HIDE);
}

namespace {
struct DisableState {
    HWND except;
    std::vector<HWND> disabled;
};
BOOL CALLBACK DisableOne(HWND h, LPARAM l) {
    auto* s = reinterpret_cast<DisableState*>(l);
    if (h != s->except && IsWindowVisible(h) && IsWindowEnabled(h)) {
        EnableWindow(h, FALSE);
        s->disabled.push_back(h);
    }
    return TRUE;
}
} // namespace

int TForm::ShowModal() {
    if (modal_) {
        // Already showing modally: bring it forward instead of nesting a second showing.
        SetForegroundWindow(Handle());
        return mrNone;
    }
    HandleNeeded();
    modal_ = true;
    modalResult_ = mrNone;
    HWND previous = GetActiveWindow();
    Show();
    SetForegroundWindow(Handle());
    DisableState state{Handle(), {}};
    EnumThreadWindows(GetCurrentThreadId(), &DisableOne, reinterpret_cast<LPARAM>(&state));
    MSG msg;
    while (modalResult_ == mrNone) {
        BOOL r = GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam)); // for the outer loop
            modalResult_ = mrCancel;
            break;
        }
        if (r == -1) break;
        if (App())
            App()->ProcessMessage(msg);
        else {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    for (HWND h : state.disabled)
        if (IsWindow(h)) EnableWindow(h, TRUE);
    bool wasForeground = GetForegroundWindow() == Handle();
    modal_ = false;
    Hide();
    if (wasForeground && previous && previous != Handle() && IsWindow(previous) &&
        IsWindowVisible(previous))
        SetActiveWindow(previous);
    int result = modalResult_;
    return result == mrNone ? mrCancel : result;
}

void TForm::SetModalResult(int r) {
    modalResult_ = r;
    if (window_) PostMessageA(Handle(), WM_NULL, 0, 0); // wakes the modal loop
}

void TForm::Close() {
    if (modal_)
        SetModalResult(mrCancel);
    else if (App() && App()->MainForm() == this)
        App()->Terminate();
    else
        Hide();
}

void TForm::FocusFirst() {
    if (lastFocus_ && IsWindow(lastFocus_) && IsChild(Handle(), lastFocus_) &&
        IsWindowVisible(lastFocus_) && IsWindowEnabled(lastFocus_)) {
        ::SetFocus(lastFocus_);
        return;
    }
    // First tab stop in tab order.
    std::function<HWND(HWND)> first = [&](HWND parent) -> HWND {
        for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (!IsWindowVisible(c) || !IsWindowEnabled(c)) continue;
            LONG_PTR st = GetWindowLongPtrA(c, GWL_STYLE);
            if (st & WS_TABSTOP) return c;
            if (GetWindowLongPtrA(c, GWL_EXSTYLE) & WS_EX_CONTROLPARENT)
                if (HWND inner = first(c)) return inner;
        }
        return nullptr;
    };
    if (HWND c = first(Handle())) ::SetFocus(c);
}

TControl* TForm::GraphicAt(int x, int y) {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        TControl* c = it->get();
        if (c->Windowed() || c->parent_ || !c->visible_) continue;
        RECT r = c->FormBounds();
        POINT pt{x, y};
        if (PtInRect(&r, pt)) return c;
    }
    return nullptr;
}

void TForm::MouseDown(TMouseButton button, int x, int y, WPARAM keys) {
    TControl* c = GraphicAt(x, y);
    if (!c || !c->enabled_) return;
    if (c->kind_ == ControlKind::SpeedButton) {
        if (button != mbLeft) return;
        pressed_ = c;
        pressedInside_ = true;
        SetCapture(Handle());
        RECT r = c->FormBounds();
        InvalidateRect(Handle(), &r, FALSE);
        return;
    }
    if (c->OnMouseDown) {
        TShiftState s = KeyboardShiftState();
        if (keys & MK_LBUTTON) s.Add(ssLeft);
        if (keys & MK_RBUTTON) s.Add(ssRight);
        if (keys & MK_MBUTTON) s.Add(ssMiddle);
        RECT r = c->FormBounds();
        c->OnMouseDown(this, button, s, x - r.left, y - r.top);
    }
}

void TForm::MouseMove(int x, int y) {
    if (!pressed_) return;
    RECT r = pressed_->FormBounds();
    POINT pt{x, y};
    bool inside = PtInRect(&r, pt);
    if (inside != pressedInside_) {
        pressedInside_ = inside;
        InvalidateRect(Handle(), &r, FALSE);
    }
}

void TForm::MouseUp(int x, int y) {
    if (!pressed_) return;
    TControl* c = pressed_;
    RECT r = c->FormBounds();
    POINT pt{x, y};
    bool inside = PtInRect(&r, pt);
    pressed_ = nullptr;
    pressedInside_ = false;
    if (GetCapture() == Handle()) ReleaseCapture();
    InvalidateRect(Handle(), &r, FALSE);
    UpdateWindow(Handle());
    if (inside) c->Click();
}

void TForm::DispatchKeyUp(HWND target, WORD key, TShiftState shift) {
    WORD k = key;
    if (KeyPreview && OnKeyUp) OnKeyUp(this, k, shift);
    if (k == 0) return;
    TControl* c = ControlOf(target);
    if (c && c->OnKeyUp) c->OnKeyUp(this, k, shift);
}

bool TForm::PreTranslateMessage(MSG& msg) {
    if (!window_ || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    // Keyboard navigation reaches every control.
    CompleteCreation();
    if (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP)
        DispatchKeyUp(msg.hwnd, static_cast<WORD>(msg.wParam), KeyboardShiftState());
    if (!window_) return true;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
        // Enter on a focused push button presses it.
        TControl* c = ControlOf(msg.hwnd);
        if (c && c->kind_ == ControlKind::Button) {
            c->Command(BN_CLICKED);
            return true;
        }
    }
    return IsDialogMessageA(Handle(), &msg) != FALSE;
}

void TForm::Attach(HWND hwnd) {
    window_ = UniqueWindow(hwnd);
}

void TForm::Detach() {
    window_.Release();
    for (auto& c : controls_)
        c->DestroyWindowed();
}

LRESULT TForm::HandleMessage(HWND, UINT msg, WPARAM w, LPARAM l) {
    TMessage m{msg, w, l, 0};
    return WndProc(m);
}

LRESULT TForm::WndProc(TMessage& m) {
    if (m.Msg == WM_TIMER && m.WParam == kCompleteCreationTimer) {
        CompleteCreation();
        return 0;
    }
    auto it = map_.find(m.Msg);
    if (it != map_.end())
        it->second(m);
    else
        DefaultHandler(m);
    return m.Result;
}

void TForm::DefaultHandler(TMessage& m) {
    HWND h = Handle();
    m.Result = 0;
    switch (m.Msg) {
    case WM_PAINT:
        Paint();
        return;
    case WM_ERASEBKGND:
        m.Result = 1;
        return;
    case WM_SHOWWINDOW:
        if (m.WParam && OnShow) OnShow(this);
        break;
    case WM_ACTIVATE:
        if (LOWORD(m.WParam) != WA_INACTIVE) {
            TheScreen().SetActiveForm(this);
            m.Result = DefWindowProcA(h, m.Msg, m.WParam, m.LParam);
            if (!HIWORD(m.WParam)) FocusFirst();
            if (OnActivate) OnActivate(this);
        } else {
            HWND f = GetFocus();
            if (f && IsChild(h, f)) lastFocus_ = f;
            if (OnDeactivate) OnDeactivate(this);
        }
        return;
    case WM_CLOSE:
        Close();
        return;
    case WM_WINDOWPOSCHANGED: {
        RECT r;
        GetWindowRect(h, &r);
        left_ = r.left;
        top_ = r.top;
        width_ = r.right - r.left;
        height_ = r.bottom - r.top;
        break;
    }
    case WM_SYSCOMMAND:
        // The main form's minimise and restore are the application's.
        if (App() && App()->MainForm() == this && App()->Handle()) {
            WPARAM cmd = m.WParam & 0xFFF0;
            if (cmd == SC_MINIMIZE || (cmd == SC_RESTORE && App()->Minimized())) {
                m.Result = SendMessageA(App()->Handle(), WM_SYSCOMMAND, m.WParam, m.LParam);
                return;
            }
        }
        break;
    case WM_COMMAND:
        if (m.LParam) {
            if (TControl* c = ControlOf(reinterpret_cast<HWND>(m.LParam))) {
                c->Command(HIWORD(m.WParam));
                return;
            }
        } else if (HIWORD(m.WParam) == 0) {
            TMenu::DispatchCommand(LOWORD(m.WParam));
            return;
        }
        break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        if (TControl* c = ControlOf(reinterpret_cast<HWND>(m.LParam))) {
            if (HBRUSH b = c->CtlColor(reinterpret_cast<HDC>(m.WParam))) {
                m.Result = reinterpret_cast<LRESULT>(b);
                return;
            }
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        MouseDown(mbLeft, GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam), m.WParam);
        return;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        MouseDown(mbRight, GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam), m.WParam);
        return;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        MouseDown(mbMiddle, GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam), m.WParam);
        return;
    case WM_MOUSEMOVE:
        MouseMove(GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam));
        return;
    case WM_LBUTTONUP:
        MouseUp(GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam));
        return;
    case WM_CAPTURECHANGED:
        if (pressed_ && reinterpret_cast<HWND>(m.LParam) != h) {
            RECT r = pressed_->FormBounds();
            pressed_ = nullptr;
            InvalidateRect(h, &r, FALSE);
        }
        return;
    default:
        break;
    }
    m.Result = h ? DefWindowProcA(h, m.Msg, m.WParam, m.LParam) : 0;
}

// ---- screen -------------------------------------------------------------------

Screen& TheScreen() {
    static Screen screen;
    return screen;
}

Screen::Screen() {
    SetFormOfWindow([](HWND hwnd) -> TAppForm* { return TheScreen().FormOf(hwnd); });
}

TForm* MainForm() {
    // Every main form is a TForm: SetMainForm is given forms only.
    return App() ? static_cast<TForm*>(App()->MainForm()) : nullptr;
}

void Screen::AddForm(TForm* f) {
    if (std::find(forms_.begin(), forms_.end(), f) == forms_.end()) forms_.push_back(f);
}

void Screen::RemoveForm(TForm* f) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), f), forms_.end());
    if (activeForm_ == f) activeForm_ = nullptr;
}

TForm* Screen::FormOf(HWND hwnd) const {
    if (!hwnd) return nullptr;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    for (TForm* f : forms_) {
        if (f->Handle() && (f->Handle() == hwnd || f->Handle() == root)) return f;
    }
    return nullptr;
}

} // namespace velotune::tk
