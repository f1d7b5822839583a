// Deliberately plain keyers: one pixel() and at most one setPixel() per pixel, the colour
// conversions done per pixel exactly as the keying rules read. The engine's fast keyers are
// checked against these, and the benchmark uses refMaskOut10 as its baseline.
#pragma once

#include <QImage>

#include "keying/keyer.h"

namespace reference {

struct Hsv {
    int h, s, v;
};
Hsv toHsv(QRgb c);
QRgb fromHsv(int h, int s, int v, int alpha);

int rgb2y(int r, int g, int b);
int rgb2cb(int r, int g, int b);
int rgb2cr(int r, int g, int b);

void maskOut(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut3(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut4(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut5(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut6(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut7(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut8(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut9(QImage& img, QRgb key, const keying::KeySettings& s);
void maskOut10(QImage& img, QRgb key, const keying::KeySettings& s);

// The reference keyer of a Magic Number 1..9.
keying::Keyer keyerFor(int magic);

}  // namespace reference
