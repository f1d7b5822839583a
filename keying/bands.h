// Splitting pixel loops into bands of rows for the global thread pool.
#pragma once

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <vector>

namespace keying::detail {

// Below this many pixels a single thread is faster than handing out work.
constexpr qint64 kParallelPixels = 1 << 17;

// How many bands `items` rows of `pixelsPerItem` pixels are cut into.
inline int bandCount(int items, qint64 pixelsPerItem) {
    if (items <= 0) {
        return 0;
    }
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    if (threads <= 1 || qint64(items) * pixelsPerItem < kParallelPixels) {
        return 1;
    }
    // Several bands per thread even out rows of uneven cost.
    return std::min(items, threads * 8);
}

// Calls f(band, first, last) for `bands` contiguous ranges covering [0, items).
template <class F>
void runBands(int items, int bands, F&& f) {
    if (bands <= 0) {
        return;
    }
    if (bands == 1) {
        f(0, 0, items);
        return;
    }
    std::vector<int> index(bands);
    for (int i = 0; i < bands; ++i) {
        index[i] = i;
    }
    QtConcurrent::blockingMap(index, [&](const int& b) {
        const int first = int(qint64(items) * b / bands);
        const int last = int(qint64(items) * (b + 1) / bands);
        f(b, first, last);
    });
}

// Runs rowFn(y0, y1) over all rows of a width x height image.
template <class F>
void forEachRowBand(int width, int height, F&& rowFn) {
    runBands(height, bandCount(height, width),
             [&](int, int first, int last) { rowFn(first, last); });
}

}  // namespace keying::detail
