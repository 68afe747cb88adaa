#include "picture_box.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace tarvex {

PictureBox::PictureBox(const Surface* surface, QWidget* parent) : QWidget(parent), surface_(surface)
{
    setObjectName(surface->name());
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    sync(parent ? parent->size() : QSize());
}

void PictureBox::sync(QSize clientArea, const view::Layout& layout, bool settled)
{
    const view::Fit fit = view::fitInto(*surface_, view::placeOf(*surface_, clientArea, layout), layout);
    const bool refit = fit.inner != fit_.inner || settled != settled_;
    fit_ = fit;
    settled_ = settled;
    if (geometry() != fit_.outer)
        setGeometry(fit_.outer);
    if (isVisibleTo(parentWidget()) != surface_->Visible)
        setVisible(surface_->Visible);
    if (refit || shownRevision_ != surface_->revision()) {
        shownRevision_ = surface_->revision();
        update();
    }
}

QSize PictureBox::deviceSize() const
{
    if (!fit_.resampled)
        return fit_.inner;
    const double ratio = devicePixelRatioF();
    return QSize(std::max(1, int(std::lround(fit_.inner.width() * ratio))),
                 std::max(1, int(std::lround(fit_.inner.height() * ratio))));
}

const QImage* PictureBox::resampledImage()
{
    if (!settled_)
        if (const QImage* last = shown_.lastOf(*surface_))
            return last;
    // A box shown 1:1 is made only to be converted to the screen's colours:
    // at its own size, drawn as the surface's image would be.
    return &shown_.sized(*surface_, deviceSize(), fit_.resampled ? devicePixelRatioF() : 1.0);
}

// An image made at the area's device size is drawn pixel for pixel; any
// other (the last one, while a resize settles) is stretched to fill it.
void PictureBox::drawInArea(QPainter& p, QRect area, const QImage& image) const
{
    if (image.size() == deviceSize() && image.devicePixelRatio() == devicePixelRatioF())
        p.drawImage(area.topLeft(), image);
    else
        p.drawImage(area, image);
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
    const QRect area(QPoint(kBorder, kBorder), fit_.inner);
    if (surface_->hasAlpha() && !surface_->isBlank())
        p.fillRect(area, view::transparencyBrush());
    if (instead_)
        drawInArea(p, area, *instead_);
    else if (fit_.resampled || (view::needsConverting(*surface_) && !surface_->isBlank()))
        drawInArea(p, area, *resampledImage());
    else if (!surface_->isBlank())  // a blank box is all fill colour: no image is made for it
        p.drawImage(QPoint(kBorder, kBorder), surface_->image());
    // The sunken edge: shadow above and left, light below and right. Filled
    // rectangles cover whole pixels at any device pixel ratio, where lines
    // would spill into the picture.
    const int w = r.width(), h = r.height();
    p.fillRect(0, 0, w, 1, QColor(160, 160, 160));
    p.fillRect(0, 0, 1, h, QColor(160, 160, 160));
    p.fillRect(1, 1, w - 2, 1, QColor(105, 105, 105));
    p.fillRect(1, 1, 1, h - 2, QColor(105, 105, 105));
    p.fillRect(0, h - 1, w, 1, Qt::white);
    p.fillRect(w - 1, 0, 1, h, Qt::white);
    p.fillRect(1, h - 2, w - 2, 1, QColor(227, 227, 227));
    p.fillRect(w - 2, 1, 1, h - 2, QColor(227, 227, 227));
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
