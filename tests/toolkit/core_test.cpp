// Non-visual services of the toolkit: components, the application object,
// utility windows, timer, image list, menus, string resources, placement.
#include "speedpanel/toolkit/application.h"
#include "speedpanel/toolkit/component.h"
#include "speedpanel/toolkit/nonvisual.h"
#include "speedpanel/toolkit/picture.h"
#include "speedpanel/toolkit/placement.h"
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velotune::tk;

namespace {

std::vector<std::string> g_log;

class Probe : public TComponent {
public:
    Probe(TComponent* owner, std::string name) : TComponent(owner) { Name = std::move(name); }
    ~Probe() override {
        g_log.push_back("destroy " + Name);
        DestroyComponents(); // while this part still hears notifications
    }
    void Loaded() override {
        TComponent::Loaded();
        g_log.push_back("loaded " + Name);
    }
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        g_log.push_back(Name +
                        (op == TOperation::opRemove ? " sees removal of " : " sees insert of ") +
                        c->Name);
    }
};

TEST(Component, OwnerDestroysOwnedLastFirstAndNotifiesTheRest) {
    g_log.clear();
    auto* root = new Probe(nullptr, "root");
    new Probe(root, "a");
    auto* b = new Probe(root, "b");
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(b->Owner(), root);
    g_log.clear();
    delete root;
    // b goes first; a and the owner hear of it (the owner's base step passes it on
    // before the owner's own step logs); then a goes and the owner hears of it.
    std::vector<std::string> expected{"destroy root",        "destroy b",
                                      "a sees removal of b", "root sees removal of b",
                                      "destroy a",           "root sees removal of a"};
    EXPECT_EQ(g_log, expected);
}

TEST(Component, DeletingOneComponentLeavesTheOwnerWithTheOthers) {
    g_log.clear();
    Probe root(nullptr, "root");
    auto* a = new Probe(&root, "a");
    auto* b = new Probe(&root, "b");
    delete a;
    ASSERT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(root.Components()[0], b);
    EXPECT_NE(std::find(g_log.begin(), g_log.end(), "b sees removal of a"), g_log.end());
}

TEST(Component, LoadingStateAndLoadedAfterTheDescription) {
    g_log.clear();
    Probe root(nullptr, "root");
    root.BeginLoading();
    auto* a = new Probe(&root, "a");
    EXPECT_TRUE(root.Loading());
    EXPECT_TRUE(a->Loading());
    g_log.clear();
    root.EndLoading();
    EXPECT_FALSE(a->Loading());
    EXPECT_FALSE(root.Loading());
    std::vector<std::string> expected{"loaded a", "loaded root"};
    EXPECT_EQ(g_log, expected);
    EXPECT_FALSE(root.Designing());
    root.SetDesigning(true);
    EXPECT_TRUE(root.Designing());
}

// ---- application --------------------------------------------------------------

struct BoxCall {
    std::string text, caption;
    UINT type;
};
std::vector<BoxCall> g_boxes;
int FakeBox(HWND, const char* text, const char* caption, UINT type) {
    g_boxes.push_back({text, caption, type});
    return IDOK;
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.Initialize("Toolkit Test", 0));
        app.SetMessageBox(&FakeBox);
        g_boxes.clear();
    }
    Application app;
};

TEST_F(AppTest, ApplicationWindowIsHiddenToolWindow) {
    ASSERT_NE(app.Handle(), nullptr);
    EXPECT_EQ(App(), &app);
    EXPECT_FALSE(IsWindowVisible(app.Handle()));
    EXPECT_TRUE(GetWindowLongPtrA(app.Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    char cls[64];
    GetClassNameA(app.Handle(), cls, sizeof cls);
    EXPECT_STREQ(cls, "TApplication");
}

TEST_F(AppTest, HooksRunInOrderBeforeTheApplicationAndStopWhenOneReturnsTrue) {
    std::vector<std::string> seen;
    int minimizes = 0;
    app.OnMinimize = [&](TComponent*) { ++minimizes; };
    int t1 = app.AddHook([&](TMessage& m) {
        seen.push_back("h1 " + std::to_string(m.WParam));
        return false;
    });
    int t2 = app.AddHook([&](TMessage& m) {
        seen.push_back("h2");
        m.Result = 77;
        return m.WParam == SC_RESTORE; // stops restore only
    });
    int t3 = app.AddHook([&](TMessage&) {
        seen.push_back("h3");
        return false;
    });
    SendMessageA(app.Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"h1 61472", "h2", "h3"}));
    EXPECT_EQ(minimizes, 1);
    EXPECT_TRUE(app.Minimized());

    seen.clear();
    LRESULT r = SendMessageA(app.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(r, 77);
    EXPECT_EQ(seen, (std::vector<std::string>{"h1 61728", "h2"}));
    EXPECT_TRUE(app.Minimized()); // the application never saw the restore

    app.RemoveHook(t2);
    seen.clear();
    SendMessageA(app.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"h1 61728", "h3"}));
    EXPECT_FALSE(app.Minimized());
    app.RemoveHook(t1);
    app.RemoveHook(t3);
    EXPECT_EQ(app.HookCount(), 0);
}

TEST_F(AppTest, AHookRemovedByAnEarlierHookIsNotCalled) {
    int later = 0;
    int token2 = 0;
    int token1 = app.AddHook([&](TMessage&) {
        app.RemoveHook(token2);
        return false;
    });
    token2 = app.AddHook([&](TMessage&) {
        ++later;
        return false;
    });
    SendMessageA(app.Handle(), WM_USER + 50, 0, 0);
    EXPECT_EQ(later, 0);
    EXPECT_EQ(app.HookCount(), 1);
    app.RemoveHook(token1);
}

TEST_F(AppTest, MinimizeAndRestoreAreNoOpsInTheWrongState) {
    std::vector<std::string> events;
    app.OnMinimize = [&](TComponent*) { events.push_back("min"); };
    app.OnRestore = [&](TComponent*) { events.push_back("restore"); };
    app.Restore(); // not minimised: nothing
    app.Minimize();
    app.Minimize(); // already minimised: nothing
    app.Restore();
    app.Restore();
    EXPECT_EQ(events, (std::vector<std::string>{"min", "restore"}));
}

TEST_F(AppTest, OnMessageSeesQueuedMessagesAndHandledStopsDispatch) {
    int dispatched = 0;
    HWND w = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_USER + 7) ++dispatched;
    });
    std::vector<UINT> seen;
    app.OnMessage = [&](MSG& msg, bool& handled) {
        seen.push_back(msg.message);
        handled = msg.wParam == 1;
    };
    PostMessageA(w, WM_USER + 7, 0, 0);
    PostMessageA(w, WM_USER + 7, 1, 0);
    MSG msg;
    while (PeekMessageA(&msg, w, 0, 0, PM_REMOVE))
        app.ProcessMessage(msg);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 7, WM_USER + 7}));
    EXPECT_EQ(dispatched, 1);
    DeallocateHWnd(w);
}

TEST_F(AppTest, ExceptionBoxShowsTheMessageText) {
    try {
        throw EOutOfResources("Cannot Create System Shell Notification Icon");
    } catch (...) {
        app.HandleException(std::current_exception());
    }
    try {
        throw std::runtime_error("plain");
    } catch (...) {
        app.HandleException(std::current_exception());
    }
    try {
        throw 42;
    } catch (...) {
        app.HandleException(std::current_exception());
    }
    ASSERT_EQ(g_boxes.size(), 3u);
    EXPECT_EQ(g_boxes[0].text, "Cannot Create System Shell Notification Icon");
    EXPECT_EQ(g_boxes[0].caption, "Toolkit Test");
    EXPECT_EQ(g_boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(g_boxes[1].text, "plain");
    EXPECT_EQ(g_boxes[2].text, "");
}

TEST_F(AppTest, ExceptionInAUtilityWindowHandlerGoesToTheBoxAndResultIsZero) {
    HWND w = AllocateHWnd([](TMessage& m) {
        m.Result = 5;
        if (m.Msg == WM_USER + 1) throw Exception("boom");
    });
    EXPECT_EQ(SendMessageA(w, WM_USER + 2, 0, 0), 5);
    EXPECT_EQ(SendMessageA(w, WM_USER + 1, 0, 0), 5);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "boom");
    DeallocateHWnd(w);
}

// An object bound to its window through the toolkit's window core.
class BoundObject {
public:
    HWND attached = nullptr;
    int detached = 0;
    std::vector<UINT> seen;

    // What the window core calls.
    void Attach(HWND hwnd) { attached = hwnd; }
    void Detach() { ++detached; }
    LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
        if (msg >= WM_USER) seen.push_back(msg);
        if (msg == WM_USER + 1) throw Exception("bound boom");
        if (msg == WM_USER + 2) return 7;
        return DefWindowProcA(hwnd, msg, w, l);
    }
};

TEST_F(AppTest, BoundWindowsMeetTheirObjectFromCreationToDestruction) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &BoundWindowProc<BoundObject>;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TBoundTest";
    ASSERT_TRUE(RegisterClassExA(&wc));
    BoundObject object;
    HWND h = CreateWindowExA(0, "TBoundTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), &object);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(object.attached, h) << "bound during creation";
    EXPECT_EQ(SendMessageA(h, WM_USER + 2, 0, 0), 7);
    // An exception goes to the error box, and the message's result is 0.
    EXPECT_EQ(SendMessageA(h, WM_USER + 1, 0, 0), 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "bound boom");
    DestroyWindow(h);
    EXPECT_EQ(object.detached, 1);
    EXPECT_EQ(object.seen, (std::vector<UINT>{WM_USER + 2, WM_USER + 1}));

    // A window made without an object gets default processing only.
    HWND bare = CreateWindowExA(0, "TBoundTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(SendMessageA(bare, WM_USER + 2, 0, 0), 0);
    DestroyWindow(bare);
    UnregisterClassA("TBoundTest", GetModuleHandleA(nullptr));
}

TEST(GdiScopes, SelectionIsUndoneAndOwnedObjectsGoAtTheEndOfTheirScope) {
    UniqueBitmap picture(CreateBitmap(4, 4, 1, 32, nullptr));
    ASSERT_TRUE(picture);
    MemoryDC dc(nullptr);
    ASSERT_TRUE(dc);
    HGDIOBJ original = GetCurrentObject(dc.Get(), OBJ_BITMAP);
    {
        SelectScope select(dc.Get(), picture.Get());
        EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BITMAP), picture.Get());
        UniqueBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
        {
            SelectScope selectBrush(dc.Get(), brush.Get());
            EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BRUSH), brush.Get());
        }
        EXPECT_NE(GetCurrentObject(dc.Get(), OBJ_BRUSH), brush.Get());
    }
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BITMAP), original);
    HDC raw = dc.Get();
    HBITMAP rawPicture = picture.Get();
    dc.Reset();
    picture.Reset();
    EXPECT_EQ(GetObjectType(raw), 0u) << "the memory DC is deleted";
    EXPECT_EQ(GetObjectType(rawPicture), 0u) << "the bitmap is deleted";
}

TEST(UtilityWindow, EveryMessageGoesToTheHandlerWithResultPresetZero) {
    std::vector<UINT> seen;
    HWND w = AllocateHWnd([&](TMessage& m) {
        seen.push_back(m.Msg);
        EXPECT_EQ(m.Result, 0);
        if (m.Msg == WM_QUERYENDSESSION) m.Result = 1;
    });
    ASSERT_NE(w, nullptr);
    char cls[64];
    GetClassNameA(w, cls, sizeof cls);
    EXPECT_STREQ(cls, "TPUtilWindow");
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(GetWindowLongPtrA(w, GWL_STYLE) & WS_POPUP, WS_POPUP);
    EXPECT_EQ(SendMessageA(w, WM_QUERYENDSESSION, 0, 0), 1);
    // No default processing: WM_GETTEXTLENGTH would report the title otherwise.
    SetWindowTextA(w, "x");
    EXPECT_EQ(SendMessageA(w, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_EQ(SendMessageA(w, WM_USER + 1025 - 1024, 3, 4), 0);
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_QUERYENDSESSION), seen.end());
    DeallocateHWnd(w);
    EXPECT_FALSE(IsWindow(w));
}

TEST(UtilityWindow, OwningWrapperDestroysOnceAndMoves) {
    UtilityWindow a([](TMessage&) {});
    HWND h = a.Handle();
    ASSERT_TRUE(IsWindow(h));
    UtilityWindow b(std::move(a));
    EXPECT_EQ(a.Handle(), nullptr);
    EXPECT_EQ(b.Handle(), h);
    b.Reset();
    EXPECT_FALSE(IsWindow(h));
}

// ---- timer, image list, icon, menus, strings ------------------------------------

TEST(Timer, TicksOnTheGuiThreadOnlyWhileEnabledWithAnInterval) {
    TTimer timer(nullptr);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_TRUE(timer.Running());
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Running());
    timer.SetEnabled(false);
    timer.SetInterval(10);
    EXPECT_FALSE(timer.Running());
    int ticks = 0;
    DWORD thread = 0;
    TComponent* sender = nullptr;
    timer.OnTimer = [&](TComponent* s) {
        ++ticks;
        thread = GetCurrentThreadId();
        sender = s;
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Running());
    MSG msg;
    while (ticks == 0 && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    EXPECT_EQ(thread, GetCurrentThreadId());
    EXPECT_EQ(sender, &timer);
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
}

TEST(Timer, AMadeDisabledTimerHasNoWindowUntilItFirstRuns) {
    TTimer timer(nullptr, false);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(timer.Running());
    EXPECT_EQ(timer.Handle(), nullptr);
    timer.SetInterval(0);
    timer.SetEnabled(true); // an interval of 0 does not run either
    EXPECT_EQ(timer.Handle(), nullptr);
    int ticks = 0;
    timer.OnTimer = [&](TComponent*) { ++ticks; };
    timer.SetInterval(10);
    EXPECT_TRUE(timer.Running());
    HWND window = timer.Handle();
    ASSERT_TRUE(IsWindow(window));
    const DWORD until = GetTickCount() + 5000;
    MSG msg;
    while (ticks == 0 && GetTickCount() < until) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (ticks == 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    EXPECT_GT(ticks, 0); // ticked within the bound
    timer.SetEnabled(false);
    timer.SetEnabled(true); // the window is made once and kept
    EXPECT_EQ(timer.Handle(), window);
}

// ---- packed pictures ---------------------------------------------------------------

// A 2 x 2 picture: both rows 10,20,30 15,25,35 and two padding bytes, stored as
// differences to the byte three places before, the first row as literals and
// the second as a copy of it.
std::vector<std::uint8_t> PackedTwoByTwo() {
    return {'V',  'P', 'K', '1', 2, 0, 2, 0,   24,  0, // header
            0x07, 10,  20,  30,  5, 5, 5, 241, 231,    // 8 literal bytes
            0x84, 8,   0};                             // copy 8 from 8 back
}

TEST(PackedPicture, UnpacksToTheBottomUp24BitRows) {
    std::vector<std::uint8_t> data = PackedTwoByTwo();
    HBITMAP bitmap = UnpackPicture(data.data(), data.size());
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectA(bitmap, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmWidth, 2);
    EXPECT_EQ(ds.dsBm.bmHeight, 2);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
    EXPECT_GT(ds.dsBmih.biHeight, 0); // bottom-up, as a loaded bitmap resource
    const auto* bits = static_cast<const std::uint8_t*>(ds.dsBm.bmBits);
    const std::uint8_t row[6] = {10, 20, 30, 15, 25, 35};
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(bits + 8 * y, row, sizeof(row)), 0) << "row " << y;
    DeleteObject(bitmap);
}

TEST(PackedPicture, MalformedDataGivesNoBitmap) {
    const std::vector<std::uint8_t> good = PackedTwoByTwo();
    auto refused = [](std::vector<std::uint8_t> d) {
        HBITMAP b = UnpackPicture(d.data(), d.size());
        if (b) DeleteObject(b);
        return b == nullptr;
    };
    auto changed = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> d = good;
        d[at] = value;
        return d;
    };
    EXPECT_TRUE(refused(changed(3, '2')));   // magic
    EXPECT_TRUE(refused(changed(8, 32)));    // bits per pixel
    EXPECT_TRUE(refused(changed(4, 0)));     // width 0
    EXPECT_TRUE(refused(changed(20, 9)));    // copy from before the start
    EXPECT_TRUE(refused(changed(20, 0)));    // copy from 0 back
    EXPECT_TRUE(refused(changed(19, 0x85))); // copy past the end
    EXPECT_TRUE(refused(changed(10, 0x08))); // literal run past the data
    std::vector<std::uint8_t> shorter(good.begin(), good.end() - 1);
    EXPECT_TRUE(refused(shorter));
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_TRUE(refused(longer));
    EXPECT_TRUE(refused({'V', 'P', 'K', '1'}));
    EXPECT_EQ(UnpackPicture(nullptr, 0), nullptr);
    EXPECT_FALSE(refused(good));
}

HBITMAP SolidBitmap(int w, int h, COLORREF c) {
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT r{0, 0, w, h};
    HBRUSH br = CreateSolidBrush(c);
    FillRect(mem, &r, br);
    DeleteObject(br);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return bmp;
}

TEST(ImageList, CopiesImagesAndGivesAnEmptyIconOutsideTheList) {
    TImageList list(nullptr);
    EXPECT_EQ(list.Count(), 0);
    HBITMAP two = SolidBitmap(32, 16, RGB(0, 128, 0));
    EXPECT_EQ(list.AddMasked(two, RGB(255, 0, 0)), 0);
    DeleteObject(two);
    EXPECT_EQ(list.Count(), 2);
    TIcon icon;
    list.GetIcon(1, icon);
    EXPECT_FALSE(icon.Empty());
    list.GetIcon(2, icon);
    EXPECT_TRUE(icon.Empty());
    list.GetIcon(0, icon);
    EXPECT_FALSE(icon.Empty());
    list.GetIcon(-1, icon);
    EXPECT_TRUE(icon.Empty());
}

TEST(Icon, AssignCopiesAndOwnsItsHandle) {
    TIcon a;
    a.AssignHandle(LoadIcon(nullptr, IDI_APPLICATION));
    ASSERT_FALSE(a.Empty());
    TIcon b;
    b.Assign(a);
    EXPECT_FALSE(b.Empty());
    EXPECT_NE(b.Handle(), a.Handle());
    TIcon c(std::move(a));
    EXPECT_TRUE(a.Empty());
    EXPECT_FALSE(c.Empty());
    TIcon empty;
    c.Assign(empty);
    EXPECT_TRUE(c.Empty());
}

TEST(Menu, ItemsBuildStatesAndRunClickHandlers) {
    TPopupMenu menu(nullptr);
    int clicks = 0;
    TComponent* sender = nullptr;
    TMenuItem* speed = menu.Items().Add("&Speed Control", [&](TComponent* s) {
        ++clicks;
        sender = s;
    });
    TMenuItem* option = menu.Items().Add("&Option");
    TMenuItem* autoStart = option->Add("&Auto Start");
    autoStart->Name = "AutoStart1";
    autoStart->SetChecked(true);
    TMenuItem* about = menu.Items().Add("&About", [&](TComponent*) { clicks += 100; });
    about->ShortCut = VK_F1;
    about->SetEnabled(false);
    HMENU h = menu.Handle();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetMenuItemCount(h), 3);
    char text[64];
    GetMenuStringA(h, 2, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About\tF1");
    EXPECT_TRUE(GetMenuState(h, about->Command(), MF_BYCOMMAND) & MF_GRAYED);
    HMENU sub = GetSubMenu(h, 1);
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(GetMenuState(sub, autoStart->Command(), MF_BYCOMMAND) & MF_CHECKED);
    autoStart->SetChecked(false);
    EXPECT_FALSE(GetMenuState(sub, autoStart->Command(), MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(menu.Items().Find("AutoStart1"), autoStart);

    EXPECT_TRUE(TMenu::DispatchCommand(speed->Command()));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(sender, &menu);
    TMenu::DispatchCommand(about->Command()); // disabled: no click
    EXPECT_EQ(clicks, 1);
    about->SetEnabled(true);
    EXPECT_FALSE(GetMenuState(h, about->Command(), MF_BYCOMMAND) & MF_GRAYED);
    // Commands of the popup arrive at the command window from the message loop.
    SendMessageA(TPopupMenu::CommandWindow(), WM_COMMAND, about->Command(), 0);
    EXPECT_EQ(clicks, 101);
    EXPECT_FALSE(TMenu::DispatchCommand(0xFFF0));
}

TEST(Menu, BitmapsKeepTheirTransparentColourOut) {
    HBITMAP red = SolidBitmap(16, 16, RGB(255, 0, 0));
    HBITMAP alpha = MakeAlphaBitmap(red, RGB(255, 0, 0));
    ASSERT_NE(alpha, nullptr);
    BITMAP bm{};
    GetObjectA(alpha, sizeof bm, &bm);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    ASSERT_NE(bm.bmBits, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t*>(bm.bmBits)[0], 0u);
    DeleteObject(alpha);
    HBITMAP blue = SolidBitmap(16, 16, RGB(0, 0, 255));
    alpha = MakeAlphaBitmap(blue, RGB(255, 0, 0));
    GetObjectA(alpha, sizeof bm, &bm);
    EXPECT_EQ(static_cast<std::uint32_t*>(bm.bmBits)[5], 0xFF0000FFu);
    DeleteObject(alpha);
    DeleteObject(blue);
    DeleteObject(red);
}

TEST(Strings, LoadStrReadsTheStringTable) {
    EXPECT_EQ(LoadStr(0), "Cannot Create System Shell Notification Icon");
    EXPECT_EQ(LoadStr(5), "Cannot Remove System Shell Notification Icon");
    EXPECT_EQ(LoadStr(3), "");
}

TEST(Placement, CentresWithTruncationTowardZero) {
    RECT screen{0, 0, 1024, 768};
    POINT p = CentredIn(screen, 245, 165);
    EXPECT_EQ(p.x, 389);           // (1024 - 245) / 2 = 389.5
    EXPECT_EQ(p.y, 301);           // (768 - 165) / 2 = 301.5
    RECT main{352, 284, 672, 484}; // a 320 x 200 panel
    p = CentredIn(main, 245, 165);
    EXPECT_EQ(p.x, 352 + 37);
    EXPECT_EQ(p.y, 284 + 17);
    RECT offLeft{-100, -50, 220, 150};
    p = CentredIn(offLeft, 245, 165);
    EXPECT_EQ(p.x, -63);
    EXPECT_EQ(p.y, -33);
}

TEST(OptionGroup, CheckingOneUnchecksTheOthersAndMovesTheTabStop) {
    std::vector<OptionState> g(3);
    CheckOption(g, -1);
    EXPECT_TRUE(g[0].tabStop); // none checked: the first one is reachable
    EXPECT_FALSE(g[1].tabStop || g[2].tabStop);
    CheckOption(g, 2);
    EXPECT_TRUE(g[2].checked && g[2].tabStop);
    EXPECT_FALSE(g[0].checked || g[0].tabStop || g[1].checked || g[1].tabStop);
    CheckOption(g, 1);
    EXPECT_TRUE(g[1].checked && g[1].tabStop);
    EXPECT_FALSE(g[2].checked || g[2].tabStop);
}

} // namespace
