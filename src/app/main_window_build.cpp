// Building the main window: its client area, menus, toolbars, picture
// boxes, blend and tolerance controls and open dialog, at their drawn
// places. What they do when used is in main_window.cpp.
#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "icons.h"
#include "main_window_design.h"
#include "main_window_texts.h"
#include "picture_box.h"

namespace tarvex {

using namespace mainDesign;

namespace {

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
    // On a face of its own, in the style's colours for labels: the blue
    // client area behind it would leave its black text hard to read.
    QPalette face = keyToleranceLabel_->palette();
    const QPalette style = QApplication::palette(keyToleranceLabel_);
    face.setColor(QPalette::Window, style.color(QPalette::Window));
    face.setColor(QPalette::WindowText, style.color(QPalette::WindowText));
    keyToleranceLabel_->setPalette(face);
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

}  // namespace tarvex
