#include "ShopVisitSupport.h"

#include "core/RVFacade.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtWebMasks.h"
#include "screen/RVViewVideoHandler.h"
#include "store/RVPlistHandler.h"

#include <nlohmann/json.hpp>

#include <QImage>
#include <QTest>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace shop {

namespace fs = std::filesystem;

namespace {

bool nothingPending() {
    auto* store = rivlo::RVPlistHandler::sharedHandler();
    return store->textFileList().empty() && store->screenVideoEntries().empty() &&
           store->webViewEntries().empty();
}

// What a platform with application states (Android, iOS, embedded shells) reports when the
// application is sent away and brought back. Qt's offscreen and X11 platforms derive the state
// from window focus and report no such moves; the visit hands them to the bridge as the
// platform would.
void setApplicationState(Qt::ApplicationState state) {
    if (auto* bridge = rivlo::QtBridge::current()) bridge->applicationStateChanged(state);
}

}  // namespace

bool waitFor(const std::function<bool()>& predicate, double seconds) {
    return QTest::qWaitFor(predicate, static_cast<int>(seconds * 1000));
}

void letTimePass(double seconds) {
    waitFor([] { return false; }, seconds);
}

void waitUntilPageChecked(QObject* webView) {
    waitFor(
        [webView] {
            auto* bridge = rivlo::QtBridge::current();
            return bridge && !bridge->webMasks().shown(webView).isNull();
        },
        20);
}

bool sendToBackground(double seconds) {
    setApplicationState(Qt::ApplicationHidden);
    // The background path is over when the library ends its background task.
    return waitFor(
        [] {
            auto* bridge = rivlo::QtBridge::current();
            return !rivlo::RVFacade::isRecording() && nothingPending() && bridge &&
                   bridge->application().openBackgroundTaskCount() == 0;
        },
        seconds);
}

bool bringToForeground(double seconds) {
    setApplicationState(Qt::ApplicationActive);
    return waitFor([] { return rivlo::RVViewVideoHandler::sharedHandler()->isRecording(); },
                   seconds);
}

bool stopAndUpload(double seconds) {
    rivlo::RVFacade::stopApplicationAndUploadData();
    return waitFor(
        [] {
            return !rivlo::RVFacade::isRecording() &&
                   !rivlo::RVViewVideoHandler::sharedHandler()->isRecording() && nothingPending();
        },
        seconds);
}

StoredFiles storedFiles(const fs::path& dataDir) {
    StoredFiles out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dataDir / "apps", ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string kind = it->path().parent_path().filename().string();
        (kind == "screen" ? out.movies
         : kind == "data" ? out.documents
                          : out.others)
            .push_back(it->path());
    }
    std::sort(out.movies.begin(), out.movies.end());
    std::sort(out.documents.begin(), out.documents.end());
    return out;
}

nlohmann::json readJson(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str(), nullptr, false);
}

size_t decodedPictures(const std::vector<fs::path>& files) {
    return static_cast<size_t>(std::count_if(files.begin(), files.end(), [](const fs::path& f) {
        return !QImage(QString::fromStdString(f.string())).isNull();
    }));
}

bool isRed(const rivlo::media::DecodedFrame::RGB& c) {
    return c.r > 200 && c.g < 70 && c.b < 70;
}

std::string pointText(QPoint p) {
    return "(" + std::to_string(p.x()) + ", " + std::to_string(p.y()) + ")";
}

}  // namespace shop
