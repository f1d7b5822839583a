// Writing a 24-megapixel result in each format, through the safe writer as the batch tool
// does: PNG (stored, the default), JPEG at quality 92 (4:4:4) and TIFF (deflated strips), on a
// composite of the sample studio shot enlarged to 6000 x 4000 over a sample background, and on
// the noisy synthetic studio shot (a quarter of random colours: the hardest case for every
// compressor). MB is the file's size. Also the conversion of a 24-megapixel background into
// the foreground's colour space, which a run does once per background.
#include <benchmark/benchmark.h>

#include <QColorSpace>
#include <QFileInfo>
#include <QTemporaryDir>

#include "bench_main.h"
#include "compose/composite.h"
#include "core/photofile.h"
#include "formats/result.h"
#include "keying/photoframe.h"
#include "support/photos.h"

namespace {

using formats::Format;

QImage sampleComposite() {
    const QString samples = QStringLiteral(MATTORA_SOURCE_DIR "/resources/samples/");
    QImage fg = loadPhoto(samples + "1green.JPG")
                    .scaled(photos::kHeight, photos::kWidth, Qt::IgnoreAspectRatio,
                            Qt::SmoothTransformation);
    fg.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    keying::keyTurnedPhoto(fg, keying::KeySettings());
    const QImage bg = compose::backgroundLayer(loadPhoto(samples + "Bkg/beach.JPG"));
    return compose::createComposite(bg, fg, 0, 0, false, compose::ComposeSettings());
}

QImage noisyComposite() {
    QImage fg = photos::studioShot(photos::kHeight, photos::kWidth);
    fg.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    keying::keyTurnedPhoto(fg, keying::KeySettings());
    QImage bg = compose::backgroundLayer(photos::studioShot(2000, 1500, 3));
    bg.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return compose::createComposite(bg, fg, 0, 0, false, compose::ComposeSettings());
}

const QImage& picture(bool noisy) {
    static const QImage sample = sampleComposite(), noise = noisyComposite();
    return noisy ? noise : sample;
}

void write(benchmark::State& state, Format f, bool noisy) {
    static QTemporaryDir dir;
    const QImage& img = picture(noisy);
    CameraInfo camera;
    camera.make = "Canon";
    camera.model = "EOS R5";
    camera.dateTimeOriginal = "2026:12:05 14:03:27";
    const QString path = formats::resultFileName(dir.path(), "result", f);
    for (auto _ : state) {
        QString error;
        if (!formats::writeResult(img, camera, path, f, formats::defaultQuality(f), &error))
            state.SkipWithError(error.toUtf8().constData());
    }
    state.counters["MB"] = double(QFileInfo(path).size()) / 1e6;
    state.counters["MPix"] = double(img.width()) * img.height() / 1e6;
}

void convertBackground(benchmark::State& state) {
    QImage bg = compose::backgroundLayer(photos::background(photos::kWidth, photos::kHeight, 2));
    bg.setColorSpace(QColorSpace(QColorSpace::SRgb));
    const QColorSpace adobe(QColorSpace::AdobeRgb);
    for (auto _ : state)
        benchmark::DoNotOptimize(compose::inColorSpace(bg, adobe));
}

}  // namespace

BENCHMARK_CAPTURE(write, sample_png, Format::Png, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write, sample_jpeg, Format::Jpeg, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write, sample_tiff, Format::Tiff, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write, noisy_png, Format::Png, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write, noisy_jpeg, Format::Jpeg, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(write, noisy_tiff, Format::Tiff, true)->Unit(benchmark::kMillisecond);
BENCHMARK(convertBackground)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return bench::runImageBenchmarks(argc, argv);
}
