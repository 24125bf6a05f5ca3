#pragma once

// Real recordings of real Qt widgets, as a host would make them: the reference collector runs in
// this process on loopback, the library records the screen at four frames a second through the
// Qt bridge while a test plays with its widgets, the host stops and uploads, and what the
// collector kept is read back: the movie decoded frame by frame, the web tiles decoded, the
// session document. The library's controller lives for the process, so one recorder serves
// every test of a binary, one session per recording.

#include "ShopScript.h"
#include "movieprobe/MovieProbe.h"

#include <QColor>
#include <QImage>
#include <QPoint>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace rivlo::test {

struct QtRecording {
    std::vector<media::DecodedFrame> frames;
    int width = 0, height = 0;
    std::vector<QImage> tiles;
    nlohmann::json document;
    std::vector<std::string> problems;  // what went wrong while recording or reading back

    // Pixels of frames and tiles near `colour` (within `tolerance` on each channel), and where
    // the first was seen.
    struct Seen {
        size_t framePixels = 0;
        size_t tilePixels = 0;
        std::string first;
    };
    Seen find(QColor colour, int tolerance = 60) const;
    // The frame's colour at a point (frame pixels), for the frame at `index`.
    media::DecodedFrame::RGB at(size_t index, QPoint p) const;
    // The gestures of the session: screen name, gesture code and point.
    std::vector<shop::RecordedGesture> gestures() const;
};

class QtRecorder {
  public:
    // The recorder of this process, set up on first use (collector, Linux defaults in a
    // temporary sandbox, the library's recorders and hooks, Qt offscreen with the bridge), so
    // before the windows to record are made. The test's main thread.
    static QtRecorder& shared();
    // The same with the bridges `install` installs instead of the widget bridge on the suites'
    // QApplication (a Qt Quick program on a QGuiApplication of its own). The first call decides.
    static QtRecorder& shared(const std::function<void()>& install);

    // Starts a session (the window to record should be showing), lets `play` run with the
    // library recording, keeps recording `tail` seconds more, then stops, uploads and reads
    // back what this session sent.
    QtRecording record(const std::function<void()>& play, double tail = 0.6);

    // Turns the event loop for `seconds` (frames are taken meanwhile).
    static void pass(double seconds);

  private:
    explicit QtRecorder(const std::function<void()>& install);
    struct State;
    State* state_;
};

}  // namespace rivlo::test
