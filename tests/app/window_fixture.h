#pragma once
// The program's windows on the offscreen platform, started afresh for each
// test: the chooser first, as the program shows it.
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "app/main_window.h"
#include "app/shell.h"

namespace tarvex::testing {

struct WindowFixture {
    std::unique_ptr<Shell> shell_;
    int quits_ = 0;  // how often the program asked to end
    QTemporaryDir dir_;

    void startShell()
    {
        shell_ = std::make_unique<Shell>([this] { ++quits_; });
        shell_->start();
    }
    MainWindow* main() { return shell_->mainWindow(); }
    QWidget* client() { return main()->centralWidget(); }
    template <typename T = QWidget>
    T* control(const char* name)
    {
        return main()->findChild<T*>(QString::fromLatin1(name));
    }
};

}  // namespace tarvex::testing
