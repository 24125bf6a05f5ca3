#include "screen/RVViewVideoHandler.h"

#include "core/RVSessionSteps.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "foundation/Teardown.h"
#include "platform/Application.h"
#include "platform/Device.h"
#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/View.h"
#include "platform/Window.h"
#include "screen/RVScreenVideo.h"
#include "store/RVPlistHandler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <thread>

namespace rivlo {
namespace {

constexpr const char* kScreenVideoFolder = "/RVScreenVideos";
constexpr const char* kMovieFileName = "UserActivity.mov";
// How long a frame waits for the main thread to draw it before it is dropped. Long enough for a
// busy main thread, short enough that a blocked one cannot hold up finishing for long.
constexpr double kDrawTimeoutSeconds = 2.0;

// The process-wide sensitive-view set. It holds strong references; it does not exist until the
// first view is added, and a reset drops it.
struct SensitiveViews {
    std::mutex mutex;
    bool exists = false;
    std::vector<std::shared_ptr<View>> views;
};

SensitiveViews& sensitiveViews() {
    static SharedInstance<SensitiveViews> set;
    return set.get([] { return new SensitiveViews; });
}

// Views belong to the main thread, and so does their destruction.
void releaseOnMainThread(std::vector<std::shared_ptr<View>> views) {
    if (views.empty()) return;
    if (RunLoop::isMainThread()) return;  // destroyed here, on return
    RunLoop::main().post([held = std::move(views)]() mutable { held.clear(); });
}

// The recording generation: a frame loop only continues while its recording is the open one, so
// a loop left scheduled by an earlier recording can never run alongside a new one.
// Not reset when the library closes: a loop of a recording before the close never matches.
std::atomic<uint64_t> gRecordingGeneration{0};

std::atomic<uint64_t>& recordingGeneration() {
    return gRecordingGeneration;
}

}  // namespace

// ---- Shared instance and class-level state ---------------------------------------------------

RVViewVideoHandler* RVViewVideoHandler::sharedHandler() {
    static SharedInstance<RVViewVideoHandler> handler;
    return &handler.get([] { return new RVViewVideoHandler; });
}

RVViewVideoHandler::RVViewVideoHandler() {
    initialize();
}

void RVViewVideoHandler::initialize() {
    currentGesture_ = 8;
    isRecording_ = false;
    wantToStop_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        assetWriter_.reset();
        assetWriterInput_.reset();
        assetWriterInputPixelBufferAdaptor_.reset();
        startedAt_.reset();
    }
    auto setting = RVUtil::setting();
    float interval = setting ? setting->videoFrameRate() : 0.5f;
    double bitRate = setting ? setting->videoAverageBitRateKey() : 307200.0;
    // A frame every millisecond to once a minute; beyond that the time scale (interval x 1000)
    // stops making sense.
    if (!std::isfinite(interval) || interval < 0.001f || interval > 60.0f) {
        RVLog("RVViewVideoHandler: Capture interval %g s is out of range; using 0.5 s",
              static_cast<double>(interval));
        interval = 0.5f;
    }
    if (!std::isfinite(bitRate) || bitRate < 1000 || bitRate > 100e6) {
        RVLog("RVViewVideoHandler: Average bit rate %g is out of range; using 307200", bitRate);
        bitRate = 307200;
    }
    videoFrameRate_ = interval;
    videoAverageBitRateKey_ = bitRate;
}

DispatchQueue& RVViewVideoHandler::makeVideoFrameQueue() {
    static SharedInstance<DispatchQueue> queue;
    return sharedQueue(queue, "com.rivlo.makeVideoFrame");
}

void RVViewVideoHandler::addSensitiveView(const std::shared_ptr<View>& view) {
    if (!view) return;
    auto& set = sensitiveViews();
    std::lock_guard<std::mutex> lock(set.mutex);
    set.exists = true;
    if (std::find(set.views.begin(), set.views.end(), view) == set.views.end()) {
        set.views.push_back(view);
    }
}

void RVViewVideoHandler::resetSensitiveViews() {
    std::vector<std::shared_ptr<View>> dropped;
    {
        auto& set = sensitiveViews();
        std::lock_guard<std::mutex> lock(set.mutex);
        dropped.swap(set.views);
        set.exists = false;
    }
    releaseOnMainThread(std::move(dropped));
}

size_t RVViewVideoHandler::sensitiveViewCount() {
    auto& set = sensitiveViews();
    std::lock_guard<std::mutex> lock(set.mutex);
    return set.views.size();
}

void RVViewVideoHandler::setCurrentGesture(int32_t gesture) {
    sharedHandler()->currentGesture_ = gesture;
}

std::optional<URL> RVViewVideoHandler::outputURL() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outputURL_;
}

std::shared_ptr<const Image> RVViewVideoHandler::currentImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentImage_;
}

int RVViewVideoHandler::frameWidth() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frameWidth_;
}

int RVViewVideoHandler::frameHeight() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frameHeight_;
}

int RVViewVideoHandler::frameWidthForWindowWidth(double width) {
    if (!std::isfinite(width) || width <= 0) return 0;
    int w = static_cast<int>(width);
    if (w % 16 != 0) w = (w + 16) & ~15;
    return w;
}

int RVViewVideoHandler::frameHeightForWindowHeight(double height) {
    if (!std::isfinite(height) || height <= 0) return 0;
    return static_cast<int>(height);
}

MediaTime RVViewVideoHandler::elapsedTime(bool atStop) const {
    std::optional<double> startedAt, stoppedAt;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startedAt = startedAt_;
        stoppedAt = stopRequestedAt_;
    }
    const double end = atStop && stoppedAt ? *stoppedAt : Clock::now();
    const double elapsed = startedAt ? end - *startedAt : 0.0;
    return presentationTime(elapsed, videoFrameRate_);
}

int32_t RVViewVideoHandler::movieTimescale(float interval) {
    // Ticks of the interval's thousandth (500 a second at the default 0.5 s), which count every
    // frame's time exactly. An interval that is not a whole number of milliseconds (1/24 s,
    // 1/30 s) would give a truncated scale of ticks as long as a frame; milliseconds then.
    const double ms = static_cast<double>(interval) * 1000;
    const double whole = std::round(ms);
    if (whole >= 1 && std::fabs(ms - whole) < 1e-3) return static_cast<int32_t>(whole);
    return 1000;
}

MediaTime RVViewVideoHandler::presentationTime(double elapsed, float interval) {
    // Elapsed seconds counted in ticks of the very scale the time is given in, so that the
    // movie's clock keeps to the wall clock at any frame rate.
    const int32_t timescale = movieTimescale(interval);
    const double ticks = std::max(0.0, elapsed) * timescale;
    return MediaTime{static_cast<int64_t>(std::llround(ticks)), timescale};
}

// ---- Start and stop ---------------------------------------------------------------------------

void RVViewVideoHandler::startScreenRecording() {
    auto setting = RVUtil::setting();
    if (!setting || !setting->isScreenVideoOn()) return;
    if (isRecording_) return;
    // A host without a toolkit (a daemon, a command-line tool) has no screen: no movie is made,
    // and no frame wakes its main thread for nothing.
    if (!Platform::current().graphics()) {
        RVLog(
            "RVViewVideoHandler: No screen to record (no toolkit is installed); the session "
            "has no screen movie");
        return;
    }
    if (!setupAssetWriter()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startedAt_ = Clock::now();
        stopRequestedAt_.reset();
    }
    ++recordingGeneration();
    isRecording_ = true;
    wantToStop_ = false;
    makeVideoFrameASYNC();
}

void RVViewVideoHandler::stopScreenRecording() {
    if (!isRecording_) return;
    {
        // The movie ends when the session does, not when the frame queue gets to finishing it
        // (after the frame in progress, which a busy main thread can delay).
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopRequestedAt_) stopRequestedAt_ = Clock::now();
    }
    wantToStop_ = true;  // no frame is taken after the stop
    makeVideoFrameQueue().async([this] { completeRecordingSession(); });
}

void RVViewVideoHandler::waitUntilRecordingIsFinished() {
    // Bounded: the upload pass waits here under the controller's post semaphore, and a movie
    // writer that never reports back must not hold every later stop and clean-up for good.
    const double deadline = Clock::monotonic() + kFinishWaitSeconds;
    // A closing library whose time is up stops waiting (the movie stays for the next start
    // when it is finished in time, else it is lost with the session's last seconds).
    if (RunLoop::isMainThread()) {
        // Frames are drawn on the main thread: keep it turning while waiting.
        while (isRecording_ && Clock::monotonic() < deadline && !Teardown::isCancelled())
            RunLoop::main().runUntil([this] { return !isRecording_ || Teardown::isCancelled(); },
                                     0.5);
    } else {
        while (isRecording_ && Clock::monotonic() < deadline && !Teardown::isCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (isRecording_) {
        RVLog(
            "RVViewVideoHandler: The screen movie is still being finished after %.0f seconds; "
            "uploading without it",
            kFinishWaitSeconds);
    }
}

// ---- Frame loop --------------------------------------------------------------------------------

void RVViewVideoHandler::makeVideoFrameASYNC() {
    if (!isRecording_ || wantToStop_) return;
    const uint64_t generation = recordingGeneration().load();
    makeVideoFrameQueue().after(static_cast<double>(videoFrameRate_), [this, generation] {
        if (generation != recordingGeneration().load()) return;  // an earlier recording's loop
        makeVideoFrameThread();
        makeVideoFrameASYNC();
    });
}

void RVViewVideoHandler::makeVideoFrameThread() {
    if (!isRecording_ || wantToStop_) return;
    const MediaTime presentationTime = elapsedTime();
    std::shared_ptr<MovieWriterInput> input;
    std::shared_ptr<PixelBufferAdaptor> adaptor;
    int width = 0, height = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        input = assetWriterInput_;
        adaptor = assetWriterInputPixelBufferAdaptor_;
        width = frameWidth_;
        height = frameHeight_;
    }
    // A frame that finds the encoder busy is simply missing from the movie.
    if (!input || !adaptor || !input->isReadyForMoreMediaData()) return;

    try {
        // One buffer for every frame; a recording of another frame size gets a new one.
        if (!pixelBuffer_ || pixelBuffer_->width() != width || pixelBuffer_->height() != height) {
            pixelBuffer_.reset();
            lastAppended_.reset();
            std::shared_ptr<PixelBuffer> buffer;
            const int status = adaptor->createPixelBuffer(buffer);
            if (status != 0 || !buffer) {
                RVLog("RVViewVideoHandler: Error creating pixel buffer: status: %d", status);
                return;
            }
            pixelBuffer_ = std::move(buffer);
        }
        auto image = screenImage();
        if (!image) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            currentImage_ = image;
        }
        // Only an image that went into this movie can be shown again.
        if (lastAdaptor_.lock() != adaptor) lastAppended_.reset();
        const FrameAppend result = appendFrameImage(*adaptor, *pixelBuffer_, *image,
                                                    lastAppended_.get(), presentationTime);
        if (result == FrameAppend::Refused) {
            RVLog("RVViewVideoHandler: Warning: Unable to write buffer to video");
        } else {
            ++framesWritten_;
            lastAppended_ = image;
            lastAdaptor_ = adaptor;
        }
    } catch (const std::exception& e) {
        RVLog("RVViewVideoHandler: Frame capture exception: %s", e.what());
    }
}

RVViewVideoHandler::FrameAppend RVViewVideoHandler::appendFrameImage(PixelBufferAdaptor& adaptor,
                                                                     PixelBuffer& buffer,
                                                                     const Image& image,
                                                                     const Image* previous,
                                                                     MediaTime time) {
    const auto& bytes = image.bytes();
    // Most frames of a session show a still screen. The images compared are the finished
    // frames, sensitive views already painted over, so a mask that appears, moves or goes is a
    // change like any other; only byte-for-byte equal frames count as unchanged. The comparison
    // stops at the first differing byte (at most one read of both images); an unchanged frame
    // then saves the copy and the conversion, and the movie still gets its frame at this time.
    const bool unchanged = previous && previous->width() == image.width() &&
                           previous->height() == image.height() &&
                           previous->bytes().size() == bytes.size() &&
                           std::memcmp(previous->bytes().data(), bytes.data(), bytes.size()) == 0;
    if (unchanged) {
        return adaptor.appendPreviousPixelBuffer(time) ? FrameAppend::Repeated
                                                       : FrameAppend::Refused;
    }
    if (image.width() == buffer.width() && image.height() == buffer.height() &&
        bytes.size() >= image.bytesPerRow() * static_cast<size_t>(image.height())) {
        // Converted straight from the frame drawn, without a copy into the buffer first.
        return adaptor.appendPixels(bytes.data(), image.bytesPerRow(), image.width(),
                                    image.height(), time)
                   ? FrameAppend::Appended
                   : FrameAppend::Refused;
    }
    // Another size: never beyond either bitmap, copy the overlapping rows and columns.
    buffer.lockBaseAddress();
    const size_t imageRows = image.bytesPerRow() ? bytes.size() / image.bytesPerRow() : 0;
    const int rows = static_cast<int>(std::min<size_t>(
        imageRows, static_cast<size_t>(std::min(image.height(), buffer.height()))));
    const size_t rowBytes = std::min(image.bytesPerRow(), buffer.bytesPerRow());
    for (int y = 0; y < rows; ++y) {
        std::memcpy(buffer.baseAddress() + y * buffer.bytesPerRow(),
                    bytes.data() + y * image.bytesPerRow(), rowBytes);
    }
    buffer.unlockBaseAddress();
    return adaptor.appendPixelBuffer(buffer, time) ? FrameAppend::Appended : FrameAppend::Refused;
}

std::shared_ptr<const Image> RVViewVideoHandler::screenImage() {
    struct Request {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        bool abandoned = false;
        bool drawn = false;
    };
    auto request = std::make_shared<Request>();
    auto draw = [this, request] {
        {
            std::lock_guard<std::mutex> lock(request->mutex);
            if (request->abandoned) return;
        }
        bool drawn = false;
        int width = 0, height = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            width = frameWidth_;
            height = frameHeight_;
        }
        auto graphics = Platform::current().graphics();
        if (graphics && width > 0 && height > 0) {
            if (!context_ || static_cast<int>(context_->size().width) != width ||
                static_cast<int>(context_->size().height) != height) {
                context_ =
                    graphics->makeBitmapContext(Size{double(width), double(height)}, true, 1.0);
            }
            if (context_) {
                drawFrame(*context_);
                drawn = true;
            }
        }
        {
            std::lock_guard<std::mutex> lock(request->mutex);
            request->drawn = drawn;
            request->done = true;
        }
        request->cv.notify_all();
    };
    if (RunLoop::isMainThread()) {
        draw();
    } else {
        RunLoop::main().post(draw);
        std::unique_lock<std::mutex> lock(request->mutex);
        if (!request->cv.wait_for(lock, std::chrono::duration<double>(kDrawTimeoutSeconds),
                                  [&] { return request->done; })) {
            request->abandoned = true;
            return nullptr;  // the main thread is busy: this frame is dropped
        }
    }
    {
        std::lock_guard<std::mutex> lock(request->mutex);
        if (!request->drawn) return nullptr;
    }
    // The main thread is done with the context until the next frame is drawn.
    auto image = std::make_shared<const Image>(context_->makeImage());
    if (image->isEmpty()) return nullptr;  // the platform could not vouch for this frame
    return image;
}

AffineTransform RVViewVideoHandler::windowToFrameTransform(const Rect& bounds, const Rect& rect) {
    if (bounds.isEmpty() || rect.isEmpty()) return AffineTransform::identity();
    // The hierarchy's bounds are stretched onto the rectangle on each axis on its own.
    const double sx = rect.width() / bounds.width();
    const double sy = rect.height() / bounds.height();
    return AffineTransform{
        sx, 0, 0, sy, rect.minX() - bounds.minX() * sx, rect.minY() - bounds.minY() * sy};
}

void RVViewVideoHandler::drawFrame(GraphicsContext& context) {
    const Size size = context.size();
    // The context is reused from frame to frame: start from black, as a fresh opaque one would.
    context.setFillColor(Color::black());
    context.fillRect(Rect(0, 0, size.width, size.height));

    std::shared_ptr<Window> window;
    if (auto application = Platform::current().application()) window = application->keyWindow();
    // Where the window's points land in the frame. The frame size is fixed when the recording
    // starts, but the key window may change size since (a rotation, a resize, another key
    // window): the occlusion must follow the very stretch the drawing used, on both axes.
    AffineTransform windowToFrame;
    if (window) {
        const Rect bounds = window->bounds();
        const Rect rect(bounds.origin, size);
        context.setInterpolationQuality(InterpolationQuality::None);
        context.saveGState();
        const bool drawn = context.drawViewHierarchy(*window, rect, false);
        if (drawn) {
            windowToFrame = windowToFrameTransform(bounds, rect);
        } else {
            // The layer tree is rendered unscaled, its bounds' origin at the context's origin.
            context.renderLayer(*window);
            windowToFrame = AffineTransform::makeTranslation(-bounds.minX(), -bounds.minY());
        }
        context.restoreGState();
    }
    occludeSensitiveViewsInContext(context, windowToFrame);
}

void RVViewVideoHandler::occludeSensitiveViewsInContext(GraphicsContext& context,
                                                        const AffineTransform& windowToFrame) {
    std::vector<std::shared_ptr<View>> live;
    std::vector<std::shared_ptr<View>> released;
    {
        auto& set = sensitiveViews();
        std::lock_guard<std::mutex> lock(set.mutex);
        if (!set.exists) return;
        // A view the set alone still holds has been let go of by the host and its view tree.
        for (auto it = set.views.begin(); it != set.views.end();) {
            if (it->use_count() == 1) {
                released.push_back(std::move(*it));
                it = set.views.erase(it);
            } else {
                live.push_back(*it);
                ++it;
            }
        }
    }
    context.setFillColor(Color{1.0, 0, 0, 1.0});
    for (const auto& view : live) {
        if (!view->window()) continue;  // not on the screen now; stays registered
        const Rect inWindow = view->superview()
                                  ? view->superview()->convertRectToView(view->frame(), nullptr)
                                  : view->convertRectToView(view->bounds(), nullptr);
        const Point a = windowToFrame.apply(inWindow.origin);
        const Point b = windowToFrame.apply(Point{inWindow.maxX(), inWindow.maxY()});
        // Whole pixels, rounded outwards, so that no edge row or column of the view can show.
        const double x0 = std::floor(std::min(a.x, b.x));
        const double x1 = std::ceil(std::max(a.x, b.x));
        const double y0 = std::floor(std::min(a.y, b.y));
        const double y1 = std::ceil(std::max(a.y, b.y));
        if (!(x1 > x0) || !(y1 > y0)) continue;
        context.fillRect(Rect(x0, y0, x1 - x0, y1 - y0));
    }
    live.clear();
    released.clear();  // on the main thread, where views are destroyed
}

// ---- Writer -------------------------------------------------------------------------------------

URL RVViewVideoHandler::tempFileURL() {
    namespace fs = std::filesystem;
    const std::string folder = RVUtil::folderPath(kScreenVideoFolder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string path = folder + "/" + kMovieFileName;
    if (fs::exists(fs::symlink_status(path, ec))) {
        if (!fs::remove(path, ec)) {
            RVLog("RVViewVideoHandler: Cannot delete the old movie %s: %s", path.c_str(),
                  ec.message().c_str());
        }
    }
    return URL::fileURL(path);
}

bool RVViewVideoHandler::setupAssetWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (assetWriter_) return true;
    }
    auto factory = Platform::current().service<MovieWriterFactory>();
    if (!factory) {
        RVLog("RVViewVideoHandler: No movie writer is available; the screen is not recorded");
        return false;
    }
    Rect bounds;
    std::shared_ptr<Window> window;
    if (auto application = Platform::current().application()) window = application->keyWindow();
    if (window) {
        bounds = window->bounds();
    } else if (auto device = Platform::current().device()) {
        bounds = device->screenBounds();
    }
    const int width = frameWidthForWindowWidth(bounds.width());
    const int height = frameHeightForWindowHeight(bounds.height());
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        RVLog(
            "RVViewVideoHandler: No usable key window size (%g x %g); the screen is not "
            "recorded",
            bounds.width(), bounds.height());
        return false;
    }

    const URL url = tempFileURL();
    std::string error;
    auto writer = factory->createWriter(url.decodedPath(), MovieFileType::QuickTimeMovie, &error);
    if (!writer) {
        RVLog("RVViewVideoHandler: Cannot create the movie writer: %s", error.c_str());
        return false;
    }
    VideoOutputSettings settings;
    settings.codec = VideoCodec::H264;
    settings.width = width;
    settings.height = height;
    settings.averageBitRate = videoAverageBitRateKey_;
    settings.maxKeyFrameInterval = 1.0f / videoFrameRate_;
    auto input = factory->createVideoInput(settings);
    std::shared_ptr<PixelBufferAdaptor> adaptor;
    if (input) {
        input->setExpectsMediaDataInRealTime(true);
        adaptor = factory->createPixelBufferAdaptor(input, PixelFormat::BGRA32);
    }
    bool started = false;
    try {
        started = input && adaptor && writer->addInput(input) && writer->startWriting();
        if (started) {
            writer->startSessionAtSourceTime(MediaTime{0, movieTimescale(videoFrameRate_)});
            started = writer->status() == MovieWriterStatus::Writing;
        }
    } catch (const std::exception& e) {
        error = e.what();
        started = false;
    }
    if (!started) {
        if (error.empty()) error = writer->errorDescription();
        RVLog("RVViewVideoHandler: Cannot start the movie: %s", error.c_str());
        std::error_code ec;
        std::filesystem::remove(url.decodedPath(), ec);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        assetWriter_ = std::move(writer);
        assetWriterInput_ = std::move(input);
        assetWriterInputPixelBufferAdaptor_ = std::move(adaptor);
        frameWidth_ = width;
        frameHeight_ = height;
        finishRequested_ = false;
    }
    framesWritten_ = 0;
    return true;
}

void RVViewVideoHandler::completeRecordingSession() {
    std::shared_ptr<MovieWriter> writer;
    std::shared_ptr<MovieWriterInput> input;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A second stop finds the movie finishing or finished: it is finished once.
        if (finishRequested_) return;
        writer = assetWriter_;
        input = assetWriterInput_;
        if (writer) finishRequested_ = true;
    }
    if (!isRecording_) return;
    if (writer && writer->status() == MovieWriterStatus::Completed) return;
    wantToStop_ = true;
    if (!writer) {
        RVLog("RVViewVideoHandler: No movie to finish; the recording ends without one");
        abandonRecording();
        return;
    }
    try {
        if (input) input->markAsFinished();
        for (int tries = 0; tries < 20 && writer->status() == MovieWriterStatus::Unknown &&
                            !Teardown::isCancelled();
             ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        writer->endSessionAtSourceTime(elapsedTime(true));
        writer->finishWriting([this, writer] { finishHandler(writer); });
    } catch (const MovieWriterException& e) {
        RVLog("Rivlo: Problem stopping the screen recording: %s - %s Extra data: %s",
              e.name().c_str(), e.reason().c_str(), "none");
        abandonRecording();
    } catch (const std::exception& e) {
        RVLog("Rivlo: Problem stopping the screen recording: %s - %s Extra data: %s",
              "std::exception", e.what(), "none");
        abandonRecording();
    }
}

void RVViewVideoHandler::cleanupWriter() {
    std::shared_ptr<PixelBufferAdaptor> adaptor;
    std::shared_ptr<MovieWriterInput> input;
    std::shared_ptr<MovieWriter> writer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        adaptor = std::move(assetWriterInputPixelBufferAdaptor_);
        input = std::move(assetWriterInput_);
        writer = std::move(assetWriter_);
        startedAt_.reset();
        stopRequestedAt_.reset();
        // finishRequested_ stays set until the next set-up: a second stop that arrives while
        // the finished movie is handed to the store must not finish (or abandon) it again.
    }
    // Released here, outside the lock.
}

void RVViewVideoHandler::abandonRecording() {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (assetWriter_) path = assetWriter_->path();
    }
    cleanupWriter();
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    isRecording_ = false;
}

void RVViewVideoHandler::finishHandler(const std::shared_ptr<MovieWriter>& writer) {
    const MovieWriterStatus status = writer->status();
    const std::string path = writer->path();
    cleanupWriter();
    const URL url = URL::fileURL(path);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outputURL_ = url;
    }
    if (status != MovieWriterStatus::Completed) {
        // A movie the writer could not complete cannot be played: it is not stored.
        RVLog("RVViewVideoHandler: The screen movie could not be written (%s); it is discarded",
              writer->errorDescription().c_str());
        std::error_code ec;
        std::filesystem::remove(path, ec);
        isRecording_ = false;
        return;
    }
    if (framesWritten_ == 0) {
        // Nothing was on the screen to record (no key window the whole time): a movie
        // without a single picture shows nothing and is not worth an upload.
        RVLog("RVViewVideoHandler: The screen movie holds no frames; it is discarded");
        std::error_code ec;
        std::filesystem::remove(path, ec);
        isRecording_ = false;
        return;
    }
    auto video = RVScreenVideo::initWithVideoUrl(url);
    RVPlistHandler::sharedHandler()->addSreenVideo(*video, path);
    isRecording_ = false;
}

// ---- Session steps -----------------------------------------------------------------------------

void RVViewVideoHandler::registerSessionSteps() {
    RVScreenRecorderSteps steps;
    steps.startScreenRecording = [] { sharedHandler()->startScreenRecording(); };
    steps.stopScreenRecording = [] { sharedHandler()->stopScreenRecording(); };
    steps.postScreenVideo = [] { postScreenVideo(); };
    steps.resetSensitiveViews = [] { resetSensitiveViews(); };
    steps.addSensitiveView = [](const std::shared_ptr<View>& view) { addSensitiveView(view); };
    RVSessionSteps::registerScreenRecorder(std::move(steps));
}

}  // namespace rivlo
