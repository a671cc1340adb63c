// Non-visual components: timer, image list, popup menu and menu bar definition.
#pragma once

#include "speedpanel/toolkit/application.h"
#include "speedpanel/toolkit/component.h"
#include <commctrl.h>
#include <memory>
#include <vector>

namespace velotune::tk {

// Ticks on the GUI thread every Interval milliseconds while Enabled; an
// interval of 0 does not tick. A timer is made enabled unless told otherwise.
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner, bool enabled = true);
    ~TTimer() override;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned ms);
    TNotifyEvent OnTimer;
    bool Running() const { return running_; }
    // The window that receives the ticks; none until the timer first runs.
    HWND Handle() const { return window_.Handle(); }

private:
    void Apply();
    UtilityWindow window_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
    bool running_ = false;
};

struct ImageListFree {
    void operator()(HIMAGELIST h) const { ImageList_Destroy(h); }
};
using UniqueImageList = UniqueHandle<HIMAGELIST, ImageListFree>;

// A list of equally sized images.
class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* owner, int width = 16, int height = 16);
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const;
    // Adds a bitmap (one or more images side by side); pixels of the mask color are
    // transparent. Returns the index of the first image added, -1 on failure.
    int AddMasked(HBITMAP bitmap, COLORREF mask);
    // Copies image i into icon; for an index outside the list the icon becomes empty.
    void GetIcon(int index, TIcon& icon) const;
    HIMAGELIST Handle() const { return list_.Get(); }

private:
    int width_, height_;
    UniqueImageList list_;
};

// A menu item: caption (with & accelerators), shortcut shown beside it, check
// mark, enabled state, a 16 x 16 bitmap and sub-items.
class TMenuItem {
public:
    explicit TMenuItem(std::string caption = {}, TNotifyEvent onClick = {});
    ~TMenuItem();
    TMenuItem(const TMenuItem&) = delete;
    TMenuItem& operator=(const TMenuItem&) = delete;

    std::string Name;
    std::string Caption;
    WORD ShortCut = 0; // virtual key code shown beside the caption (0: none)
    TNotifyEvent OnClick;

    bool Checked() const { return checked_; }
    void SetChecked(bool on);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    // Takes over a bitmap; pixels of the transparent color are left out when drawn.
    void SetBitmap(HBITMAP bitmap, COLORREF transparent);
    HBITMAP Bitmap() const { return bitmap_.Get(); }

    TMenuItem* Add(std::unique_ptr<TMenuItem> item);
    TMenuItem* Add(std::string caption, TNotifyEvent onClick = {});
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Item(int i) const { return items_[i].get(); }
    TMenuItem* Find(const std::string& name);
    UINT Command() const { return command_; }

    // Runs OnClick (with the item's owning menu component as sender).
    void Click();
    // Text shown for a shortcut key ("F1", "Ctrl+X" is not needed here).
    static std::string ShortCutText(WORD key);

private:
    friend class TMenu;
    void Build(HMENU parent, UINT position);
    void Refresh();
    std::string DisplayText() const;

    std::vector<std::unique_ptr<TMenuItem>> items_;
    UniqueBitmap bitmap_;
    HMENU parentMenu_ = nullptr;
    HMENU submenu_ = nullptr;
    UINT command_ = 0;
    bool checked_ = false;
    bool enabled_ = true;
    TComponent* menu_ = nullptr;
};

// Common part of popup menus and menu bar definitions: a root item whose items
// make up the menu handle.
class TMenu : public TComponent {
public:
    TMenu(TComponent* owner, bool popup);
    ~TMenu() override;
    TMenuItem& Items() { return root_; }
    // Builds (or rebuilds) the menu handle from the items.
    HMENU Handle();
    // Runs the click handler of the item with this command id; false if none.
    static bool DispatchCommand(UINT command);

private:
    TMenuItem root_;
    UniqueMenu menu_;
    bool popup_;
};

class TPopupMenu : public TMenu {
public:
    explicit TPopupMenu(TComponent* owner) : TMenu(owner, true) {}
    // Pops the menu up at a screen point (TPM_LEFTALIGN | TPM_RIGHTBUTTON), owned by
    // the toolkit's menu-command window; the chosen item's click handler runs later
    // from the message loop.
    void Popup(int x, int y);
    // The window that receives the commands of popped-up menus.
    static HWND CommandWindow();
};

// A menu bar definition; the toolkit builds its handle but assigns it to no window.
class TMainMenu : public TMenu {
public:
    explicit TMainMenu(TComponent* owner) : TMenu(owner, false) {}
};

// A copy of a 24-bit bitmap as 32-bit pre-multiplied alpha, with the pixels of
// the transparent color fully transparent (for menu item pictures).
HBITMAP MakeAlphaBitmap(HBITMAP source, COLORREF transparent);

} // namespace velotune::tk
