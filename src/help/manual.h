#pragma once
// What each program tells of its command line, written once and shown
// three ways: as --help, as its manual page, and (for tarvex-batch) as
// bash completion. The help and the pages cannot drift apart: they are
// made from the same text. Texts are the product's own, in Romanian.
#include <QByteArray>
#include <QString>
#include <vector>

namespace tarvex::help {

struct Option {
    const char* shortName;    // one letter, or null
    const char* longName;     // without its dashes
    const char* value;        // the value's name ("N", "DOSAR"), or null for a switch
    const char* description;  // one paragraph, wrapped when shown
    // What completes the value: the words it takes (space-separated), or
    // "<file>" / "<folder>"; null where nothing sensible completes it.
    const char* completes = nullptr;
};

struct Section {
    const char* title;  // in capitals, as manual pages head them
    // Paragraphs separated by an empty line; a paragraph whose lines start
    // with two spaces is shown as it stands (examples, tables).
    const char* text;
};

struct Manual {
    const char* name;     // the program's name
    const char* summary;  // one line: what it does
    std::vector<const char*> usage;  // each way to call it, after the name
    const char* description;         // paragraphs, as in Section::text
    std::vector<Option> options;
    std::vector<Section> sections;   // after the options
};

const Manual& batchManual();   // tarvex-batch
const Manual& windowManual();  // tarvex

// The manual as --help shows it: usage lines, description and sections
// wrapped at 79 columns, options in a table whose descriptions start in
// one column.
QString helpText(const Manual& manual);

// The first usage line and a pointer to --help, for a usage error.
QString usageLine(const Manual& manual);

// The manual as a page of section 1, in roff (man(7) macros).
QByteArray manPage(const Manual& manual, const QString& version);

// A bash completion script for the program: its options, the words their
// values take, files and folders where they name them, and files for
// everything else.
QByteArray bashCompletion(const Manual& manual);

}  // namespace tarvex::help
