#include "CollectorSessions.h"

#include "CollectorJson.h"
#include "protocol/RVWireProtocol.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace rivlo::collector {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A movie may be finished a little after its session's document was written; this is how long
// after the document a screen movie still counts as that session's.
constexpr int64_t kScreenMovieGrace = 120;

}  // namespace

std::optional<int64_t> CollectorSessions::stampOf(const std::string& fileName) {
    std::string stem = fs::path(fileName).stem().string();
    size_t underscore = stem.rfind('_');
    if (underscore != std::string::npos) stem = stem.substr(underscore + 1);
    if (stem.empty() || stem.size() > 18 ||
        !std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoll(stem);
}

const char* CollectorSessions::gestureName(int64_t code) {
    switch (code) {
        case rivlo::RVTimelineEvent::SingleTap:
            return "single tap";
        case rivlo::RVTimelineEvent::DoubleTap:
            return "double tap";
        case rivlo::RVTimelineEvent::SwipeUp:
            return "swipe up";
        case rivlo::RVTimelineEvent::SwipeDown:
            return "swipe down";
        case rivlo::RVTimelineEvent::SwipeLeft:
            return "swipe left";
        case rivlo::RVTimelineEvent::SwipeRight:
            return "swipe right";
        case rivlo::RVTimelineEvent::PinchOut:
            return "pinch out";
        case rivlo::RVTimelineEvent::PinchIn:
            return "pinch in";
        case rivlo::RVTimelineEvent::OrientationChange:
            return "orientation change";
        default:
            return "other gesture";
    }
}

int64_t CollectorSessions::integerOf(const json& value, int64_t fallback) {
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) return static_cast<int64_t>(value.get<double>());
    if (value.is_string()) {
        try {
            return std::stoll(value.get<std::string>());
        } catch (...) {
        }
    }
    return fallback;
}

std::optional<size_t> CollectorSessions::ownerOf(const std::string& kind,
                                                 const std::string& fileName,
                                                 const std::vector<PlacedDocument>& documents) {
    const auto stamp = stampOf(fileName);
    if (!stamp) return std::nullopt;
    // A movie is finished and named as its session stops, a moment before or after the
    // document: the session whose document is nearest to it (within a grace period; on a tie
    // the one whose document came first), even when the next session began at once.
    if (kind == "screen" || kind == "camera") {
        std::optional<size_t> owner;
        int64_t best = kScreenMovieGrace + 1;
        for (size_t k = 0; k < documents.size(); ++k) {
            const PlacedDocument& s = documents[k];
            if (!s.hasStamp) continue;
            const int64_t distance = *stamp >= s.stamp ? *stamp - s.stamp : s.stamp - *stamp;
            if (distance < best || (distance == best && s.stamp <= *stamp)) {
                best = distance;
                owner = k;
            }
        }
        if (owner) return owner;
    }
    // Otherwise (tiles, and movies far from every document) the session running at the
    // stamp: from its document's stamp minus its length to the document's stamp.
    for (size_t k = 0; k < documents.size(); ++k) {
        const PlacedDocument& s = documents[k];
        if (s.hasStamp && *stamp >= s.stamp - s.length - 2 && *stamp <= s.stamp) return k;
    }
    return std::nullopt;
}

CollectedInstallation CollectorSessions::group(const std::string& appDeviceId,
                                               std::optional<InstallationRecord> facts,
                                               const std::vector<UploadRecord>& uploads,
                                               const std::string& dataDir) {
    CollectedInstallation out;
    out.appDeviceId = appDeviceId;
    out.facts = std::move(facts);
    std::vector<const UploadRecord*> items;
    for (const UploadRecord& upload : uploads) {
        if (upload.kind != "data") {
            items.push_back(&upload);
            continue;
        }
        CollectedSession session;
        session.document = upload;
        session.content =
            CollectorJson::parseFile((fs::path(dataDir) / upload.path).string(),
                                     CollectorJson::kMaxDocumentBytes, session.problem);
        session.readable = !session.content.is_discarded() && session.content.is_object();
        if (!session.readable && session.problem.empty()) session.problem = "is not an object";
        if (session.readable && session.content.contains("tt")) {
            session.length = std::max<int64_t>(0, integerOf(session.content["tt"], 0));
        }
        if (auto stamp = stampOf(upload.fileName)) {
            session.stamp = *stamp;
            session.hasStamp = true;
        }
        out.sessions.push_back(std::move(session));
    }
    std::stable_sort(
        out.sessions.begin(), out.sessions.end(),
        [](const CollectedSession& a, const CollectedSession& b) { return a.stamp < b.stamp; });

    std::vector<PlacedDocument> documents;
    for (const CollectedSession& s : out.sessions)
        documents.push_back({s.document.id, s.hasStamp, s.stamp, s.length});
    for (const UploadRecord* item : items) {
        if (auto owner = ownerOf(item->kind, item->fileName, documents)) {
            out.sessions[*owner].items.push_back(*item);
        } else {
            out.unassigned.push_back(*item);
        }
    }
    return out;
}

}  // namespace rivlo::collector
