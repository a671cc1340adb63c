// Unit tests of TTrayIcon. The shell call goes to a recorder that keeps every
// message with a copy of the icon record and refuses on demand; mouse activity
// reaches the component as the shell delivers it, as message 1025 to its window.
#include "speedpanel/trayicon/trayicon.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <ostream>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace velotune {
namespace {

using tk::TComponent;
using tk::TOperation;

tk::Application& TestApp() {
    static tk::Application* app = [] {
        auto* a = new tk::Application;
        if (!a->Initialize("Tray Icon Test", 0)) std::abort();
        a->Icon().AssignHandle(LoadIcon(nullptr, IDI_APPLICATION));
        return a;
    }();
    return *app;
}

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAA record;
};

struct ShellRecorder {
    std::vector<ShellCall> calls;
    bool refuse = false;

    // The seam is a plain function: it records into the recorder that made it last.
    ShellSeam Seam() {
        Current() = this;
        return {&Notify};
    }
    static ShellRecorder*& Current() {
        static ShellRecorder* current = nullptr;
        return current;
    }
    static BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAA record) {
        ShellRecorder* r = Current();
        r->calls.push_back({message, *record});
        return r->refuse ? FALSE : TRUE;
    }
    int Count(DWORD message) const {
        int n = 0;
        for (const auto& c : calls)
            n += c.message == message;
        return n;
    }
    std::vector<DWORD> Messages() const {
        std::vector<DWORD> m;
        for (const auto& c : calls)
            m.push_back(c.message);
        return m;
    }
};

// Records the order in which the component's steps and the host's events run.
class ProbeIcon : public TTrayIcon {
public:
    ProbeIcon(TComponent* owner, const ShellSeam& shell, std::vector<std::string>& trace)
        : TTrayIcon(owner, shell), trace_(trace) {}
    using TTrayIcon::ApplicationHookProc;
    using TTrayIcon::DoOnAnimate;
    using TTrayIcon::ShiftState;

    // Byte offsets in the virtual table of the operations the component adds, in
    // the order they are documented (an Itanium-ABI member pointer to a virtual
    // function holds 1 + its offset).
    static std::vector<std::ptrdiff_t> SlotOffsets() {
        std::vector<std::ptrdiff_t> v;
        auto add = [&v](auto pointer) {
            struct {
                std::ptrdiff_t ptr, adj;
            } raw{};
            static_assert(sizeof(pointer) == sizeof(raw));
            std::memcpy(&raw, &pointer, sizeof(raw));
            v.push_back(raw.ptr - 1);
        };
        add(&ProbeIcon::SetVisible);
        add(&ProbeIcon::DoMessage);
        add(&ProbeIcon::DoClick);
        add(&ProbeIcon::DoDblClick);
        add(&ProbeIcon::DoMouseMove);
        add(&ProbeIcon::DoMouseDown);
        add(&ProbeIcon::DoMouseUp);
        add(&ProbeIcon::DoOnAnimate);
        add(&ProbeIcon::Minimize);
        add(&ProbeIcon::Restore);
        add(&ProbeIcon::Update);
        add(&ProbeIcon::ShowMenu);
        add(&ProbeIcon::SetIconIndex);
        add(&ProbeIcon::SetDefaultIcon);
        return v;
    }

    bool menuReal = false;
    void ShowMenu() override {
        trace_.push_back("menu");
        if (menuReal) TTrayIcon::ShowMenu();
    }
    void DoMouseMove(tk::TShiftState shift, int x, int y) override {
        trace_.push_back("DoMouseMove");
        TTrayIcon::DoMouseMove(shift, x, y);
    }

private:
    std::vector<std::string>& trace_;
};

// A 16 x 16 image of one colour per entry, side by side.
HBITMAP Strip(const std::vector<COLORREF>& colours) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 16 * static_cast<int>(colours.size()), 16);
    HGDIOBJ old = SelectObject(dc, bmp);
    for (size_t i = 0; i < colours.size(); ++i) {
        RECT r{static_cast<LONG>(16 * i), 0, static_cast<LONG>(16 * i + 16), 16};
        HBRUSH b = CreateSolidBrush(colours[i]);
        FillRect(dc, &r, b);
        DeleteObject(b);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bmp;
}

// The colour at the centre of an icon drawn on black.
COLORREF CentrePixel(HICON icon) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT r{0, 0, 32, 32};
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
    COLORREF c = GetPixel(dc, 8, 8);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return c;
}

constexpr COLORREF kRedish = RGB(200, 0, 0);
constexpr COLORREF kGreenish = RGB(0, 200, 0);
constexpr COLORREF kBluish = RGB(0, 0, 200);
constexpr COLORREF kMask = RGB(255, 0, 255);

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = &TestApp();
        app->Restore();
        ShowWindow(app->Handle(), SW_HIDE);
    }
    void TearDown() override {
        delete owner; // destroys the component first, while the recorder lives
        owner = nullptr;
        app->Restore();
        ShowWindow(app->Handle(), SW_HIDE);
    }

    ProbeIcon* Make() {
        auto* icon = new ProbeIcon(owner, shell.Seam(), trace);
        icon->OnRestore = [this](TComponent* s) {
            trace.push_back("restore");
            senders.push_back(s);
        };
        icon->OnMinimize = [this](TComponent* s) {
            trace.push_back("minimize");
            senders.push_back(s);
        };
        icon->OnDblClick = [this](TComponent* s) {
            trace.push_back("dblclick");
            senders.push_back(s);
        };
        icon->OnMouseDown = [this](TComponent* s, tk::TMouseButton b, tk::TShiftState sh, int x,
                                   int y) {
            trace.push_back("down" + std::to_string(b));
            senders.push_back(s);
            lastShift = sh;
            lastX = x;
            lastY = y;
        };
        icon->OnMouseUp = [this](TComponent* s, tk::TMouseButton b, tk::TShiftState sh, int x,
                                 int y) {
            trace.push_back("up" + std::to_string(b));
            senders.push_back(s);
            lastShift = sh;
            lastX = x;
            lastY = y;
        };
        return icon;
    }

    tk::TImageList* List(const std::vector<COLORREF>& colours) {
        auto* list = new tk::TImageList(owner, 16, 16);
        HBITMAP bmp = Strip(colours);
        list->AddMasked(bmp, kMask);
        DeleteObject(bmp);
        return list;
    }

    // Mouse activity as the shell reports it: message 1025 with the mouse message in LParam.
    static void Mouse(TTrayIcon* icon, UINT mouseMessage) {
        SendMessageA(icon->Handle(), kTrayIconCallback, icon->IconRecord().uID, mouseMessage);
    }

    void Clear() {
        trace.clear();
        senders.clear();
    }

    tk::Application* app = nullptr;
    ShellRecorder shell;
    std::vector<std::string> trace;
    std::vector<TComponent*> senders;
    tk::TShiftState lastShift;
    int lastX = -1, lastY = -1;
    TComponent* owner = new TComponent(nullptr);
};

using Trace = std::vector<std::string>;

// ---- construction -----------------------------------------------------------------

TEST_F(TrayIconTest, ConstructionFillsTheIconRecordAndMakesAHiddenMessageWindow) {
    ProbeIcon* icon = Make();
    const NOTIFYICONDATAA& r = icon->IconRecord();
    EXPECT_EQ(r.cbSize, kTrayIconRecordSize);
    EXPECT_EQ(kTrayIconRecordSize, offsetof(NOTIFYICONDATAA, guidItem));
    EXPECT_EQ(r.hWnd, icon->Handle());
    EXPECT_EQ(r.uID, static_cast<UINT>(reinterpret_cast<std::uintptr_t>(icon)));
    EXPECT_EQ(r.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON));
    EXPECT_EQ(r.uCallbackMessage, 1025u);
    ASSERT_FALSE(icon->CurrentIcon().Empty());
    EXPECT_EQ(r.hIcon, icon->CurrentIcon().Handle());
    EXPECT_NE(r.hIcon, app->Icon().Handle()) << "the component shows a copy of its own";
    // Every byte from the tip to the end of the record is zero.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    for (size_t i = offsetof(NOTIFYICONDATAA, szTip); i < kTrayIconRecordSize; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;

    HWND h = icon->Handle();
    ASSERT_TRUE(IsWindow(h));
    EXPECT_FALSE(IsWindowVisible(h));
    EXPECT_EQ(GetWindowLongPtrA(h, GWL_STYLE) & ~WS_CLIPSIBLINGS, WS_POPUP);
    EXPECT_TRUE(GetWindowLongPtrA(h, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    RECT wr{};
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.right - wr.left, 0);
    EXPECT_EQ(wr.bottom - wr.top, 0);
    EXPECT_EQ(GetParent(h), nullptr);

    // Built: nothing placed, no hook, the timer off.
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(icon->HookRegistered());
    EXPECT_FALSE(icon->AnimationTimer().Enabled());
    EXPECT_FALSE(icon->AnimationTimer().Running());
    EXPECT_EQ(icon->AnimationTimer().Handle(), nullptr);
}

TEST_F(TrayIconTest, PublishedPropertiesHaveTheirDefaults) {
    ProbeIcon* icon = Make();
    EXPECT_FALSE(icon->Visible());
    EXPECT_EQ(icon->Hint(), "");
    EXPECT_EQ(icon->PopupMenu, nullptr);
    EXPECT_TRUE(icon->Hide());
    EXPECT_EQ(icon->RestoreOn, imDoubleClick);
    EXPECT_EQ(icon->PopupMenuOn, imNone);
    EXPECT_EQ(icon->Icons, nullptr);
    EXPECT_EQ(icon->IconIndex(), 0);
    EXPECT_EQ(icon->AnimateInterval(), 1000);
    EXPECT_FALSE(icon->Animate());
    EXPECT_EQ(sizeof(TTrayIconMessage), 1u);
    EXPECT_EQ(static_cast<int>(imNone), 8);
    EXPECT_EQ(static_cast<int>(imRightClickUp), 6);
}

TEST(TrayIconLayout, VirtualOperationsFollowTheirSlotOrder) {
    std::vector<std::ptrdiff_t> slots = ProbeIcon::SlotOffsets();
    for (size_t i = 1; i < slots.size(); ++i)
        EXPECT_EQ(slots[i] - slots[i - 1], static_cast<std::ptrdiff_t>(sizeof(void*))) << i;
}

TEST_F(TrayIconTest, EveryInstanceHasItsOwnIdAndWindow) {
    ProbeIcon* a = Make();
    ProbeIcon* b = Make();
    EXPECT_NE(a->IconRecord().uID, b->IconRecord().uID);
    EXPECT_NE(a->Handle(), b->Handle());
}

TEST_F(TrayIconTest, DesignTimeMakesNoWindowAndNoShellCall) {
    owner->SetDesigning(true);
    ProbeIcon* icon = Make();
    EXPECT_TRUE(icon->Designing());
    EXPECT_EQ(icon->Handle(), nullptr);
    icon->SetVisible(true);
    EXPECT_TRUE(icon->Visible());
    icon->SetHint("Designed");
    EXPECT_EQ(icon->Hint(), "Designed");
    icon->Update();
    icon->SetVisible(false);
    EXPECT_FALSE(icon->HookRegistered());
    delete icon;
    EXPECT_TRUE(shell.calls.empty());
}

// ---- placing and removing ---------------------------------------------------------

TEST_F(TrayIconTest, TwoAddsEachCallTheShellAndARefusedOneRaisesTheCreateError) {
    ProbeIcon* icon = Make();
    int hooks = app->HookCount();
    icon->SetHide(false);
    icon->SetVisible(true);
    EXPECT_TRUE(icon->Hide());
    EXPECT_TRUE(icon->HookRegistered());
    EXPECT_EQ(app->HookCount(), hooks + 1);
    ASSERT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD}));
    EXPECT_EQ(shell.calls[0].record.uID, icon->IconRecord().uID);
    EXPECT_EQ(shell.calls[0].record.cbSize, kTrayIconRecordSize);

    icon->SetHide(false);
    shell.refuse = true;
    try {
        icon->SetVisible(true);
        FAIL() << "no error";
    } catch (const tk::EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Cannot Create System Shell Notification Icon");
    }
    EXPECT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_ADD}));
    EXPECT_TRUE(icon->Visible());
    EXPECT_FALSE(icon->Hide()) << "Hide is unchanged by a refusal";
    EXPECT_EQ(app->HookCount(), hooks + 1) << "one registration, however often placed";
}

TEST_F(TrayIconTest, RefusedFirstAddRegistersNoHook) {
    ProbeIcon* icon = Make();
    int hooks = app->HookCount();
    icon->SetHide(false);
    shell.refuse = true;
    EXPECT_THROW(icon->SetVisible(true), tk::EOutOfResources);
    EXPECT_TRUE(icon->Visible());
    EXPECT_FALSE(icon->Hide());
    EXPECT_FALSE(icon->HookRegistered());
    EXPECT_EQ(app->HookCount(), hooks);
}

TEST_F(TrayIconTest, RemovingAnIconNeverPlacedStillCallsTheShellAndARefusalRaises) {
    ProbeIcon* icon = Make();
    shell.refuse = true;
    try {
        icon->SetVisible(false);
        FAIL() << "no error";
    } catch (const tk::EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Cannot Remove System Shell Notification Icon");
    }
    EXPECT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_DELETE}));
    EXPECT_FALSE(icon->Visible());
    EXPECT_TRUE(icon->Hide());
}

TEST_F(TrayIconTest, RemovingThePlacedIconClearsHideAndTheHook) {
    ProbeIcon* icon = Make();
    int hooks = app->HookCount();
    icon->SetVisible(true);
    icon->SetVisible(false);
    EXPECT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    EXPECT_FALSE(icon->Hide());
    EXPECT_FALSE(icon->HookRegistered());
    EXPECT_EQ(app->HookCount(), hooks);

    // A refused removal keeps the hook.
    icon->SetVisible(true);
    shell.refuse = true;
    EXPECT_THROW(icon->SetVisible(false), tk::EOutOfResources);
    EXPECT_FALSE(icon->Visible());
    EXPECT_TRUE(icon->Hide());
    EXPECT_TRUE(icon->HookRegistered());
    EXPECT_EQ(app->HookCount(), hooks + 1);
}

// ---- hint and update ------------------------------------------------------------------

TEST_F(TrayIconTest, HintsBelowSixtyFourCharactersAreTakenLongerOnesDropped) {
    ProbeIcon* icon = Make();
    icon->SetVisible(true);
    shell.calls.clear();

    const std::string h63(63, 'a');
    icon->SetHint(h63);
    EXPECT_EQ(icon->Hint(), h63);
    EXPECT_STREQ(icon->IconRecord().szTip, h63.c_str());
    EXPECT_EQ(icon->IconRecord().uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    ASSERT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_MODIFY}));
    EXPECT_STREQ(shell.calls[0].record.szTip, h63.c_str());

    const std::string h64(64, 'b');
    icon->SetHint(h64);
    icon->SetHint(std::string(200, 'c'));
    EXPECT_EQ(icon->Hint(), h63);
    EXPECT_STREQ(icon->IconRecord().szTip, h63.c_str());
    EXPECT_EQ(shell.calls.size(), 1u) << "a dropped hint makes no update";

    icon->SetHint(h63);
    EXPECT_EQ(shell.calls.size(), 1u) << "the same hint again makes no update";

    icon->SetHint("Speed Control");
    EXPECT_STREQ(icon->IconRecord().szTip, "Speed Control");
    EXPECT_EQ(shell.calls.size(), 2u);
}

TEST_F(TrayIconTest, EmptyHintLeavesMessageAndIconFlags) {
    ProbeIcon* icon = Make();
    icon->SetHint("Speed Control");
    icon->SetVisible(true);
    shell.calls.clear();
    icon->SetHint("");
    EXPECT_EQ(icon->IconRecord().uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON));
    EXPECT_EQ(icon->IconRecord().szTip[0], '\0');
    ASSERT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_MODIFY}));
    EXPECT_EQ(shell.calls[0].record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON));
}

TEST_F(TrayIconTest, UpdateReachesTheShellOnlyWhilePlaced) {
    ProbeIcon* icon = Make();
    icon->Update();
    EXPECT_TRUE(shell.calls.empty());
    icon->SetVisible(true);
    icon->Update();
    ASSERT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_MODIFY}));
    EXPECT_EQ(shell.calls[1].record.hIcon, icon->CurrentIcon().Handle());
}

// ---- mouse dispatch -------------------------------------------------------------------

// One row per mouse case: the component's settings, the mouse messages the shell
// delivers, and the steps and events they must raise, in order.
struct MouseRow {
    const char* name;
    TTrayIconMessage restoreOn;
    TTrayIconMessage popupMenuOn;
    bool onClick;     // OnClick assigned
    bool onMouseMove; // OnMouseMove assigned
    std::vector<UINT> messages;
    Trace expected;
    // The button flags of the last mouse event's shift state, when checked.
    bool checkButtons;
    tk::TShiftState buttons;
};

void PrintTo(const MouseRow& row, std::ostream* os) {
    *os << row.name;
}

// clang-format off
const MouseRow kMouseRows[] = {
    // imClick restores inside DoClick, which runs only while OnClick is set; a right
    // release is no click.
    {"ClickWithoutOnClickRestoresNothing", imClick, imNone, false, false,
     {WM_LBUTTONDOWN, WM_LBUTTONUP}, {"down0", "up0"}, false, {}},
    {"ClickRestoresBeforeOnClickAndOnMouseUp", imClick, imNone, true, false,
     {WM_LBUTTONDOWN, WM_LBUTTONUP}, {"down0", "restore", "click", "up0"}, false, {}},
    {"RightReleaseIsNoClick", imClick, imNone, true, false,
     {WM_RBUTTONUP}, {"up1"}, false, {}},
    // The default imDoubleClick: a double click of any button.
    {"LeftDoubleClickRestores", imDoubleClick, imNone, false, false,
     {WM_LBUTTONDBLCLK}, {"restore", "dblclick"}, false, {}},
    {"RightDoubleClickRestores", imDoubleClick, imNone, false, false,
     {WM_RBUTTONDBLCLK}, {"restore", "dblclick"}, false, {}},
    {"MiddleDoubleClickRestores", imDoubleClick, imNone, false, false,
     {WM_MBUTTONDBLCLK}, {"restore", "dblclick"}, false, {}},
    // Left or right double click: only its own button, after OnDblClick.
    {"LeftDoubleClickOnlyForTheLeftButton", imLeftDoubleClick, imRightDoubleClick, false, false,
     {WM_LBUTTONDBLCLK}, {"dblclick", "restore"}, false, {}},
    {"RightDoubleClickOnlyForTheRightButton", imLeftDoubleClick, imRightDoubleClick, false, false,
     {WM_RBUTTONDBLCLK}, {"dblclick", "menu"}, false, {}},
    {"MiddleDoubleClickIsNeither", imLeftDoubleClick, imRightDoubleClick, false, false,
     {WM_MBUTTONDBLCLK}, {"dblclick"}, false, {}},
    // A left sequence raises its events in order; the shift state names the button.
    {"LeftSequenceInOrder", imDoubleClick, imNone, false, false,
     {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
     {"down0", "up0", "restore", "dblclick", "up0"}, true, {tk::ssLeft}},
    {"RightPressFlagsTheRightButton", imDoubleClick, imNone, false, false,
     {WM_RBUTTONDOWN}, {"down1"}, true, {tk::ssRight}},
    {"MiddleReleaseFlagsTheMiddleButton", imDoubleClick, imNone, false, false,
     {WM_MBUTTONUP}, {"up2"}, true, {tk::ssMiddle}},
    // imMouseDown and imMouseUp: once per click, before the host's handler.
    {"MouseDownRestoresLeft", imMouseDown, imNone, false, false,
     {WM_LBUTTONDOWN, WM_LBUTTONUP}, {"restore", "down0", "up0"}, false, {}},
    {"MouseDownRestoresRight", imMouseDown, imNone, false, false,
     {WM_RBUTTONDOWN, WM_RBUTTONUP}, {"restore", "down1", "up1"}, false, {}},
    {"MouseDownRestoresMiddle", imMouseDown, imNone, false, false,
     {WM_MBUTTONDOWN, WM_MBUTTONUP}, {"restore", "down2", "up2"}, false, {}},
    {"MouseUpRestoresAndMouseDownMenusLeft", imMouseUp, imMouseDown, false, false,
     {WM_LBUTTONDOWN, WM_LBUTTONUP}, {"menu", "down0", "restore", "up0"}, false, {}},
    {"MouseUpRestoresAndMouseDownMenusRight", imMouseUp, imMouseDown, false, false,
     {WM_RBUTTONDOWN, WM_RBUTTONUP}, {"menu", "down1", "restore", "up1"}, false, {}},
    {"MouseUpRestoresAndMouseDownMenusMiddle", imMouseUp, imMouseDown, false, false,
     {WM_MBUTTONDOWN, WM_MBUTTONUP}, {"menu", "down2", "restore", "up2"}, false, {}},
    // imRightClickUp opens the menu after OnMouseUp, for the right release only.
    {"RightClickUpMenuAfterOnMouseUp", imNone, imRightClickUp, false, false,
     {WM_RBUTTONDOWN, WM_RBUTTONUP}, {"down1", "up1", "menu"}, false, {}},
    {"RightClickUpIgnoresOtherButtons", imNone, imRightClickUp, false, false,
     {WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONDBLCLK}, {"up0", "up2", "dblclick"}, false, {}},
    // Restore comes before the menu when both wait for the same action.
    {"LeftClickUpRestoreBeforeMenu", imLeftClickUp, imLeftClickUp, false, false,
     {WM_LBUTTONUP}, {"up0", "restore", "menu"}, false, {}},
    {"DoubleClickRestoreBeforeMenu", imDoubleClick, imDoubleClick, false, false,
     {WM_MBUTTONDBLCLK}, {"restore", "menu", "dblclick"}, false, {}},
    {"ClickRestoreBeforeMenu", imClick, imClick, true, false,
     {WM_LBUTTONUP}, {"restore", "menu", "click", "up0"}, false, {}},
    // A move reaches DoMouseMove only with a handler, and carries no button.
    {"MoveWithoutHandlerRunsNothing", imDoubleClick, imNone, false, false,
     {WM_MOUSEMOVE}, {}, false, {}},
    {"MoveWithHandlerCarriesNoButton", imDoubleClick, imNone, false, true,
     {WM_MOUSEMOVE}, {"DoMouseMove", "move"}, true, {}},
    {"WheelAndExtraButtonsRunNothing", imDoubleClick, imNone, true, true,
     {WM_MOUSEWHEEL, WM_XBUTTONDOWN}, {}, false, {}},
};
// clang-format on

class TrayIconMouse : public TrayIconTest, public ::testing::WithParamInterface<MouseRow> {};

TEST_P(TrayIconMouse, RaisesItsStepsAndEventsInOrder) {
    const MouseRow& row = GetParam();
    ProbeIcon* icon = Make();
    icon->RestoreOn = row.restoreOn;
    icon->PopupMenuOn = row.popupMenuOn;
    if (row.onClick)
        icon->OnClick = [this](TComponent* s) {
            trace.push_back("click");
            senders.push_back(s);
        };
    if (row.onMouseMove)
        icon->OnMouseMove = [this](TComponent* s, tk::TShiftState sh, int, int) {
            trace.push_back("move");
            senders.push_back(s);
            lastShift = sh;
        };
    // Every button flag set, so that an event that leaves the state alone shows.
    lastShift = tk::TShiftState{tk::ssLeft, tk::ssRight, tk::ssMiddle, tk::ssDouble};
    for (UINT m : row.messages)
        Mouse(icon, m);

    EXPECT_EQ(trace, row.expected);
    for (TComponent* s : senders)
        EXPECT_EQ(s, icon);
    if (row.checkButtons) {
        for (tk::TShiftFlag f : {tk::ssLeft, tk::ssRight, tk::ssMiddle, tk::ssDouble})
            EXPECT_EQ(lastShift.Has(f), row.buttons.Has(f)) << "flag " << int(f);
    }
    // A press or release reports where the cursor is.
    if (std::any_of(trace.begin(), trace.end(),
                    [](const std::string& t) { return t.rfind("down", 0) == 0 || t.rfind("up", 0) == 0; })) {
        POINT p{};
        GetCursorPos(&p);
        EXPECT_EQ(lastX, p.x);
        EXPECT_EQ(lastY, p.y);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TrayIconMouse, ::testing::ValuesIn(kMouseRows),
                         [](const ::testing::TestParamInfo<MouseRow>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TrayIconTest, OtherMessagesToTheWindowDoNothing) {
    ProbeIcon* icon = Make();
    EXPECT_EQ(SendMessageA(icon->Handle(), WM_USER + 7, 0, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(SendMessageA(icon->Handle(), WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(icon->Handle())) << "no default processing";
    EXPECT_TRUE(trace.empty());
}

TEST_F(TrayIconTest, ShiftStateReadsTheKeyboard) {
    ProbeIcon* icon = Make();
    BYTE keys[256]{}, saved[256]{};
    GetKeyboardState(saved);
    std::copy(saved, saved + 256, keys);
    keys[VK_SHIFT] = 0x80;
    keys[VK_CONTROL] = 0;
    keys[VK_MENU] = 0x80;
    SetKeyboardState(keys);
    tk::TShiftState s = icon->ShiftState();
    EXPECT_TRUE(s.Has(tk::ssShift));
    EXPECT_FALSE(s.Has(tk::ssCtrl));
    EXPECT_TRUE(s.Has(tk::ssAlt));
    Mouse(icon, WM_RBUTTONDOWN);
    EXPECT_EQ(lastShift, (tk::TShiftState{tk::ssShift, tk::ssAlt, tk::ssRight}));
    SetKeyboardState(saved);
}

// ---- menu -------------------------------------------------------------------------------

TEST_F(TrayIconTest, ShowMenuWithoutAMenuDoesNothing) {
    ProbeIcon* icon = Make();
    icon->menuReal = true;
    icon->PopupMenuOn = imRightClickUp;
    Mouse(icon, WM_RBUTTONUP);
    EXPECT_EQ(trace, (Trace{"up1", "menu"}));

    // A menu removed from the owner is forgotten; the menu action still does nothing.
    auto* menu = new tk::TPopupMenu(owner);
    icon->PopupMenu = menu;
    delete menu;
    EXPECT_EQ(icon->PopupMenu, nullptr);
    Mouse(icon, WM_RBUTTONUP);
    EXPECT_TRUE(IsWindow(icon->Handle()));
}

// Set by CloseMenu: a popup menu of this thread was on screen when the timer fired.
bool menuWasShown = false;

BOOL CALLBACK FindShownMenu(HWND w, LPARAM found) {
    char cls[16] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (std::strcmp(cls, "#32768") == 0 && IsWindowVisible(w) &&
        GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId())
        *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

VOID CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EnumWindows(FindShownMenu, reinterpret_cast<LPARAM>(&menuWasShown));
    EndMenu();
}

TEST_F(TrayIconTest, ShowMenuPopsTheMenuUpAndReturnsWhenItCloses) {
    ProbeIcon* icon = Make();
    auto* menu = new tk::TPopupMenu(owner);
    bool clicked = false;
    menu->Items().Add("&Speed Control", [&](TComponent*) { clicked = true; });
    icon->PopupMenu = menu;
    icon->menuReal = true;
    menuWasShown = false;
    UINT_PTR t = SetTimer(nullptr, 0, 200, &CloseMenu);
    ASSERT_NE(t, 0u);
    icon->ShowMenu();
    KillTimer(nullptr, t);
    EXPECT_EQ(trace, (Trace{"menu"}));
    // The timer only fires inside the menu's own loop: ShowMenu returned after
    // the menu had been on screen, and not before it was closed.
    EXPECT_TRUE(menuWasShown) << "no popup menu was on screen while ShowMenu ran";
    EXPECT_FALSE(clicked);
}

// ---- minimize, restore and the application hook ----------------------------------------

TEST_F(TrayIconTest, MinimizeHidesTheApplicationWindowAndRestoreBringsItBack) {
    ProbeIcon* icon = Make();
    ShowWindow(app->Handle(), SW_SHOWNOACTIVATE);
    icon->Minimize();
    EXPECT_TRUE(app->Minimized());
    EXPECT_FALSE(IsWindowVisible(app->Handle()));
    icon->Restore();
    EXPECT_FALSE(app->Minimized());
    EXPECT_TRUE(IsWindowVisible(app->Handle()));
    EXPECT_EQ(trace, (Trace{"minimize", "restore"}));
    EXPECT_EQ(senders, (std::vector<TComponent*>{icon, icon}));
    EXPECT_TRUE(icon->Hide()) << "neither looks at or changes Hide";
}

TEST_F(TrayIconTest, SystemMinimizeThroughTheHookWhilePlaced) {
    ProbeIcon* icon = Make();
    icon->SetVisible(true);
    ShowWindow(app->Handle(), SW_SHOWNOACTIVATE);
    SendMessageA(app->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(trace, (Trace{"minimize"}));
    EXPECT_TRUE(app->Minimized());
    EXPECT_FALSE(IsWindowVisible(app->Handle()));

    SendMessageA(app->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(trace, (Trace{"minimize", "restore"}));
    EXPECT_FALSE(app->Minimized());

    // The parameter is compared whole: with low bits set only the application acts.
    Clear();
    SendMessageA(app->Handle(), WM_SYSCOMMAND, SC_MINIMIZE | 2, 0);
    EXPECT_TRUE(trace.empty());
    EXPECT_TRUE(app->Minimized());

    tk::TMessage m{WM_SYSCOMMAND, SC_RESTORE, 0, 0};
    EXPECT_FALSE(icon->ApplicationHookProc(m)) << "the application handles it too";
    EXPECT_FALSE(app->Minimized());
    tk::TMessage other{WM_ACTIVATEAPP, SC_MINIMIZE, 0, 0};
    EXPECT_FALSE(icon->ApplicationHookProc(other));
    EXPECT_EQ(trace, (Trace{"restore"}));
}

TEST_F(TrayIconTest, SystemMinimizeWhileNotPlacedIsTheApplicationsAlone) {
    ProbeIcon* icon = Make();
    SendMessageA(app->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(trace.empty());
    EXPECT_TRUE(app->Minimized()) << "the application's own handling ran";
    app->Restore();

    icon->SetVisible(true);
    icon->SetVisible(false);
    SendMessageA(app->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(trace.empty());
    EXPECT_TRUE(app->Minimized());
}

// ---- session end --------------------------------------------------------------------------

TEST_F(TrayIconTest, SessionEndMessagesToTheMessageWindow) {
    ProbeIcon* icon = Make();
    EXPECT_EQ(SendMessageA(icon->Handle(), WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_TRUE(shell.calls.empty());

    icon->SetVisible(true);
    EXPECT_EQ(SendMessageA(icon->Handle(), WM_ENDSESSION, 0, 0), 0);
    EXPECT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    EXPECT_TRUE(icon->Visible());
    EXPECT_TRUE(icon->HookRegistered());
    EXPECT_TRUE(icon->Hide());

    // Updates go on reaching the shell, which refuses them unnoticed.
    shell.refuse = true;
    icon->Update();
    SendMessageA(icon->Handle(), WM_ENDSESSION, 1, 0);
    EXPECT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE, NIM_MODIFY, NIM_DELETE}));
    EXPECT_TRUE(icon->Visible());
}

// ---- animation ------------------------------------------------------------------------------

TEST_F(TrayIconTest, AnimationStepsThroughThreeImagesAndWraps) {
    ProbeIcon* icon = Make();
    tk::TImageList* list = List({kRedish, kGreenish, kBluish});
    ASSERT_EQ(list->Count(), 3);
    icon->Icons = list;
    icon->SetAnimate(true);
    EXPECT_TRUE(icon->Animate());
    EXPECT_TRUE(icon->AnimationTimer().Enabled());
    EXPECT_TRUE(icon->AnimationTimer().Running());
    EXPECT_EQ(icon->AnimationTimer().Interval(), 1000u);
    icon->SetVisible(true);
    shell.calls.clear();

    const COLORREF expected[] = {kGreenish, kBluish, kRedish, kGreenish, kBluish};
    for (int i = 0; i < 5; ++i) {
        size_t before = shell.calls.size();
        // The timer's own tick handler, as WM_TIMER runs it.
        icon->AnimationTimer().OnTimer(nullptr);
        EXPECT_EQ(icon->IconIndex(), (i + 1) % 3);
        EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), expected[i]) << i;
        ASSERT_GT(shell.calls.size(), before);
        EXPECT_EQ(shell.calls.back().message, static_cast<DWORD>(NIM_MODIFY));
        EXPECT_EQ(shell.calls.back().record.hIcon, icon->CurrentIcon().Handle());
    }

    icon->SetAnimate(false);
    EXPECT_FALSE(icon->AnimationTimer().Running());
}

TEST_F(TrayIconTest, AnIndexBeyondTheListShowsNothingAndTheNextTickReturnsToZero) {
    ProbeIcon* icon = Make();
    icon->Icons = List({kRedish, kGreenish, kBluish});
    icon->SetIconIndex(7);
    EXPECT_EQ(icon->IconIndex(), 7);
    EXPECT_TRUE(icon->CurrentIcon().Empty());
    EXPECT_EQ(icon->IconRecord().hIcon, nullptr);
    icon->DoOnAnimate(nullptr);
    EXPECT_EQ(icon->IconIndex(), 0);
    EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), kRedish);

    // A list of one image keeps showing it.
    icon->Icons = List({kBluish});
    icon->DoOnAnimate(nullptr);
    icon->DoOnAnimate(nullptr);
    EXPECT_EQ(icon->IconIndex(), 0);
    EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), kBluish);

    icon->SetDefaultIcon();
    EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), CentrePixel(app->Icon().Handle()));
}

TEST_F(TrayIconTest, IntervalZeroNeverTicks) {
    ProbeIcon* icon = Make();
    icon->Icons = List({kRedish, kGreenish});
    icon->SetAnimateInterval(0);
    icon->SetAnimate(true);
    EXPECT_EQ(icon->AnimateInterval(), 0);
    EXPECT_TRUE(icon->AnimationTimer().Enabled());
    EXPECT_FALSE(icon->AnimationTimer().Running());
    icon->SetAnimateInterval(250);
    EXPECT_EQ(icon->AnimationTimer().Interval(), 250u);
    EXPECT_TRUE(icon->AnimationTimer().Running());
}

TEST_F(TrayIconTest, AnimateWithoutAnImageListStaysOff) {
    ProbeIcon* icon = Make();
    icon->SetAnimate(true);
    EXPECT_FALSE(icon->Animate());
    EXPECT_FALSE(icon->AnimationTimer().Enabled());
}

TEST_F(TrayIconTest, LoadingRemembersAnimateUntilTheListIsKnown) {
    owner->BeginLoading();
    ProbeIcon* icon = Make();
    EXPECT_TRUE(icon->Loading());
    icon->SetAnimate(true);
    EXPECT_TRUE(icon->Animate());
    EXPECT_FALSE(icon->AnimationTimer().Enabled());
    icon->SetIconIndex(2); // no list yet: the application's icon stays
    EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), CentrePixel(app->Icon().Handle()));
    icon->Icons = List({kRedish, kGreenish, kBluish});
    owner->EndLoading();
    EXPECT_FALSE(icon->Loading());
    EXPECT_TRUE(icon->AnimationTimer().Enabled());
    EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), kBluish);
    EXPECT_EQ(icon->IconRecord().hIcon, icon->CurrentIcon().Handle());
}

TEST_F(TrayIconTest, LoadedWithoutAListShowsTheApplicationIconAndDropsAnimate) {
    owner->BeginLoading();
    ProbeIcon* icon = Make();
    icon->SetAnimate(true);
    owner->EndLoading();
    EXPECT_FALSE(icon->Animate());
    EXPECT_FALSE(icon->AnimationTimer().Enabled());
    ASSERT_FALSE(icon->CurrentIcon().Empty());
    EXPECT_EQ(CentrePixel(icon->CurrentIcon().Handle()), CentrePixel(app->Icon().Handle()));
}

TEST_F(TrayIconTest, ATickAfterTheListWasRemovedTouchesNothing) {
    ProbeIcon* icon = Make();
    tk::TImageList* list = List({kRedish, kGreenish, kBluish});
    icon->Icons = list;
    icon->SetAnimate(true);
    icon->DoOnAnimate(nullptr);
    ASSERT_EQ(icon->IconIndex(), 1);
    icon->SetVisible(true);
    HICON shown = icon->CurrentIcon().Handle();
    shell.calls.clear();

    delete list;
    EXPECT_EQ(icon->Icons, nullptr);
    EXPECT_EQ(icon->CurrentIcon().Handle(), shown) << "the shown image stays";
    EXPECT_TRUE(icon->AnimationTimer().Enabled()) << "removal leaves the timer alone";

    icon->AnimationTimer().OnTimer(nullptr);
    EXPECT_EQ(icon->IconIndex(), 1);
    EXPECT_EQ(icon->CurrentIcon().Handle(), shown);
    EXPECT_FALSE(icon->AnimationTimer().Running()) << "a tick without a list stops the timer";
    EXPECT_TRUE(shell.calls.empty());
}

// ---- destruction ------------------------------------------------------------------------------

TEST_F(TrayIconTest, DestructionRemovesTheIconTheWindowAndTheHook) {
    ProbeIcon* icon = Make();
    int hooks = app->HookCount();
    icon->SetVisible(true);
    ASSERT_EQ(app->HookCount(), hooks + 1);
    HWND h = icon->Handle();
    UINT id = icon->IconRecord().uID;
    delete icon;
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(app->HookCount(), hooks);
    ASSERT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    EXPECT_EQ(shell.calls.back().record.uID, id);
    EXPECT_EQ(shell.calls.back().record.hWnd, h);

    // The application no longer reaches the destroyed component.
    SendMessageA(app->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(owner->ComponentCount(), 0);
}

TEST_F(TrayIconTest, DestructionRemovesTheIconEvenWhenNeverPlaced) {
    ProbeIcon* icon = Make();
    delete icon;
    EXPECT_EQ(shell.Messages(), (std::vector<DWORD>{NIM_DELETE}));
}

// ---- the real shell -----------------------------------------------------------------------------

// Places a real icon in the notification area of the test desktop. With
// VT_TRAY_HOLD_MS set it stays there that long, for a screenshot.
TEST(TrayIconShell, PlacesAndRemovesARealIcon) {
    tk::Application& app = TestApp();
    for (int i = 0; i < 50 && !FindWindowA("Shell_TrayWnd", nullptr); ++i)
        Sleep(100);
    // The test desktop always has a notification area: its absence is a failure.
    ASSERT_TRUE(FindWindowA("Shell_TrayWnd", nullptr)) << "no notification area within 5 s";
    TComponent owner(nullptr);
    auto* icon = new TTrayIcon(&owner);
    auto* list = new tk::TImageList(&owner, 16, 16);
    HBITMAP bmp = Strip({RGB(230, 120, 0)});
    list->AddMasked(bmp, kMask);
    DeleteObject(bmp);
    icon->Icons = list;
    icon->SetIconIndex(0);
    icon->SetHint("Speed Control");
    ASSERT_NO_THROW(icon->SetVisible(true));
    EXPECT_TRUE(icon->HookRegistered());
    if (const char* hold = std::getenv("VT_TRAY_HOLD_MS")) {
        DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(hold));
        MSG msg;
        while (GetTickCount() < end) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(20);
        }
    }
    EXPECT_NO_THROW(icon->SetVisible(false));
    EXPECT_FALSE(icon->HookRegistered());
    (void)app;
}

} // namespace
} // namespace velotune
