#include "DemoCheck.h"

#include "JpegPicture.h"
#include "DemoJson.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace rivlo::demo {

namespace fs = std::filesystem;
using collector::CollectedSession;
using collector::CollectorSessions;
using collector::UploadRecord;
using nlohmann::json;

namespace {

std::string text(const json& o, const char* key) {
    return textOf(o, key);
}

double number(const json& o, const char* key, double fallback) {
    return numberOf(o, key, fallback);
}

std::string names(const std::vector<std::string>& list) {
    std::string out;
    for (const auto& n : list)
        out += (out.empty() ? "" : ", ") + n;
    return "[" + out + "]";
}

std::string codesText(const std::vector<int>& codes) {
    std::string out;
    for (int c : codes)
        out += (out.empty() ? "" : " ") + std::to_string(c);
    return "{" + out + "}";
}

class Checker {
  public:
    Checker(const DemoData& data, const DemoRunResult& run) : data_(data), run_(run) {}

    void session(size_t k, const ExpectedSession& want, const CollectedSession& got) {
        const std::string where = "session " + std::to_string(k + 1);
        if (!got.readable) {
            problem(where + ": the document " + got.document.fileName + " cannot be read");
            return;
        }
        const json& doc = got.content;
        document(where, want, doc);
        timeline(where, want, listOf(doc, "ut"));
        movies(where, want, got);
        tiles(where, want, got);
    }

    void runNumbers(const std::vector<CollectedSession>& sessions) {
        double last = -1;
        for (size_t k = 0; k < sessions.size(); ++k) {
            const double run = number(sessions[k].content, "dr", -1);
            if (run <= last)
                problem("session " + std::to_string(k + 1) + ": run number " +
                        text(sessions[k].content, "dr") + " does not follow the previous one");
            last = run;
        }
    }

    std::vector<std::string> problems;

  private:
    void problem(const std::string& line) { problems.push_back(line); }

    void document(const std::string& where, const ExpectedSession& want, const json& doc) {
        for (const char* key : {"dan", "apd", "did", "dr", "osn", "dvt", "wd", "ht", "rl", "dmn",
                                "eml", "cv", "cn", "platform", "appname"}) {
            if (!doc.contains(key)) problem(where + ": the document lacks \"" + key + "\"");
        }
        if (!doc.contains("cr") || doc["cr"] != false)
            problem(where + ": the document reports a crash");
        if (want.userName && text(doc, "dan") != *want.userName)
            problem(where + ": user name \"" + text(doc, "dan") + "\", expected \"" +
                    *want.userName + "\"");
        std::vector<std::string> tags;
        for (const json& t : listOf(doc, "tags"))
            tags.push_back(text(t, "tag"));
        if (tags != want.tags)
            problem(where + ": tags " + names(tags) + ", expected " + names(want.tags));
        if (want.location) {
            const json lc = doc.contains("lc") ? doc["lc"] : json::object();
            if (std::fabs(number(lc, "lt", 1e9) - want.location->first) > 1e-9 ||
                std::fabs(number(lc, "lg", 1e9) - want.location->second) > 1e-9)
                problem(where + ": location " + lc.dump() + " is not the one set");
        }
        const int favourite = static_cast<int>(number(doc, "isF", -1));
        if (favourite != (want.favourite ? 1 : 0))
            problem(where + ": favourite mark " + std::to_string(favourite) + ", expected " +
                    (want.favourite ? "1" : "0"));
    }

    void timeline(const std::string& where, const ExpectedSession& want, const json& ut) {
        std::vector<std::string> gotNames, wantNames;
        for (const json& e : ut)
            gotNames.push_back(text(e, "an"));
        if (!ut.is_array()) {
            problem(where + ": the timeline is not a list");
            return;
        }
        for (const ExpectedEntry& e : want.entries)
            wantNames.push_back(e.name);
        if (gotNames != wantNames) {
            problem(where + ": screens in the timeline " + names(gotNames) + ", expected " +
                    names(wantNames));
            return;
        }
        for (size_t i = 0; i < want.entries.size(); ++i)
            entry(where + ", screen \"" + wantNames[i] + "\"", want.entries[i], ut[i]);
    }

    void entry(const std::string& where, const ExpectedEntry& want, const json& got) {
        if (static_cast<int>(number(got, "wb", -1)) != (want.web ? 1 : 0))
            problem(where + ": web page mark " + text(got, "wb") + ", expected " +
                    (want.web ? "1" : "0"));
        std::vector<int> gotCodes, wantCodes;
        std::vector<const json*> records;
        for (const json& r : listOf(got, "cor")) {
            if (!isRecord(r)) {
                problem(where + ": a coordinate record is not eight numbers: " + r.dump());
                continue;
            }
            gotCodes.push_back(static_cast<int>(r[3].get<double>()));
            records.push_back(&r);
        }
        int doubleTaps = 0;
        for (const ExpectedGesture& g : want.gestures) {
            wantCodes.push_back(g.code);
            if (g.doubleTap) ++doubleTaps;
        }
        // Every expected gesture once; besides them only the single taps a double tap may
        // also give (two per double tap at most).
        std::vector<int> missing, extra;
        std::vector<int> a = gotCodes, b = wantCodes;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(missing));
        std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(extra));
        const bool extraAllowed =
            std::all_of(extra.begin(), extra.end(), [](int c) { return c == 0; }) &&
            static_cast<int>(extra.size()) <= 2 * doubleTaps;
        if (!missing.empty() || !extraAllowed)
            problem(where + ": gestures " + codesText(gotCodes) + ", expected " +
                    codesText(wantCodes) +
                    (doubleTaps ? " (plus up to two taps per double tap)" : ""));
        if (want.web) return;  // touches on a page are kept in the page's own coordinates
        for (const ExpectedGesture& g : want.gestures) {
            if (!g.point) continue;
            const bool found = std::any_of(records.begin(), records.end(), [&](const json* r) {
                return static_cast<int>((*r)[3].get<double>()) == g.code &&
                       std::fabs((*r)[6].get<double>() - g.point->x) <= 3 &&
                       std::fabs((*r)[7].get<double>() - g.point->y) <= 3;
            });
            if (!found) {
                char line[160];
                std::snprintf(line, sizeof line,
                              ": no gesture %d recorded at (%.0f, %.0f) (scenario line %d)", g.code,
                              g.point->x, g.point->y, g.line);
                problem(where + line);
            }
        }
    }

    void movies(const std::string& where, const ExpectedSession& want,
                const CollectedSession& got) {
        std::vector<const UploadRecord*> screens;
        for (const UploadRecord& item : got.items) {
            if (item.kind == "screen") screens.push_back(&item);
        }
        if (screens.size() != 1) {
            problem(where + ": " + std::to_string(screens.size()) + " screen movies, expected 1");
            return;
        }
        auto it = data_.movies.find(screens[0]->path);
        if (it == data_.movies.end() || !it->second.opened || it->second.frames.empty()) {
            problem(where + ": the screen movie " + screens[0]->fileName + " does not decode");
            return;
        }
        const media::MovieProbe& movie = it->second;
        const int wantWidth = static_cast<int>(std::ceil(run_.screen.width / 16.0) * 16);
        const int wantHeight = static_cast<int>(std::lround(run_.screen.height));
        if (movie.codecName != "h264" || movie.width != wantWidth || movie.height != wantHeight)
            problem(where + ": the screen movie is " + movie.codecName + " " +
                    std::to_string(movie.width) + "x" + std::to_string(movie.height) +
                    ", expected h264 " + std::to_string(wantWidth) + "x" +
                    std::to_string(wantHeight));
        const double length = number(got.content, "tt", 0);
        if (std::fabs(movie.duration - length) > 3.0) {
            char line[160];
            std::snprintf(line, sizeof line, ": the screen movie lasts %.1f s, the session %.0f s",
                          movie.duration, length);
            problem(where + line);
        }
        const double sx = movie.width / run_.screen.width;
        const double sy = movie.height / run_.screen.height;
        for (const std::string& id : want.maskedViews) {
            auto rect = run_.views.find(id);
            if (rect == run_.views.end()) continue;
            const Rect& r = rect->second;
            // Five points: the centre and four points just inside the corners.
            const double inset = 2;
            const Point points[] = {{r.minX() + r.width() / 2, r.minY() + r.height() / 2},
                                    {r.minX() + inset, r.minY() + inset},
                                    {r.maxX() - inset, r.minY() + inset},
                                    {r.minX() + inset, r.maxY() - inset},
                                    {r.maxX() - inset, r.maxY() - inset}};
            const auto paintedOver = [&](const auto& frame) {
                return std::all_of(std::begin(points), std::end(points), [&](Point p) {
                    auto c = frame.at(static_cast<int>(p.x * sx), static_cast<int>(p.y * sy));
                    return c.r > 200 && c.g < 70 && c.b < 70;
                });
            };
            if (!std::any_of(movie.frames.begin(), movie.frames.end(), paintedOver))
                problem(where + ": the view \"" + id + "\" is never painted over in the movie");
            // Marked before the start: hidden from the very first frame.
            if (want.maskedFromFirstFrame.count(id) && !paintedOver(movie.frames.front()))
                problem(where + ": the view \"" + id + "\" shows in the movie's first frame");
        }
    }

    void tiles(const std::string& where, const ExpectedSession& want, const CollectedSession& got) {
        std::set<std::string> pages;
        for (const UploadRecord& item : got.items) {
            if (item.kind != "tile") continue;
            pages.insert(text(item.fields, "activity_name"));
            std::string error;
            auto image = collector::JpegPicture::decodeFile(
                (fs::path(data_.dataDir) / item.path).string(), error);
            const int w = static_cast<int>(number(item.fields, "gridImg_width", -1));
            const int h = static_cast<int>(number(item.fields, "gridImg_height", -1));
            if (!image) {
                problem(where + ": web tile " + item.fileName + " does not decode: " + error);
            } else if (std::abs(image->width - w) > 1 || std::abs(image->height - h) > 1) {
                problem(where + ": web tile " + item.fileName + " is " +
                        std::to_string(image->width) + "x" + std::to_string(image->height) +
                        ", the grid says " + std::to_string(w) + "x" + std::to_string(h));
            }
        }
        for (const std::string& url : want.webPages) {
            if (!pages.count(url)) problem(where + ": no web tiles of " + url);
        }
    }

    const DemoData& data_;
    const DemoRunResult& run_;
};

}  // namespace

DemoData DemoCheck::load(const std::string& collectorDir, const std::string& appKey) {
    DemoData data;
    data.dataDir = collectorDir;
    collector::CollectorIndex index;
    std::string error;
    if (!index.open((fs::path(collectorDir) / "collector.sqlite").string(), true, error)) {
        data.problems.push_back("the collector's index cannot be read: " + error);
        return data;
    }
    std::vector<collector::InstallationRecord> installations;
    for (const auto& i : index.installations()) {
        if (i.appKey == appKey) installations.push_back(i);
    }
    const std::vector<UploadRecord> uploads = index.uploads();
    index.close();
    if (installations.size() != 1) {
        data.problems.push_back("the collector knows " + std::to_string(installations.size()) +
                                " installations of the application, expected 1");
        if (installations.empty()) return data;
    }
    std::vector<UploadRecord> own;
    for (const UploadRecord& u : uploads) {
        if (u.appDeviceId == installations[0].appDeviceId) own.push_back(u);
    }
    data.installation =
        CollectorSessions::group(installations[0].appDeviceId, installations[0], own, collectorDir);
    for (const auto& s : data.installation.sessions) {
        for (const UploadRecord& item : s.items) {
            if (item.kind == "screen" || item.kind == "camera")
                data.movies[item.path] =
                    media::MovieProbe::open((fs::path(collectorDir) / item.path).string());
        }
    }
    data.loaded = true;
    return data;
}

std::vector<std::string> DemoCheck::compare(const std::vector<ExpectedSession>& expected,
                                            const DemoData& data, const DemoRunResult& run) {
    Checker check(data, run);
    check.problems = data.problems;
    check.problems.insert(check.problems.end(), run.problems.begin(), run.problems.end());
    const auto& sessions = data.installation.sessions;
    if (sessions.size() != expected.size())
        check.problems.push_back(std::to_string(sessions.size()) +
                                 " sessions arrived, the scenario made " +
                                 std::to_string(expected.size()));
    for (size_t k = 0; k < std::min(sessions.size(), expected.size()); ++k)
        check.session(k, expected[k], sessions[k]);
    check.runNumbers(sessions);
    for (const UploadRecord& item : data.installation.unassigned)
        check.problems.push_back("the " + item.kind + " upload " + item.fileName +
                                 " belongs to no session");
    return check.problems;
}

}  // namespace rivlo::demo
