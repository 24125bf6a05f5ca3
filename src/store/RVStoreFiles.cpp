#include "store/RVStoreFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rivlo {

namespace fs = std::filesystem;

namespace {

std::string errnoText(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool RVStoreFiles::isSafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

bool RVStoreFiles::createDirectory(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!createDirectory(path.substr(0, slash))) return false;
    }
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    // Another thread or process may have created it meanwhile.
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RVStoreFiles::copyFile(const std::string& source, const std::string& destination,
                            std::string& error) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = errnoText("cannot open", source);
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file: " + source;
        ::close(in);
        return false;
    }
    const size_t slash = destination.find_last_of('/');
    const std::string temporary =
        (slash == std::string::npos ? std::string() : destination.substr(0, slash + 1)) + "." +
        destination.substr(slash == std::string::npos ? 0 : slash + 1) + ".partial";
    const int out =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) {
        error = errnoText("cannot create", temporary);
        ::close(in);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errnoText("cannot read", source);
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!writeAll(out, buffer.data(), static_cast<size_t>(got))) {
            error = errnoText("cannot write", temporary);
            ok = false;
            break;
        }
    }
    ::close(in);
    if (ok && ::fsync(out) != 0) {
        error = errnoText("cannot flush", temporary);
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        error = errnoText("cannot close", temporary);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), destination.c_str()) != 0) {
        error = errnoText("cannot rename to", destination);
        ok = false;
    }
    if (!ok) {
        const int failure = errno;
        ::unlink(temporary.c_str());
        errno = failure;  // for the caller's report (a full disk is told apart)
    }
    return ok;
}

bool RVStoreFiles::moveFile(const std::string& source, const std::string& destination,
                            std::string& error) {
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0) {
        error = errnoText("cannot find", source);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file: " + source;
        return false;
    }
    if (::rename(source.c_str(), destination.c_str()) == 0) {
        ::chmod(destination.c_str(), 0600);  // private, as every file of the store
        return true;
    }
    if (errno != EXDEV) {
        error = errnoText("cannot move to", destination);
        return false;
    }
    // Another file system: copied, and the source removed only once the copy is on disk.
    if (!copyFile(source, destination, error)) return false;
    ::unlink(source.c_str());
    return true;
}

bool RVStoreFiles::removeItem(const std::string& path) {
    std::error_code ec;
    return fs::remove_all(path, ec) > 0 && !ec;
}

size_t RVStoreFiles::cleanupDirectory(const std::string& folder,
                                      const std::optional<std::set<std::string>>& keep) {
    std::error_code ec;
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!keep || keep->count(name) == 0) doomed.push_back(it->path());
    }
    size_t removed = 0;
    for (const auto& path : doomed) {
        if (removeItem(path.string())) ++removed;
    }
    return removed;
}

bool RVStoreFiles::exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> RVStoreFiles::regularFileNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) names.push_back(it->path().filename().string());
    }
    return names;
}

}  // namespace rivlo
