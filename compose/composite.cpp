#include "compose/composite.h"

#include "compose/overlay.h"
#include "core/rows.h"

#include <QPainter>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace compose {

// ---------------------------------------------------------------------------------------------
// Smooth scaling

// Qt's smooth scaler reduces one axis for every row of the other axis's result, so a layer that
// is squeezed one way and stretched the other (a 65560 x 16 strip fitted to 16 x 65560) costs
// its width times the stretched height: tens of seconds for a one-megapixel result. Such shapes
// are reduced first and stretched after, which costs the size of the images; every ordinary
// shape takes Qt's one step and its exact pixels.
QImage smoothScaled(const QImage& src, const QSize& size, Qt::AspectRatioMode mode) {
    const QSize to = src.size().scaled(size, mode);
    const bool narrower = to.width() < src.width(), lower = to.height() < src.height();
    const qint64 work =
        std::max(qint64(src.width()) * to.height(), qint64(src.height()) * to.width());
    const qint64 pixels = qint64(src.width()) * src.height() + qint64(to.width()) * to.height();
    if (narrower == lower || to.isEmpty() || work <= 16 * pixels || work <= (qint64(1) << 26))
        return src.scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QSize reduced =
        narrower ? QSize(to.width(), src.height()) : QSize(src.width(), to.height());
    return src.scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// ---------------------------------------------------------------------------------------------
// ScaledCache

QImage ScaledCache::scaled(const QImage& src, const QSize& size, Qt::AspectRatioMode mode) {
    if (src.isNull() || size.isEmpty()) {
        return QImage();
    }
    const qint64 key = src.cacheKey();
    if (!m_result.isNull() && key == m_sourceKey && size == m_size && mode == m_mode) {
        return m_result;
    }
    QImage result = smoothScaled(src, size, mode);
    if (result.cacheKey() == key) {
        // No scaling was needed: keeping it would pin a second reference to the source.
        clear();
        return result;
    }
    m_sourceKey = key;
    m_size = size;
    m_mode = mode;
    m_result = result;
    return result;
}

void ScaledCache::clear() {
    m_result = QImage();
    m_sourceKey = 0;
    m_size = QSize();
}

namespace {

// ---------------------------------------------------------------------------------------------
// Pixel rules. They are the raster painter's: a layer pixel is premultiplied on fetch
// (qPremultiply), then laid source-over as s + d * (255 - alpha(s)) / 255 with the painter's
// rounding. Over a transparent pixel that gives s itself, which is how the background layer is
// "drawn" onto the cleared canvas.

enum class Kind { Straight, Premultiplied, Opaque, Other };

Kind kindOf(const QImage& img) {
    switch (img.format()) {
        case QImage::Format_ARGB32:
            return Kind::Straight;
        case QImage::Format_ARGB32_Premultiplied:
            return Kind::Premultiplied;
        case QImage::Format_RGB32:
            return Kind::Opaque;
        default:
            return Kind::Other;
    }
}

// x * a / 255 on each byte of x, rounded as the painter rounds.
inline quint32 byteMul(quint32 x, quint32 a) {
    quint32 t = (x & 0xff00ffu) * a;
    t = (t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8;
    t &= 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = (x + ((x >> 8) & 0xff00ffu) + 0x800080u);
    x &= 0xff00ff00u;
    return x | t;
}

template <Kind K>
inline quint32 fetch(quint32 p) {
    if constexpr (K == Kind::Straight) {
        return qPremultiply(p);
    } else if constexpr (K == Kind::Opaque) {
        return p | 0xff000000u;
    } else {
        return p;
    }
}

// Source-over of premultiplied s onto premultiplied d. Exact for alpha 255 (gives s) and for
// s == 0 (gives d), so no branches are needed.
inline quint32 over(quint32 s, quint32 d) {
    return s + byteMul(d, 255u - (s >> 24));
}

// Blocks of a fixed length let the compiler vectorise at the default optimisation level.
constexpr int kBlock = 16;

template <Kind K>
void copyLayerRow(quint32* __restrict dst, const quint32* __restrict src, int n) {
    if constexpr (K == Kind::Premultiplied) {
        std::memcpy(dst, src, size_t(n) * sizeof(quint32));
    } else {
        int i = 0;
        for (; i + kBlock <= n; i += kBlock) {
            for (int k = 0; k < kBlock; ++k) {
                dst[i + k] = fetch<K>(src[i + k]);
            }
        }
        for (; i < n; ++i) {
            dst[i] = fetch<K>(src[i]);
        }
    }
}

template <Kind K>
void blendLayerRow(quint32* __restrict dst, const quint32* __restrict src, int n) {
    if constexpr (K == Kind::Opaque) {
        copyLayerRow<K>(dst, src, n);
    } else {
        int i = 0;
        for (; i + kBlock <= n; i += kBlock) {
            // Subjects and backdrops come in long runs of alpha 255 or 0: copy or skip them.
            quint32 andAlpha = 0xff000000u;
            quint32 orAlpha = 0;
            for (int k = 0; k < kBlock; ++k) {
                andAlpha &= src[i + k];
                orAlpha |= src[i + k];
            }
            if ((andAlpha & 0xff000000u) == 0xff000000u) {
                copyLayerRow<K>(dst + i, src + i, kBlock);
            } else if ((orAlpha & 0xff000000u) != 0 || K == Kind::Premultiplied) {
                for (int k = 0; k < kBlock; ++k) {
                    dst[i + k] = over(fetch<K>(src[i + k]), dst[i + k]);
                }
            }
        }
        for (; i < n; ++i) {
            dst[i] = over(fetch<K>(src[i]), dst[i]);
        }
    }
}

void copyRow(Kind k, quint32* dst, const quint32* src, int n) {
    switch (k) {
        case Kind::Straight:
            copyLayerRow<Kind::Straight>(dst, src, n);
            break;
        case Kind::Opaque:
            copyLayerRow<Kind::Opaque>(dst, src, n);
            break;
        default:
            copyLayerRow<Kind::Premultiplied>(dst, src, n);
            break;
    }
}

void blendRow(Kind k, quint32* dst, const quint32* src, int n) {
    switch (k) {
        case Kind::Straight:
            blendLayerRow<Kind::Straight>(dst, src, n);
            break;
        case Kind::Opaque:
            blendLayerRow<Kind::Opaque>(dst, src, n);
            break;
        default:
            blendLayerRow<Kind::Premultiplied>(dst, src, n);
            break;
    }
}

quint32 fetchPixel(Kind k, quint32 p) {
    switch (k) {
        case Kind::Straight:
            return fetch<Kind::Straight>(p);
        case Kind::Opaque:
            return fetch<Kind::Opaque>(p);
        default:
            return p;
    }
}

// ---------------------------------------------------------------------------------------------
// Geometry helpers.

// One layer's span on a canvas line: canvas columns [begin, end) show layer columns from
// begin - pos on.
struct Span {
    int begin = 0;
    int end = 0;
};

Span clipSpan(int pos, int len, int canvasLen) {
    const qint64 b = std::max<qint64>(pos, 0);
    const qint64 e = std::min<qint64>(qint64(pos) + len, canvasLen);
    return e > b ? Span{int(b), int(e)} : Span{0, 0};
}

// value * canvasLen / frameLen, truncating; kept within a range in which a far-off layer is
// still entirely off the canvas.
int scaleOffset(int value, int canvasLen, int frameLen, int layerLen) {
    const qint64 v = qint64(value) * canvasLen / frameLen;
    return int(std::clamp<qint64>(v, -qint64(layerLen) - 1, qint64(canvasLen) + 1));
}

const quint32* rowOf(const QImage& img, int y) {
    return reinterpret_cast<const quint32*>(img.constScanLine(y));
}

// The cleared canvas row `dst` of `cw` pixels with row `by` of the background laid on it
// source-over (a copy, over transparent), its columns `cols` starting at canvas column `bx`.
void backgroundRow(Kind kind, quint32* dst, int cw, const QImage& bg, int by, Span cols, int bx) {
    if (by >= 0 && by < bg.height() && cols.end > cols.begin) {
        std::memset(dst, 0, size_t(cols.begin) * sizeof(quint32));
        copyRow(kind, dst + cols.begin, rowOf(bg, by) + (cols.begin - bx), cols.end - cols.begin);
        std::memset(dst + cols.end, 0, size_t(cw - cols.end) * sizeof(quint32));
    } else {
        std::memset(dst, 0, size_t(cw) * sizeof(quint32));
    }
}

// The plain painter composite, for layer formats the fast rows do not handle.
QImage paintComposite(const CompositeLayout& l) {
    QImage canvas(l.canvasSize, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) {
        return QImage();
    }
    QPainter p(&canvas);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(canvas.rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(l.backgroundPos, l.background);
    if (!l.foreground.isNull()) {
        p.drawImage(l.foregroundPos, l.foreground);
    }
    if (!l.overlay.isNull()) {
        p.drawImage(l.overlayPos, l.overlay);
    }
    p.end();
    return canvas;
}

bool fastKinds(const CompositeLayout& l) {
    return kindOf(l.background) != Kind::Other &&
           (l.foreground.isNull() || kindOf(l.foreground) != Kind::Other) &&
           (l.overlay.isNull() || kindOf(l.overlay) != Kind::Other);
}

// Fits the overlay to the laid-out canvas, in the keyed image's colour space.
void placeOverlay(const QImage& overlay, const QImage& keyed, ComposeCache* cache,
                  CompositeLayout* l) {
    if (overlay.isNull())
        return;
    const QRect at = overlayRect(overlay.size(), l->canvasSize);
    if (at.isEmpty())
        return;
    const QImage inSpace = cache ? cache->overlaySpace.converted(overlay, keyed.colorSpace())
                                 : inColorSpace(overlay, keyed.colorSpace());
    l->overlay = cache ? cache->overlay.scaled(inSpace, l->canvasSize, Qt::KeepAspectRatio)
                       : smoothScaled(inSpace, l->canvasSize, Qt::KeepAspectRatio);
    l->overlayPos = at.topLeft();
}

// The transparent case with an overlay: the keyed image alone as the bottom layer.
CompositeLayout keyedUnderOverlay(const QImage& keyed, const QImage& overlay, ComposeCache* cache) {
    CompositeLayout l;
    l.background = keyed;
    l.canvasSize = keyed.size();
    placeOverlay(overlay, keyed, cache, &l);
    return l;
}

// For each preview pixel along one axis, the canvas pixel that nearest-pixel scaling shows, or
// -1 where it leaves the pixel transparent. Read back from Qt's own scaler applied to a line of
// pixels that carry their index, so the rounding is Qt's by construction; the scaler treats the
// two axes independently. Empty when the probe does not come back in the expected shape.
std::vector<int> sampleMap(int canvasLen, int previewLen, bool horizontal) {
    const QSize lineSize = horizontal ? QSize(canvasLen, 1) : QSize(1, canvasLen);
    QImage probe(lineSize, QImage::Format_ARGB32_Premultiplied);
    if (probe.isNull()) {
        return {};
    }
    for (int i = 0; i < canvasLen; ++i) {
        quint32* p = horizontal ? reinterpret_cast<quint32*>(probe.scanLine(0)) + i
                                : reinterpret_cast<quint32*>(probe.scanLine(i));
        *p = 0xff000000u | quint32(i);
    }
    const QSize target = horizontal ? QSize(previewLen, 1) : QSize(1, previewLen);
    const QImage line = probe.scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (line.format() != QImage::Format_ARGB32_Premultiplied ||
        (horizontal ? line.height() : line.width()) != 1) {
        return {};
    }
    const int n = horizontal ? line.width() : line.height();
    std::vector<int> map(size_t(n), -1);
    for (int i = 0; i < n; ++i) {
        const quint32 v = horizontal ? rowOf(line, 0)[i] : rowOf(line, i)[0];
        if (v == 0) {
            continue;
        }
        const int index = int(v & 0xffffffu);
        if ((v >> 24) != 0xffu || index >= canvasLen) {
            return {};
        }
        map[size_t(i)] = index;
    }
    return map;
}

// A composite is the foreground's picture: its colour space and print resolution.
void describeAs(const QImage& keyed, QImage* composite) {
    composite->setColorSpace(keyed.colorSpace());
    composite->setDotsPerMeterX(keyed.dotsPerMeterX());
    composite->setDotsPerMeterY(keyed.dotsPerMeterY());
}

// The probe lines take the same path through the scaler as the whole canvas only while every
// side stays within its 16-bit fixed-point range.
constexpr int kProbeLimit = 0x7fff;

}  // namespace

// ---------------------------------------------------------------------------------------------

QImage backgroundLayer(const QImage& decoded) {
    return decoded.convertToFormat(QImage::Format_ARGB32);
}

bool layoutComposite(const QImage& photo, const QImage& keyed, int x, int y,
                     const ComposeSettings& s, ComposeCache* cache, CompositeLayout* out,
                     const QImage& overlay) {
    if (photo.isNull() || keyed.isNull() || s.previewSize.isEmpty()) {
        return false;
    }
    const QImage background = cache ? cache->backgroundSpace.converted(photo, keyed.colorSpace())
                                    : inColorSpace(photo, keyed.colorSpace());
    // w = W * P / 100 on 32-bit ints; a product that leaves that range gives no composite.
    const qint64 wProduct = qint64(keyed.width()) * s.fgSize;
    const qint64 hProduct = qint64(keyed.height()) * s.fgSize;
    if (wProduct > INT_MAX || hProduct > INT_MAX || wProduct < INT_MIN || hProduct < INT_MIN) {
        return false;
    }
    const QSize fgTarget(int(wProduct / 100), int(hProduct / 100));

    CompositeLayout l;
    if (!fgTarget.isEmpty()) {
        l.foreground = cache ? cache->foreground.scaled(keyed, fgTarget, Qt::KeepAspectRatio)
                             : smoothScaled(keyed, fgTarget, Qt::KeepAspectRatio);
    }
    const bool fill = s.bgScale == BackgroundScale::Fill;
    if (s.bgScale == BackgroundScale::Fit || fill) {
        const QSize bgTarget = l.foreground.size();
        const Qt::AspectRatioMode mode =
            fill ? Qt::KeepAspectRatioByExpanding : Qt::IgnoreAspectRatio;
        if (!bgTarget.isEmpty()) {
            l.background = cache ? cache->background.scaled(background, bgTarget, mode)
                                 : smoothScaled(background, bgTarget, mode);
        }
    } else {
        l.background = background;
    }
    l.canvasSize =
        s.canvas == Canvas::Foreground || fill ? l.foreground.size() : l.background.size();
    if (l.canvasSize.isEmpty() || l.background.isNull()) {
        return false;
    }
    const int cw = l.canvasSize.width();
    const int ch = l.canvasSize.height();
    if (s.align == Align::Center || fill) {
        l.backgroundPos = QPoint((cw - l.background.width()) / 2, (ch - l.background.height()) / 2);
    }
    l.foregroundPos = QPoint(scaleOffset(x, cw, s.previewSize.width(), l.foreground.width()),
                             scaleOffset(y, ch, s.previewSize.height(), l.foreground.height()));
    placeOverlay(overlay, keyed, cache, &l);
    *out = std::move(l);
    return true;
}

QImage createComposite(const QImage& background, const QImage& keyed, int x, int y,
                       bool transparent, const ComposeSettings& s, ComposeCache* cache,
                       const QImage& overlay) {
    if (transparent && (overlay.isNull() || keyed.isNull())) {
        return keyed;
    }
    CompositeLayout l;
    if (transparent) {
        l = keyedUnderOverlay(keyed, overlay, cache);
    } else if (!layoutComposite(background, keyed, x, y, s, cache, &l, overlay)) {
        return QImage();
    }
    if (!fastKinds(l)) {
        QImage painted = paintComposite(l);
        describeAs(keyed, &painted);
        return painted;
    }
    QImage canvas(l.canvasSize, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) {
        return QImage();
    }
    describeAs(keyed, &canvas);
    const int cw = canvas.width();
    const QImage& bg = l.background;
    const QImage& fg = l.foreground;
    const Kind bgKind = kindOf(bg);
    const Kind fgKind = fg.isNull() ? Kind::Other : kindOf(fg);
    const QPoint bp = l.backgroundPos;
    const QPoint fp = l.foregroundPos;
    const Span bgCols = clipSpan(bp.x(), bg.width(), cw);
    const Span fgCols = fg.isNull() ? Span{} : clipSpan(fp.x(), fg.width(), cw);
    const QImage& ov = l.overlay;
    const Kind ovKind = ov.isNull() ? Kind::Other : kindOf(ov);
    const QPoint op = l.overlayPos;
    const Span ovCols = ov.isNull() ? Span{} : clipSpan(op.x(), ov.width(), cw);

    core::forEachRowBand(canvas.height(), cw, [&](int y0, int y1) {
        for (int cy = y0; cy < y1; ++cy) {
            quint32* dst = reinterpret_cast<quint32*>(canvas.scanLine(cy));
            backgroundRow(bgKind, dst, cw, bg, cy - bp.y(), bgCols, bp.x());
            const int fy = cy - fp.y();
            if (fgCols.end > fgCols.begin && fy >= 0 && fy < fg.height()) {
                blendRow(fgKind, dst + fgCols.begin, rowOf(fg, fy) + (fgCols.begin - fp.x()),
                         fgCols.end - fgCols.begin);
            }
            const int oy = cy - op.y();
            if (ovCols.end > ovCols.begin && oy >= 0 && oy < ov.height()) {
                blendRow(ovKind, dst + ovCols.begin, rowOf(ov, oy) + (ovCols.begin - op.x()),
                         ovCols.end - ovCols.begin);
            }
        }
    });
    return canvas;
}

QImage createCompositeInPlace(const QImage& background, QImage&& keyed, int x, int y,
                              bool transparent, const ComposeSettings& s, ComposeCache* cache) {
    if (transparent) {
        return std::move(keyed);
    }
    CompositeLayout l;
    const Kind fgKind = kindOf(keyed);
    if (fgKind == Kind::Other || !layoutComposite(background, keyed, x, y, s, cache, &l) ||
        !fastKinds(l) || l.canvasSize != keyed.size() ||
        l.foreground.constBits() != keyed.constBits()) {
        return createComposite(background, keyed, x, y, transparent, s, cache);
    }
    l.foreground = QImage();  // the canvas is written through keyed's one reference
    if (!keyed.isDetached()) {
        return createComposite(background, keyed, x, y, transparent, s, cache);
    }
    const int cw = keyed.width(), ch = keyed.height();
    const qsizetype line = keyed.bytesPerLine();
    const QImage& bg = l.background;
    const Kind bgKind = kindOf(bg);
    const QPoint bp = l.backgroundPos;
    const QPoint fp = l.foregroundPos;
    const Span bgCols = clipSpan(bp.x(), bg.width(), cw);
    const Span fgCols = clipSpan(fp.x(), cw, cw);
    // The subject moved down or up by its offset first, so that canvas row y holds its own
    // subject row; rows outside [fgTop, fgBottom) then hold none.
    uchar* bits = keyed.bits();
    const int fgTop = std::clamp(fp.y(), 0, ch), fgBottom = std::clamp(fp.y() + ch, 0, ch);
    if (fgBottom > fgTop && fp.y() != 0) {
        const int from = fp.y() > 0 ? 0 : -fp.y();
        std::memmove(bits + qsizetype(fgTop) * line, bits + qsizetype(from) * line,
                     size_t(fgBottom - fgTop) * size_t(line));
    }
    core::forEachRowBand(ch, cw, [&](int y0, int y1) {
        std::vector<quint32> subject(size_t(std::max(0, fgCols.end - fgCols.begin)));
        for (int cy = y0; cy < y1; ++cy) {
            quint32* dst = reinterpret_cast<quint32*>(bits + qsizetype(cy) * line);
            const bool fgRow = fgCols.end > fgCols.begin && cy >= fgTop && cy < fgBottom;
            if (fgRow) {
                std::memcpy(subject.data(), dst + (fgCols.begin - fp.x()),
                            subject.size() * sizeof(quint32));
            }
            backgroundRow(bgKind, dst, cw, bg, cy - bp.y(), bgCols, bp.x());
            if (fgRow) {
                blendRow(fgKind, dst + fgCols.begin, subject.data(), int(subject.size()));
            }
        }
    });
    // A fresh image over keyed's pixels, which it keeps alive: the photo's own text entries stay
    // behind, as they do with a canvas of its own.
    auto* owner = new QImage(std::move(keyed));
    QImage canvas(
        owner->bits(), cw, ch, line, QImage::Format_ARGB32_Premultiplied,
        [](void* image) { delete static_cast<QImage*>(image); }, owner);
    describeAs(*owner, &canvas);
    return canvas;
}

QImage dragPreview(const QImage& background, const QImage& keyed, int x, int y, bool transparent,
                   const ComposeSettings& s, ComposeCache* cache, const QImage& overlay) {
    if (s.previewSize.isEmpty()) {
        return QImage();
    }
    if (transparent && !overlay.isNull()) {
        const QImage full = createComposite(background, keyed, x, y, true, s, cache, overlay);
        return full.isNull()
                   ? QImage()
                   : full.scaled(s.previewSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    if (transparent) {
        // Qt's nearest-pixel scaler already touches only the pixels it shows.
        return keyed.isNull()
                   ? QImage()
                   : keyed.scaled(s.previewSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    CompositeLayout l;
    if (!layoutComposite(background, keyed, x, y, s, cache, &l, overlay)) {
        return QImage();
    }
    const int cw = l.canvasSize.width();
    const int ch = l.canvasSize.height();
    const auto fullThenScale = [&]() {
        const QImage full = createComposite(background, keyed, x, y, false, s, cache, overlay);
        return full.isNull()
                   ? QImage()
                   : full.scaled(s.previewSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    };
    if (!fastKinds(l) ||
        std::max({cw, ch, s.previewSize.width(), s.previewSize.height()}) >= kProbeLimit) {
        return fullThenScale();
    }
    if (l.canvasSize == s.previewSize) {
        return createComposite(background, keyed, x, y, false, s, cache, overlay);
    }
    const std::vector<int> mapX = sampleMap(cw, s.previewSize.width(), true);
    const std::vector<int> mapY = sampleMap(ch, s.previewSize.height(), false);
    if (mapX.empty() || mapY.empty()) {
        return fullThenScale();
    }
    QImage out(int(mapX.size()), int(mapY.size()), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        return QImage();
    }
    describeAs(keyed, &out);
    const QImage& bg = l.background;
    const QImage& fg = l.foreground;
    const Kind bgKind = kindOf(bg);
    const Kind fgKind = fg.isNull() ? Kind::Other : kindOf(fg);
    const QPoint bp = l.backgroundPos;
    const QPoint fp = l.foregroundPos;
    const QImage& ov = l.overlay;
    const Kind ovKind = ov.isNull() ? Kind::Other : kindOf(ov);
    const QPoint op = l.overlayPos;
    for (int oy = 0; oy < out.height(); ++oy) {
        quint32* dst = reinterpret_cast<quint32*>(out.scanLine(oy));
        const int cy = mapY[size_t(oy)];
        if (cy < 0) {
            std::memset(dst, 0, size_t(out.width()) * sizeof(quint32));
            continue;
        }
        const int by = cy - bp.y();
        const int fy = cy - fp.y();
        const quint32* bgLine = by >= 0 && by < bg.height() ? rowOf(bg, by) : nullptr;
        const quint32* fgLine =
            !fg.isNull() && fy >= 0 && fy < fg.height() ? rowOf(fg, fy) : nullptr;
        const int vy = cy - op.y();
        const quint32* ovLine =
            !ov.isNull() && vy >= 0 && vy < ov.height() ? rowOf(ov, vy) : nullptr;
        for (int ox = 0; ox < out.width(); ++ox) {
            const int cx = mapX[size_t(ox)];
            quint32 v = 0;
            if (cx >= 0) {
                const int bx = cx - bp.x();
                if (bgLine && bx >= 0 && bx < bg.width()) {
                    v = fetchPixel(bgKind, bgLine[bx]);
                }
                const int fx = cx - fp.x();
                if (fgLine && fx >= 0 && fx < fg.width()) {
                    v = over(fetchPixel(fgKind, fgLine[fx]), v);
                }
                const int vx = cx - op.x();
                if (ovLine && vx >= 0 && vx < ov.width()) {
                    v = over(fetchPixel(ovKind, ovLine[vx]), v);
                }
            }
            dst[ox] = v;
        }
    }
    return out;
}

QImage fitPreview(const QImage& composite, const QSize& previewSize) {
    if (composite.isNull() || previewSize.isEmpty()) {
        return QImage();
    }
    return composite.scaled(previewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace compose
