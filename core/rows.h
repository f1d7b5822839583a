// The one rule for splitting pixel work into bands of rows across the global thread pool,
// used by the keyers, the composite builder and the PNG encoder alike.
#pragma once

#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <vector>

namespace core {

// Below this many pixels one thread is faster than handing out work.
constexpr qint64 kParallelPixels = qint64(1) << 17;
// Several bands per thread even out rows of uneven cost.
constexpr int kBandsPerThread = 8;

struct RowBand {
    int first;  // first row
    int last;   // one past the last row
};

// `rows` rows of `pixelsPerRow` pixels each, cut into contiguous bands: one band when the work
// is small or the pool has one thread, else up to kBandsPerThread per pool thread.
inline std::vector<RowBand> rowBands(int rows, qint64 pixelsPerRow) {
    if (rows <= 0)
        return {};
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    const int bands = threads <= 1 || qint64(rows) * pixelsPerRow < kParallelPixels
                          ? 1
                          : std::min(rows, threads * kBandsPerThread);
    std::vector<RowBand> out(static_cast<size_t>(bands));
    for (int b = 0; b < bands; ++b)
        out[size_t(b)] = {int(qint64(rows) * b / bands), int(qint64(rows) * (b + 1) / bands)};
    return out;
}

// Calls work(index, band) for every band and returns when all are done; a single band runs on
// the calling thread. The calling thread takes bands too, so that photos worked on at once on
// threads of their own share the one pool of as many threads as cores: a photo alone gets every
// core, several together never hold more than the pool plus themselves.
template <class F>
void runBands(const std::vector<RowBand>& bands, F&& work) {
    if (bands.size() == 1) {
        work(size_t(0), bands[0]);
        return;
    }
    const RowBand* first = bands.data();
    QtConcurrent::blockingMap(bands,
                              [&work, first](const RowBand& b) { work(size_t(&b - first), b); });
}

// Calls work(first, last) for every band of rowBands(rows, pixelsPerRow).
template <class F>
void forEachRowBand(int rows, qint64 pixelsPerRow, F&& work) {
    runBands(rowBands(rows, pixelsPerRow),
             [&work](size_t, const RowBand& b) { work(b.first, b.last); });
}

}  // namespace core
