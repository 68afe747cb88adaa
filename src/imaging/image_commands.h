#pragma once
// The commands that compose pictures on the workspace: the blend, the
// colour-keyed frame, moving the second picture and dragging the frame, the
// reduced preview and mirroring. They draw with the raster primitives into
// the surfaces' images and never see a widget.
#include <cstdint>

#include "raster/raster.h"
#include "workspace/workspace.h"

namespace tarvex {

// Key codes the key handler understands.
enum KeyCode : std::int16_t { vbKeyEscape = 27, vbKeyLeft = 37, vbKeyUp = 38, vbKeyRight = 39, vbKeyDown = 40 };

class ImageCommands {
public:
    explicit ImageCommands(Workspace& workspace) : ws_(workspace) {}

    // Mixing.
    void VarAdidezid_Click();
    void HScroll1_Change();

    // Framing.
    void AddFrameToPict_Click();
    // A new key tolerance (Workspace::kAutomaticTolerance, or 0..255): a
    // frame laid over the picture is drawn again with it where it lies.
    void KeyTolerance_Change(int tolerance);

    // Moving the second picture's box and dragging the frame over it.
    void Form_KeyDown(std::int16_t keyCode, std::int16_t shift);
    void Picture2_MouseDown(std::int16_t button, std::int16_t shift, float x, float y);
    void Picture2_MouseMove(std::int16_t button, std::int16_t shift, float x, float y);
    void Picture2_MouseUp(std::int16_t button, std::int16_t shift, float x, float y);

    // The one-third preview.
    void ShowReduced();
    void HideReduced();

    // Mirroring.
    void HFlipSource_Click();
    void VerticalFlipSource_Click();
    void HFlipDest_Click();
    void VFlipDest_Click();

    static constexpr double kKeyStep = 10;

private:
    void flipFirst(std::uint8_t& flag, bool horizontal);
    void flipSecond(std::uint8_t& flag, bool horizontal);
    std::uint32_t frameKeyColour(const QImage& frame) const;
    // The frame's key with the tolerance in force.
    raster::SoftKey frameKey(const QImage& frame) const;
    // The first surface's image in the photo's colour space: itself where
    // the two spaces are one, else converted once per pair of pictures
    // (and remembered: a drag, or a batch of photos in one space, converts
    // nothing more).
    QImage overlay() const;
    // The drag's drawing: the clean picture, the frame over it at (px, py),
    // and the frame-sized region under the frame copied to Picture5.
    void drawFrameAt(int px, int py);

    Workspace& ws_;
};

}  // namespace tarvex
