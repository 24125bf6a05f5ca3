#include "CollectorStore.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "CollectorNames.h"
#include "CollectorJson.h"
#include "CollectorSessions.h"
#include "SessionFacts.h"

namespace rivlo::collector {

namespace fs = std::filesystem;

namespace {

bool syncFolder(const fs::path& folder, std::string& error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        error = "cannot sync folder " + folder.string() + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

CollectorStore::CollectorStore(std::string dataDir, CollectorIndex& index, const CollectorLog& log)
    : dataDir_(std::move(dataDir)), index_(index), log_(log) {}

CollectorIndex::Commit CollectorStore::store(UploadRecord& record,
                                             const std::optional<SessionRecord>& session,
                                             const StorageQuota& quota, const std::string& tempPath,
                                             std::string& error) {
    const fs::path finalPath = fs::path(dataDir_) / record.path;
    auto place = [&](std::string& placeError) {
        const fs::path folder = finalPath.parent_path();
        // The folders about to be made, outermost first: each is synced into its parent.
        std::vector<fs::path> made;
        std::error_code ec;
        for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path())
            made.insert(made.begin(), p);
        fs::create_directories(folder, ec);
        if (ec) {
            placeError = "cannot create folder " + folder.string() + ": " + ec.message();
            return false;
        }
        fs::rename(tempPath, finalPath, ec);
        if (ec) {
            placeError = "cannot move upload into " + finalPath.string() + ": " + ec.message();
            return false;
        }
        if (!syncFolder(folder, placeError)) return false;
        for (const fs::path& p : made) {
            if (!syncFolder(p.parent_path(), placeError)) return false;
        }
        return true;
    };
    CollectorIndex::Commit outcome = index_.commitUpload(record, session, quota, place, error);
    if (outcome != CollectorIndex::Commit::Stored && outcome != CollectorIndex::Commit::Duplicate) {
        // A file moved into place whose row did not commit goes again.
        std::error_code ec;
        if (!fs::exists(tempPath, ec)) fs::remove(finalPath, ec);
    }
    return outcome;
}

CollectorStore::Removed CollectorStore::removeFiles(const std::vector<UploadRecord>& rows) {
    Removed removed;
    std::set<fs::path> folders;
    for (const UploadRecord& row : rows) {
        const fs::path path = fs::path(dataDir_) / row.path;
        std::error_code ec;
        if (fs::remove(path, ec)) {
            ++removed.files;
            removed.bytes += row.size;
        }
        folders.insert(path.parent_path());
    }
    // Emptied folders go too, up to the application's folder.
    for (const fs::path& folder : folders) {
        std::error_code ec;
        fs::remove(folder, ec);                // only when empty
        fs::remove(folder.parent_path(), ec);  // the installation's folder, when empty
    }
    return removed;
}

std::optional<CollectorStore::Removed> CollectorStore::deleteInstallation(
    const std::string& appDeviceId, std::string& error) {
    auto installation = index_.installation(appDeviceId);
    auto rows = index_.removeInstallation(appDeviceId, error);
    if (!rows) {
        log_.write("delete: installation %s not deleted: %s",
                   CollectorNames::printable(appDeviceId).c_str(), error.c_str());
        return std::nullopt;
    }
    Removed removed = removeFiles(*rows);
    log_.write("delete: installation %s of application \"%s\" deleted: %zu files, %llu bytes",
               CollectorNames::printable(appDeviceId).c_str(),
               installation ? CollectorNames::printable(installation->appKey).c_str() : "?",
               removed.files, static_cast<unsigned long long>(removed.bytes));
    return removed;
}

std::optional<CollectorStore::Removed> CollectorStore::deleteUser(const std::string& appKey,
                                                                  const std::string& userName,
                                                                  std::string& error) {
    std::set<int64_t> documents;
    std::set<std::string> installations;
    for (int64_t offset = 0;; offset += 1000) {
        SessionQuery query;
        query.appKey = appKey;
        query.userName = userName;
        query.limit = 1000;
        query.offset = offset;
        const auto page = index_.sessions(query);
        for (const SessionRecord& s : page) {
            documents.insert(s.uploadId);
            installations.insert(s.appDeviceId);
        }
        if (page.size() < 1000) break;
    }
    // A session's movies and tiles are found as the report places them.
    std::vector<int64_t> ids;
    for (const std::string& appDeviceId : installations) {
        const CollectedInstallation grouped = CollectorSessions::group(
            appDeviceId, std::nullopt, index_.uploadsOf(appDeviceId), dataDir_);
        for (const CollectedSession& session : grouped.sessions) {
            if (!documents.count(session.document.id)) continue;
            ids.push_back(session.document.id);
            for (const UploadRecord& item : session.items)
                ids.push_back(item.id);
        }
    }
    auto rows = index_.removeUploads(ids, error);
    if (!rows) {
        log_.write("delete: user \"%s\" of application \"%s\" not deleted: %s",
                   CollectorNames::printable(userName).c_str(),
                   CollectorNames::printable(appKey).c_str(), error.c_str());
        return std::nullopt;
    }
    Removed removed = removeFiles(*rows);
    log_.write(
        "delete: user \"%s\" of application \"%s\" deleted: %zu sessions, %zu files, %llu "
        "bytes",
        CollectorNames::printable(userName).c_str(), CollectorNames::printable(appKey).c_str(),
        documents.size(), removed.files, static_cast<unsigned long long>(removed.bytes));
    return removed;
}

bool CollectorStore::completeSessionDetails(std::string& error) {
    if (!index_.sessionDetailsPending()) return true;
    size_t sessions = 0, unreadable = 0;
    std::vector<std::pair<int64_t, SessionRecord>> batch;
    auto flush = [&] {
        if (batch.empty()) return true;
        const bool ok = index_.addSessionDetails(batch, error);
        batch.clear();
        return ok;
    };
    for (const UploadRecord& upload : index_.uploads()) {
        if (upload.kind != "data") continue;
        std::string problem;
        const nlohmann::json document = CollectorJson::parseFile(
            (fs::path(dataDir_) / upload.path).string(), CollectorJson::kMaxDocumentBytes, problem);
        if (document.is_discarded() || !document.is_object()) {
            ++unreadable;
            continue;
        }
        const int64_t run = upload.fields.is_object() && upload.fields.contains("dr")
                                ? CollectorSessions::integerOf(upload.fields["dr"], 0)
                                : 0;
        batch.emplace_back(upload.id, SessionFacts::of(document, upload, run));
        ++sessions;
        if (batch.size() >= 200 && !flush()) return false;
    }
    if (!flush() || !index_.finishSessionDetails(error)) return false;
    log_.write(
        "index: screens, gestures and versions of %zu stored sessions read from their "
        "documents (%zu unreadable)",
        sessions, unreadable);
    return true;
}

CollectorStore::Removed CollectorStore::expire(const std::map<std::string, int>& retentionDays,
                                               int64_t nowUnix) {
    Removed total;
    for (const auto& [appKey, days] : retentionDays) {
        if (days <= 0) continue;
        const int64_t cutoff = nowUnix - static_cast<int64_t>(days) * 86400;
        Removed app;
        for (;;) {
            std::string error;
            auto rows = index_.removeReceivedBefore(appKey, cutoff, 500, error);
            if (!rows) {
                log_.write("retention: application \"%s\": %s",
                           CollectorNames::printable(appKey).c_str(), error.c_str());
                break;
            }
            const Removed piece = removeFiles(*rows);
            app.files += piece.files;
            app.bytes += piece.bytes;
            if (rows->size() < 500) break;
        }
        if (app.files > 0) {
            log_.write(
                "retention: application \"%s\": removed %zu files (%llu bytes) received "
                "more than %d days ago",
                CollectorNames::printable(appKey).c_str(), app.files,
                static_cast<unsigned long long>(app.bytes), days);
        }
        total.files += app.files;
        total.bytes += app.bytes;
    }
    return total;
}

}  // namespace rivlo::collector
