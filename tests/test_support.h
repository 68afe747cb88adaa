#pragma once
// Shared by the command tests: a scripted stand-in for the dialog and the
// message boxes, the commands on a loaded workspace, and small pictures
// with known pixels.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "workspace/picture_commands.h"
#include "workspace/prompts.h"
#include "workspace/surface.h"

namespace tarvex::testing {

class ScriptedPrompts : public UserPrompts {
public:
    QStringList answers;   // what the open dialog returns, in order
    QStringList messages;  // every message shown
    int busyDepth = 0;

    QString askFileToOpen() override { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    void showMessage(const QString& text) override { messages << text; }
    void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }
};

// What every command test starts from: a workspace just loaded, scripted
// prompts, and the picture commands on the two.
struct CommandSession {
    Workspace ws;
    ScriptedPrompts prompts;
    PictureCommands commands{ws, prompts};

    CommandSession() { ws.Form_Load(); }
};

// A picture whose every pixel is distinct: x in blue, y in green, a seed in red.
inline QImage patternImage(int width, int height, int seed = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((seed * 37 + x * 3 + y) & 0xff, (y * 5 + seed) & 0xff, (x * 7) & 0xff));
    return image;
}

inline QImage filledImage(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The window of the frames below: a rounded rectangle in the middle.
inline QRectF frameWindow(int width, int height)
{
    return QRectF(width * 0.15, height * 0.15, width * 0.7, height * 0.7);
}

// The brown of the frames below at (x, y): no green above red or blue.
inline QRgb brownArt(int x, int y)
{
    const int t = (x * 13 + y * 7) % 60;
    return qRgb(140 + t, 40 + t / 2, 90 + t);
}

// A frame as people make them: a textured border (brown unless `art`
// says otherwise), around a rounded window of the key colour drawn with
// smooth edges.
inline QImage texturedFrame(int width, int height, QRgb key = qRgb(0, 255, 0), QRgb (*art)(int, int) = brownArt)
{
    QImage frame(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame.setPixel(x, y, art(x, y));
    QPainter p(&frame);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(key));
    const QRectF window = frameWindow(width, height);
    p.drawRoundedRect(window, window.height() / 6, window.height() / 6);
    return frame;
}

// The same frame as an editor exports it with alpha: the window fully
// transparent with its pixels stored black, its edge feathered over eight
// pixels, and a black ornament in the border.
inline QImage featheredFrame(int width, int height)
{
    QImage frame = texturedFrame(width, height).convertToFormat(QImage::Format_ARGB32);
    const QRectF window = frameWindow(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = std::max({window.left() - x, x - window.right(), 0.0});
            const double dy = std::max({window.top() - y, y - window.bottom(), 0.0});
            const double inside = std::min({x - window.left(), window.right() - x, y - window.top(), window.bottom() - y});
            const double out = std::max(dx, dy) > 0 ? std::max(dx, dy) : -inside;
            const int alpha = std::clamp(int(std::lround((out + 4) * 255 / 8)), 0, 255);
            const QRgb c = frame.pixel(x, y);
            frame.setPixel(x, y, alpha == 0 ? qRgba(0, 0, 0, 0) : qRgba(qRed(c), qGreen(c), qBlue(c), alpha));
        }
    QPainter p(&frame);
    p.fillRect(QRectF(width * 0.02, height * 0.02, width * 0.08, height * 0.08), Qt::black);  // the ornament
    return frame;
}

// Where the ornament of featheredFrame lies.
inline QRect ornament(int width, int height)
{
    return QRectF(width * 0.02, height * 0.02, width * 0.08, height * 0.08).toAlignedRect().adjusted(1, 1, -1, -1);
}

// How far a colour leans toward a key's hue: the least of the channels in
// which the key is high (128 or more) less the most of those in which it is
// low. For pure green, green less the larger of red and blue. A key colour
// that shows in a result leans it.
inline int leanTowardKey(QRgb p, QRgb key)
{
    int least = 255, most = 0;
    for (int c = 0; c < 3; ++c) {
        const int pc = int((p >> (8 * c)) & 0xffu);
        if (((key >> (8 * c)) & 0xffu) >= 128)
            least = std::min(least, pc);
        else
            most = std::max(most, pc);
    }
    return least - most;
}

inline QString writePicture(const QDir& dir, const QString& name, const QImage& image, const char* format = "bmp")
{
    const QString path = dir.filePath(name);
    image.save(path, format);
    return path;
}

// Writes `bytes` as the file `name` in `dir`: its path, or empty when it
// could not be written whole.
inline QString writeFile(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return f.fileName();
}

// The image as Qt's writer codes it in `format`.
inline QByteArray encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return data;
}

inline QImage surfaceImage(const Surface& s)
{
    return s.image().copy();
}

}  // namespace tarvex::testing
