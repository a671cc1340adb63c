#include "speedpanel/toolkit/form.h"
#include "speedpanel/toolkit/nonvisual.h"
#include <algorithm>
#include <commctrl.h>
#include <windowsx.h>

namespace velotune::tk {

namespace {
constexpr char kGroupClass[] = "TGroupBox";
constexpr int kFirstId = 100;

HFONT MakeFont(const FontDef& f) {
    return CreateFontA(f.height, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, f.face);
}

bool RegisterOnce(const char* name, WNDPROC proc, HICON icon) {
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExA(inst, name, &existing)) return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hIcon = icon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

// Draws a bitmap with one colour left out.
void DrawKeyed(HDC dc, int x, int y, HBITMAP bmp, COLORREF key) {
    BITMAP bm{};
    if (!bmp || !GetObjectA(bmp, sizeof(bm), &bm)) return;
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, bmp);
    GdiTransparentBlt(dc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, bm.bmWidth, bm.bmHeight, key);
    SelectObject(mem, old);
    DeleteDC(mem);
}

SIZE BitmapSize(HBITMAP bmp) {
    BITMAP bm{};
    if (!bmp || !GetObjectA(bmp, sizeof(bm), &bm)) return SIZE{0, 0};
    return SIZE{bm.bmWidth, bm.bmHeight};
}
} // namespace

COLORREF ResolveColour(COLORREF c) {
    if ((c & 0xFF000000u) == 0xFF000000u) return GetSysColor(static_cast<int>(c & 0xFFu));
    return c;
}

// ---- controls -----------------------------------------------------------------

TControl::TControl(TForm& form, const ControlDef& d, TControl* parent)
    : form_(form), parent_(parent), name_(d.name),
      kind_(d.kind), bounds_{d.left, d.top, d.left + d.width, d.top + d.height},
      text_(d.text ? d.text : ""), tabOrder_(d.tabOrder), tabStop_(d.tabStop), visible_(d.visible),
      enabled_(d.enabled), checked_(d.checked), color_(d.color), fontColor_(d.fontColor),
      penWidth_(d.penWidth), align_(d.align), itemHeight_(d.itemHeight), margin_(d.margin),
      spacing_(d.spacing) {
    if (d.font.face) font_.Reset(MakeFont(d.font));
    if (d.picture) {
        HINSTANCE inst = GetModuleHandleA(nullptr);
        if (d.pictureIsIcon)
            icon_.TakeHandle(static_cast<HICON>(
                LoadImageA(inst, MAKEINTRESOURCEA(d.picture), IMAGE_ICON, 32, 32, 0)));
        else
            picture_.Reset(static_cast<HBITMAP>(LoadImageA(
                inst, MAKEINTRESOURCEA(d.picture), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    }
}

TControl::~TControl() = default;

bool TControl::Windowed() const {
    switch (kind_) {
    case ControlKind::GroupBox:
    case ControlKind::RadioButton:
    case ControlKind::ComboBox:
    case ControlKind::StaticText:
    case ControlKind::Button:
    case ControlKind::Memo:
        return true;
    default:
        return false;
    }
}

RECT TControl::FormBounds() const {
    RECT r = bounds_;
    for (TControl* p = parent_; p; p = p->parent_)
        OffsetRect(&r, p->bounds_.left, p->bounds_.top);
    return r;
}

HFONT TControl::Font() const {
    return font_ ? font_.Get() : form_.FontHandle();
}

std::string TControl::Text() const {
    if (hwnd_ && kind_ == ControlKind::Memo) return Window(hwnd_).Text();
    return text_;
}

void TControl::SetText(const std::string& text) {
    text_ = text;
    if (hwnd_)
        SetWindowTextA(hwnd_, text.c_str());
    else if (!Windowed() && form_.Handle()) {
        RECT r = FormBounds();
        InvalidateRect(form_.Handle(), &r, FALSE);
    }
}

void TControl::SetVisible(bool on) {
    visible_ = on;
    if (hwnd_)
        ShowWindow(hwnd_, on ? SW_SHOW : SW_HIDE);
    else if (form_.Handle()) {
        RECT r = FormBounds();
        InvalidateRect(form_.Handle(), &r, FALSE);
    }
}

void TControl::SetEnabled(bool on) {
    enabled_ = on;
    if (hwnd_)
        EnableWindow(hwnd_, on);
    else if (form_.Handle()) {
        RECT r = FormBounds();
        InvalidateRect(form_.Handle(), &r, FALSE);
    }
}

void TControl::SetFontColor(COLORREF c) {
    fontColor_ = c;
    if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

void TControl::SetFocus() {
    if (hwnd_) ::SetFocus(hwnd_);
}

std::vector<TControl*> TControl::Group() const {
    std::vector<TControl*> group;
    for (auto& c : form_.Controls())
        if (c->kind_ == ControlKind::RadioButton && c->parent_ == parent_) group.push_back(c.get());
    std::stable_sort(group.begin(), group.end(),
                     [](TControl* a, TControl* b) { return a->tabOrder_ < b->tabOrder_; });
    return group;
}

void TControl::SetChecked(bool on) {
    if (kind_ != ControlKind::RadioButton) return;
    std::vector<TControl*> group = Group();
    std::vector<OptionState> state(group.size());
    int index = -1;
    for (size_t i = 0; i < group.size(); ++i) {
        state[i].checked = group[i]->checked_;
        if (group[i] == this) index = static_cast<int>(i);
    }
    if (on)
        CheckOption(state, index);
    else {
        state[static_cast<size_t>(index)].checked = false;
        int still = -1;
        for (size_t i = 0; i < state.size(); ++i)
            if (state[i].checked) still = static_cast<int>(i);
        CheckOption(state, still);
    }
    for (size_t i = 0; i < group.size(); ++i) {
        TControl* c = group[i];
        c->checked_ = state[i].checked;
        c->tabStop_ = state[i].tabStop;
        if (c->hwnd_) {
            SendMessageA(c->hwnd_, BM_SETCHECK, c->checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
            LONG_PTR style = GetWindowLongPtrA(c->hwnd_, GWL_STYLE);
            style =
                c->tabStop_ ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
            SetWindowLongPtrA(c->hwnd_, GWL_STYLE, style);
        }
    }
}

void TControl::Add(const std::string& item) {
    if (kind_ != ControlKind::ComboBox) return;
    items_.push_back(item);
    if (hwnd_) SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TControl::Clear() {
    if (kind_ != ControlKind::ComboBox) return;
    items_.clear();
    itemIndex_ = -1;
    if (hwnd_) SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
}

int TControl::ItemIndex() const {
    if (hwnd_ && kind_ == ControlKind::ComboBox)
        return static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
    return itemIndex_;
}

void TControl::SetItemIndex(int index) {
    if (kind_ != ControlKind::ComboBox) return;
    if (index < 0 || index >= Count()) index = -1;
    itemIndex_ = index;
    if (hwnd_) SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

const std::string& TControl::Item(int index) const {
    static const std::string empty;
    if (index < 0 || index >= Count()) return empty;
    return items_[static_cast<size_t>(index)];
}

void TControl::SetPicture(HBITMAP bitmap) {
    picture_.Reset(bitmap);
    if (form_.Handle()) {
        RECT r = FormBounds();
        InvalidateRect(form_.Handle(), &r, FALSE);
    }
}

void TControl::SetTransparentColor(COLORREF c) {
    transparentSet_ = true;
    transparent_ = c;
}

COLORREF TControl::TransparentColor() const {
    if (transparentSet_ || !picture_) return transparent_;
    // Until one is set: the bottom-left pixel of the glyph.
    SIZE s = BitmapSize(picture_.Get());
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, picture_.Get());
    COLORREF c = GetPixel(mem, 0, s.cy - 1);
    SelectObject(mem, old);
    DeleteDC(mem);
    return c;
}

void TControl::Click() {
    if (enabled_ && OnClick) OnClick(&form_);
}

void TControl::Command(WORD code) {
    switch (kind_) {
    case ControlKind::Button:
        if (code == BN_CLICKED && OnClick) OnClick(&form_);
        break;
    case ControlKind::RadioButton:
        if (code == BN_CLICKED) {
            if (!checked_) SetChecked(true);
            if (OnClick) OnClick(&form_);
        }
        break;
    case ControlKind::ComboBox:
        if (code == CBN_SELCHANGE) {
            itemIndex_ = static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
            if (OnChange) OnChange(&form_);
        }
        break;
    default:
        break;
    }
}

HBRUSH TControl::CtlColor(HDC dc) {
    COLORREF bg = color_;
    if (bg == clDefault && parent_ && parent_->color_ != clDefault) bg = parent_->color_;
    if (fontColor_ != clDefault) SetTextColor(dc, ResolveColour(fontColor_));
    if (bg == clDefault) return nullptr;
    COLORREF rgb = ResolveColour(bg);
    if (!brush_ || brushColour_ != rgb) {
        brush_.Reset(CreateSolidBrush(rgb));
        brushColour_ = rgb;
    }
    SetBkColor(dc, rgb);
    return brush_.Get();
}

void TControl::CreateWindowed(HWND parentWindow) {
    const char* cls = nullptr;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD ex = 0;
    int height = bounds_.bottom - bounds_.top;
    switch (kind_) {
    case ControlKind::GroupBox:
        RegisterOnce(kGroupClass, &TControl::GroupProc, nullptr);
        cls = kGroupClass;
        style |= WS_CLIPCHILDREN | WS_GROUP;
        ex = WS_EX_CONTROLPARENT;
        break;
    case ControlKind::RadioButton: {
        cls = "BUTTON";
        style |= BS_RADIOBUTTON;
        std::vector<TControl*> group = Group();
        if (!group.empty() && group.front() == this) style |= WS_GROUP;
        break;
    }
    case ControlKind::ComboBox:
        cls = "COMBOBOX";
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_GROUP;
        height += 160; // the dropped-down list
        break;
    case ControlKind::StaticText:
        cls = "STATIC";
        style |= SS_LEFT | SS_SUNKEN | WS_GROUP;
        break;
    case ControlKind::Button:
        cls = "BUTTON";
        style |= BS_PUSHBUTTON | WS_GROUP;
        break;
    case ControlKind::Memo:
        cls = "EDIT";
        style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_GROUP;
        ex = WS_EX_CLIENTEDGE;
        break;
    default:
        return;
    }
    if (tabStop_) style |= WS_TABSTOP;
    if (visible_) style |= WS_VISIBLE;
    if (!enabled_) style |= WS_DISABLED;
    int index = 0;
    for (auto& c : form_.Controls()) {
        if (c.get() == this) break;
        ++index;
    }
    hwnd_ = CreateWindowExA(ex, cls, text_.c_str(), style, bounds_.left, bounds_.top,
                            bounds_.right - bounds_.left, height, parentWindow,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + index)),
                            GetModuleHandleA(nullptr), this);
    if (!hwnd_) throw EOutOfResources("Cannot create control " + name_);
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    switch (kind_) {
    case ControlKind::RadioButton:
        SendMessageA(hwnd_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case ControlKind::ComboBox: {
        for (auto& item : items_)
            SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(itemIndex_), 0);
        if (itemHeight_ > 0) SendMessageA(hwnd_, CB_SETITEMHEIGHT, 0, itemHeight_);
        COMBOBOXINFO info{};
        info.cbSize = sizeof(info);
        if (GetComboBoxInfo(hwnd_, &info)) listHwnd_ = info.hwndList;
        break;
    }
    case ControlKind::Memo:
        SetWindowSubclass(hwnd_, &TControl::MemoProc, 1, 0);
        break;
    default:
        break;
    }
}

void TControl::DestroyWindowed() {
    hwnd_ = nullptr;
    listHwnd_ = nullptr;
}

// A multi-line edit that leaves Tab to keyboard navigation, and that never goes
// into the dialog mode in which Esc would close its window.
LRESULT CALLBACK TControl::MemoProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
    if (msg == WM_GETDLGCODE) {
        LRESULT r = DefSubclassProc(hwnd, msg, w, 0);
        auto* m = reinterpret_cast<MSG*>(l);
        if (m && m->message == WM_KEYDOWN && m->wParam == VK_TAB)
            r &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
        return r;
    }
    return DefSubclassProc(hwnd, msg, w, l);
}

LRESULT CALLBACK TControl::GroupProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(l);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<TControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (self) self->DestroyWindowed();
        return DefWindowProcA(hwnd, msg, w, l);
    }
    if (!self) return DefWindowProcA(hwnd, msg, w, l);
    LRESULT result = 0;
    Guarded([&] {
        switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            self->PaintGroup(dc);
            EndPaint(hwnd, &ps);
            break;
        }
        case WM_ERASEBKGND:
            result = 1;
            break;
        case WM_ENABLE:
        case WM_SETTEXT:
            result = DefWindowProcA(hwnd, msg, w, l);
            InvalidateRect(hwnd, nullptr, TRUE);
            break;
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_MEASUREITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            // Controls inside the group report to the form.
            result = self->form_.Handle() ? SendMessageA(self->form_.Handle(), msg, w, l)
                                          : DefWindowProcA(hwnd, msg, w, l);
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            self->groupPressed_ = true;
            break;
        case WM_LBUTTONUP:
            if (self->groupPressed_) {
                self->groupPressed_ = false;
                self->Click();
            }
            break;
        default:
            result = DefWindowProcA(hwnd, msg, w, l);
        }
    });
    return result;
}

void TControl::PaintGroup(HDC dc) {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    COLORREF bg = ResolveColour(color_ == clDefault ? form_.Color() : color_);
    HBRUSH brush = CreateSolidBrush(bg);
    FillRect(dc, &rc, brush);
    HGDIOBJ oldFont = SelectObject(dc, Font());
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    RECT frame = rc;
    frame.top += tm.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    if (!text_.empty()) {
        RECT tr{8, 0, 8, tm.tmHeight};
        DrawTextA(dc, text_.c_str(), -1, &tr, DT_SINGLELINE | DT_CALCRECT);
        RECT back{tr.left - 1, tr.top, tr.right + 1, tr.bottom};
        FillRect(dc, &back, brush);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(
            dc, ResolveColour(fontColor_ == clDefault ? SysColour(COLOR_WINDOWTEXT) : fontColor_));
        DrawTextA(dc, text_.c_str(), -1, &tr, DT_SINGLELINE);
    }
    SelectObject(dc, oldFont);
    DeleteObject(brush);
}

void TControl::Paint(HDC dc, bool pressed) const {
    RECT r = FormBounds();
    const int w = r.right - r.left, h = r.bottom - r.top;
    switch (kind_) {
    case ControlKind::Image:
        if (icon_.Handle()) {
            DrawIconEx(dc, r.left, r.top, icon_.Handle(), 32, 32, 0, nullptr, DI_NORMAL);
        } else if (picture_) {
            HDC mem = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(mem, picture_.Get());
            SIZE s = BitmapSize(picture_.Get());
            BitBlt(dc, r.left, r.top, std::min<int>(w, s.cx), std::min<int>(h, s.cy), mem, 0, 0,
                   SRCCOPY);
            SelectObject(mem, old);
            DeleteDC(mem);
        }
        break;
    case ControlKind::SpeedButton: {
        RECT face = r;
        DrawFrameControl(dc, &face, DFC_BUTTON,
                         DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pressed ? DFCS_PUSHED : 0));
        if (pressed) OffsetRect(&face, 1, 1);
        HGDIOBJ oldFont = SelectObject(dc, Font());
        SIZE g = BitmapSize(picture_.Get());
        RECT tr{0, 0, 0, 0};
        DrawTextA(dc, text_.c_str(), -1, &tr, DT_SINGLELINE | DT_CALCRECT);
        const int tw = tr.right - tr.left;
        const int fw = face.right - face.left;
        const int gap = g.cx > 0 && tw > 0 ? spacing_ : 0;
        int gx = margin_ >= 0 ? face.left + margin_ : face.left + (fw - (g.cx + gap + tw)) / 2;
        int gy = face.top + (face.bottom - face.top - g.cy) / 2;
        if (picture_) DrawKeyed(dc, gx, gy, picture_.Get(), TransparentColor());
        RECT text{gx + g.cx + gap, face.top, face.right + 40, face.bottom};
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(enabled_ ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextA(dc, text_.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
        SelectObject(dc, oldFont);
        break;
    }
    case ControlKind::Label: {
        HGDIOBJ oldFont = SelectObject(dc, Font());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(
            dc, ResolveColour(fontColor_ == clDefault ? SysColour(COLOR_WINDOWTEXT) : fontColor_));
        RECT t = r;
        DrawTextA(dc, text_.c_str(), -1, &t, align_ | DT_EXPANDTABS);
        SelectObject(dc, oldFont);
        break;
    }
    case ControlKind::Shape: {
        const int pw = penWidth_;
        HPEN pen = CreatePen(PS_SOLID, pw, ResolveColour(fontColor_ == clDefault ? 0 : fontColor_));
        HBRUSH brush = color_ == clNone ? static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))
                                        : CreateSolidBrush(ResolveColour(
                                              color_ == clDefault ? RGB(255, 255, 255) : color_));
        HGDIOBJ op = SelectObject(dc, pen), ob = SelectObject(dc, brush);
        const int x = r.left + pw / 2, y = r.top + pw / 2;
        Rectangle(dc, x, y, x + w - pw + 1, y + h - pw + 1);
        SelectObject(dc, op);
        SelectObject(dc, ob);
        DeleteObject(pen);
        if (color_ != clNone) DeleteObject(brush);
        break;
    }
    case ControlKind::Bevel: {
        HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
        HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        HGDIOBJ op = SelectObject(dc, shadow);
        MoveToEx(dc, r.left, r.top, nullptr);
        LineTo(dc, r.right, r.top);
        SelectObject(dc, light);
        MoveToEx(dc, r.left, r.top + 1, nullptr);
        LineTo(dc, r.right, r.top + 1);
        SelectObject(dc, op);
        DeleteObject(shadow);
        DeleteObject(light);
        break;
    }
    default:
        break;
    }
}

// ---- forms ----------------------------------------------------------------------

TForm::TForm(TComponent* owner, const FormDef& def, std::span<const ControlDef> controls)
    : TComponent(owner), className_(def.className), caption_(def.caption), width_(def.width),
      height_(def.height), color_(def.color), position_(def.position), stayOnTop_(def.stayOnTop) {
    KeyPreview = def.keyPreview;
    font_.Reset(MakeFont(def.font));
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
    DestroyComponents();
    TheScreen().RemoveForm(this);
    if (hwnd_) DestroyWindow(hwnd_);
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
    if (hwnd_) return;
    TCreateParams p;
    CreateParams(p);
    HICON icon = App() ? App()->Icon().Handle() : nullptr;
    if (!RegisterOnce(p.className.c_str(), &TForm::StaticProc, icon))
        throw EOutOfResources("Cannot register window class " + p.className);
    HWND h = CreateWindowExA(p.exStyle, p.className.c_str(), p.caption.c_str(), p.style, p.x, p.y,
                             p.width, p.height, p.parent, nullptr, GetModuleHandleA(nullptr), this);
    if (!h) throw EOutOfResources("Cannot create window " + p.className);
    if (icon) SendMessageA(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    CreateControls();
    if (stayOnTop_)
        SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TForm::CreateControls() {
    // Windowed controls are made parent first and, among siblings, in tab order,
    // so the window order is the keyboard's tab order.
    std::function<void(TControl*, HWND)> make = [&](TControl* parent, HWND parentWindow) {
        std::vector<TControl*> children;
        for (auto& c : controls_)
            if (c->parent_ == parent && c->Windowed()) children.push_back(c.get());
        std::stable_sort(children.begin(), children.end(),
                         [](TControl* a, TControl* b) { return a->tabOrder_ < b->tabOrder_; });
        for (TControl* c : children) {
            c->CreateWindowed(parentWindow);
            if (c->kind_ == ControlKind::GroupBox) make(c, c->hwnd_);
        }
    };
    make(nullptr, hwnd_);
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
    if (hwnd_) SetWindowTextA(hwnd_, text.c_str());
}

void TForm::SetBounds(int x, int y, int w, int h) {
    left_ = x;
    top_ = y;
    width_ = w;
    height_ = h;
    if (hwnd_) SetWindowPos(hwnd_, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
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

void TForm::ApplyPlacement() {
    placementPending_ = false;
    if (position_ == TPosition::poDesigned) return;
    RECT screen{0, 0, Screen::Width(), Screen::Height()};
    RECT main{};
    TForm* mf = App() ? App()->MainForm() : nullptr;
    bool haveMain = mf && mf != this && mf->Visible();
    if (haveMain) GetWindowRect(mf->Handle(), &main);
    POINT pt = PlacementPoint(position_, screen, main, haveMain, width_, height_);
    SetBounds(pt.x, pt.y, width_, height_);
}

void TForm::Show() {
    HandleNeeded();
    if (placementPending_) ApplyPlacement();
    if (!IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_SHOW);
}

void TForm::Hide() {
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
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
        SetForegroundWindow(hwnd_);
        return mrNone;
    }
    HandleNeeded();
    modal_ = true;
    modalResult_ = mrNone;
    HWND previous = GetActiveWindow();
    Show();
    SetForegroundWindow(hwnd_);
    DisableState state{hwnd_, {}};
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
    bool wasForeground = GetForegroundWindow() == hwnd_;
    modal_ = false;
    Hide();
    if (wasForeground && previous && previous != hwnd_ && IsWindow(previous) &&
        IsWindowVisible(previous))
        SetActiveWindow(previous);
    int result = modalResult_;
    return result == mrNone ? mrCancel : result;
}

void TForm::SetModalResult(int r) {
    modalResult_ = r;
    if (hwnd_) PostMessageA(hwnd_, WM_NULL, 0, 0); // wakes the modal loop
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
    if (lastFocus_ && IsWindow(lastFocus_) && IsChild(hwnd_, lastFocus_) &&
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
    if (HWND c = first(hwnd_)) ::SetFocus(c);
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
        SetCapture(hwnd_);
        RECT r = c->FormBounds();
        InvalidateRect(hwnd_, &r, FALSE);
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
        InvalidateRect(hwnd_, &r, FALSE);
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
    if (GetCapture() == hwnd_) ReleaseCapture();
    InvalidateRect(hwnd_, &r, FALSE);
    UpdateWindow(hwnd_);
    if (inside) c->Click();
}

void TForm::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    RECT rc;
    GetClientRect(hwnd_, &rc);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, rc.right, rc.bottom);
    HGDIOBJ old = SelectObject(mem, bmp);
    HBRUSH bg = CreateSolidBrush(ResolveColour(color_));
    FillRect(mem, &rc, bg);
    DeleteObject(bg);
    for (auto& c : controls_)
        if (!c->Windowed() && !c->parent_ && c->visible_)
            c->Paint(mem, c.get() == pressed_ && pressedInside_);
    BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
           ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    EndPaint(hwnd_, &ps);
}

void TForm::DispatchKeyUp(HWND target, WORD key, TShiftState shift) {
    WORD k = key;
    if (KeyPreview && OnKeyUp) OnKeyUp(this, k, shift);
    if (k == 0) return;
    TControl* c = ControlOf(target);
    if (c && c->OnKeyUp) c->OnKeyUp(this, k, shift);
}

bool TForm::PreTranslateMessage(MSG& msg) {
    if (!hwnd_ || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP)
        DispatchKeyUp(msg.hwnd, static_cast<WORD>(msg.wParam), KeyboardShiftState());
    if (!hwnd_) return true;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
        // Enter on a focused push button presses it.
        TControl* c = ControlOf(msg.hwnd);
        if (c && c->kind_ == ControlKind::Button) {
            c->Command(BN_CLICKED);
            return true;
        }
    }
    return IsDialogMessageA(hwnd_, &msg) != FALSE;
}

LRESULT CALLBACK TForm::StaticProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(l);
        auto* form = static_cast<TForm*>(cs->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        if (form) form->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (self) {
            self->hwnd_ = nullptr;
            for (auto& c : self->controls_)
                c->DestroyWindowed();
        }
        return DefWindowProcA(hwnd, msg, w, l);
    }
    if (!self) return DefWindowProcA(hwnd, msg, w, l);
    TMessage m{msg, w, l, 0};
    bool failed = true;
    Guarded([&] {
        self->WndProc(m);
        failed = false;
    });
    return failed ? 0 : m.Result;
}

LRESULT TForm::WndProc(TMessage& m) {
    auto it = map_.find(m.Msg);
    if (it != map_.end())
        it->second(m);
    else
        DefaultHandler(m);
    return m.Result;
}

void TForm::DefaultHandler(TMessage& m) {
    HWND h = hwnd_;
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

} // namespace velotune::tk
