// Decimal text of small numbers without the C runtime's formatted printing,
// which would bring its whole formatter (about 20 KB) into the programs.
#pragma once

#include <cstddef>

namespace velotune {

// Room FormatDecimal needs for any unsigned value: ten digits and the zero.
inline constexpr std::size_t kDecimalSize = 11;

// Writes value in decimal at out, right-aligned with blanks to at least width
// characters (as printf's "%*u" does), and a terminating zero. out holds at
// least size characters; text that would not fit is cut, like snprintf cuts
// it. Returns the number of characters written, the zero not counted.
inline std::size_t FormatDecimal(char* out, std::size_t size, unsigned value,
                                 std::size_t width = 0) {
    if (size == 0) return 0;
    char digits[kDecimalSize];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::size_t written = 0;
    for (std::size_t pad = n; pad < width && written + 1 < size; ++pad)
        out[written++] = ' ';
    while (n > 0 && written + 1 < size)
        out[written++] = digits[--n];
    out[written] = '\0';
    return written;
}

} // namespace velotune
