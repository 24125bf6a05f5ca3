#pragma once

#include <string>

namespace rivlo::collector {

// Naming rules of the collector's data folder. Everything that becomes part of a path is either
// produced here or checked here, so no client text can reach outside the data folder.
class CollectorNames {
  public:
    // Lower-case hexadecimal SHA-256 of the bytes.
    static std::string sha256Hex(const std::string& bytes);

    // The identifier handed to one installation of one application: stable for the pair, so a
    // reinstalled collector with an empty data folder hands out the same one again.
    static std::string appDeviceId(const std::string& appKey, const std::string& deviceId);

    // True for a plain file name that can be stored as it is: 1 to 200 bytes, not "." or "..",
    // no path separator, no control character.
    static bool isSafeFileName(const std::string& name);

    // A folder name for any text: the text itself when it is made of letters, digits, '.', '_'
    // and '-' only (and is not "." or ".."), else a name derived from its hash.
    static std::string folderName(const std::string& text);

    // The text with control characters replaced by '?' and cut to 200 bytes, for log lines.
    static std::string printable(const std::string& text);

    // A folder name that stays readable: characters other than letters, digits, '.', '_' and '-'
    // become '_', at most 40 bytes, "app" when nothing is left. Not unique on its own.
    static std::string readableFolderName(const std::string& text);

    // The current time as "YYYY-MM-DDTHH:MM:SSZ".
    static std::string utcNow();
};

}  // namespace rivlo::collector
