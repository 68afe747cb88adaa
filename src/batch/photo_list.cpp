#include "photo_list.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "batch.h"
#include "formats/result_file.h"
#include "storage/file_names.h"
#include "storage/save_name.h"
#include "storage/staged_file.h"

namespace tarvex::batch {

namespace {

constexpr const char* kPictureExtensions[] = {"bmp", "dib", "jpg", "jpeg", "jpe", "jfif", "png", "tif",
                                              "tiff", "webp", "heic", "heif", "hif", "avif"};

// A folder's entries as bytes, sorted, with whether each is a folder (not
// a link to one: links are not followed). False, with the errno, where
// the folder cannot be read.
struct Entry {
    QByteArray name;
    bool folder = false;
};
bool listFolder(const QByteArray& path, std::vector<Entry>& entries, int& error)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        error = errno;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')  // hidden, and . and ..
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entries.push_back({QByteArray(e->d_name), S_ISDIR(st.st_mode)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The picture files below `root` (`relative` of the way down), into `list`.
bool walk(const QString& root, const QString& relative, bool recursive, const QString& out, PhotoList& list)
{
    std::vector<Entry> entries;
    int error = 0;
    const QString here = joined(root, relative);
    if (!listFolder(fileNameBytes(here), entries, error)) {
        list.failure = QStringLiteral("dosarul \"%1\" nu poate fi citit: %2").arg(shownFileName(here), writeFailure(error));
        return false;
    }
    // One result folder for the folder's photos, shared by all of them: a
    // library of many thousands holds it once a folder, not once a photo.
    const QString resultFolder = out.isEmpty() ? QString() : joined(out, relative);
    for (const Entry& e : entries) {
        const QString name = fileNameFromBytes(e.name);
        if (e.folder) {
            if (recursive && !walk(root, joined(relative, name), true, out, list))
                return false;
        } else if (isPictureName(name)) {
            list.photos.push_back({joined(here, name), resultFolder});
        }
    }
    return true;
}

// The names of a list, one a line or NUL-separated, as bytes.
bool readList(const QString& from, bool nul, QStringList& names, QString& failure)
{
    FILE* file = from == QLatin1String("-") ? stdin : std::fopen(fileNameBytes(from).constData(), "rb");
    if (!file) {
        failure = QStringLiteral("lista \"%1\" nu poate fi citita: %2").arg(shownFileName(from), writeFailure(errno));
        return false;
    }
    QByteArray all;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        all.append(buffer, qsizetype(n));
    const bool failed = std::ferror(file);
    if (file != stdin)
        std::fclose(file);
    if (failed) {
        failure = QStringLiteral("lista \"%1\" nu poate fi citita").arg(shownFileName(from));
        return false;
    }
    for (const QByteArray& name : all.split(nul ? '\0' : '\n'))
        if (!name.isEmpty())
            names << fileNameFromBytes(name);
    return true;
}

// Where a result of `name` goes under `out`: a relative name that stays
// below the current folder keeps its folder there; any other, the out
// folder itself.
QString listedResultFolder(const QString& name, const QString& out)
{
    if (out.isEmpty())
        return {};
    const QString folder = QFileInfo(name).path();
    if (name.startsWith(QLatin1Char('/')) || folder == QLatin1String(".") ||
        folder.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return out;
    return joined(out, folder.startsWith(QLatin1String("./")) ? folder.mid(2) : folder);
}

bool isFolder(const QString& path)
{
    struct stat st {};
    return ::stat(fileNameBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool isPictureName(const QString& name)
{
    const QString suffix = QFileInfo(name).suffix();
    return std::any_of(std::begin(kPictureExtensions), std::end(kPictureExtensions),
                       [&](const char* e) { return suffix.compare(QLatin1String(e), Qt::CaseInsensitive) == 0; });
}

QString resultStem(const QString& photo, const QString& extension)
{
    QString stem = isNumberedResultName(photo) ? photo.mid(6) : photo;
    if (!extension.isEmpty()) {
        const QString suffix = QFileInfo(stem).suffix();
        stem = (suffix.isEmpty() ? stem : stem.left(stem.size() - suffix.size() - 1)) + QLatin1Char('.') + extension;
    }
    return stem;
}

bool DoneResults::has(const QString& folder, const QString& stem)
{
    auto found = stems_.find(folder);
    if (found == stems_.end()) {
        QSet<QString> stems;
        std::vector<Entry> entries;
        int error = 0;
        if (listFolder(fileNameBytes(folder.isEmpty() ? QStringLiteral(".") : folder), entries, error))
            for (const Entry& e : entries) {
                const QString name = fileNameFromBytes(e.name);
                if (!e.folder && isNumberedResultName(name))
                    stems.insert(name.mid(6));
            }
        found = stems_.emplace(folder, std::move(stems)).first;
    }
    return found->second.contains(stem);
}

PhotoList gatherPhotos(const Options& options)
{
    PhotoList list;
    std::vector<Photo> found;
    for (const QString& input : options.photos) {
        if (isFolder(input)) {
            PhotoList walked;
            if (!walk(input, QString(), options.recursive, options.outFolder, walked)) {
                list.failure = walked.failure;
                return list;
            }
            found.insert(found.end(), walked.photos.begin(), walked.photos.end());
        } else {
            found.push_back({input, options.outFolder});
        }
    }
    if (!options.filesFrom.isEmpty()) {
        QStringList names;
        if (!readList(options.filesFrom, options.nulSeparated, names, list.failure))
            return list;
        for (const QString& name : names)
            found.push_back({name, listedResultFolder(name, options.outFolder)});
    }
    DoneResults done;
    const QString extension = options.format ? QFileInfo(withExtensionFor(QStringLiteral("x"), *options.format)).suffix()
                                             : QString();
    for (Photo& photo : found) {
        const QFileInfo info(photo.path);
        if (!options.includeResults && isNumberedResultName(info.fileName())) {
            list.leftOut.push_back({photo.path, QStringLiteral("este rezultatul unei rulari anterioare"), true});
            continue;
        }
        if (options.skipDone) {
            const QString folder = photo.resultFolder.isEmpty() ? info.path() : photo.resultFolder;
            if (done.has(folder, resultStem(info.fileName(), extension))) {
                list.leftOut.push_back({photo.path, QStringLiteral("are deja un rezultat"), false});
                continue;
            }
        }
        list.photos.push_back(std::move(photo));
    }
    return list;
}

}  // namespace tarvex::batch
