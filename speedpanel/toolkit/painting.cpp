// Painting: the graphic controls drawn by their form, the group box's face and
// the form's double-buffered paint.
#include "speedpanel/toolkit/detail.h"
#include "speedpanel/toolkit/form.h"
#include <algorithm>

namespace velotune::tk {

namespace {
// Draws a bitmap with one color left out.
void DrawKeyed(HDC dc, int x, int y, HBITMAP bmp, COLORREF key) {
    BITMAP bm{};
    if (!bmp || !GetObjectA(bmp, sizeof(bm), &bm)) return;
    MemoryDC mem(dc);
    SelectScope select(mem.Get(), bmp);
    GdiTransparentBlt(dc, x, y, bm.bmWidth, bm.bmHeight, mem.Get(), 0, 0, bm.bmWidth, bm.bmHeight,
                      key);
}
} // namespace

SIZE detail::BitmapSize(HBITMAP bmp) {
    BITMAP bm{};
    if (!bmp || !GetObjectA(bmp, sizeof(bm), &bm)) return SIZE{0, 0};
    return SIZE{bm.bmWidth, bm.bmHeight};
}

using detail::BitmapSize;

void TControl::PaintGroup(HDC dc) {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    COLORREF bg = ResolveColor(color_ == clDefault ? form_.Color() : color_);
    UniqueBrush brush(CreateSolidBrush(bg));
    FillRect(dc, &rc, brush.Get());
    SelectScope font(dc, Font());
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    RECT frame = rc;
    frame.top += tm.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    if (!text_.empty()) {
        RECT tr{8, 0, 8, tm.tmHeight};
        DrawTextA(dc, text_.c_str(), -1, &tr, DT_SINGLELINE | DT_CALCRECT);
        RECT back{tr.left - 1, tr.top, tr.right + 1, tr.bottom};
        FillRect(dc, &back, brush.Get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(
            dc, ResolveColor(fontColor_ == clDefault ? SysColor(COLOR_WINDOWTEXT) : fontColor_));
        DrawTextA(dc, text_.c_str(), -1, &tr, DT_SINGLELINE);
    }
}

void TControl::Paint(HDC dc, bool pressed) const {
    RECT r = FormBounds();
    const int w = r.right - r.left, h = r.bottom - r.top;
    switch (kind_) {
    case ControlKind::Image:
        if (icon_.Handle()) {
            DrawIconEx(dc, r.left, r.top, icon_.Handle(), 32, 32, 0, nullptr, DI_NORMAL);
        } else if (picture_) {
            MemoryDC mem(dc);
            SelectScope select(mem.Get(), picture_.Get());
            SIZE s = BitmapSize(picture_.Get());
            BitBlt(dc, r.left, r.top, std::min<int>(w, s.cx), std::min<int>(h, s.cy), mem.Get(), 0,
                   0, SRCCOPY);
        }
        break;
    case ControlKind::SpeedButton: {
        RECT face = r;
        DrawFrameControl(dc, &face, DFC_BUTTON,
                         DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pressed ? DFCS_PUSHED : 0));
        if (pressed) OffsetRect(&face, 1, 1);
        SelectScope font(dc, Font());
        SIZE g = BitmapSize(picture_.Get());
        RECT tr{0, 0, 0, 0};
        DrawTextA(dc, text_.c_str(), -1, &tr, DT_SINGLELINE | DT_CALCRECT);
        const int tw = tr.right - tr.left;
        const int fw = face.right - face.left;
        const int gap = g.cx > 0 && tw > 0 ? spacing_ : 0;
        int gx = margin_ >= 0 ? face.left + margin_ : face.left + (fw - (g.cx + gap + tw)) / 2;
        int gy = face.top + (face.bottom - face.top - g.cy) / 2;
        if (picture_) DrawKeyed(dc, gx, gy, picture_.Get(), TransparentColor());
        RECT text{gx + g.cx + gap, face.top, face.right + 40, face.bottom};
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(enabled_ ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextA(dc, text_.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
        break;
    }
    case ControlKind::Label: {
        SelectScope font(dc, Font());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(
            dc, ResolveColor(fontColor_ == clDefault ? SysColor(COLOR_WINDOWTEXT) : fontColor_));
        RECT t = r;
        DrawTextA(dc, text_.c_str(), -1, &t, align_ | DT_EXPANDTABS);
        break;
    }
    case ControlKind::Shape: {
        const int pw = penWidth_;
        UniquePen pen(
            CreatePen(PS_SOLID, pw, ResolveColor(fontColor_ == clDefault ? 0 : fontColor_)));
        UniqueBrush fill;
        if (color_ != clNone)
            fill.Reset(
                CreateSolidBrush(ResolveColor(color_ == clDefault ? RGB(255, 255, 255) : color_)));
        SelectScope selectPen(dc, pen.Get());
        SelectScope selectBrush(dc, fill ? fill.Get() : GetStockObject(NULL_BRUSH));
        const int x = r.left + pw / 2, y = r.top + pw / 2;
        Rectangle(dc, x, y, x + w - pw + 1, y + h - pw + 1);
        break;
    }
    case ControlKind::Bevel: {
        UniquePen shadow(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW)));
        UniquePen light(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT)));
        {
            SelectScope select(dc, shadow.Get());
            MoveToEx(dc, r.left, r.top, nullptr);
            LineTo(dc, r.right, r.top);
        }
        SelectScope select(dc, light.Get());
        MoveToEx(dc, r.left, r.top + 1, nullptr);
        LineTo(dc, r.right, r.top + 1);
        break;
    }
    default:
        break;
    }
}

void TForm::Paint() {
    PaintScope paint(Handle());
    RECT rc;
    GetClientRect(Handle(), &rc);
    MemoryDC mem(paint.DC());
    UniqueBitmap buffer(CreateCompatibleBitmap(paint.DC(), rc.right, rc.bottom));
    SelectScope select(mem.Get(), buffer.Get());
    {
        UniqueBrush background(CreateSolidBrush(ResolveColor(color_)));
        FillRect(mem.Get(), &rc, background.Get());
    }
    for (auto& c : controls_)
        if (!c->Windowed() && !c->parent_ && c->visible_)
            c->Paint(mem.Get(), c.get() == pressed_ && pressedInside_);
    const RECT& dirty = paint.Dirty();
    BitBlt(paint.DC(), dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top,
           mem.Get(), dirty.left, dirty.top, SRCCOPY);
}

} // namespace velotune::tk
