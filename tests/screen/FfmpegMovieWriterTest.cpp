// The FFmpeg movie writer, checked by decoding the files it writes.

#include "platform/linux/FfmpegMovieDuration.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "screen/MovieProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace rivlo;
using rivlo::test::describeGaps;
using rivlo::test::expectKeyFramesAtMostASecondApart;
using rivlo::test::MovieProbe;
using rivlo::test::waitUntil;

namespace {

constexpr int32_t kTimescale = 500;  // capture interval 0.5 s

MediaTime at(double seconds) {
    return MediaTime{static_cast<int64_t>(seconds * kTimescale), kTimescale};
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/rivlo-movie-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    // RIVLO_KEEP_MOVIES=1 keeps the movies for a look with ffprobe or a player.
    ~TempDir() {
        if (!std::getenv("RIVLO_KEEP_MOVIES")) fs::remove_all(path_);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Fills a BGRA buffer: the left half red, the right half blue, the bottom row green.
void paint(PixelBuffer& buffer) {
    buffer.lockBaseAddress();
    uint8_t* p = buffer.baseAddress();
    for (int y = 0; y < buffer.height(); ++y) {
        for (int x = 0; x < buffer.width(); ++x) {
            uint8_t* px = p + y * buffer.bytesPerRow() + x * 4;
            const bool bottom = y >= buffer.height() - 8;
            const bool left = x < buffer.width() / 2;
            px[0] = bottom ? 0 : (left ? 0 : 255);  // B
            px[1] = bottom ? 255 : 0;               // G
            px[2] = bottom ? 0 : (left ? 255 : 0);  // R
            px[3] = 255;
        }
    }
    buffer.unlockBaseAddress();
}

struct Recording {
    std::shared_ptr<MovieWriter> writer;
    std::shared_ptr<MovieWriterInput> input;
    std::shared_ptr<PixelBufferAdaptor> adaptor;
};

Recording open(FfmpegMovieWriterFactory& factory, const std::string& path, int w, int h,
               double maxKeyFrameInterval = 2) {
    Recording r;
    std::string error;
    r.writer = factory.createWriter(path, MovieFileType::QuickTimeMovie, &error);
    EXPECT_TRUE(r.writer) << error;
    VideoOutputSettings settings;
    settings.width = w;
    settings.height = h;
    settings.averageBitRate = 307200;
    settings.maxKeyFrameInterval = maxKeyFrameInterval;
    r.input = factory.createVideoInput(settings);
    r.input->setExpectsMediaDataInRealTime(true);
    r.adaptor = factory.createPixelBufferAdaptor(r.input, PixelFormat::BGRA32);
    EXPECT_TRUE(r.writer->addInput(r.input));
    EXPECT_TRUE(r.writer->startWriting());
    r.writer->startSessionAtSourceTime(MediaTime{0, kTimescale});
    return r;
}

// Appends a frame once the input is ready (a real-time caller would drop it instead).
bool appendWhenReady(Recording& r, PixelBuffer& buffer, double seconds) {
    EXPECT_TRUE(waitUntil([&] { return r.input->isReadyForMoreMediaData(); }, 10));
    return r.adaptor->appendPixelBuffer(buffer, at(seconds));
}

void finish(Recording& r, double endSeconds) {
    r.input->markAsFinished();
    r.writer->endSessionAtSourceTime(at(endSeconds));
    std::atomic<int> calls{0};
    std::atomic<bool> otherThread{false};
    const auto caller = std::this_thread::get_id();
    r.writer->finishWriting([&] {
        otherThread = std::this_thread::get_id() != caller;
        ++calls;
    });
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }, 20));
    EXPECT_TRUE(otherThread);
    EXPECT_EQ(r.writer->status(), MovieWriterStatus::Completed) << r.writer->errorDescription();
}

bool isRed(const test::DecodedFrame::RGB& c) {
    return c.r > 200 && c.g < 60 && c.b < 60;
}
bool isBlue(const test::DecodedFrame::RGB& c) {
    return c.b > 200 && c.r < 60 && c.g < 60;
}
bool isGreen(const test::DecodedFrame::RGB& c) {
    return c.g > 200 && c.r < 60 && c.b < 60;
}

// Fills the buffer with the picture numbered `n`: paint()'s halves, and a band whose place and
// colour follow the number, so that consecutive pictures differ.
void paintNumbered(PixelBuffer& buffer, int n) {
    paint(buffer);
    buffer.lockBaseAddress();
    for (int y = 40 + n * 24; y < 56 + n * 24; ++y) {
        for (int x = 8; x < buffer.width() - 8; ++x) {
            uint8_t* px = buffer.baseAddress() + y * buffer.bytesPerRow() + x * 4;
            px[0] = static_cast<uint8_t>(40 * n);
            px[1] = static_cast<uint8_t>(255 - 30 * n);
            px[2] = 128;
        }
    }
    buffer.unlockBaseAddress();
}

// Mean absolute difference per channel between a decoded frame and the BGRA buffer.
double meanDifference(const test::DecodedFrame& f, PixelBuffer& buffer) {
    double sum = 0;
    buffer.lockBaseAddress();
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const uint8_t* px = buffer.baseAddress() + y * buffer.bytesPerRow() + x * 4;
            const auto c = f.at(x, y);
            sum += std::abs(c.r - px[2]) + std::abs(c.g - px[1]) + std::abs(c.b - px[0]);
        }
    }
    buffer.unlockBaseAddress();
    return sum / (3.0 * f.width * f.height);
}

// Plays a sequence: a number paints and appends that picture, -1 appends the previous one
// again. Returns the pictures by frame index (the previous one's number for a repeat).
std::vector<int> play(Recording& r, PixelBuffer& buffer,
                      const std::vector<std::pair<double, int>>& steps) {
    std::vector<int> shown;
    for (const auto& [seconds, n] : steps) {
        EXPECT_TRUE(waitUntil([&] { return r.input->isReadyForMoreMediaData(); }, 10));
        if (n < 0) {
            EXPECT_TRUE(r.adaptor->appendPreviousPixelBuffer(at(seconds))) << seconds;
            shown.push_back(shown.back());
        } else {
            paintNumbered(buffer, n);
            EXPECT_TRUE(r.adaptor->appendPixelBuffer(buffer, at(seconds))) << seconds;
            shown.push_back(n);
        }
    }
    return shown;
}

}  // namespace

TEST(FfmpegMovieWriter, WritesH264QuickTimeAtTheFrameSizeWithWallClockTimes) {
    struct Case {
        int w, h;
    };
    for (const Case c : {Case{320, 568}, Case{384, 667}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        TempDir dir;
        FfmpegMovieWriterFactory factory;
        const std::string path = dir.file("UserActivity.mov");
        Recording r = open(factory, path, c.w, c.h);
        std::shared_ptr<PixelBuffer> buffer;
        ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
        ASSERT_EQ(buffer->width(), c.w);
        ASSERT_EQ(buffer->height(), c.h);
        paint(*buffer);
        const std::vector<double> times = {0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5};
        for (double t : times)
            ASSERT_TRUE(appendWhenReady(r, *buffer, t));
        finish(r, 4.0);

        const MovieProbe probe = MovieProbe::open(path);
        ASSERT_TRUE(probe.opened);
        EXPECT_EQ(probe.formatName.rfind("mov", 0), 0u) << probe.formatName;
        EXPECT_EQ(probe.majorBrand, "qt  ");
        EXPECT_EQ(probe.codecName, "h264");
        EXPECT_EQ(probe.width, c.w);
        EXPECT_EQ(probe.height, c.h);
        EXPECT_NEAR(probe.duration, 4.0, 0.05);
        ASSERT_EQ(probe.frames.size(), times.size());
        for (size_t i = 0; i < times.size(); ++i) {
            const auto& f = probe.frames[i];
            EXPECT_NEAR(f.seconds, times[i], 0.01) << "frame " << i;
            // Content is neither cut nor stretched: the coded picture holds the whole frame,
            // the padding row (if any) lies below it.
            ASSERT_GE(f.height, c.h);
            ASSERT_EQ(f.width, c.w);
            EXPECT_TRUE(isRed(f.at(4, 4)));
            EXPECT_TRUE(isRed(f.at(c.w / 2 - 4, c.h / 2)));
            EXPECT_TRUE(isBlue(f.at(c.w / 2 + 4, c.h / 2)));
            EXPECT_TRUE(isBlue(f.at(c.w - 1, 10)));
            EXPECT_TRUE(isGreen(f.at(c.w / 4, c.h - 1)));
            EXPECT_TRUE(isRed(f.at(c.w / 4, c.h - 12)));
        }
    }
}

TEST(FfmpegMovieWriter, MovieLastsUntilTheSessionEndEvenWithFramesMissing) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    const std::string path = dir.file("UserActivity.mov");
    Recording r = open(factory, path, 320, 568);
    std::shared_ptr<PixelBuffer> buffer;
    ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
    paint(*buffer);
    ASSERT_TRUE(appendWhenReady(r, *buffer, 0.5));
    ASSERT_TRUE(appendWhenReady(r, *buffer, 1.0));
    ASSERT_TRUE(appendWhenReady(r, *buffer, 4.5));
    finish(r, 10.0);

    const MovieProbe probe = MovieProbe::open(path);
    ASSERT_TRUE(probe.opened);
    EXPECT_NEAR(probe.duration, 10.0, 0.05);
    ASSERT_EQ(probe.frames.size(), 3u);
    EXPECT_NEAR(probe.frames[2].seconds, 4.5, 0.01);
    // Three and a half seconds without frames: the frame after the gap starts a new key frame.
    EXPECT_TRUE(probe.frames[0].keyFrame);
    EXPECT_TRUE(probe.frames[2].keyFrame);

    FfmpegMovieDuration reader;
    auto d = reader.duration(path);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->value / d->timescale, 10);
}

TEST(FfmpegMovieWriter, KeyFramesAtMostOneSecondApart) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    const std::string path = dir.file("UserActivity.mov");
    Recording r = open(factory, path, 320, 568);
    std::shared_ptr<PixelBuffer> buffer;
    ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
    for (int i = 1; i <= 12; ++i) {
        paint(*buffer);
        // Change a block so that frames differ.
        buffer->lockBaseAddress();
        std::memset(buffer->baseAddress() + (i * 20) * buffer->bytesPerRow(), 0x80,
                    buffer->bytesPerRow() * 10);
        buffer->unlockBaseAddress();
        ASSERT_TRUE(appendWhenReady(r, *buffer, i * 0.5));
    }
    finish(r, 6.5);
    const MovieProbe probe = MovieProbe::open(path);
    ASSERT_EQ(probe.frames.size(), 12u);
    double lastKey = -10;
    for (const auto& f : probe.frames) {
        if (f.keyFrame) lastKey = f.seconds;
        EXPECT_LE(f.seconds - lastKey, 1.0 + 1e-6) << "at " << f.seconds;
    }
}

TEST(FfmpegMovieWriter, InputReadinessAndRefusedFrames) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    const std::string path = dir.file("UserActivity.mov");
    std::string error;
    auto writer = factory.createWriter(path, MovieFileType::QuickTimeMovie, &error);
    ASSERT_TRUE(writer);
    VideoOutputSettings settings{VideoCodec::H264, 320, 568, 307200, 2};
    auto input = factory.createVideoInput(settings);
    auto adaptor = factory.createPixelBufferAdaptor(input, PixelFormat::BGRA32);
    ASSERT_TRUE(writer->addInput(input));
    EXPECT_FALSE(writer->addInput(factory.createVideoInput(settings)));  // one input only

    // No pool before writing begins, and nothing is ready.
    std::shared_ptr<PixelBuffer> buffer;
    EXPECT_NE(adaptor->createPixelBuffer(buffer), 0);
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    ASSERT_TRUE(writer->startWriting());
    writer->startSessionAtSourceTime(MediaTime{0, kTimescale});
    ASSERT_EQ(adaptor->createPixelBuffer(buffer), 0);
    paint(*buffer);
    Recording r{writer, input, adaptor};
    ASSERT_TRUE(appendWhenReady(r, *buffer, 1.0));

    // A frame that is not later than the previous one, or of another size, is refused.
    ASSERT_TRUE(waitUntil([&] { return input->isReadyForMoreMediaData(); }, 10));
    EXPECT_FALSE(adaptor->appendPixelBuffer(*buffer, at(1.0)));
    PixelBuffer rotated(568, 320);
    EXPECT_FALSE(adaptor->appendPixelBuffer(rotated, at(2.0)));
    // The input is still usable after a refusal.
    EXPECT_TRUE(appendWhenReady(r, *buffer, 2.0));

    input->markAsFinished();
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    EXPECT_FALSE(adaptor->appendPixelBuffer(*buffer, at(3.0)));
    finish(r, 3.0);
    EXPECT_EQ(MovieProbe::open(path).frames.size(), 2u);
}

// An unchanged screen appends the previous picture again: a frame at each time, as if the same
// pixels had been appended, while the buffer may already hold something else.
TEST(FfmpegMovieWriter, PreviousPictureAppendedAgainAtEachTime) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    const std::string path = dir.file("UserActivity.mov");
    Recording r = open(factory, path, 320, 568);
    std::shared_ptr<PixelBuffer> buffer;
    ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
    EXPECT_FALSE(r.adaptor->appendPreviousPixelBuffer(at(0.5)));  // no picture yet
    paint(*buffer);
    ASSERT_TRUE(appendWhenReady(r, *buffer, 0.5));
    // The buffer is the caller's again: what it now holds must not reach the repeats.
    buffer->lockBaseAddress();
    std::memset(buffer->baseAddress(), 0, buffer->dataSize());
    buffer->unlockBaseAddress();
    ASSERT_TRUE(waitUntil([&] { return r.input->isReadyForMoreMediaData(); }, 10));
    EXPECT_TRUE(r.adaptor->appendPreviousPixelBuffer(at(1.0)));
    ASSERT_TRUE(waitUntil([&] { return r.input->isReadyForMoreMediaData(); }, 10));
    EXPECT_TRUE(r.adaptor->appendPreviousPixelBuffer(at(1.5)));
    ASSERT_TRUE(waitUntil([&] { return r.input->isReadyForMoreMediaData(); }, 10));
    EXPECT_FALSE(r.adaptor->appendPreviousPixelBuffer(at(1.5)));   // not later
    EXPECT_FALSE(r.adaptor->appendPixelBuffer(*buffer, at(1.2)));  // nor before the repeat
    // The next picture: a blue band over the red half.
    paint(*buffer);
    buffer->lockBaseAddress();
    for (int y = 100; y < 140; ++y)
        for (int x = 0; x < 160; ++x)
            std::memcpy(buffer->baseAddress() + y * buffer->bytesPerRow() + x * 4,
                        "\xff\x00\x00\xff", 4);
    buffer->unlockBaseAddress();
    ASSERT_TRUE(appendWhenReady(r, *buffer, 2.0));
    ASSERT_TRUE(waitUntil([&] { return r.input->isReadyForMoreMediaData(); }, 10));
    EXPECT_TRUE(r.adaptor->appendPreviousPixelBuffer(at(2.5)));  // the band, again
    finish(r, 3.0);

    const MovieProbe probe = MovieProbe::open(path);
    EXPECT_EQ(probe.decodeErrors, 0);
    ASSERT_EQ(probe.frames.size(), 5u);
    // A second of still screen after the first key frame: the repeat at 1.5 s is one, as is the
    // one at 2.5 s (the changed picture at 2.0 s comes half a second after 1.5 s).
    const auto gaps = expectKeyFramesAtMostASecondApart(probe, 0.5);
    EXPECT_EQ(gaps, (std::vector<double>{1.0, 1.0})) << describeGaps(gaps);
    const double times[] = {0.5, 1.0, 1.5, 2.0, 2.5};
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const auto& f = probe.frames[i];
        EXPECT_NEAR(f.seconds, times[i], 1e-3);
        EXPECT_TRUE(isRed(f.at(50, 300)));
        EXPECT_TRUE(isBlue(f.at(250, 300)));
        EXPECT_TRUE(isGreen(f.at(100, 566)));
        if (i < 3) {
            EXPECT_TRUE(isRed(f.at(50, 120)));
        } else {
            EXPECT_TRUE(isBlue(f.at(50, 120)));
        }
    }
    EXPECT_NEAR(probe.duration, 3.0, 0.01);
}

// A picture is shown again only in the movie it went into.
TEST(FfmpegMovieWriter, NoRepeatInAnotherMovie) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    std::shared_ptr<PixelBuffer> buffer;
    Recording first = open(factory, dir.file("a.mov"), 320, 568);
    ASSERT_EQ(first.adaptor->createPixelBuffer(buffer), 0);
    paint(*buffer);
    ASSERT_TRUE(appendWhenReady(first, *buffer, 0.5));
    finish(first, 1.0);
    EXPECT_FALSE(first.adaptor->appendPreviousPixelBuffer(at(1.5)));  // finished
    Recording second = open(factory, dir.file("b.mov"), 320, 568);
    EXPECT_FALSE(second.adaptor->appendPreviousPixelBuffer(at(0.5)));  // nothing of its own
    ASSERT_TRUE(appendWhenReady(second, *buffer, 0.6));
    finish(second, 1.0);
    EXPECT_EQ(MovieProbe::open(dir.file("b.mov")).frames.size(), 1u);
}

// Copies of an unchanged picture between encoded ones, over more than a second, the stream's
// frame numbers running past the copies and starting again at key frames: every frame at its
// time, the copies exactly the picture before them, the encoded pictures true to their source,
// and nothing the decoder has to conceal. A still screen still gets a key frame a second after
// the last one: that repeat is the retained picture encoded again, as a key frame.
TEST(FfmpegMovieWriter, UnchangedPicturesRepeatExactlyAndTheStreamStaysSound) {
    for (const char* preset : {"ultrafast", "veryfast"}) {  // copies written; repeats encoded
        SCOPED_TRACE(preset);
        TempDir dir;
        FfmpegMovieWriterFactory factory(preset);
        const std::string path = dir.file("UserActivity.mov");
        // 384 x 667: odd, the coded picture is a row taller. Ten frames a second nominal: P
        // pictures between the key frames, one a second.
        Recording r = open(factory, path, 384, 667, 10);
        ASSERT_TRUE(r.writer && r.input && r.adaptor);
        std::shared_ptr<PixelBuffer> buffer;
        ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
        const std::vector<std::pair<double, int>> steps = {
            {0.5, 0},  {0.6, -1}, {0.7, -1}, {0.8, 1},  {0.9, -1}, {1.0, 2},  {1.1, -1},
            {1.2, -1}, {1.4, -1}, {1.6, -1}, {1.7, 3},  {1.8, -1}, {1.9, 4},  {2.0, -1},
            {2.1, 5},  {2.2, 6},  {2.3, -1}, {2.4, -1}, {2.5, -1}, {2.6, -1}, {2.7, -1},
            {2.8, -1}, {2.9, -1}, {3.0, -1}, {3.1, -1}, {3.2, -1}, {3.3, -1}, {3.4, -1},
            {3.5, -1}, {3.6, -1}, {3.7, -1}, {3.8, -1}, {3.9, -1}, {4.0, -1}, {4.1, 7}};
        const std::vector<int> shown = play(r, *buffer, steps);
        finish(r, 4.5);

        const MovieProbe probe = MovieProbe::open(path);
        EXPECT_EQ(probe.decodeErrors, 0);
        ASSERT_EQ(probe.frames.size(), steps.size());
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const auto& f = probe.frames[i];
            EXPECT_NEAR(f.seconds, steps[i].first, 1e-3);
            if (steps[i].second < 0 && !f.keyFrame && std::string(preset) == "ultrafast") {
                EXPECT_TRUE(f.rgb == probe.frames[i - 1].rgb) << "not an exact copy";
            }
            paintNumbered(*buffer, shown[i]);
            EXPECT_LT(meanDifference(f, *buffer), 1.5);
        }
        // Frames come 0.1 or 0.2 s apart. Key frames: 0.5 s, then the first frame a second or
        // more later, changed or not: 1.6 s (a repeat), 2.6 s and 3.6 s (repeats in the still
        // run), 4.6 s would be next. Between them the copies and encoded P pictures.
        // (The "veryfast" encoder may add key frames of its own at a scene cut.)
        const auto gaps = expectKeyFramesAtMostASecondApart(probe, 0.2);
        if (std::string(preset) == "ultrafast") {
            const std::vector<double> expected = {1.1, 1.0, 1.0};
            ASSERT_EQ(gaps.size(), expected.size()) << describeGaps(gaps);
            for (size_t i = 0; i < gaps.size(); ++i)
                EXPECT_NEAR(gaps[i], expected[i], 1e-3) << describeGaps(gaps);
            int copies = 0;
            for (size_t i = 0; i < steps.size(); ++i)
                copies += steps[i].second < 0 && !probe.frames[i].keyFrame;
            EXPECT_EQ(copies, 24);  // of 27 repeats, all but the three key frames
            // The still run's second key frame (3.6 s) shows what its first (2.6 s) showed, with
            // nothing encoded in between: the same packet, written again without encoding.
            ASSERT_EQ(probe.keyPacketDigests.size(), 4u);
            EXPECT_EQ(probe.keyPacketDigests[3], probe.keyPacketDigests[2]);
            EXPECT_NE(probe.keyPacketDigests[2], probe.keyPacketDigests[1]);
        }
        EXPECT_NEAR(probe.duration, 4.5, 0.01);
    }
}

TEST(FfmpegMovieWriter, FinishingTwiceRaisesAndTheHandlerRunsOnce) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    const std::string path = dir.file("UserActivity.mov");
    Recording r = open(factory, path, 320, 568);
    std::shared_ptr<PixelBuffer> buffer;
    ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
    paint(*buffer);
    ASSERT_TRUE(appendWhenReady(r, *buffer, 0.5));
    r.input->markAsFinished();
    r.writer->endSessionAtSourceTime(at(1.0));
    std::atomic<int> calls{0};
    r.writer->finishWriting([&] { ++calls; });
    EXPECT_THROW(r.writer->finishWriting([&] { ++calls; }), MovieWriterException);
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }, 20));
    EXPECT_THROW(r.writer->finishWriting([&] { ++calls; }), MovieWriterException);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(r.writer->status(), MovieWriterStatus::Completed);
}

TEST(FfmpegMovieWriter, HandlerMayReleaseTheLastReferenceToTheWriter) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    const std::string path = dir.file("UserActivity.mov");
    Recording r = open(factory, path, 320, 568);
    std::shared_ptr<PixelBuffer> buffer;
    ASSERT_EQ(r.adaptor->createPixelBuffer(buffer), 0);
    paint(*buffer);
    ASSERT_TRUE(appendWhenReady(r, *buffer, 0.5));
    r.input->markAsFinished();
    r.writer->endSessionAtSourceTime(at(1.0));
    std::atomic<bool> done{false};
    auto holder = std::make_shared<Recording>(std::move(r));
    holder->writer->finishWriting([holder, &done]() mutable {
        holder->adaptor.reset();
        holder->input.reset();
        holder->writer.reset();  // as the recorder's clean-up does on this thread
        done = true;
    });
    holder.reset();
    ASSERT_TRUE(waitUntil([&] { return done.load(); }, 20));
    EXPECT_TRUE(MovieProbe::open(path).opened);
}

TEST(FfmpegMovieWriter, FailuresAreReportedNotHidden) {
    TempDir dir;
    FfmpegMovieWriterFactory factory;
    std::string error;
    // An existing file is never overwritten by a new writer.
    const std::string existing = dir.file("UserActivity.mov");
    std::ofstream(existing) << "old";
    EXPECT_FALSE(factory.createWriter(existing, MovieFileType::QuickTimeMovie, &error));
    EXPECT_FALSE(error.empty());

    // A folder that does not exist: the writer fails at start and still finishes once.
    auto writer = factory.createWriter(dir.file("missing/UserActivity.mov"),
                                       MovieFileType::QuickTimeMovie, &error);
    ASSERT_TRUE(writer);
    auto input = factory.createVideoInput(VideoOutputSettings{VideoCodec::H264, 320, 568, 1e5, 2});
    ASSERT_TRUE(writer->addInput(input));
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->status(), MovieWriterStatus::Failed);
    EXPECT_FALSE(writer->errorDescription().empty());
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    EXPECT_THROW(writer->startSessionAtSourceTime(MediaTime{0, kTimescale}), MovieWriterException);
    std::atomic<int> calls{0};
    writer->finishWriting([&] { ++calls; });
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }, 20));
    EXPECT_EQ(writer->status(), MovieWriterStatus::Failed);

    // A writer that never started writing cannot be finished.
    auto idle = factory.createWriter(dir.file("idle.mov"), MovieFileType::QuickTimeMovie, &error);
    ASSERT_TRUE(idle);
    EXPECT_THROW(idle->finishWriting([] {}), MovieWriterException);
}

TEST(FfmpegMovieDuration, UnreadableFilesHaveNoDuration) {
    TempDir dir;
    FfmpegMovieDuration reader;
    EXPECT_FALSE(reader.duration(dir.file("absent.mov")).has_value());
    EXPECT_FALSE(reader.duration("").has_value());
    const std::string text = dir.file("notes.mov");
    std::ofstream(text) << "this is not a movie, just some text that happens to end in .mov";
    EXPECT_FALSE(reader.duration(text).has_value());
    const std::string empty = dir.file("empty.mov");
    std::ofstream{empty};
    EXPECT_FALSE(reader.duration(empty).has_value());
}
