#include "speedpanel/toolkit/nonvisual.h"
#include <map>
#include <vector>

namespace velotune::tk {

// ---- timer ----------------------------------------------------------------------

TTimer::TTimer(TComponent* owner, bool enabled) : TComponent(owner), enabled_(enabled) {
    Apply();
}

TTimer::~TTimer() {
    if (running_ && window_.Handle()) KillTimer(window_.Handle(), 1);
}

void TTimer::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    Apply();
}

void TTimer::SetInterval(unsigned ms) {
    if (ms == interval_) return;
    interval_ = ms;
    Apply();
}

// The timer's window is made the first time the timer is to run: a timer that
// stays disabled costs no window.
void TTimer::Apply() {
    if (running_) KillTimer(window_.Handle(), 1);
    running_ = false;
    if (!enabled_ || interval_ == 0) return;
    if (!window_.Handle()) {
        window_ = UtilityWindow([this](TMessage& m) {
            if (m.Msg == WM_TIMER && OnTimer) OnTimer(this);
        });
        if (!window_.Handle()) return;
    }
    running_ = SetTimer(window_.Handle(), 1, interval_, nullptr) != 0;
}

// ---- image list -------------------------------------------------------------------

TImageList::TImageList(TComponent* owner, int width, int height)
    : TComponent(owner), width_(width), height_(height),
      list_(ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 1, 1)) {}

int TImageList::Count() const {
    return list_ ? ImageList_GetImageCount(list_.Get()) : 0;
}

int TImageList::AddMasked(HBITMAP bitmap, COLORREF mask) {
    if (!list_ || !bitmap) return -1;
    return ImageList_AddMasked(list_.Get(), bitmap, mask);
}

void TImageList::GetIcon(int index, TIcon& icon) const {
    if (!list_ || index < 0 || index >= Count()) {
        icon.Clear();
        return;
    }
    icon.TakeHandle(ImageList_GetIcon(list_.Get(), index, ILD_NORMAL));
}

// ---- menus --------------------------------------------------------------------------

namespace {
std::map<UINT, TMenuItem*>& Commands() {
    static std::map<UINT, TMenuItem*> commands;
    return commands;
}
UINT g_nextCommand = 0x100;
} // namespace

TMenuItem::TMenuItem(std::string caption, TNotifyEvent onClick)
    : Caption(std::move(caption)), OnClick(std::move(onClick)) {
    command_ = g_nextCommand++;
    Commands()[command_] = this;
}

TMenuItem::~TMenuItem() {
    Commands().erase(command_);
}

TMenuItem* TMenuItem::Add(std::unique_ptr<TMenuItem> item) {
    item->menu_ = menu_;
    items_.push_back(std::move(item));
    return items_.back().get();
}

TMenuItem* TMenuItem::Add(std::string caption, TNotifyEvent onClick) {
    return Add(std::make_unique<TMenuItem>(std::move(caption), std::move(onClick)));
}

TMenuItem* TMenuItem::Find(const std::string& name) {
    for (auto& i : items_) {
        if (i->Name == name) return i.get();
        if (TMenuItem* sub = i->Find(name)) return sub;
    }
    return nullptr;
}

void TMenuItem::SetChecked(bool on) {
    checked_ = on;
    Refresh();
}

void TMenuItem::SetEnabled(bool on) {
    enabled_ = on;
    Refresh();
}

void TMenuItem::SetBitmap(HBITMAP bitmap, COLORREF transparent) {
    bitmap_.Reset(bitmap ? MakeAlphaBitmap(bitmap, transparent) : nullptr);
    if (bitmap) DeleteObject(bitmap);
    Refresh();
}

void TMenuItem::Click() {
    if (enabled_ && OnClick) OnClick(menu_);
}

std::string TMenuItem::ShortCutText(WORD key) {
    if (key >= VK_F1 && key <= VK_F24) return "F" + std::to_string(key - VK_F1 + 1);
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        return std::string(1, static_cast<char>(key));
    return {};
}

std::string TMenuItem::DisplayText() const {
    std::string text = Caption;
    if (ShortCut) text += "\t" + ShortCutText(ShortCut);
    return text;
}

void TMenuItem::Build(HMENU parent, UINT position) {
    parentMenu_ = parent;
    submenu_ = nullptr;
    std::string text = DisplayText();
    MENUITEMINFOA mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_FTYPE;
    mi.fType = MFT_STRING;
    mi.wID = command_;
    mi.dwTypeData = text.data();
    mi.fState = (checked_ ? MFS_CHECKED : 0) | (enabled_ ? MFS_ENABLED : MFS_DISABLED);
    if (bitmap_) {
        mi.fMask |= MIIM_BITMAP;
        mi.hbmpItem = bitmap_.Get();
    }
    if (!items_.empty()) {
        submenu_ = CreatePopupMenu();
        for (UINT i = 0; i < items_.size(); ++i) {
            items_[i]->menu_ = menu_;
            items_[i]->Build(submenu_, i);
        }
        mi.fMask |= MIIM_SUBMENU;
        mi.hSubMenu = submenu_;
    }
    InsertMenuItemA(parent, position, TRUE, &mi);
}

void TMenuItem::Refresh() {
    if (!parentMenu_ || !IsMenu(parentMenu_)) return;
    MENUITEMINFOA mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_STATE | MIIM_BITMAP;
    mi.fState = (checked_ ? MFS_CHECKED : 0) | (enabled_ ? MFS_ENABLED : MFS_DISABLED);
    mi.hbmpItem = bitmap_.Get();
    SetMenuItemInfoA(parentMenu_, command_, FALSE, &mi);
}

TMenu::TMenu(TComponent* owner, bool popup) : TComponent(owner), popup_(popup) {
    root_.menu_ = this;
}

TMenu::~TMenu() = default;

HMENU TMenu::Handle() {
    menu_.Reset(popup_ ? CreatePopupMenu() : CreateMenu());
    for (int i = 0; i < root_.Count(); ++i) {
        root_.Item(i)->menu_ = this;
        root_.Item(i)->Build(menu_.Get(), static_cast<UINT>(i));
    }
    return menu_.Get();
}

bool TMenu::DispatchCommand(UINT command) {
    auto it = Commands().find(command);
    if (it == Commands().end()) return false;
    it->second->Click();
    return true;
}

HWND TPopupMenu::CommandWindow() {
    static UtilityWindow window([](TMessage& m) {
        if (m.Msg == WM_COMMAND && HIWORD(m.WParam) == 0) TMenu::DispatchCommand(LOWORD(m.WParam));
    });
    return window.Handle();
}

void TPopupMenu::Popup(int x, int y) {
    HMENU menu = Handle();
    if (!menu) return;
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, CommandWindow(), nullptr);
}

HBITMAP MakeAlphaBitmap(HBITMAP source, COLORREF transparent) {
    BITMAP bm{};
    if (!source || !GetObjectA(source, sizeof(bm), &bm)) return nullptr;
    const int w = bm.bmWidth, h = bm.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<size_t>(w) * h);
    HDC dc = GetDC(nullptr);
    int lines = GetDIBits(dc, source, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS);
    void* bits = nullptr;
    HBITMAP out = lines ? CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    ReleaseDC(nullptr, dc);
    if (!out) return nullptr;
    const std::uint32_t key =
        (GetRValue(transparent) << 16) | (GetGValue(transparent) << 8) | GetBValue(transparent);
    auto* dst = static_cast<std::uint32_t*>(bits);
    for (size_t i = 0; i < pixels.size(); ++i) {
        std::uint32_t rgb = pixels[i] & 0xFFFFFF;
        dst[i] = rgb == key ? 0 : (0xFF000000u | rgb);
    }
    return out;
}

} // namespace velotune::tk
