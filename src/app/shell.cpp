#include "shell.h"

#include <utility>

#include "about/about_window.h"
#include "chooser.h"
#include "icons.h"
#include "main_window.h"

namespace tarvex {

Shell::Shell(std::function<void()> quit) : quit_(std::move(quit)) {}

Shell::~Shell()
{
    delete about_.data();
}

void Shell::start()
{
    if (!chooser_) {
        chooser_ = std::make_unique<Chooser>();
        connect(chooser_.get(), &Chooser::Command1_Click, this, &Shell::Command1_Click);
        connect(chooser_.get(), &Chooser::Command2_Click, this, &Shell::Command2_Click);
        connect(chooser_.get(), &Chooser::CancelButton_Click, this, &Shell::CancelButton_Click);
    }
    chooser_->show();
}

void Shell::enterMode(bool mixing)
{
    if (!main_) {
        main_ = std::make_unique<MainWindow>(workspace_, [this](Command c) { runShellCommand(c); });
        connect(main_.get(), &MainWindow::unloaded, this, &Shell::Form_Unload);
    }
    if (!loaded_) {  // first choice, or after a close through the frame
        main_->Form_Load();
        loaded_ = true;
    }
    main_->show();
    workspace_.MixMode = mixing ? kTrue : kFalse;
    main_->setMixingMode(mixing);
    chooser_->hide();
    // The keys work at once: F2 opens a picture without a click first,
    // with a window manager or without one.
    main_->raise();
    main_->activateWindow();
    if (!pending_.isEmpty()) {
        // From the event loop, once the window is on the screen: a message
        // about a file then stands over the window it belongs to.
        const QStringList files = std::exchange(pending_, {});
        const QString first = files.size() >= 2 ? files[0] : QString();
        const QString second = files.size() >= 2 ? files[1] : files[0];
        QMetaObject::invokeMethod(
            main_.get(), [window = main_.get(), first, second] { window->openAs(first, second); }, Qt::QueuedConnection);
    }
}

void Shell::Command1_Click()
{
    enterMode(true);
}

void Shell::Command2_Click()
{
    enterMode(false);
}

void Shell::CancelButton_Click()
{
    quit_();
}

void Shell::leaveMode()
{
    workspace_.Picture1.setPicture(nullptr);
    workspace_.Picture2.setPicture(nullptr);
    main_->render();
    main_->hide();  // hidden, still loaded: no load step next time
    start();
}

void Shell::Exit_Click()
{
    leaveMode();
}

void Shell::FinRama_Click()
{
    leaveMode();
}

void Shell::Form_Unload()
{
    loaded_ = false;
    start();
}

void Shell::About_Click()
{
    if (!about_) {
        AboutWindow::Services services = AboutWindow::systemServices();
        services.icon = icons::aboutImage(32);
        about_ = new AboutWindow(std::move(services));
        about_->setAttribute(Qt::WA_DeleteOnClose);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void Shell::runShellCommand(Command command)
{
    if (command == Command::Exit)
        Exit_Click();
    else if (command == Command::FinRama)
        FinRama_Click();
    else if (command == Command::About)
        About_Click();
}

}  // namespace tarvex
