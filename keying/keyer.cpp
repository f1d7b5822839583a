#include "keying/keyer.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "core/rows.h"

namespace keying {

QRgb keyColourOf(const QImage& img) {
    if (img.isNull() || img.width() <= 0 || img.height() <= 0) {
        return 0;
    }
    const int x = std::min(3, img.width() - 1);
    const int y = std::min(3, img.height() - 1);
    if (img.format() == QImage::Format_ARGB32) {
        return reinterpret_cast<const QRgb*>(img.constScanLine(y))[x];
    }
    // Convert just that pixel, so the key is what the keyers see after their conversion.
    const QImage one = img.copy(x, y, 1, 1).convertToFormat(QImage::Format_ARGB32);
    return reinterpret_cast<const QRgb*>(one.constScanLine(0))[0];
}

namespace {
constexpr Keyer kKeyers[10] = {maskOut,  maskOut3, maskOut4, maskOut5,  maskOut6,
                               maskOut7, maskOut8, maskOut9, maskOut10, maskOutSoft};
}  // namespace

Keyer keyerFor(int magic) {
    if (magic < 1 || magic > 10) {
        return nullptr;
    }
    return kKeyers[magic - 1];
}

namespace {
std::atomic<int> g_failWidth{0};
}  // namespace

KeyNotes keyImage(QImage& img, QRgb key, const KeySettings& s) {
    const Keyer k = keyerFor(s.magic);
    if (!k || img.isNull() || img.width() <= 0 || img.height() <= 0) {
        return {};
    }
    if (img.width() == g_failWidth.load(std::memory_order_relaxed)) {
        throw std::bad_alloc();
    }
    if (k == maskOutSoft) {
        return keySoft(img, s);
    }
    k(img, key, s);
    return {};
}

QString keyNotesText(const KeyNotes& notes) {
    return notes.noBackdrop
               ? QStringLiteral("no backdrop of the chosen colour found; nothing keyed")
               : QString();
}

qint64 keyerWorkingBytes(int magic, QSize size) {
    if (magic != 10 || size.isEmpty()) {
        return 0;
    }
    // Per band: four kept rows of three float channels; per thread in flight: five such rows,
    // three running sums and the block fields; the grid of backdrop cells is under a byte a pixel.
    const qint64 w = (qint64(size.width()) + 7) / 8 * 8, h = size.height();
    const qint64 bands = qint64(core::rowBands(int(h), w).size());
    const qint64 threads = std::max(1, QThreadPool::globalInstance()->maxThreadCount()) + 1;
    return bands * 4 * 3 * w * 4 + threads * (15 * w + 3 * (w + 4) + 16 * (w / 8)) * 4 + w * h;
}

void failKeyerBuffersAtWidth(int width) {
    g_failWidth = width;
}

}  // namespace keying
