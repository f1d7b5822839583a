// Full-range BT.601 (JFIF) YCbCr of 8-bit RGB, unclamped, and the two closeness tests of
// the YCbCr keyers.
#pragma once

namespace keying {

int rgb2y(int red, int green, int blue);
int rgb2cb(int red, int green, int blue);  // 1..256
int rgb2cr(int red, int green, int blue);  // 1..256

// 0.0 inside the inner radius around the key's chroma, 1.0 at or beyond the outer radius,
// linear in between.
double isGreen(int pixelCb, int pixelCr, int keyCb, int keyCr, int innerRadius, int outerRadius);

// 1.0 when the pixel lies strictly inside the box chroma + 8 (Cb, Cr) and luma + 38 (Y)
// around the key colour, else 0.0.
double isGreen2(int pixelY, int pixelCb, int pixelCr, int keyY, int keyCb, int keyCr,
                int chromaAllowance, int lumaAllowance);

}  // namespace keying
