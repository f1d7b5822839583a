// What every stage reads of a photo: its rows as 0xAARRGGBB, split into red, the key channel
// (green or blue) and the other one, and the three kinds of "excess" of the key channel over
// the others that the stages measure.
#pragma once

#include <QtGlobal>
#include <algorithm>

namespace keying::soft {

// A read-only view of a Format_ARGB32 photo.
struct Photo {
    const uchar* bits = nullptr;
    int width = 0, height = 0;
    qsizetype bytesPerLine = 0;
    const quint32* row(int y) const {
        return reinterpret_cast<const quint32*>(bits + qsizetype(y) * bytesPerLine);
    }
};

struct Channels {
    int r, k, o;  // red, the key channel, the other one
};

inline Channels split(quint32 p, bool blue) {
    const int r = int((p >> 16) & 0xff), g = int((p >> 8) & 0xff), b = int(p & 0xff);
    return blue ? Channels{r, b, g} : Channels{r, g, b};
}

// How clearly a colour is the key's: the key channel over the larger other. Zero or below
// for anything that is not key-coloured at all; it does not mix linearly.
template <class T>
inline T clearExcess(T r, T k, T o) {
    return k - std::max(r, o);
}

// The key channel over the mean of the others: mixes linearly, blind to the difference of
// the two other channels.
inline float meanExcess(float r, float k, float o) {
    return k - 0.5f * (r + o);
}

// The same, doubled, in whole levels of integer channels.
inline int doubledMeanExcess(int r, int k, int o) {
    return 2 * k - r - o;
}

// The key channel over the others weighed as a subject weighs them (wr for red, 1 - wr for
// the other): mixes linearly, and far from the backdrop for a subject of either hue.
inline float weightedExcess(float r, float k, float o, float wr) {
    return k - wr * r - (1.0f - wr) * o;
}

struct Luma {
    float r, k, o;
};

inline Luma lumaWeights(bool blue) {
    return blue ? Luma{0.299f, 0.114f, 0.587f} : Luma{0.299f, 0.587f, 0.114f};
}

inline float lumaOf(const Luma& l, float r, float k, float o) {
    return l.r * r + l.k * k + l.o * o;
}

}  // namespace keying::soft
