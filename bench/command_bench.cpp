// The interactive commands on the workspace, without widgets, against
// memcpy of one picture (the bound), and opening and saving against Qt's
// plain reader and writer. Names: OP/IMPL/WxH. png/... times the PNG
// result of a noisy 24-megapixel photo against QImageWriter's defaults.
//
// Each command runs once before its timed loop, so the loop measures the
// command and not the page faults of buffers it makes on its first run. The
// first run is measured on its own: first_OP runs the command once on a
// fresh workspace, against fault/bound, a new picture-sized buffer written
// once.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "imaging/image_commands.h"
#include "view/fit.h"
#include "view/live_blend.h"
#include "view/shown_image.h"
#include "workspace/picture_commands.h"
#include "formats/result_file.h"

using namespace tarvex;

namespace {

const std::pair<int, int> kSizes[] = {{640, 480}, {1920, 1080}, {4000, 3000}, {6000, 4000}};

Picture picture(int w, int h, unsigned seed, bool asFrame = false)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb((x * 7 + seed) & 0xff, (y * 3) & 0xff, (x ^ y) & 0xff);
    }
    if (asFrame)
        QPainter(&image).fillRect(w / 10, h / 10, w - w / 5, h - h / 5, QColor(0, 255, 0));
    return std::make_shared<const QImage>(image);
}

// A frame with alpha, as exported by an editor: the border opaque, the
// window clear, its edge feathered over 16 pixels, premultiplied.
Picture alphaFrame(int w, int h)
{
    QImage image = picture(w, h, 1)->convertToFormat(QImage::Format_ARGB32);
    const int x0 = w / 10, y0 = h / 10, x1 = w - w / 10, y1 = h - h / 10;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int inside = std::min({x - x0, x1 - x, y - y0, y1 - y});
            row[x] = (row[x] & 0x00ffffffu) | unsigned(std::clamp(255 - inside * 16, 0, 255)) << 24;
        }
    }
    return std::make_shared<const QImage>(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

class NoPrompts : public UserPrompts {
public:
    QString next;
    QString askFileToOpen() override { return next; }
    void showMessage(const QString&) override {}
    void setBusy(bool) override {}
};

struct Bench {
    Workspace ws;
    ImageCommands commands{ws};
    Bench(int w, int h, int firstW, int firstH, bool frame, bool alpha = false)
    {
        ws.Form_Load();
        ws.Picture1.setPicture(alpha ? alphaFrame(firstW, firstH) : picture(firstW, firstH, 1, frame));
        ws.Buff.setPicture(ws.Picture1.picture());
        ws.Picture2.setPicture(picture(w, h, 2));
        ws.Picture4.setPicture(ws.Picture2.picture());
        ws.FirstEmpty = ws.SecondEmpty = kFalse;
        ws.MixMode = frame ? kFalse : kTrue;
    }
};

void mix(benchmark::State& state, int w, int h, int div)
{
    Bench b(w, h, w / div, h / div, false);
    int v = 0;
    b.commands.HScroll1_Change();
    for (auto _ : state) {
        b.ws.HScroll1.Value = 100 + (v++ & 15);
        b.commands.HScroll1_Change();
    }
}

void frameCmd(benchmark::State& state, int w, int h)
{
    Bench b(w, h, w / 2, h / 2, true);
    b.commands.AddFrameToPict_Click();
    for (auto _ : state)
        b.commands.AddFrameToPict_Click();
}

void reduce(benchmark::State& state, int w, int h)
{
    Bench b(w, h, 8, 8, false);
    b.commands.ShowReduced();
    for (auto _ : state)
        b.commands.ShowReduced();
}

void drag(benchmark::State& state, int w, int h)
{
    Bench b(w, h, w / 2, h / 2, true);
    b.commands.AddFrameToPict_Click();
    b.commands.Picture2_MouseDown(1, 0, 10, 10);
    b.commands.Picture2_MouseMove(1, 0, 11, 11);
    int i = 0;
    for (auto _ : state) {
        ++i;
        b.commands.Picture2_MouseMove(1, 0, float(10 + (i & 31)), float(10 + (i & 15)));
    }
}

// A drag step as the window lives it: the step, then the reduced view of
// the second picture that the window repaints.
void dragView(benchmark::State& state, int w, int h, bool alpha)
{
    Bench b(w, h, w / 2, h / 2, true, alpha);
    b.commands.AddFrameToPict_Click();
    b.commands.Picture2_MouseDown(1, 0, 10, 10);
    view::ShownImage shown;
    const view::Fit fit = view::fitInto(b.ws.Picture2, view::kPictureBoxPlace);
    b.commands.Picture2_MouseMove(1, 0, 11, 11);
    shown.sized(b.ws.Picture2, fit.inner);
    int i = 0;
    for (auto _ : state) {
        ++i;
        b.commands.Picture2_MouseMove(1, 0, float(10 + (i & 31)), float(10 + (i & 15)));
        benchmark::DoNotOptimize(shown.sized(b.ws.Picture2, fit.inner).constBits());
    }
}

// One step of the blend's thumb as the window shows it: the two pictures
// as shown, blended at the thumb's value, at the reduced box's size scaled
// by k (2 for a window twice the design size, or a 2x screen).
void liveBlendView(benchmark::State& state, int w, int h, int k)
{
    Bench b(w, h, w, h, false);
    view::LiveBlend live;
    const view::Fit fit = view::fitInto(b.ws.Picture2, view::kPictureBoxPlace);
    const QSize shown = fit.inner * k;
    benchmark::DoNotOptimize(live.at(b.ws.Picture1, b.ws.Picture4, shown, 1).constBits());
    int v = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(live.at(b.ws.Picture1, b.ws.Picture4, shown, 1 + (v++ & 127)).constBits());
}

// The first run of a command on freshly opened pictures: only the command
// is timed; the pictures are decoded once, outside.
template <typename Command>
void firstRun(benchmark::State& state, int w, int h, bool frame, Command command, bool alpha = false)
{
    const Picture first = alpha ? alphaFrame(w, h) : picture(w, h, 1, frame), second = picture(w, h, 2);
    for (auto _ : state) {
        state.PauseTiming();
        auto b = std::make_unique<Bench>(0, 0, 0, 0, frame);
        b->ws.Picture1.setPicture(first);
        b->ws.Buff.setPicture(first);
        b->ws.Picture2.setPicture(second);
        b->ws.Picture4.setPicture(second);
        state.ResumeTiming();
        command(*b);
        state.PauseTiming();
        b.reset();
        state.ResumeTiming();
    }
}

// A new picture-sized buffer, written once: the page faults every first
// use of a new buffer pays.
void faultBound(benchmark::State& state, int w, int h)
{
    const std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
    for (auto _ : state) {
        std::unique_ptr<char[]> buffer(new char[bytes]);
        std::memset(buffer.get(), 0x5a, bytes);
        benchmark::DoNotOptimize(buffer.get());
        state.PauseTiming();
        buffer.reset();
        state.ResumeTiming();
    }
}

void flip(benchmark::State& state, int w, int h, int which)
{
    Bench b(w, h, w, h, false);
    for (int warm = 0; warm < 2; ++warm) {  // the first two flips of the second picture make its buffers
        b.commands.HFlipSource_Click();
        b.commands.HFlipDest_Click();
    }
    for (auto _ : state) {
        switch (which) {
        case 0: b.commands.HFlipSource_Click(); break;
        case 1: b.commands.VerticalFlipSource_Click(); break;
        case 2: b.commands.HFlipDest_Click(); break;
        default: b.commands.VFlipDest_Click(); break;
        }
    }
}

void memcpyBound(benchmark::State& state, int w, int h)
{
    QImage src = *picture(w, h, 1), dst = *picture(w, h, 2);
    for (auto _ : state) {
        std::memcpy(dst.bits(), src.constBits(), std::size_t(src.sizeInBytes()));
        benchmark::DoNotOptimize(dst.constBits());
    }
}

QString jpegFile(const QTemporaryDir& dir, int w, int h)
{
    const QString path = dir.filePath(QStringLiteral("p%1x%2.jpg").arg(w).arg(h));
    if (!QFile::exists(path))
        picture(w, h, 3)->save(path, "jpeg", 90);
    return path;
}

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

void openTarvex(benchmark::State& state, int w, int h)
{
    const QString path = jpegFile(scratch(), w, h);
    Workspace ws;
    ws.Form_Load();
    NoPrompts prompts;
    prompts.next = path;
    PictureCommands commands(ws, prompts);
    for (auto _ : state)
        commands.OpenDest_Click();
}

void openReader(benchmark::State& state, int w, int h)
{
    const QString path = jpegFile(scratch(), w, h);
    QImageReader::setAllocationLimit(1025);
    for (auto _ : state) {
        QImageReader reader(path);
        benchmark::DoNotOptimize(reader.read());
    }
}

void saveTarvex(benchmark::State& state, int w, int h, const char* name)
{
    QTemporaryDir dir;
    Workspace ws;
    ws.Form_Load();
    NoPrompts prompts;
    PictureCommands commands(ws, prompts);
    ws.Picture2.setPicture(picture(w, h, 4));
    ws.PathParts = {dir.path() + QLatin1Char('/'), QString::fromLatin1(name)};
    for (auto _ : state) {
        commands.Save_Click();
        state.PauseTiming();
        QFile::remove(dir.path() + QLatin1Char('/') + ws.PathParts.Name);
        state.ResumeTiming();
    }
}

void saveWriter(benchmark::State& state, int w, int h, const char* format)
{
    QTemporaryDir dir;
    const Picture image = picture(w, h, 4);
    const QString path = dir.filePath(QStringLiteral("w.") + QLatin1String(format));
    for (auto _ : state) {
        QImageWriter writer(path, format);
        benchmark::DoNotOptimize(writer.write(*image));
        state.PauseTiming();
        QFile::remove(path);
        state.ResumeTiming();
    }
}

// A camera photo as PNG files see it: smooth light with sensor noise of a
// few levels, which deflate cannot squeeze much (a pattern without noise
// would make any setting look good).
QImage noisyPhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 24) % 7) - 3;
    };
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int base = 128 + int(80 * std::sin(x / 300.0) * std::cos(y / 200.0) + 30 * std::sin((x + y) / 37.0));
            const auto c = [](int v) { return std::clamp(v, 0, 255); };
            row[x] = qRgb(c(base + noise()), c(base * 4 / 5 + 20 + noise()), c(255 - base + noise()));
        }
    }
    return image;
}

// The PNG result of a 24-megapixel photo, ours against QImageWriter's
// default settings; the file's size is the counter "bytes".
void pngTarvex(benchmark::State& state)
{
    const QImage photo = noisyPhoto(6000, 4000);
    const int fd = ::memfd_create("png", 0);
    for (auto _ : state) {
        const EncodedResult encoded = encodeResult(photo, ResultFormat::Png, PhotoInfo{});
        ::ftruncate(fd, 0);
        ::lseek(fd, 0, SEEK_SET);
        encoded.content(fd);
    }
    state.counters["bytes"] = double(::lseek(fd, 0, SEEK_END));
    ::close(fd);
}

void pngWriter(benchmark::State& state)
{
    const QImage photo = noisyPhoto(6000, 4000);
    qint64 bytes = 0;
    for (auto _ : state) {
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "png").write(photo);
        bytes = out.size();
    }
    state.counters["bytes"] = double(bytes);
}

template <typename F, typename... A>
void add(const std::string& name, F f, A... args)
{
    benchmark::RegisterBenchmark(name.c_str(), f, args...)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv)
{
    for (auto [w, h] : kSizes) {
        const std::string s = std::to_string(w) + "x" + std::to_string(h);
        add("memcpy/bound/" + s, memcpyBound, w, h);
        add("mix/tarvex/" + s, mix, w, h, 1);
        add("mix_up2/tarvex/" + s, mix, w, h, 2);
        add("frame/tarvex/" + s, frameCmd, w, h);
        add("reduce/tarvex/" + s, reduce, w, h);
        add("drag/tarvex/" + s, drag, w, h);
        add("drag_view/tarvex/" + s, dragView, w, h, false);
        add("drag_view_alpha/tarvex/" + s, dragView, w, h, true);
        if (w == 6000) {
            add("live_blend_view/tarvex/" + s + "/k1", liveBlendView, w, h, 1);
            add("live_blend_view/tarvex/" + s + "/k2", liveBlendView, w, h, 2);
        }
        add("fault/bound/" + s, faultBound, w, h);
        add("first_mix/tarvex/" + s, firstRun<void (*)(Bench&)>, w, h, false, [](Bench& b) {
            b.ws.HScroll1.Value = 100;
            b.commands.HScroll1_Change();
        }, false);
        add("first_frame/tarvex/" + s, firstRun<void (*)(Bench&)>, w, h, true,
            [](Bench& b) { b.commands.AddFrameToPict_Click(); }, false);
        add("first_frame_alpha/tarvex/" + s, firstRun<void (*)(Bench&)>, w, h, true,
            [](Bench& b) { b.commands.AddFrameToPict_Click(); }, true);
        add("first_flip_second_h/tarvex/" + s, firstRun<void (*)(Bench&)>, w, h, false,
            [](Bench& b) { b.commands.HFlipDest_Click(); }, false);
        add("flip_first_h/tarvex/" + s, flip, w, h, 0);
        add("flip_first_v/tarvex/" + s, flip, w, h, 1);
        add("flip_second_h/tarvex/" + s, flip, w, h, 2);
        add("flip_second_v/tarvex/" + s, flip, w, h, 3);
        if (w >= 1920) {
            add("open/tarvex/" + s, openTarvex, w, h);
            add("open/qimagereader/" + s, openReader, w, h);
            add("save/tarvex/" + s, saveTarvex, w, h, "s.bmp");
            add("save/qimagewriter/" + s, saveWriter, w, h, "bmp");
            add("save_jpeg/tarvex/" + s, saveTarvex, w, h, "s.jpg");
            add("save_jpeg/qimagewriter/" + s, saveWriter, w, h, "jpeg");
        }
    }
    add("png/tarvex/6000x4000", pngTarvex);
    add("png/qimagewriter/6000x4000", pngWriter);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
