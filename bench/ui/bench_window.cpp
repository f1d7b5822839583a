// The real window through a working session on 24-megapixel photos: add 100 photos, choose ten
// of them one after another, drag the subject, change settings, save. A timer asks to run every
// 5 ms; the gaps between its runs are how long input would have waited. Reported per phase: the
// longest gap and the 99th percentile, and, for the choices, the time from a click to its
// preview beside one plain decode of the same photo.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "app/globals.h"
#include "compose/window/gview.h"
#include "core/hugepages.h"
#include "photo/photofile.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
#include "ui/refreshworker.h"
#include "ui/shoot.h"

namespace {

constexpr int kPhotos = 100;
constexpr int kChoices = 10;

// Runs the event loop for `ms` milliseconds, or until `done` holds.
void runFor(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || (ms > 0 && clock.elapsed() >= ms))
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

// The gaps between the runs of a 5 ms timer, phase by phase.
class Ticker {
public:
    Ticker() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_gaps.push_back(m_since.nsecsElapsed() / 1e6);
            m_since.restart();
        });
        m_timer.setTimerType(Qt::PreciseTimer);
    }
    void begin() {
        m_gaps.clear();
        m_since.start();
        m_timer.start(5);
    }
    // Stops and prints the phase's longest gap and 99th percentile.
    double end(const char* phase) {
        m_timer.stop();
        m_gaps.push_back(m_since.nsecsElapsed() / 1e6);  // the gap still open
        std::vector<double> g = m_gaps;
        std::sort(g.begin(), g.end());
        const double p99 = g[std::min(g.size() - 1, size_t(g.size() * 0.99))];
        std::printf("%-34s longest %6.1f ms   p99 %6.1f ms   (%zu ticks)\n", phase, g.back(), p99,
                    g.size());
        return g.back();
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    std::vector<double> m_gaps;
};

void mouse(Gview* view, QEvent::Type type, QPoint at) {
    QMouseEvent e(type, QPointF(at), view->mapToGlobal(QPointF(at)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &e);
}

}  // namespace

int main(int argc, char** argv) {
    preferHugePages(argv);  // measure what the program runs with
    // --on-screen: the desktop's own display and window manager instead of an offscreen window.
    const bool onScreen = argc > 1 && std::strcmp(argv[1], "--on-screen") == 0;
    if (!onScreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QStringList files = bench::makeShoot(dir.path(), kPhotos);
    if (files.isEmpty())
        return 1;
    MyGlobal::appDir = dir.path();
    MyGlobal::outputDir = dir.filePath("out");
    QDir().mkpath(MyGlobal::outputDir);
    desktop().chooseFiles = [&](QWidget*, const QString&, const QString&, const QString&) {
        return files;
    };
    desktop().open = [](const QString&) {};
    desktop().warn = [](QWidget*, const QString&, const QString& text) {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    };

    Dialog window;
    window.show();
    auto* fg = window.findChild<QListWidget*>(QStringLiteral("listWidget"));
    auto* view = window.findChild<Gview*>(QStringLiteral("graphicsView"));
    auto* worker = window.findChild<RefreshWorker*>();
    const auto idle = [&] { return window.pendingThumbnails() == 0 && !window.refreshing(); };
    runFor(0, idle);
    double worst = 0;
    Ticker ticker;

    // Add: every entry and thumbnail, and the preview of the last photo.
    ticker.begin();
    QTimer::singleShot(
        0, [&] { window.findChild<QPushButton*>(QStringLiteral("AddForegGround"))->click(); });
    runFor(50);
    runFor(0, idle);
    worst = std::max(worst, ticker.end("add 100 photos"));

    // Choose: ten photos one after another, each once its full-resolution preview is shown;
    // the first look (from a reduced decode) is timed too.
    QElapsedTimer sinceChoice;
    std::vector<double> choices, firstLooks;
    QObject::connect(worker, &RefreshWorker::previewReady, [&] {
        if (sinceChoice.isValid())
            firstLooks.push_back(sinceChoice.nsecsElapsed() / 1e6);
    });
    QObject::connect(worker, &RefreshWorker::ready, [&] {
        if (sinceChoice.isValid())
            choices.push_back(sinceChoice.nsecsElapsed() / 1e6);
        sinceChoice.invalidate();
    });
    ticker.begin();
    for (int i = 0; i < kChoices; ++i) {
        const int row = 2 + i * (kPhotos / kChoices);
        QTimer::singleShot(0, [&, row] {
            sinceChoice.start();
            emit fg->clicked(fg->model()->index(row, 0));
        });
        runFor(0, [&] { return !sinceChoice.isValid(); });
        runFor(30);
    }
    worst = std::max(worst, ticker.end("choose 10 photos"));

    // Drag: a press, 40 steps of a mouse moving at 100 steps a second, the release.
    ticker.begin();
    mouse(view, QEvent::MouseButtonPress, QPoint(150, 150));
    for (int step = 1; step <= 40; ++step) {
        runFor(10);
        mouse(view, QEvent::MouseMove, QPoint(150 + step * 2, 150 - step));
    }
    mouse(view, QEvent::MouseButtonRelease, QPoint(230, 110));
    runFor(0, idle);
    worst = std::max(worst, ticker.end("drag"));

    // Settings: canvas, alignment, scaling, size, backdrop colour, spill, a quarter of a second
    // apart, then until the last is shown.
    ticker.begin();
    const std::vector<std::function<void()>> changes = {
        [&] { window.findChild<QAbstractButton*>(QStringLiteral("canv_fg_2"))->click(); },
        [&] { window.findChild<QAbstractButton*>(QStringLiteral("bg_align00"))->click(); },
        [&] { window.findChild<QAbstractButton*>(QStringLiteral("bg_actualSize"))->click(); },
        [&] { window.findChild<QSlider*>(QStringLiteral("fg_size"))->setValue(80); },
        [&] { window.findChild<QAbstractButton*>(QStringLiteral("radioBlue"))->click(); },
        [&] { window.findChild<QAbstractButton*>(QStringLiteral("radioGreen"))->click(); },
        [&] { window.findChild<QAbstractButton*>(QStringLiteral("checkBox"))->click(); },
    };
    for (const auto& change : changes) {
        QTimer::singleShot(0, change);
        runFor(250);
    }
    runFor(0, idle);
    worst = std::max(worst, ticker.end("change 7 settings"));

    // Save: right after a change, so that the save waits for its refresh first.
    ticker.begin();
    bool saved = false;
    QTimer::singleShot(0, [&] {
        window.findChild<QAbstractButton*>(QStringLiteral("canv_fg"))->click();
        window.findChild<QAbstractButton*>(QStringLiteral("Run"))->click();
        saved = true;
    });
    runFor(0, [&] { return saved; });
    worst = std::max(worst, ticker.end("change and save"));

    // One plain decode of a photo of the shoot, beside the choices.
    QElapsedTimer clock;
    clock.start();
    const QImage decoded = loadPhoto(files[5]);
    const double decode = clock.nsecsElapsed() / 1e6;
    if (decoded.isNull() || choices.empty())
        return 1;
    std::printf("\neach photo %d x %d pixels; one plain decode %.0f ms\n", decoded.width(),
                decoded.height(), decode);
    const auto report = [decode](const char* what, std::vector<double> t) {
        std::sort(t.begin(), t.end());
        if (!t.empty())
            std::printf(
                "click to %-24s (%zu): median %5.0f ms = %.2f decodes, slowest %5.0f ms = "
                "%.2f decodes\n",
                what, t.size(), t[t.size() / 2], t[t.size() / 2] / decode, t.back(),
                t.back() / decode);
    };
    report("first preview", firstLooks);
    report("full-resolution preview", choices);
    std::printf("(target: a choice's preview within 1.3 decodes)\n");
    std::printf("longest stall of any phase: %.1f ms (target <= 100)\n", worst);
    return 0;
}
