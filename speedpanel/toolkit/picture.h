// Pictures stored in the program: plain bitmaps, or packed ones unpacked at load.
#pragma once

#include <windows.h>
#include <cstddef>

namespace velotune::tk {

// A 24-bit DIB section with the pixels of a packed picture ("VPK1": width,
// height and bits per pixel, then the bitmap's padded bottom-up rows, each
// byte from the fourth of a row on stored as its difference to the byte
// three places before it, in an LZ-style stream of literal runs and copies).
// nullptr when the data is not a complete, well-formed packed picture.
HBITMAP UnpackPicture(const void* data, std::size_t size);

// The bitmap resource id of a module as a DIB section: a BITMAP resource, or
// else a packed picture stored as RCDATA under the same id. nullptr if neither.
HBITMAP LoadPicture(HINSTANCE module, int id);

} // namespace velotune::tk
