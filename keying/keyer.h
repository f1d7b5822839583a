// The keying engine: ten keyers that make the backdrop of a photo transparent, in place.
// Keyed-out pixels become 0x00000000; kept pixels keep colour and alpha; spill-corrected
// pixels are rewritten as each keyer says. Every keyer first converts the image to
// QImage::Format_ARGB32.
#pragma once

#include <QImage>

namespace keying {

// The colour of the studio backdrop to key out.
enum class Backdrop { Green, Blue };

struct KeySettings {
    int magic = 9;              // Magic Number 1..10 selects the keyer
    int fine = 0;               // "Fine tuning" -100..100
    int coarse = 0;             // coarse tuning -100..100
    int spill = 0;              // spill strength 0..40
    bool correctSpill = false;  // "Correct spill over"
    Backdrop backdrop = Backdrop::Green;
    // With a backdrop plate (Magic Number 10): the subject's shadow is kept, as black whose
    // alpha is the darkening, instead of keyed out.
    bool keepShadows = false;
};

// Key colour of a rotated photo: pixel (3, 3), or (min(3, w - 1), min(3, h - 1)) for a photo
// narrower or lower than 4 pixels, as 0xAARRGGBB of the pixel converted to Format_ARGB32;
// 0 for an empty image.
QRgb keyColourOf(const QImage& img);

void maskOut(QImage& img, QRgb key, const KeySettings& s);    // Magic 1: ratio test
void maskOut3(QImage& img, QRgb key, const KeySettings& s);   // Magic 2: Cb-Cr distance ramp
void maskOut4(QImage& img, QRgb key, const KeySettings& s);   // Magic 3: ratio test, wider
void maskOut5(QImage& img, QRgb key, const KeySettings& s);   // Magic 4: RGB distance 30
void maskOut6(QImage& img, QRgb key, const KeySettings& s);   // Magic 5: RGB distance 10
void maskOut7(QImage& img, QRgb key, const KeySettings& s);   // Magic 6: YCbCr box
void maskOut8(QImage& img, QRgb key, const KeySettings& s);   // Magic 7: HSV near the key
void maskOut9(QImage& img, QRgb key, const KeySettings& s);   // Magic 8: fixed green bands
void maskOut10(QImage& img, QRgb key, const KeySettings& s);  // Magic 9: estimated backdrop
// Magic 10: soft alpha against a backdrop estimated locally across the frame; partly covered
// pixels have the backdrop tint taken out. Positive `fine` keys out more of the edges.
void maskOutSoft(QImage& img, QRgb key, const KeySettings& s);

// What a keyer found that the user should hear of.
struct KeyNotes {
    // The photo shows no backdrop of the chosen colour to key against (a grey sheet, a frame
    // all subject): the soft key left it as it was.
    bool noBackdrop = false;
};

// The soft key with its notes; maskOutSoft drops them.
KeyNotes keySoft(QImage& img, const KeySettings& s);

// The words for a photo's notes ("" when there are none), to follow its file name.
QString keyNotesText(const KeyNotes& notes);

using Keyer = void (*)(QImage&, QRgb, const KeySettings&);

// The keyer of a Magic Number, or nullptr outside 1..10.
Keyer keyerFor(int magic);

// Runs the keyer that s.magic selects; any other value, or an empty image, runs none.
// A keyer whose working buffers cannot be had throws std::bad_alloc.
KeyNotes keyImage(QImage& img, QRgb key, const KeySettings& s);

// Bytes the keyer of `magic` holds beside the image while keying one of `size` pixels: the soft
// keyer's float rows and grid; the others key in place.
qint64 keyerWorkingBytes(int magic, QSize size);

// For tests of the callers: keying an image exactly `width` pixels wide fails as a failed
// allocation of the keyer's buffers does. 0 (the default) turns it off.
void failKeyerBuffersAtWidth(int width);

}  // namespace keying
