// Keys a 6000 x 4000 studio photo with each Magic Number (10: the soft key), and with a plain
// per-pixel MaskOut10 (pixel(), setPixel(), per-pixel HSV) as the baseline. Rates in megapixels per
// second of wall time; the copy of the source photo before each run is not timed.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <algorithm>

#include "keying/keyer.h"
#include "keying/reference_keyers.h"
#include "support/photos.h"

namespace {

using photos::kHeight;
using photos::kWidth;

const QImage& photo() {
    static const QImage p = photos::studioShot();
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
