// Magic Number 10: a soft key against a backdrop estimated locally across the frame.
//
// The stages, each in a source of its own: the backdrop field measured on a coarse grid and
// grown over the flat parts of the screen that lighting joins to it,
// filled in where the subject covers it and read through see-through patches; the subject
// field; the luma step for the detail; then the per-pixel kernel over the photo's rows.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/rows.h"
#include "keying/keyer.h"
#include "keying/pixels.h"
#include "keying/soft/backdrop_field.h"
#include "keying/soft/fill_in.h"
#include "keying/soft/kernel.h"
#include "keying/soft/luma_detail.h"
#include "keying/soft/see_through.h"
#include "keying/soft/soft_key.h"
#include "keying/soft/subject_field.h"

namespace keying {

namespace soft {

Fields estimateFields(const Photo& img, bool blue, const SoftKeyParams& p) {
    Fields f;
    Grid& g = f.grid;
    g = makeGrid(img.width, img.height, p);
    const int step = sampleStep(g, p);
    const float typical = typicalBackdropRatio(img, blue, p);
    std::vector<char> measured = measureBackdrop(img, blue, typical, g, p);
    const std::vector<CellMean> means = cellMeans(img, blue, g, step, p);
    growBackdrop(g, measured, means, p);
    dropKeyierSubjects(g, measured, means, p);
    const std::vector<char> dark = darkSubjectCells(g, measured, typical, means, p);
    f.usable = usableBackdrop(typical, measured, p);
    if (!f.usable) {
        return f;
    }
    fillBackdrop(g, measured, p);
    std::vector<char> keyLike = solidSubjectCells(g, measured, means, p);
    for (size_t i = 0; i < keyLike.size(); ++i) {
        keyLike[i] = keyLike[i] || dark[i];
    }
    seeThrough(g, measured, img, blue, step, p);
    subjectField(img, blue, g, step, keyLike, p);
    lumaSteps(img, blue, g, p);
    sanitiseFields(g, float(p.neutralSubject));
    return f;
}

void keyRows(QImage& img, const Grid& grid, const Shape& sh, bool blue) {
    const int w = img.width(), h = img.height();
    const int padded = (w + kStride - 1) / kStride * kStride;
    const int blocks = padded / kStride;
    const int summed = padded + 4;
    uchar* bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();
    auto rowAt = [&](int y) { return reinterpret_cast<quint32*>(bits + qsizetype(y) * bpl); };
    // The detail needs the photo's two rows above and below, but each band rewrites its rows
    // in place: first every band keeps the channels of its first two and last two rows.
    const std::vector<core::RowBand> bands = core::rowBands(h, w);
    const std::vector<BlockPlace> places = blockPlaces(grid, blocks);
    const size_t plane = size_t(padded) * 3;  // one row's three channels
    auto kept = [&](const core::RowBand& b, int slot) {
        return slot < 2 ? std::min(b.first + slot, b.last - 1)
                        : std::max(b.first, b.last + slot - 4);
    };
    std::vector<float> edges(bands.size() * 4 * plane);
    core::runBands(bands, [&](size_t i, const core::RowBand& b) {
        for (int slot = 0; slot < 4; ++slot) {
            channelRow(rowAt(kept(b, slot)), &edges[(4 * i + size_t(slot)) * plane], w, padded,
                       blue);
        }
    });
    // Row r of another band, as it was: one of the rows that band kept.
    auto keptRow = [&](int r) -> const float* {
        const auto j =
            size_t(std::upper_bound(bands.begin(), bands.end(), r,
                                    [](int v, const core::RowBand& b) { return v < b.first; }) -
                   bands.begin() - 1);
        int slot = 0;
        while (slot < 3 && kept(bands[j], slot) != r) {
            ++slot;
        }
        return &edges[(4 * j + size_t(slot)) * plane];
    };
    core::runBands(bands, [&](size_t, const core::RowBand& b) {
        std::vector<float> buf(plane * 5 + size_t(summed) * 3);
        std::vector<float> line(size_t(grid.w) * kRaw);
        const size_t planes = size_t(kPlanes) * size_t(blocks);
        std::vector<float> fields(planes), from(planes), to(planes);
        int pair = -1;  // the grid row that `from` holds
        float* sum = buf.data() + plane * 5;
        // Rows y - 2 to y + 2 in turn, each in the slot of its index modulo 5; past the
        // photo's edges the outermost row repeats. Rows of this band are read before it
        // rewrites them, as none is read ahead of y.
        auto slotOf = [&](int index) { return buf.data() + size_t((index % 5 + 5) % 5) * plane; };
        auto load = [&](int index) {
            const int r = std::clamp(index, 0, h - 1);
            if (r >= b.first && r < b.last) {
                channelRow(rowAt(r), slotOf(index), w, padded, blue);
            } else {
                const float* from = keptRow(r);
                std::copy(from, from + plane, slotOf(index));
            }
        };
        for (int index = b.first - 2; index < b.first + 2; ++index) {
            load(index);
        }
        for (int y = b.first; y < b.last; ++y) {
            load(y + 2);
            for (int c = 0; c < 3; ++c) {
                const size_t at = size_t(c) * padded;
                columnSumRow(slotOf(y - 2) + at, slotOf(y - 1) + at, slotOf(y) + at,
                             slotOf(y + 1) + at, slotOf(y + 2) + at, sum + size_t(c) * summed, w);
            }
            // Past the outermost grid rows' centres the fields are extrapolated, as across.
            const float fy = (float(y) + 0.5f) / float(grid.size) - 0.5f;
            const int j0 = std::clamp(int(std::floor(fy)), 0, std::max(0, grid.h - 2));
            const int j1 = std::min(j0 + 1, grid.h - 1);
            if (j0 != pair) {
                // Going down, the lower line of the last pair is the upper one of this.
                if (pair >= 0 && j0 == pair + 1) {
                    from.swap(to);
                } else {
                    lineAt(grid, j0, line.data());
                    rowBlocks(line.data(), places, from.data());
                }
                lineAt(grid, j1, line.data());
                rowBlocks(line.data(), places, to.data());
                pair = j0;
            }
            lerpBlocks(from.data(), to.data(), j1 > j0 ? fy - float(j0) : 0.0f, size_t(blocks),
                       sh.limits, fields.data());
            const RowPlanes pl{slotOf(y), sum, padded, summed};
            softRow(rowAt(y), w, fields.data(), pl, sh, blue);
        }
    });
}

KeyNotes keyWithParams(QImage& img, const KeySettings& s, const SoftKeyParams& p) {
    if (!detail::toArgb32(img)) {
        return {};
    }
    const bool blue = s.backdrop == Backdrop::Blue;
    // Detached here, so the estimate reads the very pixels that the kernel rewrites.
    const Photo photo{img.bits(), img.width(), img.height(), img.bytesPerLine()};
    const Fields f = estimateFields(photo, blue, p);
    // Against no backdrop every pixel would be some mix: better the photo as it is, said so.
    if (!f.usable) {
        return {true};
    }
    keyRows(img, f.grid, makeShape(p, s.fine, s.correctSpill, s.spill, blue), blue);
    return {};
}

}  // namespace soft

KeyNotes keySoft(QImage& img, const KeySettings& s) {
    return soft::keyWithParams(img, s, soft::SoftKeyParams{});
}

void maskOutSoft(QImage& img, QRgb, const KeySettings& s) {
    keySoft(img, s);
}

}  // namespace keying
