// Shared plumbing of the keyers: the format conversion and the banded row walk.
#pragma once

#include <QImage>

#include "core/rows.h"

// Pixel kernels get an AVX2 clone chosen at run time; the default clone runs anywhere.
// MATTORA_KEYING_NO_DISPATCH builds the default code only (to test it on AVX2 machines).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(MATTORA_KEYING_NO_DISPATCH)
#define KEYING_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define KEYING_KERNEL
#endif

namespace keying::detail {

// Converts to Format_ARGB32; false when there is nothing to key.
inline bool toArgb32(QImage& img) {
    img.convertTo(QImage::Format_ARGB32);
    return !img.isNull() && img.width() > 0 && img.height() > 0;
}

// Calls rowFn(row, width) for every row, rows split across the thread pool.
template <class F>
void forEachRow(QImage& img, F&& rowFn) {
    const int w = img.width(), h = img.height();
    uchar* bits = img.bits();  // detaches here, on the calling thread
    const qsizetype bpl = img.bytesPerLine();
    core::forEachRowBand(h, w, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            rowFn(reinterpret_cast<quint32*>(bits + y * bpl), w);
        }
    });
}

}  // namespace keying::detail
