#include "image_commands.h"

#include <algorithm>
#include <cstring>

#include "formats/colour_profile.h"
#include "raster/raster.h"

namespace tarvex {

namespace {

int R(double v)
{
    return toInt32(v);
}

double clampPosition(double v)
{
    return std::clamp(v, -32768.0, 32767.0);
}

// Blanks the pixels of the w x h region at the surface's top-left corner
// that lie outside the rectangle (x, y, keepW, keepH).
void blankOutside(Surface& surface, int w, int h, long x, long y, int keepW, int keepH)
{
    const raster::Bitmap b = surface.target();
    const int right = std::clamp(w, 0, b.width), bottom = std::clamp(h, 0, b.height);
    const auto clampTo = [](long v, int hi) { return int(std::clamp<long>(v, 0, hi)); };
    const int x0 = clampTo(x, right), x1 = std::max(x0, clampTo(x + keepW, right));
    const int y0 = clampTo(y, bottom), y1 = std::max(y0, clampTo(y + keepH, bottom));
    for (int row = 0; row < bottom; ++row) {
        raster::Pixel* p = b.row(row);
        if (row < y0 || row >= y1) {
            std::fill(p, p + right, kBlankColour);
        } else {
            std::fill(p, p + x0, kBlankColour);
            std::fill(p + x1, p + right, kBlankColour);
        }
    }
}

// The destination's top-left w x h pixels become the source's. When that
// is the whole of both images, no new buffer is made where it can be
// helped (see Surface::copyImageOf).
void copyBlock(Surface& dst, const Surface& src, int w, int h)
{
    if (w == src.ScaleWidth() && h == src.ScaleHeight() && dst.copyImageOf(src))
        return;
    raster::BitBlt(dst.target(), 0, 0, w, h, src.source(), 0, 0);
}

// Copies the W x H source to the destination's top-left corner, mirrored
// along one axis when f is 1 (a negative extent from the far edge) and
// straight when f is 0. A copy that covers the whole destination draws
// into it without first copying what it held.
void drawMirrored(Surface& dst, const Surface& src, int W, int H, int f, bool horizontal)
{
    const bool coversAll = W >= dst.ScaleWidth() && H >= dst.ScaleHeight() && W <= src.ScaleWidth() &&
                           H <= src.ScaleHeight();
    const raster::Bitmap to = coversAll ? dst.targetToOverwrite() : dst.target();
    if (horizontal)
        raster::StretchBlt(to, f * W, 0, (1 - 2 * f) * W, H, src.source(), 0, 0, W, H);
    else
        raster::StretchBlt(to, 0, f * H, W, (1 - 2 * f) * H, src.source(), 0, 0, W, H);
}

}  // namespace

// --- Mixing ---

void ImageCommands::VarAdidezid_Click()
{
    ws_.Label1.Visible = true;
    ws_.HScroll1.Visible = true;
}

void ImageCommands::HScroll1_Change()
{
    ws_.BlendArgs.BlendOp = 0;
    ws_.BlendArgs.BlendFlags = 0;
    ws_.BlendArgs.SourceConstantAlpha = std::uint8_t(std::clamp(ws_.HScroll1.Value, 0, 255));
    ws_.BlendArgs.AlphaFormat = 0;
    std::memcpy(&ws_.BlendArgsPacked, &ws_.BlendArgs, sizeof ws_.BlendArgsPacked);

    Surface &p1 = ws_.Picture1, &p2 = ws_.Picture2, &p4 = ws_.Picture4;
    const int w = R(p4.ScaleWidth()), h = R(p4.ScaleHeight());
    // A first picture with alpha is laid by it as well as by the opacity.
    const auto blend = std::uint32_t(ws_.BlendArgsPacked) |
                       (p1.hasAlpha() ? std::uint32_t(raster::AC_SRC_ALPHA) << 24 : 0u);
    const QImage first = overlay();
    if (w == p2.ScaleWidth() && h == p2.ScaleHeight()) {
        // The restore from Picture4 covers all of Picture2: restore and
        // blend go in one pass, Picture2's earlier pixels unread.
        raster::AlphaBlendOver(p2.targetToOverwrite(), p4.source(), 0, 0, R(p2.ScaleWidth()), R(p2.ScaleHeight()),
                               pixelsToRead(first), 0, 0, R(p1.ScaleWidth()), R(p1.ScaleHeight()), blend);
        return;
    }
    copyBlock(p2, p4, w, h);
    raster::AlphaBlend(p2.target(), 0, 0, R(p2.ScaleWidth()), R(p2.ScaleHeight()), pixelsToRead(first), 0, 0,
                       R(p1.ScaleWidth()), R(p1.ScaleHeight()), blend);
}

// --- Framing ---

// Read from the frame one border thickness right of and below the middle of
// its drawing area: the sample point comes from the outer size.
std::uint32_t ImageCommands::frameKeyColour(const QImage& frame) const
{
    const Surface& p1 = ws_.Picture1;
    return raster::GetPixel(pixelsToRead(frame), toInt16(p1.Width() / 2), toInt16(p1.Height() / 2));
}

QImage ImageCommands::overlay() const
{
    const Surface &first = ws_.Picture1, &photo = ws_.Picture4;
    return colour::convertedOnce(first.image(), first.profile(), photo.profile());
}

raster::SoftKey ImageCommands::frameKey(const QImage& frame) const
{
    const int tolerance = ws_.keyTolerance();
    // Half the tolerance is the noise limit: a tolerance of 1 is still the
    // exact key.
    return {frameKeyColour(frame), tolerance / 2};
}

namespace {

// The frame stretched over w x h pixels at (x, y) of dst, over `under`
// (dst's size, or dst itself): by its own alpha where it has one, else
// with its key colour see-through. `pixels` are the frame's in the
// photo's colour space.
void layFrame(const raster::Bitmap& dst, const raster::Bitmap& under, int x, int y, int w, int h,
              const Surface& frame, const QImage& pixels, const raster::SoftKey& key)
{
    const raster::Bitmap src = pixelsToRead(pixels);
    const int fw = R(frame.ScaleWidth()), fh = R(frame.ScaleHeight());
    if (frame.hasAlpha())
        raster::AlphaBlendOver(dst, under, x, y, w, h, src, 0, 0, fw, fh,
                               raster::packBlendFunction(0, 0, 255, raster::AC_SRC_ALPHA));
    else
        raster::TransparentBltOver(dst, under, x, y, w, h, src, 0, 0, fw, fh, key);
}

}  // namespace

void ImageCommands::AddFrameToPict_Click()
{
    ws_.InsetX = 0;
    ws_.InsetY = 0;
    Surface &p1 = ws_.Picture1, &p2 = ws_.Picture2, &p5 = ws_.Picture5;
    // The frame is laid over the picture as it stands, read where it lies:
    // a picture still shared with its clean copy is not copied first.
    const Surface::Redrawing over = p2.redraw();
    const QImage frame = overlay();
    layFrame(over.target, over.current, 0, 0, R(p2.ScaleWidth()), R(p2.ScaleHeight()), p1, frame, frameKey(frame));
    p5.setWidth(p2.Width());
    p5.setHeight(p2.Height());
    copyBlock(p5, p2, R(p2.ScaleWidth()), R(p2.ScaleHeight()));
    p5.setProfile(p2.profile());
    ws_.FrameLaid = true;
}

void ImageCommands::KeyTolerance_Change(int tolerance)
{
    ws_.KeyTolerance = tolerance < 0 ? Workspace::kAutomaticTolerance : std::min(tolerance, 255);
    if (ws_.FrameLaid && ws_.Dragging != kTrue)
        drawFrameAt(ws_.InsetX, ws_.InsetY);
}

void ImageCommands::drawFrameAt(int px, int py)
{
    Surface &p1 = ws_.Picture1, &p2 = ws_.Picture2, &p4 = ws_.Picture4, &p5 = ws_.Picture5;
    const int w = R(p4.ScaleWidth()), h = R(p4.ScaleHeight());
    const QImage frame = overlay();
    const raster::SoftKey key = frameKey(frame);
    if (w == p2.ScaleWidth() && h == p2.ScaleHeight()) {
        // The restore from Picture4 covers all of Picture2: restore and
        // frame go in one pass, Picture2's earlier pixels unread.
        layFrame(p2.targetToOverwrite(), p4.source(), px, py, w, h, p1, frame, key);
    } else {
        copyBlock(p2, p4, w, h);
        const raster::Bitmap target = p2.target();
        layFrame(target, target, px, py, w, h, p1, frame, key);
    }
    // Where the frame reaches past the picture there is nothing to copy:
    // that part of the result is blank, never left over from a former move.
    blankOutside(p5, w, h, -long(px), -long(py), p2.ScaleWidth(), p2.ScaleHeight());
    raster::StretchBlt(p5.target(), 0, 0, w, h, p2.source(), px, py, w, h);
    p5.setWidth(p2.Width());
    p5.setHeight(p2.Height());
    p5.setProfile(p2.profile());
}

// --- Moving and dragging ---

void ImageCommands::Form_KeyDown(std::int16_t keyCode, std::int16_t)
{
    Surface& p2 = ws_.Picture2;
    if (keyCode == vbKeyLeft)
        p2.Left = clampPosition(p2.Left - kKeyStep);
    if (keyCode == vbKeyRight)
        p2.Left = clampPosition(p2.Left + kKeyStep);
    if (keyCode == vbKeyUp)
        p2.Top = clampPosition(p2.Top - kKeyStep);
    if (keyCode == vbKeyDown)
        p2.Top = clampPosition(p2.Top + kKeyStep);
    if (keyCode == vbKeyEscape) {
        p2.Left = Workspace::kSecondLeft;
        p2.Top = ws_.Picture1.Top;
    }
    p2.touch();
}

void ImageCommands::Picture2_MouseDown(std::int16_t, std::int16_t, float x, float y)
{
    if (ws_.MixMode == kTrue)
        return;
    const float width = float(ws_.Picture2.ScaleWidth()), height = float(ws_.Picture2.ScaleHeight());
    const float insetX = ws_.InsetX, insetY = ws_.InsetY;
    const bool inside = x > insetX && x < insetX + width && y > insetY && y < insetY + height;
    if (inside) {
        ws_.DragStartX = toInt16(x);
        ws_.DragStartY = toInt16(y);
        ws_.Dragging = kTrue;
    } else {
        ws_.Dragging = kFalse;
    }
}

void ImageCommands::Picture2_MouseMove(std::int16_t, std::int16_t, float x, float y)
{
    if (ws_.MixMode == kTrue || ws_.Dragging != kTrue)
        return;
    drawFrameAt(toInt32(double(ws_.InsetX) + x - ws_.DragStartX), toInt32(double(ws_.InsetY) + y - ws_.DragStartY));
}

void ImageCommands::Picture2_MouseUp(std::int16_t, std::int16_t, float x, float y)
{
    if (ws_.MixMode == kTrue || ws_.Dragging != kTrue)
        return;
    ws_.InsetX = toInt16(double(ws_.InsetX) + x - ws_.DragStartX);
    ws_.InsetY = toInt16(double(ws_.InsetY) + y - ws_.DragStartY);
    ws_.Dragging = kFalse;
}

// --- Reduced preview ---

void ImageCommands::ShowReduced()
{
    Surface &p1 = ws_.Picture1, &p2 = ws_.Picture2, &p3 = ws_.Picture3;
    p3.setWidth(p2.Width() / 3);
    p3.setHeight(p2.Height() / 3);
    raster::StretchBlt(p3.target(), 0, 0, R(p2.ScaleWidth() / 3.0), R(p2.ScaleHeight() / 3.0), p2.source(), 0, 0,
                       R(p2.ScaleWidth()), R(p2.ScaleHeight()));
    p3.setProfile(p2.profile());
    p3.Left = 0;
    p3.Top = p1.Top;
    p1.Visible = false;
    p2.Visible = false;
    p3.Visible = true;
    for (Surface* s : {&p1, &p2, &p3})
        s->touch();
}

void ImageCommands::HideReduced()
{
    Surface &p1 = ws_.Picture1, &p2 = ws_.Picture2, &p3 = ws_.Picture3;
    p3.setPicture(nullptr);
    p3.Visible = false;
    p1.Visible = true;
    p2.Visible = true;
    for (Surface* s : {&p1, &p2, &p3})
        s->touch();
}

// --- Mirroring ---

// The first surface is redrawn from its loaded picture, straight or
// mirrored as the axis's flag now says; the flag keeps its new value.
void ImageCommands::flipFirst(std::uint8_t& flag, bool horizontal)
{
    if (ws_.FirstEmpty == kTrue)
        return;
    flag = std::uint8_t(1 - flag);
    const int f = flag;
    Surface &p1 = ws_.Picture1, &buff = ws_.Buff;
    buff.setPicture(p1.picture(), p1.profile());
    const int W = R(buff.ScaleWidth()), H = R(buff.ScaleHeight());
    drawMirrored(p1, buff, W, H, f, horizontal);
}

// The second surface is mirrored from its clean copy, and the result
// becomes the clean copy: successive flips build on each other. The flag
// is 1 only while the mirrored copy is drawn.
void ImageCommands::flipSecond(std::uint8_t& flag, bool horizontal)
{
    if (ws_.SecondEmpty == kTrue)
        return;
    flag = std::uint8_t(1 - flag);
    const int f = flag;
    Surface &p2 = ws_.Picture2, &p4 = ws_.Picture4;
    const int W = R(p4.ScaleWidth()), H = R(p4.ScaleHeight());
    drawMirrored(p2, p4, W, H, f, horizontal);
    ws_.FrameLaid = false;  // the picture is drawn anew, without the frame
    copyBlock(p4, p2, R(p2.ScaleWidth()), R(p2.ScaleHeight()));
    flag = std::uint8_t(1 - flag);
}

void ImageCommands::HFlipSource_Click() { flipFirst(ws_.FirstFlippedH, true); }
void ImageCommands::VerticalFlipSource_Click() { flipFirst(ws_.FirstFlippedV, false); }
void ImageCommands::HFlipDest_Click() { flipSecond(ws_.SecondFlippedH, true); }
void ImageCommands::VFlipDest_Click() { flipSecond(ws_.SecondFlippedV, false); }

}  // namespace tarvex
