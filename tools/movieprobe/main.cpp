// rivlo-movieprobe: a movie as libavcodec decodes it, for checks outside the test suites (the
// installed package's test reads the movie a host outside the project recorded).
//
//   rivlo-movieprobe MOVIE [FX FY]...
//
// Prints the movie's codec, size, duration and frame count with its bits per second (the file's
// size over the movie's duration, and the video track's most over any 30 seconds), then one line
// per decoded frame: its time
// and the red, green and blue of the pixel at each point given as fractions of the frame's
// width and height (0.5 0.5 is the middle). Exit status 1 when the movie cannot be opened or
// holds no frame, 2 on bad arguments.

#include "movieprobe/MovieProbe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s MOVIE [FX FY]...\n", argv[0]);
        return 2;
    }
    std::vector<std::pair<double, double>> points;
    for (int i = 2; i + 1 < argc; i += 2) {
        char* end1 = nullptr;
        char* end2 = nullptr;
        const double fx = std::strtod(argv[i], &end1);
        const double fy = std::strtod(argv[i + 1], &end2);
        if (*end1 || *end2 || !std::isfinite(fx) || !std::isfinite(fy) || fx < 0 || fx > 1 ||
            fy < 0 || fy > 1) {
            std::fprintf(stderr,
                         "rivlo-movieprobe: a point is two fractions from 0 to 1, not "
                         "'%s %s'\n",
                         argv[i], argv[i + 1]);
            return 2;
        }
        points.emplace_back(fx, fy);
    }
    const auto probe = rivlo::media::MovieProbe::open(argv[1]);
    if (!probe.opened) {
        std::fprintf(stderr, "rivlo-movieprobe: %s cannot be opened as a movie\n", argv[1]);
        return 1;
    }
    std::printf("movie %s %dx%d %.3f s %zu frames %.0f bit/s, most over 30 s %.0f bit/s\n",
                probe.codecName.c_str(), probe.width, probe.height, probe.duration,
                probe.frames.size(), probe.bitsPerSecond(), probe.mostBitsPerSecondOver(30));
    for (const auto& frame : probe.frames) {
        std::printf("frame %.3f", frame.seconds);
        for (const auto& [fx, fy] : points) {
            const int x = std::min(frame.width - 1, static_cast<int>(fx * frame.width));
            const int y = std::min(frame.height - 1, static_cast<int>(fy * frame.height));
            const auto rgb = frame.at(x, y);
            std::printf(" %d,%d,%d", rgb.r, rgb.g, rgb.b);
        }
        std::printf("\n");
    }
    return probe.frames.empty() ? 1 : 0;
}
