#include "picture_commands.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

#include "storage/staged_file.h"
#include "storage/file_names.h"
#include "formats/picture_file.h"
#include "storage/save_name.h"

namespace tarvex {

PictureCommands::PictureCommands(Workspace& workspace, UserPrompts& prompts) : ws_(workspace), prompts_(prompts) {}

QChar PictureCommands::pathSeparator()
{
    return QDir::separator();
}

// --- Closing ---

void PictureCommands::closeFirst()
{
    ws_.Picture1.setPicture(nullptr);
    ws_.FirstLossy = false;
    ws_.FrameLaid = false;
    ws_.FirstFlippedH = 0;
    ws_.FirstEmpty = kTrue;
}

void PictureCommands::closeSecond()
{
    ws_.Picture2.setPicture(nullptr);
    ws_.Picture4.setPicture(nullptr);
    ws_.FrameLaid = false;
    ws_.SecondFlippedH = 0;
    ws_.SecondEmpty = kTrue;
    ws_.SecondPhoto.reset();
    ws_.Label1.Visible = false;
    ws_.HScroll1.Visible = false;
}

void PictureCommands::DelSource_Click() { closeFirst(); }
void PictureCommands::DelRama_Click() { closeFirst(); }
void PictureCommands::DelDest_Click() { closeSecond(); }
void PictureCommands::DelPict_Click() { closeSecond(); }

// --- Opening ---

// Lets go of the pictures a new one is about to replace, before it is
// decoded: a large photo is then never held twice.
void PictureCommands::releaseFirst()
{
    ws_.FrameLaid = false;
    ws_.Picture1.setPicture(nullptr);
    ws_.Buff.setPicture(nullptr);
}

void PictureCommands::releaseSecond()
{
    ws_.FrameLaid = false;
    ws_.Picture2.setPicture(nullptr);
    ws_.Picture4.setPicture(nullptr);
}

// Decodes the file once for the surface and its companion, calling
// `release` once the file has passed every check short of decoding. A file
// that cannot be read is reported and gives no picture; one that could be
// read only in part opens with a word of warning.
LoadResult PictureCommands::decode(const QString& path, const std::function<void()>& release, bool asPhoto)
{
    LoadResult loaded;
    {
        BusyScope busy(prompts_);
        loaded = decoder_ ? decoder_(path, release, asPhoto) : loadPicture(path, release, asPhoto);
    }
    if (const QString message = loadMessage(path, loaded); !message.isEmpty())
        prompts_.showMessage(message);
    return loaded;
}

void PictureCommands::openFirst(bool closeFirstSurface, const AskName& ask)
{
    if (closeFirstSurface)
        closeFirst();
    ws_.FirstFileName = ask();
    if (ws_.FirstFileName.isEmpty())
        return;
    bool released = false;
    const LoadResult loaded = decode(
        ws_.FirstFileName,
        [&] {
            releaseFirst();
            released = true;
        },
        false);
    const Picture& picture = loaded.picture;
    if (!picture) {
        if (released)  // damaged past its header: the earlier picture is gone, as after a close
            closeFirst();
        return;
    }
    ws_.FirstEmpty = kFalse;
    ws_.FirstLossy = loaded.lossy;
    ws_.Picture1.setPicture(picture, loaded.profile);
    ws_.Buff.setPicture(picture, loaded.profile);
}

void PictureCommands::openSecond(bool closeSecondSurface, const AskName& ask)
{
    if (closeSecondSurface)
        closeSecond();
    ws_.SecondFileName = ask();
    if (ws_.SecondFileName.isEmpty())
        return;
    bool released = false;
    // The photo is what every result is drawn over, and results are
    // opaque: where it has alpha it is laid over white.
    const LoadResult loaded = decode(
        ws_.SecondFileName,
        [&] {
            releaseSecond();
            released = true;
        },
        true);
    const Picture picture = flattened(loaded.picture);
    if (!picture) {
        if (released)
            closeSecond();
        return;
    }
    ws_.SecondPhoto = loaded.photo;
    SplitAtLast(ws_.SecondFileName, pathSeparator(), ws_.PathParts.Folder, ws_.PathParts.Name);
    ws_.SecondEmpty = kFalse;
    ws_.Picture2.setPicture(picture, loaded.profile);
    ws_.Picture4.setPicture(picture, loaded.profile);
}

void PictureCommands::OpenSource_Click()
{
    openFirst(true, [this] { return prompts_.askFileToOpen(); });
}

void PictureCommands::OpenDest_Click()
{
    openSecond(true, [this] { return prompts_.askFileToOpen(); });
}

void PictureCommands::AddFrameInP1_Click()
{
    openFirst(false, [this] { return prompts_.askFileToOpen(); });
}

void PictureCommands::AddPictIn2_Click()
{
    openSecond(false, [this] { return prompts_.askFileToOpen(); });
}

void PictureCommands::openFirstAs(const QString& path)
{
    openFirst(ws_.MixMode == kTrue, [&path] { return path; });
}

void PictureCommands::openSecondAs(const QString& path)
{
    openSecond(ws_.MixMode == kTrue, [&path] { return path; });
}

// --- Saving ---

// Writes the surface's image under the first free numbered name in the
// second picture's folder, numbering on from the last name saved.
void PictureCommands::saveSurface(const Surface& surface)
{
    QString& name = ws_.PathParts.Name;
    std::optional<double> counter;
    bool number = false;
    if (name.left(3) == QLatin1String("Stn")) {
        counter = leadingNumber(name.mid(3, 3)) + 1;
        number = true;
    } else {
        name = QStringLiteral("Stn000") + name;
    }
    BusyScope busy(prompts_);
    lastSaved_.clear();
    lastDropped_.clear();
    const PhotoInfo photo = ws_.SecondPhoto ? *ws_.SecondPhoto : PhotoInfo{};
    std::optional<StagedFile> staged;  // written once, then offered each free name
    std::optional<ResultFormat> stagedFormat;
    for (;;) {
        if (number)
            name = numberedName(name, *counter);
        const QString fileName = resultFormat_ ? withExtensionFor(name, *resultFormat_) : name;
        const QString candidate = ws_.PathParts.Folder + fileName;
        if (!entryExists(candidate)) {
            const QFileInfo target(candidate);
            // The file is complete, metadata and all, before it takes a name.
            const ResultFormat format = resultFormatOf(fileName);
            if (!staged || stagedFormat != format) {
                const EncodedResult encoded = encodeResult(surface.image(), format, photo, resultSettings_, surface.profile());
                if (!encoded.content) {
                    prompts_.showMessage(QStringLiteral("Rezultatul nu a putut fi salvat in \"%1\": %2.")
                                             .arg(QDir::toNativeSeparators(shownFileName(candidate)), encoded.failure));
                    return;
                }
                lastDropped_ = encoded.dropped;
                staged.reset();
                staged.emplace(encoded.content, target.path(), writeOptions_);
                stagedFormat = format;
            }
            const WriteResult written = staged->nameAs(target.fileName());
            if (written.outcome == WriteOutcome::Written) {
                lastSaved_ = candidate;
                if (!written.warning.isEmpty())
                    prompts_.showMessage(QStringLiteral("Rezultatul \"%1\" a fost salvat, dar %2.")
                                             .arg(QDir::toNativeSeparators(shownFileName(candidate)), written.warning));
                return;
            }
            if (written.outcome == WriteOutcome::Failed) {
                prompts_.showMessage(QStringLiteral("Rezultatul nu a putut fi salvat in \"%1\": %2.")
                                         .arg(QDir::toNativeSeparators(shownFileName(candidate)), written.failure));
                return;
            }
        }
        // Taken, by the existence test or by someone faster than the write.
        counter = counter.value_or(0) + 1;
        number = true;
    }
}

void PictureCommands::Save_Click()
{
    saveSurface(ws_.Picture2);
}

void PictureCommands::SaveFrame_Click()
{
    saveSurface(ws_.Picture5);
}

}  // namespace tarvex
