#pragma once
// Which photos a run works on, and where each one's result goes: names
// given on the command line, folders walked for picture files, lists of
// names read from a file or standard input; earlier results and photos
// already done left out, and told. Names are bytes, held as file_names.h
// holds them; nothing here decodes a picture.
#include <QSet>
#include <QString>
#include <QStringList>
#include <map>
#include <vector>

namespace tarvex::batch {

struct Options;

// A photo to work on: its path, and the folder its result goes into
// (empty: next to the photo).
struct Photo {
    QString path;
    QString resultFolder;
};

// A photo left out, and why, in Romanian.
struct LeftOut {
    QString path;
    QString reason;
    bool earlierResult = false;  // named as a result of an earlier run (else: already done)
};

struct PhotoList {
    std::vector<Photo> photos;    // in the order they are taken
    std::vector<LeftOut> leftOut;
    QString failure;              // a folder or list that could not be read: the run does nothing
};

// The photos of a run's inputs: each name given is a photo, each folder
// is walked for files whose extension is a picture format's (in either
// case), its subfolders too when `recursive`; hidden files and folders
// (names that begin with a dot) are skipped, and links to folders are not
// followed. A folder's entries are taken sorted by their bytes. Names from
// `filesFrom` ("-": standard input), one a line or separated by NULs,
// follow the command line's. With an out folder, a photo found in a folder
// keeps its place below that folder under the out folder; a relative name
// from a list keeps its own folder there (as `find` lists a tree); a name
// on the command line goes straight into it.
PhotoList gatherPhotos(const Options& options);

// Whether `name`'s extension is that of a picture format a run opens.
bool isPictureName(const QString& name);

// The name a result of `photo` (a file name) takes, before its number: the
// photo's name, its extension replaced by `extension` where one is given;
// a photo that is itself a numbered result loses its "Stn" and digits.
QString resultStem(const QString& photo, const QString& extension = {});

// Whether `folder` holds a numbered result of `stem`: "Stn", three digits
// and the stem. Each folder is listed once, and remembered.
class DoneResults {
public:
    bool has(const QString& folder, const QString& stem);

private:
    std::map<QString, QSet<QString>> stems_;  // by folder: the stems of its numbered results
};

}  // namespace tarvex::batch
