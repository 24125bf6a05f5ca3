#include "HeatMapView.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "CollectorJson.h"
#include "HeatMapPainter.h"
#include "JpegPicture.h"
#include "MovieFrame.h"
#include "SessionFacts.h"
#include "SessionView.h"
#include "protocol/RVWireProtocol.h"

namespace rivlo::collector {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The console's name of a gesture kind for the kinds a heat map shows.
std::string family(int code) {
    const std::string name = SessionView::kindName(code);
    return name == "rage_tap" ? "tap" : name;
}

const char* direction(int code) {
    using namespace rivlo::RVTimelineEvent;
    switch (code) {
        case SwipeUp:
            return "up";
        case SwipeDown:
            return "down";
        case SwipeLeft:
            return "left";
        case SwipeRight:
            return "right";
        case PinchOut:
            return "out";
        case PinchIn:
            return "in";
        default:
            return nullptr;
    }
}

double number(const json& object, const char* key, double fallback) {
    if (!object.is_object() || !object.contains(key)) return fallback;
    const json& v = object[key];
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) {
        try {
            return std::stod(v.get<std::string>());
        } catch (...) {
        }
    }
    return fallback;
}

std::string dayText(int64_t day) {
    return SessionView::isoTime(day * 86400).substr(0, 10);
}

}  // namespace

// What a heat map is drawn over, and how points map onto it.
struct HeatMapView::Picture {
    int width = 0;  // pixels
    int height = 0;
    double scaleX = 1;  // pixels per point
    double scaleY = 1;
    double pointsWide = 0;  // the screen or page in points
    double pointsHigh = 0;
    std::string note;
    std::optional<MoviePicture> frame;
    std::vector<std::pair<UploadRecord, RgbImage>> tiles;
};

bool HeatMapView::kindsFrom(const std::string& list, std::set<std::string>& kinds) {
    static const std::set<std::string> known = {"tap", "double_tap", "swipe", "pinch"};
    kinds.clear();
    if (list.empty()) {
        kinds = known;
        return true;
    }
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        const std::string kind = list.substr(at, comma - at);
        if (!known.count(kind)) return false;
        kinds.insert(kind);
        at = comma + 1;
    }
    return true;
}

bool HeatMapView::gather(const ConsoleQueries::HeatQuery& query, const std::set<std::string>& kinds,
                         ConsoleQueries::HeatSums& sums, bool& web, std::string& error) {
    if (!queries_.heat(query, sums, error)) return false;
    sums.points.erase(std::remove_if(sums.points.begin(), sums.points.end(),
                                     [&](const ConsoleQueries::HeatPoint& p) {
                                         return !kinds.count(family(p.kind));
                                     }),
                      sums.points.end());
    // Most made first, so a reader that draws only the first few draws what matters.
    std::stable_sort(sums.points.begin(), sums.points.end(),
                     [](const auto& a, const auto& b) { return a.count > b.count; });
    web = sums.web;
    return true;
}

bool HeatMapView::asJson(const ConsoleQueries::HeatQuery& query, const std::set<std::string>& kinds,
                         nlohmann::json& out, std::string& error) {
    ConsoleQueries::HeatSums sums;
    bool web = false;
    if (!gather(query, kinds, sums, web, error)) return false;
    json points = json::array(), rage = json::array();
    std::map<std::string, int64_t> totals{
        {"tap", 0}, {"double_tap", 0}, {"swipe", 0}, {"pinch", 0}, {"rage_tap", 0}};
    for (const auto& p : sums.points) {
        totals[SessionView::kindName(p.kind)] += p.count;
        if (p.kind == SessionFacts::kRageTap) {
            rage.push_back(json{{"x", p.x}, {"y", p.y}, {"count", p.count}});
            continue;
        }
        json point{
            {"x", p.x}, {"y", p.y}, {"kind", SessionView::kindName(p.kind)}, {"count", p.count}};
        if (const char* d = direction(p.kind)) point["direction"] = d;
        points.push_back(std::move(point));
    }
    out = json{{"screen", query.screen},
               {"web", web},
               {"sessions", sums.sessions},
               {"from", dayText(query.fromDay)},
               {"to", dayText(query.toDay)},
               {"version", query.version ? json(*query.version) : json(nullptr)},
               {"points", points},
               {"rage_taps", rage},
               {"totals", totals},
               {"width", nullptr},
               {"height", nullptr}};
    // The size of what the points are in: the screen (its latest document) or the page.
    if (auto source = queries_.pictureSource(query, web)) {
        if (web) {
            const json& f = source->tiles.front().fields;
            out["width"] = number(f, "total_columns", 0) * number(f, "gridImg_width", 0);
            out["height"] = number(f, "total_rows", 0) * number(f, "gridImg_height", 0);
        } else {
            std::string problem;
            const json document =
                CollectorJson::parseFile((fs::path(dataDir_) / source->documentPath).string(),
                                         CollectorJson::kMaxDocumentBytes, problem);
            out["width"] = number(document, "wd", 0);
            out["height"] = number(document, "ht", 0);
        }
    }
    return true;
}

bool HeatMapView::asPng(const ConsoleQueries::HeatQuery& query, const std::set<std::string>& kinds,
                        std::string& out, std::string& error) {
    ConsoleQueries::HeatSums sums;
    bool web = false;
    if (!gather(query, kinds, sums, web, error)) return false;

    Picture picture;
    std::string problem;
    if (auto source = queries_.pictureSource(query, web)) {
        if (web) {
            int rows = 0, columns = 0, tw = 0, th = 0;
            for (const UploadRecord& tile : source->tiles) {
                rows = std::max(rows, static_cast<int>(number(tile.fields, "total_rows", 0)));
                columns =
                    std::max(columns, static_cast<int>(number(tile.fields, "total_columns", 0)));
                tw = std::max(tw, static_cast<int>(number(tile.fields, "gridImg_width", 0)));
                th = std::max(th, static_cast<int>(number(tile.fields, "gridImg_height", 0)));
            }
            if (rows > 0 && columns > 0 && tw > 0 && th > 0 && rows * th <= 20000 &&
                columns * tw <= 20000) {
                picture.width = columns * tw;
                picture.height = rows * th;
                picture.pointsWide = picture.width;
                picture.pointsHigh = picture.height;
                for (const UploadRecord& tile : source->tiles) {
                    if (auto image = JpegPicture::decodeFile(
                            (fs::path(dataDir_) / tile.path).string(), problem))
                        picture.tiles.emplace_back(tile, std::move(*image));
                }
                picture.note = "web page: " + std::to_string(picture.tiles.size()) + " of " +
                               std::to_string(rows * columns) + " tiles, of session " +
                               std::to_string(source->session);
            }
        } else {
            const json document =
                CollectorJson::parseFile((fs::path(dataDir_) / source->documentPath).string(),
                                         CollectorJson::kMaxDocumentBytes, problem);
            picture.frame = MovieFrame::at((fs::path(dataDir_) / source->moviePath).string(),
                                           source->seconds, problem);
            picture.pointsWide = number(document, "wd", 0);
            picture.pointsHigh = number(document, "ht", 0);
            if (picture.frame && picture.pointsWide > 0 && picture.pointsHigh > 0) {
                picture.width = picture.frame->width;
                picture.height = picture.frame->height;
                char note[160];
                std::snprintf(note, sizeof note, "frame at %.1f s of the movie of session %lld",
                              picture.frame->seconds, static_cast<long long>(source->session));
                picture.note = note;
            } else {
                picture.frame.reset();
            }
        }
    }
    if (picture.width <= 0 || picture.height <= 0) {
        // Nothing recorded shows the screen: the points on grey, at one pixel a point.
        picture = Picture{};
        int64_t wide = 320, high = 480;
        for (const auto& p : sums.points) {
            wide = std::max(wide, p.x + 40);
            high = std::max(high, p.y + 40);
        }
        picture.width = static_cast<int>(std::min<int64_t>(wide, 4000));
        picture.height = static_cast<int>(std::min<int64_t>(high, 8000));
        picture.pointsWide = picture.width;
        picture.pointsHigh = picture.height;
        picture.note = "no recorded picture of this screen";
    }
    picture.scaleX = picture.width / picture.pointsWide;
    picture.scaleY = picture.height / picture.pointsHigh;

    HeatMapPainter painter(picture.width, picture.height);
    if (picture.frame) {
        painter.place(picture.frame->rgb.data(), picture.frame->width, picture.frame->height, 0, 0);
        painter.dim(0.35);
    } else {
        painter.hatch();
        for (const auto& [tile, image] : picture.tiles) {
            painter.place(image.rgb.data(), image.width, image.height,
                          static_cast<int>(std::lround(number(tile.fields, "dist_x", 0))),
                          static_cast<int>(std::lround(number(tile.fields, "dist_y", 0))));
        }
    }
    std::vector<HeatMark> marks, rage;
    for (const auto& p : sums.points) {
        HeatMark m{static_cast<double>(p.x) * picture.scaleX,
                   static_cast<double>(p.y) * picture.scaleY, p.kind, p.count};
        (p.kind == SessionFacts::kRageTap ? rage : marks).push_back(m);
    }
    painter.density(marks);
    painter.marks(marks);
    painter.rageTaps(rage);
    std::string counts = HeatMapPainter::countsText(marks);
    int64_t rageRuns = 0;
    for (const HeatMark& m : rage)
        rageRuns += m.count;
    if (rageRuns > 0) counts += ", " + std::to_string(rageRuns) + " rage taps";
    counts += " in " + std::to_string(sums.sessions) + " sessions, " + dayText(query.fromDay) +
              " to " + dayText(query.toDay) + (query.version ? ", version " + *query.version : "");
    painter.legend(query.screen, counts, picture.note);
    out = painter.png();
    if (out.empty()) {
        error = "the heat map could not be drawn";
        return false;
    }
    return true;
}

}  // namespace rivlo::collector
