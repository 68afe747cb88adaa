#pragma once
// Every operation a menu item or a toolbar button can run, and the maps from
// the two toolbars' button indexes to them.
#include <QMetaType>

namespace tarvex {

enum class Command {
    None,
    OpenSource, OpenDest, VarAdidezid, Save, DelSource, DelDest, Exit,
    HFlipSource, HFlipDest, VerticalFlipSource, VFlipDest,
    AddFrameInP1, AddPictIn2, AddFrameToPict, SaveFrame, DelRama, DelPict, FinRama,
    About,
    KeyLeft, KeyRight, KeyUp, KeyDown,  // the key handler with an arrow key, shift state 0
    ShowReduced, HideReduced,
};

// What button `index` (1-based) of toolbar 1 (mixing) or 2 (framing) runs;
// None outside 1..17.
Command toolbarCommand(int toolbar, int index);

}  // namespace tarvex

Q_DECLARE_METATYPE(tarvex::Command)
