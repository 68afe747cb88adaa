#pragma once
// Everything the main window remembers between two user actions, without
// the window: its variables (kept for the life of the program), the
// program-wide mode flag, and its controls' state (the six picture surfaces,
// the blend label and scroll bar), which a new load of the window resets to
// the design layout.
#include <QString>
#include <cstdint>
#include <memory>

#include "conversions.h"
#include "formats/result_file.h"
#include "surface.h"

namespace tarvex {

// The packed-blend record, field for field as the blend expects it.
struct BlendFunction {
    std::uint8_t BlendOp = 0;
    std::uint8_t BlendFlags = 0;
    std::uint8_t SourceConstantAlpha = 0;
    std::uint8_t AlphaFormat = 0;
};

struct PathSplit {
    QString Folder;  // up to and including the last separator
    QString Name;    // the rest
};

struct LabelState {
    bool Visible = true;
};

struct ScrollBarState {
    bool Visible = true;
    int Value = 0;
    static constexpr int Max = 255;
};

class Workspace {
public:
    Workspace();

    // --- Variables of the main window; they outlive every load. ---
    BlendFunction BlendArgs;
    std::int32_t BlendArgsPacked = 0;
    QString FirstFileName;
    QString SecondFileName;
    PathSplit PathParts;
    std::uint8_t FirstFlippedH = 0;
    std::uint8_t SecondFlippedH = 0;
    std::uint8_t FirstFlippedV = 0;
    std::uint8_t SecondFlippedV = 0;
    VbBool FirstEmpty = kFalse;
    VbBool SecondEmpty = kFalse;
    std::int16_t InsetX = 0;
    std::int16_t InsetY = 0;
    std::int16_t DragStartX = 0;
    std::int16_t DragStartY = 0;
    VbBool Dragging = kFalse;

    // The frame's colour key: how far from the key colour a pixel may be
    // and still be (partly) see-through. kAutomaticTolerance follows the
    // frame's file: exact for lossless files, kLossyTolerance for lossy
    // ones, whose coding blurs the key colour.
    static constexpr int kAutomaticTolerance = -1;
    static constexpr int kLossyTolerance = 64;
    int KeyTolerance = kAutomaticTolerance;
    bool FirstLossy = false;  // the first picture came from a lossy file
    // What the second picture's file tells about saving results drawn over
    // it: its JPEG coding and its metadata. Null while none is open.
    std::shared_ptr<const PhotoInfo> SecondPhoto;
    // The frame was laid over the picture and is still shown there: a new
    // tolerance redraws it.
    bool FrameLaid = false;
    // The tolerance in force: the user's, or the automatic one.
    int keyTolerance() const;
    // Whether the tolerance means anything now: in framing mode, with a
    // frame that is laid by its key colour rather than by its own alpha.
    bool frameIsKeyed() const;

    // Program-wide: True while the main window works in mixing mode. Only the
    // chooser writes it. It lives here because this object lives as long as
    // the program does.
    VbBool MixMode = kFalse;

    // --- Controls: reset to the design layout by resetControls(). ---
    Surface Picture5, Picture3, Buff, Picture4, Picture2, Picture1;
    LabelState Label1;
    ScrollBarState HScroll1;

    // The controls as the window layout creates them.
    void resetControls();
    // The main window's load step.
    void Form_Load();

    static constexpr int kScrollStart = 128;  // the scroll bar's design value: a half mix
    static constexpr double kSecondLeft = 640;
    static constexpr double kPicturesTop = 80;
};

}  // namespace tarvex
