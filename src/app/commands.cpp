#include "commands.h"

#include <array>

namespace tarvex {

Command toolbarCommand(int toolbar, int index)
{
    using C = Command;
    // Buttons 4 to 17 differ between the toolbars only where the mode's own
    // command does; 8 to 17 are the same in both.
    static constexpr std::array<C, 17> mixing{
        C::OpenSource, C::OpenDest, C::VarAdidezid, C::Save, C::DelSource, C::DelDest, C::Exit,
        C::HFlipSource, C::HFlipDest, C::VerticalFlipSource, C::VFlipDest,
        C::KeyLeft, C::KeyRight, C::KeyUp, C::KeyDown, C::ShowReduced, C::HideReduced};
    static constexpr std::array<C, 17> framing{
        C::AddFrameInP1, C::AddPictIn2, C::AddFrameToPict, C::SaveFrame, C::DelRama, C::DelPict, C::FinRama,
        C::HFlipSource, C::HFlipDest, C::VerticalFlipSource, C::VFlipDest,
        C::KeyLeft, C::KeyRight, C::KeyUp, C::KeyDown, C::ShowReduced, C::HideReduced};
    if (index < 1 || index > 17 || (toolbar != 1 && toolbar != 2))
        return C::None;
    return (toolbar == 1 ? mixing : framing)[std::size_t(index - 1)];
}

}  // namespace tarvex
