#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rivlo::collector {

// One gesture kind at one point, in picture pixels, with how many times it was made there.
struct HeatMark {
    double x = 0;
    double y = 0;
    int code = 0;  // timeline event code (tap 0, double tap 1, swipes 2-5, pinches 7-8)
    int64_t count = 1;
};

// Draws a heat map with Cairo: a picture (a movie frame, or a web page's tiles), the density of
// touches as colour, the gestures as marks (taps as dots, double taps as rings, swipes as
// arrows, pinches as circles), rage taps as red crosses, and a legend band under the picture.
// One thread at a time.
class HeatMapPainter {
  public:
    static constexpr int kLegendHeight = 86;

    // A picture of `width` x `height` pixels, black, with the legend band below.
    HeatMapPainter(int width, int height);
    ~HeatMapPainter();
    HeatMapPainter(const HeatMapPainter&) = delete;
    HeatMapPainter& operator=(const HeatMapPainter&) = delete;

    bool ok() const;
    int width() const { return width_; }
    int height() const { return height_; }

    // Copies RGB rows (3 bytes a pixel) into the picture at (x, y).
    void place(const uint8_t* rgb, int w, int h, int x, int y);
    // Light grey with diagonal hatching: parts of a page never captured.
    void hatch();
    // Darkens the picture so the colours over it read.
    void dim(double alpha);
    // The density of touches (each point weighted by its count) as a translucent layer.
    void density(const std::vector<HeatMark>& marks);
    // The gestures' marks.
    void marks(const std::vector<HeatMark>& marks);
    // Rage taps: a red cross in a ring at each, with the number of runs beside it.
    void rageTaps(const std::vector<HeatMark>& taps);
    void legend(const std::string& title, const std::string& counts, const std::string& note);

    bool writePng(const std::string& path) const;
    // The picture as PNG bytes; empty on failure.
    std::string png() const;

    // "3 taps, 1 double tap, 2 swipes" for the marks, "no gestures" without any.
    static std::string countsText(const std::vector<HeatMark>& marks, int rotations = 0);

  private:
    int width_ = 0;
    int height_ = 0;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

}  // namespace rivlo::collector
