#include "keying/soft/kernel.h"

#include <algorithm>
#include <cmath>

#include "keying/pixels.h"

namespace keying::soft {

// Plain selects, unlike std::clamp's references and branches, keep the loops vectorised.
inline __attribute__((always_inline)) float minf(float a, float b) {
    return a < b ? a : b;
}
inline __attribute__((always_inline)) float maxf(float a, float b) {
    return a > b ? a : b;
}
inline __attribute__((always_inline)) float clampf(float v, float lo, float hi) {
    return minf(maxf(v, lo), hi);
}
inline __attribute__((always_inline)) int maxi(int a, int b) {
    return a > b ? a : b;
}

// The fields on the centre line of grid row j.
void lineAt(const Grid& g, int j, float* line) {
    for (int i = 0; i < g.w; ++i) {
        const Cell& a = g.cells[size_t(j) * g.w + i];
        const float v[kRaw] = {a.r, a.k, a.o, a.sr, a.sk, a.so, a.sy};
        std::copy(v, v + kRaw, line + i * kRaw);
    }
}

// The fields over one block of kStride pixels: linear in x between block centres, so a value
// at the block's first pixel and a slope per pixel carry them; the block centre picks the
// pair of cells. `inv0` is the reciprocal of the key's denominator at the block centre.
struct BlockFields {
    float at[kRaw];
    float slope[kRaw];
    float inv0;
    float invNeutral0;  // the same for the classic key's denominator
};

// The excess weights and the key's denominator for one set of fields.
struct KeyTerms {
    float wr, ke, den;
};

inline __attribute__((always_inline)) KeyTerms keyTerms(float fr, float fk, float fo, float sr,
                                                        float sk, float so, const KeyLimits& kl) {
    const float wr = clampf(0.5f + (sr - so) * kl.invSpan, 0.0f, 1.0f);
    const float ke = maxf(kl.minKey, weightedExcess(fr, fk, fo, wr));
    const float fe = clampf(weightedExcess(sr, sk, so, wr), kl.low * ke, kl.high * ke);
    return {wr, ke, ke - fe};
}

std::vector<BlockPlace> blockPlaces(const Grid& g, int blocks) {
    std::vector<BlockPlace> out(static_cast<size_t>(blocks));
    const float step = 1.0f / float(g.size);
    for (int n = 0; n < blocks; ++n) {
        // Past the outermost block centres the field is extrapolated, so a fall-off
        // continues to the frame's edge.
        const float centre = float(n * kStride) + 0.5f * float(kStride - 1);
        const float fx = (centre + 0.5f) * step - 0.5f;
        const int i0 = std::clamp(int(std::floor(fx)), 0, std::max(0, g.w - 2));
        const int i1 = std::min(i0 + 1, g.w - 1);
        out[size_t(n)] = {i0, i1, i1 > i0 ? fx - float(i0) : 0.0f, i1 > i0 ? step : 0.0f};
    }
    return out;
}

// The at and slope planes from the fields on one line.
void rowBlocks(const float* line, const std::vector<BlockPlace>& places, float* out) {
    const size_t m = places.size();
    for (size_t n = 0; n < m; ++n) {
        const BlockPlace& p = places[n];
        for (int c = 0; c < kRaw; ++c) {
            const float a = line[p.i0 * kRaw + c], d = line[p.i1 * kRaw + c] - a;
            const float slope = d * p.perPixel;
            out[size_t(c) * m + n] = a + d * p.t - slope * 0.5f * float(kStride - 1);
            out[size_t(kRaw + c) * m + n] = slope;
        }
    }
}

// The inv0 and invNeutral0 planes from the at and slope planes before them.
inline __attribute__((always_inline)) void blockReciprocals(const float* __restrict planes,
                                                            size_t m, const KeyLimits& kl,
                                                            float* __restrict inv,
                                                            float* __restrict invNeutral) {
    const float half = 0.5f * float(kStride - 1);
    for (size_t n = 0; n < m; ++n) {
        float mid[6];
        for (int c = 0; c < 6; ++c) {
            mid[c] = planes[size_t(c) * m + n] + planes[size_t(kRaw + c) * m + n] * half;
        }
        inv[n] = 1.0f / keyTerms(mid[0], mid[1], mid[2], mid[3], mid[4], mid[5], kl).den;
        invNeutral[n] = 1.0f / maxf(kl.minKey, meanExcess(mid[0], mid[1], mid[2]));
    }
}

// The planes of one photo row between two grid rows' centre lines: at and slope are linear in
// the row, as the fields are, so each pair of grid rows is read from the cells once.
KEYING_KERNEL void lerpBlocks(const float* __restrict from, const float* __restrict to, float t,
                              size_t m, KeyLimits kl, float* __restrict out) {
    for (size_t f = 0; f < size_t(2 * kRaw) * m; ++f) {
        out[f] = from[f] + (to[f] - from[f]) * t;
    }
    blockReciprocals(out, m, kl, out + size_t(2 * kRaw) * m, out + size_t(2 * kRaw + 1) * m);
}

// One block of kStride pixels: alpha, the unmixing, the output.
//
// The excess weighs the two other channels as the subject nearby does: against its larger
// one (k - r for skin, k - o for a blue shirt), so that a yellow or cyan subject is still
// far from the backdrop, yet linear, so that a mix of subject and backdrop keeps its ratio.
//
// Chroma often comes at half resolution (JPEG); luma keeps the fine detail. So the finest
// detail of the colour-difference alpha is swapped for that of a luma alpha, scaled by the
// luma step from backdrop to subject and damped where that step is too small to trust.
// Where chroma has full resolution the two agree and the swap changes nothing.
//
// The luma detail only counts where the chroma says the pixel is mixed, so a block that the
// chroma alone puts wholly on the backdrop or wholly in the subject skips it.
template <bool Blue>
inline __attribute__((always_inline)) void softBlock(quint32* __restrict px, int x,
                                                     const BlockFields& bf, RowPlanes pl,
                                                     Shape sh) {
    float fr[kStride], fk[kStride], fo[kStride], wr[kStride], gain[kStride], chroma[kStride];
    float sy[kStride], sd[kStride], pastNeutral[kStride], room[kStride];
    int r[kStride], k[kStride], o[kStride];
    for (int i = 0; i < kStride; ++i) {
        const float t = float(i);
        fr[i] = bf.at[0] + bf.slope[0] * t;
        fk[i] = bf.at[1] + bf.slope[1] * t;
        fo[i] = bf.at[2] + bf.slope[2] * t;
        const float sr = bf.at[3] + bf.slope[3] * t, sk = bf.at[4] + bf.slope[4] * t;
        const float so = bf.at[5] + bf.slope[5] * t;
        sy[i] = bf.at[6] + bf.slope[6] * t;
        sd[i] = sr - so;
        pastNeutral[i] = sk < minf(sr, so) ? 1.0f : 0.0f;
        room[i] = maxf(0.0f, sk - maxf(sr, so));
        const KeyTerms kt = keyTerms(fr[i], fk[i], fo[i], sr, sk, so, sh.limits);
        wr[i] = kt.wr;
        // The denominator changes slowly: one Newton step from the block centre's reciprocal.
        gain[i] = bf.inv0 * (2.0f - bf.inv0 * kt.den);

        const quint32 p = px[i];
        r[i] = int((p >> 16) & 0xff);
        const int g = int((p >> 8) & 0xff), b = int(p & 0xff);
        k[i] = Blue ? b : g, o[i] = Blue ? g : b;
        const float e = weightedExcess(float(r[i]), float(k[i]), float(o[i]), wr[i]);
        chroma[i] = (kt.ke - e) * gain[i];
    }
    // Kept apart from the loop above, which then stays vectorised.
    float least = chroma[0], most = chroma[0];
    for (int i = 1; i < kStride; ++i) {
        least = minf(least, chroma[i]), most = maxf(most, chroma[i]);
    }
    const bool clear = most <= sh.clearBelow, solid = least >= sh.solidAbove;
    if (clear) {
        for (int i = 0; i < kStride; ++i) {
            px[i] = 0u;
        }
        return;
    }
    if (solid) {
        for (int i = 0; i < kStride; ++i) {
            const int excess = maxi(0, clearExcess(r[i], k[i], o[i]));
            const int kOpaque = k[i] - int(float(excess) * sh.opaqueDespill + 0.5f);
            const quint32 outG = quint32(Blue ? o[i] : kOpaque),
                          outB = quint32(Blue ? kOpaque : o[i]);
            px[i] = (px[i] & 0xff000000u) | (quint32(r[i]) << 16) | (outG << 8) | outB;
        }
        return;
    }
    const Luma l = sh.luma;
    const float* mr = pl.mid + x;
    const float* mk = mr + pl.padded;
    const float* mo = mk + pl.padded;
    const float* sr = pl.sum + x;
    const float* sk = sr + pl.summed;
    const float* so = sk + pl.summed;
    auto detail = [](const float* m, const float* s, int i) {
        return m[i] - (s[i] + 4.0f * s[i + 1] + 6.0f * s[i + 2] + 4.0f * s[i + 3] + s[i + 4]) *
                          (1.0f / 256.0f);
    };
    for (int i = 0; i < kStride; ++i) {
        const float hr = detail(mr, sr, i), hk = detail(mk, sk, i), ho = detail(mo, so, i);
        const float yK = l.r * fr[i] + l.k * fk[i] + l.o * fo[i];
        const float hy = l.r * hr + l.k * hk + l.o * ho;
        const float he = hk - wr[i] * hr - (1.0f - wr[i]) * ho;
        // Beside a part of another colour (glass by its label) the subject field can be wrong
        // for the pixel. The excess leaves the difference of the two other channels free: the
        // neutral subject of the classic key is taken instead where it explains that better.
        const float ke0 = maxf(sh.limits.minKey, meanExcess(fr[i], fk[i], fo[i]));
        const float neutral = (ke0 - float(k[i]) + 0.5f * float(r[i] + o[i])) * bf.invNeutral0 *
                              (2.0f - bf.invNeutral0 * ke0);
        const float dK = fr[i] - fo[i], dP = float(r[i] - o[i]);
        const float offNeutral = std::fabs(dP - (1.0f - neutral) * dK);
        const float offField = std::fabs(dP - chroma[i] * sd[i] - (1.0f - chroma[i]) * dK);
        const float ch = offNeutral + sh.neutralMargin < offField ? neutral : chroma[i];
        const float c = clampf(ch, 0.0f, 1.0f);
        const float mixed = minf(1.0f, sh.mixedGain * c * (1.0f - c));
        // The luma step from backdrop to subject: the pixel's own where its alpha at the
        // blur's resolution (the chroma alpha less its detail) is large enough to tell it, as
        // a subject's colours vary (four leaves, a strand lighter than its head); the field's
        // where it is not. Both sides of the ratio are blurred alike, so with full-resolution
        // chroma the swap still changes nothing.
        const float yB = l.r * mr[i] + l.k * mk[i] + l.o * mo[i] - hy;
        const float cB = clampf(ch + he * gain[i], 0.0f, 1.0f);
        // The step is n / d; the swap below, step (hy + he gain step) / (step^2 + 500), is
        // written over n and d so that one division does.
        const float n = cB * (yB - yK) + sh.lumaPrior * (sy[i] - yK), d = cB * cB + sh.lumaPrior;
        // The detail chroma lacks is added 1.15 times over: JPEG softens luma's finest detail
        // a little too.
        const float raw = ch + sh.lumaGain * mixed * n * (hy * d + he * gain[i] * n) /
                                   (n * n + sh.lumaDamp * d * d);
        // Where the chroma is smooth (a smeared rim, glass) a mix keeps its level: only the
        // last 5% at either end goes, at twice the slope, as noise. Where it carries fine
        // detail (strands), half-resolution chroma and noise spread alpha into the gaps, and
        // the plain ramp that takes 5% off both ends takes that back.
        const float low = (raw - sh.lo) * sh.smoothSlope;
        const float smooth = maxf(minf(low, raw - sh.lo + sh.noiseFloor), low - sh.smoothReach);
        const float ramp = (raw - sh.lo) * sh.scale;
        const float detailed = minf(1.0f, std::fabs(he * gain[i]) * sh.detailGain);
        const float a = clampf(smooth + (ramp - smooth) * detailed, 0.0f, 1.0f);
        const int a8 = int(a * 255.0f + 0.5f);
        // Unmix with the stored alpha, so what is written composes back to the photo.
        const float a8f = float(a8 > 1 ? a8 : 1);
        const float inv = 255.0f / a8f, restLow = 1.0f - a8f * (1.0f / 255.0f);
        const float ur = clampf((float(r[i]) - restLow * fr[i]) * inv, 0.0f, 255.0f);
        const float uk = clampf((float(k[i]) - restLow * fk[i]) * inv, 0.0f, 255.0f);
        const float uo = clampf((float(o[i]) - restLow * fo[i]) * inv, 0.0f, 255.0f);
        // Whatever key colour is left beyond the subject's own (a navy shirt keeps its blue)
        // goes, down to neutral but not past it into the opposite hue (a white collar turned
        // pink), unless the subject nearby is of that hue itself.
        const float ukClipped =
            maxf(minf(uk, maxf(ur, uo) + room[i]), minf(ur, uo) * (1.0f - pastNeutral[i]));
        // An opaque pixel keeps its colour unless spill correction asks otherwise.
        const int excess = maxi(0, clearExcess(r[i], k[i], o[i]));
        const int kOpaque = k[i] - int(float(excess) * sh.opaqueDespill + 0.5f);
        const int opaque = a8 >= 255;
        const int outR = opaque ? r[i] : int(ur + 0.5f);
        const int outK = opaque ? kOpaque : int(ukClipped + 0.5f);
        const int outO = opaque ? o[i] : int(uo + 0.5f);
        const int outA = opaque ? int(px[i] >> 24) : a8;
        const int outG = Blue ? outO : outK, outB = Blue ? outK : outO;
        const quint32 q =
            (quint32(outA) << 24) | (quint32(outR) << 16) | (quint32(outG) << 8) | quint32(outB);
        px[i] = a8 <= 0 ? 0u : q;
    }
}

// A row of w pixels; the planes are padded to whole blocks.
template <bool Blue>
inline __attribute__((always_inline)) void softRowBody(quint32* px, int w,
                                                       const float* __restrict fields, RowPlanes pl,
                                                       Shape sh) {
    const int whole = w / kStride;
    const size_t m = size_t((w + kStride - 1) / kStride);
    auto at = [&](int n) {
        BlockFields bf;
        for (int c = 0; c < kRaw; ++c) {
            bf.at[c] = fields[size_t(c) * m + size_t(n)];
            bf.slope[c] = fields[size_t(kRaw + c) * m + size_t(n)];
        }
        bf.inv0 = fields[size_t(2 * kRaw) * m + size_t(n)];
        bf.invNeutral0 = fields[size_t(2 * kRaw + 1) * m + size_t(n)];
        return bf;
    };
    for (int n = 0; n < whole; ++n) {
        softBlock<Blue>(px + n * kStride, n * kStride, at(n), pl, sh);
    }
    if (const int rest = w - whole * kStride; rest > 0) {
        quint32 tail[kStride] = {};
        std::copy(px + whole * kStride, px + w, tail);
        softBlock<Blue>(tail, whole * kStride, at(whole), pl, sh);
        std::copy(tail, tail + rest, px + whole * kStride);
    }
}

KEYING_KERNEL static void softRowGreen(quint32* px, int w, const float* blocks, RowPlanes pl,
                                       Shape sh) {
    softRowBody<false>(px, w, blocks, pl, sh);
}

KEYING_KERNEL static void softRowBlue(quint32* px, int w, const float* blocks, RowPlanes pl,
                                      Shape sh) {
    softRowBody<true>(px, w, blocks, pl, sh);
}

// The three channels of a row as floats, one plane each: r, k, o.
KEYING_KERNEL void channelRow(const quint32* __restrict px, float* __restrict out, int n,
                              int padded, bool blue) {
    float* __restrict r = out;
    float* __restrict k = out + padded;
    float* __restrict o = out + 2 * padded;
    const int ks = blue ? 0 : 8, os = blue ? 8 : 0;
    for (int i = 0; i < n; ++i) {
        const quint32 p = px[i];
        r[i] = float((p >> 16) & 0xff);
        k[i] = float((p >> ks) & 0xff);
        o[i] = float((p >> os) & 0xff);
    }
}

// A channel's sum down [1 4 6 4 1], for the blur that the detail takes off (the same across):
// wider than the blur of JPEG's half-resolution chroma, so that the swap reaches all of it.
// `sum` has two spare elements at each end, copies of the outermost pixels.
KEYING_KERNEL void columnSumRow(const float* __restrict a, const float* __restrict b,
                                const float* __restrict c, const float* __restrict d,
                                const float* __restrict e, float* __restrict sum, int n) {
    for (int i = 0; i < n; ++i) {
        sum[i + 2] = a[i] + e[i] + 4.0f * (b[i] + d[i]) + 6.0f * c[i];
    }
    sum[0] = sum[1] = sum[2], sum[n + 3] = sum[n + 2] = sum[n + 1];
}

void softRow(quint32* px, int w, const float* blocks, RowPlanes pl, const Shape& sh, bool blue) {
    (blue ? softRowBlue : softRowGreen)(px, w, blocks, pl, sh);
}

Shape makeShape(const SoftKeyParams& p, int fine, bool correctSpill, int spill, bool blue) {
    // Positive fine tuning raises the threshold: more of the backdrop-like edge is keyed out.
    const float shift = float(p.fineStep) * float(std::clamp(fine, -100, 100));
    Shape sh;
    sh.lo = float(p.noiseFloor) + shift;   // above the backdrop's noise
    sh.scale = 1.0f / float(p.rampWidth);  // opaque from lo + width up; a half mix stays half
    sh.opaqueDespill =
        correctSpill ? float(p.despillBase) + float(std::clamp(spill, 0, 40)) / float(p.despillSpan)
                     : 0.0f;
    sh.luma = lumaWeights(blue);
    // A block whose chroma alone puts it at either end of the ramp is taken whole as clear or
    // solid, luma detail unread: in the backdrop that detail is noise, and inside the subject
    // (whose field holds its most subject-like colour, so that most of it reads a little
    // under 1) it is texture, not a strand.
    sh.clearBelow = sh.lo;
    sh.solidAbove = sh.lo + 1.0f / sh.scale;
    sh.noiseFloor = float(p.noiseFloor);
    sh.smoothSlope = float(p.smoothSlope);
    sh.smoothReach = float(p.smoothReach);
    sh.detailGain = float(p.detailGain);
    sh.neutralMargin = float(p.neutralMargin);
    sh.mixedGain = float(p.mixedGain);
    sh.lumaPrior = float(p.lumaPrior);
    sh.lumaDamp = float(p.lumaDamp);
    sh.lumaGain = float(p.lumaGain);
    sh.limits = {1.0f / float(p.weightSpan), float(p.minKeyExcess), float(p.subjectExcessLow),
                 float(p.subjectExcessHigh)};
    return sh;
}

}  // namespace keying::soft
