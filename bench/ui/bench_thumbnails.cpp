// Adding a shoot of 100 photos of 24 megapixels to the real window: the time until every
// thumbnail is shown, beside 100 plain full decodes of the same files, and the longest time the
// event loop was kept from running meanwhile.
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/globals.h"
#include "core/hugepages.h"
#include "core/photofile.h"
#include "exif_jpeg.h"
#include "scene.h"
#include "support/photos.h"
#include "ui/desktop.h"
#include "ui/dialog.h"

namespace {

constexpr int kPhotos = 100;

// A green-screen shot as a camera gives it (about 5 MB as JPEG quality 92): a smooth backdrop
// falling off gently towards the corners, mild sensor noise (sigma about 3 levels per
// channel) and in the middle a subject: hair of fine strands, a shaded face, woven cloth.
QImage cameraShot(int w = photos::kWidth, int h = photos::kHeight, quint32 seed = 11) {
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    const qint64 a = w / 4, b = h * 19 / 40, far = qint64(w) * w / 4 + qint64(h) * h / 4;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        const qint64 dy = y - h / 2;
        for (int x = 0; x < w; ++x) {
            const quint32 v = rng.generate();  // a byte of noise per channel, 5 bits of grain
            const auto noise = [v](int c) { return int((v >> c & 7) + (v >> (c + 3) & 7)) - 7; };
            const qint64 dx = x - w / 2;
            const int fall = int((dx * dx + dy * dy) * 24 / far);
            int r = 45 - fall / 2, g = 182 - fall, bl = 72 - fall / 2;
            if (dx * dx * b * b + dy * dy * a * a < a * a * b * b) {
                const int shade = int(dx * 30 / a) + fall, grain = int(v >> 27);
                if (dy < -b / 4)  // hair: strands along y, a few pixels apart
                    r = 60 + (x * 7 + y / 16) % 23 * 3 + grain - shade, g = 30 + r / 3, bl = 30;
                else if (dy < b / 5)  // face
                    r = 210 - shade + grain, g = 158 - shade, bl = 128 - shade;
                else  // cloth: a 3-pixel weave with a finer pattern in the thread
                    r = 50 + ((x / 3 + y / 3) & 1) * 30 + ((x ^ y) & 15) * 3 + grain - shade,
                    g = 60 + r / 4, bl = 140 - shade + (y % 9) * 2;
            }
            row[x] = qRgb(std::clamp(r + noise(0), 0, 255), std::clamp(g + noise(8), 0, 255),
                          std::clamp(bl + noise(16), 0, 255));
        }
    }
    return img;
}

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

    // One green-screen shot as a camera writes it, with the 160 x 120 thumbnail in its EXIF (the
    // photo between black bars), made once and listed under 100 names (hard links: the same
    // bytes to read).
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.jpg");
    const QImage photo = cameraShot();
    QImage thumbnail(160, 120, QImage::Format_RGB32);
    thumbnail.fill(Qt::black);
    QPainter(&thumbnail).drawImage(QRect(0, 7, 160, 106), photo);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    QFile file(shot);
    if (!buffer.open(QIODevice::WriteOnly) || !photo.save(&buffer, "JPG", 92) ||
        !file.open(QIODevice::WriteOnly) || file.write(withExif(jpeg, 1, thumbnail)) < 0)
        return 1;
    file.close();
    QStringList files;
    for (int i = 0; i < kPhotos; ++i) {
        files << dir.filePath(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')));
        std::error_code failed;
        std::filesystem::create_hard_link(shot.toStdString(), files.last().toStdString(), failed);
        if (failed)
            QFile::copy(shot, files.last());
    }
    QFile::copy(shot, dir.filePath("1green.JPG"));
    QFile::copy(shot, dir.filePath("blue1.JPG"));
    QDir(dir.path()).mkdir("Bkg");
    bench::scene().save(dir.filePath("Bkg/scene.jpg"), "JPG", 92);
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
