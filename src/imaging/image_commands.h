#pragma once
// The commands that compose pictures on the workspace: the blend, the
// colour-keyed frame, moving the second picture and dragging the frame, the
// reduced preview and mirroring. They draw with the raster primitives into
// the surfaces' images and never see a widget.
#include <cstdint>

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
    std::uint32_t frameKeyColour() const;

    Workspace& ws_;
};

}  // namespace tarvex
