#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
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
#include <QToolButton>
#include <QWindow>
#include <algorithm>

#include "icons.h"
#include "main_window_texts.h"
#include "picture_box.h"

namespace tarvex {

namespace {

constexpr QSize kClientSize(1272, 746);
constexpr int kToolbarHeight = 76;
// How long a window's size must stay put before the resampled boxes are
// made at it: longer than the steps of a dragged window edge.
constexpr int kSettleMs = 150;

QString text(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

// "Description|pattern;pattern" as a Qt name filter that shows the
// description as it stands and matches each pattern in either case.
QString qtNameFilter(const QString& filter)
{
    const QString description = filter.section(QLatin1Char('|'), 0, 0);
    QStringList patterns = filter.section(QLatin1Char('|'), 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& p : QStringList(patterns))
        patterns << p.toUpper();
    return description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

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

MainWindow::MainWindow(Workspace& workspace, ShellCommand shell)
    : ws_(workspace), shell_(std::move(shell)), pictures_(workspace, *this), images_(workspace)
{
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(text(mainTexts::kCaption));
    setWindowIcon(icons::applicationIcon());
    // Sizable, with no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // The window's pointer is the cross-hair: pictures are pointed at here.
    setCursor(Qt::CrossCursor);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setAutoFillBackground(true);
    QPalette blue = client->palette();
    blue.setColor(QPalette::Window, QColor(0, 0, 255));
    client->setPalette(blue);
    client->setMinimumSize(1, 1);
    setCentralWidget(client);

    buildMenus();
    buildPictureBoxes(client);
    buildToleranceControl(client);

    cdlg_ = new QFileDialog(this);
    cdlg_->setObjectName(QStringLiteral("Cdlg"));
    cdlg_->setOption(QFileDialog::DontUseNativeDialog);
    cdlg_->setOption(QFileDialog::HideNameFilterDetails);
    cdlg_->setAcceptMode(QFileDialog::AcceptOpen);
    cdlg_->setFileMode(QFileDialog::ExistingFile);
    cdlg_->setNameFilter(qtNameFilter(text(mainTexts::kCdlgFilter)));

    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &MainWindow::render);

    client->resize(kClientSize);
    resize(kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height());
    render();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus()
{
    for (std::size_t m = 0; m < mainTexts::kMenus.size(); ++m) {
        const auto& entry = mainTexts::kMenus[m];
        QMenu* menu = menuBar()->addMenu(text(entry.caption));
        menu->setObjectName(text(entry.name));
        menu->menuAction()->setObjectName(text(entry.name));
        menus_[m] = menu;
        for (const auto& item : entry.items) {
            if (!item.name)
                continue;
            QAction* action = menu->addAction(text(item.caption));
            action->setObjectName(text(item.name));
            action->setShortcut(QKeySequence(text(item.shortcut)));
            const Command command = item.command;
            // A shortcut acts only while its menu is shown.
            connect(action, &QAction::triggered, this, [this, menu, command] {
                if (menu->menuAction()->isVisible())
                    run(command);
            });
        }
    }
}

QWidget* MainWindow::buildToolbar(int toolbar)
{
    auto* bar = new QWidget(centralWidget());
    bar->setObjectName(toolbar == 1 ? QStringLiteral("Toolbar1") : QStringLiteral("Toolbar2"));
    bar->setAutoFillBackground(true);
    QPalette face = bar->palette();
    face.setColor(QPalette::Window, QColor(240, 240, 240));
    bar->setPalette(face);
    bar->setGeometry(0, 0, kClientSize.width(), kToolbarHeight);
    auto* group = new QButtonGroup(bar);
    const auto& tips = toolbar == 1 ? mainTexts::kToolbar1Tips : mainTexts::kToolbar2Tips;
    for (int i = 1; i <= 17; ++i) {
        auto* button = new QToolButton(bar);
        button->setObjectName(QStringLiteral("%1_Button%2").arg(bar->objectName()).arg(i));
        button->setIcon(QIcon(QPixmap::fromImage(icons::toolbarImage(toolbar, i))));
        button->setIconSize(QSize(64, 64));
        button->setGeometry(2 + (i - 1) * 71, 3, 71, 70);
        button->setToolTip(text(tips[std::size_t(i - 1)]));
        button->setAccessibleName(button->toolTip());
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        group->addButton(button, i);
    }
    connect(group, &QButtonGroup::idClicked, this, [this, toolbar](int index) {
        toolbar == 1 ? Toolbar1_ButtonClick(index) : Toolbar2_ButtonClick(index);
    });
    return bar;
}

void MainWindow::buildPictureBoxes(QWidget* client)
{
    // Created in the layout's order, so later controls lie above earlier ones.
    auto box = [&](const Surface& s) { return new PictureBox(&s, client); };
    boxes_[0] = box(ws_.Picture5);
    hscroll1_ = new QScrollBar(Qt::Horizontal, client);
    hscroll1_->setObjectName(QStringLiteral("HScroll1"));
    hscroll1_->setGeometry(528, 648, 273, 33);
    hscroll1_->setRange(0, ScrollBarState::Max);
    hscroll1_->setTracking(false);  // a change is reported when the thumb is released
    hscroll1_->setFocusPolicy(Qt::StrongFocus);  // a tab stop, as in the layout
    hscroll1_->setAccessibleName(text(mainTexts::kScrollName));
    connect(hscroll1_, &QScrollBar::valueChanged, this, &MainWindow::HScroll1_Change);
    connect(hscroll1_, &QScrollBar::sliderMoved, this, &MainWindow::HScroll1_Scroll);
    // Released where it started, the thumb changes no value: the model's
    // picture is shown again all the same.
    connect(hscroll1_, &QScrollBar::sliderReleased, this, [this] { boxes_[4]->showInstead(nullptr); });
    boxes_[1] = box(ws_.Picture3);
    toolbar2_ = buildToolbar(2);
    toolbar1_ = buildToolbar(1);
    boxes_[2] = box(ws_.Buff);
    boxes_[3] = box(ws_.Picture4);
    boxes_[4] = box(ws_.Picture2);
    boxes_[5] = box(ws_.Picture1);
    label1_ = new QLabel(text(mainTexts::kLabel1), client);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(424, 648, 81, 33);
    label1_->setAlignment(Qt::AlignCenter);
    label1_->setAutoFillBackground(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(13.5);
    label1_->setFont(font);
    // A caption wider than the label in the font in use widens it to the
    // left, keeping its gap to the scroll bar.
    if (const int needed = label1_->sizeHint().width(); needed > label1_->width())
        label1_->setGeometry(label1_->geometry().right() + 1 - needed, label1_->y(), needed, label1_->height());
    // Above every picture box, so a picture never hides the blend control.
    hscroll1_->raise();
    label1_->raise();
    keepDesignPlace(hscroll1_);
    keepDesignPlace(label1_);

    boxes_[4]->setMouseHandler([this](PictureBox::MouseEvent kind, Qt::MouseButtons b, float x, float y) {
        onMouse(int(kind), b, x, y);
    });
    boxes_[5]->setDropHandler([this](const QList<QUrl>& urls) { onDrop(true, urls); });
    boxes_[4]->setDropHandler([this](const QList<QUrl>& urls) { onDrop(false, urls); });

    boxes_[1]->setAccessibleName(text(mainTexts::kPreview));
    boxes_[0]->setAccessibleName(text(mainTexts::kHiddenBoxes[0]));
    boxes_[2]->setAccessibleName(text(mainTexts::kHiddenBoxes[1]));
    boxes_[3]->setAccessibleName(text(mainTexts::kHiddenBoxes[2]));

    // Tab order of the layout: Picture1, Picture2, HScroll1, Picture4, Buff, ...
    QWidget::setTabOrder(boxes_[5], boxes_[4]);
    QWidget::setTabOrder(boxes_[4], hscroll1_);
    QWidget::setTabOrder(hscroll1_, boxes_[3]);
    QWidget::setTabOrder(boxes_[3], boxes_[2]);
    QWidget::setTabOrder(boxes_[2], boxes_[1]);
    QWidget::setTabOrder(boxes_[1], boxes_[0]);
}

// Framing mode's control of the frame's key tolerance, where mixing mode
// shows its opacity: each value redraws a laid frame at once.
void MainWindow::buildToleranceControl(QWidget* client)
{
    keyToleranceLabel_ = new QLabel(text(mainTexts::kToleranceLabel), client);
    keyToleranceLabel_->setObjectName(QStringLiteral("LabelKeyTolerance"));
    keyToleranceLabel_->setAutoFillBackground(true);
    keyToleranceLabel_->setAlignment(Qt::AlignCenter);
    const int labelWidth = std::max(170, keyToleranceLabel_->sizeHint().width() + 8);
    keyToleranceLabel_->setGeometry(514 - labelWidth, 648, labelWidth, 33);
    keyTolerance_ = new QSpinBox(client);
    keyTolerance_->setObjectName(QStringLiteral("KeyTolerance"));
    keyTolerance_->setRange(Workspace::kAutomaticTolerance, 255);
    keyTolerance_->setSpecialValueText(text(mainTexts::kToleranceAutomatic));
    keyTolerance_->setValue(Workspace::kAutomaticTolerance);
    keyTolerance_->setGeometry(528, 648, 120, 33);
    keyTolerance_->setToolTip(text(mainTexts::kToleranceTip));
    keyTolerance_->setAccessibleName(text(mainTexts::kToleranceLabel));
    keyTolerance_->setAccessibleDescription(text(mainTexts::kToleranceTip));
    keyToleranceLabel_->setBuddy(keyTolerance_);
    connect(keyTolerance_, &QSpinBox::valueChanged, this, &MainWindow::KeyTolerance_Change);
    keyToleranceLabel_->raise();
    keyTolerance_->raise();
    keepDesignPlace(keyToleranceLabel_);
    keepDesignPlace(keyTolerance_);
    QWidget::setTabOrder(boxes_[0], keyTolerance_);  // after every box of the layout
}

void MainWindow::setMixingMode(bool mixing)
{
    menus_[0]->menuAction()->setVisible(mixing);
    menus_[2]->menuAction()->setVisible(!mixing);
    toolbar1_->setVisible(mixing);
    toolbar2_->setVisible(!mixing);
    toolbar1_->raise();
    toolbar2_->raise();
    keyToleranceLabel_->setVisible(!mixing);
    keyTolerance_->setVisible(!mixing);
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
    const bool framing = ws_.MixMode != kTrue;
    keyToleranceLabel_->setVisible(framing);
    keyTolerance_->setVisible(framing);
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
