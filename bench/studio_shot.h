// A 24-megapixel studio shot for the benchmarks: a lit subject in front of a green backdrop
// with sensor noise, the size of a typical full-frame camera's photo.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace bench {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

inline QImage studioShot() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    QRadialGradient light(kWidth / 2.0, kHeight / 2.0, kWidth * 0.7);
    light.setColorAt(0, QColor(40, 190, 70));
    light.setColorAt(1, QColor(20, 120, 40));
    p.fillRect(img.rect(), light);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 140, 120));
    p.drawEllipse(QPointF(kWidth / 2.0, kHeight * 0.35), kWidth * 0.09, kHeight * 0.16);
    p.setBrush(QColor(60, 60, 90));
    p.drawRoundedRect(QRectF(kWidth * 0.32, kHeight * 0.5, kWidth * 0.36, kHeight * 0.5), 200, 200);
    p.end();
    QRandomGenerator rng(7);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const int n = int(rng.bounded(9u)) - 4;
            const QRgb c = row[x];
            row[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255),
                          qBound(0, qBlue(c) + n, 255));
        }
    }
    return img;
}

// A plain background of the same size: sky, haze and grass.
inline QImage sceneShot() {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0, QColor(90, 140, 220));
    sky.setColorAt(0.6, QColor(230, 220, 200));
    sky.setColorAt(1, QColor(70, 110, 60));
    p.fillRect(img.rect(), sky);
    return img;
}

}  // namespace bench
