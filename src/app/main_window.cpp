// What the main window does when used: modes, commands, the scroll bar,
// the mouse and dropped files, its layout at every size, and the prompts
// the commands ask through it. How it is built is in main_window_build.cpp.
#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSpinBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "main_window_design.h"
#include "main_window_texts.h"
#include "picture_box.h"

namespace tarvex {

using namespace mainDesign;

namespace {

// The key code the key handler expects for a Qt key, or 0.
int keyCodeOf(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Left: return vbKeyLeft;
    case Qt::Key_Right: return vbKeyRight;
    case Qt::Key_Up: return vbKeyUp;
    case Qt::Key_Down: return vbKeyDown;
    case Qt::Key_Escape: return vbKeyEscape;
    default: return 0;
    }
}

}  // namespace

void MainWindow::setMixingMode(bool mixing)
{
    menus_[0]->menuAction()->setVisible(mixing);
    menus_[2]->menuAction()->setVisible(!mixing);
    toolbar1_->setVisible(mixing);
    toolbar2_->setVisible(!mixing);
    toolbar1_->raise();
    toolbar2_->raise();
    keyToleranceLabel_->setVisible(ws_.frameIsKeyed());
    keyTolerance_->setVisible(ws_.frameIsKeyed());
    describeBoxes();
}

void MainWindow::Form_Load()
{
    ws_.resetControls();  // the surfaces are reset in place: the boxes keep pointing at them
    ws_.Form_Load();
    render();
}

void MainWindow::run(Command command)
{
    switch (command) {
    case Command::None: return;
    case Command::OpenSource: pictures_.OpenSource_Click(); break;
    case Command::OpenDest: pictures_.OpenDest_Click(); break;
    case Command::VarAdidezid: images_.VarAdidezid_Click(); break;
    case Command::Save: pictures_.Save_Click(); break;
    case Command::DelSource: pictures_.DelSource_Click(); break;
    case Command::DelDest: pictures_.DelDest_Click(); break;
    case Command::HFlipSource: images_.HFlipSource_Click(); break;
    case Command::HFlipDest: images_.HFlipDest_Click(); break;
    case Command::VerticalFlipSource: images_.VerticalFlipSource_Click(); break;
    case Command::VFlipDest: images_.VFlipDest_Click(); break;
    case Command::AddFrameInP1: pictures_.AddFrameInP1_Click(); break;
    case Command::AddPictIn2: pictures_.AddPictIn2_Click(); break;
    case Command::AddFrameToPict: images_.AddFrameToPict_Click(); break;
    case Command::SaveFrame: pictures_.SaveFrame_Click(); break;
    case Command::DelRama: pictures_.DelRama_Click(); break;
    case Command::DelPict: pictures_.DelPict_Click(); break;
    case Command::KeyLeft: images_.Form_KeyDown(vbKeyLeft, 0); break;
    case Command::KeyRight: images_.Form_KeyDown(vbKeyRight, 0); break;
    case Command::KeyUp: images_.Form_KeyDown(vbKeyUp, 0); break;
    case Command::KeyDown: images_.Form_KeyDown(vbKeyDown, 0); break;
    case Command::ShowReduced: images_.ShowReduced(); break;
    case Command::HideReduced: images_.HideReduced(); break;
    case Command::Exit:
    case Command::FinRama:
    case Command::About: shell_(command); break;
    }
    render();
    emit commandRan(command);
}

void MainWindow::Form_KeyDown(int keyCode, int shift)
{
    images_.Form_KeyDown(std::int16_t(keyCode), std::int16_t(shift));
    render();
}

void MainWindow::HScroll1_Change(int value)
{
    boxes_[4]->showInstead(nullptr);
    ws_.HScroll1.Value = value;
    images_.HScroll1_Change();
    render();
}

void MainWindow::HScroll1_Scroll(int value)
{
    boxes_[4]->showInstead(&liveBlend_.at(ws_.Picture1, ws_.Picture4, boxes_[4]->deviceSize(), value,
                                               boxes_[4]->devicePixelRatioF()));
    describeOpacity(value);
}

void MainWindow::describeOpacity(int value)
{
    const QString text = QStringLiteral("%1 / %2").arg(value).arg(ScrollBarState::Max);
    hscroll1_->setToolTip(text);
    label1_->setAccessibleDescription(text);
}

void MainWindow::KeyTolerance_Change(int value)
{
    images_.KeyTolerance_Change(value);
    render();
}

void MainWindow::onMouse(int kind, Qt::MouseButtons buttons, float x, float y)
{
    const auto button = std::int16_t(buttons.toInt() & 0x7);
    const auto shift = std::int16_t(QApplication::keyboardModifiers() >> 25 & 0x7);
    switch (PictureBox::MouseEvent(kind)) {
    case PictureBox::MouseEvent::Down: images_.Picture2_MouseDown(button, shift, x, y); break;
    case PictureBox::MouseEvent::Move: images_.Picture2_MouseMove(button, shift, x, y); break;
    case PictureBox::MouseEvent::Up: images_.Picture2_MouseUp(button, shift, x, y); break;
    }
    render();
}

void MainWindow::onDrop(bool first, const QList<QUrl>& urls)
{
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    const QString path = urls.first().toLocalFile();
    // The drop is over as soon as it is accepted: the program the file came
    // from must not wait for the decode, nor for a message about it.
    QMetaObject::invokeMethod(
        this, [this, first, path] { first ? openAs(path, QString()) : openAs(QString(), path); },
        Qt::QueuedConnection);
}

void MainWindow::openAs(const QString& first, const QString& second)
{
    if (!first.isEmpty())
        pictures_.openFirstAs(first);
    if (!second.isEmpty())
        pictures_.openSecondAs(second);
    render();
}

void MainWindow::render()
{
    settle_->stop();
    placeAll(true);
    label1_->setVisible(ws_.Label1.Visible);
    hscroll1_->setVisible(ws_.HScroll1.Visible);
    keyToleranceLabel_->setVisible(ws_.frameIsKeyed());
    keyTolerance_->setVisible(ws_.frameIsKeyed());
    if (keyTolerance_->value() != ws_.KeyTolerance) {
        const QSignalBlocker quiet(keyTolerance_);
        keyTolerance_->setValue(ws_.KeyTolerance);
    }
    if (hscroll1_->value() != ws_.HScroll1.Value) {
        const QSignalBlocker quiet(hscroll1_);
        hscroll1_->setValue(ws_.HScroll1.Value);
    }
    if (!hscroll1_->isSliderDown())
        describeOpacity(ws_.HScroll1.Value);
    describeBoxes();
}

view::Layout MainWindow::layout() const
{
    return view::layoutFor(centralWidget()->size(), kClientSize, kToolbarHeight);
}

void MainWindow::placeAll(bool settled)
{
    const view::Layout shown = layout();
    for (PictureBox* b : boxes_)
        b->sync(centralWidget()->size(), shown, settled);
    for (const auto& [control, at] : designPlaces_)
        control->move(shown.map(at));
}

void MainWindow::keepDesignPlace(QWidget* control)
{
    designPlaces_.emplace_back(control, control->pos());
}

// Opens at the size the layout was drawn for, or at the largest that fits
// the screen's available area, frame included, where that is smaller.
void MainWindow::fitToScreen()
{
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize room = screen->availableGeometry().size() - frame;
    if (room.width() < width() || room.height() < height())
        resize(size().boundedTo(room).expandedTo(QSize(1, 1)));
}

void MainWindow::describeBoxes()
{
    const bool mixing = ws_.MixMode == kTrue;
    const auto describe = [&](PictureBox* box, const char* role, const QString& file, bool empty) {
        QString name = text(role);
        name += empty ? QStringLiteral(": ") + text(mainTexts::kBoxEmpty)
                      : QStringLiteral(": ") + QFileInfo(file).fileName();
        box->setAccessibleName(name);
    };
    describe(boxes_[5], (mixing ? mainTexts::kBoxMixing : mainTexts::kBoxFraming)[0], ws_.FirstFileName,
             ws_.FirstEmpty == kTrue || !ws_.Picture1.picture());
    describe(boxes_[4], (mixing ? mainTexts::kBoxMixing : mainTexts::kBoxFraming)[1], ws_.SecondFileName,
             ws_.SecondEmpty == kTrue || !ws_.Picture2.picture());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Every key pressed in the window reaches the key handler first and
    // then, unconsumed, the control that has the focus.
    if (event->type() == QEvent::KeyPress && watched == windowHandle()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (const int code = keyCodeOf(key->key()))
            Form_KeyDown(code, int(key->modifiers() >> 25 & 0x7));
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // The toolbars span the window's whole width, whatever its size.
    for (QWidget* bar : {toolbar1_, toolbar2_})
        if (bar)  // both exist once the constructor has built them
            bar->resize(centralWidget()->width(), kToolbarHeight);
    if (settle_) {  // made before the constructor first sizes the window
        placeAll(false);
        settle_->start();
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    if (!filterInstalled_ && windowHandle()) {
        windowHandle()->installEventFilter(this);
        filterInstalled_ = true;
    }
    if (!shownOnce_) {
        shownOnce_ = true;
        fitToScreen();
    }
    QMainWindow::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit unloaded();
}

QString MainWindow::askFileToOpen()
{
    const bool chosen = cdlg_->exec() == QDialog::Accepted && !cdlg_->selectedFiles().isEmpty();
    // A name typed with Enter can close the dialog while its completion list
    // is still open; that list would swallow the next key pressed here.
    for (int i = 0; i < 4 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    return chosen ? cdlg_->selectedFiles().first() : QString();
}

void MainWindow::showMessage(const QString& message)
{
    if (messageSink_) {
        messageSink_(message);
        return;
    }
    QMessageBox box(QMessageBox::Warning, text(mainTexts::kMessageCaption), message, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("Message"));
    box.exec();
}

void MainWindow::setBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

}  // namespace tarvex
