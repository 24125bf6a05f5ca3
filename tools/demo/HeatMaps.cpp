#include "HeatMaps.h"

#include "JpegPicture.h"
#include "DemoJson.h"

#include "HeatMapPainter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <memory>

namespace rivlo::demo {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// One gesture as the timeline keeps it.
struct Mark {
    Point point;   // positions 1-2: the point the heat map uses
    int code = 0;  // event code
    double seconds = 0;
};

std::vector<collector::HeatMark> heatMarks(const std::vector<Mark>& marks, double sx, double sy) {
    std::vector<collector::HeatMark> out;
    for (const Mark& m : marks)
        out.push_back({m.point.x * sx, m.point.y * sy, m.code, 1});
    return out;
}

std::string fileSafe(const std::string& name) {
    std::string out;
    for (char c : name)
        out += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    while (out.find("--") != std::string::npos)
        out.erase(out.find("--"), 1);
    return out.substr(0, 80);
}

bool writePng(const collector::HeatMapPainter& painter, const fs::path& path,
              std::vector<std::string>& problems) {
    if (!painter.writePng(path.string())) {
        problems.push_back("cannot write the heat map " + path.string());
        return false;
    }
    return true;
}

// The movie frame nearest to a moment of the session.
const media::DecodedFrame* frameNear(const media::MovieProbe& movie, double seconds) {
    const media::DecodedFrame* best = nullptr;
    for (const auto& f : movie.frames) {
        if (!best || std::fabs(f.seconds - seconds) < std::fabs(best->seconds - seconds)) best = &f;
    }
    return best;
}

struct ScreenMarks {
    std::vector<Mark> marks;
    int rotations = 0;
    double firstSeconds = -1;
    bool web = false;
};

// A web page: its tiles stitched in place (parts never captured are hatched grey), with the
// touches at their points in the page.
bool paintPage(const DemoData& data, const collector::CollectedSession& session,
               const std::string& address, const ScreenMarks& s, const fs::path& path,
               HeatMapImage& image, std::vector<std::string>& problems) {
    int rows = 0, columns = 0, tw = 0, th = 0;
    std::vector<const collector::UploadRecord*> tiles;
    for (const auto& item : session.items) {
        if (item.kind != "tile" || textOf(item.fields, "activity_name") != address) continue;
        const auto integer = [&](const char* key) {
            return static_cast<int>(numberOf(item.fields, key, 0));
        };
        rows = std::max(rows, integer("total_rows"));
        columns = std::max(columns, integer("total_columns"));
        tw = std::max(tw, integer("gridImg_width"));
        th = std::max(th, integer("gridImg_height"));
        tiles.push_back(&item);
    }
    if (tiles.empty() || rows <= 0 || columns <= 0 || tw <= 0 || th <= 0 || rows * th > 20000 ||
        columns * tw > 20000) {
        problems.push_back("no usable tiles to draw the page " + address);
        return false;
    }
    collector::HeatMapPainter painter(columns * tw, rows * th);
    painter.hatch();
    for (const auto* tile : tiles) {
        std::string error;
        auto picture = collector::JpegPicture::decodeFile(
            (fs::path(data.dataDir) / tile->path).string(), error);
        if (!picture) {
            problems.push_back(error);
            continue;
        }
        const int x = static_cast<int>(std::lround(numberOf(tile->fields, "dist_x", 0)));
        const int y = static_cast<int>(std::lround(numberOf(tile->fields, "dist_y", 0)));
        painter.place(picture->rgb.data(), picture->width, picture->height, x, y);
        ++image.tiles;
    }
    const auto marks = heatMarks(s.marks, 1, 1);
    painter.density(marks);
    painter.marks(marks);
    char note[128];
    std::snprintf(note, sizeof note, "web page, %d of %d tiles captured, %d x %d each", image.tiles,
                  rows * columns, tw, th);
    painter.legend(address, collector::HeatMapPainter::countsText(marks, s.rotations), note);
    return writePng(painter, path, problems);
}

}  // namespace

std::vector<HeatMapImage> HeatMaps::paint(const DemoData& data, Size screen, const fs::path& outDir,
                                          std::vector<std::string>& problems) {
    std::vector<HeatMapImage> out;
    std::error_code ec;
    fs::create_directories(outDir, ec);
    for (size_t k = 0; k < data.installation.sessions.size(); ++k) {
        const auto& session = data.installation.sessions[k];
        if (!session.readable) continue;
        // Every gesture of the session by screen name, in the order the screens came.
        std::vector<std::string> order;
        std::map<std::string, ScreenMarks> screens;
        for (const json& entry : listOf(session.content, "ut")) {
            const std::string name = textOf(entry, "an");
            if (!screens.count(name)) order.push_back(name);
            ScreenMarks& s = screens[name];
            s.web = s.web || numberOf(entry, "wb", 0) == 1;
            for (const json& r : listOf(entry, "cor")) {
                if (!isRecord(r)) continue;
                Mark m{{r[0].get<double>(), r[1].get<double>()},
                       static_cast<int>(r[3].get<double>()),
                       r[5].get<double>()};
                if (s.firstSeconds < 0) s.firstSeconds = m.seconds;
                if (m.code == 10)
                    ++s.rotations;
                else
                    s.marks.push_back(m);
            }
        }
        const media::MovieProbe* movie = nullptr;
        for (const auto& item : session.items) {
            auto it = data.movies.find(item.path);
            if (item.kind == "screen" && it != data.movies.end() && !it->second.frames.empty())
                movie = &it->second;
        }
        for (const std::string& name : order) {
            const ScreenMarks& s = screens[name];
            HeatMapImage image;
            image.session = k + 1;
            image.screen = name;
            image.web = s.web;
            image.gestures = static_cast<int>(s.marks.size());
            image.orientationChanges = s.rotations;
            if (s.web) {
                image.file = "session" + std::to_string(k + 1) + "-page-" + fileSafe(name) + ".png";
                if (paintPage(data, session, name, s, outDir / image.file, image, problems))
                    out.push_back(image);
                continue;
            }
            if (!movie) continue;
            const media::DecodedFrame* frame = frameNear(*movie, s.firstSeconds + 0.6);
            if (!frame) continue;
            const int w = frame->width, h = frame->height;
            collector::HeatMapPainter painter(w, h);
            painter.place(frame->rgb.data(), w, h, 0, 0);
            painter.dim(0.35);
            const auto marks = heatMarks(s.marks, w / screen.width, h / screen.height);
            painter.density(marks);
            painter.marks(marks);
            char note[128];
            std::snprintf(note, sizeof note, "session %zu, frame at %.1f s of the screen movie",
                          k + 1, frame->seconds);
            painter.legend(name, collector::HeatMapPainter::countsText(marks, s.rotations), note);
            image.file = "session" + std::to_string(k + 1) + "-" + fileSafe(name) + ".png";
            if (writePng(painter, outDir / image.file, problems)) out.push_back(image);
        }
    }
    return out;
}

}  // namespace rivlo::demo
