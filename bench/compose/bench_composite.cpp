// The composite engine on 24-megapixel pictures: the full composite, a drag step, the smooth fit
// a release shows, and the plain painter composite beside one decode of the foreground file.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include "bench_main.h"
#include "compose/composite.h"
#include "compose/reference_composite.h"
#include "scene.h"
#include "support/photos.h"

namespace {

using photos::kHeight;
using photos::kWidth;
using photos::studioShot;

// The shot as a keyer leaves it: backdrop 0x00000000, a 248-alpha rim where the subject meets
// the backdrop, the subject opaque.
QImage keyedShot(const QImage& shot) {
    QImage keyed = shot.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<quint32*>(keyed.scanLine(y));
        bool prevBackdrop = true;
        for (int x = 0; x < kWidth; ++x) {
            const quint32 c = row[x];
            const bool backdrop = qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 40;
            if (backdrop) {
                row[x] = 0;
            } else if (prevBackdrop || x + 1 == kWidth) {
                row[x] = (c & 0xffffffu) | 0xf8000000u;
            }
            prevBackdrop = backdrop;
        }
    }
    return keyed;
}

// The window hands the engine its background converted to ARGB32.
QImage landscape() {
    return compose::backgroundLayer(bench::scene());
}

struct Pictures {
    QByteArray jpeg;
    QImage keyed;
    QImage background;
    QImage composite;
    Pictures() {
        const QImage shot = studioShot();
        QBuffer buf(&jpeg);
        buf.open(QIODevice::WriteOnly);
        shot.save(&buf, "JPEG", 92);
        keyed = keyedShot(shot);
        background = landscape();
        composite =
            compose::createComposite(background, keyed, 0, 0, false, compose::ComposeSettings());
    }
};

const Pictures& pictures() {
    static const Pictures p;
    return p;
}

compose::ComposeSettings sized(int fgSize) {
    compose::ComposeSettings s;
    s.fgSize = fgSize;
    return s;
}

void BM_JpegDecodeForeground(benchmark::State& state) {
    const Pictures& p = pictures();
    for (auto _ : state) {
        QImage img;
        img.loadFromData(p.jpeg, "JPEG");
        benchmark::DoNotOptimize(img.constBits());
    }
    state.counters["MB"] = double(p.jpeg.size()) / 1e6;
}
BENCHMARK(BM_JpegDecodeForeground)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CreateComposite(benchmark::State& state) {
    const Pictures& p = pictures();
    const compose::ComposeSettings s = sized(int(state.range(0)));
    compose::ComposeCache cache;
    for (auto _ : state) {
        QImage out = compose::createComposite(p.background, p.keyed, 40, -25, false, s, &cache);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_CreateComposite)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReferencePainterComposite(benchmark::State& state) {
    const Pictures& p = pictures();
    const compose::ComposeSettings s = sized(int(state.range(0)));
    for (auto _ : state) {
        QImage out = reference::composite(p.background, p.keyed, 40, -25, false, s);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_ReferencePainterComposite)
    ->Arg(100)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One drag step with the layers cached from the step before.
void BM_DragPreview(benchmark::State& state) {
    const Pictures& p = pictures();
    const compose::ComposeSettings s = sized(int(state.range(0)));
    compose::ComposeCache cache;
    int x = 0;
    for (auto _ : state) {
        QImage out = compose::dragPreview(p.background, p.keyed, x, -25, false, s, &cache);
        benchmark::DoNotOptimize(out.constBits());
        x = (x + 7) % 300;
    }
}
BENCHMARK(BM_DragPreview)->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// A drag step the plain way: full composite, then nearest-pixel scaling.
void BM_ReferenceDragStep(benchmark::State& state) {
    const Pictures& p = pictures();
    const compose::ComposeSettings s = sized(100);
    for (auto _ : state) {
        QImage out = reference::dragPreview(p.background, p.keyed, 40, -25, false, s);
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_ReferenceDragStep)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a release or refresh shows of the composite.
void BM_FitPreview(benchmark::State& state) {
    const Pictures& p = pictures();
    for (auto _ : state) {
        QImage out = compose::fitPreview(p.composite, QSize(415, 345));
        benchmark::DoNotOptimize(out.constBits());
    }
}
BENCHMARK(BM_FitPreview)->Unit(benchmark::kMillisecond)->UseRealTime();

// The engine's share of a refresh: composite plus the smooth fit (keying not included).
void BM_CompositeAndFit(benchmark::State& state) {
    const Pictures& p = pictures();
    const compose::ComposeSettings s = sized(100);
    compose::ComposeCache cache;
    for (auto _ : state) {
        QImage out = compose::createComposite(p.background, p.keyed, 40, -25, false, s, &cache);
        QImage shown = compose::fitPreview(out, s.previewSize);
        benchmark::DoNotOptimize(shown.constBits());
    }
}
BENCHMARK(BM_CompositeAndFit)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runImageBenchmarks(argc, argv);
}
