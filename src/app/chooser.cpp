#include "chooser.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <algorithm>
#include <vector>

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

constexpr int kDesignWidth = 401;

}  // namespace

Chooser::Chooser() : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(QStringLiteral("Alegeti o optiune"));
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
    const int width = widenToCaptions();
    setFixedSize(width, 75);
    setGeometry(184, 250, width, 75);
    connect(button("Command1"), &QPushButton::clicked, this, &Chooser::Command1_Click);
    connect(button("Command2"), &QPushButton::clicked, this, &Chooser::Command2_Click);
    connect(button("CancelButton"), &QPushButton::clicked, this, &Chooser::CancelButton_Click);
    button("CancelButton")->setFocus();
}

// A caption wider than its button's design width in the font in use (the
// design's font is rarely the platform's) widens the button. The buttons
// keep their order from left to right and at least the design's gaps
// between them; the window grows to hold the last one with the design's
// margin. Returns the window's width.
int Chooser::widenToCaptions()
{
    std::vector<const ButtonLayout*> leftToRight;
    for (const ButtonLayout& b : kButtons)
        leftToRight.push_back(&b);
    std::sort(leftToRight.begin(), leftToRight.end(),
              [](const ButtonLayout* a, const ButtonLayout* b) { return a->geometry.x() < b->geometry.x(); });
    int right = 0, designRight = 0;
    for (const ButtonLayout* layout : leftToRight) {
        QPushButton* b = button(layout->name);
        const int gap = layout->geometry.x() - designRight;
        const int x = std::max(layout->geometry.x(), right + gap);
        const int w = std::max(layout->geometry.width(), b->sizeHint().width());
        b->setGeometry(x, layout->geometry.y(), w, layout->geometry.height());
        right = x + w;
        designRight = layout->geometry.right() + 1;
    }
    return std::max(kDesignWidth, right + (kDesignWidth - designRight));
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
