#include "StoreTestSupport.h"

#include "core/RVCrash.h"
#include "store/RVPlistHandler.h"

#include <atomic>
#include <csignal>
#include <set>
#include <thread>

#include <sys/resource.h>

using namespace rivlo;
using namespace rivlo::test;

namespace {

RVPlistHandler& store() {
    return *RVPlistHandler::sharedHandler();
}

std::vector<std::string> names(const std::vector<Value>& entries, const char* field) {
    std::vector<std::string> out;
    for (const auto& entry : entries)
        out.push_back(PropertyList::text(entry, field));
    return out;
}

Value screenEntry(const std::string& name) {
    return Value{{"appDeviceId", "device-7"},
                 {"videoDuration", "12"},
                 {"videoName", name},
                 {"videoType", "screen"}};
}

Value webViewEntry(const std::string& key, const std::vector<std::string>& images) {
    Value grids = Value::array();
    for (const auto& image : images) {
        grids.push_back({{"imageName", image}, {"rect", "{{0, 0}, {320, 500}}"}});
    }
    return Value{{"webViewName", "https://example.com/__1"},
                 {"totalRow", "3"},
                 {"totalColumn", "1"},
                 {"elementImageWidth", "320"},
                 {"elementImageHeight", "500"},
                 {"key", key},
                 {"appDeviceID", "old-device"},
                 {"achievedGridList", grids}};
}

// A record of the kind other subsystems hand to the store, rebuilt through its own
// saved-dictionary conversion.
struct SampleVideo {
    std::string videoName;
    std::string videoDuration;
    static std::shared_ptr<SampleVideo> initFromSavedDictionary(const Value& saved) {
        if (PropertyList::text(saved, "videoType") == "throw") {
            return std::make_shared<SampleVideo>(
                SampleVideo{saved.at("missing").get<std::string>(), ""});
        }
        if (PropertyList::text(saved, "videoType") != "screen") return nullptr;
        return std::make_shared<SampleVideo>(SampleVideo{
            PropertyList::text(saved, "videoName"), PropertyList::text(saved, "videoDuration")});
    }
    Value savedDictionary() const { return screenEntry(videoName); }
};

}  // namespace

class PlistHandlerTest : public StoreTest {};

// ---- Session data documents -----------------------------------------------------------------

TEST_F(PlistHandlerTest, DocumentsSavedInOneSecondGetTheirOwnFiles) {
    auto first = store().saveDataToTextFile("{\"a\": 1}");
    auto second = store().saveDataToTextFile("{\"b\": 2}");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->fileName, second->fileName);
    EXPECT_EQ(std::stoll(second->fileName), std::stoll(first->fileName) + 1);
    EXPECT_EQ(readFile(folder("/RVData") / first->fileName), "{\"a\": 1}");
    EXPECT_EQ(readFile(folder("/RVData") / second->fileName), "{\"b\": 2}");
    EXPECT_EQ(first->appDeviceID, "device-7");

    auto list = store().textFileList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->fileName, first->fileName);
    EXPECT_EQ(list[1]->fileName, second->fileName);
    EXPECT_EQ(list[1]->appDeviceID, "device-7");
    EXPECT_EQ(list[0]->description(),
              "Text File Name:" + first->fileName + ", App Device ID:device-7");

    // Private to the user.
    EXPECT_EQ(permissions(folder("/RVData")), 0700u);
    EXPECT_EQ(permissions(folder("/RVData") / first->fileName), 0600u);
    EXPECT_EQ(permissions(RVUtil::cachesDirectory()), 0700u);
}

TEST_F(PlistHandlerTest, DocumentNeverTakesTheNameOfAFileFromAnEarlierRun) {
    // Files left by an earlier launch (or written before the clock went back) under the next
    // stamps, and a listed document whose file is missing.
    const long long stamp = std::stoll(RVUtil::dateForFile());
    std::set<std::string> planted;
    for (long long s = stamp + 1; s <= stamp + 4; ++s) {
        planted.insert(std::to_string(s) + ".txt");
        writeFile(folder("/RVData") / (std::to_string(s) + ".txt"), "old document");
    }
    const std::string listedOnly = std::to_string(stamp + 5) + ".txt";
    store().addTextFile(RVTextFile(listedOnly, "device-1"));

    auto saved = store().saveDataToTextFile("{\"new\": true}");
    ASSERT_TRUE(saved);
    EXPECT_EQ(planted.count(saved->fileName), 0u);
    EXPECT_NE(saved->fileName, listedOnly);
    EXPECT_GT(std::stoll(saved->fileName), stamp + 5);
    EXPECT_EQ(readFile(folder("/RVData") / saved->fileName), "{\"new\": true}");
    for (const auto& name : planted)
        EXPECT_EQ(readFile(folder("/RVData") / name), "old document");
}

TEST_F(PlistHandlerTest, ReadingA503EntryListKeeps500AndDeletesTheOldestFiles) {
    Value list = Value::array();
    for (int i = 0; i < 503; ++i) {
        const std::string name = "doc" + std::to_string(i) + ".txt";
        list.push_back({{"fileName", name}, {"appDeviceId", "d"}});
        writeFile(folder("/RVData") / name, "x");
    }
    UserDefaults::standard().set("RvTextFile", list);

    auto records = store().textFileList();
    ASSERT_EQ(records.size(), 500u);
    EXPECT_EQ(records.front()->fileName, "doc3.txt");
    EXPECT_EQ(records.back()->fileName, "doc502.txt");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(fs::exists(folder("/RVData") / ("doc" + std::to_string(i) + ".txt"))) << i;
    }
    EXPECT_TRUE(fs::exists(folder("/RVData") / "doc3.txt"));
    EXPECT_EQ(defaultsOnDisk()["RvTextFile"].size(), 500u);

    // A second read finds nothing more to trim.
    EXPECT_EQ(store().textFileList().size(), 500u);
    EXPECT_TRUE(fs::exists(folder("/RVData") / "doc3.txt"));
}

TEST_F(PlistHandlerTest, RemovingTextFilesDeletesTheirFilesAndTheEmptiedKey) {
    auto first = store().saveDataToTextFile("1");
    auto second = store().saveDataToTextFile("2");

    store().removeTextFile(RVTextFile("no-such.txt", ""));
    EXPECT_EQ(store().textFileList().size(), 2u);

    store().removeTextFile(*first);
    EXPECT_FALSE(fs::exists(folder("/RVData") / first->fileName));
    EXPECT_TRUE(fs::exists(folder("/RVData") / second->fileName));
    ASSERT_EQ(store().textFileList().size(), 1u);

    store().removeTextFile(*second);
    EXPECT_FALSE(fs::exists(folder("/RVData") / second->fileName));
    EXPECT_TRUE(store().textFileList().empty());
    const Value onDisk = defaultsOnDisk();
    ASSERT_TRUE(onDisk.is_object());
    EXPECT_FALSE(onDisk.contains("RvTextFile"));
}

TEST_F(PlistHandlerTest, ADocumentLeftUnlistedIsListedOnceForUpload) {
    // Written by a session that died before listing it (a crash on the store's queue).
    auto listedDoc = store().saveDataToTextFile("listed");
    const std::string orphan = std::to_string(std::stoll(RVUtil::dateForFile()) + 10) + ".txt";
    writeFile(folder("/RVData") / orphan, "orphan");
    writeFile(folder("/RVData") / "notes.txt", "not a document name");

    auto list = store().textFileList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->fileName, listedDoc->fileName);
    EXPECT_EQ(list[1]->fileName, orphan);
    EXPECT_EQ(
        logLinesContaining("Rivlo: Plist: listed 1 session document found unlisted in /RVData"),
        1u);
    EXPECT_EQ(store().textFileList().size(), 2u);

    // Listing a document twice would upload it twice.
    store().addTextFile(*listedDoc);
    EXPECT_EQ(store().textFileList().size(), 2u);
}

// ---- Videos ---------------------------------------------------------------------------------

TEST_F(PlistHandlerTest, AddingAScreenVideoCopiesItAndCleansTheFolder) {
    const fs::path working = folder("/RVScreenVideos") / "UserActivity.mov";
    writeFile(working, "movie bytes");
    writeFile(folder("/RVScreenVideos") / "stray.mp4", "left over");

    SampleVideo video{"VENDOR_100.mp4", "12"};
    EXPECT_EQ(store().addSreenVideo(video, working.string()), "VENDOR_100.mp4");

    const fs::path copy = folder("/RVScreenVideos") / "VENDOR_100.mp4";
    EXPECT_EQ(readFile(copy), "movie bytes");
    EXPECT_EQ(permissions(copy), 0600u);
    EXPECT_FALSE(fs::exists(working));  // the recorder's working file goes with the clean-up
    EXPECT_FALSE(fs::exists(folder("/RVScreenVideos") / "stray.mp4"));

    auto list = store().screenVideoList<SampleVideo>();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->videoName, "VENDOR_100.mp4");
    EXPECT_EQ(list[0]->videoDuration, "12");
    EXPECT_EQ(defaultsOnDisk()["RvScreenVideo"][0], screenEntry("VENDOR_100.mp4"));

    store().removeScreenVideo("VENDOR_100.mp4");
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_FALSE(defaultsOnDisk().contains("RvScreenVideo"));
}

TEST_F(PlistHandlerTest, AFailedVideoCopyKeepsItsEntry) {
    const std::string missing = (root_ / "gone.mov").string();
    EXPECT_EQ(store().addSreenVideoEntry(screenEntry("V_1.mp4"), missing), "V_1.mp4");
    EXPECT_EQ(logLinesContaining("Rivlo:Plist:addScreenVideo: Error copying file: "), 1u);
    EXPECT_EQ(logLinesContaining("(from " + missing + " to "), 1u);
    EXPECT_EQ(names(store().screenVideoEntries(), "videoName"),
              std::vector<std::string>{"V_1.mp4"});

    Value camera = screenEntry("C_1.mp4");
    camera["videoType"] = "camera";
    camera["videoOrientation"] = 2;
    store().addCameraVideoEntry(camera, missing);
    auto cameras = store().cameraVideoEntries();
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0]["videoOrientation"], 2);
    EXPECT_EQ(logLinesContaining("Rivlo:Plist:addCameraVideo: Error copying file: "), 1u);
}

TEST_F(PlistHandlerTest, AFullDiskKeepsTheRecordersMovie) {
    // The recorder's working movie, larger than the file size the process may now write: any
    // copy of it fails as on a full disk.
    const fs::path working = folder("/RVCameraVideos") / "FrontCamera.mov";
    std::string movie(256 * 1024, '\0');
    for (size_t i = 0; i < movie.size(); ++i)
        movie[i] = static_cast<char>((i * 31) & 0xff);
    writeFile(working, movie);
    struct rlimit previous {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    Value camera = screenEntry("C_7.mp4");
    camera["videoType"] = "camera";
    const std::string stored = store().addCameraVideoEntry(camera, working.string());
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    // The movie is in the store under its listed name, whole.
    ASSERT_EQ(stored, "C_7.mp4");
    EXPECT_TRUE(readFile(folder("/RVCameraVideos") / stored) == movie);
    EXPECT_EQ(permissions(folder("/RVCameraVideos") / stored), 0600u);
    EXPECT_EQ(names(store().cameraVideoEntries(), "videoName"), std::vector<std::string>{stored});
}

TEST_F(PlistHandlerTest, AVideoNameAlreadyInUseGetsAFreshStamp) {
    const fs::path source = root_ / "movie.mov";
    writeFile(source, "first");
    const long long stamp = std::stoll(RVUtil::dateForFile());
    const std::string name = "VENDOR_" + std::to_string(stamp) + ".mp4";
    ASSERT_EQ(store().addSreenVideoEntry(screenEntry(name), source.string()), name);

    // The same name again (stamps restart with each launch): the first movie must survive.
    writeFile(source, "second");
    // And a file planted under the next stamp.
    writeFile(folder("/RVScreenVideos") / ("VENDOR_" + std::to_string(stamp + 1) + ".mp4"), "x");
    const std::string renamed = store().addSreenVideoEntry(screenEntry(name), source.string());
    EXPECT_NE(renamed, name);
    EXPECT_NE(renamed, "VENDOR_" + std::to_string(stamp + 1) + ".mp4");
    EXPECT_EQ(renamed.rfind("VENDOR_", 0), 0u);
    EXPECT_EQ(renamed.substr(renamed.size() - 4), ".mp4");
    EXPECT_EQ(readFile(folder("/RVScreenVideos") / name), "first");
    EXPECT_EQ(readFile(folder("/RVScreenVideos") / renamed), "second");
    EXPECT_EQ(names(store().screenVideoEntries(), "videoName"),
              (std::vector<std::string>{name, renamed}));

    // Removing one leaves the other's movie.
    store().removeScreenVideo(name);
    EXPECT_EQ(readFile(folder("/RVScreenVideos") / renamed), "second");
}

TEST_F(PlistHandlerTest, TrimmingTheVideoListsDeletesTheOldestMovies) {
    Value list = Value::array();
    for (int i = 0; i < 502; ++i) {
        const std::string name = "C_" + std::to_string(i) + ".mp4";
        list.push_back({{"videoName", name}, {"videoType", "camera"}, {"videoOrientation", 1}});
        writeFile(folder("/RVCameraVideos") / name, "m");
    }
    UserDefaults::standard().set("RvCameraVideo", list);
    auto entries = store().cameraVideoEntries();
    ASSERT_EQ(entries.size(), 500u);
    EXPECT_EQ(PropertyList::text(entries.front(), "videoName"), "C_2.mp4");
    EXPECT_FALSE(fs::exists(folder("/RVCameraVideos") / "C_0.mp4"));
    EXPECT_FALSE(fs::exists(folder("/RVCameraVideos") / "C_1.mp4"));
    EXPECT_TRUE(fs::exists(folder("/RVCameraVideos") / "C_2.mp4"));
}

// ---- Clean-up -------------------------------------------------------------------------------

TEST_F(PlistHandlerTest, CleanupKeepsOnlyListedFiles) {
    writeFile(folder("/RVScreenVideos") / "a.mp4", "a");
    writeFile(folder("/RVScreenVideos") / "b.mp4", "b");
    writeFile(folder("/RVScreenVideos") / "sub" / "c.mp4", "c");
    writeFile(folder("/RVCameraVideos") / "kept.mp4", "k");
    writeFile(folder("/RVCameraVideos") / "dropped.mp4", "d");
    writeFile(folder("/RivloWebViewImages") / "1.jpeg", "j");
    writeFile(folder("/RivloWebViewImages") / "2.jpeg", "j");
    writeFile(folder("/RVData") / "unlisted.txt", "document");
    writeFile(folder("/RVData") / "1700000000.txt.tmp", "half a document");  // write cut short
    UserDefaults::standard().set("RvCameraVideo", Value::array({{{"videoName", "kept.mp4"}}}));
    UserDefaults::standard().set("RvWebView", Value::array({webViewEntry("k1", {"2.jpeg"})}));

    store().cleanupData();

    // No screen video list: the folder is emptied.
    EXPECT_TRUE(fs::exists(folder("/RVScreenVideos")));
    EXPECT_TRUE(fs::is_empty(folder("/RVScreenVideos")));
    EXPECT_TRUE(fs::exists(folder("/RVCameraVideos") / "kept.mp4"));
    EXPECT_FALSE(fs::exists(folder("/RVCameraVideos") / "dropped.mp4"));
    EXPECT_FALSE(fs::exists(folder("/RivloWebViewImages") / "1.jpeg"));
    EXPECT_TRUE(fs::exists(folder("/RivloWebViewImages") / "2.jpeg"));
    EXPECT_TRUE(fs::exists(folder("/RVData") / "unlisted.txt"));  // documents never cleaned
    EXPECT_FALSE(fs::exists(folder("/RVData") / "1700000000.txt.tmp"));
}

// ---- Web views ------------------------------------------------------------------------------

TEST_F(PlistHandlerTest, WebViewEntriesAreRemovedOnlyOnceTheirTilesAreGone) {
    writeFile(folder("/RivloWebViewImages") / "10.jpeg", "t");
    writeFile(folder("/RivloWebViewImages") / "11.jpeg", "t");
    writeFile(folder("/RivloWebViewImages") / "99.jpeg", "unlisted");
    RVUtil::appDeviceId("device-now");
    store().addWebViewEntries({webViewEntry("k1", {"10.jpeg", "11.jpeg"}), webViewEntry("k2", {})});

    auto entries = store().webViewEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["appDeviceID"], "device-now");
    EXPECT_EQ(entries[0]["totalRow"], "3");
    EXPECT_EQ(entries[0]["achievedGridList"].size(), 2u);
    EXPECT_EQ(entries[0]["achievedGridList"][1]["rect"], "{{0, 0}, {320, 500}}");
    EXPECT_FALSE(fs::exists(folder("/RivloWebViewImages") / "99.jpeg"));

    // Still lists tiles: never removed.
    store().removeWebView("k1");
    EXPECT_EQ(store().webViewEntries().size(), 2u);

    store().removeWebViewGrid("11.jpeg");
    EXPECT_FALSE(fs::exists(folder("/RivloWebViewImages") / "11.jpeg"));
    EXPECT_TRUE(fs::exists(folder("/RivloWebViewImages") / "10.jpeg"));
    entries = store().webViewEntries();
    ASSERT_EQ(entries[0]["achievedGridList"].size(), 1u);
    EXPECT_EQ(entries[0]["achievedGridList"][0]["imageName"], "10.jpeg");

    store().removeWebViewGrid("10.jpeg");
    entries = store().webViewEntries();
    EXPECT_TRUE(entries[0]["achievedGridList"].is_array());
    EXPECT_TRUE(entries[0]["achievedGridList"].empty());

    store().removeWebView("k1");
    store().removeWebView("k2");
    EXPECT_TRUE(store().webViewEntries().empty());
    EXPECT_FALSE(defaultsOnDisk().contains("RvWebView"));
}

TEST_F(PlistHandlerTest, TrimmingTheWebViewListDeletesEveryTileOfTheOldest) {
    Value list = Value::array();
    for (int i = 0; i < 501; ++i) {
        const std::string a = std::to_string(i) + "a.jpeg", b = std::to_string(i) + "b.jpeg";
        list.push_back(webViewEntry("k" + std::to_string(i), {a, b}));
        if (i < 2) {
            writeFile(folder("/RivloWebViewImages") / a, "t");
            writeFile(folder("/RivloWebViewImages") / b, "t");
        }
    }
    UserDefaults::standard().set("RvWebView", list);
    EXPECT_EQ(store().webViewEntries().size(), 500u);
    EXPECT_FALSE(fs::exists(folder("/RivloWebViewImages") / "0a.jpeg"));
    EXPECT_FALSE(fs::exists(folder("/RivloWebViewImages") / "0b.jpeg"));
    EXPECT_TRUE(fs::exists(folder("/RivloWebViewImages") / "1a.jpeg"));
}

// ---- Corrupt or hand-edited lists -----------------------------------------------------------

TEST_F(PlistHandlerTest, UnreadableEntriesAreSkippedAndKept) {
    writeFile(root_ / "outside.txt", "must survive");
    writeFile(folder("/RVData") / "good.txt", "g");
    Value list = Value::array({
        "not a dictionary",
        {{"fileName", 42}},
        {{"fileName", "../../outside.txt"}},
        {{"fileName", "good.txt"}, {"appDeviceId", "d"}},
        {{"appDeviceId", "no name"}},
    });
    UserDefaults::standard().set("RvTextFile", list);

    auto records = store().textFileList();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->fileName, "good.txt");
    EXPECT_EQ(logLinesContaining("Rivlo: Plist: skipped 4 unreadable entries of RvTextFile"), 1u);
    EXPECT_EQ(UserDefaults::standard().object("RvTextFile").size(), 5u);

    // Neither removal nor trimming reaches outside the store.
    store().removeTextFile(RVTextFile("../../outside.txt", ""));
    Value many = UserDefaults::standard().object("RvTextFile");
    for (int i = 0; i < 500; ++i)
        many.push_back({{"fileName", "n" + std::to_string(i)}});
    UserDefaults::standard().set("RvTextFile", many);
    EXPECT_EQ(store().textFileList().size(), 500u);
    EXPECT_EQ(readFile(root_ / "outside.txt"), "must survive");
    EXPECT_FALSE(fs::exists(folder("/RVData") / "good.txt"));  // trimmed with its entry

    // Records whose own conversion refuses or throws are skipped too.
    UserDefaults::standard().set("RvScreenVideo",
                                 Value::array({screenEntry("ok.mp4"),
                                               {{"videoName", "x.mp4"}, {"videoType", "throw"}},
                                               {{"videoName", "y.mp4"}, {"videoType", "other"}}}));
    auto videos = store().screenVideoList<SampleVideo>();
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(videos[0]->videoName, "ok.mp4");
    EXPECT_EQ(logLinesContaining("skipped 2 unreadable entries of RvScreenVideo"), 1u);
}

TEST_F(PlistHandlerTest, MovieEntriesWithoutAUsableNameAreRemovedOnce) {
    writeFile(root_ / "outside.mov", "must survive");
    writeFile(folder("/RVScreenVideos") / "ok.mp4", "movie");
    const Value unusable = Value::array({
        "not a dictionary",
        {{"videoName", 42}},
        {{"videoName", "../../outside.mov"}},
        {{"videoName", ""}},
        {{"appDeviceId", "no name"}},
    });
    Value screen = unusable;
    screen.push_back(screenEntry("ok.mp4"));
    UserDefaults::standard().set("RvScreenVideo", screen);
    UserDefaults::standard().set("RvCameraVideo", unusable);

    // The first pass removes them from the stored lists, with one line per list.
    EXPECT_EQ(names(store().screenVideoEntries(), "videoName"), std::vector<std::string>{"ok.mp4"});
    EXPECT_TRUE(store().cameraVideoEntries().empty());
    EXPECT_EQ(logLinesContaining("removed 5 entries of RvScreenVideo without a usable videoName"),
              1u);
    EXPECT_EQ(logLinesContaining("removed 5 entries of RvCameraVideo without a usable videoName"),
              1u);
    EXPECT_EQ(UserDefaults::standard().object("RvScreenVideo"),
              Value::array({screenEntry("ok.mp4")}));
    EXPECT_TRUE(UserDefaults::standard().object("RvCameraVideo").is_null());  // emptied: gone

    // Later passes find nothing to say; the movie that has a name and the file outside stay.
    EXPECT_EQ(store().screenVideoEntries().size(), 1u);
    EXPECT_TRUE(store().cameraVideoEntries().empty());
    EXPECT_EQ(logLinesContaining("RvScreenVideo"), 1u);
    EXPECT_EQ(logLinesContaining("RvCameraVideo"), 1u);
    EXPECT_EQ(readFile(folder("/RVScreenVideos") / "ok.mp4"), "movie");
    EXPECT_EQ(readFile(root_ / "outside.mov"), "must survive");
}

TEST_F(PlistHandlerTest, AListOfTheWrongTypeIsIgnoredThenReplaced) {
    UserDefaults::standard().set("RvScreenVideo", "garbage");
    UserDefaults::standard().set("RvWebView", Value{{"not", "a list"}});
    EXPECT_TRUE(store().screenVideoEntries().empty());
    EXPECT_TRUE(store().webViewEntries().empty());
    EXPECT_EQ(logLinesContaining("the stored RvScreenVideo is not a list"), 1u);

    writeFile(root_ / "m.mov", "m");
    store().addSreenVideoEntry(screenEntry("A_1.mp4"), (root_ / "m.mov").string());
    EXPECT_EQ(names(store().screenVideoEntries(), "videoName"),
              std::vector<std::string>{"A_1.mp4"});

    // Web view grids with unusable image names are held back, the rest handed out.
    Value entry = webViewEntry("k", {"ok.jpeg", "../x.jpeg"});
    entry["achievedGridList"].push_back(7);
    UserDefaults::standard().set("RvWebView", Value::array({entry, 3}));
    auto entries = store().webViewEntries();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0]["achievedGridList"].size(), 1u);
    EXPECT_EQ(entries[0]["achievedGridList"][0]["imageName"], "ok.jpeg");
}

// ---- Crashes --------------------------------------------------------------------------------

TEST_F(PlistHandlerTest, TheCrashListKeepsTheNewest500) {
    RVUtil::sharedHandler()->setCount(41);
    RVCrash crash;
    EXPECT_EQ(crash.deviceRunNo, "41");
    EXPECT_EQ(crash.appDeviceId, "device-7");
    EXPECT_TRUE(crash.isCrashed);
    EXPECT_EQ(crash.description(),
              "DeviceRunNO:41, AppDevieceId:device-7, isCrashed:1, Date:" + crash.currentDate);

    Value list = Value::array();
    for (int i = 0; i < 500; ++i) {
        list.push_back(
            {{"appDeviceId", "d"}, {"deviceRunNo", std::to_string(i)}, {"currentDate", "x"}});
    }
    UserDefaults::standard().set("RvCrash", list);
    store().addCrash(crash.savedDictionary());

    const Value onDisk = defaultsOnDisk()["RvCrash"];
    ASSERT_EQ(onDisk.size(), 500u);
    EXPECT_EQ(onDisk[0]["deviceRunNo"], "1");
    EXPECT_EQ(onDisk[499], crash.savedDictionary());
    auto rebuilt = RVCrash::initFromSavedDictionary(onDisk[499]);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->description(), crash.description());
    EXPECT_FALSE(RVCrash::initFromSavedDictionary(Value("text")));
}

// ---- Threads --------------------------------------------------------------------------------

TEST_F(PlistHandlerTest, ConcurrentChangesLoseNothing) {
    constexpr int kThreads = 4, kEach = 15;
    std::vector<std::thread> threads;
    std::atomic<int> crashes{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &crashes] {
            for (int i = 0; i < kEach; ++i) {
                store().addTextFile(
                    RVTextFile("t" + std::to_string(t) + "-" + std::to_string(i), ""));
                store().addCrash(RVCrash().savedDictionary());
                ++crashes;
                store().textFileList();
                store().cleanupData();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(store().textFileList().size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(store().crashEntries().size(), static_cast<size_t>(crashes.load()));
    EXPECT_EQ(defaultsOnDisk()["RvTextFile"].size(), static_cast<size_t>(kThreads * kEach));
}
