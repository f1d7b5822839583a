// A look at a photo's structure before any pixel of it is decoded: what a decoder would be asked
// to do, bounded, so that a small hostile file cannot take minutes or gigabytes.
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

class QIODevice;

struct PhotoScan {
    enum class Verdict {
        Fine,     // decode it (from `filtered` when that is set)
        Damaged,  // its structure cannot be a sound photo (`detail` says why)
    };
    Verdict verdict = Verdict::Fine;
    QString detail;
    // The size its header states, as stored (before any EXIF turn); invalid when not found.
    QSize size;
    // The file without the metadata chunks left out; empty when nothing was left out.
    QByteArray filtered;
    // The decoder's peak bytes a pixel, the image it gives included.
    double decodeBytesPerPixel = 4;
};

// Metadata a PNG may carry before the rest is left out: text, profiles, unknown chunks, inflated.
constexpr qint64 kMetadataBudget = qint64(1) << 20;
// Scans a JPEG may have; an encoder's progressive scripts use about ten.
constexpr int kMaxJpegScans = 300;
// Pages a TIFF may have; only the first is read.
constexpr int kMaxTiffPages = 1000;

// Walks the structure of the photo `device` holds (PNG chunks, JPEG markers and scans, TIFF
// pages and strips, the BMP header) from its current position, which is kept. Other formats and
// sequential devices are passed as fine.
PhotoScan scanPhoto(QIODevice* device);
