#include "icons.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tarvex::icons {

namespace {

constexpr int kSize = 64;

void photo(QPainter& p, QRectF r, QColor sky, QColor hill)
{
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(sky);
    p.drawRect(r);
    QPainterPath h;
    h.moveTo(r.left(), r.bottom());
    h.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.45);
    h.lineTo(r.left() + r.width() * 0.65, r.top() + r.height() * 0.7);
    h.lineTo(r.right(), r.top() + r.height() * 0.35);
    h.lineTo(r.right(), r.bottom());
    h.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(hill);
    p.drawPath(h);
    p.setBrush(QColor(255, 220, 0));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.25, r.top() + r.height() * 0.25), r.width() * 0.1, r.width() * 0.1);
}

void badge(QPainter& p, const QString& text, QColor colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(40, 40, 22, 22));
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(16);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(40, 40, 22, 22), Qt::AlignCenter, text);
}

void arrow(QPainter& p, QPointF from, QPointF to, QColor colour, bool twoHeads = false)
{
    p.setPen(QPen(colour, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    auto head = [&](QPointF tip, QPointF tail) {
        const QPointF d = (tip - tail) / std::hypot(tip.x() - tail.x(), tip.y() - tail.y()) * 10;
        const QPointF n(-d.y(), d.x());
        p.drawLine(tip, tip - d + n);
        p.drawLine(tip, tip - d - n);
    };
    head(to, from);
    if (twoHeads)
        head(from, to);
}

void folder(QPainter& p)
{
    p.setPen(QPen(QColor(120, 80, 0), 2));
    p.setBrush(QColor(240, 190, 60));
    QPainterPath f;
    f.moveTo(6, 16);
    f.lineTo(22, 16);
    f.lineTo(27, 21);
    f.lineTo(54, 21);
    f.lineTo(54, 50);
    f.lineTo(6, 50);
    f.closeSubpath();
    p.drawPath(f);
}

void cross(QPainter& p)
{
    p.setPen(QPen(QColor(200, 0, 0), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 14), QPointF(44, 44));
    p.drawLine(QPointF(44, 14), QPointF(14, 44));
}

void background(QPainter& p, int toolbar)
{
    p.setPen(Qt::NoPen);
    if (toolbar == 1) {
        p.setBrush(QColor(205, 225, 250));
        p.drawRoundedRect(QRectF(1, 1, 62, 62), 8, 8);
    } else {
        p.setBrush(QColor(250, 240, 215));
        p.drawRect(QRectF(1, 1, 62, 62));
        p.setPen(QPen(QColor(190, 140, 40), 3));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(2.5, 2.5, 59, 59));
    }
}

void glyph(QPainter& p, int toolbar, int index)
{
    const QColor which = toolbar == 1 ? QColor(30, 90, 200) : QColor(170, 110, 20);
    const QString first = toolbar == 1 ? QStringLiteral("1") : QStringLiteral("R");
    const QString second = toolbar == 1 ? QStringLiteral("2") : QStringLiteral("P");
    const QColor ink(20, 20, 20);
    switch (index) {
    case 1: folder(p); badge(p, first, which); break;
    case 2: folder(p); badge(p, second, which); break;
    case 3:
        if (toolbar == 1) {
            photo(p, QRectF(6, 8, 34, 28), QColor(150, 200, 255), QColor(60, 160, 60));
            p.setOpacity(0.55);
            photo(p, QRectF(22, 26, 36, 30), QColor(255, 170, 170), QColor(160, 60, 160));
            p.setOpacity(1);
        } else {
            photo(p, QRectF(16, 16, 32, 32), QColor(150, 200, 255), QColor(60, 160, 60));
            p.setPen(QPen(QColor(150, 100, 20), 7));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(12, 12, 40, 40));
        }
        break;
    case 4:
        p.setPen(QPen(ink, 2));
        p.setBrush(which);
        p.drawRoundedRect(QRectF(10, 10, 44, 44), 4, 4);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(18, 12, 28, 16));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(20, 36, 24, 16));
        break;
    case 5: photo(p, QRectF(8, 8, 40, 34), QColor(180, 200, 220), QColor(90, 130, 90)); cross(p); badge(p, first, which); break;
    case 6: photo(p, QRectF(8, 8, 40, 34), QColor(220, 200, 180), QColor(130, 90, 90)); cross(p); badge(p, second, which); break;
    case 7:
        p.setPen(QPen(ink, 3));
        p.setBrush(QColor(150, 90, 40));
        p.drawRect(QRectF(10, 8, 26, 48));
        arrow(p, QPointF(30, 32), QPointF(58, 32), QColor(0, 140, 0));
        break;
    case 8: arrow(p, QPointF(8, 26), QPointF(52, 26), which, true); badge(p, first, which); break;
    case 9: arrow(p, QPointF(8, 26), QPointF(52, 26), ink, true); badge(p, second, which); break;
    case 10: arrow(p, QPointF(24, 6), QPointF(24, 50), which, true); badge(p, first, which); break;
    case 11: arrow(p, QPointF(24, 6), QPointF(24, 50), ink, true); badge(p, second, which); break;
    case 12: arrow(p, QPointF(54, 32), QPointF(10, 32), which); break;
    case 13: arrow(p, QPointF(10, 32), QPointF(54, 32), which); break;
    case 14: arrow(p, QPointF(32, 54), QPointF(32, 10), which); break;
    case 15: arrow(p, QPointF(32, 10), QPointF(32, 54), which); break;
    case 16:
        photo(p, QRectF(6, 6, 52, 40), QColor(150, 200, 255), QColor(60, 160, 60));
        photo(p, QRectF(8, 38, 18, 14), QColor(150, 200, 255), QColor(60, 160, 60));
        arrow(p, QPointF(48, 40), QPointF(30, 50), which);
        break;
    case 17:
        p.setPen(QPen(ink, 3));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(8, 20, 48, 24));
        p.setBrush(which);
        p.drawEllipse(QRectF(24, 22, 16, 20));
        p.setPen(QPen(QColor(200, 0, 0), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 54), QPointF(54, 10));
        break;
    default: break;
    }
}

QImage canvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Every picture is drawn on a 64 x 64 grid and scaled to its size.
void beginGrid(QPainter& p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
}

}  // namespace

QImage toolbarImage(int toolbar, int index)
{
    QImage image = canvas(kSize);
    QPainter p(&image);
    beginGrid(p, kSize);
    background(p, toolbar);
    glyph(p, toolbar, index);
    return image;
}

QImage applicationImage(int size)
{
    QImage image = canvas(size);
    QPainter p(&image);
    beginGrid(p, size);
    photo(p, QRectF(4, 6, 38, 30), QColor(150, 200, 255), QColor(60, 160, 60));
    p.setOpacity(0.6);
    photo(p, QRectF(20, 26, 40, 32), QColor(255, 190, 120), QColor(170, 60, 60));
    p.setOpacity(1);
    p.setPen(QPen(QColor(190, 140, 40), 4));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(20, 26, 40, 32));
    return image;
}

QImage aboutImage(int size)
{
    QImage image = applicationImage(size);
    QPainter p(&image);
    beginGrid(p, size);
    badge(p, QStringLiteral("i"), QColor(0, 120, 0));
    return image;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(applicationImage(size)));
    return icon;
}

}  // namespace tarvex::icons
