#include "formats/exifblock.h"

#include <QColorSpace>
#include <cmath>

namespace formats {

namespace {

constexpr quint16 kMake = 0x010F, kModel = 0x0110, kXResolution = 0x011A, kYResolution = 0x011B,
                  kResolutionUnit = 0x0128, kDateTime = 0x0132, kYCbCrPositioning = 0x0213,
                  kExifIfd = 0x8769, kExifVersion = 0x9000, kDateTimeOriginal = 0x9003,
                  kDateTimeDigitized = 0x9004, kComponents = 0x9101, kFlashpixVersion = 0xA000,
                  kColorSpace = 0xA001, kPixelX = 0xA002, kPixelY = 0xA003;
constexpr quint16 kSrgb = 1, kUncalibrated = 0xFFFF, kInch = 2, kCentred = 1;

QList<TiffEntry> exifEntries(const CameraInfo& camera, const ExifImage& image) {
    QList<TiffEntry> out = {undefinedEntry(kExifVersion, "0232"),
                            undefinedEntry(kFlashpixVersion, "0100"),
                            shortEntry(kColorSpace, {image.srgb ? kSrgb : kUncalibrated})};
    if (image.size.isValid())
        out << longEntry(kPixelX, {quint32(image.size.width())})
            << longEntry(kPixelY, {quint32(image.size.height())});
    if (image.jpeg)
        out << undefinedEntry(kComponents, QByteArray("\1\2\3\0", 4));  // Y, Cb, Cr
    if (!camera.dateTimeOriginal.isEmpty())
        out << asciiEntry(kDateTimeOriginal, camera.dateTimeOriginal);
    if (!camera.dateTimeDigitized.isEmpty())
        out << asciiEntry(kDateTimeDigitized, camera.dateTimeDigitized);
    return out;
}

}  // namespace

int dotsPerInch(int dotsPerMetre) {
    return dotsPerMetre > 0 ? int(std::lround(dotsPerMetre * 0.0254)) : 72;
}

ExifImage exifImageOf(const QImage& image, bool jpeg, bool withSize) {
    const QColorSpace cs = image.colorSpace();
    return {withSize ? image.size() : QSize(),
            !cs.isValid() || cs == QColorSpace(QColorSpace::SRgb),
            dotsPerInch(image.dotsPerMeterX()), jpeg};
}

QList<TiffEntry> cameraEntries(const CameraInfo& camera) {
    QList<TiffEntry> out;
    if (!camera.make.isEmpty())
        out << asciiEntry(kMake, camera.make);
    if (!camera.model.isEmpty())
        out << asciiEntry(kModel, camera.model);
    if (!camera.dateTime.isEmpty())
        out << asciiEntry(kDateTime, camera.dateTime);
    return out;
}

QByteArray exifIfd(const CameraInfo& camera, const ExifImage& image, quint32 at) {
    return camera.isEmpty() ? QByteArray() : ifdBytes(exifEntries(camera, image), at);
}

QByteArray exifBlock(const CameraInfo& camera, const ExifImage& image) {
    if (camera.isEmpty())
        return QByteArray();
    QList<TiffEntry> ifd0 = cameraEntries(camera);
    ifd0 << rationalEntry(kXResolution, quint32(image.dpi), 1)
         << rationalEntry(kYResolution, quint32(image.dpi), 1)
         << shortEntry(kResolutionUnit, {kInch});
    if (image.jpeg)
        ifd0 << shortEntry(kYCbCrPositioning, {kCentred});
    ifd0 << longEntry(kExifIfd, {0});
    const quint32 exifAt = 8 + ifdSize(ifd0);
    ifd0.last() = longEntry(kExifIfd, {exifAt});
    return QByteArray("II*\0\x08\0\0\0", 8) + ifdBytes(ifd0, 8) + exifIfd(camera, image, exifAt);
}

}  // namespace formats
