#include "platform/linux/LinuxSystemFacts.h"

#include "foundation/Log.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include <limits.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <openssl/evp.h>

namespace rivlo {
namespace {

// Name space of the vendor identifiers (a fixed random UUID of ours).
constexpr std::array<uint8_t, 16> kVendorNamespace = {
    0x6b, 0x1f, 0x4e, 0x2a, 0x93, 0xd0, 0x4c, 0x57, 0xa1, 0x38, 0x0e, 0x7d, 0x52, 0xc4, 0x96, 0xb3};

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// The language of a locale name: "de_DE.UTF-8@euro" gives "de"; "C" and "POSIX" give "".
std::string languageOfLocale(const std::string& locale) {
    std::string language = locale.substr(0, locale.find_first_of("_.@"));
    if (language == "C" || language == "POSIX") return "";
    for (char c : language) {
        if (!std::isalpha(static_cast<unsigned char>(c))) return "";
    }
    std::transform(language.begin(), language.end(), language.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return language;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::string LinuxSystemFacts::machineIdentifier() {
    utsname info{};
    if (uname(&info) != 0) return "unknown";
    return info.machine;
}

std::string LinuxSystemFacts::kernelRelease() {
    utsname info{};
    if (uname(&info) != 0) return "0";
    return info.release;
}

std::string LinuxSystemFacts::hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

std::map<std::string, std::string> LinuxSystemFacts::parseEnvironmentFile(const std::string& text) {
    std::map<std::string, std::string> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        std::string key = trim(line.substr(0, equals));
        std::string value = trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        entries[key] = value;
    }
    return entries;
}

std::optional<std::string> LinuxSystemFacts::osReleaseVersion(const std::string& path) {
    std::optional<std::string> text = readText(path);
    if (!text) return std::nullopt;
    auto entries = parseEnvironmentFile(*text);
    auto found = entries.find("VERSION_ID");
    if (found == entries.end() || found->second.empty()) return std::nullopt;
    return found->second;
}

std::string LinuxSystemFacts::systemVersion() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (auto version = osReleaseVersion(path)) return *version;
    }
    return kernelRelease();
}

std::optional<std::string> LinuxSystemFacts::machineId(const std::string& path) {
    std::optional<std::string> text = readText(path);
    if (!text) return std::nullopt;
    std::string id = trim(text->substr(0, text->find('\n')));
    if (id.size() != 32) return std::nullopt;
    for (char c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id;
}

std::string LinuxSystemFacts::vendorIdentifier(const std::string& machineId,
                                               const std::string& applicationIdentifier) {
    const std::string name = machineId + "/" + applicationIdentifier;
    // SHA-1 of the namespace followed by the name (a name-based UUID, version 5).
    std::string hashed(reinterpret_cast<const char*>(kVendorNamespace.data()),
                       kVendorNamespace.size());
    hashed += name;
    uint8_t digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    EVP_Digest(hashed.data(), hashed.size(), digest, &length, EVP_sha1(), nullptr);
    digest[6] = static_cast<uint8_t>((digest[6] & 0x0F) | 0x50);  // version 5
    digest[8] = static_cast<uint8_t>((digest[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const char* hex = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0F];
    }
    return text;
}

std::string LinuxSystemFacts::vendorIdentifierForThisMachine(
    const std::string& applicationIdentifier) {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        if (auto id = machineId(path)) return vendorIdentifier(*id, applicationIdentifier);
    }
    static std::once_flag logged;
    std::call_once(logged, [] {
        RVLog(
            "Rivlo: no readable machine id; the vendor identifier is derived from the host "
            "name");
    });
    return vendorIdentifier(hostName(), applicationIdentifier);
}

std::vector<std::string> LinuxSystemFacts::languagesFrom(const std::string& languageList,
                                                         const std::vector<std::string>& locales) {
    std::vector<std::string> languages;
    auto add = [&languages](const std::string& locale) {
        std::string language = languageOfLocale(trim(locale));
        if (!language.empty() &&
            std::find(languages.begin(), languages.end(), language) == languages.end()) {
            languages.push_back(language);
        }
    };
    std::istringstream list(languageList);
    std::string entry;
    while (std::getline(list, entry, ':'))
        add(entry);
    for (const auto& locale : locales)
        add(locale);
    if (languages.empty()) languages.push_back("en");
    return languages;
}

std::vector<std::string> LinuxSystemFacts::preferredLanguages() {
    return languagesFrom(environment("LANGUAGE"),
                         {environment("LC_ALL"), environment("LC_MESSAGES"), environment("LANG")});
}

std::string LinuxSystemFacts::programName() {
    char path[PATH_MAX + 1] = {};
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length > 0) {
        std::string full(path, static_cast<size_t>(length));
        return full.substr(full.find_last_of('/') + 1);
    }
    // Without /proc (a restricted sandbox): the name the program was started under.
    if (program_invocation_short_name != nullptr && program_invocation_short_name[0] != '\0') {
        return program_invocation_short_name;
    }
    return "rivlo-app";
}

}  // namespace rivlo
