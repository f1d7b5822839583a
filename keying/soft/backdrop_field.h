// Backdrop field, measured: each cell's backdrop colour is the mean of its samples whose share
// of excess in the key channel is clearly the backdrop's (that share holds through fall-off
// and shadow), kept to those near the cell's highest excess, so faint mixes do not darken it.
#pragma once

#include <vector>

#include "keying/soft/channels.h"
#include "keying/soft/grid.h"

namespace keying::soft {

// The backdrop's share of the key channel (clear excess / key) typical of the photo: a high
// quantile of clearly key-coloured samples, so it holds with half the frame taken by the
// subject; negative where no sample is key-coloured.
float typicalBackdropRatio(const Photo& img, bool blue, const SoftKeyParams& p);

// Rows of samples a cell's estimate reads: every step-th row and column.
int sampleStep(const Grid& g, const SoftKeyParams& p);

// Writes the backdrop colour of every cell it can measure; returns which it measured. With
// `typical` the photo's typical share (see typicalBackdropRatio).
std::vector<char> measureBackdrop(const Photo& img, bool blue, float typical, Grid& g,
                                  const SoftKeyParams& p);

// A cell's mean colour over all its samples, and whether it is flat: nearly all of its
// samples lie close to that mean (no edge, no strand, no texture crosses it).
struct CellMean {
    float r = 0, k = 0, o = 0;
    bool flat = false;
};
std::vector<CellMean> cellMeans(const Photo& img, bool blue, const Grid& g, int step,
                                const SoftKeyParams& p);

// The backdrop measured by its share of excess misses the parts of a pale or drifting screen
// whose share falls below the photo's typical one. Lighting changes a backdrop smoothly, a
// subject's edge does not: from each flat measured cell, flat neighbours of the key's colour
// within a small step of it are backdrop too, and so on outwards. An edge between subject and
// backdrop makes the cells it crosses not flat, so the growth stops there.
void growBackdrop(Grid& g, std::vector<char>& measured, const std::vector<CellMean>& means,
                  const SoftKeyParams& p);

// The regions of flat cells joined by the steps of lighting (see growBackdrop): the index of
// each cell's region, -1 for a cell that is not flat.
std::vector<int> smoothRegions(const Grid& g, const std::vector<CellMean>& means,
                               const SoftKeyParams& p);

// Cells measured as backdrop that are a subject of a colour near the key but darker (navy on
// blue): darker than clear backdrop beside it by a step that lighting does not make, and of another
// colour, where shadow and fall-off keep it; with the cells of the same colour joined to
// them. They are taken out of `measured`; returns them.
std::vector<char> darkSubjectCells(const Grid& g, std::vector<char>& measured, float typical,
                                   const std::vector<CellMean>& means, const SoftKeyParams& p);

// Measured cells that are a subject of more key colour than the screen (a bright leaf before
// a pale sheet): a cell's measured backdrop is its samples of the highest excess, which there
// are the subject's. Such a cell's share of excess stands above that of the flat measured
// cells beside it by more than lighting moves it; it is taken out of `measured`.
void dropKeyierSubjects(const Grid& g, std::vector<char>& measured,
                        const std::vector<CellMean>& means, const SoftKeyParams& p);

// Whether the photo shows a backdrop to key at all: a typical share that clears the test of a
// key colour, and enough cells measured. A grey sheet, or a frame all subject, does not.
bool usableBackdrop(float typical, const std::vector<char>& measured, const SoftKeyParams& p);

// Calls f(Channels) for every step-th sample of cell (bx, by).
template <class F>
void visitCell(const Photo& img, const Grid& g, int bx, int by, int step, bool blue, F&& f) {
    const int x1 = std::min(img.width, (bx + 1) * g.size);
    const int y1 = std::min(img.height, (by + 1) * g.size);
    for (int y = by * g.size; y < y1; y += step) {
        const quint32* row = img.row(y);
        for (int x = bx * g.size; x < x1; x += step) {
            f(split(row[x], blue));
        }
    }
}

}  // namespace keying::soft
