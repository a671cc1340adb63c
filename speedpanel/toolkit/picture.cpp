#include "speedpanel/toolkit/picture.h"
#include <cstdint>
#include <cstring>

namespace velotune::tk {

namespace {
constexpr std::size_t kHeader = 10; // magic, width, height, bits per pixel
constexpr unsigned kMinCopy = 4;

unsigned U16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}

// Unpacks the stream into exactly size bytes; false on any malformed token.
bool Inflate(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t size) {
    std::size_t i = 0, o = 0;
    while (o < size) {
        if (i >= inSize) return false;
        const unsigned t = in[i++];
        if (t < 0x80) {
            const std::size_t n = t + 1;
            if (n > inSize - i || n > size - o) return false;
            std::memcpy(out + o, in + i, n);
            i += n;
            o += n;
        } else {
            const std::size_t n = (t & 0x7F) + kMinCopy;
            if (inSize - i < 2) return false;
            const std::size_t back = U16(in + i);
            i += 2;
            if (back == 0 || back > o || n > size - o) return false;
            for (std::size_t k = 0; k < n; ++k, ++o) // overlapping copies repeat
                out[o] = out[o - back];
        }
    }
    return i == inSize;
}
} // namespace

HBITMAP UnpackPicture(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (!p || size < kHeader || std::memcmp(p, "VPK1", 4) != 0) return nullptr;
    const int w = static_cast<int>(U16(p + 4)), h = static_cast<int>(U16(p + 6));
    if (w == 0 || h == 0 || U16(p + 8) != 24) return nullptr;
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};

    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h; // bottom-up, as the rows are stored
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    auto* out = static_cast<std::uint8_t*>(bits);
    if (!Inflate(p + kHeader, size - kHeader, out, stride * h)) {
        DeleteObject(bitmap);
        return nullptr;
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = out + stride * y;
        for (std::size_t x = 3; x < stride; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + row[x - 3]);
    }
    GdiFlush();
    return bitmap;
}

HBITMAP LoadPicture(HINSTANCE module, int id) {
    if (FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2))) // RT_BITMAP
        return static_cast<HBITMAP>(
            LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10)); // RT_RCDATA
    HGLOBAL loaded = res ? LoadResource(module, res) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? UnpackPicture(data, SizeofResource(module, res)) : nullptr;
}

} // namespace velotune::tk
