// Controls of a form: state kept in the object and mirrored to the window,
// the windowed kinds' creation, and the group box's own window.
#include "speedpanel/toolkit/detail.h"
#include "speedpanel/toolkit/form.h"
#include "speedpanel/toolkit/nonvisual.h"
#include "speedpanel/toolkit/picture.h"
#include <algorithm>
#include <commctrl.h>

namespace velotune::tk {

namespace {
constexpr char kGroupClass[] = "TGroupBox";
constexpr int kFirstId = 100;
} // namespace

TControl::TControl(TForm& form, const ControlDef& d, TControl* parent)
    : form_(form), parent_(parent), name_(d.name),
      kind_(d.kind), bounds_{d.left, d.top, d.left + d.width, d.top + d.height},
      text_(d.text ? d.text : ""), tabOrder_(d.tabOrder), tabStop_(d.tabStop), visible_(d.visible),
      enabled_(d.enabled), checked_(d.checked), color_(d.color), fontColor_(d.fontColor),
      penWidth_(d.penWidth), align_(d.align), itemHeight_(d.itemHeight), margin_(d.margin),
      spacing_(d.spacing) {
    if (d.font.face) font_.Reset(detail::MakeFont(d.font));
    if (d.picture) {
        HINSTANCE inst = GetModuleHandleA(nullptr);
        if (d.pictureIsIcon)
            icon_.TakeHandle(static_cast<HICON>(
                LoadImageA(inst, MAKEINTRESOURCEA(d.picture), IMAGE_ICON, 32, 32, 0)));
        else
            picture_.Reset(LoadPicture(inst, d.picture));
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
    // A control that waited for the rest of the form is made now, visible.
    if (on && !hwnd_ && Windowed()) form_.CompleteCreation();
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
    if (!hwnd_ && Windowed()) form_.CompleteCreation();
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

void TControl::Delete(int index) {
    if (kind_ != ControlKind::ComboBox || index < 0 || index >= Count()) return;
    const int selected = ItemIndex();
    items_.erase(items_.begin() + index);
    if (hwnd_) SendMessageA(hwnd_, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
    // The list control moves no selection; the entry selected keeps it.
    SetItemIndex(selected == index ? -1 : selected > index ? selected - 1 : selected);
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
    SIZE s = detail::BitmapSize(picture_.Get());
    MemoryDC mem(nullptr);
    SelectScope select(mem.Get(), picture_.Get());
    return GetPixel(mem.Get(), 0, s.cy - 1);
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
    if (fontColor_ != clDefault) SetTextColor(dc, ResolveColor(fontColor_));
    if (bg == clDefault) return nullptr;
    COLORREF rgb = ResolveColor(bg);
    if (!brush_ || brushColor_ != rgb) {
        brush_.Reset(CreateSolidBrush(rgb));
        brushColor_ = rgb;
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
        detail::RegisterOnce(kGroupClass, &BoundWindowProc<TControl>, CS_DBLCLKS, nullptr,
                             LoadCursor(nullptr, IDC_ARROW));
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

LRESULT TControl::HandleMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    switch (msg) {
    case WM_PAINT: {
        PaintScope paint(hwnd);
        PaintGroup(paint.DC());
        break;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_ENABLE:
    case WM_SETTEXT: {
        LRESULT result = DefWindowProcA(hwnd, msg, w, l);
        InvalidateRect(hwnd, nullptr, TRUE);
        return result;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        // Controls inside the group report to the form.
        return form_.Handle() ? SendMessageA(form_.Handle(), msg, w, l)
                              : DefWindowProcA(hwnd, msg, w, l);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        groupPressed_ = true;
        break;
    case WM_LBUTTONUP:
        if (groupPressed_) {
            groupPressed_ = false;
            Click();
        }
        break;
    default:
        return DefWindowProcA(hwnd, msg, w, l);
    }
    return 0;
}

} // namespace velotune::tk
