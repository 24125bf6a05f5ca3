// The screen movie upload pass against a loopback service.

#include "core/RVMovieUpload.h"
#include "core/RivloHandler.h"
#include "screen/MovieProbe.h"
#include "screen/RVScreenVideo.h"
#include "screen/ScreenRecorderFixture.h"
#include "support/LoopbackHTTPServer.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace rivlo;
using rivlo::test::LoopbackHTTPServer;
using rivlo::test::MovieProbe;
using rivlo::test::ScreenRecorderWorld;
using rivlo::test::ScriptedResponse;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerScreenRecorder(), true);

constexpr const char* kUploadPath = "/webservices/v2/uploadvideo";

RVViewVideoHandler* recorder() {
    return RVViewVideoHandler::sharedHandler();
}
RVPlistHandler* store() {
    return RVPlistHandler::sharedHandler();
}

std::vector<Value> storedEntries() {
    return store()->screenVideoEntries();
}

void clearStore() {
    for (const auto& entry : storedEntries()) {
        store()->removeScreenVideo(PropertyList::text(entry, "videoName"));
    }
}

// The service for the whole suite: the session controller keeps the base URL of its first
// start for the life of the process.
LoopbackHTTPServer& service() {
    static LoopbackHTTPServer* const server = [] {
        auto* s = new LoopbackHTTPServer;
        // No session is verified here: the suite drives the recorder and the uploads itself.
        s->route("POST", "/webservices/v2/verifyapp",
                 ScriptedResponse::json(
                     200, R"({"status":"false","message":"test","app_device_id":"APD-7"})"));
        s->route("POST", kUploadPath, ScriptedResponse::json(200, R"({"status":"true"})"));
        ::setenv("RIVLO_SERVICE_URL", s->baseURL().c_str(), 1);
        return s;
    }();
    return *server;
}

// A short real movie stored as a pending screen video; returns its stored name.
std::string storeMovie(const ScreenRecorderWorld& world, int frames) {
    FfmpegMovieWriterFactory factory;
    const std::string path = world.directory() + "/made.mov";
    fs::remove(path);
    std::string error;
    auto writer = factory.createWriter(path, MovieFileType::QuickTimeMovie, &error);
    auto input = factory.createVideoInput({VideoCodec::H264, 160, 96, 300000, 2});
    auto adaptor = factory.createPixelBufferAdaptor(input, PixelFormat::BGRA32);
    writer->addInput(input);
    writer->startWriting();
    writer->startSessionAtSourceTime({0, 500});
    std::shared_ptr<PixelBuffer> buffer;
    adaptor->createPixelBuffer(buffer);
    for (int i = 1; i <= frames; ++i) {
        buffer->lockBaseAddress();
        for (size_t b = 0; b < buffer->dataSize(); ++b) {
            buffer->baseAddress()[b] = static_cast<uint8_t>((b * 7 + i * 13) & 0xff);
        }
        buffer->unlockBaseAddress();
        EXPECT_TRUE(test::waitUntil([&] { return input->isReadyForMoreMediaData(); }, 10));
        adaptor->appendPixelBuffer(*buffer, {i * 250, 500});
    }
    input->markAsFinished();
    writer->endSessionAtSourceTime({(frames + 1) * 250, 500});
    std::atomic<bool> done{false};
    writer->finishWriting([&] { done = true; });
    EXPECT_TRUE(test::waitUntil([&] { return done.load(); }, 20));
    auto video = RVScreenVideo::initWithVideoUrl(URL::fileURL(path));
    return store()->addSreenVideo(*video, path);
}

std::string storedPath(const std::string& name) {
    return RVPlistHandler::pathInFolder("/RVScreenVideos", name);
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the upload pass on a thread of its own (it blocks; request callbacks come back on the
// main thread, which keeps turning here) until the pass has returned and `done` holds.
void postAndRun(const std::function<bool()>& done) {
    std::atomic<bool> returned{false};
    std::thread pass([&] {
        RVViewVideoHandler::postScreenVideo();
        returned = true;
    });
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return returned.load() && done(); }, 60));
    pass.join();
}

class ScreenVideoUploadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        service();
        world_ = std::make_unique<ScreenRecorderWorld>(320, 568);
        RivloHandler::start("upload-test-key");
        ASSERT_TRUE(RivloHandler::rivlo());
        // Let the verification exchange settle before the test counts requests (its answer
        // carries the same application device identifier, whenever it arrives).
        RunLoop::main().runUntil([] { return false; }, 0.3);
        clearStore();
        service().route("POST", kUploadPath, ScriptedResponse::json(200, R"({"status":"true"})"));
        service().clearRequests();
        RVUtil::appDeviceId("APD-7");
    }
    void TearDown() override {
        clearStore();
        world_.reset();
    }

    std::vector<test::RecordedRequest> uploads() const {
        std::vector<test::RecordedRequest> out;
        for (auto& r : service().requests()) {
            if (r.path == kUploadPath) out.push_back(r);
        }
        return out;
    }

    std::unique_ptr<ScreenRecorderWorld> world_;
};

}  // namespace

TEST_F(ScreenVideoUploadTest, StopFollowedByAPassUploadsTheMovieJustFinished) {
    ScreenRecorderWorld::setScreenVideoOn(true);
    recorder()->startScreenRecording();
    ASSERT_TRUE(recorder()->isRecording());
    RunLoop::main().runUntil([] { return false; }, 1.2);

    std::atomic<bool> returned{false};
    std::thread stopAndPost([&] {
        std::thread([] { recorder()->stopScreenRecording(); }).detach();
        RVViewVideoHandler::postScreenVideo();
        returned = true;
    });
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return returned.load() && uploads().size() == 1 && storedEntries().empty(); }, 60));
    stopAndPost.join();

    const auto request = uploads().at(0);
    EXPECT_EQ(request.method, "POST");
    auto parts = test::parseMultipartBody(request);
    ASSERT_TRUE(parts.has_value());
    std::map<std::string, std::string> fields;
    const test::MultipartPart* file = nullptr;
    for (const auto& part : *parts) {
        if (part.fileName) {
            file = &part;
        } else {
            fields[part.name] = part.body;
        }
    }
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields["app_device_id"], "APD-7");
    EXPECT_EQ(fields["video_type"], "screen");
    EXPECT_TRUE(fields.count("sv_duration"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->name, "file");
    EXPECT_EQ(file->contentType, "video/mp4");
    ASSERT_TRUE(file->fileName.has_value());
    EXPECT_EQ(file->fileName->substr(file->fileName->size() - 4), ".mp4");
    EXPECT_FALSE(fs::exists(storedPath(*file->fileName)));  // accepted: file deleted

    // What arrived is the movie itself.
    const std::string received = world_->directory() + "/received.mov";
    std::ofstream(received, std::ios::binary) << file->body;
    const MovieProbe movie = MovieProbe::open(received, false);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.codecName, "h264");
    EXPECT_EQ(movie.width, 320);
    EXPECT_EQ(fields["sv_duration"], std::to_string(static_cast<int>(movie.duration)));
}

TEST_F(ScreenVideoUploadTest, CellularAllowanceStopsThePassAtTheFirstMovieTooLarge) {
    const std::string first = storeMovie(*world_, 2);
    const std::string second = storeMovie(*world_, 12);
    const std::string third = storeMovie(*world_, 2);
    ASSERT_EQ(storedEntries().size(), 3u);
    const auto size1 = static_cast<int64_t>(fs::file_size(storedPath(first)));
    const auto size2 = static_cast<int64_t>(fs::file_size(storedPath(second)));

    world_->platform().reachability().setStatus(NetworkStatus::Cellular);
    auto setting = RVUtil::setting();
    ASSERT_TRUE(setting);
    setting->setIs3GOn(true);
    setting->setThreeGDataSize(size1 + size2 / 2);

    postAndRun([&] { return storedEntries().size() == 2; });
    RunLoop::main().runUntil([] { return false; }, 0.3);
    const auto sent = uploads();
    ASSERT_EQ(sent.size(), 1u);
    auto parts = test::parseMultipartBody(sent[0]);
    ASSERT_TRUE(parts.has_value());
    std::set<std::string> names;
    for (const auto& p : *parts) {
        if (p.fileName) names.insert(*p.fileName);
    }
    EXPECT_EQ(names, std::set<std::string>{first});
    std::set<std::string> left;
    for (const auto& e : storedEntries())
        left.insert(PropertyList::text(e, "videoName"));
    EXPECT_EQ(left, (std::set<std::string>{second, third}));
    EXPECT_TRUE(fs::exists(storedPath(second)));
    world_->platform().reachability().setStatus(NetworkStatus::WiFi);
}

TEST_F(ScreenVideoUploadTest, EntriesWithoutAFileAreDroppedAndFailedUploadsStay) {
    const std::string gone = storeMovie(*world_, 2);
    const std::string kept = storeMovie(*world_, 2);
    fs::remove(storedPath(gone));
    service().route("POST", kUploadPath, ScriptedResponse::json(500, R"({"status":"false"})"));

    postAndRun([&] { return uploads().size() == 1; });
    // The refused movie stays for the next pass; the one without a file is gone, unsent.
    RunLoop::main().runUntil([] { return false; }, 0.5);
    const auto entries = storedEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(PropertyList::text(entries[0], "videoName"), kept);
    EXPECT_TRUE(fs::exists(storedPath(kept)));
    auto parts = test::parseMultipartBody(uploads().at(0));
    ASSERT_TRUE(parts.has_value());
    for (const auto& p : *parts) {
        if (p.fileName) {
            EXPECT_EQ(*p.fileName, kept);
        }
    }
}

TEST_F(ScreenVideoUploadTest, NoNetworkSendsNothing) {
    storeMovie(*world_, 2);
    world_->platform().reachability().setStatus(NetworkStatus::None);
    postAndRun([] { return true; });
    RunLoop::main().runUntil([] { return false; }, 0.3);
    EXPECT_TRUE(uploads().empty());
    EXPECT_EQ(storedEntries().size(), 1u);
    world_->platform().reachability().setStatus(NetworkStatus::WiFi);
}

TEST_F(ScreenVideoUploadTest, CellularBeforeAnyVerificationKeepsTheMovie) {
    const std::string name = storeMovie(*world_, 2);
    // No verification answer yet: no settings record at all, on a cellular network. The
    // shared movie pass is run as the camera pass runs it (its records ask nothing of the
    // settings, so nothing else makes a record first).
    RVUtil::resetSetting();
    world_->platform().reachability().setStatus(NetworkStatus::Cellular);
    RVMovieUpload::post({RVStoredMovie{name, Value{{"video_type", "camera"}}, true}},
                        RVMovieUploadKind{"camera", "/RVScreenVideos", [](const std::string& n) {
                                              store()->removeScreenVideo(n);
                                          }});
    RunLoop::main().runUntil([] { return false; }, 0.5);
    EXPECT_TRUE(uploads().empty());
    ASSERT_EQ(storedEntries().size(), 1u);
    EXPECT_TRUE(fs::exists(storedPath(name)));
    world_->platform().reachability().setStatus(NetworkStatus::WiFi);
}

TEST_F(ScreenVideoUploadTest, RedirectedUploadCountsOnlyWhenTheMovieArrived) {
    const std::string moved = "/webservices/v3/uploadvideo";
    service().route("POST", moved, ScriptedResponse::json(200, R"({"status":"true"})"));
    service().route("GET", moved, ScriptedResponse::text(200, "a page, not an upload"));
    const std::string name = storeMovie(*world_, 2);
    const std::string bytes = readBytes(storedPath(name));

    // 302: following it would send a GET without the movie; the movie stays.
    service().route("POST", kUploadPath, ScriptedResponse::redirect(302, moved));
    postAndRun([&] { return !uploads().empty(); });
    RunLoop::main().runUntil([] { return false; }, 0.5);
    for (const auto& request : service().requests())
        EXPECT_NE(request.path, moved) << request.method;
    ASSERT_EQ(storedEntries().size(), 1u);
    EXPECT_EQ(readBytes(storedPath(name)), bytes);

    // 307 keeps the method: the whole movie goes to the new address and is then removed.
    service().clearRequests();
    service().route("POST", kUploadPath, ScriptedResponse::redirect(307, moved));
    postAndRun([] { return storedEntries().empty(); });
    std::vector<test::RecordedRequest> arrived;
    for (const auto& request : service().requests())
        if (request.path == moved) arrived.push_back(request);
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0].method, "POST");
    auto parts = test::parseMultipartBody(arrived[0]);
    ASSERT_TRUE(parts.has_value());
    ASSERT_TRUE(parts->back().fileName.has_value());
    EXPECT_EQ(*parts->back().fileName, name);
    EXPECT_TRUE(parts->back().body == bytes);
}

TEST_F(ScreenVideoUploadTest, ForegroundCleanUpWaitsForTheBackgroundStop) {
    ScreenRecorderWorld::setScreenVideoOn(true);
    recorder()->startScreenRecording();
    ASSERT_TRUE(recorder()->isRecording());
    // The movie file is made with the first frame (later than 1.2 s on a loaded machine).
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return fs::exists(world_->screenVideoFolder() + "/UserActivity.mov"); }, 30));
    RunLoop::main().runUntil([] { return false; }, 1.2);

    // A file the stop is still working on (as a tile not yet listed would be).
    const std::string inUse = world_->screenVideoFolder() + "/in-use.partial";
    std::ofstream(inUse) << "x";

    // Back at once: the clean-up must wait until the background stop has handed everything
    // to the store, and only then remove what is left over.
    world_->platform().application().moveToBackground();
    world_->platform().application().returnToForeground();
    EXPECT_TRUE(fs::exists(inUse)) << "cleaned up while the background stop was running";
    EXPECT_TRUE(fs::exists(world_->screenVideoFolder() + "/UserActivity.mov"));
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return uploads().size() == 1 && storedEntries().empty() && !fs::exists(inUse); },
        60));
    auto parts = test::parseMultipartBody(uploads().at(0));
    ASSERT_TRUE(parts.has_value());
    const std::string received = world_->directory() + "/received.mov";
    std::ofstream(received, std::ios::binary) << parts->back().body;
    const MovieProbe movie = MovieProbe::open(received, false);
    ASSERT_TRUE(movie.opened);
    EXPECT_GT(movie.duration, 0.5);
}
