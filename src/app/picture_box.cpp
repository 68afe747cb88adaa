#include "picture_box.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

namespace tarvex {

PictureBox::PictureBox(const Surface* surface, QWidget* parent) : QWidget(parent), surface_(surface)
{
    setObjectName(surface->name());
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    sync(parent ? parent->size() : QSize());
}

void PictureBox::sync(QSize clientArea)
{
    const view::Fit fit = view::fitInto(*surface_, view::placeOf(*surface_, clientArea));
    const bool refit = fit.inner != fit_.inner;
    fit_ = fit;
    if (geometry() != fit_.outer)
        setGeometry(fit_.outer);
    if (isVisibleTo(parentWidget()) != surface_->Visible)
        setVisible(surface_->Visible);
    if (refit || shownRevision_ != surface_->revision()) {
        shownRevision_ = surface_->revision();
        update();
    }
}

void PictureBox::showInstead(const QImage* image)
{
    if (!image && !instead_)
        return;
    instead_ = image;
    update();
}

void PictureBox::setDropHandler(DropHandler handler)
{
    drop_ = std::move(handler);
    setAcceptDrops(bool(drop_));
}

void PictureBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, QColor::fromRgb(kBlankColour));
    if (surface_->hasAlpha() && !surface_->isBlank())
        p.fillRect(QRect(QPoint(kBorder, kBorder), fit_.inner), view::transparencyBrush());
    if (instead_)
        p.drawImage(QPoint(kBorder, kBorder), *instead_);
    else if (fit_.reduced)
        p.drawImage(QPoint(kBorder, kBorder), shown_.reduced(*surface_, fit_.inner));
    else if (!surface_->isBlank())  // a blank box is all fill colour: no image is made for it
        p.drawImage(QPoint(kBorder, kBorder), surface_->image());
    // The sunken edge: shadow above and left, light below and right.
    const int right = r.width() - 1, bottom = r.height() - 1;
    p.setPen(QColor(160, 160, 160));
    p.drawLine(0, 0, right, 0);
    p.drawLine(0, 0, 0, bottom);
    p.setPen(QColor(105, 105, 105));
    p.drawLine(1, 1, right - 1, 1);
    p.drawLine(1, 1, 1, bottom - 1);
    p.setPen(Qt::white);
    p.drawLine(0, bottom, right, bottom);
    p.drawLine(right, 0, right, bottom);
    p.setPen(QColor(227, 227, 227));
    p.drawLine(1, bottom - 1, right - 1, bottom - 1);
    p.drawLine(right - 1, 1, right - 1, bottom - 1);
}

void PictureBox::forward(MouseEvent kind, QMouseEvent* event)
{
    flushMove();  // a press or release comes after the move before it
    if (mouse_) {
        const QPointF at = fit_.toSurface(event->position() - QPointF(kBorder, kBorder));
        mouse_(kind, event->buttons() | event->button(), float(at.x()), float(at.y()));
    }
    event->accept();
}

void PictureBox::flushMove()
{
    if (!pendingMove_)
        return;
    const auto [buttons, at] = *pendingMove_;
    pendingMove_.reset();
    if (mouse_)
        mouse_(MouseEvent::Move, buttons, float(at.x()), float(at.y()));
}

void PictureBox::mousePressEvent(QMouseEvent* event) { forward(MouseEvent::Down, event); }
void PictureBox::mouseReleaseEvent(QMouseEvent* event) { forward(MouseEvent::Up, event); }

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    const bool scheduled = pendingMove_.has_value();
    pendingMove_ = {event->buttons(), fit_.toSurface(event->position() - QPointF(kBorder, kBorder))};
    if (!scheduled)
        QMetaObject::invokeMethod(this, &PictureBox::flushMove, Qt::QueuedConnection);
    event->accept();
}

void PictureBox::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (drop_ && !urls.isEmpty() && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void PictureBox::dropEvent(QDropEvent* event)
{
    if (drop_)
        drop_(event->mimeData()->urls());
    event->acceptProposedAction();
}

}  // namespace tarvex
