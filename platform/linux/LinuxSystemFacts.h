#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

// Facts a Linux process can read about its machine, each from the real system source. The
// paths are parameters so that tests can hand in files of their own. Any thread.
class LinuxSystemFacts {
  public:
    // The machine field of uname ("x86_64", "aarch64").
    static std::string machineIdentifier();
    // The kernel release field of uname ("6.1.0-18-amd64").
    static std::string kernelRelease();
    // The host name; "localhost" when it cannot be read.
    static std::string hostName();

    // The "VERSION_ID" of an os-release file, unquoted; nullopt when the file or the entry is
    // missing or empty.
    static std::optional<std::string> osReleaseVersion(const std::string& path = "/etc/os-release");
    // The system version: the os-release "VERSION_ID", else the kernel release. The os-release
    // file is looked for at /etc/os-release, then /usr/lib/os-release.
    static std::string systemVersion();

    // The first line of a machine-id file, when it is 32 hex digits; nullopt otherwise.
    static std::optional<std::string> machineId(const std::string& path = "/etc/machine-id");

    // The vendor identifier: an upper-case UUID text (8-4-4-4-12) derived by a name-based
    // (SHA-1, version 5) UUID from the machine id and the application identifier. The same
    // inputs always give the same identifier; another machine or application gives another.
    static std::string vendorIdentifier(const std::string& machineId,
                                        const std::string& applicationIdentifier);
    // The vendor identifier of this machine: its machine id (/etc/machine-id, then
    // /var/lib/dbus/machine-id), or its host name when it has none (logged once).
    static std::string vendorIdentifierForThisMachine(const std::string& applicationIdentifier);

    // "KEY=value" lines of a shell-style environment file (os-release); quotes removed.
    static std::map<std::string, std::string> parseEnvironmentFile(const std::string& text);

    // Language codes from a locale environment value list, most preferred first: LANGUAGE
    // ("fr:en") entries, then LC_ALL, LC_MESSAGES and LANG ("de_DE.UTF-8" gives "de").
    // "C" and "POSIX" are skipped; "en" when nothing is left.
    static std::vector<std::string> preferredLanguages();
    static std::vector<std::string> languagesFrom(const std::string& languageList,
                                                  const std::vector<std::string>& locales);

    // The short name of the running program ("rivlo-demo").
    static std::string programName();
};

}  // namespace rivlo
