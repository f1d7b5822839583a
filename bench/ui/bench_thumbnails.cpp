// Adding a shoot of 100 photos of 24 megapixels to the real window: the time until every
// thumbnail is shown, beside 100 plain full decodes of the same files, and the longest time the
// event loop was kept from running meanwhile.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/globals.h"
#include "core/hugepages.h"
#include "core/photofile.h"
#include "support/photos.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
#include "ui/shoot.h"

namespace {

constexpr int kPhotos = 100;

// Runs the event loop until `done` holds.
template <class Done>
void runUntil(Done done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    preferHugePages(argv);  // measure what the program runs with
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const QStringList files = bench::makeShoot(dir.path(), kPhotos);
    if (files.isEmpty())
        return 1;
    const QString shot = dir.filePath("shot.jpg");
    MyGlobal::appDir = dir.path();

    QElapsedTimer clock;
    clock.start();
    qint64 pixels = 0;
    for (const QString& path : files)
        pixels += loadPhoto(path).sizeInBytes();
    const double decodes = clock.nsecsElapsed() / 1e6;

    Dialog window;
    runUntil([&] { return window.pendingThumbnails() == 0; });  // the start-up entries
    desktop().chooseFiles = [&](QWidget*, const QString&, const QString&, const QString&) {
        return files;
    };

    // A timer every 2 ms notes the longest gap between its ticks: how long input would wait.
    QElapsedTimer sinceTick;
    double longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    double addCall = -1;
    QTimer::singleShot(0, [&] {
        QElapsedTimer call;
        call.start();
        window.findChild<QPushButton*>(QStringLiteral("AddForegGround"))->click();
        addCall = call.nsecsElapsed() / 1e6;
    });
    sinceTick.start();
    ticker.start(2);
    clock.restart();
    runUntil([&] { return addCall >= 0 && window.pendingThumbnails() == 0; });
    const double thumbnails = clock.nsecsElapsed() / 1e6;
    ticker.stop();

    std::printf("each photo: %d x %d pixels, %.1f MB as JPEG\n", photos::kWidth, photos::kHeight,
                QFileInfo(shot).size() / 1048576.0);
    std::printf("%d plain full decodes:                 %8.0f ms (%lld MB decoded)\n", kPhotos,
                decodes, pixels >> 20);
    std::printf("%d entries until every thumbnail is set: %8.0f ms  ratio %.3f (target <= 0.2)\n",
                kPhotos, thumbnails, thumbnails / decodes);
    std::printf("the Add click (refresh of the photo that becomes current): %6.0f ms\n", addCall);
    std::printf("longest event-loop stall meanwhile:    %8.0f ms (target <= the Add click)\n",
                longestGap);
    return 0;
}
