#include "foundation/UserDefaults.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "foundation/StorageSpace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace rivlo {
namespace {

std::mutex standardDirMutex;
std::string standardDir;

std::string parentDirectory(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool makeDirectories(const std::string& dir) {
    if (dir.empty()) return false;
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!makeDirectories(parentDirectory(dir)) && parentDirectory(dir) != dir) return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::string> readFile(const std::string& path, bool& missing) {
    missing = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        missing = (errno == ENOENT);
        return std::nullopt;
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    return buf.str();
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& bytes) {
    std::string dir = parentDirectory(path);
    if (!makeDirectories(dir)) return false;
    std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = failure;  // for the caller's report (a full disk is told apart)
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

UserDefaults& UserDefaults::standard() {
    // Written to its file when the library closes, then freed with the library's other objects.
    static SharedInstance<UserDefaults> defaults;
    return defaults.get(
        [] {
            std::lock_guard<std::mutex> lock(standardDirMutex);
            std::string dir = standardDir.empty() ? std::string(".") : standardDir;
            return new UserDefaults(dir + "/rivlo.defaults.plist");
        },
        [](UserDefaults& d) { d.synchronize(); });
}

void UserDefaults::setStandardDirectory(const std::string& directory) {
    {
        std::lock_guard<std::mutex> lock(standardDirMutex);
        standardDir = directory;
    }
    standard().setFilePath(directory + "/rivlo.defaults.plist");
}

UserDefaults::UserDefaults(std::string filePath) : path_(std::move(filePath)) {}

void UserDefaults::loadLocked() {
    if (loaded_) return;
    loaded_ = true;
    values_ = Value::object();
    // A temporary file left by an interrupted write is never the truth: the rename did not
    // happen, so the main file still holds the last complete state.
    ::unlink((path_ + ".tmp").c_str());
    bool missing = false;
    auto bytes = readFile(path_, missing);
    if (!bytes) {
        if (!missing)
            Log::write("Rivlo: Could not read the defaults file %s: %s", path_.c_str(),
                       strerror(errno));
        return;
    }
    if (bytes->empty()) return;
    auto parsed = PropertyList::read(*bytes);
    if (!parsed || !parsed->is_object()) {
        std::string kept = path_ + ".corrupt";
        Log::write(
            "Rivlo: The defaults file %s is corrupt; it was kept as %s and the defaults start "
            "empty",
            path_.c_str(), kept.c_str());
        ::rename(path_.c_str(), kept.c_str());
        return;
    }
    values_ = std::move(*parsed);
}

Value UserDefaults::object(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const_cast<UserDefaults*>(this)->loadLocked();
    auto it = values_.find(key);
    return it == values_.end() ? Value() : *it;
}

bool UserDefaults::has(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const_cast<UserDefaults*>(this)->loadLocked();
    return values_.contains(key);
}

void UserDefaults::set(const std::string& key, Value value) {
    if (value.is_null()) {
        remove(key);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    loadLocked();
    values_[key] = std::move(value);
    dirty_ = true;
    ++generation_;
}

void UserDefaults::remove(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    loadLocked();
    if (values_.erase(key) > 0) {
        dirty_ = true;
        ++generation_;
    }
}

int64_t UserDefaults::integer(const std::string& key) const {
    Value v = object(key);
    if (v.is_string()) {
        // Texts holding a number read as that number, like the platform's defaults.
        const std::string& s = v.get_ref<const std::string&>();
        char* end = nullptr;
        long long n = strtoll(s.c_str(), &end, 10);
        return end != s.c_str() ? static_cast<int64_t>(n) : 0;
    }
    return PropertyList::integer(Value{{"v", v}}, "v", 0);
}

bool UserDefaults::boolean(const std::string& key) const {
    return PropertyList::boolean(Value{{"v", object(key)}}, "v", false);
}

std::optional<std::string> UserDefaults::text(const std::string& key) const {
    Value v = object(key);
    if (!v.is_string()) return std::nullopt;
    return v.get<std::string>();
}

Value UserDefaults::array(const std::string& key) const {
    Value v = object(key);
    return v.is_array() ? v : Value();
}

Value UserDefaults::dictionary(const std::string& key) const {
    Value v = object(key);
    return v.is_object() ? v : Value();
}

Value UserDefaults::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const_cast<UserDefaults*>(this)->loadLocked();
    return values_;
}

bool UserDefaults::synchronize() {
    // One writer at a time; the value lock is held only to take a copy.
    std::lock_guard<std::mutex> writer(writeMutex_);
    Value copy;
    std::string path;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loadLocked();
        if (!dirty_) return true;
        copy = values_;
        path = path_;
        generation = generation_;
    }
    std::string bytes = PropertyList::write(copy, PropertyList::Format::Binary);
    if (bytes.empty() || !writeFileAtomically(path, bytes)) {
        // The values stay in memory and the next flush writes them; the old file is intact.
        if (bytes.empty() || !StorageSpace::noteWriteFailure(errno, path))
            Log::write("Rivlo: Could not write the defaults file %s", path.c_str());
        return false;
    }
    StorageSpace::noteWriteSuccess(path);
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ == generation && path_ == path) dirty_ = false;
    return true;
}

void UserDefaults::reload() {
    std::lock_guard<std::mutex> lock(mutex_);
    loaded_ = false;
    dirty_ = false;
    loadLocked();
}

void UserDefaults::setFilePath(const std::string& filePath) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = filePath;
    loaded_ = false;
    dirty_ = false;
    values_ = Value::object();
}

}  // namespace rivlo
