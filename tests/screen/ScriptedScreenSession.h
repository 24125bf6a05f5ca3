#pragma once

// A minute of a person using an application, frame by frame, on a headless device at two frames a
// second: reading a long text while it scrolls, a pause, a web page with photographs scrolled in
// flicks with pauses between them, a longer pause, then a form being filled in. The same frames
// every time, so the movies made of them can be compared: the screen movie's bit rate test and
// the bit rate benchmark play it through the real movie writer.

#include "movieprobe/MovieProbe.h"
#include "platform/Image.h"
#include "platform/MovieWriter.h"
#include "screen/ScreenRecorderFixture.h"

#include <memory>
#include <string>
#include <vector>

namespace rivlo {
class GraphicsContext;
class Label;
class ScrollView;
class View;
}  // namespace rivlo

namespace rivlo::test {

class ScriptedScreenSession {
  public:
    static constexpr double kWidth = 400;  // points, one pixel each: the Qt demo's window
    static constexpr double kHeight = 844;
    static constexpr double kInterval = 0.5;  // seconds between frames
    static constexpr int32_t kTimescale = 500;
    static constexpr int kFrames = 120;  // a minute

    // Builds the screens in a device of kWidth x kHeight points. Main thread.
    ScriptedScreenSession();
    ~ScriptedScreenSession();

    // The frame numbered `index` (0 ... kFrames - 1), drawn as the recorder draws it; its time in
    // the movie is frameTime(index). Frames may be drawn in any order. Main thread.
    Image draw(int index);
    static MediaTime frameTime(int index) {
        return MediaTime{static_cast<int64_t>(index + 1) * kTimescale / 2, kTimescale};
    }
    static double endSeconds() { return (kFrames + 1) * kInterval; }

    // The device's temporary folder, removed with the session.
    const std::string& directory() const { return world_.directory(); }

    // Every frame, in order (a frame equal to the one before is the same image): what a recorder
    // would hand to the writer. Main thread.
    std::vector<std::shared_ptr<const Image>> drawAll();

  private:
    void show(int index);

    ScreenRecorderWorld world_;
    std::unique_ptr<GraphicsContext> context_;
    std::shared_ptr<View> article_, web_, form_;
    std::shared_ptr<ScrollView> articleScroll_, webScroll_;
    std::vector<std::shared_ptr<Label>> typed_;
    std::shared_ptr<Label> status_;
};

// Plays frames into a movie through the FFmpeg writer as the screen recorder hands them over (an
// unchanged frame shows the previous picture again), each at its time, waiting for the writer
// instead of dropping frames, and finishes the movie. False, with the reason, when the writer
// refused a frame or did not complete the movie. Any one thread.
bool recordFrames(MovieWriterFactory& factory, const std::string& path,
                  const std::vector<std::shared_ptr<const Image>>& frames, double averageBitRate,
                  std::string* error);

// How close a movie's pictures are to the frames it was made of: the structural similarity of
// each decoded picture to its frame (converted to 4:2:0 as the writer converts it), the mean and
// the lowest over the movie. `pictures` is how many pictures the movie held; a movie with another
// number of pictures than frames has no meaningful figure. Any thread.
struct MovieSimilarity {
    double mean = 0;
    double lowest = 0;
    size_t pictures = 0;
    std::vector<double> perPicture;
};
MovieSimilarity movieSimilarity(const std::string& path,
                                const std::vector<std::shared_ptr<const Image>>& frames,
                                media::MovieProbe* probe = nullptr);

}  // namespace rivlo::test
