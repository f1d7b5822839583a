// Studio set-ups with a backdrop plate, for the tests: a creased cloth with a texture, a hot
// spot and a fall-off, seen by a camera that may move between the plate and the shot, under
// light whose exposure and white balance drift, each frame with its own noise.
#pragma once

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace plates {

constexpr int kW = 320, kH = 240;  // the frame

struct Cloth {
    QRgb colour = qRgb(60, 170, 70);
    double hotX = 0.3, hotY = 0.4;  // where the hot spot is, of the frame
    unsigned texture = 7;           // seed of the weave
};

inline unsigned hash(unsigned x, unsigned y, unsigned seed) {
    unsigned h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// The cloth's light at a point of the set (not of the frame): weave, creases, hot spot.
inline double lightAt(const Cloth& c, int x, int y, QSize size) {
    const double weave = double(hash(unsigned(x + 64), unsigned(y + 64), c.texture) % 17) - 8.0;
    const double crease = 10.0 * std::sin(x * 0.11 + y * 0.03) + 6.0 * std::sin(y * 0.2);
    const double dx = x / double(size.width()) - c.hotX, dy = y / double(size.height()) - c.hotY;
    const double hot = 0.3 * std::exp(-(dx * dx + dy * dy) / 0.03);
    const double falloff = 0.85 + 0.15 * (1.0 - x / double(size.width()));
    return (falloff + hot) * (1.0 + (weave + crease) / 255.0);
}

// What the camera sees of the set from (camX, camY), with gains, noise, and whatever `over`
// lays on top (taking the frame pixel and the backdrop's colour there).
inline QImage frame(const Cloth& c, int camX, int camY, std::array<double, 3> gain,
                    unsigned noiseSeed, const std::function<QRgb(int, int, QRgb)>& over = nullptr,
                    QSize size = QSize(kW, kH)) {
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double l = lightAt(c, x + camX, y + camY, size);
            const int n = int(hash(unsigned(x), unsigned(y), noiseSeed) % 7) - 3;
            auto ch = [&](int v, int i) {
                return std::clamp(int(std::lround(v * l * gain[size_t(i)])) + n, 0, 255);
            };
            QRgb px = qRgb(ch(qRed(c.colour), 0), ch(qGreen(c.colour), 1), ch(qBlue(c.colour), 2));
            if (over)
                px = over(x, y, px);
            row[x] = px;
        }
    }
    return img;
}

const Cloth kGreen{}, kBlue{qRgb(40, 70, 190), 0.6, 0.5, 11};

// The green set's backdrop plate: the empty set from (0, 0).
inline QImage plate() {
    return frame(kGreen, 0, 0, {1, 1, 1}, 1);
}

// A shot of the green set from (2, 1), a little off the plate's (0, 0): a subject in
// kSubject and, beside it, its shadow in kShadow, which fades in over kPenumbra pixels from its
// rim to three fifths of the light, as a shadow does.
const QRect kSubject(40, 40, 60, 160), kShadow(130, 60, 120, 120);
constexpr int kPenumbra = 40;
inline QImage shotWithShadow(std::array<double, 3> gain = {1, 1, 1}) {
    return frame(kGreen, 2, 1, gain, 2, [](int x, int y, QRgb px) {
        if (kSubject.contains(x, y))
            return qRgb(180, 130, 100);
        if (!kShadow.contains(x, y))
            return px;
        const int inside = std::min(
            {x - kShadow.left(), kShadow.right() - x, y - kShadow.top(), kShadow.bottom() - y});
        const double light = 1.0 - 0.4 * std::min(1.0, double(inside) / kPenumbra);
        return qRgb(int(qRed(px) * light + 0.5), int(qGreen(px) * light + 0.5),
                    int(qBlue(px) * light + 0.5));
    });
}

}  // namespace plates
