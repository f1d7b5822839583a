#include "keying/soft/params.h"

#include <algorithm>
#include <iterator>

namespace keying::soft {

namespace {

constexpr ParamInfo kTable[] = {
#define MATTORA_SOFT_INFO(name, def, lo, hi, unit, meaning) \
    {#name, &SoftKeyParams::name, def, lo, hi, unit, meaning},
    MATTORA_SOFT_KEY_PARAMS(MATTORA_SOFT_INFO)
#undef MATTORA_SOFT_INFO
};

}  // namespace

const ParamInfo* paramTable(std::size_t* count) {
    *count = std::size(kTable);
    return kTable;
}

SoftKeyParams clampedParams(SoftKeyParams p) {
    for (const ParamInfo& info : kTable) {
        double& v = p.*info.field;
        // A NaN fails both tests and takes the default.
        v = v >= info.least ? (v <= info.most ? v : info.most)
                            : (v < info.least ? info.least : info.def);
    }
    return p;
}

}  // namespace keying::soft
