#pragma once

#include <string>

namespace rivlo {

// Finds a shared object the library loads at run time (a module of this build installed next to
// the library that needs it): from the folder of the shared object holding `anchor` (a function
// of the loading library), then from the loader's search path. Any thread.
class LoadableModule {
  public:
    // The module's symbol `entryPoint`, or null with the reason in `problem`. The module is
    // never unloaded: its code and objects stay in use for the process.
    static void* load(const char* file, const char* entryPoint, const void* anchor,
                      std::string& problem);
    // The folder of the shared object (or program) holding `anchor` ("" when it cannot be told).
    static std::string folderOf(const void* anchor);
};

}  // namespace rivlo
