#include "keying/ycbcr.h"

#include <cmath>
#include <cstdlib>

namespace keying {

int rgb2y(int red, int green, int blue) {
    return int(std::lround((0.299 * red + 0.587 * green) + 0.114 * blue));
}

int rgb2cb(int red, int green, int blue) {
    return int(std::lround(((-0.168736 * red + 128.0) + -0.331264 * green) + 0.5 * blue));
}

int rgb2cr(int red, int green, int blue) {
    return int(std::lround(((0.5 * red + 128.0) + -0.418688 * green) + -0.081312 * blue));
}

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

double isGreen2(int pixelY, int pixelCb, int pixelCr, int keyY, int keyCb, int keyCr,
                int chromaAllowance, int lumaAllowance) {
    if (double(chromaAllowance + 8) > double(std::abs(pixelCb - keyCb)) &&
        double(chromaAllowance + 8) > double(std::abs(pixelCr - keyCr)) &&
        double(lumaAllowance + 38) > double(std::abs(pixelY - keyY))) {
        return 1.0;
    }
    return 0.0;
}

}  // namespace keying
