// Studio shots with known coverage for the keying quality benchmark: a subject layer drawn
// with antialiasing (so its alpha is the true coverage) laid over an uneven backdrop, then
// sensor noise and a JPEG round trip as a camera would give them.
#pragma once

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QString>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace quality {

constexpr int kW = 1600, kH = 1200;

struct Scene {
    QString name;
    bool blue = false;
    QImage photo;  // what the camera saw, Format_RGB32 after JPEG
    QImage truth;  // the subject layer, Format_ARGB32_Premultiplied
};

// Blurs a premultiplied layer along x, as a moving subject is smeared during the exposure.
inline void motionBlur(QImage& layer, int length) {
    for (int y = 0; y < layer.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(layer.scanLine(y));
        std::vector<QRgb> src(row, row + layer.width());
        for (int x = 0; x < layer.width(); ++x) {
            int s[4] = {0, 0, 0, 0};
            for (int i = 0; i < length; ++i) {
                const QRgb p = src[std::clamp(x - i, 0, layer.width() - 1)];
                s[0] += qAlpha(p), s[1] += qRed(p), s[2] += qGreen(p), s[3] += qBlue(p);
            }
            row[x] = qRgba(s[1] / length, s[2] / length, s[3] / length, s[0] / length);
        }
    }
}

struct Painter {
    QPainter p;
    QRandomGenerator rng;
    explicit Painter(QImage* img, quint32 seed) : p(img), rng(seed) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
    }
    double uni(double a, double b) { return a + (b - a) * rng.generateDouble(); }

    // A head with a mass of hair and single strands flying off it, over a shirt.
    void person(double cx, double cy, double s, QColor hair, QColor skin, QColor shirt,
                int strands) {
        p.setPen(Qt::NoPen);
        p.setBrush(shirt);
        p.drawRoundedRect(QRectF(cx - 1.4 * s, cy + 1.1 * s, 2.8 * s, 4.0 * s), 0.5 * s, 0.5 * s);
        p.setBrush(skin);
        p.drawEllipse(QPointF(cx, cy), 0.75 * s, s);
        p.setBrush(hair);
        p.drawChord(QRectF(cx - 0.85 * s, cy - 1.15 * s, 1.7 * s, 1.5 * s), 0, 180 * 16);
        for (int i = 0; i < strands; ++i) {
            const double t = uni(0.05, 0.95) * M_PI;
            const QPointF from(cx + 0.8 * s * std::cos(t), cy - 0.45 * s - 0.65 * s * std::sin(t));
            const double len = uni(0.3, 1.1) * s, dir = t + uni(-0.6, 0.6);
            const QPointF to = from + QPointF(len * std::cos(dir), -len * std::sin(dir));
            QPainterPath path(from);
            path.quadTo(from + QPointF(uni(-0.3, 0.3) * s, -uni(0, 0.4) * s), to);
            QColor c = hair.lighter(int(uni(90, 140)));
            p.setPen(QPen(c, uni(0.4, 1.3)));
            p.setBrush(Qt::NoBrush);
            p.drawPath(path);
        }
        p.setPen(Qt::NoPen);
    }

    // A plant: stems, leaves and thin blades of grass.
    void plant(double cx, double base, double s) {
        for (int i = 0; i < 14; ++i) {
            const double ang = uni(-1.1, 1.1), len = uni(0.5, 1.0) * s;
            const QPointF top(cx + len * std::sin(ang), base - len * std::cos(ang));
            p.setPen(QPen(QColor(95, 70, 40), uni(1.5, 3.0)));
            p.drawLine(QPointF(cx, base), top);
            p.setPen(Qt::NoPen);
            for (int j = 0; j < 9; ++j) {
                const double f = uni(0.2, 1.0);
                const QPointF at(cx + f * (top.x() - cx), base + f * (top.y() - base));
                static const QColor leafColours[] = {
                    {160, 110, 40}, {180, 70, 35}, {120, 110, 45}, {200, 150, 60}};
                p.setBrush(leafColours[rng.bounded(4)]);
                p.save();
                p.translate(at);
                p.rotate(uni(0, 360));
                p.drawEllipse(QPointF(uni(6, 14), 0), uni(6, 16), uni(1.5, 5));
                p.restore();
            }
        }
        for (int i = 0; i < 40; ++i) {
            const double x = cx + uni(-0.6, 0.6) * s;
            QPainterPath blade(QPointF(x, base));
            blade.quadTo(QPointF(x + uni(-30, 30), base - uni(60, 120)),
                         QPointF(x + uni(-80, 80), base - uni(120, 260)));
            p.setPen(QPen(QColor(150, 130, 70), uni(0.6, 1.4)));
            p.setBrush(Qt::NoBrush);
            p.drawPath(blade);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 75, 50));
        p.drawRect(QRectF(cx - 0.25 * s, base, 0.5 * s, 0.35 * s));  // pot
    }

    // A glass bottle: see-through body, brighter rim and highlight, an opaque label.
    void bottle(double cx, double cy, double s) {
        QPainterPath body;
        body.addRoundedRect(QRectF(cx - 0.5 * s, cy - 0.2 * s, s, 1.6 * s), 0.2 * s, 0.2 * s);
        body.addRect(QRectF(cx - 0.15 * s, cy - 0.9 * s, 0.3 * s, 0.75 * s));
        body.setFillRule(Qt::WindingFill);
        p.setBrush(QColor(210, 225, 235, 80));
        p.setPen(QPen(QColor(225, 235, 240, 200), 5));
        p.drawPath(body.simplified());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 170));
        p.drawRoundedRect(QRectF(cx - 0.38 * s, cy, 0.08 * s, 1.2 * s), 8, 8);
        p.setBrush(QColor(170, 40, 45));
        p.drawRect(QRectF(cx - 0.5 * s, cy + 0.5 * s, s, 0.5 * s));
    }

    // A ball thrown across the frame, smeared by motion blur.
    void blurredBall(QImage& layer, double cx, double cy, double r, QColor c, int length) {
        QImage smear(layer.size(), QImage::Format_ARGB32_Premultiplied);
        smear.fill(Qt::transparent);
        {
            QPainter q(&smear);
            q.setRenderHint(QPainter::Antialiasing);
            q.setPen(Qt::NoPen);
            q.setBrush(c);
            q.drawEllipse(QPointF(cx, cy), r, r);
        }
        motionBlur(smear, length);
        p.drawImage(0, 0, smear);
    }
};

// Backdrop lighting: vignetting, a hot spot, folds in the cloth and a soft shadow.
inline QImage backdrop(bool blue, QPointF shadow, double shadowSize) {
    const double base[3] = {blue ? 35.0 : 50.0, blue ? 85.0 : 180.0, blue ? 200.0 : 80.0};
    QImage img(kW, kH, QImage::Format_RGB32);
    for (int y = 0; y < kH; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < kW; ++x) {
            const double dx = (x - kW / 2.0) / kW, dy = (y - kH / 2.0) / kW;
            const double vignette = 1.0 - 1.3 * (dx * dx + dy * dy);
            const double hx = (x - 0.32 * kW) / (0.22 * kW), hy = (y - 0.3 * kH) / (0.22 * kW);
            const double hot = 1.0 + 0.3 * std::exp(-(hx * hx + hy * hy));
            const double fold = 1.0 + 0.05 * std::sin(x / 37.0 + 2.0 * std::sin(y / 210.0));
            const double sx = (x - shadow.x()) / (1.6 * shadowSize);
            const double sy = (y - shadow.y()) / shadowSize;
            const double shade = 1.0 - 0.45 * std::exp(-std::pow(sx * sx + sy * sy, 2.0));
            const double l = vignette * hot * fold * shade;
            row[x] = qRgb(std::clamp(int(base[0] * l + 0.5), 0, 255),
                          std::clamp(int(base[1] * l + 0.5), 0, 255),
                          std::clamp(int(base[2] * l + 0.5), 0, 255));
        }
    }
    return img;
}

// Lays the subject over the backdrop, adds noise and passes the result through JPEG.
inline QImage photograph(const QImage& subject, const QImage& back, quint32 seed) {
    QImage shot(kW, kH, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < kH; ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(subject.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(back.constScanLine(y));
        auto* o = reinterpret_cast<QRgb*>(shot.scanLine(y));
        for (int x = 0; x < kW; ++x) {
            const int a = qAlpha(s[x]);
            auto mix = [&](int fg, int bg) {
                const int noise = int(rng.bounded(7u)) + int(rng.bounded(7u)) - 6;
                return std::clamp((fg * 255 + bg * (255 - a) + 127) / 255 + noise, 0, 255);
            };
            o[x] = qRgb(mix(qRed(s[x]), qRed(b[x])), mix(qGreen(s[x]), qGreen(b[x])),
                        mix(qBlue(s[x]), qBlue(b[x])));
        }
    }
    QByteArray jpeg;
    QBuffer buf(&jpeg);
    buf.open(QIODevice::WriteOnly);
    shot.save(&buf, "JPG", 90);
    return QImage::fromData(jpeg, "JPG").convertToFormat(QImage::Format_RGB32);
}

inline Scene makeScene(const QString& name, bool blue, quint32 seed, QPointF shadow,
                       double shadowSize, const std::function<void(Painter&, QImage&)>& draw) {
    Scene sc;
    sc.name = name;
    sc.blue = blue;
    sc.truth = QImage(kW, kH, QImage::Format_ARGB32_Premultiplied);
    sc.truth.fill(Qt::transparent);
    {
        Painter pt(&sc.truth, seed);
        draw(pt, sc.truth);
    }
    sc.photo = photograph(sc.truth, backdrop(blue, shadow, shadowSize), seed + 1);
    return sc;
}

inline std::vector<Scene> scenes() {
    const QColor skin(215, 165, 135), darkSkin(140, 95, 70);
    std::vector<Scene> out;
    out.push_back(makeScene("hair", false, 11, {1000, 1100}, 260, [&](Painter& p, QImage&) {
        p.person(800, 420, 190, QColor(70, 45, 30), skin, QColor(60, 70, 150), 900);
    }));
    out.push_back(makeScene("leaves", false, 22, {950, 1150}, 300,
                            [&](Painter& p, QImage&) { p.plant(800, 900, 600); }));
    out.push_back(makeScene("glass", false, 33, {900, 1120}, 200, [&](Painter& p, QImage& l) {
        p.bottle(700, 500, 380);
        p.blurredBall(l, 1250, 350, 60, QColor(230, 120, 40), 70);
    }));
    out.push_back(makeScene("blue", true, 44, {1000, 1120}, 280, [&](Painter& p, QImage& l) {
        p.person(800, 420, 190, QColor(200, 170, 110), skin, QColor(180, 60, 50), 900);
        p.blurredBall(l, 1300, 700, 50, QColor(240, 230, 220), 50);
    }));
    out.push_back(makeScene("pair", false, 55, {900, 1120}, 360, [&](Painter& p, QImage& l) {
        p.person(540, 430, 160, QColor(40, 30, 25), darkSkin, QColor(200, 200, 205), 600);
        p.person(1060, 460, 150, QColor(150, 90, 50), skin, QColor(120, 30, 60), 600);
        p.blurredBall(l, 800, 250, 40, QColor(200, 40, 40), 60);
    }));
    out.push_back(makeScene("group", false, 66, {800, 1150}, 500, [&](Painter& p, QImage&) {
        const double xs[] = {300, 620, 950, 1280};
        const QColor hairs[] = {{60, 40, 30}, {180, 150, 100}, {30, 25, 25}, {120, 60, 35}};
        const QColor shirts[] = {{40, 40, 45}, {200, 180, 60}, {90, 60, 150}, {230, 230, 230}};
        for (int i = 0; i < 4; ++i) {
            p.person(xs[i], 480 + 30 * (i % 2), 110, hairs[i], i % 2 ? darkSkin : skin, shirts[i],
                     350);
        }
    }));
    return out;
}

}  // namespace quality
