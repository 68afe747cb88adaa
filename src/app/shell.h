#pragma once
// The program's windows and the moves between them: the chooser, the main
// window in one of its two modes, and the About window.
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

#include "about/about_window.h"
#include "commands.h"
#include "workspace/workspace.h"

namespace tarvex {

class Chooser;
class MainWindow;

class Shell : public QObject {
    Q_OBJECT
public:
    // `quit` ends the program at once (the application's event loop exits).
    explicit Shell(std::function<void()> quit);
    ~Shell() override;

    void start();  // shows the chooser

    // Files named on the command line: opened once, at the first choice of
    // a mode, as if chosen in that mode's open dialog. One file is the
    // second picture (the photo, in either mode); two are the first and the
    // second. Empty names are skipped.
    void openAtFirstChoice(QStringList files) { pending_ = std::move(files); }

    void Command1_Click();
    void Command2_Click();
    void CancelButton_Click();
    void Exit_Click();
    void FinRama_Click();
    void Form_Unload();
    void About_Click();

    Workspace& workspace() { return workspace_; }
    Chooser* chooser() const { return chooser_.get(); }
    MainWindow* mainWindow() const { return main_.get(); }
    AboutWindow* aboutWindow() const { return about_; }
    bool mainLoaded() const { return loaded_; }

private:
    void enterMode(bool mixing);
    void leaveMode();
    void runShellCommand(Command command);

    std::function<void()> quit_;
    Workspace workspace_;
    std::unique_ptr<Chooser> chooser_;
    std::unique_ptr<MainWindow> main_;
    QPointer<AboutWindow> about_;
    bool loaded_ = false;
    QStringList pending_;
};

}  // namespace tarvex
