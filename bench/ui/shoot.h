// A shoot as a camera writes it, for the benchmarks of the real window: green-screen photos of
// 24 megapixels with their small EXIF thumbnail, the two sample names and a background folder.
#pragma once

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>
#include <filesystem>

#include "exif_jpeg.h"
#include "scene.h"
#include "support/photos.h"

namespace bench {

// A green-screen shot as a camera gives it (about 5 MB as JPEG quality 92): a smooth backdrop
// falling off gently towards the corners, mild sensor noise (sigma about 3 levels per
// channel) and in the middle a subject: hair of fine strands, a shaded face, woven cloth.
inline QImage cameraShot(int w = photos::kWidth, int h = photos::kHeight, quint32 seed = 11) {
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

// Writes one such shot (about 5 MB as JPEG quality 92) into `folder` under `photos` names
// (hard links: the same bytes to read), plus the samples "1green.JPG" and "blue1.JPG" and the
// background "Bkg/scene.jpg". Returns the photos' paths, or nothing when writing failed.
inline QStringList makeShoot(const QString& folder, int photos) {
    const QDir dir(folder);
    const QString shot = dir.filePath("shot.jpg");
    const QImage photo = cameraShot();
    // The camera's thumbnail: 160 x 120, the photo between black bars.
    QImage thumbnail(160, 120, QImage::Format_RGB32);
    thumbnail.fill(Qt::black);
    QPainter(&thumbnail).drawImage(QRect(0, 7, 160, 106), photo);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    QFile file(shot);
    if (!buffer.open(QIODevice::WriteOnly) || !photo.save(&buffer, "JPG", 92) ||
        !file.open(QIODevice::WriteOnly) || file.write(withExif(jpeg, 1, thumbnail)) < 0)
        return {};
    file.close();
    QStringList files;
    for (int i = 0; i < photos; ++i) {
        files << dir.filePath(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')));
        std::error_code failed;
        std::filesystem::create_hard_link(shot.toStdString(), files.last().toStdString(), failed);
        if (failed)
            QFile::copy(shot, files.last());
    }
    QFile::copy(shot, dir.filePath("1green.JPG"));
    QFile::copy(shot, dir.filePath("blue1.JPG"));
    dir.mkdir("Bkg");
    scene().save(dir.filePath("Bkg/scene.jpg"), "JPG", 92);
    return files;
}

}  // namespace bench
