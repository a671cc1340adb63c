// A drop-down list drawn as designed, also under visual styles.
#pragma once

#include <windows.h>

namespace velotune {

// Takes the control out of theming and draws its flat one-pixel bevel in the
// button-shadow colour, with the field's own colour inside. Themed, a
// drop-down list draws its closed field from the theme and loses both.
void KeepFlatLook(HWND comboBox, COLORREF fill);

} // namespace velotune
