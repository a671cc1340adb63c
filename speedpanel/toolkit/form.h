// Forms: top-level windows built from a declarative table of named controls
// placed in pixels (no DPI scaling), with key preview, a per-window message
// map, modal showing with a placement, and the controls the panel uses.
#pragma once

#include "speedpanel/toolkit/application.h"
#include "speedpanel/toolkit/component.h"
#include "speedpanel/toolkit/placement.h"
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velotune::tk {

// Colors: plain RGB values, or a system color index marked by the top byte.
constexpr COLORREF SysColor(int index) {
    return 0xFF000000u | static_cast<COLORREF>(index);
}
constexpr COLORREF clDefault = 0x1FFFFFFFu; // the control's own default
constexpr COLORREF clNone = 0x2FFFFFFFu;    // not drawn (transparent)
COLORREF ResolveColor(COLORREF c);

enum class ControlKind {
    Image,       // picture (bitmap or icon resource, or none)
    SpeedButton, // picture push button drawn by the form; takes no focus
    Label,       // transparent text
    Shape,       // rectangle with fill and outline
    Bevel,       // etched line at the top of its area
    GroupBox,    // framed group with caption, click event and caption color
    RadioButton, // option button; the option buttons of one parent form one group
    ComboBox,    // drop-down list, no typing
    StaticText,  // static text with a sunken border
    Button,      // push button
    Memo,        // multi-line edit
};

enum class TPosition { poDesigned, poScreenCenter, poMainFormCenter };

struct FontDef {
    const char* face = nullptr; // nullptr: the form's font
    int height = 0;             // lfHeight
    bool bold = false;
};

// One row of a form's control table. Positions are relative to the form or to
// the enclosing group box named in parent.
struct ControlDef {
    const char* name;
    ControlKind kind;
    const char* parent = nullptr;
    int left = 0, top = 0, width = 0, height = 0;
    const char* text = "";
    int tabOrder = 0; // order among the windowed controls of the same parent
    bool tabStop = false;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
    COLORREF color = clDefault;     // background or shape fill
    COLORREF fontColor = clDefault; // text, or shape outline
    int penWidth = 1;               // shape outline width
    FontDef font{};
    int picture = 0; // bitmap resource (Image, SpeedButton) or icon resource (Image)
    bool pictureIsIcon = false;
    UINT align = DT_LEFT; // label alignment: DT_LEFT, DT_CENTER or DT_RIGHT
    int itemHeight = 0;   // combo box list item height (0: default)
    int margin = -1;      // speed button: glyph distance from the left (-1: centred)
    int spacing = 4;      // speed button: caption start relative to the glyph's right edge
};

struct FormDef {
    const char* className;
    const char* caption;
    int width, height;
    COLORREF color = SysColor(COLOR_BTNFACE);
    FontDef font{"Tahoma", -11, false};
    bool keyPreview = false;
    TPosition position = TPosition::poDesigned;
    bool stayOnTop = false;
};

class TForm;

// A control of a form. One class serves every kind; operations that do not
// apply to a kind do nothing. State is kept here and mirrored to the window,
// so controls can be set up before the form's window exists.
class TControl {
public:
    TControl(TForm& form, const ControlDef& def, TControl* parent);
    ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string& Name() const { return name_; }
    ControlKind Kind() const { return kind_; }
    TForm& Form() const { return form_; }
    TControl* Parent() const { return parent_; }
    HWND Handle() const { return hwnd_; }
    bool Windowed() const;
    int TabOrder() const { return tabOrder_; }
    RECT Bounds() const { return bounds_; } // relative to the parent
    RECT FormBounds() const;                // relative to the form

    std::string Text() const;
    void SetText(const std::string& text);
    bool Visible() const { return visible_; }
    void SetVisible(bool on);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    COLORREF FontColor() const { return fontColor_; }
    void SetFontColor(COLORREF c);
    COLORREF Color() const { return color_; }
    void SetFocus();
    bool Focused() const { return hwnd_ && GetFocus() == hwnd_; }

    // Option buttons.
    bool Checked() const { return checked_; }
    void SetChecked(bool on);

    // Drop-down lists.
    void Add(const std::string& item);
    // Takes out the entry at index; a later selected entry stays selected.
    void Delete(int index);
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    const std::vector<std::string>& Items() const { return items_; }
    int ItemIndex() const;
    void SetItemIndex(int index);
    const std::string& Item(int index) const;

    // Pictures and glyphs: takes over the bitmap; the transparent color of a glyph
    // is its bottom-left pixel until one is set.
    void SetPicture(HBITMAP bitmap);
    void SetTransparentColor(COLORREF c);
    COLORREF TransparentColor() const;
    HBITMAP Picture() const { return picture_.Get(); }

    // Speed buttons: simulates a click.
    void Click();

    TNotifyEvent OnClick;
    TNotifyEvent OnChange;
    TMouseEvent OnMouseDown;
    TKeyEvent OnKeyUp;

    // Toolkit internals.
    void CreateWindowed(HWND parentWindow);
    void DestroyWindowed();
    void Paint(HDC dc, bool pressed) const;
    HBRUSH CtlColor(HDC dc);
    void Command(WORD code);
    HWND ListHandle() const { return listHwnd_; }
    HFONT Font() const;

private:
    template <class T> friend LRESULT CALLBACK BoundWindowProc(HWND, UINT, WPARAM, LPARAM);
    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    void Detach() { DestroyWindowed(); }
    LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l); // the group box's window
    static LRESULT CALLBACK MemoProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void PaintGroup(HDC dc);
    std::vector<TControl*> Group() const;

    TForm& form_;
    TControl* parent_;
    std::string name_;
    ControlKind kind_;
    RECT bounds_;
    std::string text_;
    int tabOrder_;
    bool tabStop_;
    bool visible_, enabled_, checked_;
    COLORREF color_, fontColor_;
    int penWidth_;
    UINT align_;
    int itemHeight_;
    int margin_, spacing_;
    UniqueFont font_;
    UniqueBrush brush_;
    COLORREF brushColor_ = 0;
    UniqueBitmap picture_;
    TIcon icon_;
    bool transparentSet_ = false;
    COLORREF transparent_ = 0;
    std::vector<std::string> items_;
    int itemIndex_ = -1;
    HWND hwnd_ = nullptr;
    HWND listHwnd_ = nullptr;
    bool groupPressed_ = false;
    friend class TForm;
};

// A top-level window made from a FormDef and a control table.
class TForm : public TComponent, public TAppForm {
public:
    TForm(TComponent* owner, const FormDef& def, std::span<const ControlDef> controls);
    ~TForm() override;

    struct TCreateParams {
        std::string className;
        std::string caption;
        DWORD style = 0;
        DWORD exStyle = 0;
        int x = 0, y = 0, width = 0, height = 0;
        HWND parent = nullptr;
    };
    // Fills the creation parameters; forms override it to change any of them.
    virtual void CreateParams(TCreateParams& params);

    HWND Handle() const override { return window_.Get(); }
    // Creates the window if it does not exist yet, with the controls its first
    // paint needs: a windowed control that is hidden, or that lies wholly outside
    // the window, waits for CompleteCreation (its state is kept meanwhile).
    void HandleNeeded();
    // Makes what the first paint did not need, once: the waiting controls, each
    // in its place in the tab order, and what a form adds in CreateDeferred. It
    // runs by itself when the message queue is next idle after the first
    // showing (the first paint comes before it); anything that needs those
    // parts sooner calls it. Keyboard input and showing a waiting control call it.
    void CompleteCreation();
    bool CreationComplete() const { return window_ && !creationPending_; }
    bool HandleAllocated() const { return static_cast<bool>(window_); }

    TControl& Control(const std::string& name);
    TControl* FindControl(const std::string& name);
    TControl* ControlOf(HWND hwnd);
    const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }

    std::string Caption() const { return caption_; }
    void SetCaption(const std::string& text);
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetWidth(int w);
    void SetHeight(int h);
    void SetBounds(int x, int y, int w, int h);
    RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }

    // Placement applied at the next showing.
    TPosition Position() const { return position_; }
    void SetPosition(TPosition p);
    // Where a form of this size goes for a placement (screen rect and main form rect given).
    static POINT PlacementPoint(TPosition p, const RECT& screen, const RECT& mainForm,
                                bool haveMain, int width, int height);

    bool Visible() const { return window_ && IsWindowVisible(window_.Get()); }
    void Show() override;
    void Hide();
    // Shows the form modally: disables the program's other windows, runs the
    // message loop until the form closes, then hides it. Returns the modal result.
    int ShowModal();
    bool Modal() const { return modal_; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int r);
    // Closes the form: ends a modal showing, ends the program for the main form,
    // hides any other form.
    void Close();

    bool KeyPreview = false;
    TNotifyEvent OnShow;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TKeyEvent OnKeyUp;

    // Per-window message map: the handler gets the message first; DefaultHandler
    // gives it the toolkit's own handling (and then the system's).
    using TMessageMapHandler = std::function<void(TMessage& message)>;
    void MapMessage(UINT msg, TMessageMapHandler handler) { map_[msg] = std::move(handler); }
    void DefaultHandler(TMessage& message);

    // The message loop's step before dispatch: key preview, control key events and
    // keyboard navigation. True when the message needs no dispatch.
    bool PreTranslateMessage(MSG& msg) override;
    // Key release as the loop delivers it: the form first (with key preview),
    // then the focused control. Public for tests.
    void DispatchKeyUp(HWND target, WORD key, TShiftState shift);

    LRESULT WndProc(TMessage& message);
    HFONT FontHandle() const { return font_.Get(); }
    COLORREF Color() const { return color_; }

protected:
    // Part of CompleteCreation: the base makes the waiting controls; a form that
    // overrides it calls the base and then makes its own deferred parts.
    virtual void CreateDeferred();

    // Graphic control under a form point (topmost first), or null.
    TControl* GraphicAt(int x, int y);

    // Unhooks every event and message map handler of the form and its controls.
    // The destructor does it first, since the derived form is gone by then.
    void DropHandlers();

private:
    template <class T> friend LRESULT CALLBACK BoundWindowProc(HWND, UINT, WPARAM, LPARAM);
    void Attach(HWND hwnd);
    void Detach();
    LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
    void CreateControls(bool firstPaintOnly);
    void CreateChildren(TControl* parent, HWND parentWindow);
    bool NeededForFirstPaint(const TControl& c) const;
    void Paint();
    void MouseDown(TMouseButton button, int x, int y, WPARAM keys);
    void MouseUp(int x, int y);
    void MouseMove(int x, int y);
    POINT PlacedAt() const;
    void ApplyPlacement();
    void FocusFirst();

    std::string className_;
    std::string caption_;
    int left_ = 0, top_ = 0, width_, height_;
    COLORREF color_;
    UniqueFont font_;
    TPosition position_;
    bool placementPending_ = true;
    bool creationPending_ = false; // CompleteCreation has not run for this window
    bool stayOnTop_;
    UniqueWindow window_;
    std::vector<std::unique_ptr<TControl>> controls_;
    std::map<UINT, TMessageMapHandler> map_;
    bool modal_ = false;
    int modalResult_ = 0;
    TControl* pressed_ = nullptr; // speed button under the mouse since a press
    bool pressedInside_ = false;
    HWND lastFocus_ = nullptr;
};

// Forms of the program and which of them is active.
class Screen {
public:
    // Tells the application which form a window belongs to.
    Screen();
    TForm* ActiveForm() const { return activeForm_; }
    void SetActiveForm(TForm* f) { activeForm_ = f; }
    void AddForm(TForm* f);
    void RemoveForm(TForm* f);
    const std::vector<TForm*>& Forms() const { return forms_; }
    // The form whose window is hwnd or an ancestor of hwnd.
    TForm* FormOf(HWND hwnd) const;
    static int Width() { return GetSystemMetrics(SM_CXSCREEN); }
    static int Height() { return GetSystemMetrics(SM_CYSCREEN); }

private:
    TForm* activeForm_ = nullptr;
    std::vector<TForm*> forms_;
};
Screen& TheScreen();

// The application's main form (null when there is none).
TForm* MainForm();

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

} // namespace velotune::tk
