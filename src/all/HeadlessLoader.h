#pragma once

namespace rivlo {

// The headless device lives in librivlo-headless.so.1, which the core library does not link:
// a program that wants it either links it (Rivlo::headless, rivlo-headless.pc) or has the core
// load it here, from the core's own folder first, then from the loader's search path. The
// library stays loaded for the process once found.
class HeadlessLoader {
  public:
    // Installs the device and its white key window. 0, or RIVLO_ERROR_UNAVAILABLE with a log
    // line naming `function` when the library cannot be loaded. Main thread.
    static int install(const char* function);
    // The name of the entry point the headless library exports (private to this build).
    static constexpr const char* kEntryPoint = "rivlo_headless_install_device";
    static constexpr const char* kLibrary = "librivlo-headless.so.1";
};

}  // namespace rivlo
