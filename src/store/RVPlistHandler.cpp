#include "store/RVPlistHandler.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "foundation/StorageSpace.h"
#include "foundation/UserDefaults.h"
#include "store/RVStoreFiles.h"
#include "store/RVStorePaths.h"
#include "store/RVStoreSession.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iterator>

namespace rivlo {

namespace {

UserDefaults& defaults() {
    return UserDefaults::standard();
}

// The text under field, or "" when it is missing or not text.
std::string textField(const Value& entry, const char* field) {
    if (!entry.is_object()) return {};
    return PropertyList::text(entry, field);
}

// The grid items of a web view entry; a missing or unreadable grid list reads as empty.
const Value& gridList(const Value& entry) {
    static const Value kEmpty = Value::array();
    if (!entry.is_object()) return kEmpty;
    auto it = entry.find("achievedGridList");
    if (it == entry.end() || !it->is_array()) return kEmpty;
    return *it;
}

// Splits "<prefix>_<digits>.mp4" into "<prefix>_" and ".mp4" so a taken video name can be
// replaced by the same name with a fresh stamp. Names of another shape keep their stem as
// the prefix.
void splitVideoName(const std::string& name, std::string& prefix, std::string& extension) {
    std::string base =
        name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    base.erase(std::remove(base.begin(), base.end(), '\0'), base.end());
    const size_t dot = base.find_last_of('.');
    extension = (dot == std::string::npos || dot == 0) ? std::string(".mp4") : base.substr(dot);
    std::string stem = (dot == std::string::npos || dot == 0) ? base : base.substr(0, dot);
    size_t digits = stem.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1])))
        --digits;
    if (digits < stem.size() && digits > 0 && stem[digits - 1] == '_') {
        prefix = stem.substr(0, digits);
    } else if (stem.empty() || stem == "." || stem == "..") {
        prefix.clear();
    } else {
        prefix = stem + "_";
    }
}

}  // namespace

RVPlistHandler* RVPlistHandler::sharedHandler() {
    // Its queue runs what is queued and ends with the library's other threads at close.
    static SharedInstance<RVPlistHandler> instance;
    return &instance.get([] { return new RVPlistHandler; },
                         [](RVPlistHandler& handler) { handler.queue_.shutdown(); });
}

RVPlistHandler::RVPlistHandler() : queue_("com.rivlo.RVPlistHandler") {}

void RVPlistHandler::runQueued(const std::function<void()>& task) {
    if (queue_.isCurrent()) {
        task();
    } else {
        queue_.sync(task);
    }
}

std::string RVPlistHandler::pathInFolder(const std::string& folderName, const std::string& name) {
    if (!RVStoreFiles::isSafeName(name)) return {};
    return RVStorePaths::folderPath(folderName) + "/" + name;
}

void RVPlistHandler::logUnreadable(size_t count, const char* key) {
    RVLog("Rivlo: Plist: skipped %zu unreadable entr%s of %s", count, count == 1 ? "y" : "ies",
          key);
}

// ---- Queue-only helpers ---------------------------------------------------------------------

Value RVPlistHandler::storedList(const std::string& key) {
    Value list = defaults().object(key);
    if (list.is_array()) return list;
    if (!list.is_null()) {
        RVLog("Rivlo: Plist: the stored %s is not a list; it is replaced by a new one",
              key.c_str());
    }
    return Value::array();
}

void RVPlistHandler::storeList(const std::string& key, const Value& list) {
    if (list.empty()) {
        defaults().remove(key);
    } else {
        defaults().set(key, list);
    }
    defaults().synchronize();
}

void RVPlistHandler::addObjectToKey(const Value& entry, const std::string& key) {
    Value list = storedList(key);
    list.push_back(entry);
    storeList(key, list);
}

Value RVPlistHandler::clearKeyToMaxNum(const std::string& key, long maximum,
                                       const std::function<void(const Value& entry)>& action) {
    Value list = defaults().object(key);
    if (!list.is_array()) return list;
    const long count = static_cast<long>(list.size());
    const long excess = count - maximum;
    if (excess < 1) return list;
    if (action) {
        for (long i = 0; i < excess; ++i)
            action(list[static_cast<size_t>(i)]);
    }
    if (excess >= count) {
        defaults().remove(key);
        list = Value();
    } else {
        list.erase(list.begin(), list.begin() + excess);
        defaults().set(key, list);
    }
    defaults().synchronize();
    return list;
}

std::vector<Value> RVPlistHandler::readableEntries(Value list, const std::string& key,
                                                   const char* nameField) {
    std::vector<Value> entries;
    if (list.is_null()) return entries;
    if (!list.is_array()) {
        RVLog("Rivlo: Plist: the stored %s is not a list; it is ignored", key.c_str());
        return entries;
    }
    entries.reserve(list.size());
    size_t unreadable = 0;
    for (auto& entry : list) {
        auto name = entry.is_object() ? PropertyList::optionalText(entry, nameField)
                                      : std::optional<std::string>();
        if (name && RVStoreFiles::isSafeName(*name)) {
            entries.push_back(std::move(entry));
        } else {
            ++unreadable;
        }
    }
    if (unreadable > 0) logUnreadable(unreadable, key.c_str());
    return entries;
}

Value RVPlistHandler::removeUnnamedEntries(Value list, const std::string& key,
                                           const char* nameField) {
    if (!list.is_array()) return list;
    size_t removed = 0;
    for (auto it = list.begin(); it != list.end();) {
        auto name = it->is_object() ? PropertyList::optionalText(*it, nameField)
                                    : std::optional<std::string>();
        if (name && RVStoreFiles::isSafeName(*name)) {
            ++it;
        } else {
            it = list.erase(it);
            ++removed;
        }
    }
    if (removed == 0) return list;
    // Nothing can ever be uploaded or deleted for such an entry (it names no file of the
    // store): it goes, once, instead of being skipped and logged at every pass.
    storeList(key, list);
    RVLog("Rivlo: Plist: removed %zu entr%s of %s without a usable %s", removed,
          removed == 1 ? "y" : "ies", key.c_str(), nameField);
    return list.empty() ? Value() : list;
}

std::optional<std::set<std::string>> RVPlistHandler::keepList(const std::string& key,
                                                              const char* nameField) {
    const Value list = defaults().object(key);
    if (!list.is_array()) return std::nullopt;
    std::set<std::string> names;
    for (const auto& entry : list) {
        auto name = textField(entry, nameField);
        if (!name.empty()) names.insert(name);
    }
    return names;
}

std::optional<std::set<std::string>> RVPlistHandler::webViewImageKeepList() {
    const Value list = defaults().object(kWebViewKey);
    if (!list.is_array()) return std::nullopt;
    std::set<std::string> names;
    for (const auto& entry : list) {
        for (const auto& grid : gridList(entry)) {
            auto name = textField(grid, "imageName");
            if (!name.empty()) names.insert(name);
        }
    }
    return names;
}

void RVPlistHandler::deleteFile(const std::string& name, const std::string& folderName) {
    const std::string path = pathInFolder(folderName, name);
    if (path.empty()) {
        if (!name.empty()) {
            RVLog("Rivlo: Plist: not deleting \"%s\": not a plain file name", name.c_str());
        }
        return;
    }
    RVStoreFiles::removeItem(path);
}

void RVPlistHandler::cleanupDirectory(const std::string& folderName,
                                      const std::optional<std::set<std::string>>& keep) {
    RVStoreFiles::cleanupDirectory(RVStorePaths::folderPath(folderName), keep);
}

// ---- Session data documents -----------------------------------------------------------------

std::shared_ptr<RVTextFile> RVPlistHandler::saveDataToTextFile(const std::string& data) {
    const std::string folder = RVStorePaths::folderPath(kDataFolder);
    RVStoreFiles::createDirectory(folder);

    // A name is taken when a file has it or a listed document does (its write may have
    // failed); appending to or replacing either would corrupt or lose a document.
    const auto listed = keepList(kTextFileKey, "fileName");
    const std::string stamp = RVStorePaths::dateForFile([&](const std::string& candidate) {
        const std::string name = candidate + ".txt";
        return (listed && listed->count(name) > 0) || RVStoreFiles::exists(folder + "/" + name);
    });
    auto file = std::make_shared<RVTextFile>(stamp + ".txt", RVStoreSession::appDeviceId());
    const std::string path = folder + "/" + file->fileName;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pendingDocuments_.insert(file->fileName);
    }
    if (!writeFileAtomically(path, data)) {
        if (!StorageSpace::noteWriteFailure(errno, path))
            RVLog("Rivlo:Error saving file: could not write %s", path.c_str());
    } else {
        StorageSpace::noteWriteSuccess(path);
    }
    addTextFile(*file);
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pendingDocuments_.erase(file->fileName);
    }
    return file;
}

void RVPlistHandler::addTextFile(const RVTextFile& file) {
    runQueued([&] {
        // The same document listed twice would be uploaded twice.
        const auto listed = keepList(kTextFileKey, "fileName");
        if (listed && listed->count(file.fileName) > 0) return;
        addObjectToKey(file.savedDictionary(), kTextFileKey);
    });
}

void RVPlistHandler::listUnlistedDocuments() {
    const std::string folder = RVStorePaths::folderPath(kDataFolder);
    const auto listed = keepList(kTextFileKey, "fileName");
    std::set<std::string> pending;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending = pendingDocuments_;
    }
    // Only names this store gives documents: "<stamp>.txt".
    std::vector<std::string> found;
    for (const auto& name : RVStoreFiles::regularFileNames(folder)) {
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
        const std::string stamp = name.substr(0, name.size() - 4);
        if (!std::all_of(stamp.begin(), stamp.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; })) {
            continue;
        }
        if ((listed && listed->count(name) > 0) || pending.count(name) > 0) continue;
        found.push_back(name);
    }
    if (found.empty()) return;
    // Oldest stamp first.
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    Value list = storedList(kTextFileKey);
    for (const auto& name : found)
        list.push_back(RVTextFile(name, "").savedDictionary());
    storeList(kTextFileKey, list);
    RVLog("Rivlo: Plist: listed %zu session document%s found unlisted in %s", found.size(),
          found.size() == 1 ? "" : "s", kDataFolder);
}

std::vector<std::shared_ptr<RVTextFile>> RVPlistHandler::textFileList() {
    std::vector<Value> entries;
    runQueued([&] {
        listUnlistedDocuments();
        Value list = clearKeyToMaxNum(kTextFileKey, kMaxListEntries, [this](const Value& entry) {
            deleteFile(textField(entry, "fileName"), kDataFolder);
        });
        entries = readableEntries(std::move(list), kTextFileKey, "fileName");
    });
    return recordsFrom<RVTextFile>(entries, kTextFileKey);
}

void RVPlistHandler::removeTextFile(const RVTextFile& file) {
    runQueued([&] {
        Value list = defaults().object(kTextFileKey);
        if (!list.is_array() || list.empty()) return;
        for (size_t i = 0; i < list.size(); ++i) {
            const auto name = list[i].is_object() ? PropertyList::optionalText(list[i], "fileName")
                                                  : std::optional<std::string>();
            if (!name || *name != file.fileName) continue;
            // The list first: a process killed in between leaves an unlisted file (listed
            // again or cleaned later), never an entry without its file.
            list.erase(list.begin() + static_cast<long>(i));
            storeList(kTextFileKey, list);
            deleteFile(*name, kDataFolder);
            return;
        }
    });
}

// ---- Videos ---------------------------------------------------------------------------------

std::string RVPlistHandler::addVideoEntry(const std::string& key, const std::string& folderName,
                                          Value entry, const std::string& videoPath, bool screen) {
    if (!entry.is_object()) {
        RVLog("Rivlo: Plist: a %s entry must be a dictionary; nothing stored", key.c_str());
        return {};
    }
    const std::string folder = RVStorePaths::folderPath(folderName);
    RVStoreFiles::createDirectory(folder);

    // Two entries must never share a file: removing one would delete the other's movie, and
    // a copy onto an existing name would lose the new movie.
    std::string name = textField(entry, "videoName");
    const auto listed = keepList(key, "videoName");
    auto taken = [&](const std::string& candidate) {
        return (listed && listed->count(candidate) > 0) ||
               RVStoreFiles::exists(folder + "/" + candidate);
    };
    if (!RVStoreFiles::isSafeName(name) || taken(name)) {
        std::string prefix, extension;
        splitVideoName(name, prefix, extension);
        const std::string stamp = RVStorePaths::dateForFile(
            [&](const std::string& s) { return taken(prefix + s + extension); });
        const std::string fresh = prefix + stamp + extension;
        RVLog("Rivlo: Plist: video name \"%s\" is taken or unusable; stored as \"%s\"",
              name.c_str(), fresh.c_str());
        name = fresh;
        entry["videoName"] = name;
    }

    // The file first, then the entry: a process killed in between leaves an unlisted copy
    // (cleaned later) rather than an entry whose movie never arrived.
    const std::string destination = folder + "/" + name;
    std::string error;
    // The recorder's working file lives in this folder: it is moved into place, which needs
    // no free space and never leaves half a movie. A movie from elsewhere is copied (and the
    // copy renamed into place only once it is complete on disk); its source is not touched.
    const bool workingFile = std::filesystem::path(videoPath).lexically_normal().parent_path() ==
                             std::filesystem::path(folder).lexically_normal();
    const bool stored = workingFile ? RVStoreFiles::moveFile(videoPath, destination, error)
                                    : RVStoreFiles::copyFile(videoPath, destination, error);
    if (!stored) {
        if (!StorageSpace::noteWriteFailure(errno, destination))
            RVLog("Rivlo:Plist:%s: Error copying file: %s (from %s to %s)",
                  screen ? "addScreenVideo" : "addCameraVideo", error.c_str(), videoPath.c_str(),
                  destination.c_str());
    }
    addObjectToKey(entry, key);
    auto keep = keepList(key, "videoName");
    // A movie that could not be moved is nowhere else: the clean-up below must not take it.
    if (!stored && workingFile) {
        if (!keep) keep.emplace();
        keep->insert(std::filesystem::path(videoPath).filename().string());
    }
    cleanupDirectory(folderName, keep);
    return name;
}

void RVPlistHandler::removeVideo(const std::string& key, const std::string& folderName,
                                 const std::string& videoName) {
    Value list = defaults().object(key);
    if (!list.is_array() || list.empty()) return;
    for (size_t i = 0; i < list.size(); ++i) {
        const auto name = list[i].is_object() ? PropertyList::optionalText(list[i], "videoName")
                                              : std::optional<std::string>();
        if (!name || *name != videoName) continue;
        // The list first: a kill in between leaves an unlisted file for the next clean-up.
        list.erase(list.begin() + static_cast<long>(i));
        storeList(key, list);
        deleteFile(*name, folderName);
        return;
    }
}

std::string RVPlistHandler::addSreenVideoEntry(const Value& entry, const std::string& videoPath) {
    std::string stored;
    runQueued([&] {
        stored = addVideoEntry(kScreenVideoKey, kScreenVideoFolder, entry, videoPath, true);
    });
    return stored;
}

std::vector<Value> RVPlistHandler::screenVideoEntries() {
    std::vector<Value> entries;
    runQueued([&] {
        Value list = clearKeyToMaxNum(kScreenVideoKey, kMaxListEntries, [this](const Value& entry) {
            deleteFile(textField(entry, "videoName"), kScreenVideoFolder);
        });
        list = removeUnnamedEntries(std::move(list), kScreenVideoKey, "videoName");
        entries = readableEntries(std::move(list), kScreenVideoKey, "videoName");
    });
    return entries;
}

void RVPlistHandler::removeScreenVideo(const std::string& videoName) {
    runQueued([&] { removeVideo(kScreenVideoKey, kScreenVideoFolder, videoName); });
}

std::string RVPlistHandler::addCameraVideoEntry(const Value& entry, const std::string& videoPath) {
    std::string stored;
    runQueued([&] {
        stored = addVideoEntry(kCameraVideoKey, kCameraVideoFolder, entry, videoPath, false);
    });
    return stored;
}

std::vector<Value> RVPlistHandler::cameraVideoEntries() {
    std::vector<Value> entries;
    runQueued([&] {
        Value list = clearKeyToMaxNum(kCameraVideoKey, kMaxListEntries, [this](const Value& entry) {
            deleteFile(textField(entry, "videoName"), kCameraVideoFolder);
        });
        list = removeUnnamedEntries(std::move(list), kCameraVideoKey, "videoName");
        entries = readableEntries(std::move(list), kCameraVideoKey, "videoName");
    });
    return entries;
}

void RVPlistHandler::removeCameraVideo(const std::string& videoName) {
    runQueued([&] { removeVideo(kCameraVideoKey, kCameraVideoFolder, videoName); });
}

// ---- Web views ------------------------------------------------------------------------------

void RVPlistHandler::addWebViewEntries(const std::vector<Value>& entries) {
    runQueued([&] {
        Value list = storedList(kWebViewKey);
        const std::string appDeviceId = RVStoreSession::appDeviceId();
        size_t unreadable = 0;
        for (Value entry : entries) {
            if (!entry.is_object()) {
                ++unreadable;
                continue;
            }
            entry["appDeviceID"] = appDeviceId;
            list.push_back(std::move(entry));
        }
        if (unreadable > 0) logUnreadable(unreadable, kWebViewKey);
        storeList(kWebViewKey, list);
        cleanupDirectory(kWebViewImageFolder, webViewImageKeepList());
    });
}

std::vector<Value> RVPlistHandler::webViewEntries() {
    std::vector<Value> entries;
    runQueued([&] {
        Value list = clearKeyToMaxNum(kWebViewKey, kMaxListEntries, [this](const Value& entry) {
            for (const auto& grid : gridList(entry)) {
                deleteFile(textField(grid, "imageName"), kWebViewImageFolder);
            }
        });
        if (list.is_null()) return;
        if (!list.is_array()) {
            RVLog("Rivlo: Plist: the stored %s is not a list; it is ignored", kWebViewKey);
            return;
        }
        size_t unreadable = 0;
        entries.reserve(list.size());
        for (auto& stored : list) {
            if (!stored.is_object() || !PropertyList::optionalText(stored, "key")) {
                ++unreadable;
                continue;
            }
            // Hand out only the tiles whose image can be named safely; the others stay stored.
            Value entry = std::move(stored);
            Value grids = Value::array();
            for (const auto& grid : gridList(entry)) {
                const auto name = grid.is_object() ? PropertyList::optionalText(grid, "imageName")
                                                   : std::optional<std::string>();
                if (name && RVStoreFiles::isSafeName(*name)) {
                    grids.push_back(grid);
                } else {
                    ++unreadable;
                }
            }
            entry["achievedGridList"] = std::move(grids);
            entries.push_back(std::move(entry));
        }
        if (unreadable > 0) logUnreadable(unreadable, kWebViewKey);
    });
    return entries;
}

void RVPlistHandler::removeWebView(const std::string& key) {
    runQueued([&] {
        Value list = defaults().object(kWebViewKey);
        if (!list.is_array() || list.empty()) return;
        for (size_t i = 0; i < list.size(); ++i) {
            const Value& entry = list[i];
            if (!entry.is_object() || !gridList(entry).empty()) continue;
            const auto entryKey = PropertyList::optionalText(entry, "key");
            if (!entryKey || *entryKey != key) continue;
            list.erase(list.begin() + static_cast<long>(i));
            storeList(kWebViewKey, list);
            return;
        }
    });
}

void RVPlistHandler::removeWebViewGrid(const std::string& imageName) {
    runQueued([&] {
        Value list = defaults().object(kWebViewKey);
        if (!list.is_array() || list.empty()) return;
        for (auto& entry : list) {
            const Value& grids = gridList(entry);
            for (size_t g = 0; g < grids.size(); ++g) {
                const auto name = grids[g].is_object()
                                      ? PropertyList::optionalText(grids[g], "imageName")
                                      : std::optional<std::string>();
                if (!name || *name != imageName) continue;
                const std::string image = *name;
                Value remaining = grids;
                remaining.erase(remaining.begin() + static_cast<long>(g));
                entry["achievedGridList"] = std::move(remaining);
                // The list first: a kill in between leaves an unlisted image for clean-up.
                storeList(kWebViewKey, list);
                deleteFile(image, kWebViewImageFolder);
                return;
            }
        }
    });
}

// ---- Crashes --------------------------------------------------------------------------------

void RVPlistHandler::addCrash(const Value& entry) {
    bool replaced = false;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(crashMutex_);
        Value list = defaults().object(kCrashKey);
        if (!list.is_array()) {
            replaced = !list.is_null();
            list = Value::array();
        }
        list.push_back(entry);
        if (list.size() > static_cast<size_t>(kMaxListEntries)) {
            dropped = list.size() - static_cast<size_t>(kMaxListEntries);
            list.erase(list.begin(), list.begin() + static_cast<long>(dropped));
        }
        defaults().set(kCrashKey, list);
    }
    defaults().synchronize();
    if (replaced) RVLog("Rivlo: Plist: the stored %s is not a list; it is replaced", kCrashKey);
    if (dropped > 0) RVLog("Rivlo: Plist: dropped %zu oldest crash records", dropped);
}

std::vector<Value> RVPlistHandler::crashEntries() {
    std::vector<Value> entries;
    const Value list = defaults().object(kCrashKey);
    if (!list.is_array()) return entries;
    for (const auto& entry : list) {
        if (entry.is_object()) entries.push_back(entry);
    }
    return entries;
}

// ---- Refusals -------------------------------------------------------------------------------

bool RVPlistHandler::isPermanentRefusal(long status) {
    return status >= 400 && status <= 499 && status != 408 && status != 429;
}

namespace {

// The name field and folder of the items of a list; the web view list names grid images.
struct ListShape {
    const char* nameField;
    const char* folder;
};

std::optional<ListShape> shapeOf(const std::string& listKey) {
    if (listKey == RVPlistHandler::kTextFileKey)
        return ListShape{"fileName", RVPlistHandler::kDataFolder};
    if (listKey == RVPlistHandler::kScreenVideoKey)
        return ListShape{"videoName", RVPlistHandler::kScreenVideoFolder};
    if (listKey == RVPlistHandler::kCameraVideoKey)
        return ListShape{"videoName", RVPlistHandler::kCameraVideoFolder};
    if (listKey == RVPlistHandler::kWebViewKey)
        return ListShape{"imageName", RVPlistHandler::kWebViewImageFolder};
    return std::nullopt;
}

bool lists(const Value& list, const std::string& listKey, const std::string& name) {
    if (!list.is_array()) return false;
    for (const auto& entry : list) {
        if (listKey == RVPlistHandler::kWebViewKey) {
            for (const auto& grid : gridList(entry))
                if (textField(grid, "imageName") == name) return true;
        } else if (textField(entry, shapeOf(listKey)->nameField) == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

Value RVPlistHandler::takeListedItem(const std::string& listKey, const std::string& name) {
    Value list = defaults().object(listKey);
    if (!list.is_array()) return Value();
    for (size_t i = 0; i < list.size(); ++i) {
        if (listKey == kWebViewKey) {
            const Value& grids = gridList(list[i]);
            for (size_t g = 0; g < grids.size(); ++g) {
                if (textField(grids[g], "imageName") != name) continue;
                Value item = grids[g];
                Value remaining = grids;
                remaining.erase(remaining.begin() + static_cast<long>(g));
                list[i]["achievedGridList"] = std::move(remaining);
                storeList(listKey, list);
                return item;
            }
        } else if (textField(list[i], shapeOf(listKey)->nameField) == name) {
            Value entry = list[i];
            list.erase(list.begin() + static_cast<long>(i));
            storeList(listKey, list);
            return entry;
        }
    }
    return Value();
}

void RVPlistHandler::setAside(const std::string& listKey, const std::string& name, long status,
                              Value entry) {
    const std::string keptName = listKey + "_" + name;
    const std::string from = pathInFolder(shapeOf(listKey)->folder, name);
    const std::string to = pathInFolder(kSetAsideFolder, keptName);
    if (!from.empty() && !to.empty() && RVStoreFiles::exists(from)) {
        RVStoreFiles::createDirectory(RVStorePaths::folderPath(kSetAsideFolder));
        if (::rename(from.c_str(), to.c_str()) != 0) RVStoreFiles::removeItem(from);
    }
    Value kept = storedList(kSetAsideKey);
    kept.push_back(Value{{"list", listKey},
                         {"name", name},
                         {"fileName", keptName},
                         {"status", static_cast<int64_t>(status)},
                         {"entry", std::move(entry)}});
    while (static_cast<long>(kept.size()) > kMaxSetAside) {
        deleteFile(textField(kept[0], "fileName"), kSetAsideFolder);
        kept.erase(kept.begin());
    }
    storeList(kSetAsideKey, kept);
}

bool RVPlistHandler::noteRefusal(const std::string& listKey, const std::string& name, long status) {
    if (!isPermanentRefusal(status) || !shapeOf(listKey) || name.empty()) return false;
    bool movedAside = false;
    int64_t count = 0;
    runQueued([&] {
        if (!lists(defaults().object(listKey), listKey, name)) return;  // already gone
        Value refusals = defaults().dictionary(kRefusalsKey);
        if (!refusals.is_object()) refusals = Value::object();
        // Counts of items no longer listed (uploaded since, or trimmed) are dropped here.
        for (auto it = refusals.begin(); it != refusals.end();) {
            const std::string& key = it.key();
            const size_t slash = key.find('/');
            const bool listed = slash != std::string::npos && shapeOf(key.substr(0, slash)) &&
                                lists(defaults().object(key.substr(0, slash)), key.substr(0, slash),
                                      key.substr(slash + 1));
            it = listed ? std::next(it) : refusals.erase(it);
        }
        const std::string key = listKey + "/" + name;
        count = PropertyList::integer(refusals, key, 0) + 1;
        if (count >= kMaxRefusals) {
            refusals.erase(key);
            setAside(listKey, name, status, takeListedItem(listKey, name));
            movedAside = true;
        } else {
            refusals[key] = count;
        }
        storeList(kRefusalsKey, refusals);
    });
    if (movedAside) {
        RVLog(
            "Rivlo: The service refused %s %s %lld times (status %ld); it is kept in %s and no "
            "longer uploaded",
            listKey.c_str(), name.c_str(), static_cast<long long>(count), status, kSetAsideFolder);
    }
    return movedAside;
}

std::vector<Value> RVPlistHandler::setAsideEntries() {
    std::vector<Value> entries;
    runQueued([&] {
        for (const auto& entry : storedList(kSetAsideKey))
            if (entry.is_object()) entries.push_back(entry);
    });
    return entries;
}

// ---- Folders --------------------------------------------------------------------------------

void RVPlistHandler::cleanupData() {
    runQueued([&] {
        cleanupDirectory(kWebViewImageFolder, webViewImageKeepList());
        cleanupDirectory(kCameraVideoFolder, keepList(kCameraVideoKey, "videoName"));
        cleanupDirectory(kScreenVideoFolder, keepList(kScreenVideoKey, "videoName"));
        removeLeftoverDocumentWrites();
    });
}

void RVPlistHandler::removeLeftoverDocumentWrites() {
    // "<document>.tmp": an atomic document write that never reached its rename (the process
    // ended in between). Documents themselves are never removed here; a write in progress on
    // another thread is left alone.
    std::set<std::string> pending;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending = pendingDocuments_;
    }
    const std::string folder = RVStorePaths::folderPath(kDataFolder);
    for (const auto& name : RVStoreFiles::regularFileNames(folder)) {
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".tmp") != 0) continue;
        if (pending.count(name.substr(0, name.size() - 4)) > 0) continue;
        RVStoreFiles::removeItem(folder + "/" + name);
    }
}

}  // namespace rivlo
