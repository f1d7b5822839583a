#include "backgrounds.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

#include "noise.h"

namespace samplegen {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Col {
    double r, g, b;
};

Col lerp(const Col& a, const Col& b, double t) {
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}
Col scale(const Col& c, double f) {
    return {c.r * f, c.g * f, c.b * f};
}
Col add(const Col& a, const Col& b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}

uint32_t pack(const Col& c) {
    return 0xFF000000u | uint32_t(toByte(c.r) << 16) | uint32_t(toByte(c.g) << 8) |
           uint32_t(toByte(c.b));
}
Col unpack(uint32_t p) {
    return {((p >> 16) & 0xFF) / 255.0, ((p >> 8) & 0xFF) / 255.0, (p & 0xFF) / 255.0};
}

// Film-like grain, kept very small so JPEG files stay compact.
Col grain(const Col& c, int x, int y, uint32_t seed, double amount) {
    const double n = amount * pixelNoise(x, y, seed);
    return {c.r + n, c.g + n, c.b + n};
}

// Ridge height in [0, 1] along x, for mountains and horizons; the power sharpens peaks.
double ridge(double x, uint32_t seed, int octaves) {
    const double n = clamp01((fbm(x, 0.5, octaves, seed, 0.55) - 0.22) / 0.56);
    return std::pow(n, 1.4);
}

QColor qc(const Col& c, int alpha = 255) {
    return QColor(toByte(c.r), toByte(c.g), toByte(c.b), alpha);
}

}  // namespace

QImage sky() {
    const int w = 2400;
    const int h = 1600;
    QImage img(w, h, QImage::Format_RGB32);
    const Col top{0.13, 0.22, 0.46};
    const Col mid{0.52, 0.47, 0.65};
    const Col low{0.98, 0.62, 0.38};
    const Col horizon{1.0, 0.80, 0.52};
    const double sunX = 0.68 * w;
    const double sunY = 0.86 * h;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        const double t = double(y) / h;
        Col base = t < 0.5 ? lerp(top, mid, smoothstep(0.0, 0.5, t))
                           : (t < 0.8 ? lerp(mid, low, smoothstep(0.5, 0.8, t))
                                      : lerp(low, horizon, smoothstep(0.8, 0.9, t)));
        for (int x = 0; x < w; ++x) {
            const double dx = (x - sunX) / w;
            const double dy = (y - sunY) / w;
            const double d = std::sqrt(dx * dx + dy * dy);
            Col c = add(base, scale(Col{1.0, 0.75, 0.45}, 0.55 * std::exp(-d / 0.09)));
            c = add(c, scale(Col{1.0, 0.95, 0.8}, 0.6 * std::exp(-d / 0.015)));

            // Clouds: stretched, warped noise, densest in a band across the middle.
            const double wx = x / 900.0 + 0.6 * fbm(x / 600.0, y / 300.0, 3, 71u);
            const double wy = y / 240.0 + 0.4 * fbm(x / 500.0 + 3.0, y / 250.0, 3, 72u);
            const double dens = fbm(wx, wy, 6, 73u);
            const double band = smoothstep(0.05, 0.3, t) * (1.0 - smoothstep(0.72, 0.86, t));
            const double cover = smoothstep(0.48, 0.68, dens) * band;
            if (cover > 0.0) {
                // Thick parts are the dark undersides; thin edges catch the low sun.
                const double thick = smoothstep(0.55, 0.85, dens);
                const double sunLit = std::exp(-d / 0.35);
                Col lit = lerp(Col{0.95, 0.58, 0.52}, Col{1.0, 0.82, 0.58}, sunLit);
                Col dark = lerp(Col{0.30, 0.26, 0.40}, Col{0.55, 0.35, 0.38}, sunLit);
                Col cloud = lerp(lit, dark, thick * 0.85);
                c = lerp(c, cloud, cover * 0.95);
            }
            // Land on the horizon with a fringe of trees.
            const double land = h * (0.905 - 0.03 * ridge(x / 700.0, 74u, 4)) -
                                h * 0.03 * std::pow(valueNoise(x / 22.0, 1.5, 75u), 2.0) *
                                    smoothstep(0.3, 0.7, valueNoise(x / 160.0, 4.5, 77u));
            if (y > land) {
                const double k = smoothstep(land, land + 1.5, y + 0.5);
                const Col ground = lerp(Col{0.12, 0.07, 0.09}, Col{0.04, 0.03, 0.05},
                                        clamp01((y - land) / (h * 0.08)));
                c = lerp(c, ground, k);
            }
            line[x] = pack(grain(c, x, y, 76u, 0.004));
        }
    }
    return img;
}

QImage landscape() {
    const int w = 3000;
    const int h = 1500;
    const int shore = int(0.60 * h);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < shore; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        const double t = double(y) / shore;
        const Col skyCol = lerp(Col{0.30, 0.50, 0.82}, Col{0.80, 0.87, 0.94}, std::pow(t, 1.4));
        for (int x = 0; x < w; ++x) {
            Col c = skyCol;
            const double dens = fbm(x / 800.0, y / 200.0, 5, 81u);
            const double cover = smoothstep(0.55, 0.75, dens) * (1.0 - t * 0.6);
            c = lerp(c, lerp(Col{1.0, 1.0, 1.0}, Col{0.78, 0.80, 0.86}, smoothstep(0.6, 0.9, dens)),
                     cover * 0.9);

            // Far range: hazy blue rock, snow above a ragged line.
            const double r0 = ridge(x / 700.0, 82u, 6);
            const double far = shore - h * (0.12 + 0.30 * r0);
            if (y > far) {
                const double depth = (y - far) / (shore - far);
                Col rock = lerp(Col{0.42, 0.48, 0.62}, Col{0.66, 0.72, 0.82}, depth);
                const double tex = fbm(x / 90.0, y / 45.0, 4, 83u);
                // Sunlit and shaded faces as broad patches.
                const double lit = 0.78 + 0.45 * fbm(x / 260.0, y / 110.0, 4, 92u);
                rock = scale(rock, (0.88 + 0.2 * tex) * mix(lit, 1.0, depth));
                const double snowLine = shore - h * 0.30 + h * 0.05 * (tex - 0.5);
                if (y < snowLine) {
                    rock = lerp(rock, scale(Col{0.94, 0.96, 1.0}, mix(lit, 1.0, 0.4)),
                                smoothstep(0.35, 0.6, tex + 0.15 * (snowLine - y) / h * 10.0));
                }
                c = lerp(c, rock, smoothstep(far, far + 1.5, y + 0.5));
            }
            // Near hills: forested, darker and greener.
            const double nearRidge = shore - h * (0.05 + 0.10 * ridge(x / 650.0 + 40.0, 84u, 6));
            if (y > nearRidge) {
                const double tex = fbm(x / 40.0, y / 30.0, 4, 85u);
                Col hill = lerp(Col{0.22, 0.36, 0.30}, Col{0.14, 0.26, 0.16},
                                (y - nearRidge) / (shore - nearRidge));
                hill = scale(hill, 0.8 + 0.4 * tex);
                c = lerp(c, hill, smoothstep(nearRidge, nearRidge + 1.5, y + 0.5));
            }
            line[x] = pack(c);
        }
    }

    // Conifers along the far shore.
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        Rng rng(0x6C616E64ull);
        for (int i = 0; i < 260; ++i) {
            const double x = rng.range(-20, w + 20);
            const double hgt = rng.range(25, 110) * (rng.uniform() < 0.15 ? 1.6 : 1.0);
            const double wid = hgt * rng.range(0.28, 0.38);
            const double base = shore + 2;
            const double tone = rng.range(0.7, 1.2);
            QPainterPath tree;
            const int tiers = 5;
            for (int k = 0; k < tiers; ++k) {
                const double top = base - hgt * (1.0 - double(k) / tiers) - hgt * 0.08;
                const double bot = base - hgt * (0.78 - double(k) * 0.78 / tiers) * 0.9;
                const double half = wid * (0.35 + 0.65 * (k + 1.0) / tiers) * 0.5;
                QPainterPath tier(QPointF(x, top));
                tier.lineTo(x + half, bot);
                tier.lineTo(x - half, bot);
                tier.closeSubpath();
                tree = tree.united(tier);
            }
            QLinearGradient g(QPointF(x - wid / 2, 0), QPointF(x + wid / 2, 0));
            g.setColorAt(0.0, qc(scale(Col{0.16, 0.30, 0.18}, tone)));
            g.setColorAt(1.0, qc(scale(Col{0.06, 0.14, 0.08}, tone)));
            p.setPen(Qt::NoPen);
            p.setBrush(g);
            p.drawPath(tree);
        }
        // A strip of shore below the trees.
        QLinearGradient sg(QPointF(0, shore - 4), QPointF(0, shore + 4));
        sg.setColorAt(0.0, qc(Col{0.20, 0.24, 0.14}));
        sg.setColorAt(1.0, qc(Col{0.30, 0.30, 0.20}));
        p.setBrush(sg);
        p.drawRect(QRectF(0, shore - 3, w, 6));
    }

    // The lake mirrors everything above the shore line, broken up by ripples.
    const int beach = int(0.86 * h);
    for (int y = shore; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        const double dist = double(y - shore);
        const int ry = std::clamp(shore - 1 - int(dist), 0, shore - 1);
        const auto* src = reinterpret_cast<const uint32_t*>(img.constScanLine(ry));
        const double depth = dist / (h - shore);
        for (int x = 0; x < w; ++x) {
            Col c;
            const double beachEdge = beach + h * 0.025 * (fbm(x / 500.0, 1.0, 4, 86u) - 0.5);
            if (y < beachEdge) {
                const double amp = 2.0 + 18.0 * depth;
                const int dx = int(std::lround(
                    amp * (valueNoise(x / 60.0, dist / (2.0 + 10.0 * depth), 87u) - 0.5)));
                Col m = unpack(src[std::clamp(x + dx, 0, w - 1)]);
                const Col water = lerp(Col{0.25, 0.38, 0.48}, Col{0.08, 0.18, 0.22}, depth);
                c = lerp(m, water, 0.25 + 0.35 * depth);
                // Horizontal glints.
                const double glint = valueNoise(x / 90.0, dist / (1.5 + 5.0 * depth), 88u);
                c = add(c, scale(Col{1, 1, 1}, 0.08 * smoothstep(0.75, 0.95, glint)));
                // Light line where water meets the beach.
                c = lerp(c, Col{0.75, 0.78, 0.74}, 0.5 * smoothstep(beachEdge - 6, beachEdge, y));
            } else {
                // Pebbly beach and grass in the foreground.
                const double tex = fbm(x / 18.0, y / 9.0, 4, 89u);
                const double grass =
                    smoothstep(0.93, 0.99, double(y) / h + 0.04 * fbm(x / 200.0, 2.0, 3, 90u));
                Col sand = scale(Col{0.62, 0.56, 0.44}, 0.8 + 0.35 * tex);
                Col turf = scale(Col{0.22, 0.34, 0.12}, 0.7 + 0.6 * tex);
                c = lerp(sand, turf, grass);
            }
            line[x] = pack(grain(c, x, y, 91u, 0.004));
        }
    }
    return img;
}

QImage beach() {
    const int w = 1400;
    const int h = 2100;
    const double horizon = 0.42 * h;
    const double surf = 0.63 * h;
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            Col c;
            if (y < horizon) {
                const double t = y / horizon;
                c = lerp(Col{0.22, 0.46, 0.80}, Col{0.80, 0.89, 0.97}, std::pow(t, 1.6));
                const double dens = fbm(x / 700.0, y / 120.0, 5, 101u);
                const double cover = smoothstep(0.55, 0.78, dens) * smoothstep(0.05, 0.4, t);
                c = lerp(c, Col{1.0, 1.0, 1.0}, cover * 0.85);
            } else {
                const double edge = surf + h * 0.02 * (fbm(x / 260.0, 3.0, 4, 102u) - 0.5);
                if (y < edge) {
                    // Perspective: wave bands get closer together towards the horizon.
                    const double d = (y - horizon) / (surf - horizon);
                    const double z = 1.0 / (d + 0.04);
                    Col sea = lerp(Col{0.05, 0.26, 0.42}, Col{0.12, 0.55, 0.60}, std::pow(d, 0.8));
                    // Swell lines parallel to the shore, broken up by noise.
                    const double phase = z * 2.2 + 2.5 * fbm(x / 400.0, z * 0.3, 3, 103u);
                    const double swell = 0.5 + 0.5 * std::sin(phase * 2.0 * kPi);
                    const double chop = fbm(x / (60.0 + 200.0 * d), z * 4.0, 3, 108u);
                    sea = scale(sea, 0.88 + 0.16 * swell + 0.12 * (chop - 0.5));
                    const double crest = smoothstep(0.85, 0.98, swell) *
                                         smoothstep(0.5, 0.7, chop) * smoothstep(0.3, 1.0, d);
                    sea = lerp(sea, Col{0.85, 0.92, 0.92}, crest * 0.7);
                    // Haze at the horizon.
                    c = lerp(sea, Col{0.70, 0.80, 0.88}, 0.5 * std::exp(-d * 25.0));
                    // Foam just before the sand.
                    const double foam = smoothstep(edge - 40.0, edge - 4.0, y) *
                                        smoothstep(0.3, 0.6, fbm(x / 30.0, y / 8.0, 4, 104u));
                    c = lerp(c, Col{0.95, 0.97, 0.96}, foam);
                } else {
                    const double tex = fbm(x / 14.0, y / 10.0, 3, 105u);
                    const double wet = 1.0 - smoothstep(edge, edge + h * 0.08, y);
                    Col sand = lerp(Col{0.88, 0.78, 0.60}, Col{0.58, 0.50, 0.40}, wet);
                    // The wet sand reflects a little sky.
                    sand = lerp(sand, Col{0.65, 0.74, 0.82}, 0.25 * wet * wet);
                    sand = scale(sand, 0.93 + 0.12 * tex);
                    // Gentle ripples in the dry sand.
                    const double rip = valueNoise(x / 120.0, y / 14.0, 106u);
                    c = scale(sand, 0.97 + 0.05 * rip * (1.0 - wet));
                }
            }
            line[x] = pack(grain(c, x, y, 107u, 0.004));
        }
    }
    return img;
}

QImage interior() {
    const int w = 1600;
    const int h = 1200;
    const double floorY = 790;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    // Wall, brightest beside the window.
    QLinearGradient wall(QPointF(0, 0), QPointF(w, 0));
    wall.setColorAt(0.0, qc(Col{0.80, 0.74, 0.64}));
    wall.setColorAt(0.35, qc(Col{0.88, 0.82, 0.71}));
    wall.setColorAt(1.0, qc(Col{0.58, 0.52, 0.45}));
    p.setBrush(wall);
    p.drawRect(QRectF(0, 0, w, floorY));
    QLinearGradient ceil(QPointF(0, 0), QPointF(0, 260));
    ceil.setColorAt(0.0, QColor(40, 30, 20, 90));
    ceil.setColorAt(1.0, QColor(40, 30, 20, 0));
    p.setBrush(ceil);
    p.drawRect(QRectF(0, 0, w, 260));

    // Window with a garden and a bright sky beyond.
    const QRectF win(170, 150, 440, 520);
    QRadialGradient glow(win.center(), 620);
    glow.setColorAt(0.0, QColor(255, 250, 235, 110));
    glow.setColorAt(1.0, QColor(255, 250, 235, 0));
    p.setBrush(glow);
    p.drawRect(QRectF(0, 0, w, floorY));
    QLinearGradient outside(win.topLeft(), win.bottomLeft());
    outside.setColorAt(0.0, qc(Col{0.72, 0.85, 0.98}));
    outside.setColorAt(0.6, qc(Col{0.93, 0.96, 1.0}));
    outside.setColorAt(1.0, qc(Col{0.85, 0.92, 0.85}));
    p.setBrush(outside);
    p.drawRect(win);
    {
        p.save();
        p.setClipRect(win);
        Rng rng(0x696E7465ull);
        for (int i = 0; i < 18; ++i) {
            const QPointF c(rng.range(win.left(), win.right()), win.bottom() - rng.range(0, 160));
            const double r = rng.range(50, 120);
            QRadialGradient g(c, r);
            g.setColorAt(0.0, qc(scale(Col{0.55, 0.72, 0.48}, rng.range(0.85, 1.1)), 200));
            g.setColorAt(1.0, qc(Col{0.60, 0.76, 0.52}, 0));
            p.setBrush(g);
            p.drawEllipse(c, r, r);
        }
        p.restore();
    }
    // Frame and glazing bars.
    const QColor frame = qc(Col{0.95, 0.94, 0.91});
    const QColor frameShade = qc(Col{0.70, 0.68, 0.64});
    QPainterPath frameOuter;
    frameOuter.addRect(win.adjusted(-26, -26, 26, 26));
    QPainterPath frameInner;
    frameInner.addRect(win);
    p.setBrush(frame);
    p.drawPath(frameOuter.subtracted(frameInner));
    p.setBrush(frameShade);
    p.drawRect(QRectF(win.right(), win.top() - 26, 26, win.height() + 52));
    p.setBrush(frame);
    p.drawRect(QRectF(win.center().x() - 9, win.top(), 18, win.height()));
    p.drawRect(QRectF(win.left(), win.center().y() - 9, win.width(), 18));
    p.setBrush(qc(Col{0.97, 0.96, 0.94}));
    p.drawRect(QRectF(win.left() - 50, win.bottom() + 26, win.width() + 100, 22));
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawRect(QRectF(win.left() - 50, win.bottom() + 48, win.width() + 100, 8));

    // Picture on the far wall.
    const QRectF pic(1020, 250, 380, 270);
    p.setBrush(QColor(0, 0, 0, 45));
    p.drawRect(pic.translated(14, 16).adjusted(-18, -18, 18, 18));
    p.setBrush(qc(Col{0.22, 0.17, 0.13}));
    p.drawRect(pic.adjusted(-18, -18, 18, 18));
    p.setBrush(qc(Col{0.93, 0.91, 0.87}));
    p.drawRect(pic.adjusted(-4, -4, 4, 4));
    {
        const QRectF art = pic.adjusted(30, 30, -30, -30);
        QLinearGradient g(art.topLeft(), art.bottomLeft());
        g.setColorAt(0.0, qc(Col{0.85, 0.60, 0.40}));
        g.setColorAt(0.55, qc(Col{0.90, 0.78, 0.55}));
        g.setColorAt(0.56, qc(Col{0.30, 0.42, 0.52}));
        g.setColorAt(1.0, qc(Col{0.18, 0.28, 0.36}));
        p.setBrush(g);
        p.drawRect(art);
        p.setBrush(qc(Col{0.98, 0.92, 0.75}));
        p.drawEllipse(QPointF(art.center().x() + 40, art.top() + 70), 26, 26);
    }

    // Skirting board.
    p.setBrush(qc(Col{0.92, 0.90, 0.86}));
    p.drawRect(QRectF(0, floorY - 34, w, 34));
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRect(QRectF(0, floorY - 34, w, 4));

    // Wooden floor: boards run towards a vanishing point above the middle.
    const QPointF vp(820, 260);
    Rng rng(0x666C6F72ull);
    const int boards = 26;
    for (int i = -boards; i <= boards; ++i) {
        const double x0 = vp.x() + i * 120.0 * (h - vp.y()) / (floorY - vp.y()) * 0.28;
        const double x1 = vp.x() + (i + 1) * 120.0 * (h - vp.y()) / (floorY - vp.y()) * 0.28;
        // Points at the floor line and at the bottom edge for both board edges.
        auto at = [&](double xb, double y) {
            const double t = (y - vp.y()) / (h - vp.y());
            return QPointF(vp.x() + (xb - vp.x()) * t, y);
        };
        QPolygonF board;
        board << at(x0, floorY) << at(x1, floorY) << at(x1, h) << at(x0, h);
        const double tone = rng.range(0.85, 1.12);
        QLinearGradient g(QPointF(0, floorY), QPointF(0, h));
        g.setColorAt(0.0, qc(scale(Col{0.45, 0.30, 0.18}, tone)));
        g.setColorAt(1.0, qc(scale(Col{0.58, 0.39, 0.23}, tone)));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawPolygon(board);
        // Grain.
        for (int k = 0; k < 5; ++k) {
            const double f = rng.range(0.1, 0.9);
            const double xb = x0 + (x1 - x0) * f;
            QPainterPath grainLine(at(xb, floorY));
            grainLine.quadTo(at(xb + rng.range(-8, 8), (floorY + h) / 2), at(xb, h));
            p.setPen(QPen(qc(scale(Col{0.32, 0.20, 0.11}, tone), 50), rng.range(1.0, 2.5)));
            p.setBrush(Qt::NoBrush);
            p.drawPath(grainLine);
        }
        // Board ends.
        double y = floorY + rng.range(20, 200);
        while (y < h) {
            p.setPen(QPen(QColor(40, 24, 12, 120), 1.5));
            p.drawLine(at(x0, y), at(x1, y));
            y += rng.range(150, 420) * (y - vp.y()) / (floorY - vp.y()) * 0.5;
        }
        p.setPen(QPen(QColor(40, 24, 12, 150), 2.0));
        p.drawLine(at(x0, floorY), at(x0, h));
    }
    p.setPen(Qt::NoPen);
    // Sunlight falling through the window onto the floor.
    {
        QPolygonF patch;
        patch << QPointF(330, floorY + 10) << QPointF(760, floorY + 10) << QPointF(1180, h)
              << QPointF(420, h);
        QLinearGradient g(QPointF(0, floorY), QPointF(0, h));
        g.setColorAt(0.0, QColor(255, 236, 200, 110));
        g.setColorAt(1.0, QColor(255, 236, 200, 40));
        p.setBrush(g);
        p.drawPolygon(patch);
        QPolygonF bar;
        bar << QPointF(535, floorY + 10) << QPointF(555, floorY + 10) << QPointF(810, h)
            << QPointF(770, h);
        p.setBrush(QColor(60, 40, 20, 60));
        p.drawPolygon(bar);
    }
    // Room falloff: darker towards the far right and the front.
    QLinearGradient dark(QPointF(0, 0), QPointF(w, 0));
    dark.setColorAt(0.0, QColor(0, 0, 0, 0));
    dark.setColorAt(0.6, QColor(0, 0, 0, 10));
    dark.setColorAt(1.0, QColor(0, 0, 0, 70));
    p.setBrush(dark);
    p.drawRect(QRectF(0, 0, w, h));
    QLinearGradient front(QPointF(0, floorY), QPointF(0, h));
    front.setColorAt(0.0, QColor(0, 0, 0, 0));
    front.setColorAt(1.0, QColor(0, 0, 0, 60));
    p.setBrush(front);
    p.drawRect(QRectF(0, floorY, w, h - floorY));
    p.end();
    return img;
}

QImage studioPaper() {
    const int w = 2000;
    const int h = 2000;
    QImage img(w, h, QImage::Format_RGB32);
    const double sweepTop = 0.60 * h;
    const double sweepBottom = 0.80 * h;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        // The curve of the sweep faces the light more than the wall and floor do.
        const double s = clamp01((y - sweepTop) / (sweepBottom - sweepTop));
        const double curve = std::sin(s * kPi) * 0.06;
        const double floorDark =
            y > sweepBottom ? -0.10 * (y - sweepBottom) / (h - sweepBottom) : 0.0;
        for (int x = 0; x < w; ++x) {
            const double dx = (x - 0.5 * w) / w;
            const double dy = (y - 0.48 * h) / h;
            double light = 0.80 - 0.55 * (dx * dx + dy * dy) + curve + floorDark;
            const double vx = dx * 2.0;
            const double vy = (double(y) / h - 0.5) * 2.0;
            const double r2 = vx * vx + vy * vy;
            light *= 1.0 - 0.12 * r2 * r2;
            const Col c{light * 0.97, light * 0.97, light};
            line[x] = pack(c);
        }
    }
    return img;
}

}  // namespace samplegen
