#pragma once

#include "CollectorIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace rivlo::collector {

// One session as the collector sees it: its session document and the movies and web tiles
// captured while it ran. Uploads carry no session number; movies and tiles are placed by the
// time stamp in their file names (a session runs from its document's stamp minus its length
// to the stamp; a screen movie is named when it is finished, possibly just after).
struct CollectedSession {
    UploadRecord document;
    nlohmann::json content;  // the parsed document (an object when `readable`)
    bool readable = false;
    std::string problem;  // why it is not readable
    bool hasStamp = false;
    int64_t stamp = 0;   // the document's file stamp (seconds)
    int64_t length = 0;  // "tt", whole seconds
    std::vector<UploadRecord> items;
};

struct CollectedInstallation {
    std::string appDeviceId;
    std::optional<InstallationRecord> facts;  // none for uploads never verified here
    std::vector<CollectedSession> sessions;   // in stamp order
    std::vector<UploadRecord> unassigned;     // items that fit no session
};

class CollectorSessions {
  public:
    // A session document as the placement of movies and tiles sees it.
    struct PlacedDocument {
        int64_t id = 0;
        bool hasStamp = false;
        int64_t stamp = 0;   // its file stamp (seconds)
        int64_t length = 0;  // "tt", whole seconds
    };
    // The session (the index in `documents`, which are in stamp order) that an upload of
    // `kind` named `fileName` belongs to, or nullopt when it fits none: a movie goes to the
    // session whose document is nearest its stamp within a grace period, anything else to the
    // session running at its stamp.
    static std::optional<size_t> ownerOf(const std::string& kind, const std::string& fileName,
                                         const std::vector<PlacedDocument>& documents);

    // Groups one installation's uploads into sessions, reading the documents from `dataDir`.
    static CollectedInstallation group(const std::string& appDeviceId,
                                       std::optional<InstallationRecord> facts,
                                       const std::vector<UploadRecord>& uploads,
                                       const std::string& dataDir);

    // The file stamp in an uploaded file name: the digits after the last '_' (or from the
    // start) up to the extension.
    static std::optional<int64_t> stampOf(const std::string& fileName);
    // The name of a timeline event code ("single tap", "swipe left" ... "orientation change").
    static const char* gestureName(int64_t code);
    // A number or a numeric text as an integer, else `fallback`.
    static int64_t integerOf(const nlohmann::json& value, int64_t fallback);
};

}  // namespace rivlo::collector
