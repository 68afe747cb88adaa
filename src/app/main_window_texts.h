#pragma once
// The main window's menus and toolbars as data: names, captions, shortcuts,
// tooltips. Every visible text of the window is here and nowhere else.
#include <array>

#include "commands.h"

namespace tarvex::mainTexts {

inline constexpr const char* kCaption = "VarAdidezid";
inline constexpr const char* kLabel1 = "Mixeaza";
inline constexpr const char* kCdlgFilter =
    "Picturi (*.bmp;*.jpg;*.jpeg;*.heic;*.heif;*.avif)|*.bmp;*.jpg;*.jpeg;*.heic;*.heif;*.avif";
inline constexpr const char* kMessageCaption = "Tarvex";

struct MenuItem {
    const char* name;
    const char* caption;
    const char* shortcut;
    Command command;
};

struct Menu {
    const char* name;
    const char* caption;
    std::array<MenuItem, 7> items;  // unused entries have a null name
};

inline constexpr std::array<Menu, 4> kMenus{{
    {"MixPict", "Mixare Poze",
     {{{"OpenSource", "Deschide prima poza", "F2", Command::OpenSource},
       {"OpenDest", "Deschide poza a doua", "Ctrl+F2", Command::OpenDest},
       {"VarAdidezid", "Mixeaza poze", "F3", Command::VarAdidezid},
       {"Save", "Salveaza", "F8", Command::Save},
       {"DelSource", "Inchide prima poza", "F4", Command::DelSource},
       {"DelDest", "Inchide poza a doua", "Ctrl+F4", Command::DelDest},
       {"Exit", "Termina", "F9", Command::Exit}}}},
    {"EditPict", "Editeaza Poze",
     {{{"HFlipSource", "Intoarce orizontal prima poza", "Ctrl+F5", Command::HFlipSource},
       {"HFlipDest", "Intoarce orizontal a doua poza", "Ctrl+F6", Command::HFlipDest},
       {"VerticalFlipSource", "Intoarce vertical prima poza", "Ctrl+F7", Command::VerticalFlipSource},
       {"VFlipDest", "Intoarce vertical a doua poza", "Ctrl+F8", Command::VFlipDest}}}},
    {"AddFrame", "Pune rama",
     {{{"AddFrameInP1", "Deschide Rama", "Shift+F2", Command::AddFrameInP1},
       {"AddPictIn2", "Deschide pictura", "Ctrl+Shift+F2", Command::AddPictIn2},
       {"AddFrameToPict", "Pune rama", "Shift+F3", Command::AddFrameToPict},
       {"SaveFrame", "Salveaza rama", "Shift+F8", Command::SaveFrame},
       {"DelRama", "Inchide Rama", "Shift+F4", Command::DelRama},
       {"DelPict", "Inchide pictura", "Ctrl+Shift+F4", Command::DelPict},
       {"FinRama", "Termina", "Shift+F9", Command::FinRama}}}},
    {"Ajutor", "Help", {{{"About", "Despre", "F1", Command::About}}}},
}};

inline constexpr std::array<const char*, 17> kToolbar1Tips{
    "Deschide prima imagine", "Deschide a doua imagine", "Mixeaza imaginile", "Salveaza",
    "Inchide prima imagine", "Inchide a doua imagine", "Iesire", "Intoarce orizontal prima poza",
    "Intoarce orizontal a doua poza", "Intoarce vertical prima poza", "Intoarce vertical a doua poza",
    "Deplaseaza stanga poza a doua", "Deplaseaza dreapta poza a doua", "Deplaseaza in sus poza a doua",
    "Deplaseaza in jos poza a doua", "Arata redus", "Ascunde"};

inline constexpr std::array<const char*, 17> kToolbar2Tips{
    "Deschide Rama", "Deschide Pictura", "Inrameaza", "Salveaza", "Inchide rama", "Inchide pictura", "Iesire",
    "Intoarce orizontal rama", "Intoarce orizontal poza", "Intoarce vertical rama", "Intoarce vertical poza",
    "Deplaseaza stanga poza", "Deplaseaza dreapta poza", "Deplaseaza in sus poza", "Deplaseaza in jos poza",
    "Arata redus", "Ascunde"};

// Accessible descriptions of the picture boxes: which picture each holds.
inline constexpr const char* kBoxMixing[] = {"Prima poza", "Poza a doua (rezultatul mixarii)"};
inline constexpr const char* kBoxFraming[] = {"Rama", "Pictura (rezultatul inramarii)"};
inline constexpr const char* kBoxEmpty = "goala";
inline constexpr const char* kPreview = "Previzualizare redusa";
inline constexpr const char* kHiddenBoxes[] = {"Rezultatul inramarii, pentru salvare",  // Picture5
                                               "Copia primei poze",                     // Buff
                                               "Copia curata a pozei a doua"};          // Picture4
inline constexpr const char* kScrollName = "Intensitatea mixarii";

// The frame's key tolerance, shown in framing mode.
inline constexpr const char* kToleranceLabel = "Toleranta culorii";
inline constexpr const char* kToleranceAutomatic = "automata";
inline constexpr const char* kToleranceTip =
    "Cat de departe de culoarea ferestrei ramei poate fi un pixel si tot sa lase poza sa se vada: "
    "0 doar culoarea exacta; automata: 64 pentru rame JPEG, 0 pentru celelalte. "
    "Ramele cu transparenta folosesc transparenta lor.";

}  // namespace tarvex::mainTexts
