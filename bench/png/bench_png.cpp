// Saving a 24-megapixel composite as PNG: Qt's own PNG writer beside the encoder, into a plain
// file on disk, and through QSaveFile as writePng saves (what writePng did before beside what it
// does now; QSaveFile's fdatasync and rename cost the same in both), and the encoder into memory.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>
#include <QTemporaryDir>

#include "bench_main.h"
#include "png/pngencode.h"
#include "png/pngfile.h"
#include "support/photos.h"

namespace {

using photos::kHeight;
using photos::kWidth;

// A composite as the engine leaves it: premultiplied, mostly opaque, with a feathered border
// of partial alpha (about a fifth of the pixels) fading to fully transparent at the edges.
QImage composite() {
    QImage img = photos::studioShot().convertToFormat(QImage::Format_ARGB32);
    const int border = kHeight / 20;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        const int dy = std::min(y, kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x) {
            const int d = std::min({dy, x, kWidth - 1 - x});
            if (d < border)
                row[x] = (row[x] & 0xffffffu) | (quint32(255 * d / border) << 24);
        }
    }
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

const QImage& picture() {
    static const QImage img = composite();
    return img;
}

QString target() {
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("composite.png"));
}

void setCounters(benchmark::State& state) {
    state.counters["MPix/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = double(QFileInfo(target()).size()) / 1e6;
}

// Into a new file (the one before is removed outside the timing, as its pages take a while to
// drop).
template <typename Encode>
void toPlainFile(benchmark::State& state, Encode encode) {
    const QImage& img = picture();
    const QString path = target();
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !encode(img, &file, int(state.range(0))))
            state.SkipWithError("writing failed");
        file.close();
        state.PauseTiming();
        setCounters(state);
        QFile::remove(path);
        state.ResumeTiming();
    }
}

void BM_QtPngWriterToFile(benchmark::State& state) {
    toPlainFile(state, [](const QImage& img, QIODevice* out, int quality) {
        QImageWriter writer(out, "png");
        writer.setQuality(quality);
        return writer.write(img);
    });
}
BENCHMARK(BM_QtPngWriterToFile)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodePngToFile(benchmark::State& state) {
    toPlainFile(state, [](const QImage& img, QIODevice* out, int quality) {
        return png::encodePng(img, out, quality, nullptr);
    });
}
BENCHMARK(BM_EncodePngToFile)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

// writePng as it was: QSaveFile and QImageWriter, replacing the file of the iteration before.
void BM_QtPngWriterSaveFile(benchmark::State& state) {
    const QImage& img = picture();
    const QString path = target();
    for (auto _ : state) {
        QSaveFile file(path);
        file.open(QIODevice::WriteOnly);
        QImageWriter writer(&file, "png");
        writer.setQuality(int(state.range(0)));
        if (!writer.write(img) || !file.commit())
            state.SkipWithError("Qt's writer failed");
    }
    setCounters(state);
}
BENCHMARK(BM_QtPngWriterSaveFile)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WritePng(benchmark::State& state) {
    const QImage& img = picture();
    const QString path = target();
    for (auto _ : state) {
        QString error;
        if (!png::writePng(img, path, int(state.range(0)), &error))
            state.SkipWithError(error.toUtf8().constData());
    }
    setCounters(state);
}
BENCHMARK(BM_WritePng)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// The encoder alone, on the composite (RGBA) and on the opaque shot (RGB32, written as RGB).
void BM_EncodePngToMemory(benchmark::State& state) {
    static const QImage opaque = photos::studioShot();
    const QImage& img = state.range(1) ? opaque : picture();
    QByteArray bytes;
    bytes.reserve(qsizetype(kWidth) * kHeight * 4 + (1 << 20));
    for (auto _ : state) {
        bytes.resize(0);  // keeps the capacity: this measures the encoder alone
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        if (!png::encodePng(img, &buf, int(state.range(0)), nullptr))
            state.SkipWithError("encoding failed");
    }
    state.counters["MPix/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EncodePngToMemory)
    ->ArgNames({"quality", "rgb32"})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runImageBenchmarks(argc, argv);
}
