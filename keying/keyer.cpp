#include "keying/keyer.h"

#include <algorithm>

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

KeyNotes keyImage(QImage& img, QRgb key, const KeySettings& s) {
    const Keyer k = keyerFor(s.magic);
    if (!k || img.isNull() || img.width() <= 0 || img.height() <= 0) {
        return {};
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

}  // namespace keying
