// The About box: product name, version, credits and date. Created once at
// start-up, shown modally by its openers and hidden again when it closes.
#pragma once

#include "speedpanel/toolkit/form.h"

namespace velotune {

class TFormAbout : public tk::TForm {
public:
    // mainForm: the main window, which owns the box's window.
    TFormAbout(tk::TComponent* owner, tk::TForm& mainForm);

    void CreateParams(TCreateParams& params) override;

    void SpeedButton1Click(tk::TComponent* sender);
    void FormKeyUp(tk::TComponent* sender, WORD& key, tk::TShiftState shift);
    void FormDeactivate(tk::TComponent* sender);
    void FormActivate(tk::TComponent* sender);

private:
    tk::TForm& mainForm_;
};

} // namespace velotune
