#pragma once
// Shared by the command tests: a scripted stand-in for the dialog and the
// message boxes, the commands on a loaded workspace, and small pictures
// with known pixels.
#include <QDir>
#include <QImage>
#include <QStringList>

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

inline QString writePicture(const QDir& dir, const QString& name, const QImage& image, const char* format = "bmp")
{
    const QString path = dir.filePath(name);
    image.save(path, format);
    return path;
}

inline QImage surfaceImage(const Surface& s)
{
    return s.image().copy();
}

}  // namespace tarvex::testing
