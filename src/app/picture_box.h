#pragma once
// Shows one surface of the workspace inside a sunken 2-pixel border, at the
// surface's position in the window's layout: 1:1 when it fits its place
// at the layout as drawn, resampled to the screen's device pixels when it
// does not or the layout is scaled. Mouse presses, moves and releases and
// dropped files are passed on, positions in the surface's own pixels; the
// box decides nothing itself.
#include <QWidget>
#include <functional>
#include <optional>

#include "view/fit.h"
#include "view/shown_image.h"
#include "workspace/surface.h"

class QPainter;

namespace tarvex {

class PictureBox : public QWidget {
    Q_OBJECT
public:
    enum class MouseEvent { Down, Move, Up };
    using MouseHandler = std::function<void(MouseEvent, Qt::MouseButtons, float x, float y)>;
    using DropHandler = std::function<void(const QList<QUrl>& urls)>;

    PictureBox(const Surface* surface, QWidget* parent);

    // Matches the widget to its surface (position, size, visibility,
    // content), fitted into its place in a client area of this size. While
    // the window is still being resized (`settled` false) a resampled box
    // stretches what it showed last instead of making its image anew.
    void sync(QSize clientArea, const view::Layout& layout = {}, bool settled = true);
    const view::Fit& fit() const { return fit_; }
    // The size of the shown drawing area in the screen's device pixels:
    // what a resampled box's image is made at.
    QSize deviceSize() const;
    const view::ShownImage& shownImage() const { return shown_; }

    void setMouseHandler(MouseHandler handler) { mouse_ = std::move(handler); }
    // Shows `image` (of the shown drawing area's size) instead of the
    // surface until called with null: a preview the model does not hold.
    void showInstead(const QImage* image);
    void setDropHandler(DropHandler handler);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void forward(MouseEvent kind, QMouseEvent* event);
    void flushMove();

    const QImage* resampledImage();
    void drawInArea(QPainter& p, QRect area, const QImage& image) const;

    const Surface* surface_;
    quint64 shownRevision_ = 0;
    bool settled_ = true;
    view::Fit fit_;
    view::ShownImage shown_;
    const QImage* instead_ = nullptr;
    // Moves are handled once the events queued before them are: of a run of
    // moves only the last is drawn, so a slow step never builds a backlog.
    std::optional<std::pair<Qt::MouseButtons, QPointF>> pendingMove_;
    MouseHandler mouse_;
    DropHandler drop_;
};

}  // namespace tarvex
