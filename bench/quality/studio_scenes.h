// Studio shots with known coverage for the keying quality benchmark: a subject layer drawn
// with antialiasing (so its alpha is the true coverage) laid over an uneven backdrop, then
// sensor noise and a JPEG round trip as a camera would give them. Every shot is drawn from a
// seed: subject, clothing, backdrop colour and its drift, light, texture, shadow, size and
// JPEG settings all come from it, so the family is as large as the seeds asked for.
#pragma once

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace quality {

struct Scene {
    QString name;
    QString features;  // what the seed drew, for the table
    quint32 seed = 0;
    bool blue = false;
    QImage photo;  // what the camera saw, Format_RGB32 after JPEG
    QImage truth;  // the subject layer, Format_ARGB32_Premultiplied
    // The empty backdrop as the camera saw it from `camera` pixels aside with `exposure`
    // times the light, with its own noise and the shot's JPEG: the backdrop plate.
    std::function<QImage(QPoint camera, double exposure)> plate;
    // How much the subject's shadow darkens the backdrop at a pixel, 0..1.
    std::function<double(int x, int y)> shadow;
    // The backdrop behind the subject as the light made it, shadow included, before the
    // sensor's noise and the JPEG.
    std::function<QImage()> backdrop;
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

    // A veil: a translucent white layer over the head and shoulders, with a few folds.
    void veil(double cx, double cy, double s, int alpha) {
        QPainterPath path;
        path.moveTo(cx - 0.3 * s, cy - 1.2 * s);
        path.cubicTo(cx - 1.6 * s, cy - 0.2 * s, cx - 1.9 * s, cy + 2.2 * s, cx - 1.7 * s,
                     cy + 3.0 * s);
        path.lineTo(cx + 1.7 * s, cy + 3.0 * s);
        path.cubicTo(cx + 1.9 * s, cy + 2.2 * s, cx + 1.6 * s, cy - 0.2 * s, cx + 0.3 * s,
                     cy - 1.2 * s);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(245, 245, 240, alpha));
        p.drawPath(path);
        for (int i = 0; i < 6; ++i) {
            const double x = cx + uni(-1.4, 1.4) * s;
            p.setPen(QPen(QColor(255, 255, 255, alpha / 2), uni(2, 6)));
            p.drawLine(QPointF(x, cy), QPointF(x + uni(-0.3, 0.3) * s, cy + 2.8 * s));
        }
        p.setPen(Qt::NoPen);
    }

    // A plant of leaves in the given colours.
    void leafyPlant(double cx, double base, double s, const std::vector<QColor>& leaves) {
        for (int i = 0; i < 12; ++i) {
            const double ang = uni(-1.1, 1.1), len = uni(0.5, 1.0) * s;
            const QPointF top(cx + len * std::sin(ang), base - len * std::cos(ang));
            p.setPen(QPen(QColor(70, 90, 40), uni(1.5, 3.0)));
            p.drawLine(QPointF(cx, base), top);
            p.setPen(Qt::NoPen);
            for (int j = 0; j < 10; ++j) {
                const double f = uni(0.2, 1.0);
                const QPointF at(cx + f * (top.x() - cx), base + f * (top.y() - base));
                p.setBrush(leaves[rng.bounded(quint32(leaves.size()))]);
                p.save();
                p.translate(at);
                p.rotate(uni(0, 360));
                p.drawEllipse(QPointF(uni(6, 14) * s / 600, 0), uni(6, 18) * s / 600,
                              uni(1.5, 6) * s / 600);
                p.restore();
            }
        }
        p.setBrush(QColor(120, 75, 50));
        p.drawRect(QRectF(cx - 0.25 * s, base, 0.5 * s, 0.35 * s));  // pot
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
            q.setTransform(p.transform());
            q.setRenderHint(QPainter::Antialiasing);
            q.setPen(Qt::NoPen);
            q.setBrush(c);
            q.drawEllipse(QPointF(cx, cy), r, r);
        }
        motionBlur(smear, int(length * p.transform().m11()) + 1);
        p.save();
        p.resetTransform();
        p.drawImage(0, 0, smear);
        p.restore();
    }
};

// How a seed lights and dresses the backdrop.
struct BackdropLook {
    double base[3];          // colour at the drift's start
    double drift[3];         // colour at its end
    double driftAngle;       // direction of the drift across the frame
    double hot, hotX, hotY;  // hot spot strength and place (shares of the frame)
    double fold;             // depth of the folds
    double texture;          // towel or fleece grain, share of the level
    int grain;               // grain size in pixels
    double shadow;           // depth of the subject's shadow
    QPointF shadowAt;
    double shadowSize;
};

// A smooth random field in [-1, 1] of the given grain, from the seed.
inline std::vector<float> grainField(int w, int h, int grain, quint32 seed) {
    const int gw = w / grain + 2, gh = h / grain + 2;
    QRandomGenerator rng(seed);
    std::vector<float> knots(size_t(gw) * gh);
    for (float& k : knots) {
        k = float(rng.generateDouble() * 2 - 1);
    }
    std::vector<float> out(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const double fy = double(y) / grain;
        const int y0 = int(fy);
        const float ty = float(fy - y0);
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / grain;
            const int x0 = int(fx);
            const float tx = float(fx - x0);
            const float* a = &knots[size_t(y0) * gw + x0];
            const float* b = a + gw;
            out[size_t(y) * w + x] =
                (a[0] * (1 - tx) + a[1] * tx) * (1 - ty) + (b[0] * (1 - tx) + b[1] * tx) * ty;
        }
    }
    return out;
}

// How much the subject's shadow darkens the backdrop at (x, y), 0..1.
inline double shadowDepth(const BackdropLook& b, double x, double y) {
    const double sx = (x - b.shadowAt.x()) / (1.6 * b.shadowSize);
    const double sy = (y - b.shadowAt.y()) / b.shadowSize;
    return b.shadow * std::exp(-std::pow(sx * sx + sy * sy, 2.0));
}

// The backdrop seen with the camera `camera` pixels aside: pixel (x, y) shows the cloth at
// (x, y) + camera, the frame's edge repeated beyond it.
inline QImage backdrop(int w, int h, const BackdropLook& b, quint32 seed,
                       QPoint camera = QPoint()) {
    QImage img(w, h, QImage::Format_RGB32);
    const std::vector<float> grain =
        b.texture > 0 ? grainField(w, h, b.grain, seed) : std::vector<float>();
    QRandomGenerator rng(seed + 7);
    std::vector<double> fine;
    if (b.texture > 0) {
        fine.resize(size_t(w) * h);
        for (double& v : fine) {
            v = rng.generateDouble();
        }
    }
    const double ca = std::cos(b.driftAngle), sa = std::sin(b.driftAngle);
    const double reach = std::abs(ca) * w + std::abs(sa) * h;
    for (int py = 0; py < h; ++py) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(py));
        for (int px = 0; px < w; ++px) {
            const int x = std::clamp(px + camera.x(), 0, w - 1);
            const int y = std::clamp(py + camera.y(), 0, h - 1);
            const double dx = (x - w / 2.0) / w, dy = (y - h / 2.0) / w;
            const double vignette = 1.0 - 1.3 * (dx * dx + dy * dy);
            const double hx = (x - b.hotX * w) / (0.22 * w), hy = (y - b.hotY * h) / (0.22 * w);
            const double hot = 1.0 + b.hot * std::exp(-(hx * hx + hy * hy));
            const double fold = 1.0 + b.fold * std::sin(x * 1600.0 / w / 37.0 +
                                                        2.0 * std::sin(y * 1200.0 / h / 210.0));
            const double shade = 1.0 - shadowDepth(b, x, y);
            // A towel's loops or a fleece's pile: a coarse grain and a fine one.
            const double tex = b.texture > 0
                                   ? 1.0 + b.texture * (0.7 * grain[size_t(y) * w + x] +
                                                        0.3 * (fine[size_t(y) * w + x] * 2 - 1))
                                   : 1.0;
            const double l = vignette * hot * fold * shade * tex;
            const double t =
                std::clamp(((x - w / 2.0) * ca + (y - h / 2.0) * sa) / reach + 0.5, 0.0, 1.0);
            int c[3];
            for (int q = 0; q < 3; ++q) {
                c[q] = std::clamp(int((b.base[q] * (1 - t) + b.drift[q] * t) * l + 0.5), 0, 255);
            }
            row[px] = qRgb(c[0], c[1], c[2]);
        }
    }
    return img;
}

// JPEG as a camera writes it: Qt's encoder gives 4:2:0; 4:4:4 goes through ffmpeg's, when it
// is on the PATH (else 4:2:0 too, and the scene says so).
inline QImage jpegRoundTrip(const QImage& shot, int quality, bool full, bool* gotFull) {
    *gotFull = false;
    if (full) {
        QTemporaryDir dir;
        const QString png = dir.path() + "/s.png", jpg = dir.path() + "/s.jpg";
        if (dir.isValid() && shot.save(png)) {
            // ffmpeg's scale of 2 (best) to 31: quality 98 is 2, 75 is 8.
            const int q = std::clamp(int(std::lround(2 + (98 - quality) * 6.0 / 23.0)), 2, 31);
            QProcess ff;
            ff.start("ffmpeg", {"-v", "error", "-y", "-i", png, "-pix_fmt", "yuvj444p", "-q:v",
                                QString::number(q), jpg});
            if (ff.waitForFinished(-1) && ff.exitStatus() == QProcess::NormalExit &&
                ff.exitCode() == 0) {
                const QImage back(jpg);
                if (!back.isNull()) {
                    *gotFull = true;
                    return back.convertToFormat(QImage::Format_RGB32);
                }
            }
        }
    }
    QByteArray jpeg;
    QBuffer buf(&jpeg);
    buf.open(QIODevice::WriteOnly);
    shot.save(&buf, "JPG", quality);
    return QImage::fromData(jpeg, "JPG").convertToFormat(QImage::Format_RGB32);
}

// Lays the subject over the backdrop and adds sensor noise.
inline QImage expose(const QImage& subject, const QImage& back, int noise, quint32 seed) {
    QImage shot(back.size(), QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    const quint32 span = quint32(noise + 1);
    for (int y = 0; y < back.height(); ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(subject.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(back.constScanLine(y));
        auto* o = reinterpret_cast<QRgb*>(shot.scanLine(y));
        for (int x = 0; x < back.width(); ++x) {
            const int a = qAlpha(s[x]);
            auto mix = [&](int fg, int bg) {
                const int n = int(rng.bounded(span)) + int(rng.bounded(span)) - noise;
                return std::clamp((fg * 255 + bg * (255 - a) + 127) / 255 + n, 0, 255);
            };
            o[x] = qRgb(mix(qRed(s[x]), qRed(b[x])), mix(qGreen(s[x]), qGreen(b[x])),
                        mix(qBlue(s[x]), qBlue(b[x])));
        }
    }
    return shot;
}

// The seeds of the family, and which half each belongs to. Constants of the soft key are
// chosen on the tuning half only; the validation half is for reporting.
constexpr quint32 kFirstSeed = 1, kSeeds = 64;
inline bool isTuningSeed(quint32 seed) {
    return seed % 2 == 1;
}
// Seeds drawn at 24 megapixels (6000 x 4000); the rest at one to two.
inline bool isLargeSeed(quint32 seed) {
    return seed == 13 || seed == 26 || seed == 47;
}

inline Scene makeScene(quint32 seed) {
    QRandomGenerator rng(seed * 7919u + 17u);
    auto uni = [&](double a, double b) { return a + (b - a) * rng.generateDouble(); };
    auto pick = [&](auto&& list) { return list[rng.bounded(quint32(std::size(list)))]; };
    Scene sc;
    sc.seed = seed;
    sc.name = QString("s%1").arg(seed, 2, 10, QChar('0'));
    sc.blue = rng.bounded(2u) == 1;
    QStringList f;
    f << (sc.blue ? "blue" : "green");

    static const QSize sizes[] = {{960, 640}, {1200, 800}, {1280, 960}, {1600, 1200}, {1024, 1024}};
    const QSize size = isLargeSeed(seed) ? QSize(6000, 4000) : pick(sizes);
    const bool portrait = rng.bounded(4u) == 0;
    const int W = portrait ? size.height() : size.width(),
              H = portrait ? size.width() : size.height();
    f << QString("%1x%2").arg(W).arg(H);

    // The screen: a common one, dark or light, or one close to neutral.
    BackdropLook b{};
    const int kind = int(rng.bounded(10u));
    static const double greens[][3] = {{50, 180, 80}, {70, 200, 60}, {40, 150, 90}, {90, 190, 70}};
    static const double blues[][3] = {{35, 85, 200}, {30, 100, 190}, {50, 70, 210}, {40, 120, 200}};
    const double* base = sc.blue ? pick(blues) : pick(greens);
    double scale = 1.0;
    if (kind == 0) {
        scale = uni(0.35, 0.55), f << "dark screen";
    } else if (kind == 1) {
        f << "near-neutral sheet";
    }
    for (int q = 0; q < 3; ++q) {
        b.base[q] = base[q] * scale;
    }
    if (kind == 1) {
        // Washed out towards grey: the key channel only a little above the others.
        const double grey = uni(110, 150), keep = uni(0.3, 0.45);
        for (double& c : b.base) {
            c = grey + (c - (base[0] + base[1] + base[2]) / 3) * keep;
        }
    }
    for (int q = 0; q < 3; ++q) {
        b.drift[q] = b.base[q];
    }
    if (rng.bounded(2u) == 0) {
        // The hue drifts across the frame: towards teal (green screen) or cyan or violet (blue).
        const int towards = sc.blue ? (rng.bounded(2u) ? 1 : 0) : 2;
        const double amount = uni(0.2, 0.6) * 80;
        b.drift[0] += towards == 0 ? amount * 0.6 : 0;  // violet: more red
        b.drift[1] += towards == 1 ? amount : 0;        // cyan: more green
        b.drift[2] += towards == 2 ? amount : 0;        // teal: more blue
        b.driftAngle = uni(0, 2 * M_PI);
        f << "hue drift";
    }
    b.hot = rng.bounded(3u) == 0 ? uni(0.3, 0.6) : uni(0.0, 0.2);
    b.hotX = uni(0.2, 0.8), b.hotY = uni(0.15, 0.6);
    if (b.hot > 0.3) {
        f << "hot spot";
    }
    b.fold = uni(0.0, 0.08);
    if (rng.bounded(4u) == 0) {
        b.texture = uni(0.06, 0.14);
        b.grain = int(uni(2, 5) * std::max(1.0, W / 1600.0));
        f << "texture";
    }
    b.shadow = uni(0.0, 0.55);
    b.shadowSize = uni(0.15, 0.3) * H;
    b.shadowAt = QPointF(uni(0.4, 0.7) * W, uni(0.85, 0.95) * H);
    if (b.shadow > 0.35) {
        f << "shadow";
    }

    // The subject.
    sc.truth = QImage(W, H, QImage::Format_ARGB32_Premultiplied);
    sc.truth.fill(Qt::transparent);
    {
        Painter pt(&sc.truth, seed);
        pt.p.scale(W / 1600.0, W / 1600.0);
        const double Hs = H * 1600.0 / W;  // the frame's height in painting units
        static const QColor hairs[] = {{70, 45, 30},  {30, 25, 25},    {200, 170, 110},
                                       {150, 90, 50}, {160, 160, 165}, {110, 40, 30}};
        static const QColor skins[] = {
            {215, 165, 135}, {140, 95, 70}, {240, 200, 175}, {90, 60, 45}, {190, 140, 100}};
        // Clothing, with colours near the key for each screen.
        static const QColor nearBlue[] = {{25, 35, 80}, {60, 150, 140}, {40, 60, 120}};
        static const QColor nearGreen[] = {{100, 110, 50}, {170, 160, 110}, {60, 150, 140}};
        static const QColor plain[] = {{235, 235, 235}, {128, 128, 130}, {180, 60, 50},
                                       {40, 40, 45},    {200, 180, 60},  {120, 30, 60}};
        auto shirt = [&]() {
            if (rng.bounded(3u) == 0) {
                const QColor c = sc.blue ? pick(nearBlue) : pick(nearGreen);
                f << QString("near-key cloth %1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue());
                return c;
            }
            return pick(plain);
        };
        const int what = int(rng.bounded(6u));
        if (what <= 2) {
            const int people = what == 2 ? 3 : what + 1;
            for (int i = 0; i < people; ++i) {
                const double s = 190.0 / std::sqrt(double(people)) * uni(0.85, 1.1);
                const double cx = 1600.0 * (i + 1) / (people + 1) + uni(-40, 40);
                const double cy = Hs * uni(0.3, 0.42);
                const QColor hair = pick(hairs), skin = pick(skins), cloth = shirt();
                pt.person(cx, cy, s, hair, skin, cloth, int(uni(300, 900) / people));
                if (rng.bounded(6u) == 0) {
                    pt.veil(cx, cy, s, int(uni(60, 130)));
                    f << "veil";
                }
            }
            f << (people == 1 ? "person" : QString("%1 people").arg(people));
        } else if (what == 3) {
            std::vector<QColor> leaves;
            const int n = 2 + int(rng.bounded(3u));
            for (int i = 0; i < n; ++i) {
                // Leaves of several greens, some close to a green screen.
                leaves.push_back(
                    QColor::fromHsv(int(uni(60, 130)), int(uni(90, 220)), int(uni(70, 200))));
            }
            pt.leafyPlant(800, Hs * 0.75, Hs * 0.6, leaves);
            f << "plant";
        } else if (what == 4) {
            pt.bottle(uni(500, 1100), Hs * 0.4, Hs * 0.3);
            pt.blurredBall(sc.truth, uni(300, 1300), Hs * uni(0.2, 0.7), 50, QColor(230, 120, 40),
                           60);
            f << "glass";
        } else {
            pt.person(uni(600, 1000), Hs * 0.35, 170, pick(hairs), pick(skins), shirt(), 600);
            pt.plant(uni(200, 400), Hs * 0.8, Hs * 0.4);
            f << "person and plant";
        }
    }
    const int noise = int(rng.bounded(5u)) + 2;
    const int quality = 75 + int(rng.bounded(24u));
    const bool full = rng.bounded(3u) == 0;
    bool gotFull = false;
    sc.photo = jpegRoundTrip(expose(sc.truth, backdrop(W, H, b, seed), noise, seed + 1), quality,
                             full, &gotFull);
    f << QString("jpeg %1 %2").arg(quality).arg(gotFull ? "4:4:4" : "4:2:0");
    sc.plate = [=](QPoint camera, double exposure) {
        BackdropLook empty = b;
        empty.shadow = 0;
        for (int q = 0; q < 3; ++q) {
            empty.base[q] *= exposure, empty.drift[q] *= exposure;
        }
        QImage none(W, H, QImage::Format_ARGB32_Premultiplied);
        none.fill(Qt::transparent);
        bool ignored = false;
        return jpegRoundTrip(expose(none, backdrop(W, H, empty, seed, camera), noise, seed + 2),
                             quality, full, &ignored);
    };
    sc.shadow = [=](int x, int y) { return shadowDepth(b, x, y); };
    sc.backdrop = [=] { return backdrop(W, H, b, seed); };
    sc.features = f.join(", ");
    return sc;
}

}  // namespace quality
