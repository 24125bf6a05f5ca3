#pragma once

#include "foundation/DispatchQueue.h"
#include "foundation/URL.h"
#include "platform/Image.h"
#include "platform/MovieWriter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

class GraphicsContext;
class View;

// The screen recorder: turns the application's key window into a low-frame-rate H.264 movie
// while a session runs, with every registered sensitive view painted over in red, and hands the
// finished movie to the pending-upload store; postScreenVideo uploads the stored movies.
//
// States: Idle (not recording) → Recording (a frame every capture interval) → Finishing (the
// movie is being completed) → Idle once the movie is in the store, or once finishing found
// nothing to finish or failed (then no record is made).
//
// Threads: startScreenRecording on the main thread; stopScreenRecording on any thread (the
// controller uses a thread of its own); frames and finishing run on the serial queue
// "com.rivlo.makeVideoFrame", which has the main thread draw each frame (views belong to the
// main thread); the finish handler runs on the movie writer's thread; waitUntilRecordingIsFinished
// and postScreenVideo block their caller and must not run on the main thread.
class RVViewVideoHandler {
  public:
    // The shared recorder, created on first use and freed when the library closes. Any thread.
    static RVViewVideoHandler* sharedHandler();

    // The sensitive-view set. Any thread (normally the main thread). Adding a view twice keeps
    // one entry. The set keeps each view alive; a view that only the set still holds is dropped
    // at the next frame, and a view outside any window is skipped but stays registered.
    static void addSensitiveView(const std::shared_ptr<View>& view);
    // Empties the set (the settings reset before each session). Any thread.
    static void resetSensitiveViews();
    static size_t sensitiveViewCount();

    // The last gesture code from the gesture recorder (8: none). Any thread.
    static void setCurrentGesture(int32_t gesture);

    // The frame queue, "com.rivlo.makeVideoFrame".
    static DispatchQueue& makeVideoFrameQueue();

    // Uploads every stored screen movie (POST "/webservices/v2/uploadvideo"): waits for the
    // recording in progress to reach the store, then sends each entry the allowance permits and
    // removes each one the service accepts. Blocks while the recording finishes; returns without
    // waiting for the uploads. A background thread (the stop-and-post run).
    static void postScreenVideo();

    // Registers the recorder's steps with the session controller (once, at start-up).
    static void registerSessionSteps();

    // Main thread. Opens the movie and starts the frame loop, unless screen video is off in the
    // settings or a recording is open already.
    void startScreenRecording();
    // Any thread. Queues the finishing of the open recording behind the frame in progress.
    void stopScreenRecording();
    // Blocks until no recording is open (checking every 0.5 s), kFinishWaitSeconds at most.
    void waitUntilRecordingIsFinished();
    static constexpr double kFinishWaitSeconds = 60.0;

    bool isRecording() const { return isRecording_.load(); }
    bool wantToStopVideoRecording() const { return wantToStop_.load(); }
    int32_t currentGesture() const { return currentGesture_.load(); }
    // Seconds between two frames, and the movie's average bit rate (bits per second), copied
    // from the settings when the recorder was created.
    float videoFrameRate() const { return videoFrameRate_; }
    double videoAverageBitRateKey() const { return videoAverageBitRateKey_; }
    // The last finished movie ("UserActivity.mov" in the screen video folder), if any.
    std::optional<URL> outputURL() const;
    // The frame image drawn last (null before the first frame).
    std::shared_ptr<const Image> currentImage() const;
    // Frame size in pixels of the open (or last) recording.
    int frameWidth() const;
    int frameHeight() const;

    // ---- Steps, exposed for tests and benchmarks -------------------------------------------

    // Main thread. Creates the writer for "UserActivity.mov" unless one exists; false when no
    // movie can be written.
    bool setupAssetWriter();
    // The file URL of "UserActivity.mov" in the screen video folder, after creating the folder
    // and deleting any file left at that path.
    URL tempFileURL();
    // Frame queue: takes and writes one frame.
    void makeVideoFrameThread();
    // Main thread: draws the key window at the frame size into the context and paints the
    // sensitive views over it.
    void drawFrame(GraphicsContext& context);
    // Main thread: paints every registered view that is in a window opaque red, its window
    // rectangle mapped into the context by windowToFrame (whole pixels, rounded outwards), and
    // drops views only the set still holds.
    static void occludeSensitiveViewsInContext(
        GraphicsContext& context, const AffineTransform& windowToFrame = AffineTransform());
    // The mapping of a window's points when its bounds are drawn stretched into `rect`.
    static AffineTransform windowToFrameTransform(const Rect& bounds, const Rect& rect);
    // Frame queue: finishes the movie.
    void completeRecordingSession();

    // What became of a frame image handed to a movie.
    enum class FrameAppend { Appended, Repeated, Refused };
    // Frame queue. Appends the image at the time: when its pixels equal those of `previous` (the
    // finished frame appended last through this adaptor and buffer) the previous picture is
    // appended again at this time, with nothing copied or converted; otherwise the image is
    // copied into the buffer (never beyond either bitmap) and appended.
    static FrameAppend appendFrameImage(PixelBufferAdaptor& adaptor, PixelBuffer& buffer,
                                        const Image& image, const Image* previous, MediaTime time);

    // The frame size for a key window of that many points: the width raised to a multiple of
    // 16, the height as it is (both truncated to whole points).
    static int frameWidthForWindowWidth(double width);
    static int frameHeightForWindowHeight(double height);
    // The movie's time scale for a capture interval (the interval's thousandths of a second, or
    // milliseconds when the interval is not a whole number of them), and the presentation time
    // of a frame taken `elapsed` seconds after the start: the same seconds in ticks of that scale.
    static int32_t movieTimescale(float interval);
    static MediaTime presentationTime(double elapsed, float interval);

  private:
    RVViewVideoHandler();

    void initialize();
    void makeVideoFrameASYNC();
    // Draws the frame on the main thread and makes its image on the calling thread (so that
    // copying the pixels out of the context costs the main thread nothing); null when it could
    // not be drawn in time, or when the platform left its image empty (a frame it could not
    // check is not sent).
    std::shared_ptr<const Image> screenImage();
    void finishHandler(const std::shared_ptr<MovieWriter>& writer);
    void cleanupWriter();
    // Leaves Finishing without a movie (nothing to finish, or finishing failed).
    void abandonRecording();
    // The presentation time of now, or (atStop) of the stop request when there is one.
    MediaTime elapsedTime(bool atStop = false) const;

    // Settings copied at creation.
    float videoFrameRate_ = 0.5f;
    double videoAverageBitRateKey_ = 307200;

    std::atomic<bool> isRecording_{false};
    std::atomic<bool> wantToStop_{false};
    std::atomic<int32_t> currentGesture_{8};
    std::atomic<int64_t> framesWritten_{0};  // frames the open movie holds

    // Writer objects and recording state. Set up on the main thread before the frame loop
    // starts, used on the frame queue, cleared by the finish handler: guarded by mutex_, and
    // taken out as shared pointers to be used outside it.
    mutable std::mutex mutex_;
    std::shared_ptr<MovieWriter> assetWriter_;
    std::shared_ptr<MovieWriterInput> assetWriterInput_;
    std::shared_ptr<PixelBufferAdaptor> assetWriterInputPixelBufferAdaptor_;
    std::optional<double> startedAt_;
    std::optional<double> stopRequestedAt_;  // wall clock of the first stop of this recording
    std::optional<URL> outputURL_;
    std::shared_ptr<const Image> currentImage_;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    bool finishRequested_ = false;  // finishing of the open movie has begun

    // Frame queue only: the reused pixel buffer (recreated when the frame size changes), and
    // the image appended last through it and the adaptor it went to (an unchanged screen
    // repeats it).
    std::shared_ptr<PixelBuffer> pixelBuffer_;
    std::shared_ptr<const Image> lastAppended_;
    std::weak_ptr<PixelBufferAdaptor> lastAdaptor_;
    // The reused bitmap context of the frame size: drawn into on the main thread, its image
    // made afterwards by the thread that asked for the frame (one at a time, in that order).
    std::unique_ptr<GraphicsContext> context_;
};

}  // namespace rivlo
