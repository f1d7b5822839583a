#include "batch/contactsheet.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <algorithm>
#include <new>

#include "batch/plate.h"
#include "compose/composite.h"
#include "formats/result.h"
#include "keying/photoframe.h"
#include "photo/photofile.h"
#include "results/photonames.h"

namespace batch {

namespace {

constexpr int kMargin = 12;
constexpr int kLabelHeight = 40;
constexpr int kGlyphScale = 3;  // a 5 x 9 glyph drawn 15 x 27
constexpr QRgb kSheetColour = 0xff2b2b2b;
constexpr QRgb kLabelColour = 0xfff0f0f0;

int cellWidth() {
    return (kSheetWidth - kMargin * (kSheetColumns + 1)) / kSheetColumns;
}

int pictureHeight(QSize canvas) {
    if (canvas.isEmpty())
        return cellWidth();
    return std::max(1, int(qint64(cellWidth()) * canvas.height() / canvas.width()));
}

// The cell of `magic`: its picture area and the label strip below.
QRect cell(int magic, QSize canvas) {
    const int i = magic - 1, column = i % kSheetColumns, row = i / kSheetColumns;
    const int h = pictureHeight(canvas) + kLabelHeight;
    return QRect(kMargin + column * (cellWidth() + kMargin), kMargin + row * (h + kMargin),
                 cellWidth(), h);
}

// The few letters a label needs, 5 x 7 with two rows below for a descender, one row a byte (bit 4
// the leftmost column). The sheet is made without a screen, where no font may be at hand.
struct Glyph {
    char c;
    unsigned char rows[9];
};
constexpr Glyph kGlyphs[] = {
    {'M', {0x11, 0x1b, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'a', {0x00, 0x00, 0x0e, 0x01, 0x0f, 0x11, 0x0f}},
    {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1e}},
    {'c', {0x00, 0x00, 0x0e, 0x10, 0x10, 0x11, 0x0e}},
    {'e', {0x00, 0x00, 0x0e, 0x11, 0x1f, 0x10, 0x0e}},
    {'g', {0x00, 0x00, 0x0f, 0x11, 0x11, 0x0f, 0x01, 0x11, 0x0e}},
    {'i', {0x04, 0x00, 0x0c, 0x04, 0x04, 0x04, 0x0e}},
    {'m', {0x00, 0x00, 0x1a, 0x15, 0x15, 0x11, 0x11}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0d}},
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}},
    {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}},
    {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}},
    {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}},
    {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}},
    {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
};

constexpr int kAdvance = 6 * kGlyphScale;

// Draws `text` centred in `box` of the premultiplied `sheet`.
void drawLabel(QImage* sheet, const QRect& box, const QByteArray& text) {
    const int width = int(text.size()) * kAdvance - kGlyphScale;
    const int x0 = box.left() + (box.width() - width) / 2;
    const int y0 = box.top() + (box.height() - 9 * kGlyphScale) / 2;
    for (int k = 0; k < text.size(); ++k) {
        const Glyph* g = std::find_if(std::begin(kGlyphs), std::end(kGlyphs),
                                      [&](const Glyph& gl) { return gl.c == text[k]; });
        if (g == std::end(kGlyphs))
            continue;  // a blank
        for (int gy = 0; gy < 9 * kGlyphScale; ++gy) {
            auto* row = reinterpret_cast<QRgb*>(sheet->scanLine(y0 + gy));
            for (int gx = 0; gx < 5 * kGlyphScale; ++gx)
                if (g->rows[gy / kGlyphScale] & (0x10 >> (gx / kGlyphScale)))
                    row[x0 + k * kAdvance + gx] = kLabelColour;
        }
    }
}

}  // namespace

QSize sheetSize(QSize canvas) {
    const int rows = (kSheetKeyers + kSheetColumns - 1) / kSheetColumns;
    return QSize(kSheetWidth, kMargin + rows * (pictureHeight(canvas) + kLabelHeight + kMargin));
}

QRect sheetPicture(int magic, QSize canvas) {
    const QRect c = cell(magic, canvas);
    const QSize fitted = canvas.isEmpty()
                             ? QSize()
                             : canvas.scaled(c.width(), pictureHeight(canvas), Qt::KeepAspectRatio);
    return QRect(c.left() + (c.width() - fitted.width()) / 2, c.top(), fitted.width(),
                 fitted.height());
}

QRect sheetLabel(int magic, QSize canvas) {
    const QRect c = cell(magic, canvas);
    return QRect(c.left(), c.bottom() + 1 - kLabelHeight, c.width(), kLabelHeight);
}

QImage checkerboardLayer(QSize size) {
    QImage board(size, QImage::Format_ARGB32);
    if (board.isNull())
        return board;
    const int square = std::max(8, std::max(size.width(), size.height()) / 48);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(board.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = ((x / square + y / square) & 1) ? 0xffcccccc : 0xffffffff;
    }
    return board;
}

QImage contactSheet(const QImage& turned, const QImage& background, const JobSettings& s,
                    QString* why) {
    QImage sheet;
    QSize canvas;
    for (int magic = 1; magic <= kSheetKeyers; ++magic) {
        JobSettings one = s;
        one.key = keying::KeySettings();  // the tuning of a fresh window
        one.key.magic = magic;
        one.key.backdrop = s.key.backdrop;
        one.key.keepShadows = s.key.keepShadows && magic == 10;
        if (magic != 10)
            one.plate.clear();
        QImage keyed = turned;
        QString failed, warning;
        if (!keyShot(keyed, one, &failed, &warning) || keyed.isNull()) {
            *why = failed.isEmpty() ? QStringLiteral("cannot be keyed: out of memory") : failed;
            return QImage();
        }
        const QImage composite = compose::createComposite(background, keyed, s.offset.x(),
                                                          s.offset.y(), s.transparent, s.compose);
        if (composite.isNull()) {
            *why = QStringLiteral("cannot be composed");
            return QImage();
        }
        if (sheet.isNull()) {
            canvas = composite.size();
            sheet = QImage(sheetSize(canvas), QImage::Format_ARGB32_Premultiplied);
            if (sheet.isNull()) {
                *why = QStringLiteral("cannot be composed: out of memory");
                return QImage();
            }
            sheet.fill(kSheetColour);
            sheet.setColorSpace(composite.colorSpace());
        }
        const QRect at = sheetPicture(magic, canvas);
        const QImage picture =
            composite.scaled(at.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPainter p(&sheet);
        p.drawImage(at.topLeft(), picture);
        p.end();
        drawLabel(&sheet, sheetLabel(magic, canvas), "Magic Number " + QByteArray::number(magic));
    }
    return sheet;
}

Status runContactSheets(const Options& o, Progress& progress, const std::atomic<bool>& stop) {
    QImage background;
    if (!o.transparent && !o.backgrounds.isEmpty()) {
        QString why, warning;
        background = readBackground(o.backgrounds.first(), o, &why, &warning);
        if (!warning.isEmpty())
            progress.problem(problemLine(o.backgrounds.first(), warning));
        if (background.isNull()) {
            progress.problem(problemLine(o.backgrounds.first(), why));
            for (const QString& fg : o.foregrounds)
                progress.finished(fg, QString(), false);
            return SomeFailed;
        }
    }
    // Results of this run claim their names; the photos read are in use.
    QHash<QString, QString> claims;
    for (const QString& fg : o.foregrounds)
        claims.insert(results::sourceName(fg), results::sourceName(fg));
    if (!background.isNull())
        claims.insert(results::sourceName(o.backgrounds.first()),
                      results::sourceName(o.backgrounds.first()));
    for (const QString& fg : o.foregrounds) {
        if (stop)
            return Interrupted;
        progress.started(fg);
        const QString version = results::photoVersion(fg);
        const QString digest = results::photoDigest(fg);
        PhotoLoad load = readPhoto(fg, o.maxPixels);
        if (!load.ok()) {
            progress.problem(
                problemLine(fg, QStringLiteral("cannot be read: ") + problemText(load)));
            progress.finished(fg, QString(), false);
            continue;
        }
        QString why;
        QImage sheet;
        try {
            const QImage turned = keying::turnPhoto(load.image, o.rotation);
            load.image = QImage();
            JobSettings s = o;
            // Without a background the subject shows over the checkerboard, on its own canvas.
            const QImage under =
                background.isNull() ? checkerboardLayer(turned.size()) : background;
            if (background.isNull())
                s.transparent = false;
            sheet = contactSheet(turned, under, s, &why);
        } catch (const std::bad_alloc&) {
            why = QStringLiteral("cannot be composed: out of memory");
        }
        const results::ResultSlot slot = results::resultSlot(
            o.outputDir, fg,
            [&](const QString& path) { return claims.value(results::sourceName(path)); },
            QStringLiteral("png"),
            results::ResultKind{QFileInfo(fg).completeBaseName() + QStringLiteral("-keyers"), {}});
        if (!results::slotNote(slot).isEmpty())
            progress.problem(problemLine(fg, results::slotNote(slot)));
        if (sheet.isNull() || slot.path.isEmpty()) {
            if (!why.isEmpty())
                progress.problem(problemLine(fg, why));
            progress.finished(fg, QString(), false);
            continue;
        }
        claims.insert(results::sourceName(slot.path), results::sourceName(fg));
        sheet.setText(QString::fromLatin1(results::kSourceKey), results::sourceName(fg));
        sheet.setText(QString::fromLatin1(results::kVersionKey), version);
        sheet.setText(QString::fromLatin1(results::kDigestKey), digest);
        bool full = false;
        const bool written = formats::writeResult(sheet, load.camera, slot.path,
                                                  formats::Format::Png, 100, &why, &full);
        if (!written)
            progress.problem(problemLine(fg, QStringLiteral("could not be written to %1: %2")
                                                 .arg(QDir::toNativeSeparators(slot.path), why)));
        progress.finished(fg, slot.path, written);
        if (full)
            return DiskFull;
    }
    return progress.failed() > 0 ? SomeFailed : AllWritten;
}

}  // namespace batch
