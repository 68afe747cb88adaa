#pragma once
// A workspace with its image commands and small pictures whose pixels are
// known, for the commands' tests.
#include <QSet>
#include <cmath>
#include <memory>

#include "imaging/image_commands.h"
#include "test_support.h"

namespace tarvex::testing::commands {

inline Picture picture(const QImage& image)
{
    return std::make_shared<const QImage>(image);
}

struct Fixture {
    Workspace ws;
    ImageCommands commands{ws};
    Fixture() { ws.Form_Load(); }
    void first(const QImage& image)
    {
        ws.Picture1.setPicture(picture(image));
        ws.Buff.setPicture(ws.Picture1.picture());
        ws.FirstEmpty = kFalse;
    }
    void second(const QImage& image)
    {
        ws.Picture2.setPicture(picture(image));
        ws.Picture4.setPicture(ws.Picture2.picture());
        ws.SecondEmpty = kFalse;
    }
};

inline unsigned channelBlend(unsigned s, unsigned d, unsigned a)
{
    return unsigned(std::lround((s * a + d * (255.0 - a)) / 255.0));
}

// A frame: a 2-pixel red border around a key-green window.
inline QImage frameImage(int w, int h, QRgb border = qRgb(200, 0, 0), QRgb key = qRgb(0, 255, 0))
{
    QImage f = testing::filledImage(w, h, key);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x < 2 || y < 2 || x >= w - 2 || y >= h - 2)
                f.setPixel(x, y, border);
    return f;
}

// How many distinct pixel buffers the workspace's pictures and images
// hold: the measure of memory for large photos.
inline int distinctBuffers(const Workspace& ws)
{
    QSet<const uchar*> seen;
    for (const Surface* s : {&ws.Picture1, &ws.Buff, &ws.Picture2, &ws.Picture4, &ws.Picture5}) {
        if (s->picture())
            seen.insert(s->picture()->constBits());
        if (!s->isBlank() && !s->image().isNull())
            seen.insert(s->image().constBits());
    }
    return int(seen.size());
}

}  // namespace tarvex::testing::commands
