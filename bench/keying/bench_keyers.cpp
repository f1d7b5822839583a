// Keys a 6000 x 4000 studio photo with each Magic Number (10: the soft key), and with a plain
// per-pixel MaskOut10 (pixel(), setPixel(), per-pixel HSV) as the baseline. Rates in megapixels per
// second of wall time; the copy of the source photo before each run is not timed.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <algorithm>

#include "keying/keyer.h"
#include "keying/reference_keyers.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// A green backdrop with a soft vertical gradient and sensor noise, a subject (skin, shirt,
// dark hair, a greenish fringe where backdrop light spills onto it), decoded as RGB32 the
// way a JPEG is.
QImage studioPhoto() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    quint32 seed = 2024;
    const int cx = kWidth / 2, cy = kHeight * 3 / 5;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int n = int((seed >> 24) % 17) - 8;
            const int m = int((seed >> 16) % 9) - 4;
            const long dx = x - cx, dy = y - cy;
            const long body = dx * dx * 9 + dy * dy * 4;  // ellipse
            const long head = dx * dx + (y - kHeight / 4) * long(y - kHeight / 4);
            int r, g, b;
            if (head < 500L * 500L) {
                if (y < kHeight / 4 - 250) {
                    r = 45 + n, g = 35 + m, b = 30 + n;  // hair
                } else {
                    r = 215 + n, g = 165 + m, b = 135 + n;  // skin
                }
            } else if (body < 2400L * 2400L) {
                const bool fringe = body > 2200L * 2200L;
                if (fringe) {
                    r = 95 + n, g = 125 + m, b = 80 + n;  // dull green: spill-corrected
                } else {
                    r = 60 + n + (x % 200) / 10, g = 70 + m, b = 150 + n;  // shirt
                }
            } else {
                const int shade = (y * 50) / kHeight;
                r = 35 + n, g = 175 + m + shade, b = 70 + n - shade / 2;  // backdrop
            }
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return img;
}

const QImage& photo() {
    static const QImage p = studioPhoto();
    return p;
}

void run(benchmark::State& state, keying::Keyer keyer, const keying::KeySettings& s) {
    const QRgb key = keying::keyColourOf(photo());
    for (auto _ : state) {
        state.PauseTiming();
        QImage img = photo().copy();
        state.ResumeTiming();
        keyer(img, key, s);
        benchmark::DoNotOptimize(img.constBits());
    }
    state.counters["MP/s"] = benchmark::Counter(double(kWidth) * kHeight * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Magic(benchmark::State& state) {
    keying::KeySettings s;
    s.magic = int(state.range(0));
    run(state, keying::keyerFor(s.magic), s);
}

void BM_MaskOut10SpillOn(benchmark::State& state) {
    keying::KeySettings s;
    s.correctSpill = true;
    s.spill = 10;
    run(state, keying::maskOut10, s);
}

void BM_PlainMaskOut10(benchmark::State& state) {
    run(state, reference::maskOut10, keying::KeySettings());
}

}  // namespace

BENCHMARK(BM_Magic)->DenseRange(1, 10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MaskOut10SpillOn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainMaskOut10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
