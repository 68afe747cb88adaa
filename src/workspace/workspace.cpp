#include "workspace.h"

namespace tarvex {

namespace {

// Name, x, y, outer width, outer height, shown: the window layout.
Surface designSurface(const char* name)
{
    const QString n = QString::fromLatin1(name);
    if (n == QLatin1String("Picture5"))
        return {n, 776, 536, 137, 65, false};
    if (n == QLatin1String("Picture3"))
        return {n, 296, 560, 65, 41, false};
    if (n == QLatin1String("Buff"))
        return {n, 0, 584, 65, 65, false};
    if (n == QLatin1String("Picture4"))
        return {n, -24, 504, 89, 65, false};
    if (n == QLatin1String("Picture2"))
        return {n, 640, 0, 644, 484, true};
    return {n, 0, 0, 644, 484, true};  // Picture1
}

}  // namespace

Workspace::Workspace()
    : Picture5(designSurface("Picture5")), Picture3(designSurface("Picture3")), Buff(designSurface("Buff")),
      Picture4(designSurface("Picture4")), Picture2(designSurface("Picture2")), Picture1(designSurface("Picture1"))
{
    resetControls();
}

void Workspace::resetControls()
{
    for (Surface* s : {&Picture5, &Picture3, &Buff, &Picture4, &Picture2, &Picture1})
        *s = designSurface(s->name().toLatin1().constData());
    Label1 = {};
    HScroll1 = {};
    HScroll1.Value = kScrollStart;
}

int Workspace::keyTolerance() const
{
    if (KeyTolerance != kAutomaticTolerance)
        return KeyTolerance;
    return FirstLossy ? kLossyTolerance : 0;
}

bool Workspace::frameIsKeyed() const
{
    return MixMode != kTrue && !Picture1.hasAlpha();
}

void Workspace::Form_Load()
{
    FirstFlippedH = SecondFlippedH = FirstFlippedV = SecondFlippedV = 0;
    Label1.Visible = false;
    HScroll1.Visible = false;
    FirstEmpty = kTrue;
    SecondEmpty = kTrue;
    // Key preview is the window's business: it forwards every key here first.
    Picture1.Top = kPicturesTop;
    Picture2.Top = kPicturesTop;
    for (Surface* s : {&Picture1, &Picture2, &Picture3, &Picture4})
        s->setPicture(nullptr);
}

}  // namespace tarvex
