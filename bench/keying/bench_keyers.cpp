// Keys a 6000 x 4000 studio photo with each Magic Number (10: the soft key), and with a plain
// per-pixel MaskOut10 (pixel(), setPixel(), per-pixel HSV) as the baseline. Rates in megapixels per
// second of wall time; the copy of the source photo before each run is not timed.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <algorithm>

#include "keying/keyer.h"
#include "keying/reference_keyers.h"
#include "keying/soft/plate_key.h"
#include "support/photos.h"
#include "support/plates.h"

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

// A shot of the same size against its backdrop plate, matching included: a person before a
// creased cloth, the camera moved by a few pixels and the light a little brighter since the
// plate was shot. The plate is prepared once, outside the timing (BM_PreparePlate times it).
const QImage& plateShot() {
    static const QImage p = plates::frame(
        plates::kGreen, 3, -2, {1.03, 1.02, 1.01}, 2,
        [](int x, int y, QRgb px) {
            const qint64 dx = x - kWidth / 2, dy = y - kHeight / 2;
            return dx * dx * 16 + dy * dy * 9 < qint64(kWidth) * kWidth / 4 ? qRgb(190, 140, 110)
                                                                            : px;
        },
        QSize(kWidth, kHeight));
    return p;
}

const QImage& platePhoto() {
    static const QImage p =
        plates::frame(plates::kGreen, 0, 0, {1, 1, 1}, 1, nullptr, QSize(kWidth, kHeight));
    return p;
}

void BM_SoftWithPlate(benchmark::State& state) {
    const keying::BackdropPlate plate = keying::prepareBackdropPlate(platePhoto());
    keying::KeySettings s;
    s.magic = 10;
    s.keepShadows = state.range(0) != 0;
    bool used = true;
    for (auto _ : state) {
        state.PauseTiming();
        QImage img = plateShot().copy();
        state.ResumeTiming();
        used &= keying::maskOutSoftWithPlate(img, plate, s).use == keying::PlateOutcome::Use::Used;
        benchmark::DoNotOptimize(img.constBits());
    }
    if (!used)
        state.SkipWithError("the plate was not used");
    state.counters["MP/s"] = benchmark::Counter(double(kWidth) * kHeight * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PreparePlate(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(keying::prepareBackdropPlate(platePhoto()).size());
    state.counters["MP/s"] = benchmark::Counter(double(kWidth) * kHeight * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_SoftWithPlate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PreparePlate)->Unit(benchmark::kMillisecond)->UseRealTime();
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
