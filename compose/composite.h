// Composite builder: lays a keyed foreground over a background photo at full resolution,
// and the cheap nearest-pixel preview of that composite shown while the subject is dragged.
// Plain functions over images; they read no globals and keep no state of their own.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>

#include "compose/layerspace.h"

namespace compose {

// The preview frame: offsets of the foreground are given in its pixels.
inline constexpr QSize kPreviewFrame{415, 345};

// How big the result is: the sized foreground, or the (possibly scaled) background.
enum class Canvas { Foreground, Background };
// Where the background sits on the canvas.
enum class Align { Center, TopLeft };
// Fit: the background is stretched to the sized foreground; Actual: it keeps its own size;
// Fill: it is scaled with its proportions kept to cover the sized foreground, centred, and what
// overflows is cut off (the canvas is then the sized foreground's, whichever Canvas says).
enum class BackgroundScale { Fit, Actual, Fill };

struct ComposeSettings {
    int fgSize = 100;  // foreground size in percent (5..200)
    BackgroundScale bgScale = BackgroundScale::Fit;
    Canvas canvas = Canvas::Foreground;
    Align align = Align::Center;
    QSize previewSize = kPreviewFrame;
};

// src.scaled(size, mode, Qt::SmoothTransformation), but a layer squeezed one way and stretched
// the other is reduced first and stretched after, in time proportional to the images' size.
QImage smoothScaled(const QImage& src, const QSize& size, Qt::AspectRatioMode mode);

// Remembers one smooth-scaled copy of an image, so that composing the same inputs again (every
// drag step, every refresh with an unchanged background) skips the rescale. Keyed by the
// source's cacheKey(), which changes whenever the source's pixels are written, plus the target
// size and aspect mode. When no scaling is needed the source itself is returned and nothing is
// kept, so the cache never holds a second reference that would force a later writer to copy.
class ScaledCache {
public:
    // Same result as smoothScaled(src, size, mode).
    QImage scaled(const QImage& src, const QSize& size, Qt::AspectRatioMode mode);
    void clear();
    bool holdsCopy() const { return !m_result.isNull(); }

private:
    qint64 m_sourceKey = 0;
    QSize m_size;
    Qt::AspectRatioMode m_mode = Qt::IgnoreAspectRatio;
    QImage m_result;
};

// The rescaled layers of a composite. Owned by the caller (e.g. the preview), passed to the
// functions below; a null pointer means "scale afresh".
struct ComposeCache {
    ScaledCache foreground;      // keyed image at fgSize percent
    SpaceCache backgroundSpace;  // background in the keyed image's colour space
    ScaledCache background;      // that stretched to the sized foreground
    SpaceCache overlaySpace;     // the overlay in the keyed image's colour space
    ScaledCache overlay;         // that fitted to the canvas
    void clear() {
        foreground.clear();
        backgroundSpace.clear();
        background.clear();
        overlaySpace.clear();
        overlay.clear();
    }
    // A new foreground follows (the next photo of a shoot): its scaled copy goes, the scaled
    // background stays for it.
    void forgetForeground() { foreground.clear(); }
};

// The background photo as the composite draws it: its decode converted to Format_ARGB32 once,
// so that every composite over it (every drag step, every photo of a batch) reuses it.
QImage backgroundLayer(const QImage& decoded);

// Where everything goes on the canvas for one set of inputs.
struct CompositeLayout {
    QImage foreground;  // sized foreground as drawn (may be null: nothing of it is drawn)
    QImage background;  // background as drawn
    QSize canvasSize;
    QPoint backgroundPos;
    QPoint foregroundPos;
    QImage overlay;  // the overlay fitted to the canvas (null: none)
    QPoint overlayPos;
};

// Works out the layers, canvas and positions of the non-transparent composite; the background
// and overlay layers are in the keyed image's colour space (see inColorSpace). Returns false
// when no composite can be built: a null input, an empty canvas, an empty preview frame, or a
// size that does not fit in 32 bits. A null `overlay` lays nothing on top.
bool layoutComposite(const QImage& background, const QImage& keyed, int x, int y,
                     const ComposeSettings& s, ComposeCache* cache, CompositeLayout* out,
                     const QImage& overlay = QImage());

// The full-resolution composite, in the keyed image's colour space and print resolution.
// Transparent case: the keyed image itself, unchanged. Otherwise a Format_ARGB32_Premultiplied
// canvas: transparent, background drawn source-over at its aligned position, foreground drawn
// source-over at the offset scaled from the preview frame, then the overlay (see overlay.h)
// source-over on top. A null input in the non-transparent case, or an empty canvas, gives a null
// image. With an overlay the transparent case is the keyed image with the overlay laid over it,
// as a Format_ARGB32_Premultiplied canvas of the keyed image's size.
QImage createComposite(const QImage& background, const QImage& keyed, int x, int y,
                       bool transparent, const ComposeSettings& s, ComposeCache* cache = nullptr,
                       const QImage& overlay = QImage());

// createComposite for a caller that is done with `keyed` (the batch tool, one photo at a time):
// the same pixels, built in keyed's own buffer where the canvas is the keyed image unscaled
// (subject size 100 %, canvas the foreground's or a background of the same size), so that no
// third full-size image is held. Otherwise it is createComposite itself.
QImage createCompositeInPlace(const QImage& background, QImage&& keyed, int x, int y,
                              bool transparent, const ComposeSettings& s,
                              ComposeCache* cache = nullptr);

// What a drag step shows: bit-identical to
//   createComposite(...).scaled(s.previewSize, Qt::IgnoreAspectRatio, Qt::FastTransformation)
// (null when that is null), but only the composite pixels that the nearest-pixel scaling samples
// are computed.
QImage dragPreview(const QImage& background, const QImage& keyed, int x, int y, bool transparent,
                   const ComposeSettings& s, ComposeCache* cache = nullptr,
                   const QImage& overlay = QImage());

// What a release or refresh shows: the composite fitted into the preview frame, proportions kept,
// smooth scaling. Null for a null composite.
QImage fitPreview(const QImage& composite, const QSize& previewSize);

}  // namespace compose
