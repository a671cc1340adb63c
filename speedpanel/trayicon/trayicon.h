// TTrayIcon: a non-visual component that places one icon in the notification
// area for its application, turns the mouse activity on that icon into component
// events, pops up a menu and restores the application on a chosen mouse action,
// and can animate its icon through an image list.
#pragma once

#include "speedpanel/toolkit/application.h"
#include "speedpanel/toolkit/component.h"
#include "speedpanel/toolkit/icon.h"
#include "speedpanel/toolkit/nonvisual.h"
#include <shellapi.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velotune {

// The mouse action chosen in RestoreOn and PopupMenuOn.
enum TTrayIconMessage : std::uint8_t {
    imClick = 0,            // left release, inside DoClick (runs only while OnClick is set)
    imDoubleClick = 1,      // double click of any button, inside DoDblClick
    imMouseDown = 2,        // press of any button, inside DoMouseDown
    imMouseUp = 3,          // release of any button, inside DoMouseUp
    imLeftClickUp = 4,      // release of the left button
    imLeftDoubleClick = 5,  // double click of the left button
    imRightClickUp = 6,     // release of the right button
    imRightDoubleClick = 7, // double click of the right button
    imNone = 8,             // never
};

// The message the shell sends to the component's window for mouse activity on the icon.
inline constexpr UINT kTrayIconCallback = WM_USER + 1;
// The icon record's size: the form with the 128-byte tip and the balloon fields
// (488 bytes in a 32-bit program, 504 in a 64-bit one).
inline constexpr DWORD kTrayIconRecordSize = NOTIFYICONDATAA_V2_SIZE;
// The longest hint the component takes (the tip holds fewer than 64 characters).
inline constexpr std::size_t kTrayHintLimit = 64;

// The shell call behind every icon change: Shell_NotifyIconA in the program,
// a recorder in tests.
struct ShellSeam {
    BOOL(WINAPI* notifyIcon)(DWORD message, PNOTIFYICONDATAA record);
};
const ShellSeam& RealShellSeam();

class TTrayIcon : public tk::TComponent {
public:
    explicit TTrayIcon(tk::TComponent* owner, const ShellSeam& shell = RealShellSeam());
    ~TTrayIcon() override;

    void Loaded() override;
    void Notification(tk::TComponent* component, tk::TOperation operation) override;

    // The virtual operations the component adds are declared in their slot order:
    // SetVisible, DoMessage, DoClick, DoDblClick, DoMouseMove, DoMouseDown,
    // DoMouseUp, DoOnAnimate, Minimize, Restore, Update, ShowMenu, SetIconIndex,
    // SetDefaultIcon.

    // Places (true) or removes (false) the icon; every assignment calls the shell.
    virtual void SetVisible(bool value);

protected:
    // The message window's handler.
    virtual void DoMessage(tk::TMessage& message);
    // The steps behind the events: the component's own choice first, the host's
    // handler last.
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoMouseMove(tk::TShiftState shift, int x, int y);
    virtual void DoMouseDown(tk::TMouseButton button, tk::TShiftState shift, int x, int y);
    virtual void DoMouseUp(tk::TMouseButton button, tk::TShiftState shift, int x, int y);
    // The animation timer's tick.
    virtual void DoOnAnimate(tk::TComponent* sender);

public:
    // Hides the application into the notification area, then raises OnMinimize.
    virtual void Minimize();
    // Brings the application back and to the front, then raises OnRestore.
    virtual void Restore();
    // Pushes the current icon and tip to the shell while the icon is placed.
    virtual void Update();
    // Pops PopupMenu up at the cursor; does nothing without a menu.
    virtual void ShowMenu();
    virtual void SetIconIndex(int index);
    // Shows the application's icon again.
    virtual void SetDefaultIcon();
    // Removes the icon from the shell without changing Visible.
    void EndSession();

    // ---- published properties ----------------------------------------------------
    bool Visible() const { return visible_; }

    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& text);

    tk::TPopupMenu* PopupMenu = nullptr;

    bool Hide() const { return hide_; }
    void SetHide(bool value) { hide_ = value; }

    TTrayIconMessage RestoreOn = imDoubleClick;
    TTrayIconMessage PopupMenuOn = imNone;

    // Assigning it changes the shown image only at the next Loaded, SetIconIndex or tick.
    tk::TImageList* Icons = nullptr;

    int IconIndex() const { return iconIndex_; }

    int AnimateInterval() const;
    void SetAnimateInterval(int milliseconds);
    bool Animate() const { return animate_; }
    void SetAnimate(bool value);

    // The message window (null inside a form designer).
    HWND Handle() const { return window_.Handle(); }

    // ---- events ------------------------------------------------------------------
    tk::TNotifyEvent OnMinimize;
    tk::TNotifyEvent OnRestore;
    tk::TNotifyEvent OnClick;
    tk::TMouseMoveEvent OnMouseMove;
    tk::TMouseEvent OnMouseUp;
    tk::TMouseEvent OnMouseDown;
    tk::TNotifyEvent OnDblClick; // public, not part of the form description

    // ---- state, for hosts and tests ------------------------------------------------
    const NOTIFYICONDATAA& IconRecord() const { return record_; }
    const tk::TIcon& CurrentIcon() const { return icon_; }
    const tk::TTimer& AnimationTimer() const { return *timer_; }
    bool HookRegistered() const { return hookToken_ != 0; }

protected:
    // The application hook, registered while the icon is placed. Never stops the
    // application's own handling.
    bool ApplicationHookProc(tk::TMessage& message);
    // Shift, Ctrl and Alt from the keyboard.
    tk::TShiftState ShiftState() const;

private:
    void AddAppHook();
    void RemoveAppHook();
    void DispatchMouse(LPARAM mouseMessage);
    void CopyApplicationIcon();

    ShellSeam shell_;
    NOTIFYICONDATAA record_{};
    tk::TIcon icon_;
    std::unique_ptr<tk::TTimer> timer_;
    tk::UtilityWindow window_;
    tk::TWindowHook hook_;
    int hookToken_ = 0;
    std::string hint_;
    int iconIndex_ = 0;
    bool visible_ = false;
    bool hide_ = true;
    bool animate_ = false;
};

} // namespace velotune
