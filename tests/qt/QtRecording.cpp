#include "QtRecording.h"

#include "QtTestSupport.h"

#include "CollectorServer.h"
#include "ShopScript.h"

#include "all/RivloRecorders.h"
#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "platform/linux/LinuxPlatform.h"
#include "screen/RVViewVideoHandler.h"
#include "store/RVPlistHandler.h"

#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace rivlo::test {

namespace {

constexpr const char* kAppKey = "qt-masking-key";

bool nothingPending() {
    auto* store = RVPlistHandler::sharedHandler();
    return store->textFileList().empty() && store->screenVideoEntries().empty() &&
           store->webViewEntries().empty();
}

std::vector<fs::path> filesUnder(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool near(int a, int b, int tolerance) {
    return std::abs(a - b) <= tolerance;
}

}  // namespace

struct QtRecorder::State {
    fs::path root;
    std::unique_ptr<collector::CollectorServer> server;
    std::set<fs::path> seen;  // files of earlier sessions
    bool started = false;
};

QtRecorder& QtRecorder::shared() {
    return shared([] { qtBridge(); });
}

QtRecorder& QtRecorder::shared(const std::function<void()>& install) {
    static QtRecorder* const recorder = new QtRecorder(install);  // lives for the process
    return *recorder;
}

QtRecorder::QtRecorder(const std::function<void()>& install) : state_(new State) {
    char pattern[] = "/tmp/rivlo-qt-recording-XXXXXX";
    state_->root = ::mkdtemp(pattern);
    collector::CollectorConfig config;
    config.dataDir = (state_->root / "collector").string();
    collector::CollectorApp app;
    app.key = kAppKey;
    app.name = "Qt masking";
    app.settings["screen_quality"] = 4;
    app.settings["url"] = "file://";
    config.apps.push_back(app);
    config.logSink = [](const std::string&) {};
    state_->server = std::make_unique<collector::CollectorServer>(config);
    std::string error;
    if (!state_->server->start(error)) std::fprintf(stderr, "collector: %s\n", error.c_str());
    ::setenv("RIVLO_SERVICE_URL", state_->server->url().c_str(), 1);

    LinuxDeviceConfig device;
    device.applicationIdentifier = "rivlo-qt-masking";
    device.cachesDirectory = (state_->root / "caches").string();
    device.defaultsDirectory = (state_->root / "defaults").string();
    auto linuxDevice = LinuxPlatform::install(device);
    RVUtil::setApplicationCachesDirectory(linuxDevice->cachesDirectory());
    RivloRecorders::registerAll();  // what the library's start registers
    install();
}

void QtRecorder::pass(double seconds) {
    (void)QTest::qWaitFor([] { return false; }, static_cast<int>(seconds * 1000));
}

QtRecording QtRecorder::record(const std::function<void()>& play, double tail) {
    QtRecording out;
    auto fail = [&](const std::string& what) {
        out.problems.push_back(what);
        return out;
    };
    if (!state_->started) {
        state_->started = true;
        RVFacade::startApplicationWithKey(kAppKey);
    } else {
        RVFacade::restartSession();
    }
    if (!qtWaitFor(
            [] {
                return RVUtil::isInfoPostSuccess() && RVFacade::isRecording() &&
                       RVViewVideoHandler::sharedHandler()->isRecording();
            },
            30))
        return fail("the library did not start recording");
    pass(0.5);  // the first frames
    play();
    pass(tail);
    RVFacade::stopApplicationAndUploadData();
    if (!qtWaitFor(
            [] {
                return !RVFacade::isRecording() &&
                       !RVViewVideoHandler::sharedHandler()->isRecording() && nothingPending();
            },
            90))
        return fail("the session was not sent");

    // What this session sent.
    std::vector<fs::path> movies, tiles, documents;
    for (const fs::path& file : filesUnder(state_->root / "collector" / "apps")) {
        if (!state_->seen.insert(file).second) continue;
        const std::string kind = file.parent_path().filename().string();
        (kind == "screen" ? movies : kind == "data" ? documents : tiles).push_back(file);
    }
    if (movies.size() != 1) return fail(std::to_string(movies.size()) + " movies, expected one");
    const auto movie = media::MovieProbe::open(movies[0].string());
    if (!movie.opened || movie.frames.empty()) return fail("the movie does not decode");
    out.frames = movie.frames;
    out.width = movie.width;
    out.height = movie.height;
    for (const fs::path& tile : tiles) {
        QImage image(QString::fromStdString(tile.string()));
        if (image.isNull()) {
            out.problems.push_back("tile " + tile.filename().string() + " does not decode");
        } else {
            out.tiles.push_back(image.convertToFormat(QImage::Format_RGB32));
        }
    }
    if (!documents.empty()) {
        std::ifstream in(documents.back(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        out.document = nlohmann::json::parse(text.str(), nullptr, false);
    }
    return out;
}

QtRecording::Seen QtRecording::find(QColor colour, int tolerance) const {
    Seen seen;
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        size_t here = 0;
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                const auto c = f.at(x, y);
                if (near(c.r, colour.red(), tolerance) && near(c.g, colour.green(), tolerance) &&
                    near(c.b, colour.blue(), tolerance)) {
                    if (!here && seen.first.empty()) {
                        seen.first = "frame " + std::to_string(i) + " at " +
                                     std::to_string(f.seconds) + " s, (" + std::to_string(x) +
                                     ", " + std::to_string(y) + ")";
                    }
                    ++here;
                }
            }
        }
        seen.framePixels += here;
    }
    for (size_t i = 0; i < tiles.size(); ++i) {
        const QImage& t = tiles[i];
        for (int y = 0; y < t.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(t.constScanLine(y));
            for (int x = 0; x < t.width(); ++x) {
                if (near(qRed(line[x]), colour.red(), tolerance) &&
                    near(qGreen(line[x]), colour.green(), tolerance) &&
                    near(qBlue(line[x]), colour.blue(), tolerance)) {
                    if (seen.first.empty())
                        seen.first = "tile " + std::to_string(i) + " at (" + std::to_string(x) +
                                     ", " + std::to_string(y) + ")";
                    ++seen.tilePixels;
                }
            }
        }
    }
    return seen;
}

media::DecodedFrame::RGB QtRecording::at(size_t index, QPoint p) const {
    if (index >= frames.size()) return {};
    return frames[index].at(p.x(), p.y());
}

std::vector<shop::RecordedGesture> QtRecording::gestures() const {
    return shop::ShopScript::gesturesOf(document);
}

}  // namespace rivlo::test
