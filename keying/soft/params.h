// Every tuning constant of the soft key, in one table: name, default, allowed range, unit
// and meaning. The table makes both the parameter struct and the list that describes it.
#pragma once

#include <cstddef>

namespace keying::soft {

// X(name, default, least, most, unit, meaning). Values are doubles; stages that work in
// single precision take them as the nearest float.
#define MATTORA_SOFT_KEY_PARAMS(X)                                                                \
    /* grid */                                                                                    \
    X(gridCells, 64, 8, 256, "cells", "grid cells along the photo's longer side")                 \
    X(minCellPixels, 8, 4, 64, "px", "smallest cell edge")                                        \
    X(samplesPerCell, 12, 4, 64, "samples", "samples read along a cell's edge")                   \
    /* backdrop field */                                                                          \
    X(typicalMinKey, 24, 0, 128, "level", "least key channel of a sample for the typical share")  \
    X(typicalMinShare, 0.15, 0, 0.5, "share", "least excess / key of a typical-share sample")     \
    X(typicalQuantile, 0.75, 0.5, 0.95, "quantile", "quantile of the backdrop's excess share")    \
    X(typicalFallback, 0.5, 0.1, 0.9, "share", "typical share when no sample is key-coloured")    \
    X(backdropConfidence, 0.8, 0.3, 1, "x typical", "excess share that marks a sure backdrop")    \
    X(backdropMinKey, 16, 0, 128, "level", "least key channel of a backdrop sample")              \
    X(cellMinShare, 0.06, 0.01, 0.9, "share", "least share of a cell's samples to measure it")    \
    X(backdropTopOneIn, 20, 2, 100, "1 in n", "rank of the cell's top excess, from the highest")  \
    X(backdropTopRatio, 0.94, 0.5, 1, "x top", "least excess of a sample in the mean, scale")     \
    X(backdropTopSlack, 4, 0, 32, "level", "least excess of a sample in the mean, offset")        \
    X(flatTol, 24, 0, 255, "level", "most distance of a flat cell's sample from its mean")        \
    X(flatShare, 0.9, 0.5, 1, "share", "least share of a flat cell's samples near its mean")      \
    X(growHue, 0.03, 0, 0.5, "share", "most hue step from backdrop to a flat neighbour")          \
    X(anchorRatio, 0.8, 0.5, 1, "x around", "least key of a sure cell that anchors its region")   \
    X(growMinExcess, 4, -32, 64, "level", "least excess of a cell the backdrop grows into")       \
    X(growSeedShare, 0.7, 0, 1, "x backdrop", "least excess share of a seed's mean, of its own")  \
    X(keyierShare, 0.1, 0, 1, "share", "most excess share of a cell above the flat ones beside")  \
    X(minBackdropCells, 0.005, 0, 0.5, "share",                                                   \
      "least share of measured cells for a usable backdrop")                                      \
    X(usableShare, 0.17, 0, 0.9, "share", "least typical excess share of a usable backdrop")      \
    X(darkReach, 1, 1, 16, "cells", "how far a cell looks for brighter backdrop beside it")       \
    X(darkAround, 12, 1, 32, "cells", "how far a dark subject's backdrop around it reaches")      \
    X(darkSureShare, 0.95, 0.5, 1.5, "x typical", "least excess share of the backdrop beside it") \
    X(darkRatio, 0.7, 0.3, 0.95, "x brighter", "key channel below which a cell is darker")        \
    X(darkChroma, 0.08, 0.02, 0.5, "share", "colour difference from that backdrop dimmed")        \
    X(darkLevel, 64, 1, 255, "level", "least key level the colour difference is shared by")       \
    X(darkSpread, 0.05, 0, 0.5, "share", "colour difference within one dark subject")             \
    X(darkSubjectShare, 0.9, 0.1, 1, "x backdrop", "most excess of a subject sample in it")       \
    /* fill-in and its fitted refinement */                                                       \
    X(fitSigmaPerDepth, 1.4, 0.5, 4, "cells/cell", "fit window width per cell of hole depth")     \
    X(fitSigmaMin, 2, 1, 8, "cells", "narrowest fit window")                                      \
    X(fitSigmaMax, 6, 2, 16, "cells", "widest fit window")                                        \
    X(fitDampLinear, 1e-3, 0, 1, "x weight", "damping of the fit's slopes")                       \
    X(fitDampQuadratic, 0.05, 0, 1, "x weight", "damping of the fit's curvature")                 \
    X(fitBelowRing, 0.7, 0.3, 1, "x ring", "least fitted value against the ring fill")            \
    X(fitAboveRing, 1.3, 1, 3, "x ring", "most fitted value against the ring fill, scale")        \
    X(fitAboveSlack, 1, 0, 16, "level", "most fitted value against the ring fill, offset")        \
    /* see-through patches */                                                                     \
    X(layerMinKey, 16, 1, 128, "level", "least backdrop excess behind a see-through cell")        \
    X(layerMinAlpha, 0.1, 0, 0.5, "alpha", "least cover of a see-through cell")                   \
    X(layerMaxAlpha, 0.7, 0.3, 0.95, "alpha", "most cover of a see-through cell")                 \
    X(layerSpread, 0.05, 0.005, 0.3, "alpha", "most spread of cover inside the cell")             \
    X(layerMinCells, 6, 1, 100, "cells", "least cells of a see-through patch")                    \
    X(layerRimDepth, 1.5, 1, 4, "cells", "how far from measured backdrop the rim reaches")        \
    /* subject field */                                                                           \
    X(subjectMaxShare, 0.23, -0.5, 0.8, "x backdrop", "most excess of a subject sample")          \
    X(solidOffLayer, 12, 1, 128, "level",                                                         \
      "least distance of a solid from any layer over backdrop")                                   \
    X(carryShare, 0.6, 0.5, 1, "share",                                                           \
      "least share of a cell of its key-like neighbour's colour")                                 \
    X(subjectDecile, 0.1, 0, 0.5, "quantile", "rank of the most subject-like excess")             \
    X(subjectSlack, 0.2, 0, 1, "x backdrop", "room above it for a sample in the mean")            \
    X(unmixReach, 2, 0, 8, "cells", "how far a cell looks for a purer subject")                   \
    X(unmixOffLine, 5, 0, 64, "level", "most distance off the mix line")                          \
    X(unmixShort, 0.85, 0, 1, "share", "most share of the way along the mix line")                \
    X(neutralSubject, 128, 0, 255, "level", "subject grey when no subject is seen")               \
    /* luma detail */                                                                             \
    X(weightSpan, 40, 1, 255, "level", "subject red minus other over which the weight moves")     \
    X(minKeyExcess, 8, 1, 64, "level", "least backdrop excess of the key's denominator")          \
    X(subjectExcessLow, -1.5, -4, 0, "x backdrop", "least subject excess in the key")             \
    X(subjectExcessHigh, 0.7, 0, 0.95, "x backdrop", "most subject excess in the key")            \
    X(lumaPatchesPerCell, 8, 2, 32, "patches", "luma patches read along a cell's edge")           \
    X(lumaMinSpread, 0.1, 0, 1, "x backdrop", "least spread of excess to read the luma step")     \
    X(lumaMinCorrelation, 0.3, 0, 1, "r^2", "least squared correlation of luma and excess")       \
    /* per-pixel kernel and spill correction */                                                   \
    X(noiseFloor, 0.05, 0, 0.3, "alpha", "alpha clipped at either end as noise")                  \
    X(fineStep, 0.003, 0, 0.01, "alpha", "threshold shift per step of fine tuning")               \
    X(neutralMargin, 4, 0, 64, "level", "how much better the neutral subject must explain")       \
    X(mixedGain, 16, 1, 64, "x", "how fast a pixel counts as mixed away from 0 and 1")            \
    X(lumaPrior, 0.02, 0.001, 1, "alpha^2", "weight of the field's luma step")                    \
    X(lumaDamp, 500, 1, 10000, "level^2", "damping of a small luma step")                         \
    X(lumaGain, 1.15, 0.5, 2, "x", "share of the luma detail added")                              \
    X(smoothSlope, 2, 1, 8, "x", "slope of the clip where the chroma is smooth")                  \
    X(smoothReach, 0.8, 0, 1, "alpha", "where the smooth clip's upper end starts")                \
    X(detailGain, 50, 1, 500, "1/alpha", "how fast detail turns the smooth clip into the ramp")   \
    X(rampWidth, 0.9, 0.5, 1, "alpha", "chroma alpha from clear to opaque")                       \
    X(despillBase, 0.5, 0, 1, "share", "share of an opaque pixel's excess removed at spill 0")    \
    X(despillSpan, 80, 40, 400, "steps", "spill steps that remove the whole excess more")         \
    /* backdrop plate: matching it to the shot */                                                 \
    X(plateSearch, 16, 0, 32, "px", "farthest shift of the plate searched, either way")           \
    X(plateSamples, 4096, 256, 262144, "samples", "most points the correlation reads")            \
    X(plateBackdropShare, 0.5, 0.1, 0.9, "x top", "least excess of a clear block, of the top")    \
    X(plateMinKey, 16, 1, 128, "level", "least excess of a clear backdrop block")                 \
    X(plateHueTol, 0.1, 0.01, 0.5, "direction",                                                   \
      "most distance of a backdrop block's colour direction from the plate's")                    \
    X(plateMaxHidden, 0.1, 0, 1, "share", "most share of the backdrop that the plate hides")      \
    X(plateAgreeAbs, 6, 0, 32, "level", "tolerance of an agreeing block, offset")                 \
    X(plateAgreeRel, 0.06, 0, 0.3, "x plate", "tolerance of an agreeing block, scale")            \
    X(plateFitShare, 0.75, 0.1, 1, "x top", "least excess of a block the fit is judged on")       \
    X(plateMinAgreement, 0.75, 0.1, 1, "share", "least share of the clear backdrop that agrees")  \
    X(plateMaxGain, 1.5, 1.05, 4, "x",                                                            \
      "most gain of a channel between plate and shot, either way")                                \
    X(plateMaxTint, 0.15, 0.01, 1, "share", "most difference between the channels' gains")        \
    X(plateMinBackdrop, 0.02, 0, 0.5, "share", "least share of the frame that is clear backdrop") \
    /* backdrop plate: the key against it and the shadow */                                       \
    X(plateNoiseTol, 3, 1, 8, "sigma", "residual within noise that is still backdrop")            \
    X(plateRelTol, 0.04, 0, 0.3, "x backdrop", "residual of texture and shift still backdrop")    \
    X(plateSubjectCell, 16, 2, 64, "blocks", "edge of a cell of the subject colour field")        \
    X(plateSubjectDist, 24, 4, 128, "level", "least distance from the backdrop of a subject")     \
    X(plateSubjectTop, 0.75, 0, 1, "x top", "share of the cell's farthest that is opaque")        \
    X(plateSubjectReach, 2, 0, 4, "cells", "cells about a cell whose farthest it must reach")     \
    X(plateMinContrast, 24, 4, 128, "level", "least subject-to-backdrop distance in the key")     \
    X(plateNoiseFloor, 0.05, 0, 0.3, "alpha", "alpha clipped at either end as noise")             \
    X(plateLayerTol, 0.5, 0, 2, "x noise", "residual of a light neutral layer, of the noise's")   \
    X(plateLayerTint, 0.1, 0, 0.5, "share", "tint of a light layer, of its grey")                 \
    X(plateLayerMaxGrey, 270, 128, 512, "level", "lightest grey of a light layer")                \
    X(plateMaxBright, 1.25, 1, 2, "x plate",                                                      \
      "brightest pixel of the plate's colour still backdrop")                                     \
    X(shadowMinFactor, 0.25, 0, 0.9, "x plate", "darkest backdrop still taken as shadow")         \
    X(shadowGate, 0.12, 0, 0.5, "x plate", "most a pixel's shade may differ from around it")      \
    X(shadowMinShare, 0.25, 0, 1, "share", "least share of shadow-like blocks around")            \
    X(shadowSeedDepth, 0.08, 0, 0.5, "x plate", "most darkening of the lit backdrop")             \
    X(shadowStep, 0.06, 0, 0.5, "x plate", "most change of darkening from a block to the next")   \
    X(shadowHop, 3, 1, 8, "blocks", "farthest a shadow's step passes over other blocks")          \
    X(shadowFloor, 0.02, 0, 0.2, "x plate", "least darkening kept as shadow")

struct SoftKeyParams {
#define MATTORA_SOFT_FIELD(name, def, lo, hi, unit, meaning) double name = def;
    MATTORA_SOFT_KEY_PARAMS(MATTORA_SOFT_FIELD)
#undef MATTORA_SOFT_FIELD
};

struct ParamInfo {
    const char* name;
    double SoftKeyParams::*field;
    double def, least, most;
    const char* unit;
    const char* meaning;
};

// The table, in the order above.
const ParamInfo* paramTable(std::size_t* count);

// Every value pulled into its allowed range.
SoftKeyParams clampedParams(SoftKeyParams p);

}  // namespace keying::soft
