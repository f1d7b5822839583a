// Arbitrary bytes through the whole road of a photo: the thumbnail reader (the camera's own
// thumbnail included) and the loader (from memory), the keying
// frame, the composite builder and the PNG encoder. The settings come from the input too, so
// the fuzzer reaches every keyer and layout.
#include <QBuffer>
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>

#include "compose/composite.h"
#include "core/photofile.h"
#include "keying/photoframe.h"
#include "png/pngencode.h"

namespace {

// Small enough that one input stays fast; the limit itself is part of what is tried.
constexpr qint64 kFuzzMaxPixels = 4'000'000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);  // image plugins are found through it
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // The lists' road first: the camera's own EXIF thumbnail, or a decode at a fraction.
    readThumbnail(&buffer, QSize(1 + data[0] % 160, 1 + data[1] % 120), kFuzzMaxPixels);
    buffer.seek(0);
    const PhotoLoad load = readPhoto(&buffer, kFuzzMaxPixels);
    if (load.image.isNull())
        return 0;

    const std::uint8_t a = data[size - 1], b = data[size - 2], c = data[size - 3];
    keying::KeySettings key;
    key.magic = 1 + a % 10;
    key.fine = int(b % 201) - 100;
    key.spill = c % 41;
    key.correctSpill = (a & 0x80) != 0;
    key.backdrop = (b & 0x80) ? keying::Backdrop::Blue : keying::Backdrop::Green;
    QImage keyed = keying::turnPhoto(load.image, 90 * (c % 4));
    keying::keyTurnedPhoto(keyed, key);

    compose::ComposeSettings settings;
    settings.fgSize = 5 + a % 196;
    settings.canvas = (c & 0x40) ? compose::Canvas::Background : compose::Canvas::Foreground;
    settings.align = (c & 0x80) ? compose::Align::TopLeft : compose::Align::Center;
    settings.bgScale =
        (b & 0x40) ? compose::BackgroundScale::Actual : compose::BackgroundScale::Fit;
    const QImage background = compose::backgroundLayer(load.image.mirrored());
    const QImage composite = compose::createComposite(background, keyed, int(b) - 128, int(c) - 128,
                                                      (a & 0x40) != 0, settings, nullptr);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    png::encodePng(composite.isNull() ? keyed : composite, &out, a % 101, nullptr);
    return 0;
}
