// Forms and controls of the toolkit: message map, key preview, option groups,
// picture buttons, group boxes, drop-down lists, modal showing with placement,
// creation parameters and the exception box path of a window procedure.
#include "speedpanel/toolkit/application.h"
#include "speedpanel/toolkit/form.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace velotune::tk;

namespace {

std::vector<std::string> g_boxes;
int FakeBox(HWND, const char* text, const char*, UINT) {
    g_boxes.push_back(text);
    return IDOK;
}

void DrainQuit() {
    MSG m;
    while (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

const ControlDef kControls[] = {
    {.name = "Back", .kind = ControlKind::Image, .left = 0, .top = 0, .width = 200, .height = 100},
    {.name = "Strip", .kind = ControlKind::Image, .left = 0, .top = 0, .width = 200, .height = 20},
    {.name = "Pic",
     .kind = ControlKind::SpeedButton,
     .left = 100,
     .top = 40,
     .width = 60,
     .height = 20,
     .text = "Go"},
    {.name = "Group",
     .kind = ControlKind::GroupBox,
     .left = 5,
     .top = 30,
     .width = 90,
     .height = 60,
     .text = "Group",
     .tabOrder = 0},
    {.name = "Opt1",
     .kind = ControlKind::RadioButton,
     .parent = "Group",
     .left = 5,
     .top = 15,
     .width = 80,
     .height = 17,
     .text = "One",
     .tabOrder = 1,
     .checked = true},
    {.name = "Opt2",
     .kind = ControlKind::RadioButton,
     .parent = "Group",
     .left = 5,
     .top = 35,
     .width = 80,
     .height = 17,
     .text = "Two",
     .tabOrder = 0},
    {.name = "List",
     .kind = ControlKind::ComboBox,
     .left = 100,
     .top = 70,
     .width = 90,
     .height = 20,
     .tabOrder = 1,
     .tabStop = true},
    {.name = "Push",
     .kind = ControlKind::Button,
     .left = 10,
     .top = 120,
     .width = 50,
     .height = 17,
     .text = "Push",
     .tabOrder = 2,
     .tabStop = true},
};

const FormDef kDef{
    .className = "TTestForm", .caption = "Test", .width = 200, .height = 100, .keyPreview = true};

class TTestForm : public TForm {
public:
    explicit TTestForm(const FormDef& def = kDef) : TForm(nullptr, def, kControls) {}
    DWORD exStyle = 0;
    void CreateParams(TCreateParams& p) override {
        TForm::CreateParams(p);
        if (exStyle) p.exStyle = exStyle;
    }
};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.Initialize("Form Test", 0));
        app.SetMessageBox(&FakeBox);
        g_boxes.clear();
    }
    void TearDown() override { DrainQuit(); }
    Application app;
};

TEST_F(FormTest, ControlsAreMadeInTabOrderInsideTheirParents) {
    TTestForm f;
    f.HandleNeeded();
    HWND group = f.Control("Group").Handle();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(GetParent(f.Control("Opt1").Handle()), group);
    // Opt2 (tab order 0) comes before Opt1 in the window order and starts the group.
    EXPECT_EQ(GetWindow(group, GW_CHILD), f.Control("Opt2").Handle());
    EXPECT_TRUE(GetWindowLongPtrA(f.Control("Opt2").Handle(), GWL_STYLE) & WS_GROUP);
    EXPECT_EQ(GetWindow(f.Control("Group").Handle(), GW_HWNDNEXT), f.Control("List").Handle());
    // Graphic controls have no window.
    EXPECT_EQ(f.Control("Pic").Handle(), nullptr);
    RECT r;
    GetWindowRect(f.Control("Opt1").Handle(), &r);
    MapWindowPoints(nullptr, f.Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 45);
    EXPECT_THROW(f.Control("Nope"), Exception);
}

TEST_F(FormTest, CreationParametersAreTheFormsOwn) {
    TTestForm f;
    f.exStyle = WS_EX_APPWINDOW;
    f.HandleNeeded();
    EXPECT_EQ(GetWindowLongPtrA(f.Handle(), GWL_EXSTYLE), WS_EX_APPWINDOW);
    char cls[64];
    GetClassNameA(f.Handle(), cls, sizeof cls);
    EXPECT_STREQ(cls, "TTestForm");
    EXPECT_EQ(Window(f.Handle()).Text(), "Test");
    RECT r;
    GetWindowRect(f.Handle(), &r);
    EXPECT_EQ(r.right - r.left, 200);
    f.SetWidth(150);
    f.SetCaption("Other");
    GetWindowRect(f.Handle(), &r);
    EXPECT_EQ(r.right - r.left, 150);
    EXPECT_EQ(Window(f.Handle()).Text(), "Other");
    EXPECT_EQ(TheScreen().FormOf(f.Control("Opt1").Handle()), &f);
}

TEST_F(FormTest, MessageMapHandlerRunsFirstAndCanPassOnToTheDefault) {
    TTestForm f;
    f.HandleNeeded();
    f.Show();
    std::vector<std::string> log;
    f.MapMessage(WM_USER + 2, [&](TMessage& m) {
        log.push_back("mapped " + std::to_string(m.WParam));
        m.Result = 9;
    });
    f.MapMessage(WM_CLOSE, [&](TMessage& m) {
        log.push_back("close seen");
        f.DefaultHandler(m); // the toolkit's close: hides a form that is not the main one
    });
    EXPECT_EQ(SendMessageA(f.Handle(), WM_USER + 2, 4, 0), 9);
    SendMessageA(f.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"mapped 4", "close seen"}));
    EXPECT_FALSE(f.Visible());
    EXPECT_TRUE(IsWindow(f.Handle()));
    // Unmapped: the default, which for WM_GETTEXTLENGTH is the system's.
    EXPECT_EQ(SendMessageA(f.Handle(), WM_GETTEXTLENGTH, 0, 0), 4);
}

TEST_F(FormTest, KeyPreviewGivesTheFormTheKeyBeforeTheControl) {
    TTestForm f;
    f.HandleNeeded();
    std::vector<std::string> log;
    f.OnKeyUp = [&](TComponent*, WORD& key, TShiftState) {
        log.push_back("form " + std::to_string(key));
        if (key == VK_F2) key = 0; // swallowed
    };
    f.Control("Opt1").OnKeyUp = [&](TComponent*, WORD& key, TShiftState) {
        log.push_back("control " + std::to_string(key));
    };
    HWND opt = f.Control("Opt1").Handle();
    MSG m{opt, WM_KEYUP, VK_RETURN, 0, 0, {}};
    app.ProcessMessage(m);
    m.wParam = VK_F2;
    app.ProcessMessage(m);
    m.message = WM_SYSKEYUP; // Alt held
    m.wParam = VK_F1;
    app.ProcessMessage(m);
    EXPECT_EQ(log, (std::vector<std::string>{"form 13", "control 13", "form 113", "form 112",
                                             "control 112"}));
    log.clear();
    f.KeyPreview = false;
    f.DispatchKeyUp(opt, VK_SPACE, {});
    f.DispatchKeyUp(f.Handle(), VK_SPACE, {}); // the form itself: no control
    EXPECT_EQ(log, (std::vector<std::string>{"control 32"}));
}

TEST_F(FormTest, OptionButtonsFormOneGroupWithTheCheckedOneAsTabStop) {
    TTestForm f;
    f.HandleNeeded();
    TControl& one = f.Control("Opt1");
    TControl& two = f.Control("Opt2");
    auto tabStop = [](TControl& c) {
        return (GetWindowLongPtrA(c.Handle(), GWL_STYLE) & WS_TABSTOP) != 0;
    };
    auto checked = [](TControl& c) {
        return SendMessageA(c.Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    EXPECT_TRUE(one.Checked() && checked(one) && tabStop(one));
    EXPECT_FALSE(two.Checked() || checked(two) || tabStop(two));
    // A click on the second one (as the button reports it) checks it.
    int clicks = 0;
    two.OnClick = [&](TComponent*) { ++clicks; };
    SendMessageA(f.Control("Group").Handle(), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(two.Handle()), BN_CLICKED),
                 reinterpret_cast<LPARAM>(two.Handle()));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(two.Checked() && checked(two) && tabStop(two));
    EXPECT_FALSE(one.Checked() || checked(one) || tabStop(one));
    one.SetChecked(true);
    EXPECT_TRUE(one.Checked() && checked(one) && tabStop(one));
    EXPECT_FALSE(two.Checked() || checked(two) || tabStop(two));
}

TEST_F(FormTest, PictureButtonClicksOnReleaseInsideAndTakesNoFocus) {
    TTestForm f;
    f.Show();
    int clicks = 0;
    f.Control("Pic").OnClick = [&](TComponent*) { ++clicks; };
    HWND h = f.Handle();
    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(110, 45));
    SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(120, 50));
    EXPECT_EQ(clicks, 1);
    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(110, 45));
    SendMessageA(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 5));
    SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(10, 5)); // released outside
    EXPECT_EQ(clicks, 1);
    SendMessageA(h, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(110, 45));
    SendMessageA(h, WM_RBUTTONUP, 0, MAKELPARAM(110, 45));
    EXPECT_EQ(clicks, 1);
    f.Control("Pic").SetEnabled(false);
    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(110, 45));
    SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(110, 45));
    EXPECT_EQ(clicks, 1);
    f.Hide();
}

TEST_F(FormTest, MouseDownGoesToTheTopmostGraphicControlInItsCoordinates) {
    TTestForm f;
    f.HandleNeeded();
    std::vector<std::string> log;
    f.Control("Strip").OnMouseDown = [&](TComponent*, TMouseButton b, TShiftState s, int x, int y) {
        log.push_back("strip " + std::to_string(b) + " " + std::to_string(x) + "," +
                      std::to_string(y) + (s.Has(ssRight) ? " R" : ""));
    };
    f.Control("Back").OnMouseDown = [&](TComponent*, TMouseButton, TShiftState, int x, int y) {
        log.push_back("back " + std::to_string(x) + "," + std::to_string(y));
    };
    SendMessageA(f.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 10));
    SendMessageA(f.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(31, 19));
    SendMessageA(f.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 20));
    EXPECT_EQ(log, (std::vector<std::string>{"strip 0 30,10", "strip 1 31,19 R", "back 30,20"}));
}

TEST_F(FormTest, GroupBoxClickAndCaptionColour) {
    TTestForm f;
    f.HandleNeeded();
    int clicks = 0;
    f.Control("Group").OnClick = [&](TComponent*) { ++clicks; };
    HWND g = f.Control("Group").Handle();
    SendMessageA(g, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 5));
    SendMessageA(g, WM_LBUTTONUP, 0, MAKELPARAM(50, 5));
    SendMessageA(g, WM_LBUTTONUP, 0, MAKELPARAM(50, 5)); // no press before: no click
    EXPECT_EQ(clicks, 1);
    f.Control("Group").SetFontColor(SysColor(COLOR_INACTIVECAPTION));
    EXPECT_EQ(f.Control("Group").FontColor(), SysColor(COLOR_INACTIVECAPTION));
    EXPECT_EQ(ResolveColor(SysColor(COLOR_INACTIVECAPTION)), GetSysColor(COLOR_INACTIVECAPTION));
    EXPECT_EQ(ResolveColor(RGB(1, 2, 3)), RGB(1, 2, 3));
}

TEST_F(FormTest, DropDownListKeepsItsItemsBeforeAndAfterTheWindowExists) {
    TTestForm f;
    TControl& list = f.Control("List");
    list.Add("8");
    list.Add("16");
    list.SetItemIndex(1);
    f.HandleNeeded();
    EXPECT_EQ(SendMessageA(list.Handle(), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(list.ItemIndex(), 1);
    EXPECT_EQ(list.Item(1), "16");
    EXPECT_EQ(list.Item(5), "");
    int changes = 0;
    list.OnChange = [&](TComponent*) { ++changes; };
    SendMessageA(list.Handle(), CB_SETCURSEL, 0, 0);
    SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list.Handle()), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list.Handle()));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.ItemIndex(), 0);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(SendMessageA(list.Handle(), CB_GETCOUNT, 0, 0), 0);
}

TEST_F(FormTest, AnExceptionInAHandlerIsShownAndTheWindowGoesOn) {
    TTestForm f;
    f.HandleNeeded();
    f.CompleteCreation(); // "Push" lies below the window
    f.Control("Push").OnClick = [](TComponent*) { throw EOutOfResources("no more"); };
    HWND push = f.Control("Push").Handle();
    SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(push), BN_CLICKED),
                 reinterpret_cast<LPARAM>(push));
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0], "no more");
    // A key handler raising through the loop's key step: shown too.
    f.OnKeyUp = [](TComponent*, WORD&, TShiftState) { throw std::runtime_error("key"); };
    MSG m{f.Handle(), WM_KEYUP, 'A', 0, 0, {}};
    app.ProcessMessage(m);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[1], "key");
    EXPECT_TRUE(IsWindow(f.Handle()));
}

TEST_F(FormTest, EnterOnAFocusedPushButtonPressesIt) {
    TTestForm f;
    f.HandleNeeded();
    f.CompleteCreation();
    int clicks = 0;
    f.Control("Push").OnClick = [&](TComponent*) { ++clicks; };
    MSG m{f.Control("Push").Handle(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    app.ProcessMessage(m);
    EXPECT_EQ(clicks, 1);
    m.hwnd = f.Control("List").Handle();
    app.ProcessMessage(m);
    EXPECT_EQ(clicks, 1);
}

// ---- what the first paint does not need ----------------------------------------------

const ControlDef kLaterControls[] = {
    {.name = "Seen1",
     .kind = ControlKind::Button,
     .left = 5,
     .top = 5,
     .width = 60,
     .height = 20,
     .text = "One",
     .tabOrder = 0,
     .tabStop = true},
    {.name = "Hidden",
     .kind = ControlKind::GroupBox,
     .left = 5,
     .top = 30,
     .width = 90,
     .height = 40,
     .text = "Hidden",
     .tabOrder = 1,
     .visible = false},
    {.name = "Inner",
     .kind = ControlKind::ComboBox,
     .parent = "Hidden",
     .left = 5,
     .top = 15,
     .width = 80,
     .height = 20,
     .tabStop = true},
    {.name = "Seen2",
     .kind = ControlKind::StaticText,
     .left = 100,
     .top = 30,
     .width = 90,
     .height = 16,
     .tabOrder = 2},
    {.name = "Below",
     .kind = ControlKind::Button,
     .left = 5,
     .top = 150,
     .width = 60,
     .height = 20,
     .text = "Below",
     .tabOrder = 3,
     .tabStop = true},
};
const FormDef kLaterDef{.className = "TLaterForm", .caption = "Later", .width = 200, .height = 100};

class TLaterForm : public TForm {
public:
    TLaterForm() : TForm(nullptr, kLaterDef, kLaterControls) {}
    void CreateDeferred() override {
        TForm::CreateDeferred();
        ++deferredRuns;
    }
    int deferredRuns = 0;
};

std::vector<std::string> WindowOrder(TForm& f) {
    std::vector<std::string> order;
    for (HWND c = GetWindow(f.Handle(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        order.push_back(f.ControlOf(c) ? f.ControlOf(c)->Name() : "?");
    return order;
}

TEST_F(FormTest, HiddenAndOutsideControlsAreMadeAfterTheFirstShowingInTheirTabPlace) {
    TLaterForm f;
    f.HandleNeeded();
    EXPECT_NE(f.Control("Seen1").Handle(), nullptr);
    EXPECT_NE(f.Control("Seen2").Handle(), nullptr);
    EXPECT_EQ(f.Control("Hidden").Handle(), nullptr);
    EXPECT_EQ(f.Control("Inner").Handle(), nullptr);
    EXPECT_EQ(f.Control("Below").Handle(), nullptr);
    EXPECT_FALSE(f.CreationComplete());
    // Their state is kept until they are made.
    f.Control("Inner").Add("a");
    f.Control("Inner").Add("b");
    f.Control("Inner").SetItemIndex(1);
    f.Control("Below").SetText("Later");

    f.Show();
    EXPECT_EQ(f.deferredRuns, 0) << "not before the queue is idle";
    const DWORD end = GetTickCount() + 3000;
    MSG m;
    while (!f.CreationComplete() && GetTickCount() < end) {
        if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
        else
            Sleep(5);
    }
    ASSERT_TRUE(f.CreationComplete()) << "the timer never came";
    EXPECT_EQ(f.deferredRuns, 1);
    EXPECT_EQ(WindowOrder(f), (std::vector<std::string>{"Seen1", "Hidden", "Seen2", "Below"}));
    HWND inner = f.Control("Inner").Handle();
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(GetParent(inner), f.Control("Hidden").Handle());
    EXPECT_EQ(SendMessageA(inner, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(inner, CB_GETCURSEL, 0, 0), 1);
    EXPECT_FALSE(IsWindowVisible(f.Control("Hidden").Handle()));
    char text[16] = "";
    GetWindowTextA(f.Control("Below").Handle(), text, sizeof text);
    EXPECT_STREQ(text, "Later");
    // Once only.
    f.CompleteCreation();
    EXPECT_EQ(f.deferredRuns, 1);
    EXPECT_EQ(WindowOrder(f).size(), 4u);
}

TEST_F(FormTest, KeyboardInputAndShowingAWaitingControlMakeTheRestAtOnce) {
    {
        TLaterForm f;
        f.HandleNeeded();
        MSG m{f.Control("Seen1").Handle(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
        app.ProcessMessage(m);
        EXPECT_TRUE(f.CreationComplete());
        EXPECT_NE(f.Control("Below").Handle(), nullptr) << "Tab must be able to reach it";
    }
    {
        TLaterForm f;
        f.HandleNeeded();
        f.Control("Hidden").SetVisible(true);
        ASSERT_NE(f.Control("Hidden").Handle(), nullptr);
        EXPECT_TRUE(GetWindowLongPtrA(f.Control("Hidden").Handle(), GWL_STYLE) & WS_VISIBLE);
        EXPECT_EQ(WindowOrder(f), (std::vector<std::string>{"Seen1", "Hidden", "Seen2", "Below"}));
    }
    {
        // A window made again makes its controls again, the first-paint ones first.
        TLaterForm f;
        f.HandleNeeded();
        f.CompleteCreation();
        DestroyWindow(f.Handle());
        f.HandleNeeded();
        EXPECT_FALSE(f.CreationComplete());
        EXPECT_EQ(f.Control("Below").Handle(), nullptr);
        f.CompleteCreation();
        EXPECT_NE(f.Control("Below").Handle(), nullptr);
        EXPECT_EQ(f.deferredRuns, 2);
    }
}

TEST_F(FormTest, AFormIsMadeWhereItsNextShowingPlacesItAndIsNotMovedAgain) {
    const ControlDef none[] = {
        {.name = "Label", .kind = ControlKind::Label, .width = 10, .height = 10}};
    TForm f(nullptr,
            FormDef{.className = "TPlacedTest",
                    .caption = "Placed",
                    .width = 120,
                    .height = 80,
                    .position = TPosition::poScreenCenter},
            none);
    int moves = 0;
    f.MapMessage(WM_WINDOWPOSCHANGING, [&](TMessage& m) {
        if (!(reinterpret_cast<WINDOWPOS*>(m.LParam)->flags & SWP_NOMOVE)) ++moves;
        f.DefaultHandler(m);
    });
    f.HandleNeeded();
    RECT r{};
    GetWindowRect(f.Handle(), &r);
    EXPECT_EQ(r.left, (Screen::Width() - 120) / 2);
    EXPECT_EQ(r.top, (Screen::Height() - 80) / 2);
    moves = 0;
    f.Show();
    EXPECT_EQ(moves, 0) << "shown where it was made";
    GetWindowRect(f.Handle(), &r);
    EXPECT_EQ(r.left, (Screen::Width() - 120) / 2);
    // A placement asked for again still applies at the next showing.
    f.Hide();
    SetWindowPos(f.Handle(), nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    f.SetPosition(TPosition::poScreenCenter);
    f.Show();
    GetWindowRect(f.Handle(), &r);
    EXPECT_EQ(r.left, (Screen::Width() - 120) / 2);
    EXPECT_EQ(r.top, (Screen::Height() - 80) / 2);
}

TEST(Placement, PlacementPointFallsBackToTheScreenWithoutAMainWindow) {
    RECT screen{0, 0, 1024, 768};
    RECT main{100, 50, 420, 250};
    POINT p = TForm::PlacementPoint(TPosition::poMainFormCenter, screen, main, true, 245, 165);
    EXPECT_EQ(p.x, 137);
    EXPECT_EQ(p.y, 67);
    p = TForm::PlacementPoint(TPosition::poMainFormCenter, screen, main, false, 245, 165);
    EXPECT_EQ(p.x, 389);
    EXPECT_EQ(p.y, 301);
    p = TForm::PlacementPoint(TPosition::poScreenCenter, screen, main, true, 320, 200);
    EXPECT_EQ(p.x, 352);
    EXPECT_EQ(p.y, 284);
}

class ModalTest : public FormTest {};

TEST_F(ModalTest, ShowModalPlacesDisablesOthersAndHidesWithoutDestroying) {
    const ControlDef none[] = {
        {.name = "Label", .kind = ControlKind::Label, .width = 10, .height = 10}};
    TForm mainForm(
        nullptr, FormDef{.className = "TMainTest", .caption = "Main", .width = 320, .height = 200},
        none);
    TForm box(nullptr,
              FormDef{.className = "TBoxTest", .caption = "Box", .width = 245, .height = 165},
              none);
    app.SetMainForm(&mainForm);
    mainForm.SetBounds(100, 50, 320, 200);
    mainForm.Show();
    box.HandleNeeded();
    HWND boxHandle = box.Handle();
    bool mainEnabledDuring = true;
    int shows = 0;
    box.MapMessage(WM_USER + 9, [&](TMessage&) {
        mainEnabledDuring = IsWindowEnabled(mainForm.Handle()) != FALSE;
        box.Close();
    });
    box.OnShow = [&](TComponent*) {
        ++shows;
        PostMessageA(box.Handle(), WM_USER + 9, 0, 0);
    };
    box.SetPosition(TPosition::poMainFormCenter);
    EXPECT_EQ(box.ShowModal(), mrCancel);
    EXPECT_EQ(shows, 1);
    EXPECT_FALSE(mainEnabledDuring);
    EXPECT_TRUE(IsWindowEnabled(mainForm.Handle()));
    EXPECT_FALSE(box.Visible());
    EXPECT_EQ(box.Handle(), boxHandle);
    EXPECT_EQ(box.Left(), 100 + 37);
    EXPECT_EQ(box.Top(), 50 + 17);

    // Main window hidden: the same placement falls back to the screen's centre.
    mainForm.Hide();
    box.SetPosition(TPosition::poMainFormCenter);
    box.ShowModal();
    EXPECT_EQ(shows, 2);
    EXPECT_EQ(box.Left(), (Screen::Width() - 245) / 2);
    EXPECT_EQ(box.Top(), (Screen::Height() - 165) / 2);
    app.SetMainForm(nullptr);
}

TEST_F(ModalTest, AQuitRequestEndsTheModalShowingAndStaysQueued) {
    const ControlDef none[] = {
        {.name = "Label", .kind = ControlKind::Label, .width = 10, .height = 10}};
    TForm box(nullptr,
              FormDef{.className = "TBoxTest2", .caption = "Box", .width = 100, .height = 100},
              none);
    box.OnShow = [&](TComponent*) { PostQuitMessage(0); };
    EXPECT_EQ(box.ShowModal(), mrCancel);
    MSG m;
    EXPECT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(FormTest, MainFormMinimiseGoesThroughTheApplicationWindow) {
    TTestForm f;
    app.SetMainForm(&f);
    f.Show();
    std::vector<WPARAM> hooked;
    int token = app.AddHook([&](TMessage& m) {
        if (m.Msg == WM_SYSCOMMAND) hooked.push_back(m.WParam);
        return false;
    });
    int minimized = 0, restored = 0;
    app.OnMinimize = [&](TComponent*) { ++minimized; };
    app.OnRestore = [&](TComponent*) { ++restored; };
    SendMessageA(f.Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(minimized, 1);
    EXPECT_TRUE(app.Minimized());
    EXPECT_TRUE(IsIconic(f.Handle()));
    SendMessageA(f.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(restored, 1);
    EXPECT_FALSE(IsIconic(f.Handle()));
    EXPECT_EQ(hooked, (std::vector<WPARAM>{SC_MINIMIZE, SC_RESTORE}));
    app.RemoveHook(token);
    // Closing the main form ends the program's loop.
    SendMessageA(f.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(app.Terminated());
    app.SetMainForm(nullptr);
}

} // namespace

namespace {
// A form whose handlers note a call that comes after its own part is gone.
bool g_boxGone = false;
int g_callsAfterGone = 0;
class TDyingBox : public TForm {
public:
    TDyingBox(HWND owner, const FormDef& def) : TForm(nullptr, def, kControls), owner_(owner) {
        OnDeactivate = Bind(this, &TDyingBox::Note);
        OnActivate = Bind(this, &TDyingBox::Note);
        Control("List").OnChange = Bind(this, &TDyingBox::Note);
        MapMessage(WM_ACTIVATE, [this](TMessage& m) {
            Note(this);
            DefaultHandler(m);
        });
    }
    ~TDyingBox() override { g_boxGone = true; }
    void CreateParams(TCreateParams& p) override {
        TForm::CreateParams(p);
        p.parent = owner_;
    }
    void Note(TComponent*) {
        if (g_boxGone)
            ++g_callsAfterGone;
        else
            ++calls;
    }
    int calls = 0;

private:
    HWND owner_;
};
} // namespace

TEST_F(FormTest, AVisibleActiveFormDestroyedCallsNoHandlerOfItsGoneDerivedPart) {
    TTestForm mainForm;
    mainForm.Show();
    g_boxGone = false;
    g_callsAfterGone = 0;
    FormDef def = kDef;
    def.className = "TDyingBox";
    auto box = std::make_unique<TDyingBox>(mainForm.Handle(), def);
    box->Show();
    SetForegroundWindow(box->Handle());
    SetActiveWindow(box->Handle());
    ASSERT_EQ(GetActiveWindow(), box->Handle());
    EXPECT_GT(box->calls, 0) << "activation reaches the box's handlers while it lives";
    HWND h = box->Handle();
    box.reset();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(g_callsAfterGone, 0);
    EXPECT_TRUE(IsWindow(mainForm.Handle()));
}

TEST(ApplicationWindowLater, RunMakesItWhenTheQueueIsFirstIdleAfterTheMainFormIsShown) {
    Application app;
    ASSERT_TRUE(app.Initialize("Later Test", 0, true));
    EXPECT_EQ(app.Handle(), nullptr);
    TTestForm f;
    app.SetMainForm(&f);
    HWND seenByPosted = reinterpret_cast<HWND>(1);
    HWND seenByTimer = nullptr;
    bool hiddenAtTimer = false;
    f.MapMessage(WM_USER + 20, [&](TMessage&) { seenByPosted = app.Handle(); });
    f.MapMessage(WM_TIMER, [&](TMessage& m) {
        if (m.WParam != 77) return f.DefaultHandler(m);
        KillTimer(f.Handle(), 77);
        seenByTimer = app.Handle();
        hiddenAtTimer = seenByTimer && !IsWindowVisible(seenByTimer);
        app.Terminate();
    });
    f.OnShow = [&](TComponent*) {
        PostMessageA(f.Handle(), WM_USER + 20, 0, 0);
        SetTimer(f.Handle(), 77, 300, nullptr);
    };
    // Bounded: a stray quit request ends the loop after 5 s at the latest.
    UINT_PTR guard = SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) {
        PostQuitMessage(9);
    });
    app.Run();
    KillTimer(nullptr, guard);
    EXPECT_EQ(seenByPosted, nullptr) << "a message already queued comes first";
    ASSERT_NE(seenByTimer, nullptr) << "made once the queue was idle";
    EXPECT_TRUE(hiddenAtTimer);
    char cls[32] = "";
    GetClassNameA(seenByTimer, cls, sizeof cls);
    EXPECT_STREQ(cls, "TApplication");
    app.SetMainForm(nullptr);
    DrainQuit();
}
