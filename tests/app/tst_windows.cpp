// The chooser and the main window on the offscreen platform: layout, menus,
// the toolbar map, modes and their state table, keys and the tab order.
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
#include "window_fixture.h"

using namespace tarvex;
using testing::WindowFixture;

class TestWindows : public QObject, WindowFixture {
    Q_OBJECT

private slots:
    void init() { startShell(); }
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

};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
