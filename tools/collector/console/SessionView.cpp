#include "SessionView.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <tuple>

#include "CollectorSessions.h"
#include "SessionFacts.h"
#include "protocol/RVWireProtocol.h"

namespace rivlo::collector {

using nlohmann::json;

namespace {

json textOrNull(const json& document, const char* key) {
    if (!document.is_object() || !document.contains(key)) return nullptr;
    const json& v = document[key];
    if (v.is_string() || v.is_number()) return v;
    return nullptr;
}

json numberOrNull(const json& document, const char* key) {
    if (!document.is_object() || !document.contains(key)) return nullptr;
    const json& v = document[key];
    if (v.is_number()) return v;
    if (v.is_string()) {
        try {
            return std::stod(v.get<std::string>());
        } catch (...) {
        }
    }
    return nullptr;
}

double fieldNumber(const json& fields, const char* key) {
    if (!fields.is_object() || !fields.contains(key)) return 0;
    const json& v = fields[key];
    if (v.is_number()) return v.get<double>();
    if (!v.is_string()) return 0;
    try {
        const double d = std::stod(v.get<std::string>());
        return std::isfinite(d) ? d : 0;
    } catch (...) {
        return 0;
    }
}

std::string fieldText(const json& fields, const char* key) {
    if (!fields.is_object() || !fields.contains(key) || !fields[key].is_string()) return {};
    return fields[key].get<std::string>();
}

}  // namespace

std::string SessionView::isoTime(int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string SessionView::mediaUrl(int64_t uploadId) {
    return "/api/v1/media/" + std::to_string(uploadId);
}

const char* SessionView::kindName(int code) {
    using namespace rivlo::RVTimelineEvent;
    switch (code) {
        case SingleTap:
            return "tap";
        case DoubleTap:
            return "double_tap";
        case SwipeUp:
        case SwipeDown:
        case SwipeLeft:
        case SwipeRight:
            return "swipe";
        case PinchOut:
        case PinchIn:
            return "pinch";
        case OrientationChange:
            return "rotation";
        case SessionFacts::kRageTap:
            return "rage_tap";
        default:
            return "";
    }
}

json SessionView::summary(const ConsoleQueries::SessionRow& row, const std::string& appFolder) {
    const SessionRecord& s = row.session;
    return json{{"id", s.uploadId},
                {"app", appFolder},
                {"installation", s.appDeviceId},
                {"started_at", isoTime(s.startedUnix)},
                {"duration_s", s.duration},
                {"screens", row.screens},
                {"gestures", s.gestures},
                {"crashed", s.crash},
                {"tags", s.tags},
                {"movie", row.movie},
                {"user", s.userName},
                {"run", s.run},
                {"favourite", s.favourite},
                {"version", s.version}};
}

json SessionView::events(const json& document, int64_t duration, bool crashed) {
    using namespace rivlo::RVTimelineEvent;
    json out = json::array();
    if (document.contains("ut") && document["ut"].is_array()) {
        for (const json& visit : document["ut"]) {
            if (!visit.is_object()) continue;
            const std::string name = visit.contains("an") && visit["an"].is_string()
                                         ? visit["an"].get<std::string>()
                                         : std::string();
            out.push_back(json{
                {"t", visit.contains("at") ? CollectorSessions::integerOf(visit["at"], 0) : 0},
                {"kind", "screen"},
                {"screen", name},
                {"web", visit.contains("wb") && CollectorSessions::integerOf(visit["wb"], 0) == 1},
                {"x", nullptr},
                {"y", nullptr}});
        }
    }
    for (const SessionFacts::Gesture& g : SessionFacts::gestures(document)) {
        const char* kind = kindName(g.code);
        if (!*kind) continue;
        json e{{"t", g.seconds}, {"kind", kind}, {"screen", g.screen}};
        if (g.code == OrientationChange) {
            e["x"] = nullptr;
            e["y"] = nullptr;
            e["orientation"] = g.orientation;
        } else {
            e["x"] = g.x;
            e["y"] = g.y;
            // Where the finger was on the screen (for a web page, in the web view; x and y are
            // then the point in the page).
            e["touch_x"] = g.wx;
            e["touch_y"] = g.wy;
        }
        if (g.code == SwipeUp) e["direction"] = "up";
        if (g.code == SwipeDown) e["direction"] = "down";
        if (g.code == SwipeLeft) e["direction"] = "left";
        if (g.code == SwipeRight) e["direction"] = "right";
        if (g.code == PinchOut) e["direction"] = "out";
        if (g.code == PinchIn) e["direction"] = "in";
        out.push_back(std::move(e));
    }
    out.push_back(json{{"t", duration},
                       {"kind", crashed ? "crash" : "background"},
                       {"screen", nullptr},
                       {"x", nullptr},
                       {"y", nullptr}});
    // One clock: by time, screens before the gestures made on them at the same second.
    std::vector<json> sorted(out.begin(), out.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const json& a, const json& b) {
        const auto ta = a["t"].get<int64_t>(), tb = b["t"].get<int64_t>();
        if (ta != tb) return ta < tb;
        return a["kind"] == "screen" && b["kind"] != "screen";
    });
    return json(sorted);
}

json SessionView::detail(const ConsoleQueries::SessionRow& row, const std::string& appFolder,
                         const json& document, const std::vector<UploadRecord>& items) {
    json out = summary(row, appFolder);
    const SessionRecord& s = row.session;
    out["events"] = events(document, s.duration, s.crash);
    out["device"] = json{{"id", textOrNull(document, "did")},
                         {"model", textOrNull(document, "dmn")},
                         {"type", textOrNull(document, "dvt")},
                         {"os", textOrNull(document, "osn")},
                         {"platform", textOrNull(document, "platform")},
                         {"width", numberOrNull(document, "wd")},
                         {"height", numberOrNull(document, "ht")},
                         {"density", textOrNull(document, "rl")},
                         {"app_name", textOrNull(document, "appname")},
                         {"library", textOrNull(document, "cv")}};
    json tagTimes = json::array();
    if (document.contains("tags") && document["tags"].is_array()) {
        for (const json& tag : document["tags"]) {
            if (!tag.is_object() || !tag.contains("tag") || !tag["tag"].is_string()) continue;
            tagTimes.push_back(json{{"tag", tag["tag"]}, {"t", numberOrNull(tag, "time")}});
        }
    }
    out["tag_times"] = tagTimes;
    out["location"] = nullptr;
    if (document.contains("lc") && document["lc"].is_object()) {
        const json lat = numberOrNull(document["lc"], "lt");
        const json lng = numberOrNull(document["lc"], "lg");
        if (!lat.is_null() && !lng.is_null())
            out["location"] = json{{"latitude", lat}, {"longitude", lng}};
    }

    // The latest movie of each kind, when a session has more than one.
    json media{{"screen", nullptr}, {"camera", nullptr}};
    // Web pages: their tiles by page address and orientation, with the grid of the latest.
    std::map<std::pair<std::string, std::string>, json> pages;
    for (const UploadRecord& item : items) {
        if (item.kind == "screen" || item.kind == "camera") {
            media[item.kind] = mediaUrl(item.id);
            media[item.kind + "_seconds"] =
                fieldNumber(item.fields, item.kind == "screen" ? "sv_duration" : "cv_duration");
            continue;
        }
        if (item.kind != "tile") continue;
        const std::string address = fieldText(item.fields, "activity_name");
        json& page = pages[{address, fieldText(item.fields, "orientation")}];
        if (page.is_null()) {
            page = json{{"address", address},
                        {"orientation", fieldText(item.fields, "orientation")},
                        {"tiles", json::array()},
                        {"touches", json::array()}};
        }
        page["rows"] = static_cast<int64_t>(fieldNumber(item.fields, "total_rows"));
        page["columns"] = static_cast<int64_t>(fieldNumber(item.fields, "total_columns"));
        page["tile_width"] = static_cast<int64_t>(fieldNumber(item.fields, "gridImg_width"));
        page["tile_height"] = static_cast<int64_t>(fieldNumber(item.fields, "gridImg_height"));
        page["tiles"].push_back(json{{"url", mediaUrl(item.id)},
                                     {"x", fieldNumber(item.fields, "dist_x")},
                                     {"y", fieldNumber(item.fields, "dist_y")}});
    }
    out["media"] = media;
    json webPages = json::array();
    for (auto& [key, page] : pages) {
        for (const json& e : out["events"]) {
            if (e["kind"] == "screen" || e["kind"] == "rotation" || e["screen"] != key.first ||
                e["x"].is_null())
                continue;
            page["touches"].push_back(
                json{{"t", e["t"]}, {"kind", e["kind"]}, {"x", e["x"]}, {"y", e["y"]}});
        }
        webPages.push_back(std::move(page));
    }
    out["web_pages"] = webPages;
    return out;
}

}  // namespace rivlo::collector
