#include "speedpanel/ui/about.h"
#include "speedpanel_res.h"
#include "version.h"

namespace velotune {

namespace {
using tk::ControlDef;
using tk::ControlKind;
using tk::SysColor;

constexpr COLORREF kSkyBlue = RGB(166, 202, 240);

const tk::FormDef kAboutForm{
    .className = "TFormAbout",
    .caption = "About Quillon",
    .width = 245,
    .height = 165,
    .color = SysColor(COLOR_BTNFACE),
    .font = {"Tahoma", -11, false},
    .keyPreview = true,
    .position = tk::TPosition::poScreenCenter,
    .stayOnTop = true,
};

// Painted in this order: the two shapes first, everything else on top.
const ControlDef kAboutControls[] = {
    {.name = "Shape1",
     .kind = ControlKind::Shape,
     .left = 0,
     .top = 0,
     .width = 245,
     .height = 165,
     .color = kSkyBlue,
     .fontColor = SysColor(COLOR_BACKGROUND),
     .penWidth = 2},
    {.name = "Shape2",
     .kind = ControlKind::Shape,
     .left = 4,
     .top = 4,
     .width = 237,
     .height = 157,
     .color = SysColor(COLOR_BTNFACE),
     .fontColor = SysColor(COLOR_BTNSHADOW),
     .penWidth = 1},
    {.name = "Image1",
     .kind = ControlKind::Image,
     .left = 23,
     .top = 14,
     .width = 32,
     .height = 32,
     .picture = IDI_PANEL,
     .pictureIsIcon = true},
    {.name = "Label1",
     .kind = ControlKind::Label,
     .left = 62,
     .top = 22,
     .width = 156,
     .height = 16,
     .text = "VELOTUNE Ver " VELOTUNE_PRODUCT_VERSION_STR,
     .font = {"Tahoma", -13, true}},
    {.name = "Bevel1",
     .kind = ControlKind::Bevel,
     .left = 10,
     .top = 52,
     .width = 225,
     .height = 5},
    {.name = "Label2",
     .kind = ControlKind::Label,
     .left = 33,
     .top = 56,
     .width = 174,
     .height = 13,
     .text = "Trelvix Velotune  For Windows"},
    {.name = "Label3",
     .kind = ControlKind::Label,
     .left = 58,
     .top = 70,
     .width = 117,
     .height = 13,
     .text = "Coded by S.H. Baek"},
    {.name = "Label6",
     .kind = ControlKind::Label,
     .left = 82,
     .top = 84,
     .width = 93,
     .height = 13,
     .text = "J.W. Nam",
     .align = DT_RIGHT},
    {.name = "Label4",
     .kind = ControlKind::Label,
     .left = 101,
     .top = 98,
     .width = 38,
     .height = 13,
     .text = "2004.1."},
    {.name = "Label5",
     .kind = ControlKind::Label,
     .left = 39,
     .top = 112,
     .width = 167,
     .height = 13,
     .text = VELOTUNE_COMPANY_STR,
     .align = DT_CENTER},
    {.name = "Bevel2",
     .kind = ControlKind::Bevel,
     .left = 10,
     .top = 130,
     .width = 225,
     .height = 5},
    {.name = "SpeedButton1",
     .kind = ControlKind::SpeedButton,
     .left = 92,
     .top = 135,
     .width = 61,
     .height = 21,
     .text = "&OK",
     .picture = IDB_OK},
};
} // namespace

TFormAbout::TFormAbout(tk::TComponent* owner, tk::TForm& mainForm)
    : tk::TForm(owner, kAboutForm, kAboutControls), mainForm_(mainForm) {
    Control("SpeedButton1").SetTransparentColor(RGB(255, 0, 0));
    Control("SpeedButton1").OnClick = tk::Bind(this, &TFormAbout::SpeedButton1Click);
    OnKeyUp = tk::Bind(this, &TFormAbout::FormKeyUp);
    OnDeactivate = tk::Bind(this, &TFormAbout::FormDeactivate);
    OnActivate = tk::Bind(this, &TFormAbout::FormActivate);
}

void TFormAbout::CreateParams(TCreateParams& params) {
    tk::TForm::CreateParams(params);
    // Owned by the main window: no taskbar button, always above its owner.
    mainForm_.HandleNeeded();
    params.parent = mainForm_.Handle();
}

void TFormAbout::SpeedButton1Click(tk::TComponent*) {
    Close();
}

void TFormAbout::FormKeyUp(tk::TComponent*, WORD& key, tk::TShiftState) {
    if (key == VK_ESCAPE || key == VK_RETURN) Close();
}

void TFormAbout::FormDeactivate(tk::TComponent*) {
    Close();
}

void TFormAbout::FormActivate(tk::TComponent*) {}

} // namespace velotune
