#include "ReportPage.h"

#include "DemoJson.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace rivlo::demo {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string pathFrom(const fs::path& target, const fs::path& base) {
    std::error_code ec;
    fs::path rel = fs::relative(target, base, ec);
    return ec ? target.string() : rel.string();
}

void timelineTable(const json& ut, std::ostringstream& html) {
    html << "<table><tr><th>screen</th><th>appeared at</th><th>gestures (second: what at "
            "where)</th></tr>\n";
    for (const json& entry : ut) {
        html << "<tr><td>" << escape(textOf(entry, "an"))
             << (numberOf(entry, "wb", 0) == 1 ? " <span class=tag>web page</span>" : "")
             << "</td><td>" << escape(textOf(entry, "at")) << " s</td><td>";
        bool first = true;
        for (const json& r : listOf(entry, "cor")) {
            if (!isRecord(r)) continue;
            const int code = static_cast<int>(r[3].get<double>());
            char line[160];
            if (code == 10) {
                std::snprintf(line, sizeof line, "%.0f s: %s", r[5].get<double>(),
                              collector::CollectorSessions::gestureName(code));
            } else {
                std::snprintf(line, sizeof line, "%.0f s: %s at (%.0f, %.0f)", r[5].get<double>(),
                              collector::CollectorSessions::gestureName(code), r[0].get<double>(),
                              r[1].get<double>());
            }
            html << (first ? "" : "<br>") << escape(line);
            first = false;
        }
        html << "</td></tr>\n";
    }
    html << "</table>\n";
}

}  // namespace

bool ReportPage::write(const fs::path& page, const std::string& scenarioName, const DemoData& data,
                       const std::vector<HeatMapImage>& images, const fs::path& imageDir,
                       const std::vector<std::string>& problems, std::string& error) {
    const fs::path base = page.parent_path();
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Rivlo demo: "
         << escape(scenarioName) << "</title>\n<style>"
         << "body{font-family:sans-serif;margin:24px;background:#f6f6f8;color:#222}"
         << "section{background:#fff;padding:16px;margin:16px 0;border-radius:8px}"
         << ".maps{display:flex;flex-wrap:wrap;gap:16px;align-items:flex-start}"
         << "figure{margin:0}figcaption{font-size:13px;color:#555}"
         << "img.heat{max-width:360px;border:1px solid #ccc}img.page{max-width:360px}"
         << "table{border-collapse:collapse;font-size:13px}td,th{border:1px solid #ddd;"
         << "padding:4px 8px;vertical-align:top;text-align:left}"
         << ".ok{color:#1b7f3b}.bad{color:#b00020}.tag{background:#e8eefc;padding:1px 6px;"
         << "border-radius:4px}</style></head><body>\n";
    html << "<h1>Rivlo demo: " << escape(scenarioName) << "</h1>\n";
    if (problems.empty()) {
        html << "<p class=ok>Everything the scenario did arrived at the collector and "
                "matched.</p>\n";
    } else {
        html << "<p class=bad>What did not match:</p><ul>\n";
        for (const auto& p : problems)
            html << "<li>" << escape(p) << "</li>\n";
        html << "</ul>\n";
    }
    const auto& sessions = data.installation.sessions;
    html << "<p>Installation " << escape(data.installation.appDeviceId) << ", " << sessions.size()
         << " sessions.</p>\n";
    for (size_t k = 0; k < sessions.size(); ++k) {
        const auto& s = sessions[k];
        const json& doc = s.content;
        html << "<section><h2>Session " << k + 1 << ": run " << escape(textOf(doc, "dr")) << ", "
             << s.length << " s</h2>\n<p>User " << escape(textOf(doc, "dan")) << ", device "
             << escape(textOf(doc, "dmn")) << " (" << escape(textOf(doc, "dvt")) << ", system "
             << escape(textOf(doc, "osn")) << ")";
        if (doc.contains("lc") && doc["lc"].is_object() && doc["lc"].contains("lt"))
            html << ", location " << escape(textOf(doc["lc"], "lt")) << ", "
                 << escape(textOf(doc["lc"], "lg"));
        html << ", favourite " << (numberOf(doc, "isF", 0) == 1 ? "yes" : "no") << ".";
        if (!listOf(doc, "tags").empty()) {
            html << " Tags:";
            for (const json& t : listOf(doc, "tags"))
                html << " <span class=tag>" << escape(textOf(t, "tag")) << "</span>";
        }
        html << "</p>\n";
        for (const auto& item : s.items) {
            if (item.kind != "screen" && item.kind != "camera") continue;
            const fs::path file = fs::path(data.dataDir) / item.path;
            html << "<p>" << (item.kind == "screen" ? "Screen" : "Camera") << " movie "
                 << escape(item.fileName) << " (" << item.size / 1024
                 << " KiB):<br><video controls "
                 << "width=320 src=\"" << escape(pathFrom(file, base)) << "\"></video></p>\n";
        }
        html << "<h3>Heat maps</h3><div class=maps>\n";
        for (const HeatMapImage& image : images) {
            if (image.session != k + 1) continue;
            html << "<figure><img class=\"" << (image.web ? "page" : "heat") << "\" src=\""
                 << escape(pathFrom(imageDir / image.file, base)) << "\"><figcaption>"
                 << escape(image.screen) << ": " << image.gestures
                 << (image.gestures == 1 ? " gesture" : " gestures")
                 << (image.web ? ", " + std::to_string(image.tiles) + " tiles" : "")
                 << "</figcaption></figure>\n";
        }
        html << "</div>\n<h3>Timeline</h3>\n";
        timelineTable(listOf(doc, "ut"), html);
        html << "</section>\n";
    }
    html << "</body></html>\n";
    std::ofstream out(page, std::ios::binary | std::ios::trunc);
    out << html.str();
    out.close();
    if (!out) {
        error = "cannot write " + page.string();
        return false;
    }
    return true;
}

}  // namespace rivlo::demo
