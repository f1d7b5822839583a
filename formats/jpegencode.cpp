#include "formats/jpegencode.h"

#include <QColorSpace>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "formats/exifblock.h"

namespace formats {

namespace {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "0xAARRGGBB words are read as B, G, R, X bytes");

constexpr size_t kBufferBytes = 64 * 1024;
constexpr int kRowsPerCall = 16;

// libjpeg's errors end the encode through longjmp, with its message kept; the destination
// writes to the device in blocks.
struct Encoder {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    std::jmp_buf failed;
    char message[JMSG_LENGTH_MAX] = {};
    QIODevice* out = nullptr;
    bool deviceFailed = false;
    JOCTET buffer[kBufferBytes];
};

Encoder* encoderOf(j_compress_ptr c) {
    return static_cast<Encoder*>(c->client_data);
}

void onError(j_common_ptr c) {
    Encoder* e = encoderOf(reinterpret_cast<j_compress_ptr>(c));
    (*c->err->format_message)(c, e->message);
    std::longjmp(e->failed, 1);
}

void initDestination(j_compress_ptr c) {
    Encoder* e = encoderOf(c);
    c->dest->next_output_byte = e->buffer;
    c->dest->free_in_buffer = kBufferBytes;
}

bool flushTo(Encoder* e, size_t n) {
    if (e->out->write(reinterpret_cast<const char*>(e->buffer), qint64(n)) == qint64(n))
        return true;
    e->deviceFailed = true;
    return false;
}

boolean emptyBuffer(j_compress_ptr c) {
    Encoder* e = encoderOf(c);
    if (!flushTo(e, kBufferBytes))
        std::longjmp(e->failed, 1);
    initDestination(c);
    return TRUE;
}

void termDestination(j_compress_ptr c) {
    Encoder* e = encoderOf(c);
    if (!flushTo(e, kBufferBytes - c->dest->free_in_buffer))
        std::longjmp(e->failed, 1);
}

// Everything between setjmp and the end of libjpeg's work: no C++ object with a destructor
// lives here, as a longjmp would skip it.
bool run(Encoder* e, const QImage& image, int quality, const QByteArray& exif,
         const QByteArray& profile, const QByteArrayList& comments) {
    jpeg_compress_struct& c = e->cinfo;
    c.err = jpeg_std_error(&e->errors);
    e->errors.error_exit = onError;
    if (setjmp(e->failed)) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    c.client_data = e;
    e->destination.init_destination = initDestination;
    e->destination.empty_output_buffer = emptyBuffer;
    e->destination.term_destination = termDestination;
    c.dest = &e->destination;
    c.image_width = JDIMENSION(image.width());
    c.image_height = JDIMENSION(image.height());
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (quality >= kFullChromaQuality) {
        for (int i = 0; i < c.num_components; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    }
    if (image.dotsPerMeterX() > 0) {
        c.density_unit = 1;  // dots per inch
        c.X_density = c.Y_density = UINT16(dotsPerInch(image.dotsPerMeterX()));
    }
    jpeg_start_compress(&c, TRUE);
    if (!exif.isEmpty())
        jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.constData()),
                          unsigned(exif.size()));
    if (!profile.isEmpty())
        jpeg_write_icc_profile(&c, reinterpret_cast<const JOCTET*>(profile.constData()),
                               unsigned(profile.size()));
    for (const QByteArray& comment : comments)
        jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.constData()),
                          unsigned(comment.size()));
    JSAMPROW rows[kRowsPerCall];
    while (c.next_scanline < c.image_height) {
        const int n = int(std::min<JDIMENSION>(kRowsPerCall, c.image_height - c.next_scanline));
        for (int i = 0; i < n; ++i)
            rows[i] = const_cast<JSAMPROW>(image.constScanLine(int(c.next_scanline) + i));
        jpeg_write_scanlines(&c, rows, JDIMENSION(n));
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

}  // namespace

bool encodeJpeg(const QImage& image, const CameraInfo& camera, int quality, QIODevice* out,
                QString* error) {
    QString why;
    if (!error)
        error = &why;
    if (image.isNull()) {
        *error = QStringLiteral("The image is empty.");
        return false;
    }
    // Premultiplied pixels are their colour over black already; straight ones are made so.
    const QImage::Format f = image.format();
    const QImage src = f == QImage::Format_ARGB32_Premultiplied || f == QImage::Format_RGB32
                           ? image
                           : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (src.isNull()) {
        *error = QStringLiteral("Not enough memory to encode the image.");
        return false;
    }
    const QColorSpace cs = image.colorSpace();
    const QByteArray exif = exifBlock(camera, exifImageOf(image, true));
    const QByteArray profile = cs.isValid() ? cs.iccProfile() : QByteArray();
    // The image's text entries (the photo a result was made from, say) as comments, "key: value"
    // as Qt's own reader splits them.
    QByteArrayList comments;
    for (const QString& key : image.textKeys()) {
        const QByteArray comment = (key + QStringLiteral(": ") + image.text(key)).toUtf8();
        if (!key.isEmpty() && comment.size() <= 65533)
            comments << comment;
    }
    auto e = std::make_unique<Encoder>();
    e->out = out;
    if (run(e.get(), src, std::clamp(quality, 1, 100),
            exif.isEmpty() ? exif : QByteArray("Exif\0\0", 6) + exif, profile, comments))
        return true;
    *error = e->deviceFailed ? out->errorString() : QString::fromLocal8Bit(e->message);
    return false;
}

}  // namespace formats
