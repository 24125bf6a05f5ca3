#pragma once

#include <string>

namespace rivlo::collector {

// Naming rules of the collector's data folder. Everything that becomes part of a path is either
// produced here or checked here, so no client text can reach outside the data folder.
class CollectorNames {
  public:
    // Lower-case hexadecimal SHA-256 of the bytes.
    static std::string sha256Hex(const std::string& bytes);

    // A new installation identifier: 128 random bits from the system's generator as 32
    // lower-case hexadecimal digits. Nothing a client knows predicts it.
    static std::string newInstallationId();

    // Whether the text is well-formed UTF-8.
    static bool isUtf8(const std::string& text);
    // The text as it can be stored in every engine: malformed UTF-8 and NUL characters become
    // U+FFFD.
    static std::string storable(const std::string& text);
    // The text safe to print on a terminal, in double quotes: control characters (C0, DEL, C1),
    // malformed bytes, line and paragraph separators and direction overrides are written as
    // escapes (\n, \x1b, \u202e), quotes and backslashes escaped, so no client text can move
    // the cursor, colour the screen or begin a line of its own.
    static std::string quoted(const std::string& text);

    // True for a plain file name that can be stored as it is: 1 to 200 bytes of UTF-8, not "."
    // or "..", no path separator, no control character.
    static bool isSafeFileName(const std::string& name);

    // A folder name for any text: the text itself when it is made of letters, digits, '.', '_'
    // and '-' only (and is not "." or ".."), else a name derived from its hash.
    static std::string folderName(const std::string& text);

    // The text with control characters (C0, DEL) replaced by '?' and cut to 200 bytes, for log
    // lines.
    static std::string printable(const std::string& text);

    // A folder name that stays readable: characters other than letters, digits, '.', '_' and '-'
    // become '_', at most 40 bytes, "app" when nothing is left. Not unique on its own.
    static std::string readableFolderName(const std::string& text);

    // The current time as "YYYY-MM-DDTHH:MM:SSZ".
    static std::string utcNow();
};

}  // namespace rivlo::collector
