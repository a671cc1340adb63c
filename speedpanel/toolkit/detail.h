// Helpers shared by the toolkit's own sources; not part of its interface.
#pragma once

#include "speedpanel/toolkit/form.h"

namespace velotune::tk::detail {

HFONT MakeFont(const FontDef& font);
// Registers a window class of this program once; true when it exists afterwards.
bool RegisterOnce(const char* name, WNDPROC proc, UINT style = 0, HICON icon = nullptr,
                  HCURSOR cursor = nullptr);
// Width and height of a bitmap; 0 x 0 for none.
SIZE BitmapSize(HBITMAP bitmap);

} // namespace velotune::tk::detail
