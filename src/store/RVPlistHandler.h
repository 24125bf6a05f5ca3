#pragma once

#include "foundation/DispatchQueue.h"
#include "foundation/Value.h"
#include "protocol/RVWireProtocol.h"
#include "store/RVStoredRecord.h"
#include "store/RVTextFile.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace rivlo {

// The keeper of everything waiting for upload: one list per kind of item in the standard
// user defaults (flushed after every change) and the files those lists name under the store
// root (RVStorePaths::folderPath). Producers hand it records; uploaders read the lists and remove
// each item once the service has accepted it.
//
// Threads: any thread. List changes and reads run one at a time on the serial queue
// "com.rivlo.RVPlistHandler" and the caller waits for them. saveDataToTextFile writes its
// file on the caller's thread; addCrash bypasses the queue (crash path). Calling a queued
// operation from the queue itself runs it inline.
//
// Lists hold dictionaries; an entry that cannot be read (not a dictionary, a name that is not
// text or not a plain file name) is skipped with one log line per read and stays stored.
class RVPlistHandler {
  public:
    static RVPlistHandler* sharedHandler();

    // Longest a list may grow; reading a list drops the oldest entries beyond it (with their
    // files). The crash list is kept to the same length on every add.
    static constexpr long kMaxListEntries = 500;

    static constexpr const char* kTextFileKey = RVWire::kTextFileList;
    static constexpr const char* kScreenVideoKey = RVWire::kScreenVideoList;
    static constexpr const char* kCameraVideoKey = RVWire::kCameraVideoList;
    static constexpr const char* kWebViewKey = RVWire::kWebViewList;
    static constexpr const char* kCrashKey = RVWire::kCrashList;

    static constexpr const char* kDataFolder = RVWire::kDataFolder;
    static constexpr const char* kScreenVideoFolder = RVWire::kScreenVideoFolder;
    static constexpr const char* kCameraVideoFolder = RVWire::kCameraVideoFolder;
    static constexpr const char* kWebViewImageFolder = RVWire::kWebViewImageFolder;

    // ---- Session data documents ("RvTextFile", files in "/RVData") ------------------------

    // Writes one document (atomically, mode 0600) under a fresh "<stamp>.txt" name that no
    // file in "/RVData" has, then lists it. Returns the listed record (also when the write
    // failed: the entry is still added, as its uploader decides what to do with it).
    std::shared_ptr<RVTextFile> saveDataToTextFile(const std::string& data);
    // Lists the document once: a name already listed is not added again.
    void addTextFile(const RVTextFile& file);
    // Trims to kMaxListEntries, then the readable records, oldest first. A document found in
    // "/RVData" that no entry lists (written, then the process died before listing it) is
    // listed first, so that it is still uploaded.
    std::vector<std::shared_ptr<RVTextFile>> textFileList();
    // Removes the first entry with the same "fileName" and deletes its file.
    void removeTextFile(const RVTextFile& file);

    // ---- Screen videos ("RvScreenVideo", files in "/RVScreenVideos") ----------------------

    // Lists the entry ("appDeviceId", "videoDuration", "videoName", "videoType"), copies the
    // movie at videoPath into the folder under its "videoName", and cleans the folder (which
    // also deletes the recorder's working file). When the name is already listed or on disk,
    // the movie is stored under a fresh stamp instead; the name stored is returned. A failed
    // copy is logged and the entry stays.
    std::string addSreenVideoEntry(const Value& entry, const std::string& videoPath);
    template <class T>
    std::string addSreenVideo(const T& video, const std::string& videoPath) {
        return addSreenVideoEntry(RVStoredRecord<T>::toSaved(video), videoPath);
    }
    // Trims, then the readable entries, oldest first.
    std::vector<Value> screenVideoEntries();
    template <class T>
    std::vector<std::shared_ptr<T>> screenVideoList() {
        return recordsFrom<T>(screenVideoEntries(), kScreenVideoKey);
    }
    // Removes the first entry with this "videoName" and deletes its file.
    void removeScreenVideo(const std::string& videoName);

    // ---- Camera videos ("RvCameraVideo", files in "/RVCameraVideos") ----------------------

    // As for screen videos; the entry also has "videoOrientation". A failed copy is logged.
    std::string addCameraVideoEntry(const Value& entry, const std::string& videoPath);
    template <class T>
    std::string addCameraVideo(const T& video, const std::string& videoPath) {
        return addCameraVideoEntry(RVStoredRecord<T>::toSaved(video), videoPath);
    }
    std::vector<Value> cameraVideoEntries();
    template <class T>
    std::vector<std::shared_ptr<T>> cameraVideoList() {
        return recordsFrom<T>(cameraVideoEntries(), kCameraVideoKey);
    }
    void removeCameraVideo(const std::string& videoName);

    // ---- Web views ("RvWebView", images in "/RivloWebViewImages") -------------------------

    // Appends one entry per web view record, each with "appDeviceID" set to the current
    // application device identifier, then deletes images no entry names.
    void addWebViewEntries(const std::vector<Value>& entries);
    // dict maps registry keys to (smart) pointers to records.
    template <class Map>
    void addWebView(const Map& dict) {
        std::vector<Value> entries;
        for (const auto& item : dict) {
            if (!item.second) continue;
            using Record = std::remove_cvref_t<decltype(*item.second)>;
            entries.push_back(RVStoredRecord<Record>::toSaved(*item.second));
        }
        addWebViewEntries(entries);
    }
    std::vector<Value> webViewEntries();
    template <class T>
    std::vector<std::shared_ptr<T>> webViewList() {
        return recordsFrom<T>(webViewEntries(), kWebViewKey);
    }
    // Removes the first entry with this "key" whose grid list is empty. An entry that still
    // lists images is never removed here.
    void removeWebView(const std::string& key);
    // Removes the first grid item with this "imageName" and deletes its image.
    void removeWebViewGrid(const std::string& imageName);

    // ---- Crashes ("RvCrash") -------------------------------------------------------------

    // Appends a crash entry ({"appDeviceId", "deviceRunNo", "currentDate"}, as the crash
    // record's savedDictionary makes it) straight to the defaults (not through the queue, which
    // the crash may have stopped), keeping the newest kMaxListEntries, and flushes.
    void addCrash(const Value& entry);
    std::vector<Value> crashEntries();

    // ---- Refusals ------------------------------------------------------------------------

    // An upload the service refused with a status of 400-499 other than 408 (time-out) and 429
    // (too many requests) says the item itself is unacceptable; anything else may pass later.
    static bool isPermanentRefusal(long status);
    static constexpr int kMaxRefusals = 3;
    static constexpr long kMaxSetAside = 50;
    static constexpr const char* kRefusalsKey = "RvRefusals";
    static constexpr const char* kSetAsideKey = "RvSetAside";
    static constexpr const char* kSetAsideFolder = "/RVSetAside";

    // Notes that the service refused the item `name` of the list `listKey` (a session
    // document's "fileName", a movie's "videoName", a web tile's "imageName") with `status`.
    // Permanent refusals are counted in "RvRefusals"; at the kMaxRefusals-th the item leaves
    // its list, its file moves to "/RVSetAside" as "<listKey>_<name>", and an entry {"list",
    // "name", "status", "entry"} is added to "RvSetAside" (the newest kMaxSetAside are kept,
    // older ones are deleted with their files), with one log line. It is then no longer
    // offered to the service. Other failures change nothing. Returns true when the item was
    // moved aside. Any thread.
    bool noteRefusal(const std::string& listKey, const std::string& name, long status);
    // Entries of "RvSetAside", oldest first.
    std::vector<Value> setAsideEntries();

    // ---- Folders -------------------------------------------------------------------------

    // Deletes every file no list names in the web view image, camera video and screen video
    // folders (a folder whose list is missing is emptied), and the temporary files of document
    // writes that never finished in "/RVData" (its documents are never removed here).
    void cleanupData();

    // The path of name inside a store folder ("" when name is not a plain file name).
    static std::string pathInFolder(const std::string& folderName, const std::string& name);

  private:
    RVPlistHandler();

    // Runs the task on the queue and waits (inline when already on it).
    void runQueued(const std::function<void()>& task);

    // Queue-only helpers.
    Value storedList(const std::string& key);  // always an array
    void storeList(const std::string& key, const Value& list);
    void addObjectToKey(const Value& entry, const std::string& key);
    // Trims the list to maximum entries (running action on each dropped one) and returns
    // what remains stored (null when nothing is).
    Value clearKeyToMaxNum(const std::string& key, long maximum,
                           const std::function<void(const Value& entry)>& action);
    std::vector<Value> readableEntries(Value list, const std::string& key, const char* nameField);
    // Removes from the stored list (and the returned one) every entry that is not a dictionary
    // with a usable file name under nameField; logs how many, once.
    Value removeUnnamedEntries(Value list, const std::string& key, const char* nameField);
    std::optional<std::set<std::string>> keepList(const std::string& key, const char* nameField);
    std::optional<std::set<std::string>> webViewImageKeepList();
    void deleteFile(const std::string& name, const std::string& folderName);
    void listUnlistedDocuments();
    void removeLeftoverDocumentWrites();
    std::string addVideoEntry(const std::string& key, const std::string& folderName, Value entry,
                              const std::string& videoPath, bool logCopyFailure);
    void removeVideo(const std::string& key, const std::string& folderName,
                     const std::string& videoName);
    void cleanupDirectory(const std::string& folderName,
                          const std::optional<std::set<std::string>>& keep);
    // Queue-only: takes the item out of its list (returns its entry, null when not listed).
    Value takeListedItem(const std::string& listKey, const std::string& name);
    void setAside(const std::string& listKey, const std::string& name, long status, Value entry);

    template <class T>
    static std::vector<std::shared_ptr<T>> recordsFrom(const std::vector<Value>& entries,
                                                       const char* key) {
        std::vector<std::shared_ptr<T>> records;
        size_t unreadable = 0;
        for (const auto& entry : entries) {
            std::shared_ptr<T> record;
            try {
                record = RVStoredRecord<T>::fromSaved(entry);
            } catch (const std::exception&) {
                record = nullptr;
            }
            if (record) {
                records.push_back(std::move(record));
            } else {
                ++unreadable;
            }
        }
        if (unreadable > 0) logUnreadable(unreadable, key);
        return records;
    }
    static void logUnreadable(size_t count, const char* key);

    DispatchQueue queue_;
    std::mutex crashMutex_;  // serialises read-modify-write of the crash list
    // Documents written by saveDataToTextFile and not yet listed (any thread).
    std::mutex pendingMutex_;
    std::set<std::string> pendingDocuments_;
};

}  // namespace rivlo
