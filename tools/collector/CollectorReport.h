#pragma once

#include <string>

namespace rivlo::collector {

// The readable summary of a collector's data folder: per application and installation, each
// session (one per session document) with its run number, length, screens with their gesture
// counts, tags, crash and favourite marks, and the movies and web tiles that belong to it.
// Movies and tiles carry no session number; they are placed by the time stamp in their file
// names, and anything that fits no session is listed as unassigned. Every text a client sent
// is escaped, and any stored document, however malformed or deep, is read safely. Any thread;
// reads only.
class CollectorReport {
  public:
    // `database`: the index's URL when it is not the SQLite file in `dataDir`.
    static bool build(const std::string& dataDir, std::string& out, std::string& error,
                      const std::string& database = {});
};

}  // namespace rivlo::collector
