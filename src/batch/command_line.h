#pragma once
// tarvex-batch's command line: the options it takes and the one-line
// reason when they are not valid.
#include <variant>

#include "batch.h"

namespace tarvex::batch {

// The options of a command line (without the program's name), or the
// one-line reason it is not a valid one. `help` and `version` are set when
// asked for; the other fields are then meaningless.
struct ParsedCommandLine {
    Options options;
    bool help = false;
    bool version = false;
};
std::variant<ParsedCommandLine, QString> parseCommandLine(const QStringList& arguments);
QString helpText();

}  // namespace tarvex::batch
