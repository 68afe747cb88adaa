#pragma once
// The start-up chooser: mixing, framing, or leaving the program.
#include <QWidget>

class QPushButton;

namespace tarvex {

class Chooser : public QWidget {
    Q_OBJECT
public:
    Chooser();
    QPushButton* button(const char* name) const;

signals:
    void Command1_Click();
    void Command2_Click();
    void CancelButton_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    int widenToCaptions();
};

}  // namespace tarvex
