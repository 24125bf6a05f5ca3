// The screen movie at its configured bit rate: a scripted minute of use written through the real
// movie writer as the recorder hands frames over, decoded back and measured.

#include "movieprobe/StructuralSimilarity.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "screen/ScriptedScreenSession.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace rivlo;
using rivlo::media::MovieProbe;
using rivlo::test::ScriptedScreenSession;

namespace {

constexpr double kDefaultRate = 307200;  // the settings' default
constexpr double kBound = 1.05;          // what a movie may hold over its rate

class ScreenMovieBitRate : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session_ = new ScriptedScreenSession();
        frames_ = new std::vector<std::shared_ptr<const Image>>(session_->drawAll());
    }
    static void TearDownTestSuite() {
        delete frames_;
        delete session_;
    }

    // Writes the first `count` frames at the rate into a movie and probes it (decoding it when
    // `similarity` is wanted).
    MovieProbe record(size_t count, double rate, test::MovieSimilarity* similarity = nullptr) {
        const std::vector<std::shared_ptr<const Image>> frames(frames_->begin(),
                                                               frames_->begin() + count);
        const std::string path = directory() + "/movie" + std::to_string(movies_++) + ".mov";
        FfmpegMovieWriterFactory factory;
        std::string error;
        EXPECT_TRUE(test::recordFrames(factory, path, frames, rate, &error)) << error;
        MovieProbe probe;
        if (similarity) {
            *similarity = test::movieSimilarity(path, frames, &probe);
        } else {
            probe = MovieProbe::open(path, false);
        }
        std::remove(path.c_str());
        return probe;
    }

    static std::string directory() { return session_->directory(); }

    static ScriptedScreenSession* session_;
    static std::vector<std::shared_ptr<const Image>>* frames_;
    int movies_ = 0;
};

ScriptedScreenSession* ScreenMovieBitRate::session_ = nullptr;
std::vector<std::shared_ptr<const Image>>* ScreenMovieBitRate::frames_ = nullptr;

}  // namespace

// At the default rate the minute stays within the rate over the whole movie and over every 30 s
// of it, every capture keeps its picture, the pictures look like what was drawn, key frames stay
// at most a second apart, and a still screen is still shown by copies and by its key frame
// written again rather than encoded.
TEST_F(ScreenMovieBitRate, AMinuteOfUseKeepsTheRateAndLooksLikeWhatWasDrawn) {
    test::MovieSimilarity similarity;
    const MovieProbe movie = record(frames_->size(), kDefaultRate, &similarity);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.decodeErrors, 0);
    EXPECT_NEAR(movie.duration, ScriptedScreenSession::endSeconds(), 0.01);
    ASSERT_EQ(similarity.pictures, frames_->size());

    EXPECT_LE(movie.bitsPerSecond(), kBound * kDefaultRate);
    EXPECT_LE(movie.mostBitsPerSecondOver(30), kBound * kDefaultRate);
    EXPECT_GE(similarity.mean, 0.98);

    int copies = 0, keyFramesAgain = 0;
    double lastKey = 0;
    for (const auto& packet : movie.packets) {
        if (packet.keyFrame) {
            EXPECT_LE(packet.seconds - lastKey, 1.0 + ScriptedScreenSession::kInterval + 1e-6)
                << "at " << packet.seconds << " s";
            lastKey = packet.seconds;
        } else {
            EXPECT_LT(packet.seconds - lastKey, 1.0 - 1e-6) << "at " << packet.seconds << " s";
            copies += packet.bytes < 32;
        }
    }
    for (size_t i = 1; i < movie.keyPacketDigests.size(); ++i)
        keyFramesAgain += movie.keyPacketDigests[i] == movie.keyPacketDigests[i - 1];
    EXPECT_GT(copies, 20);
    EXPECT_GT(keyFramesAgain, 10);
}

// A whole movie of any length stays within its rate, from a few seconds on, and so does every
// 30 s of the minute at half and at twice the default rate.
TEST_F(ScreenMovieBitRate, ShortMoviesAndOtherRatesStayWithinTheirRate) {
    for (size_t frames : {5u, 20u, 60u}) {
        SCOPED_TRACE(std::to_string(frames) + " frames");
        const MovieProbe movie = record(frames, kDefaultRate);
        ASSERT_TRUE(movie.opened);
        EXPECT_LE(movie.bitsPerSecond(), kBound * kDefaultRate);
    }
    for (double rate : {kDefaultRate / 2, kDefaultRate * 2}) {
        SCOPED_TRACE(std::to_string(rate) + " bit/s");
        const MovieProbe movie = record(frames_->size(), rate);
        ASSERT_TRUE(movie.opened);
        EXPECT_LE(movie.bitsPerSecond(), kBound * rate);
        EXPECT_LE(movie.mostBitsPerSecondOver(30), kBound * rate);
    }
}

// The measures the checks above rely on: the similarity of equal pictures is 1 and falls as a
// picture strays; the most bits over a stretch finds a burst wherever it lies.
TEST(MovieMeasures, SimilarityAndBitsPerStretch) {
    const int w = 64, h = 48;
    std::vector<uint8_t> a(w * h * 3 / 2), b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            a[y * w + x] = static_cast<uint8_t>((x * 7 + y * 13) % 256);
    std::fill(a.begin() + w * h, a.end(), 128);
    auto planes = [&](const std::vector<uint8_t>& p) {
        media::PicturePlanes pp;
        pp.width = w;
        pp.height = h;
        pp.data[0] = p.data();
        pp.data[1] = p.data() + w * h;
        pp.data[2] = p.data() + w * h + w * h / 4;
        pp.stride[0] = w;
        pp.stride[1] = pp.stride[2] = w / 2;
        return pp;
    };
    EXPECT_DOUBLE_EQ(media::structuralSimilarity(planes(a), planes(a)), 1.0);
    b = a;
    for (size_t i = 0; i < static_cast<size_t>(w * h); i += 3)
        b[i] = static_cast<uint8_t>(b[i] ^ 0x20);  // noise over a third of the pixels
    const double noisy = media::structuralSimilarity(planes(a), planes(b));
    EXPECT_LT(noisy, 0.95);
    EXPECT_GT(noisy, 0.2);
    for (size_t i = 0; i < static_cast<size_t>(w * h); ++i)
        b[i] = static_cast<uint8_t>(255 - a[i]);  // the negative
    EXPECT_LT(media::structuralSimilarity(planes(a), planes(b)), 0.0);

    MovieProbe movie;
    movie.duration = 60;
    movie.fileBytes = 60 * 1000 + 30000;
    for (int second = 0; second < 60; ++second)
        movie.packets.push_back({second + 0.5, second == 40 ? 31000 : 1000, true});
    EXPECT_DOUBLE_EQ(movie.bitsPerSecond(), (60 * 1000 + 30000) * 8 / 60.0);
    EXPECT_DOUBLE_EQ(movie.mostBitsPerSecondOver(30), (30 * 1000 + 30000) * 8 / 30.0);
    // A movie shorter than the stretch: the whole track's.
    EXPECT_DOUBLE_EQ(movie.mostBitsPerSecondOver(120), (60 * 1000 + 30000) * 8 / 60.0);
}
