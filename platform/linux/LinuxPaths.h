#pragma once

#include <optional>
#include <string>

namespace rivlo {

// The application's folders on Linux, after the XDG base directory rules:
//   caches   $XDG_CACHE_HOME/<application id>   (else ~/.cache/<application id>)
//   defaults $XDG_CONFIG_HOME/<application id>  (else ~/.config/<application id>)
// A relative XDG value is ignored, as the rules say. Any thread.
class LinuxPaths {
  public:
    // From the given environment values (nullopt: unset) and home folder.
    static std::string cachesDirectory(const std::string& applicationIdentifier,
                                       const std::optional<std::string>& xdgCacheHome,
                                       const std::string& home);
    static std::string defaultsDirectory(const std::string& applicationIdentifier,
                                         const std::optional<std::string>& xdgConfigHome,
                                         const std::string& home);

    // From this process's environment.
    static std::string cachesDirectory(const std::string& applicationIdentifier);
    static std::string defaultsDirectory(const std::string& applicationIdentifier);

    // The home folder: $HOME, else the password database, else the temporary folder.
    static std::string homeDirectory();

    // An application identifier usable as one path component: '/' and control characters
    // become '_'; "", "." and ".." become "application".
    static std::string safeComponent(const std::string& applicationIdentifier);

    // Creates the folder and its missing parents, each new one readable by the user only
    // (0700). True when the folder exists afterwards.
    static bool makeDirectories(const std::string& path);
};

}  // namespace rivlo
