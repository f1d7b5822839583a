// The window's hot paths on 24-megapixel photos: a refresh, a drag step and the release that
// ends a drag (the refresh and the release until their composite is shown), beside one plain
// decode of the foreground file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <memory>

#include "app/globals.h"
#include "compose/composite.h"
#include "compose/window/gview.h"
#include "core/hugepages.h"
#include "keying/keyer.h"
#include "scene.h"
#include "support/photos.h"
#include "ui/dialog.h"

namespace {

using photos::kHeight;
using photos::kWidth;
using photos::studioShot;

struct Setup {
    QTemporaryDir dir;
    std::unique_ptr<Dialog> window;
    Gview* view = nullptr;
    QString foreground;

    Setup() {
        MyGlobal::appDir = dir.path();
        foreground = dir.filePath("1green.JPG");
        studioShot().save(foreground, "JPG", 92);
        QFile::copy(foreground, dir.filePath("blue1.JPG"));
        QDir(dir.path()).mkdir("Bkg");
        bench::scene().save(dir.filePath("Bkg/scene.jpg"), "JPG", 92);
        window = std::make_unique<Dialog>();
        view = window->findChild<Gview*>(QStringLiteral("graphicsView"));
        window->waitForRefresh();
    }

    void send(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(at), Qt::LeftButton, buttons, Qt::NoModifier);
        if (type == QEvent::MouseMove)
            view->mouseMoveEvent(&e);
        else
            view->mouseReleaseEvent(&e);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void BM_DecodeForeground(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(QImage(setup().foreground).width());
}
BENCHMARK(BM_DecodeForeground)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UpdateScene(benchmark::State& state) {
    // A refresh is made off the GUI thread; timed until it is shown.
    for (auto _ : state) {
        setup().window->UpdateScene();
        setup().window->waitForRefresh();
    }
}
BENCHMARK(BM_UpdateScene)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DragStep(benchmark::State& state) {
    Setup& s = setup();
    s.view->p1 = QPoint(100, 100);
    int step = 0;
    for (auto _ : state) {
        ++step;
        s.send(QEvent::MouseMove, QPoint(100 + step % 40, 100 - step % 25), Qt::LeftButton);
    }
    MyGlobal::mouseMove = false;
}
BENCHMARK(BM_DragStep)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReleaseAfterDrag(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) {
        MyGlobal::mouseMove = true;
        MyGlobal::xshiftFG = MyGlobal::yshiftFG = 0;
        s.view->p1 = QPoint(100, 100);
        s.send(QEvent::MouseButtonRelease, QPoint(130, 90), Qt::NoButton);
        s.window->waitForRefresh();
    }
}
BENCHMARK(BM_ReleaseAfterDrag)->Unit(benchmark::kMillisecond)->UseRealTime();

// The parts of a refresh, to see where its time goes.
void BM_KeyForeground(benchmark::State& state) {
    const QImage photo = QImage(setup().foreground);
    for (auto _ : state) {
        QImage img = photo;
        keying::keyImage(img, keying::keyColourOf(img), keying::KeySettings());
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_KeyForeground)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Composite(benchmark::State& state) {
    const QImage bg =
        QImage(setup().dir.filePath("Bkg/scene.jpg")).convertToFormat(QImage::Format_ARGB32);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            compose::createComposite(bg, MyGlobal::PrevImg, 10, 10, false, {}).constBits());
}
BENCHMARK(BM_Composite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FitPreview(benchmark::State& state) {
    const QImage composite = MyGlobal::ComposImg;
    for (auto _ : state)
        benchmark::DoNotOptimize(compose::fitPreview(composite, MyGlobal::PrevSize).constBits());
}
BENCHMARK(BM_FitPreview)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    preferHugePages(argv);  // measure what the program runs with
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    setup();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
