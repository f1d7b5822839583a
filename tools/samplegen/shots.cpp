#include "shots.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <vector>

#include "imageops.h"
#include "noise.h"

namespace samplegen {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;  // 0 to 1
};

// How the backdrop cloth is lit and hung.
struct BackdropLook {
    Rgb colour;             // colour under full light
    double lightX, lightY;  // brightest point, fractions of the frame
    double foldAngle;       // direction across the crease, radians
    double foldPos;         // crease position along that direction, fraction of the diagonal
    uint32_t seed;
};

QImage paintBackdrop(int w, int h, const BackdropLook& look) {
    QImage img(w, h, QImage::Format_RGB32);
    const double diag = std::sqrt(double(w) * w + double(h) * h);
    const double ca = std::cos(look.foldAngle);
    const double sa = std::sin(look.foldAngle);
    const double foldWidth = 0.018 * diag;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            // Key light falloff from the brightest point.
            const double lx = (x - look.lightX * w) / diag;
            const double ly = (y - look.lightY * h) / diag;
            double light = 1.05 - 0.7 * (lx * lx + ly * ly);
            // Lens vignetting.
            const double vx = (x - 0.5 * w) / (0.5 * diag);
            const double vy = (y - 0.5 * h) / (0.5 * diag);
            const double r2 = vx * vx + vy * vy;
            light *= 1.0 - 0.12 * r2 * r2;
            // Cloth unevenness: broad blotches and a fine weave.
            light *= 0.96 + 0.08 * fbm(x / 420.0, y / 420.0, 4, look.seed);
            // A crease: a dark trough with a lit ridge beside it, wandering a little.
            const double u =
                (x * ca + y * sa) / diag * diag - look.foldPos * diag +
                40.0 * (valueNoise(x * sa / 500.0, y * ca / 500.0, look.seed + 3) - 0.5);
            const double t0 = u / foldWidth;
            const double t1 = (u - 1.4 * foldWidth) / foldWidth;
            light *= 1.0 - 0.09 * std::exp(-t0 * t0) + 0.05 * std::exp(-t1 * t1);
            const int r = toByte(look.colour.r * light);
            const int g = toByte(look.colour.g * light);
            const int b = toByte(look.colour.b * light);
            line[x] = 0xFF000000u | uint32_t(r << 16) | uint32_t(g << 8) | uint32_t(b);
        }
    }
    return img;
}

// Lays the subject layer over the backdrop: a soft shadow of the subject on the cloth,
// backdrop light spilling onto the subject's rim, and sensor noise over all.
QImage composeShot(const QImage& backdropIn, QImage subject, int shadowDx, int shadowDy,
                   double spill, uint32_t seed) {
    const int w = backdropIn.width();
    const int h = backdropIn.height();
    // Lens softness: no edge in a photograph is a single pixel wide.
    boxBlur(subject, 1, 2);

    const std::vector<float> shadow = blurredAlpha(subject, 28, 3);
    const std::vector<float> wide = blurredAlpha(subject, 10, 3);

    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const auto* bg = reinterpret_cast<const uint32_t*>(backdropIn.constScanLine(y));
        const auto* fg = reinterpret_cast<const uint32_t*>(subject.constScanLine(y));
        auto* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
        const int sy = std::clamp(y - shadowDy, 0, h - 1);
        for (int x = 0; x < w; ++x) {
            const int sx = std::clamp(x - shadowDx, 0, w - 1);
            const double shade = 1.0 - 0.16 * shadow[size_t(sy) * size_t(w) + size_t(sx)];
            const double br = ((bg[x] >> 16) & 0xFF) / 255.0 * shade;
            const double bgg = ((bg[x] >> 8) & 0xFF) / 255.0 * shade;
            const double bb = (bg[x] & 0xFF) / 255.0 * shade;

            const double a = (fg[x] >> 24) / 255.0;
            double fr = ((fg[x] >> 16) & 0xFF) / 255.0;
            double fgg = ((fg[x] >> 8) & 0xFF) / 255.0;
            double fb = (fg[x] & 0xFF) / 255.0;
            // Near the outline the subject picks up light bounced off the backdrop.
            const double rim = clamp01((1.0 - wide[size_t(y) * size_t(w) + size_t(x)]) * 2.0);
            const double k = spill * rim;
            fr = fr * (1.0 - k) + br * k * a * 1.1;
            fgg = fgg * (1.0 - k) + bgg * k * a * 1.1;
            fb = fb * (1.0 - k) + bb * k * a * 1.1;

            double r = fr + br * (1.0 - a);
            double g = fgg + bgg * (1.0 - a);
            double b = fb + bb * (1.0 - a);
            // Sensor noise: mostly luminance, a little chroma.
            const double lum = 0.010 * pixelNoise(x, y, seed);
            r += lum + 0.006 * pixelNoise(x, y, seed + 1);
            g += lum + 0.005 * pixelNoise(x, y, seed + 2);
            b += lum + 0.008 * pixelNoise(x, y, seed + 3);
            dst[x] = 0xFF000000u | uint32_t(toByte(r) << 16) | uint32_t(toByte(g) << 8) |
                     uint32_t(toByte(b));
        }
    }
    return out;
}

QColor rgb(int r, int g, int b, int a = 255) {
    return QColor(r, g, b, a);
}

QColor shade(const QColor& c, double f, int alpha = 255) {
    return QColor(std::clamp(int(c.red() * f), 0, 255), std::clamp(int(c.green() * f), 0, 255),
                  std::clamp(int(c.blue() * f), 0, 255), alpha);
}

struct StrandStyle {
    int count;
    double minLen, maxLen;
    double outward;  // how far strands turn off the outline, radians
    double minWidth, maxWidth;
    int minAlpha, maxAlpha;
};

// Hair strands along an outline: short ones flowing along it give texture, ones turned
// off it cross the edge and make the fuzzy outline that keyers find hard.
void paintStrands(QPainter& p, const QPainterPath& outline, const QColor& base,
                  const StrandStyle& st, Rng& rng) {
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < st.count; ++i) {
        const double t = rng.uniform();
        const QPointF at = outline.pointAtPercent(t);
        const double tangent = -outline.angleAtPercent(t) * kPi / 180.0;
        const double dir =
            tangent + (rng.uniform() < 0.5 ? 0.0 : kPi) + st.outward * rng.range(-1.0, 1.0);
        const double len = rng.range(st.minLen, st.maxLen);
        const double bend = rng.range(-0.6, 0.6);
        const QPointF end = at + QPointF(std::cos(dir), std::sin(dir)) * len;
        const QPointF mid =
            (at + end) / 2.0 + QPointF(-std::sin(dir), std::cos(dir)) * (len * bend * 0.4);
        QPainterPath strand(at);
        strand.quadTo(mid, end);
        const double light = rng.range(0.7, 1.45);
        QPen pen(shade(base, light, int(rng.range(st.minAlpha, st.maxAlpha))));
        pen.setWidthF(rng.range(st.minWidth, st.maxWidth));
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.drawPath(strand);
    }
}

QBrush hairBrush(const QColor& base, const QPointF& from, const QPointF& to) {
    QLinearGradient g(from, to);
    g.setColorAt(0.0, shade(base, 1.35));
    g.setColorAt(0.45, base);
    g.setColorAt(1.0, shade(base, 0.6));
    return QBrush(g);
}

// Face and features in head coordinates: crown at (0, 0), chin at (0, 310), lit from the
// viewer's left.
void paintFace(QPainter& p, const QColor& skin, const QColor& lips, const QColor& brows,
               const QColor& iris, bool ears) {
    QPainterPath face(QPointF(0, 0));
    face.cubicTo(QPointF(80, 0), QPointF(122, 55), QPointF(120, 150));
    face.cubicTo(QPointF(118, 215), QPointF(95, 262), QPointF(50, 295));
    face.cubicTo(QPointF(30, 308), QPointF(-30, 308), QPointF(-50, 295));
    face.cubicTo(QPointF(-95, 262), QPointF(-118, 215), QPointF(-120, 150));
    face.cubicTo(QPointF(-122, 55), QPointF(-80, 0), QPointF(0, 0));

    if (ears) {
        QRadialGradient eg(QPointF(0, 0), 40);
        for (int side = -1; side <= 1; side += 2) {
            eg.setCenter(QPointF(side * 118, 165));
            eg.setFocalPoint(QPointF(side * 112, 160));
            eg.setColorAt(0.0, shade(skin, 0.95));
            eg.setColorAt(1.0, shade(skin, 0.72));
            p.setBrush(eg);
            p.setPen(Qt::NoPen);
            p.drawEllipse(QPointF(side * 120, 168), 20, 38);
        }
    }

    QRadialGradient fg(QPointF(-30, 130), 230, QPointF(-45, 115));
    fg.setColorAt(0.0, shade(skin, 1.08));
    fg.setColorAt(0.6, skin);
    fg.setColorAt(1.0, shade(skin, 0.78));
    p.setPen(Qt::NoPen);
    p.setBrush(fg);
    p.drawPath(face);

    p.save();
    p.setClipPath(face);
    // Shadow side and cheeks.
    QLinearGradient side(QPointF(40, 0), QPointF(125, 0));
    side.setColorAt(0.0, QColor(0, 0, 0, 0));
    side.setColorAt(1.0, QColor(60, 25, 10, 70));
    p.setBrush(side);
    p.drawRect(QRectF(-130, -10, 260, 330));
    for (int s = -1; s <= 1; s += 2) {
        QRadialGradient cheek(QPointF(s * 62, 205), 45);
        cheek.setColorAt(0.0, QColor(215, 90, 80, 38));
        cheek.setColorAt(1.0, QColor(215, 90, 80, 0));
        p.setBrush(cheek);
        p.drawEllipse(QPointF(s * 62, 205), 45, 45);
    }
    // Eye sockets.
    for (int s = -1; s <= 1; s += 2) {
        QRadialGradient sock(QPointF(s * 50, 150), 42);
        sock.setColorAt(0.0, QColor(90, 45, 30, 45));
        sock.setColorAt(1.0, QColor(90, 45, 30, 0));
        p.setBrush(sock);
        p.drawEllipse(QPointF(s * 50, 150), 48, 36);
    }
    p.restore();

    // Eyebrows.
    for (int s = -1; s <= 1; s += 2) {
        QPainterPath brow(QPointF(s * 20, 120));
        brow.cubicTo(QPointF(s * 40, 108), QPointF(s * 70, 106), QPointF(s * 88, 118));
        QPen pen(brows);
        pen.setWidthF(7.5);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(brow);
    }
    // Eyes.
    for (int s = -1; s <= 1; s += 2) {
        const QPointF c(s * 50, 150);
        QPainterPath eye(c + QPointF(-22, 0));
        eye.cubicTo(c + QPointF(-10, -13), c + QPointF(10, -13), c + QPointF(22, 0));
        eye.cubicTo(c + QPointF(10, 9), c + QPointF(-10, 9), c + QPointF(-22, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(232, 226, 222));
        p.drawPath(eye);
        p.save();
        p.setClipPath(eye);
        p.setBrush(iris);
        p.drawEllipse(c + QPointF(s * -1.5, -1), 9.5, 9.5);
        p.setBrush(QColor(15, 10, 8));
        p.drawEllipse(c + QPointF(s * -1.5, -1), 4.2, 4.2);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(c + QPointF(s * -1.5 - 3, -4), 2.0, 2.0);
        p.restore();
        QPainterPath lid(c + QPointF(-23, 1));
        lid.cubicTo(c + QPointF(-10, -14), c + QPointF(10, -14), c + QPointF(23, 1));
        QPen pen(QColor(45, 25, 20, 220));
        pen.setWidthF(2.6);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(lid);
        QPainterPath crease(c + QPointF(-20, -9));
        crease.cubicTo(c + QPointF(-8, -20), c + QPointF(10, -20), c + QPointF(21, -8));
        pen.setColor(QColor(110, 60, 45, 70));
        pen.setWidthF(1.6);
        p.setPen(pen);
        p.drawPath(crease);
    }
    // Nose: a shadow down the far side and the nostrils.
    {
        QPainterPath ridge(QPointF(10, 150));
        ridge.cubicTo(QPointF(14, 180), QPointF(22, 205), QPointF(24, 222));
        QPen pen(QColor(110, 55, 35, 30));
        pen.setWidthF(14);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.drawPath(ridge);
        QPainterPath tip(QPointF(-22, 226));
        tip.cubicTo(QPointF(-12, 238), QPointF(12, 238), QPointF(24, 226));
        pen.setColor(QColor(110, 55, 35, 80));
        pen.setWidthF(3.5);
        p.setPen(pen);
        p.drawPath(tip);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(70, 30, 20, 110));
        p.drawEllipse(QPointF(-11, 231), 5, 3);
        p.drawEllipse(QPointF(12, 231), 5, 3);
        p.setBrush(QColor(255, 240, 230, 45));
        p.drawEllipse(QPointF(-4, 212), 6, 10);
    }
    // Mouth.
    {
        QPainterPath upper(QPointF(-34, 266));
        upper.cubicTo(QPointF(-20, 254), QPointF(-8, 252), QPointF(0, 257));
        upper.cubicTo(QPointF(8, 252), QPointF(20, 254), QPointF(34, 266));
        upper.cubicTo(QPointF(15, 268), QPointF(-15, 268), QPointF(-34, 266));
        QPainterPath lower(QPointF(-32, 267));
        lower.cubicTo(QPointF(-15, 270), QPointF(15, 270), QPointF(32, 267));
        lower.cubicTo(QPointF(20, 284), QPointF(-20, 284), QPointF(-32, 267));
        p.setPen(Qt::NoPen);
        p.setBrush(shade(lips, 0.85));
        p.drawPath(upper);
        p.setBrush(lips);
        p.drawPath(lower);
        QPen pen(shade(lips, 0.45, 200));
        pen.setWidthF(1.8);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        QPainterPath line(QPointF(-34, 266));
        line.cubicTo(QPointF(-15, 269), QPointF(15, 269), QPointF(34, 266));
        p.drawPath(line);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 50));
        p.drawEllipse(QPointF(-6, 275), 9, 3);
    }
}

// Neck in head coordinates, with any bare skin below it (`below`) shaded as one piece so
// the two meet without a seam.
void paintNeck(QPainter& p, const QColor& skin, double width, const QPainterPath& below = {}) {
    QPainterPath neck(QPointF(-width, 230));
    neck.lineTo(width, 230);
    neck.cubicTo(QPointF(width, 330), QPointF(width + 10, 380), QPointF(width + 40, 430));
    neck.lineTo(-width - 40, 430);
    neck.cubicTo(QPointF(-width - 10, 380), QPointF(-width, 330), QPointF(-width, 230));
    neck = neck.united(below);
    QLinearGradient g(QPointF(0, 260), QPointF(0, 500));
    g.setColorAt(0.0, shade(skin, 0.6));
    g.setColorAt(0.42, shade(skin, 0.92));
    g.setColorAt(1.0, shade(skin, 0.78));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(neck);
    QLinearGradient s(QPointF(-width, 0), QPointF(width, 0));
    s.setColorAt(0.0, QColor(255, 235, 220, 40));
    s.setColorAt(0.7, QColor(0, 0, 0, 0));
    s.setColorAt(1.0, QColor(50, 20, 10, 70));
    p.setBrush(s);
    p.drawPath(neck);
}

// Upper body with the arms hanging at the sides, in head coordinates. Below `gapTop` a
// sliver of backdrop shows between each arm and the waist.
QPainterPath bodyPath(double s, double gapTop) {
    QPainterPath b(QPointF(-62, 370));
    b.cubicTo(QPointF(-150, 395), QPointF(-s + 60, 410), QPointF(-s + 10, 455));
    b.cubicTo(QPointF(-s - 30, 490), QPointF(-s - 42, 560), QPointF(-s - 42, 650));
    b.cubicTo(QPointF(-s - 44, 850), QPointF(-s - 50, 1100), QPointF(-s - 56, 1500));
    b.lineTo(s + 56, 1500);
    b.cubicTo(QPointF(s + 50, 1100), QPointF(s + 44, 850), QPointF(s + 42, 650));
    b.cubicTo(QPointF(s + 42, 560), QPointF(s + 30, 490), QPointF(s - 10, 455));
    b.cubicTo(QPointF(s - 60, 410), QPointF(150, 395), QPointF(62, 370));
    b.closeSubpath();
    for (int side = -1; side <= 1; side += 2) {
        const double d = side;
        QPainterPath g(QPointF(d * (s - 45), gapTop));
        g.cubicTo(QPointF(d * (s - 40), gapTop + 200), QPointF(d * (s - 48), 1300),
                  QPointF(d * (s - 54), 1500));
        g.lineTo(d * (s - 120), 1500);
        g.cubicTo(QPointF(d * (s - 125), 1300), QPointF(d * (s - 80), gapTop + 200),
                  QPointF(d * (s - 45), gapTop));
        g.closeSubpath();
        b = b.subtracted(g);
    }
    return b;
}

void paintClothing(QPainter& p, const QPainterPath& shape, const QColor& cloth, double left,
                   double right) {
    QLinearGradient g(QPointF(left, 0), QPointF(right, 0));
    g.setColorAt(0.0, shade(cloth, 1.25));
    g.setColorAt(0.35, cloth);
    g.setColorAt(1.0, shade(cloth, 0.55));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(shape);
}

// Soft folds in a garment and the shadow lines where the arms meet the body, painted on a
// layer of their own and blurred, so they read as cloth rather than brush strokes.
void paintFolds(QPainter& p, const QPainterPath& garment, const QColor& cloth, double s,
                double gapTop, double strength, Rng& rng, int count) {
    const QSize size =
        p.device()->width() > 0 ? QSize(p.device()->width(), p.device()->height()) : QSize();
    QImage layer(size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter fp(&layer);
    fp.setRenderHint(QPainter::Antialiasing);
    fp.setTransform(p.transform());
    for (int i = 0; i < count; ++i) {
        const QPointF a(rng.range(-s + 40, s - 40), rng.range(520, 1200));
        const QPointF b = a + QPointF(rng.range(-90, 90), rng.range(150, 380));
        QPainterPath fold(a);
        fold.quadTo((a + b) / 2 + QPointF(rng.range(-60, 60), 0), b);
        QPen pen(
            shade(cloth, rng.uniform() < 0.55 ? 0.55 : 1.3, int(strength * rng.range(35, 70))));
        pen.setWidthF(rng.range(18, 45));
        pen.setCapStyle(Qt::RoundCap);
        fp.setPen(pen);
        fp.drawPath(fold);
    }
    for (int side = -1; side <= 1; side += 2) {
        const double d = side;
        QPainterPath seam(QPointF(d * (s - 35), 470));
        seam.cubicTo(QPointF(d * (s - 50), 600), QPointF(d * (s - 48), gapTop - 150),
                     QPointF(d * (s - 45), gapTop + 40));
        QPen pen(shade(cloth, 0.35, int(150 * strength)));
        pen.setWidthF(16);
        fp.setPen(pen);
        fp.drawPath(seam);
    }
    fp.end();
    boxBlur(layer, 5, 3);
    // Keep the folds inside the garment.
    QPainter mp(&layer);
    mp.setRenderHint(QPainter::Antialiasing);
    mp.setTransform(p.transform());
    mp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    mp.fillPath(garment, Qt::black);
    mp.end();
    p.save();
    p.resetTransform();
    p.drawImage(0, 0, layer);
    p.restore();
}

QImage paintWoman(int w, int h, Rng& rng) {
    QImage layer(w, h, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(1010, 205);
    p.scale(1.12, 1.12);
    p.rotate(-2.5);

    const QColor hair = rgb(62, 38, 26);
    const QColor skin = rgb(226, 172, 140);
    const QColor cloth = rgb(128, 28, 48);

    // Hair falling behind the shoulders.
    QPainterPath back(QPointF(0, -22));
    back.cubicTo(QPointF(120, -25), QPointF(170, 60), QPointF(168, 190));
    back.cubicTo(QPointF(166, 300), QPointF(190, 420), QPointF(250, 560));
    back.cubicTo(QPointF(200, 610), QPointF(130, 600), QPointF(80, 560));
    back.lineTo(-80, 560);
    back.cubicTo(QPointF(-130, 610), QPointF(-210, 615), QPointF(-262, 565));
    back.cubicTo(QPointF(-195, 420), QPointF(-172, 300), QPointF(-172, 190));
    back.cubicTo(QPointF(-172, 60), QPointF(-120, -25), QPointF(0, -22));
    back.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(hairBrush(hair, QPointF(-200, 0), QPointF(220, 300)));
    p.drawPath(back);
    paintStrands(p, back, hair, {1400, 12, 70, 0.3, 0.6, 1.6, 90, 230}, rng);

    // Body.
    const double shoulder = 290;
    const double gapTop = 820;
    const QPainterPath torso = bodyPath(shoulder, gapTop);
    const QPainterPath neckline = [] {
        QPainterPath n;
        n.addEllipse(QPointF(0, 395), 125, 90);
        return n;
    }();
    {
        QPainterPath chest;
        chest.addEllipse(QPointF(0, 400), 150, 110);
        paintNeck(p, skin, 58, chest.intersected(torso));
    }
    const QPainterPath top = torso.subtracted(neckline);
    paintClothing(p, top, cloth, -shoulder - 40, shoulder + 40);
    paintFolds(p, top, cloth, shoulder, gapTop, 1.0, rng, 14);
    {
        QPen pen(shade(cloth, 0.5, 200));
        pen.setWidthF(4);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.save();
        p.setClipPath(torso);
        p.drawPath(neckline);
        p.restore();
    }

    paintFace(p, skin, rgb(180, 82, 88), shade(hair, 0.9, 230), rgb(80, 55, 35), false);

    // Hair over the forehead and down past the cheeks, parted on the viewer's left.
    QPainterPath front(QPointF(-35, -18));
    front.cubicTo(QPointF(60, -30), QPointF(150, 20), QPointF(150, 170));
    front.cubicTo(QPointF(150, 280), QPointF(165, 380), QPointF(205, 480));
    front.cubicTo(QPointF(170, 490), QPointF(140, 470), QPointF(125, 420));
    front.cubicTo(QPointF(115, 330), QPointF(118, 200), QPointF(100, 110));
    front.cubicTo(QPointF(85, 60), QPointF(30, 35), QPointF(-40, 40));
    front.cubicTo(QPointF(-80, 60), QPointF(-105, 110), QPointF(-112, 170));
    front.cubicTo(QPointF(-118, 270), QPointF(-112, 360), QPointF(-140, 450));
    front.cubicTo(QPointF(-165, 470), QPointF(-195, 465), QPointF(-215, 455));
    front.cubicTo(QPointF(-165, 360), QPointF(-160, 260), QPointF(-155, 160));
    front.cubicTo(QPointF(-150, 40), QPointF(-110, -10), QPointF(-35, -18));
    front.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(hairBrush(hair, QPointF(-150, -20), QPointF(160, 250)));
    p.drawPath(front);
    paintStrands(p, front, hair, {1800, 15, 60, 0.15, 0.6, 1.6, 90, 230}, rng);
    // Fly-away hairs off the crown and sides.
    QPainterPath crown(QPointF(-160, 200));
    crown.cubicTo(QPointF(-170, 20), QPointF(-80, -28), QPointF(0, -26));
    crown.cubicTo(QPointF(90, -28), QPointF(172, 30), QPointF(170, 220));
    paintStrands(p, crown, shade(hair, 1.25), {180, 40, 140, 0.45, 0.45, 0.9, 50, 150}, rng);
    p.end();
    return layer;
}

// Leaves of a potted plant, in frame coordinates.
void paintPlant(QPainter& p, QPointF potTop, Rng& rng) {
    const QColor leafBase = rgb(58, 118, 42);
    for (int i = 0; i < 34; ++i) {
        const double ang = rng.range(-kPi * 0.95, -kPi * 0.05);
        const double len = rng.range(260, 560);
        const double wid = rng.range(55, 95);
        const QPointF base = potTop + QPointF(rng.range(-60, 60), 10);
        p.save();
        p.translate(base);
        p.rotate(ang * 180.0 / kPi);
        // Leaf along +x, drooping a little.
        const double droop = rng.range(-0.25, 0.15) * len;
        QPainterPath stem(QPointF(0, 0));
        stem.quadTo(QPointF(len * 0.2, droop * 0.2), QPointF(len * 0.35, droop * 0.35));
        QPen sp(shade(leafBase, 0.8));
        sp.setWidthF(6);
        p.setPen(sp);
        p.setBrush(Qt::NoBrush);
        p.drawPath(stem);
        const QPointF s0(len * 0.35, droop * 0.35);
        const QPointF tip(len, droop);
        QPainterPath leaf(s0);
        leaf.cubicTo(s0 + QPointF(len * 0.15, -wid), tip + QPointF(-len * 0.25, -wid * 0.5), tip);
        leaf.cubicTo(tip + QPointF(-len * 0.25, wid * 0.4), s0 + QPointF(len * 0.15, wid * 0.9),
                     s0);
        const double tone = rng.range(0.75, 1.3);
        QLinearGradient g(QPointF(0, -wid), QPointF(0, wid));
        g.setColorAt(0.0, shade(leafBase, tone * 1.25));
        g.setColorAt(1.0, shade(leafBase, tone * 0.7));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawPath(leaf);
        QPainterPath vein(s0);
        vein.quadTo((s0 + tip) / 2 + QPointF(0, -wid * 0.1), tip);
        QPen vp(shade(leafBase, tone * 1.5, 120));
        vp.setWidthF(2.2);
        p.setPen(vp);
        p.setBrush(Qt::NoBrush);
        p.drawPath(vein);
        p.restore();
    }
}

QImage paintManWithPlant(int w, int h, Rng& rng) {
    QImage layer(w, h, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);

    const QColor hair = rgb(120, 84, 52);
    const QColor skin = rgb(214, 160, 124);
    const QColor shirt = rgb(222, 218, 210);

    p.save();
    p.translate(640, 430);
    p.scale(1.4, 1.4);
    p.rotate(3.0);

    const double shoulder = 300;
    const double gapTop = 900;
    const QPainterPath torso = bodyPath(shoulder, gapTop);
    paintClothing(p, torso, shirt, -shoulder - 40, shoulder + 40);
    // Button placket.
    {
        QPen pen(shade(shirt, 0.75, 180));
        pen.setWidthF(3);
        p.setPen(pen);
        p.drawLine(QPointF(-18, 470), QPointF(-12, 1500));
        p.drawLine(QPointF(22, 470), QPointF(28, 1500));
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 6; ++i) {
            p.setBrush(shade(shirt, 0.82));
            p.drawEllipse(QPointF(5 + i * 1.2, 540 + i * 170), 8, 8);
        }
    }
    paintFolds(p, torso, shirt, shoulder, gapTop, 0.4, rng, 16);
    paintNeck(p, skin, 66);
    // Open collar.
    for (int side = -1; side <= 1; side += 2) {
        const double s = side;
        QPainterPath collar(QPointF(s * 72, 330));
        collar.cubicTo(QPointF(s * 110, 370), QPointF(s * 150, 410), QPointF(s * 175, 440));
        collar.lineTo(s * 95, 520);
        collar.lineTo(s * 5, 470);
        collar.cubicTo(QPointF(s * 40, 420), QPointF(s * 70, 380), QPointF(s * 72, 330));
        collar.closeSubpath();
        QLinearGradient g(QPointF(s * 60, 330), QPointF(s * 120, 500));
        g.setColorAt(0.0, shade(shirt, side < 0 ? 1.08 : 0.92));
        g.setColorAt(1.0, shade(shirt, side < 0 ? 0.95 : 0.78));
        p.setPen(QPen(shade(shirt, 0.7, 160), 2));
        p.setBrush(g);
        p.drawPath(collar);
    }
    paintFace(p, skin, rgb(170, 95, 88), shade(hair, 0.6, 230), rgb(70, 90, 110), true);
    // Jaw shadow of a shaved beard.
    {
        QRadialGradient g(QPointF(0, 250), 130);
        g.setColorAt(0.6, QColor(80, 60, 50, 0));
        g.setColorAt(1.0, QColor(80, 60, 50, 35));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        QPainterPath jaw(QPointF(-110, 200));
        jaw.cubicTo(QPointF(-100, 262), QPointF(-60, 300), QPointF(0, 308));
        jaw.cubicTo(QPointF(60, 300), QPointF(100, 262), QPointF(110, 200));
        jaw.closeSubpath();
        p.drawPath(jaw);
    }
    // Short hair: a cap over the crown with a side part and bristly edge.
    QPainterPath cap(QPointF(-126, 150));
    cap.cubicTo(QPointF(-140, 30), QPointF(-80, -40), QPointF(10, -42));
    cap.cubicTo(QPointF(100, -40), QPointF(140, 30), QPointF(126, 150));
    cap.cubicTo(QPointF(118, 120), QPointF(112, 80), QPointF(95, 60));
    cap.cubicTo(QPointF(40, 50), QPointF(-20, 45), QPointF(-60, 30));
    cap.cubicTo(QPointF(-95, 55), QPointF(-115, 100), QPointF(-126, 150));
    cap.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(hairBrush(hair, QPointF(-120, -40), QPointF(120, 120)));
    p.drawPath(cap);
    paintStrands(p, cap, hair, {1600, 6, 26, 0.6, 0.6, 1.5, 90, 230}, rng);
    QPainterPath top(QPointF(-128, 140));
    top.cubicTo(QPointF(-142, 25), QPointF(-80, -44), QPointF(10, -44));
    top.cubicTo(QPointF(100, -42), QPointF(142, 25), QPointF(128, 140));
    paintStrands(p, top, shade(hair, 1.15), {500, 10, 38, 0.9, 0.5, 1.1, 70, 190}, rng);
    p.restore();

    // Potted plant in front, at the lower right.
    const QPointF potTop(1180, 1640);
    paintPlant(p, potTop, rng);
    QPainterPath pot(potTop + QPointF(-190, 0));
    pot.lineTo(potTop + QPointF(190, 0));
    pot.lineTo(potTop + QPointF(150, 420));
    pot.lineTo(potTop + QPointF(-150, 420));
    pot.closeSubpath();
    QLinearGradient pg(potTop + QPointF(-190, 0), potTop + QPointF(190, 0));
    pg.setColorAt(0.0, rgb(200, 112, 70));
    pg.setColorAt(0.4, rgb(178, 92, 56));
    pg.setColorAt(1.0, rgb(110, 52, 30));
    p.setPen(Qt::NoPen);
    p.setBrush(pg);
    p.drawPath(pot);
    QLinearGradient rg(potTop + QPointF(-205, 0), potTop + QPointF(205, 0));
    rg.setColorAt(0.0, rgb(212, 124, 80));
    rg.setColorAt(1.0, rgb(120, 58, 34));
    p.setBrush(rg);
    p.drawRoundedRect(QRectF(potTop + QPointF(-205, -10), QSizeF(410, 70)), 8, 8);
    p.setBrush(QColor(60, 25, 10, 90));
    p.drawRect(QRectF(potTop + QPointF(-190, 60), QSizeF(380, 14)));
    p.end();
    return layer;
}

}  // namespace

namespace {

const BackdropLook kGreenLook{{0.30, 0.72, 0.33}, 0.42, 0.38, 0.35, 0.42, 1001u};
const BackdropLook kBlueLook{{0.15, 0.36, 0.80}, 0.58, 0.35, -0.4, 0.30, 1002u};

// The empty backdrop as a frame of its own: the same cloth and light, the sensor's noise of
// another exposure.
QImage plateOf(const BackdropLook& look, int w, int h, uint32_t seed) {
    QImage nobody(w, h, QImage::Format_ARGB32_Premultiplied);
    nobody.fill(Qt::transparent);
    return composeShot(paintBackdrop(w, h, look), nobody, 0, 0, 0.0, seed);
}

}  // namespace

QImage greenScreenShot() {
    const int w = 2000;
    const int h = 1500;
    const QImage backdrop = paintBackdrop(w, h, kGreenLook);
    Rng rng(0x6D61747461726131ull);
    const QImage subject = paintWoman(w, h, rng);
    return composeShot(backdrop, subject, 70, 25, 0.35, 2001u);
}

QImage greenScreenPlate() {
    return plateOf(kGreenLook, 2000, 1500, 3001u);
}

QImage blueScreenShot() {
    const int w = 1500;
    const int h = 2000;
    const QImage backdrop = paintBackdrop(w, h, kBlueLook);
    Rng rng(0x6D61747461726132ull);
    const QImage subject = paintManWithPlant(w, h, rng);
    return composeShot(backdrop, subject, -60, 30, 0.3, 2002u);
}

QImage blueScreenPlate() {
    return plateOf(kBlueLook, 1500, 2000, 3002u);
}

}  // namespace samplegen
