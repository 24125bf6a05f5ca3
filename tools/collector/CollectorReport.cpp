#include "CollectorReport.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "CollectorIndex.h"
#include "CollectorNames.h"
#include "CollectorSessions.h"

namespace rivlo::collector {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// Every text a client sent is printed through one of these two: in quotes with escapes, or
// as it is when it holds only characters that cannot move a terminal or begin a line.
std::string quoted(const std::string& text) {
    return CollectorNames::quoted(text);
}

std::string plain(const std::string& text) {
    const bool safe =
        !text.empty() && text.size() <= 200 && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) ||
                   std::strchr("._-:/+@,()", c) != nullptr;
        });
    return safe ? text : quoted(text);
}

std::string sizeText(uint64_t bytes) {
    if (bytes < 1024) return fmt("%" PRIu64 " B", bytes);
    if (bytes < 1024 * 1024) return fmt("%.1f KiB", static_cast<double>(bytes) / 1024.0);
    return fmt("%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

std::string againText(int64_t duplicates) {
    if (duplicates <= 0) return {};
    return fmt(" (sent again %" PRId64 " time%s)", duplicates, duplicates == 1 ? "" : "s");
}

int64_t integerOf(const json& value, int64_t fallback) {
    return CollectorSessions::integerOf(value, fallback);
}

// A value of the document as text; lists and objects are named, never printed whole.
std::string textOf(const json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) return {};
    const json& value = object.at(key);
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return {};
    if (value.is_array()) return "(list)";
    if (value.is_object()) return "(object)";
    return value.dump();
}

void describeScreens(const json& timeline, std::ostringstream& out) {
    if (!timeline.is_array() || timeline.empty()) {
        out << "      screens: none\n";
        return;
    }
    out << "      screens:\n";
    for (const json& entry : timeline) {
        if (!entry.is_object()) continue;
        std::map<int64_t, int> counts;
        int gestures = 0, rotations = 0;
        if (entry.contains("cor") && entry["cor"].is_array()) {
            for (const json& record : entry["cor"]) {
                if (!record.is_array() || record.size() < 4) continue;
                int64_t code = integerOf(record[3], -1);
                if (code == 10) {
                    ++rotations;
                } else {
                    ++gestures;
                    ++counts[code];
                }
            }
        }
        bool web = entry.contains("wb") && integerOf(entry["wb"], 0) == 1;
        out << "        " << quoted(textOf(entry, "an")) << (web ? " (web page)" : "") << " at "
            << plain(textOf(entry, "at")) << " s: " << gestures
            << (gestures == 1 ? " gesture" : " gestures");
        if (!counts.empty()) {
            out << " (";
            bool first = true;
            for (const auto& [code, count] : counts) {
                out << (first ? "" : ", ") << count << " " << CollectorSessions::gestureName(code);
                first = false;
            }
            out << ")";
        }
        if (rotations > 0) {
            out << ", " << rotations
                << (rotations == 1 ? " orientation change" : " orientation changes");
        }
        out << "\n";
    }
}

void describeItem(const UploadRecord& item, std::ostringstream& out) {
    const json& f = item.fields;
    std::string again = againText(item.duplicates);
    const std::string name = plain(item.fileName);
    if (item.kind == "screen") {
        out << "      screen movie " << name << ": " << plain(textOf(f, "sv_duration")) << " s, "
            << sizeText(item.size) << again << "\n";
    } else if (item.kind == "camera") {
        out << "      camera movie " << name << ": " << plain(textOf(f, "cv_duration")) << " s, "
            << sizeText(item.size) << ", orientation " << plain(textOf(f, "orientation")) << again
            << "\n";
    } else if (item.kind == "tile") {
        out << "      web tile " << name << ": page " << quoted(textOf(f, "activity_name"))
            << ", grid " << plain(textOf(f, "total_rows")) << "x"
            << plain(textOf(f, "total_columns")) << ", at (" << plain(textOf(f, "dist_x")) << ", "
            << plain(textOf(f, "dist_y")) << "), " << sizeText(item.size) << again << "\n";
    } else {
        out << "      " << plain(item.kind) << " " << name << ": " << sizeText(item.size) << again
            << "\n";
    }
}

void describeSession(const CollectedSession& session, const std::string& dataDir,
                     std::ostringstream& out) {
    const json& doc = session.content;
    const UploadRecord& file = session.document;
    if (!session.readable) {
        out << "    Session document " << plain(file.fileName) << ": cannot be read from "
            << plain((fs::path(dataDir) / file.path).string())
            << (session.problem.empty() ? "" : " (it " + session.problem + ")") << "\n";
        return;
    }
    bool crashed = doc.contains("cr") && doc["cr"].is_boolean() && doc["cr"].get<bool>();
    bool favourite = doc.contains("isF") && integerOf(doc["isF"], 0) != 0;
    out << "    Session run " << plain(textOf(doc, "dr")) << " (document " << plain(file.fileName)
        << ", received " << file.receivedAt << "): " << session.length
        << " s, crash: " << (crashed ? "yes" : "no")
        << ", favourite: " << (favourite ? "yes" : "no") << "\n";
    out << "      user " << quoted(textOf(doc, "dan"));
    if (doc.contains("dmn")) {
        out << ", device " << plain(textOf(doc, "dmn")) << " (" << plain(textOf(doc, "dvt"))
            << ", system " << plain(textOf(doc, "osn")) << ")";
    }
    if (doc.contains("appname")) out << ", app " << quoted(textOf(doc, "appname"));
    out << ", library " << plain(textOf(doc, "rvsdk")) << "\n";
    if (doc.contains("lc") && doc["lc"].is_object() && doc["lc"].contains("lt")) {
        out << "      location " << plain(textOf(doc["lc"], "lt")) << ", "
            << plain(textOf(doc["lc"], "lg")) << "\n";
    }
    describeScreens(doc.contains("ut") ? doc["ut"] : json(), out);
    if (doc.contains("tags") && doc["tags"].is_array() && !doc["tags"].empty()) {
        out << "      tags:";
        bool first = true;
        for (const json& tag : doc["tags"]) {
            out << (first ? " " : ", ") << quoted(textOf(tag, "tag"));
            if (tag.is_object() && tag.contains("time") && tag["time"].is_number()) {
                out << fmt(" at %.1f s", tag["time"].get<double>());
            }
            first = false;
        }
        out << "\n";
    } else {
        out << "      tags: none\n";
    }
    if (file.duplicates > 0) {
        out << "      document" << againText(file.duplicates) << "\n";
    }
    int tiles = 0;
    for (const UploadRecord& item : session.items) {
        if (item.kind == "tile") {
            ++tiles;
            continue;
        }
        describeItem(item, out);
    }
    if (tiles > 0) {
        out << "      web tiles: " << tiles << "\n";
        for (const UploadRecord& item : session.items) {
            if (item.kind == "tile") describeItem(item, out);
        }
    }
}

void describeInstallation(const std::string& appDeviceId, const InstallationRecord* facts,
                          const std::vector<UploadRecord>& uploads, const std::string& dataDir,
                          std::ostringstream& out) {
    out << "  Installation " << plain(appDeviceId);
    if (facts) {
        out << ": device " << plain(facts->deviceId) << ", " << quoted(facts->deviceType)
            << " system " << plain(facts->deviceOs) << ", app " << quoted(facts->appName)
            << ", verified " << facts->verifications
            << (facts->verifications == 1 ? " time" : " times") << " (first " << facts->firstSeen
            << ", last " << facts->lastSeen << ")";
    }
    out << "\n";
    const CollectedInstallation grouped = CollectorSessions::group(
        appDeviceId, facts ? std::optional<InstallationRecord>(*facts) : std::nullopt, uploads,
        dataDir);
    if (grouped.sessions.empty()) out << "    No session documents received.\n";
    for (const CollectedSession& session : grouped.sessions)
        describeSession(session, dataDir, out);
    if (!grouped.unassigned.empty()) {
        out << "    Not matched to a session document:\n";
        for (const UploadRecord& item : grouped.unassigned)
            describeItem(item, out);
    }
}

}  // namespace

bool CollectorReport::build(const std::string& dataDir, std::string& out, std::string& error,
                            const std::string& database) {
    std::string url = database;
    if (url.empty()) {
        url = CollectorIndex::defaultUrl(dataDir);
        std::error_code ec;
        if (!fs::exists(url, ec)) {
            error = "no collector data in " + dataDir + " (" + url + " is missing)";
            return false;
        }
    }
    CollectorIndex index;
    if (!index.open(url, true, error)) return false;
    std::vector<ApplicationRecord> apps = index.applications();
    std::vector<InstallationRecord> installations = index.installations();
    std::vector<UploadRecord> uploads = index.uploads();
    index.close();

    std::map<std::string, std::vector<UploadRecord>> byInstallation;
    for (const UploadRecord& upload : uploads)
        byInstallation[upload.appDeviceId].push_back(upload);

    std::ostringstream text;
    text << "Collector data in " << dataDir << ": " << apps.size()
         << (apps.size() == 1 ? " application, " : " applications, ") << installations.size()
         << (installations.size() == 1 ? " installation, " : " installations, ") << uploads.size()
         << (uploads.size() == 1 ? " upload" : " uploads") << "\n";
    std::map<std::string, bool> described;
    for (const ApplicationRecord& app : apps) {
        text << "\nApplication " << quoted(app.name) << " (key " << quoted(app.key)
             << ", folder apps/" << app.folder << ")\n";
        bool any = false;
        for (const InstallationRecord& installation : installations) {
            if (installation.appKey != app.key) continue;
            any = true;
            described[installation.appDeviceId] = true;
            describeInstallation(installation.appDeviceId, &installation,
                                 byInstallation[installation.appDeviceId], dataDir, text);
        }
        if (!any) text << "  No installations.\n";
    }
    bool header = false;
    for (const auto& [appDeviceId, list] : byInstallation) {
        if (described.count(appDeviceId)) continue;
        if (!header) {
            text << "\nUploads of installations the index does not list\n";
            header = true;
        }
        describeInstallation(appDeviceId.empty() ? std::string("(none)") : appDeviceId, nullptr,
                             list, dataDir, text);
    }
    out = text.str();
    return true;
}

}  // namespace rivlo::collector
