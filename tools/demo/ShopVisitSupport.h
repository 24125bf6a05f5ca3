#pragma once

// What the scripted visits of the Qt shop and the QML shop share: waiting while Qt and the
// library run, the application's trips to the background, and reading back what the collector
// kept. Main thread.

#include "movieprobe/MovieProbe.h"

#include <nlohmann/json_fwd.hpp>

#include <QPoint>

class QObject;

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace shop {

// Turns Qt's event loop until `predicate` holds (true) or `seconds` ran out (false).
bool waitFor(const std::function<bool()>& predicate, double seconds);
// Recording time passes (two movie frames a second) while Qt and the library run.
void letTimePass(double seconds);
// Waits (up to 20 s) until the web view's page as it shows now has been checked for what to
// paint over, so a touch captures its tile (on a loaded machine the check may take longer than
// the scripts' pauses). A page still unchecked is touched all the same: the check of what
// arrived says so.
void waitUntilPageChecked(QObject* webView);

// The application goes to the background as a platform with application states reports it;
// true once the library has sent the session and ended its background task.
bool sendToBackground(double seconds);
// The application comes back: true once a new session records the screen.
bool bringToForeground(double seconds);
// The host stops and uploads: true once nothing is recording and nothing is left to send.
bool stopAndUpload(double seconds);

// The files the collector kept under its data folder: screen movies, session documents and
// the rest (web tiles), movies and documents in name order.
struct StoredFiles {
    std::vector<std::filesystem::path> movies, documents, others;
};
StoredFiles storedFiles(const std::filesystem::path& collectorDataDir);
// How many of the files are pictures that decode (the web tiles).
size_t decodedPictures(const std::vector<std::filesystem::path>& files);
nlohmann::json readJson(const std::filesystem::path& path);

// The colour masks are painted in.
bool isRed(const rivlo::media::DecodedFrame::RGB& colour);
std::string pointText(QPoint point);

}  // namespace shop
