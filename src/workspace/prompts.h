#pragma once
// What the commands need from the person at the screen. The main window
// implements it with its one open dialog and message boxes; tests script it.
#include <QString>

namespace tarvex {

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // Shows the shared open dialog; the chosen full path, or empty when cancelled.
    virtual QString askFileToOpen() = 0;
    // One message box captioned with the program's name.
    virtual void showMessage(const QString& text) = 0;
    // A wait cursor while a picture is read or written.
    virtual void setBusy(bool busy) = 0;
};

// Keeps the wait cursor up for as long as it lives.
class BusyScope {
public:
    explicit BusyScope(UserPrompts& prompts) : prompts_(prompts) { prompts_.setBusy(true); }
    ~BusyScope() { prompts_.setBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    UserPrompts& prompts_;
};

}  // namespace tarvex
