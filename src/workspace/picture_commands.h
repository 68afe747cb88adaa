#pragma once
// The main window's commands that open, close and save pictures. Each one
// changes the workspace and returns; none touches a widget.
#include <functional>
#include <optional>

#include "formats/result_file.h"
#include "storage/staged_file.h"
#include "formats/picture_file.h"
#include "prompts.h"
#include "workspace.h"

namespace tarvex {

class PictureCommands {
public:
    PictureCommands(Workspace& workspace, UserPrompts& prompts);

    // Opening through the shared open dialog.
    void OpenSource_Click();
    void OpenDest_Click();
    void AddFrameInP1_Click();
    void AddPictIn2_Click();

    // Opening a named file exactly as if the dialog had returned that name
    // (a file dropped on a picture box).
    void openFirstAs(const QString& path);   // the first surface's command of the current mode
    void openSecondAs(const QString& path);  // the second surface's

    void DelSource_Click();
    void DelRama_Click();
    void DelDest_Click();
    void DelPict_Click();

    void Save_Click();
    void SaveFrame_Click();

    // The separator at which a chosen path is split into folder and name.
    static QChar pathSeparator();

    // How saved files are written; tests reach into the write through it.
    void setWriteOptions(WriteOptions options) { writeOptions_ = std::move(options); }

    // How a chosen file becomes a picture: loadPicture, unless a caller that
    // opens the same file many times hands out one decode of it instead.
    using Decoder =
        std::function<LoadResult(const QString& path, const std::function<void()>& beforeDecode, bool asPhoto)>;
    void setDecoder(Decoder decoder) { decoder_ = std::move(decoder); }

    // The file the last save wrote, or empty when it failed.
    const QString& lastSavedPath() const { return lastSaved_; }
    // The photo's metadata blocks the last save left out because they were
    // damaged: the window says nothing of them, tarvex-batch does.
    const QStringList& lastSaveDropped() const { return lastDropped_; }

    // The format every result is saved in, whatever its name says: the
    // name's extension is replaced by the format's. None: the name decides.
    void setResultFormat(std::optional<ResultFormat> format) { resultFormat_ = format; }
    void setResultSettings(ResultSettings settings) { resultSettings_ = settings; }

private:
    using AskName = std::function<QString()>;
    void openFirst(bool closeFirst, const AskName& ask);
    void openSecond(bool closeFirst, const AskName& ask);
    LoadResult decode(const QString& path, const std::function<void()>& release, bool asPhoto);
    void closeFirst();
    void closeSecond();
    void releaseFirst();
    void releaseSecond();
    void saveSurface(const Surface& surface);

    Workspace& ws_;
    UserPrompts& prompts_;
    WriteOptions writeOptions_;
    Decoder decoder_;
    QString lastSaved_;
    QStringList lastDropped_;
    std::optional<ResultFormat> resultFormat_;
    ResultSettings resultSettings_;
};

}  // namespace tarvex
