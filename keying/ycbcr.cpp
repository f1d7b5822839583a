#include "keying/ycbcr.h"

#include <cmath>

namespace keying {

double isGreen(int pixelCb, int pixelCr, int keyCb, int keyCr, int innerRadius, int outerRadius) {
    const int dCb = keyCb - pixelCb;
    const int dCr = keyCr - pixelCr;
    const double d = std::sqrt(double(dCb * dCb + dCr * dCr));
    if (double(innerRadius) > d) {
        return 0.0;
    }
    if (double(outerRadius) > d) {
        return (d - innerRadius) / double(outerRadius - innerRadius);
    }
    return 1.0;
}

}  // namespace keying
