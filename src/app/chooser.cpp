#include "chooser.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace tarvex {

namespace {

struct ButtonLayout {
    const char* name;
    const char* caption;
    QRect geometry;
};

// In tab order: the focus starts on the first.
constexpr ButtonLayout kButtons[] = {
    {"CancelButton", "Iesire aplicatie", {312, 16, 81, 33}},
    {"Command1", "Mixeaza Poze", {16, 16, 113, 33}},
    {"Command2", "Adauga Rama", {144, 16, 121, 33}},
};

}  // namespace

Chooser::Chooser() : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Alegeti o optiune"));
    setFixedSize(401, 75);
    setGeometry(184, 250, 401, 75);
    QPushButton* previous = nullptr;
    for (const ButtonLayout& button : kButtons) {
        auto* b = new QPushButton(QString::fromLatin1(button.caption), this);
        b->setObjectName(QString::fromLatin1(button.name));
        b->setGeometry(button.geometry);
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::StrongFocus);
        if (previous)
            setTabOrder(previous, b);
        previous = b;
    }
    connect(button("Command1"), &QPushButton::clicked, this, &Chooser::Command1_Click);
    connect(button("Command2"), &QPushButton::clicked, this, &Chooser::Command2_Click);
    connect(button("CancelButton"), &QPushButton::clicked, this, &Chooser::CancelButton_Click);
    button("CancelButton")->setFocus();
}

QPushButton* Chooser::button(const char* name) const
{
    return findChild<QPushButton*>(QString::fromLatin1(name));
}

void Chooser::keyPressEvent(QKeyEvent* event)
{
    // Enter presses the button that has the focus; Escape does nothing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* b = qobject_cast<QPushButton*>(focusWidget()))
            b->click();
        return;
    }
    if (event->key() == Qt::Key_Escape)
        return;
    QWidget::keyPressEvent(event);
}

void Chooser::closeEvent(QCloseEvent* event)
{
    // Closing the chooser through its frame ends the program, as its
    // "Iesire aplicatie" button does.
    event->ignore();
    emit CancelButton_Click();
}

}  // namespace tarvex
