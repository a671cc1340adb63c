// Every caption and label that the two windows draw fits its control in the font
// they were laid out for, Tahoma: at the widths this system's Tahoma draws
// (allowing 10 % for renderers that run wide) and at the font's design widths.
// Controls that are never drawn (hidden, inside a hidden group, or placed
// outside the window as text sources) do not count.
#include "speedpanel/ui/main.h"
#include "speedpanel_res.h"
#include "tests/fakes/nodrives.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>

using namespace velotune;
namespace tk = velotune::tk;

namespace {

int NoBox(HWND, const char*, const char*, UINT) {
    return IDOK;
}
using vt_test::kNoDrives;

std::string WithoutPrefix(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

struct Measure {
    std::string face;
    int drawn = 0;     // pixels, as this system draws the font at the control's size
    double design = 0; // pixels, from the font's design widths
};

// The font's face and the text's widths. The design width comes from the same
// face at 2048 pixels to the em (Tahoma's design grid), scaled down, where no
// hinting moves the advances.
Measure Widths(HFONT font, const std::string& text) {
    Measure m;
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    m.face = face;
    SIZE s{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &s);
    m.drawn = s.cx;
    LOGFONTA lf{};
    GetObjectA(font, sizeof lf, &lf);
    const int em = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    LOGFONTA big = lf;
    big.lfHeight = -2048;
    HFONT large = CreateFontIndirectA(&big);
    SelectObject(dc, large);
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &s);
    m.design = s.cx * em / 2048.0;
    SelectObject(dc, old);
    DeleteObject(large);
    ReleaseDC(nullptr, dc);
    return m;
}

bool Drawn(const tk::TForm& form, const tk::TControl& c) {
    for (const tk::TControl* p = &c; p; p = p->Parent())
        if (!p->Visible()) return false;
    RECT r = c.FormBounds();
    return r.left >= 0 && r.top >= 0 && r.right <= form.Width() && r.bottom <= form.Height();
}

// Where a picture button puts its glyph and caption: from the forms' control
// table as the build extracts it from their sources (tools/controls.txt).
struct Placement {
    int margin = -1, spacing = 4;
};
Placement ButtonPlacement(const std::string& form, const std::string& name) {
    Placement p;
    FILE* f = std::fopen(VT_CONTROLS_TABLE, "r");
    if (!f) {
        ADD_FAILURE() << "no control table " << VT_CONTROLS_TABLE;
        return p;
    }
    char line[512], fm[128], nm[128];
    int x, y, w, h, margin, spacing;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "%127s %127s %d %d %d %d %d %d", fm, nm, &x, &y, &w, &h, &margin,
                        &spacing) == 8 &&
            form == fm && name == nm) {
            p = {margin, spacing};
            found = true;
        }
    std::fclose(f);
    EXPECT_TRUE(found) << name << " of " << form << " is not in the control table";
    return p;
}

// The room a control gives its text, in pixels; 0 for kinds without a caption.
int Room(const std::string& form, const tk::TControl& c, int textWidth) {
    RECT r = c.FormBounds();
    const int w = r.right - r.left;
    switch (c.Kind()) {
    case tk::ControlKind::Label:
    case tk::ControlKind::StaticText:
        return w;
    case tk::ControlKind::GroupBox:
        return w - 2 * 8; // the caption starts 8 pixels in; the frame needs as much on the right
    case tk::ControlKind::RadioButton:
        return w - GetSystemMetrics(SM_CXMENUCHECK) - 4; // the round box and its gap
    case tk::ControlKind::SpeedButton: {
        // The face is the button less its 2-pixel frame. A glyph at a margin puts
        // the caption at margin + glyph + spacing; a centred one shares the face.
        BITMAP b{};
        if (c.Picture()) GetObjectA(c.Picture(), sizeof b, &b);
        const Placement p = ButtonPlacement(form, c.Name());
        const int face = w - 4;
        const int gap = b.bmWidth > 0 && textWidth > 0 ? p.spacing : 0;
        if (p.margin >= 0) return face - (p.margin + b.bmWidth + gap);
        return face - b.bmWidth - gap;
    }
    default:
        return 0;
    }
}

void Expect(const std::string& name, const std::string& text, HFONT font, int room) {
    const Measure m = Widths(font, text);
    std::printf("  %-14s %-34s room %3d  drawn %3d  design %6.1f  %s\n", name.c_str(),
                ("\"" + text + "\"").c_str(), room, m.drawn, m.design, m.face.c_str());
    EXPECT_EQ(m.face, "Tahoma") << name << ": the windows are laid out for Tahoma";
    EXPECT_LE(m.drawn, room * 1.10) << name << " \"" << text << "\"";
    EXPECT_LE(m.design, room) << name << " \"" << text << "\" at the design widths";
}

// Checks every drawn caption of a form; returns how many it checked.
int CheckForm(tk::TForm& form, const std::string& formName) {
    form.HandleNeeded();
    int checked = 0;
    for (const auto& owned : form.Controls()) {
        const tk::TControl& c = *owned;
        const std::string text = WithoutPrefix(c.Text());
        if (text.empty() || !Drawn(form, c)) continue;
        const int room = Room(formName, c, Widths(c.Font(), text).drawn);
        if (room == 0) continue;
        Expect(c.Name(), text, c.Font(), room);
        ++checked;
    }
    return checked;
}

class FitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.Initialize("TrelvixVelotune", IDI_PANEL));
        app.SetMessageBox(&NoBox);
        panel = std::make_unique<TFormMain>(nullptr, kNoDrives, &NoBox);
        app.SetMainForm(panel.get());
        about = std::make_unique<TFormAbout>(nullptr, *panel);
        panel->SetAboutBox(about.get());
    }
    void TearDown() override {
        about.reset();
        panel.reset();
        MSG m;
        while (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    tk::Application app;
    std::unique_ptr<TFormMain> panel;
    std::unique_ptr<TFormAbout> about;
};

TEST_F(FitTest, EveryDrawnCaptionOfThePanelFits) {
    // Two group captions, two option buttons, Set and Close.
    EXPECT_EQ(CheckForm(*panel, "TFormMain"), 6);
    // The status line shows one of the panel's texts; the longest ones must fit.
    const tk::TControl& status = panel->Control("StaticText1");
    ASSERT_TRUE(Drawn(*panel, status));
    const RECT r = status.FormBounds();
    // (the mode texts are the captions of Label1 and Label2)
    const std::string high = panel->Control("Label1").Text();
    const std::string silence = panel->Control("Label2").Text();
    for (const char* text : {high.c_str(), silence.c_str(), "Current Speed = 255"})
        Expect("StaticText1", text, status.Font(), r.right - r.left);
}

TEST_F(FitTest, EveryLabelOfTheAboutBoxFits) {
    // Name and version, product line, two credits, date, company and OK.
    EXPECT_EQ(CheckForm(*about, "TFormAbout"), 7);
}

} // namespace
