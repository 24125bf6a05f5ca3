#pragma once

#include "movieprobe/MovieProbe.h"

namespace rivlo::media {

// The structural similarity (SSIM) of two 4:2:0 pictures of the same size: 1 for equal pictures,
// lower the more the second's local means, contrasts and structure stray from the first's. Each
// plane is compared in 8 x 8 windows four pixels apart (constants 0.01 and 0.03 of 255), and
// the planes are weighted by their pixel counts (luma 4, each chroma plane 1), as movie tools
// report the figure for the whole picture. Pictures of different sizes are compared over the
// part they share. Any thread.
double structuralSimilarity(const PicturePlanes& reference, const PicturePlanes& picture);

}  // namespace rivlo::media
