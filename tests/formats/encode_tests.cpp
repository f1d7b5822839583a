// The JPEG and TIFF encoders report the failures of the device they write to.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>

#include "formats/jpegencode.h"
#include "formats/tiffencode.h"
#include "support/photos.h"

namespace {

// A device that takes `room` bytes and then refuses, like a disk that fills up.
class FillingDevice : public QBuffer {
public:
    explicit FillingDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 writeData(const char* data, qint64 len) override {
        if (pos() + len > m_room) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        return QBuffer::writeData(data, len);
    }

private:
    qint64 m_room;
};

}  // namespace

TEST(ResultEncoders, AFullDeviceIsReportedAtAnyPoint) {
    QImage img = photos::keyed(900, 700, 4).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    img.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    CameraInfo camera;
    camera.make = "Sony";
    camera.dateTimeOriginal = "2026:12:05 14:03:27";
    const auto jpeg = [&](QIODevice* d, QString* e) {
        return formats::encodeJpeg(img, camera, 92, d, e);
    };
    const auto tiff = [&](QIODevice* d, QString* e) {
        return formats::encodeTiff(img, camera, d, e);
    };
    for (const auto& encode : {std::function<bool(QIODevice*, QString*)>(jpeg), {tiff}}) {
        FillingDevice unlimited(qint64(1) << 40);
        QString error;
        ASSERT_TRUE(encode(&unlimited, &error)) << error.toStdString();
        const qint64 size = unlimited.size();
        // Full in the header, in the pixels, and at the very last bytes.
        for (const qint64 room : {qint64(10), size / 2, size - 1}) {
            FillingDevice device(room);
            error.clear();
            EXPECT_FALSE(encode(&device, &error)) << room;
            EXPECT_EQ(error, QStringLiteral("No space left on device")) << room;
        }
    }
}
