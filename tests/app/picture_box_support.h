#pragma once
// Driving a picture box as the window's user does, in its own drawing
// area's coordinates (inside the border).
#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

#include "workspace/surface.h"

namespace tarvex::testing {

inline void sendMouse(QWidget* box, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPointF local = at + QPointF(kBorder, kBorder);
    QMouseEvent event(type, local, box->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &event);
}

}  // namespace tarvex::testing
