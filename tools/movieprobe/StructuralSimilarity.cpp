#include "movieprobe/StructuralSimilarity.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace rivlo::media {
namespace {

constexpr int kWindow = 8;
constexpr int kStep = 4;

// Mean SSIM of one plane's windows; 1 for a plane too small to hold a window.
double planeSimilarity(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int width,
                       int height) {
    if (width < kWindow || height < kWindow) return 1.0;
    constexpr double n = kWindow * kWindow;
    constexpr double c1 = (0.01 * 255) * (0.01 * 255) * n * n;
    constexpr double c2 = (0.03 * 255) * (0.03 * 255) * n * n;
    double total = 0;
    int windows = 0;
    for (int y = 0; y + kWindow <= height; y += kStep) {
        for (int x = 0; x + kWindow <= width; x += kStep) {
            int64_t sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int j = 0; j < kWindow; ++j) {
                const uint8_t* ra = a + static_cast<std::ptrdiff_t>(y + j) * strideA + x;
                const uint8_t* rb = b + static_cast<std::ptrdiff_t>(y + j) * strideB + x;
                for (int i = 0; i < kWindow; ++i) {
                    const int va = ra[i], vb = rb[i];
                    sa += va;
                    sb += vb;
                    saa += va * va;
                    sbb += vb * vb;
                    sab += va * vb;
                }
            }
            // The usual formula with every term multiplied by n squared (sums instead of means).
            const double meanProduct = static_cast<double>(sa) * static_cast<double>(sb);
            const double meanSquares = static_cast<double>(sa) * sa + static_cast<double>(sb) * sb;
            const double covariance = n * static_cast<double>(sab) - meanProduct;
            const double variances = n * static_cast<double>(saa + sbb) - meanSquares;
            total += (2 * meanProduct + c1) * (2 * covariance + c2) /
                     ((meanSquares + c1) * (variances + c2));
            ++windows;
        }
    }
    return total / windows;
}

}  // namespace

double structuralSimilarity(const PicturePlanes& reference, const PicturePlanes& picture) {
    const int width = std::min(reference.width, picture.width);
    const int height = std::min(reference.height, picture.height);
    if (width <= 0 || height <= 0) return 0;
    double weighted = 0, weights = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? width : (width + 1) / 2;
        const int h = plane == 0 ? height : (height + 1) / 2;
        const double weight = static_cast<double>(w) * h;
        weighted += weight * planeSimilarity(reference.data[plane], reference.stride[plane],
                                             picture.data[plane], picture.stride[plane], w, h);
        weights += weight;
    }
    return weighted / weights;
}

}  // namespace rivlo::media
