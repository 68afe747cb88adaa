#pragma once
// The About window: title, version, two fixed texts, and a button that
// starts the system-information program.
#include <QDialog>
#include <QImage>
#include <functional>
#include <memory>

#include "sysinfo.h"

namespace tarvex {

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    struct Services {
        std::shared_ptr<about::Registry> registry;
        std::shared_ptr<about::Launcher> launcher;
        std::function<void(QWidget* parent, const QString& text)> message;  // a modal box captioned "Tarvex"
        QImage icon;  // the 32 x 32 picture in the corner
    };
    static Services systemServices();

    explicit AboutWindow(Services services);

    void Form_Load();
    // Closes and unloads the window; Escape (the dialog's reject) and the
    // close box end the same way.
    void cmdOK_Click();
    void cmdSysInfo_Click();

    static constexpr const char* kTitle = "Tarvex";

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Services services_;
};

}  // namespace tarvex
