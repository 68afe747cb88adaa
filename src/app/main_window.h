#pragma once
// The main window: menus, the two toolbars, the six picture boxes, the
// blend scroll bar and its label, and the one open dialog. It shows the
// workspace and forwards every user action to a command; after each
// command it brings the widgets in line with the workspace.
#include <QMainWindow>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "commands.h"
#include "imaging/image_commands.h"
#include "view/layout.h"
#include "view/live_blend.h"
#include "workspace/picture_commands.h"
#include "workspace/prompts.h"

class QAction;
class QButtonGroup;
class QFileDialog;
class QLabel;
class QMenu;
class QScrollBar;
class QSpinBox;
class QTimer;

namespace tarvex {

class PictureBox;

class MainWindow : public QMainWindow, private UserPrompts {
    Q_OBJECT
public:
    // `shell` runs the commands that leave the window: Termina and Despre.
    using ShellCommand = std::function<void(Command)>;
    MainWindow(Workspace& workspace, ShellCommand shell);
    ~MainWindow() override;

    // Shows the mode's menu and toolbar and hides the other mode's.
    void setMixingMode(bool mixing);
    // Runs the load step: controls as designed, then the workspace's load.
    void Form_Load();

    void run(Command command);
    void Toolbar1_ButtonClick(int index) { run(toolbarCommand(1, index)); }
    void Toolbar2_ButtonClick(int index) { run(toolbarCommand(2, index)); }
    void Form_KeyDown(int keyCode, int shift);
    void HScroll1_Change(int value);
    // The thumb dragged, not yet released: the shown composite follows it.
    void HScroll1_Scroll(int value);
    void KeyTolerance_Change(int value);

    // Brings every widget in line with the workspace.
    void render();
    // The layout the window shows at its present size.
    view::Layout layout() const;

    // Opens the named files as if chosen in the open dialogs of the current
    // mode, the first picture before the second; an empty name is skipped.
    void openAs(const QString& first, const QString& second);

    QFileDialog* fileDialog() const { return cdlg_; }
    PictureCommands& pictureCommands() { return pictures_; }

    // The shown surface's message boxes are modal; tests replace them.
    using MessageSink = std::function<void(const QString&)>;
    void setMessageSink(MessageSink sink) { messageSink_ = std::move(sink); }

signals:
    // The window was closed through its frame.
    void unloaded();
    // A menu item or toolbar button has run its command.
    void commandRan(tarvex::Command command);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // UserPrompts
    QString askFileToOpen() override;
    void showMessage(const QString& text) override;
    void setBusy(bool busy) override;

    void buildMenus();
    QWidget* buildToolbar(int toolbar);
    void buildPictureBoxes(QWidget* client);
    void buildToleranceControl(QWidget* client);
    void onMouse(int kind, Qt::MouseButtons buttons, float x, float y);
    void onDrop(bool first, const QList<QUrl>& urls);
    void describeBoxes();
    // Places every box and control for the window's size; `settled` false
    // while a resize is still going on.
    void placeAll(bool settled);
    void keepDesignPlace(QWidget* control);
    void fitToScreen();
    void describeOpacity(int value);

    Workspace& ws_;
    ShellCommand shell_;
    PictureCommands pictures_;
    ImageCommands images_;
    MessageSink messageSink_;

    std::array<QMenu*, 4> menus_{};
    QWidget* toolbar1_ = nullptr;
    QWidget* toolbar2_ = nullptr;
    std::array<PictureBox*, 6> boxes_{};
    QScrollBar* hscroll1_ = nullptr;
    QLabel* label1_ = nullptr;
    view::LiveBlend liveBlend_;
    QSpinBox* keyTolerance_ = nullptr;
    QLabel* keyToleranceLabel_ = nullptr;
    QFileDialog* cdlg_ = nullptr;
    bool filterInstalled_ = false;
    bool shownOnce_ = false;
    // Controls that keep their size and move with the layout, at the
    // places they were drawn at.
    std::vector<std::pair<QWidget*, QPoint>> designPlaces_;
    // Restarted by every resize: when it runs out, the size has settled and
    // the resampled boxes are made anew.
    QTimer* settle_ = nullptr;
};

}  // namespace tarvex
