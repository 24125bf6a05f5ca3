#pragma once

#include <string>

namespace rivlo::collector {

// The readable summary of a collector's data folder: per application and installation, each
// session (one per session document) with its run number, length, screens with their gesture
// counts, tags, crash and favourite marks, and the movies and web tiles that belong to it.
// Movies and tiles carry no session number; they are placed by the time stamp in their file
// names, and anything that fits no session is listed as unassigned. Any thread; reads only.
class CollectorReport {
  public:
    static bool build(const std::string& dataDir, std::string& out, std::string& error);
};

}  // namespace rivlo::collector
