#include "SessionFacts.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "CollectorSessions.h"
#include "protocol/RVWireProtocol.h"

namespace rivlo::collector {

using nlohmann::json;

namespace {

// A coordinate record: eight finite numbers.
bool isRecord(const json& r) {
    if (!r.is_array() || r.size() != 8) return false;
    for (const json& v : r) {
        if (!v.is_number()) return false;
        const double d = v.get<double>();
        if (!std::isfinite(d)) return false;
    }
    return true;
}

std::string textOf(const json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    if (it == object.end()) return {};
    return it->is_string() ? it->get<std::string>() : it->dump();
}

bool isGesture(int code) {
    using namespace rivlo::RVTimelineEvent;
    return code == SingleTap || code == DoubleTap || code == SwipeUp || code == SwipeDown ||
           code == SwipeLeft || code == SwipeRight || code == PinchOut || code == PinchIn;
}

// Points beyond any screen (a hostile document) are not summed: they would only make rows.
constexpr double kFarthestPoint = 100000;

}  // namespace

std::vector<SessionFacts::Gesture> SessionFacts::gestures(const json& document) {
    std::vector<Gesture> out;
    if (!document.is_object() || !document.contains("ut") || !document["ut"].is_array()) return out;
    for (const json& visit : document["ut"]) {
        if (!visit.is_object() || !visit.contains("cor") || !visit["cor"].is_array()) continue;
        const std::string screen = textOf(visit, "an");
        const bool web = visit.contains("wb") && CollectorSessions::integerOf(visit["wb"], 0) == 1;
        for (const json& r : visit["cor"]) {
            if (!isRecord(r)) continue;
            Gesture g;
            g.screen = screen;
            g.web = web;
            g.x = r[0].get<double>();
            g.y = r[1].get<double>();
            g.orientation = static_cast<int>(r[2].get<double>());
            g.code = static_cast<int>(r[3].get<double>());
            g.seconds = static_cast<int64_t>(r[5].get<double>());
            g.wx = r[6].get<double>();
            g.wy = r[7].get<double>();
            out.push_back(std::move(g));
        }
    }
    return out;
}

std::vector<SessionFacts::Gesture> SessionFacts::rageTaps(const std::vector<Gesture>& taps) {
    std::vector<Gesture> out;
    std::vector<bool> used(taps.size(), false);
    for (size_t i = 0; i < taps.size(); ++i) {
        if (used[i]) continue;
        std::vector<size_t> run{i};
        for (size_t j = i + 1; j < taps.size() && taps[j].seconds - taps[i].seconds <= 1; ++j) {
            if (used[j]) continue;
            if (std::hypot(taps[j].x - taps[i].x, taps[j].y - taps[i].y) <= kRageRadius)
                run.push_back(j);
        }
        if (run.size() < 3) continue;
        for (size_t k : run)
            used[k] = true;
        out.push_back(taps[i]);
    }
    return out;
}

SessionRecord SessionFacts::of(const json& document, const UploadRecord& record, int64_t run) {
    SessionRecord s;
    s.appKey = record.appKey;
    s.appDeviceId = record.appDeviceId;
    s.run = std::max<int64_t>(run, 0);
    if (document.contains("tt")) {
        s.duration = std::max<int64_t>(0, CollectorSessions::integerOf(document["tt"], 0));
    }
    const auto stamp = CollectorSessions::stampOf(record.fileName);
    s.startedUnix = (stamp ? *stamp : record.receivedUnix) - s.duration;

    // Screens in the order they were first seen, with their first gesture.
    std::map<std::string, size_t> screenAt;
    if (document.contains("ut") && document["ut"].is_array()) {
        for (const json& visit : document["ut"]) {
            if (!visit.is_object()) continue;
            ++s.screens;
            const std::string name = textOf(visit, "an");
            if (screenAt.count(name)) continue;
            SessionScreen screen;
            screen.name = name;
            screen.appearedAt =
                visit.contains("at") ? CollectorSessions::integerOf(visit["at"], 0) : 0;
            screen.web = visit.contains("wb") && CollectorSessions::integerOf(visit["wb"], 0) == 1;
            screenAt[name] = s.visited.size();
            s.visited.push_back(std::move(screen));
        }
    }
    // Gestures summed by screen, kind and whole point; single taps kept per screen in time
    // order for the rage taps.
    std::map<std::tuple<std::string, int, int64_t, int64_t>, int64_t> sums;
    std::map<std::string, std::vector<Gesture>> taps;
    for (const Gesture& g : gestures(document)) {
        if (g.code == rivlo::RVTimelineEvent::OrientationChange) continue;
        if (!isGesture(g.code)) continue;
        ++s.gestures;
        auto at = screenAt.find(g.screen);
        if (at != screenAt.end() && s.visited[at->second].firstGestureAt < 0)
            s.visited[at->second].firstGestureAt = g.seconds;
        if (std::fabs(g.x) > kFarthestPoint || std::fabs(g.y) > kFarthestPoint) continue;
        ++sums[{g.screen, g.code, std::llround(g.x), std::llround(g.y)}];
        if (g.code == rivlo::RVTimelineEvent::SingleTap) taps[g.screen].push_back(g);
    }
    for (auto& [screen, list] : taps) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Gesture& a, const Gesture& b) { return a.seconds < b.seconds; });
        for (const Gesture& g : rageTaps(list))
            ++sums[{screen, kRageTap, std::llround(g.x), std::llround(g.y)}];
    }
    for (const auto& [key, count] : sums) {
        s.points.push_back(
            {std::get<0>(key), std::get<1>(key), std::get<2>(key), std::get<3>(key), count});
    }

    const size_t prefix = std::char_traits<char>::length(kVersionTagPrefix);
    if (document.contains("tags") && document["tags"].is_array()) {
        for (const json& tag : document["tags"]) {
            if (!tag.is_object() || !tag.contains("tag") || !tag["tag"].is_string()) continue;
            std::string text = tag["tag"].get<std::string>();
            if (s.version.empty() && text.size() > prefix &&
                text.compare(0, prefix, kVersionTagPrefix) == 0) {
                s.version = text.substr(prefix, 100);
            }
            s.tags.push_back(std::move(text));
        }
    }
    s.crash = document.contains("cr") && document["cr"].is_boolean() && document["cr"].get<bool>();
    s.favourite = document.contains("isF") && CollectorSessions::integerOf(document["isF"], 0) != 0;
    if (document.contains("dan") && document["dan"].is_string())
        s.userName = document["dan"].get<std::string>();
    return s;
}

}  // namespace rivlo::collector
