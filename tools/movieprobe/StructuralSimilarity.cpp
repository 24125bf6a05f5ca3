#include "movieprobe/StructuralSimilarity.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rivlo::media {
namespace {

constexpr int kWindow = 8;
constexpr int kStep = 4;

// Sums over one 4 x 4 block of both planes.
struct BlockSums {
    int64_t a = 0, b = 0, aa = 0, bb = 0, ab = 0;
    BlockSums& operator+=(const BlockSums& o) {
        a += o.a;
        b += o.b;
        aa += o.aa;
        bb += o.bb;
        ab += o.ab;
        return *this;
    }
};

// Mean SSIM of one plane's windows; 1 for a plane too small to hold a window. Every window is
// four of the 4 x 4 blocks, each block shared by up to four windows: the blocks are summed once.
double planeSimilarity(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int width,
                       int height) {
    if (width < kWindow || height < kWindow) return 1.0;
    const int columns = width / kStep, rows = height / kStep;
    std::vector<BlockSums> blocks(static_cast<size_t>(columns) * rows);
    for (int by = 0; by < rows; ++by) {
        for (int bx = 0; bx < columns; ++bx) {
            BlockSums& s = blocks[static_cast<size_t>(by) * columns + bx];
            for (int j = 0; j < kStep; ++j) {
                const uint8_t* ra = a + static_cast<std::ptrdiff_t>(by * kStep + j) * strideA;
                const uint8_t* rb = b + static_cast<std::ptrdiff_t>(by * kStep + j) * strideB;
                for (int i = bx * kStep; i < (bx + 1) * kStep; ++i) {
                    const int va = ra[i], vb = rb[i];
                    s.a += va;
                    s.b += vb;
                    s.aa += va * va;
                    s.bb += vb * vb;
                    s.ab += va * vb;
                }
            }
        }
    }
    constexpr double n = kWindow * kWindow;
    constexpr double c1 = (0.01 * 255) * (0.01 * 255) * n * n;
    constexpr double c2 = (0.03 * 255) * (0.03 * 255) * n * n;
    double total = 0;
    int windows = 0;
    for (int by = 0; by + 1 < rows; ++by) {
        for (int bx = 0; bx + 1 < columns; ++bx) {
            BlockSums s = blocks[static_cast<size_t>(by) * columns + bx];
            s += blocks[static_cast<size_t>(by) * columns + bx + 1];
            s += blocks[static_cast<size_t>(by + 1) * columns + bx];
            s += blocks[static_cast<size_t>(by + 1) * columns + bx + 1];
            // The usual formula with every term multiplied by n squared (sums instead of means).
            const double meanProduct = static_cast<double>(s.a) * static_cast<double>(s.b);
            const double meanSquares =
                static_cast<double>(s.a) * s.a + static_cast<double>(s.b) * s.b;
            const double covariance = n * static_cast<double>(s.ab) - meanProduct;
            const double variances = n * static_cast<double>(s.aa + s.bb) - meanSquares;
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
