#include "imageops.h"

#include <algorithm>
#include <cstdint>

namespace samplegen {

namespace {

// One running-sum pass over `count` values spaced by `stride`, with the edge values repeated.
template <typename T, typename Get, typename Put>
void blurLine(int count, int radius, Get get, Put put, std::vector<T>& tmp) {
    tmp.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        tmp[size_t(i)] = get(i);
    }
    const double norm = 1.0 / double(2 * radius + 1);
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        sum += double(tmp[size_t(std::clamp(i, 0, count - 1))]);
    }
    for (int i = 0; i < count; ++i) {
        put(i, sum * norm);
        sum += double(tmp[size_t(std::min(i + radius + 1, count - 1))]);
        sum -= double(tmp[size_t(std::max(i - radius, 0))]);
    }
}

}  // namespace

void boxBlur(QImage& image, int radius, int passes) {
    if (radius <= 0 || image.isNull()) {
        return;
    }
    const int w = image.width();
    const int h = image.height();
    std::vector<double> tmp;
    for (int pass = 0; pass < passes; ++pass) {
        for (int shift = 0; shift < 32; shift += 8) {
            for (int y = 0; y < h; ++y) {
                auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
                blurLine<double>(
                    w, radius, [&](int i) { return double((line[i] >> shift) & 0xFFu); },
                    [&](int i, double v) {
                        const uint32_t b = uint32_t(v + 0.5);
                        line[i] = (line[i] & ~(0xFFu << shift)) | (std::min(b, 255u) << shift);
                    },
                    tmp);
            }
            for (int x = 0; x < w; ++x) {
                blurLine<double>(
                    h, radius,
                    [&](int i) {
                        const auto* line =
                            reinterpret_cast<const uint32_t*>(image.constScanLine(i));
                        return double((line[x] >> shift) & 0xFFu);
                    },
                    [&](int i, double v) {
                        auto* line = reinterpret_cast<uint32_t*>(image.scanLine(i));
                        const uint32_t b = uint32_t(v + 0.5);
                        line[x] = (line[x] & ~(0xFFu << shift)) | (std::min(b, 255u) << shift);
                    },
                    tmp);
            }
        }
    }
}

void blurPlane(std::vector<float>& plane, int width, int height, int radius, int passes) {
    if (radius <= 0) {
        return;
    }
    std::vector<float> tmp;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            float* row = plane.data() + size_t(y) * size_t(width);
            blurLine<float>(
                width, radius, [&](int i) { return row[i]; },
                [&](int i, double v) { row[i] = float(v); }, tmp);
        }
        for (int x = 0; x < width; ++x) {
            blurLine<float>(
                height, radius, [&](int i) { return plane[size_t(i) * size_t(width) + size_t(x)]; },
                [&](int i, double v) { plane[size_t(i) * size_t(width) + size_t(x)] = float(v); },
                tmp);
        }
    }
}

std::vector<float> blurredAlpha(const QImage& image, int radius, int passes) {
    const int w = image.width();
    const int h = image.height();
    std::vector<float> plane(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        float* row = plane.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            row[x] = float(line[x] >> 24) * (1.0f / 255.0f);
        }
    }
    blurPlane(plane, w, h, radius, passes);
    return plane;
}

}  // namespace samplegen
