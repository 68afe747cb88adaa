// The chooser and the main window on the offscreen platform: layout,
// modes and their state table, the toolbar map, and dropped files.
#include <QtTest>

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>

#include "app/chooser.h"
#include "app/commands.h"
#include "app/icons.h"
#include "app/main_window.h"
#include "app/shell.h"
#include "test_support.h"

using namespace tarvex;

class TestWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<Shell> shell_;
    int quits_ = 0;
    QTemporaryDir dir_;

    MainWindow* main() { return shell_->mainWindow(); }
    QWidget* client() { return main()->centralWidget(); }
    template <typename T = QWidget>
    T* control(const char* name) { return main()->findChild<T*>(QString::fromLatin1(name)); }

private slots:
    void init()
    {
        shell_ = std::make_unique<Shell>([this] { ++quits_; });
        shell_->start();
    }
    void cleanup() { shell_.reset(); }

    void chooserLayout()
    {
        Chooser* c = shell_->chooser();
        QCOMPARE(c->windowTitle(), QStringLiteral("Alegeti o optiune"));
        QCOMPARE(c->geometry().topLeft(), QPoint(184, 250));
        QCOMPARE(c->height(), 75);
        QVERIFY(c->width() >= 401);
        QCOMPARE(c->minimumSize(), c->maximumSize());
        const struct {
            const char* name;
            const char* caption;
            QRect design;
        } buttons[] = {{"Command1", "Mixeaza Poze", {16, 16, 113, 33}},
                       {"Command2", "Adauga Rama", {144, 16, 121, 33}},
                       {"CancelButton", "Iesire aplicatie", {312, 16, 81, 33}}};
        int right = 0, designRight = 0;
        for (const auto& b : buttons) {  // from left to right
            QPushButton* button = c->button(b.name);
            QVERIFY(button);
            QCOMPARE(button->text(), QString::fromLatin1(b.caption));
            QVERIFY(!button->isDefault() && !button->autoDefault());
            // The caption fits, in the font in use; a button whose caption
            // fitted its design width keeps its design width.
            const int needed = button->sizeHint().width();
            QVERIFY2(needed <= button->width(), b.name);
            QCOMPARE(button->width(), std::max(b.design.width(), needed));
            QCOMPARE(button->y(), b.design.y());
            QCOMPARE(button->height(), b.design.height());
            // In order, no closer to the one before than designed.
            QVERIFY(button->x() >= b.design.x());
            QVERIFY(button->x() - right >= b.design.x() - designRight);
            right = button->geometry().right() + 1;
            designRight = b.design.right() + 1;
        }
        QVERIFY(c->width() - right >= 401 - designRight);
        QCOMPARE(c->button("CancelButton")->nextInFocusChain(), c->button("Command1"));
        QCOMPARE(c->button("Command1")->nextInFocusChain(), c->button("Command2"));
    }

    void chooserKeys()
    {
        Chooser* c = shell_->chooser();
        c->activateWindow();
        c->button("CancelButton")->setFocus();
        QTest::keyClick(c, Qt::Key_Escape);
        QVERIFY(c->isVisible());
        QCOMPARE(quits_, 0);
        QTest::keyClick(c, Qt::Key_Return);  // acts on the focused "Iesire aplicatie"
        QCOMPARE(quits_, 1);
        c->close();  // the close box ends the program too
        QCOMPARE(quits_, 2);
    }

    void mainWindowLayout()
    {
        shell_->Command1_Click();
        QCOMPARE(main()->objectName(), QStringLiteral("Main"));
        QCOMPARE(main()->windowTitle(), QStringLiteral("VarAdidezid"));
        QCOMPARE(client()->size(), QSize(1272, 746));
        QCOMPARE(client()->palette().color(QPalette::Window), QColor(0, 0, 255));
        QVERIFY(!(main()->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!main()->windowIcon().isNull());
        const struct {
            const char* name;
            QRect geometry;
            bool visible;
        } controls[] = {
            {"Picture1", {0, 80, 644, 484}, true},   {"Picture2", {640, 80, 644, 484}, true},
            {"Picture3", {296, 560, 65, 41}, false}, {"Picture4", {-24, 504, 89, 65}, false},
            {"Picture5", {776, 536, 137, 65}, false}, {"Buff", {0, 584, 65, 65}, false},
            {"HScroll1", {528, 648, 273, 33}, false}, {"Label1", {424, 648, 81, 33}, false},
            {"Toolbar1", {0, 0, 1272, 76}, true},    {"Toolbar2", {0, 0, 1272, 76}, false},
        };
        for (const auto& c : controls) {
            QWidget* w = control(c.name);
            QVERIFY2(w, c.name);
            QCOMPARE(w->geometry(), c.geometry);
            QCOMPARE(w->isVisibleTo(main()), c.visible);
        }
        auto* scroll = control<QScrollBar>("HScroll1");
        QCOMPARE(scroll->minimum(), 0);
        QCOMPARE(scroll->maximum(), 255);
        QVERIFY(!scroll->hasTracking());
        auto* label = control<QLabel>("Label1");
        QCOMPARE(label->text(), QStringLiteral("Mixeaza"));
        for (const QLabel* l : client()->findChildren<QLabel*>())  // no caption clipped
            QVERIFY2(l->sizeHint().width() <= l->width(), qPrintable(l->objectName()));
        QCOMPARE(label->font().pointSizeF(), 13.5);
        auto* cdlg = control<QFileDialog>("Cdlg");
        QVERIFY(cdlg);
        QCOMPARE(cdlg->nameFilters().size(), 1);
        QVERIFY(cdlg->nameFilters().first().startsWith(
            QStringLiteral("Picturi (*.bmp;*.jpg;*.jpeg;*.heic;*.heif;*.avif) (*.bmp *.jpg *.jpeg *.heic *.heif *.avif")));
    }

    void menusAndToolbars()
    {
        shell_->Command1_Click();
        const QStringList menus{"Mixare Poze", "Editeaza Poze", "Pune rama", "Help"};
        const QList<QAction*> top = main()->menuBar()->actions();
        QCOMPARE(top.size(), 4);
        const QStringList expected{
            "OpenSource|Deschide prima poza|F2", "OpenDest|Deschide poza a doua|Ctrl+F2",
            "VarAdidezid|Mixeaza poze|F3", "Save|Salveaza|F8", "DelSource|Inchide prima poza|F4",
            "DelDest|Inchide poza a doua|Ctrl+F4", "Exit|Termina|F9",
            "HFlipSource|Intoarce orizontal prima poza|Ctrl+F5", "HFlipDest|Intoarce orizontal a doua poza|Ctrl+F6",
            "VerticalFlipSource|Intoarce vertical prima poza|Ctrl+F7", "VFlipDest|Intoarce vertical a doua poza|Ctrl+F8",
            "AddFrameInP1|Deschide Rama|Shift+F2", "AddPictIn2|Deschide pictura|Ctrl+Shift+F2",
            "AddFrameToPict|Pune rama|Shift+F3", "SaveFrame|Salveaza rama|Shift+F8", "DelRama|Inchide Rama|Shift+F4",
            "DelPict|Inchide pictura|Ctrl+Shift+F4", "FinRama|Termina|Shift+F9", "About|Despre|F1"};
        QStringList actual;
        for (int m = 0; m < 4; ++m) {
            QCOMPARE(top[m]->text(), menus[m]);
            for (QAction* a : top[m]->menu()->actions())
                actual << a->objectName() + '|' + a->text() + '|' + a->shortcut().toString();
        }
        QCOMPARE(actual, expected);

        QSet<QByteArray> images;
        for (int t = 1; t <= 2; ++t)
            for (int i = 1; i <= 17; ++i) {
                auto* button = control<QToolButton>(qPrintable(QStringLiteral("Toolbar%1_Button%2").arg(t).arg(i)));
                QVERIFY(button);
                QCOMPARE(button->geometry().size(), QSize(71, 70));
                QCOMPARE(button->iconSize(), QSize(64, 64));
                QVERIFY(!button->toolTip().isEmpty());
                const QImage image = icons::toolbarImage(t, i);
                QVERIFY(image.convertToFormat(QImage::Format_ARGB32).pixel(32, 32) != 0 ||
                        image.allGray() == false);
                images.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
            }
        QCOMPARE(images.size(), 34);  // no two icons alike
        QCOMPARE(control<QToolButton>("Toolbar1_Button12")->toolTip(), QStringLiteral("Deplaseaza stanga poza a doua"));
        QCOMPARE(control<QToolButton>("Toolbar2_Button3")->toolTip(), QStringLiteral("Inrameaza"));
        QVERIFY(icons::applicationImage(32) != icons::aboutImage(32));
        main()->resize(1400, main()->height());  // the toolbars follow the window's width
        QCOMPARE(control("Toolbar1")->width(), client()->width());
    }

    void toolbarMap()
    {
        using C = Command;
        const C mixing[] = {C::OpenSource, C::OpenDest, C::VarAdidezid, C::Save, C::DelSource, C::DelDest, C::Exit,
                            C::HFlipSource, C::HFlipDest, C::VerticalFlipSource, C::VFlipDest, C::KeyLeft,
                            C::KeyRight, C::KeyUp, C::KeyDown, C::ShowReduced, C::HideReduced};
        const C framing[] = {C::AddFrameInP1, C::AddPictIn2, C::AddFrameToPict, C::SaveFrame, C::DelRama, C::DelPict,
                             C::FinRama};
        for (int i = 1; i <= 17; ++i) {
            QCOMPARE(toolbarCommand(1, i), mixing[i - 1]);
            QCOMPARE(toolbarCommand(2, i), i <= 7 ? framing[i - 1] : mixing[i - 1]);
        }
        for (int t : {1, 2})
            for (int i : {0, 18, -1})
                QCOMPARE(toolbarCommand(t, i), C::None);
    }

    void everyToolbarButtonRunsItsRow()
    {
        // Buttons whose command would leave the window or open a dialog are
        // left out here; the map test above covers their rows.
        const QSet<Command> leaving{Command::Exit, Command::FinRama, Command::OpenSource, Command::OpenDest,
                                    Command::AddFrameInP1, Command::AddPictIn2, Command::Save, Command::SaveFrame};
        for (int toolbar : {1, 2}) {
            toolbar == 1 ? shell_->Command1_Click() : shell_->Command2_Click();
            QSignalSpy ran(main(), &MainWindow::commandRan);
            for (int i = 1; i <= 17; ++i) {
                const Command expected = toolbarCommand(toolbar, i);
                if (leaving.contains(expected))
                    continue;
                ran.clear();
                control<QToolButton>(qPrintable(QStringLiteral("Toolbar%1_Button%2").arg(toolbar).arg(i)))->click();
                QCOMPARE(ran.size(), 1);
                QCOMPARE(ran.first().first().value<Command>(), expected);
            }
            main()->run(Command::HideReduced);
        }
    }

    void moveButtonsWorkInBothModesWhateverHasTheFocus()
    {
        Workspace& ws = shell_->workspace();
        for (int toolbar : {1, 2}) {
            toolbar == 1 ? shell_->Command1_Click() : shell_->Command2_Click();
            for (const char* focus : {"HScroll1", "Picture1", "Picture2"}) {
                control(focus)->setFocus();
                const double left = ws.Picture2.Left, top = ws.Picture2.Top;
                const auto button = [&](int i) {
                    control<QToolButton>(qPrintable(QStringLiteral("Toolbar%1_Button%2").arg(toolbar).arg(i)))->click();
                };
                button(12), button(14);
                QCOMPARE(ws.Picture2.Left, left - 10);
                QCOMPARE(ws.Picture2.Top, top - 10);
                button(13), button(15);
                QCOMPARE(ws.Picture2.Left, left);
                QCOMPARE(ws.Picture2.Top, top);
            }
        }
    }

    void everyControlHasARomanianName()
    {
        shell_->Command1_Click();
        for (QWidget* w : client()->findChildren<QWidget*>()) {
            const bool isControl = qobject_cast<QToolButton*>(w) || qobject_cast<QScrollBar*>(w) ||
                                   w->objectName().startsWith(QLatin1String("Picture")) ||
                                   w->objectName() == QLatin1String("Buff");
            if (isControl)
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(control("Picture1")->accessibleName(), QStringLiteral("Prima poza: goala"));
        shell_->Command2_Click();
        QCOMPARE(control("Picture2")->accessibleName(), QStringLiteral("Pictura (rezultatul inramarii): goala"));
    }

    void aboutOpensOnceAndKeepsItsContent()
    {
        shell_->Command1_Click();
        main()->run(Command::About);
        AboutWindow* about = shell_->aboutWindow();
        QVERIFY(about && about->isVisible());
        auto* title = about->findChild<QLabel*>(QStringLiteral("lblTitle"));
        title->setText(QStringLiteral("changed"));
        main()->run(Command::About);  // brought to the front, not loaded again
        QCOMPARE(shell_->aboutWindow(), about);
        QCOMPARE(title->text(), QStringLiteral("changed"));
        main()->run(Command::Exit);  // leaving the mode leaves the About window open
        QVERIFY(about->isVisible());
        about->cmdOK_Click();
        QTRY_VERIFY(!shell_->aboutWindow());
    }

    void toolbarButtonsRunTheirCommands()
    {
        shell_->Command2_Click();
        Workspace& ws = shell_->workspace();
        control<QScrollBar>("HScroll1")->setFocus();
        control<QToolButton>("Toolbar2_Button12")->click();
        control<QToolButton>("Toolbar2_Button15")->click();
        QCOMPARE(ws.Picture2.Left, 630.0);
        QCOMPARE(ws.Picture2.Top, 90.0);
        QCOMPARE(control("Picture2")->geometry().topLeft(), QPoint(630, 90));
        control<QToolButton>("Toolbar2_Button16")->click();
        QVERIFY(control("Picture3")->isVisibleTo(main()) && !control("Picture1")->isVisibleTo(main()));
        control<QToolButton>("Toolbar2_Button17")->click();
        QVERIFY(!control("Picture3")->isVisibleTo(main()) && control("Picture1")->isVisibleTo(main()));
        main()->Toolbar2_ButtonClick(18);  // nothing
        control<QToolButton>("Toolbar2_Button7")->click();  // leaves like "Termina"
        QVERIFY(main()->isHidden());
        QVERIFY(shell_->mainLoaded());
        QVERIFY(shell_->chooser()->isVisible());
    }

    void modeStateTable()
    {
        Workspace& ws = shell_->workspace();
        shell_->Command1_Click();
        QCOMPARE(ws.MixMode, kTrue);
        QCOMPARE(ws.FirstEmpty, kTrue);
        QVERIFY(!shell_->chooser()->isVisible());
        QVERIFY(main()->menuBar()->actions()[0]->isVisible() && !main()->menuBar()->actions()[2]->isVisible());
        // Hidden mode's shortcuts do nothing: its menu items refuse to run.
        ws.Picture2.Left = 500;
        main()->findChild<QAction*>(QStringLiteral("FinRama"))->trigger();
        QVERIFY(main()->isVisible());
        main()->findChild<QAction*>(QStringLiteral("VarAdidezid"))->trigger();
        QVERIFY(ws.HScroll1.Visible);
        ws.FirstEmpty = kFalse;
        ws.FirstFileName = QStringLiteral("kept");
        main()->findChild<QAction*>(QStringLiteral("Exit"))->trigger();  // Termina: no load step next time
        QVERIFY(!main()->isVisible() && shell_->chooser()->isVisible());
        shell_->Command2_Click();
        QCOMPARE(ws.MixMode, kFalse);
        QCOMPARE(ws.FirstEmpty, kFalse);
        QCOMPARE(ws.Picture2.Left, 500.0);
        QVERIFY(ws.HScroll1.Visible);  // still shown in framing mode
        QVERIFY(control<QScrollBar>("HScroll1")->isVisibleTo(main()));
        main()->close();  // through the frame: unloaded, the chooser comes back
        QVERIFY(shell_->chooser()->isVisible());
        QVERIFY(!shell_->mainLoaded());
        shell_->Command1_Click();  // loads again: the load step resets its flags
        QCOMPARE(ws.FirstEmpty, kTrue);
        QCOMPARE(ws.FirstFileName, QStringLiteral("kept"));
        QCOMPARE(ws.Picture2.Left, 640.0);
        QVERIFY(!ws.HScroll1.Visible);
    }

    void keysReachTheHandlerAndTheFocusedControl()
    {
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        auto* scroll = control<QScrollBar>("HScroll1");
        main()->run(Command::VarAdidezid);
        main()->activateWindow();
        scroll->setFocus();
        const int before = scroll->value();
        QTest::keyClick(main()->windowHandle(), Qt::Key_Left);
        QCOMPARE(ws.Picture2.Left, 630.0);
        QVERIFY(scroll->value() != before);  // the key went on to the scroll bar
        QTest::keyClick(main()->windowHandle(), Qt::Key_Escape);
        QCOMPARE(ws.Picture2.Left, 640.0);
    }

    void scrollBarChangesMix()
    {
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        ws.Picture1.setPicture(std::make_shared<const QImage>(testing::filledImage(4, 4, qRgb(255, 255, 255))));
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::filledImage(4, 4, qRgb(0, 0, 0))));
        ws.Picture4.setPicture(ws.Picture2.picture());
        control<QScrollBar>("HScroll1")->setValue(51);
        QCOMPARE(ws.BlendArgsPacked, 51 * 65536);
        QCOMPARE(ws.Picture2.image().pixel(1, 1), qRgb(51, 51, 51));
    }

    void draggedThumbShowsTheBlendAndTheReleaseMakesIt()
    {
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        ws.Picture1.setPicture(std::make_shared<const QImage>(testing::filledImage(8, 6, qRgb(255, 255, 255))));
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::filledImage(8, 6, qRgb(0, 0, 0))));
        ws.Picture4.setPicture(ws.Picture2.picture());
        main()->run(Command::VarAdidezid);
        auto* scroll = control<QScrollBar>("HScroll1");
        QSignalSpy changes(scroll, &QScrollBar::valueChanged);
        const QImage model = ws.Picture2.image().copy();
        const auto shownAt = [&](QPoint p) { return control("Picture2")->grab().toImage().pixel(p + QPoint(2, 2)); };
        scroll->setSliderDown(true);
        scroll->setSliderPosition(51);  // dragged, not released
        QCOMPARE(changes.count(), 0);
        QCOMPARE(ws.Picture2.image(), model);  // the model is not drawn
        QCOMPARE(shownAt({3, 3}), qRgb(51, 51, 51));
        QCOMPARE(scroll->toolTip(), QStringLiteral("51 / 255"));
        QCOMPARE(control("Label1")->accessibleDescription(), QStringLiteral("51 / 255"));
        scroll->setSliderPosition(200);
        QCOMPARE(shownAt({3, 3}), qRgb(200, 200, 200));
        scroll->setSliderDown(false);  // released: the change runs once
        QCOMPARE(changes.count(), 1);
        QCOMPARE(ws.BlendArgsPacked, 200 * 65536);
        QCOMPARE(ws.Picture2.image().pixel(3, 3), qRgb(200, 200, 200));
        QCOMPARE(shownAt({3, 3}), qRgb(200, 200, 200));
        // Dragged away and back to where it was: nothing changes, and the
        // model's picture is shown again.
        scroll->setSliderDown(true);
        scroll->setSliderPosition(20);
        scroll->setSliderPosition(200);
        scroll->setSliderDown(false);
        QCOMPARE(changes.count(), 1);
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::filledImage(8, 6, qRgb(9, 9, 9))));
        main()->render();
        QCOMPARE(shownAt({3, 3}), qRgb(9, 9, 9));
    }

    void queuedMouseMovesAreDrawnOnce()
    {
        shell_->Command2_Click();
        Workspace& ws = shell_->workspace();
        QImage frame(20, 20, QImage::Format_RGB32);
        frame.fill(qRgb(0, 255, 0));
        for (int i = 0; i < 20; ++i)
            frame.setPixel(i, 0, qRgb(255, 0, 0));
        ws.Picture1.setPicture(std::make_shared<const QImage>(frame));
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::patternImage(20, 20, 3)));
        ws.Picture4.setPicture(ws.Picture2.picture());
        main()->run(Command::AddFrameToPict);
        QWidget* box = control("Picture2");
        auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at + QPointF(2, 2), box->mapToGlobal(at + QPointF(2, 2)), button, buttons,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(box, &event);
        };
        send(QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
        const QImage before = ws.Picture2.image();
        for (int dx : {1, 2, 3})
            send(QEvent::MouseMove, {5.0 + dx, 5.0 + dx}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(ws.Picture2.image(), before);  // nothing drawn until the queue is handled
        QCoreApplication::processEvents();
        QCOMPARE(ws.Picture2.image().pixel(5, 3), qRgb(255, 0, 0));  // only the last move: 3 down
        send(QEvent::MouseMove, {9, 7}, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, {9, 7}, Qt::LeftButton, Qt::NoButton);  // the pending move first
        QCOMPARE(ws.InsetX, std::int16_t(4));
        QCOMPARE(ws.InsetY, std::int16_t(2));
        QCOMPARE(ws.Picture2.image().pixel(10, 2), qRgb(255, 0, 0));
    }

    void toleranceControlRedrawsTheFrameAndWhatIsSaved()
    {
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        QImage photo(160, 120, QImage::Format_RGB32);
        photo.fill(qRgb(150, 60, 150));
        const QString frame = dir.filePath(QStringLiteral("rama.jpg"));
        QVERIFY(testing::texturedFrame(160, 120).save(frame, "jpeg", 80));
        const QString picture = testing::writePicture(dir, "poza.bmp", photo);
        shell_->Command1_Click();
        auto* tolerance = control<QSpinBox>("KeyTolerance");
        QVERIFY(tolerance && !tolerance->isVisibleTo(main()));  // mixing has no key
        main()->run(Command::Exit);
        shell_->Command2_Click();
        QVERIFY(tolerance->isVisibleTo(main()) && control("LabelKeyTolerance")->isVisibleTo(main()));
        QCOMPARE(tolerance->text(), QStringLiteral("automata"));
        main()->openAs(frame, picture);
        main()->run(Command::AddFrameToPict);
        Workspace& ws = shell_->workspace();
        const QImage automatic = ws.Picture5.image().copy();
        tolerance->setValue(0);  // exact: the coding's blur around the window shows again
        QCOMPARE(ws.KeyTolerance, 0);
        const QImage exact = ws.Picture5.image().copy();
        QVERIFY(exact != automatic);
        QCOMPARE(ws.Picture2.image(), exact);
        main()->run(Command::SaveFrame);
        QImage saved(dir.filePath(QStringLiteral("Stn000poza.bmp")));
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB32), exact);
        tolerance->setValue(-1);
        QCOMPARE(ws.Picture5.image(), automatic);
    }

    // The tolerance tunes the key: a frame laid by its own alpha has none,
    // so the control is there only while the frame is keyed. Its label
    // reads as clearly as any label on its own face.
    void toleranceControlOnlyForKeyedFrames()
    {
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        QImage withAlpha(40, 30, QImage::Format_ARGB32);
        withAlpha.fill(qRgba(0, 0, 0, 0));
        const QString alphaFrame = testing::writePicture(dir, "rama.png", withAlpha, "png");
        const QString keyedFrame = testing::writePicture(dir, "rama.bmp", testing::texturedFrame(40, 30));
        shell_->Command2_Click();
        QWidget* tolerance = control("KeyTolerance");
        auto* label = control<QLabel>("LabelKeyTolerance");
        QVERIFY(tolerance->isVisibleTo(main()));
        main()->openAs(alphaFrame, QString());
        QVERIFY(!tolerance->isVisibleTo(main()) && !label->isVisibleTo(main()));
        main()->openAs(keyedFrame, QString());
        QVERIFY(tolerance->isVisibleTo(main()) && label->isVisibleTo(main()));

        const QImage shown = label->grab().toImage();
        const QColor face = shown.pixelColor(1, 1), text = label->palette().color(label->foregroundRole());
        QVERIFY2(face != QColor(0, 0, 255), "the label shows the blue client area behind its text");
        const auto luminance = [](QColor c) {
            const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
        };
        const double lighter = std::max(luminance(face), luminance(text)), darker = std::min(luminance(face), luminance(text));
        QVERIFY2((lighter + 0.05) / (darker + 0.05) >= 4.5, "the label's text does not stand out from its face");
    }

    void transparentPartsOfAFrameShowACheckerboard()
    {
        QVERIFY(dir_.isValid());
        QImage art(64, 48, QImage::Format_ARGB32);
        art.fill(qRgba(0, 0, 0, 0));
        QPainter(&art).fillRect(QRect(0, 0, 64, 8), QColor(200, 30, 30));  // an opaque top border
        const QString frame = testing::writePicture(QDir(dir_.path()), "rama.png", art, "png");
        shell_->Command2_Click();
        main()->openAs(frame, QString());
        QVERIFY(shell_->workspace().Picture1.hasAlpha());
        const QImage shown = control("Picture1")->grab().toImage();
        const QPoint inner(2, 2);  // the sunken border
        QCOMPARE(shown.pixel(inner + QPoint(10, 3)), qRgb(200, 30, 30));
        QSet<QRgb> seen;
        for (int y = 10; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                seen.insert(shown.pixel(inner + QPoint(x, y)));
        QCOMPARE(seen, (QSet<QRgb>{qRgb(204, 204, 204), qRgb(153, 153, 153)}));
    }

    void mainWindowTabOrder()
    {
        shell_->Command1_Click();
        main()->run(Command::VarAdidezid);
        // The next control that Tab reaches: visible and taking the focus.
        const auto next = [](QWidget* w) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(w->window()));
            return w;
        };
        QCOMPARE(next(control("Picture1")), control("Picture2"));
        QCOMPARE(next(control("Picture2")), control("HScroll1"));
    }

    // Files named on the command line open at the first choice of a mode,
    // as if chosen in its dialog, and only then.
    void filesFromTheCommandLine_data()
    {
        QTest::addColumn<bool>("mixing");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("messages");
        QTest::newRow("one file, mixing: the second picture") << true << QStringList{"a.bmp"} << "" << "a.bmp" << 0;
        QTest::newRow("one file, framing: the picture") << false << QStringList{"b.bmp"} << "" << "b.bmp" << 0;
        QTest::newRow("two files, mixing") << true << QStringList{"a.bmp", "b.bmp"} << "a.bmp" << "b.bmp" << 0;
        QTest::newRow("two files, framing: frame and picture") << false << QStringList{"b.bmp", "a.bmp"} << "b.bmp"
                                                               << "a.bmp" << 0;
        QTest::newRow("a missing file") << true << QStringList{"a.bmp", "lipsa.bmp"} << "a.bmp" << "" << 1;
    }
    void filesFromTheCommandLine()
    {
        QFETCH(bool, mixing);
        QFETCH(QStringList, files);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, messages);
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        testing::writePicture(dir, "a.bmp", testing::patternImage(6, 5, 1));
        testing::writePicture(dir, "b.bmp", testing::patternImage(3, 3, 2));
        QStringList paths;
        for (const QString& f : files)
            paths << dir.filePath(f);
        shell_->openAtFirstChoice(paths);
        mixing ? shell_->Command1_Click() : shell_->Command2_Click();
        QStringList shown;
        main()->setMessageSink([&](const QString& m) { shown << m; });
        Workspace& ws = shell_->workspace();
        QCOMPARE(ws.FirstEmpty, kTrue);  // the window is up before anything is read
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), messages);
        if (messages)
            QVERIFY(shown[0].contains(QStringLiteral("lipsa.bmp")) && shown[0].contains(QStringLiteral("nu exista")));
        QCOMPARE(ws.FirstEmpty, first.isEmpty() ? kTrue : kFalse);
        QCOMPARE(ws.SecondEmpty, second.isEmpty() ? kTrue : kFalse);
        if (!first.isEmpty())
            QCOMPARE(ws.FirstFileName, dir.filePath(first));
        if (!second.isEmpty()) {
            QCOMPARE(ws.SecondFileName, dir.filePath(second));
            QCOMPARE(ws.PathParts.Name, second);
        }
        // Once only: leaving and choosing again opens nothing.
        main()->run(mixing ? Command::Exit : Command::FinRama);
        mixing ? shell_->Command1_Click() : shell_->Command2_Click();
        QCoreApplication::processEvents();
        QVERIFY(!ws.Picture2.picture());  // emptied on leaving, not opened again
    }

    void droppedFilesOpenAsTheDialogWould()
    {
        QVERIFY(dir_.isValid());
        const QString a = testing::writePicture(QDir(dir_.path()), "a.bmp", testing::patternImage(6, 5, 1));
        const QString b = testing::writePicture(QDir(dir_.path()), "b.bmp", testing::patternImage(3, 3, 2));
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        QStringList messages;
        main()->setMessageSink([&](const QString& m) { messages << m; });
        auto drop = [&](const char* box, const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            QWidget* target = control(box);
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &event);
        };
        drop("Picture1", {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
        // The drop returns before the picture is read: the program the file
        // came from is not kept waiting.
        QVERIFY(ws.FirstFileName.isEmpty());
        QCOMPARE(ws.FirstEmpty, kTrue);
        QCoreApplication::processEvents();
        QCOMPARE(ws.FirstFileName, a);
        QCOMPARE(ws.Picture1.image(), testing::patternImage(6, 5, 1));
        drop("Picture2", {QUrl::fromLocalFile(b)});
        QCoreApplication::processEvents();
        QCOMPARE(ws.SecondFileName, b);
        QCOMPARE(ws.PathParts.Name, QStringLiteral("b.bmp"));
        drop("Picture2", {QUrl(QStringLiteral("https://example.org/c.bmp"))});
        QCoreApplication::processEvents();
        QCOMPARE(ws.SecondFileName, b);  // refused
        drop("Picture1", {QUrl::fromLocalFile(dir_.filePath("missing.bmp"))});
        QVERIFY(messages.isEmpty());  // not even the message box opens inside the drop
        QCoreApplication::processEvents();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(ws.FirstEmpty, kTrue);  // mixing mode closes first, as the dialog's command does
        QVERIFY(control("Picture1")->accessibleName().contains(QStringLiteral("goala")));
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
