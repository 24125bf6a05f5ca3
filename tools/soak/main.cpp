// rivlo-soak: a host application for the reliability scripts. It runs on the headless device
// with the Linux movie writer, like the demo, and reports in plain lines the scripts can read.
//
//   rivlo-soak sessions SANDBOX KEY N SECONDS [--request-timeout T]
//       N sessions against RIVLO_SERVICE_URL, each recording SECONDS, then stopped and
//       uploaded; waits for each session's uploads to end. Prints "verified V of N" and what
//       the store still holds ("pending documents D screen S", "set aside A"). With
//       --request-timeout every request of the library times out after T seconds (instead of
//       60, or 120 for uploads), so a service slower than that is met in a short run.
//   rivlo-soak churn SANDBOX JOURNAL
//       Records a session (verified by a collector inside this process) while a second thread
//       changes the store for ever: documents and screen movies added, items removed, lists
//       read and folders cleaned. Each change is written to JOURNAL once it returned
//       ("doc NAME", "screen NAME", "del? NAME" before a removal, "del NAME" after it). Meant
//       to be killed.
//   rivlo-soak check SANDBOX JOURNAL
//       The next start after a kill: the defaults file must parse; then, as the library does
//       when the application comes back, the folders are cleaned and the lists read. Every
//       listed file must exist, no unlisted file may stay, and every journalled item not
//       removed must still be listed. Prints "check ok ..." or the problems, exit 1.
//   rivlo-soak record SANDBOX MINUTES
//       One session of MINUTES at two frames per second against a collector inside this
//       process; prints "sample SECONDS rss_kib N fds N" every 10 seconds, then stops, uploads
//       and prints "movie SECONDS frames N" for the movie the collector received.
//   rivlo-soak fill SANDBOX COLLECTORDIR
//       The store on a small file system (SANDBOX): items stored, the disk filled up while
//       recording and storing go on, then space freed. Prints the log lines of the full
//       period, whether the defaults file parses, what was kept and what was stored after.
//   rivlo-soak collected DATADIR
//       What a collector's index holds: "stored KIND N" and "duplicates N".

#include "CollectorIndex.h"
#include "CollectorServer.h"
#include "all/RivloRecorders.h"
#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/Log.h"
#include "foundation/Operation.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "foundation/Value.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFURLConnectionOperation.h"
#include "movieprobe/MovieProbe.h"
#include "platform/Label.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "store/RVPlistHandler.h"
#include "store/RVStoreFiles.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <random>
#include <set>
#include <thread>
#include <unistd.h>

using namespace rivlo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<HeadlessPlatform> installPlatform(const std::string& sandbox) {
    HeadlessProfile profile;
    profile.sandboxDirectory = sandbox;
    auto platform = HeadlessPlatform::install(profile);
    RVUtil::setApplicationCachesDirectory(platform->device().cachesDirectory());
    UserDefaults::setStandardDirectory(platform->device().defaultsDirectory());
    FfmpegMovieWriterFactory::installDefaults();
    RivloRecorders::registerAll();  // what the library's start registers
    return platform;
}

std::shared_ptr<Window> showWindow(HeadlessPlatform& platform) {
    const Rect bounds = platform.device().screenBounds();
    auto window = std::make_shared<Window>(bounds);
    auto home = std::make_shared<ViewController>(
        ObjClass::define("SoakViewController", ViewController::classObject()));
    auto title = std::make_shared<Label>(Rect(20, 120, bounds.width() - 40, 40));
    title->setText("Soak");
    home->view()->addSubview(title);
    window->setRootViewController(home);
    window->makeKeyAndVisible();
    return window;
}

// A collector inside this process (no faults), for the modes that need a verified session.
std::unique_ptr<collector::CollectorServer> startCollector(const std::string& dataDir,
                                                           const std::string& key) {
    collector::CollectorConfig config;
    config.dataDir = dataDir;
    config.threads = 2;
    collector::CollectorApp app;
    app.key = key;
    app.name = "Soak";
    config.apps.push_back(app);
    config.logSink = [](const std::string&) {};
    auto server = std::make_unique<collector::CollectorServer>(config);
    std::string error;
    if (!server->start(error)) {
        std::fprintf(stderr, "rivlo-soak: the collector did not start: %s\n", error.c_str());
        std::exit(2);
    }
    ::setenv("RIVLO_SERVICE_URL", server->url().c_str(), 1);
    return server;
}

size_t requestsInFlight() {
    RivloHandler* rivlo = RivloHandler::rivlo();
    auto client = rivlo ? rivlo->httpClient() : nullptr;
    return client ? client->operationQueue()->operationCount() : 0;
}

// Waits until the session has stopped, posted and its requests are over, then lets the main
// queue deliver their last callbacks (which remove uploaded items and count refusals).
bool settle(std::chrono::seconds limit) {
    const bool settled = RunLoop::main().runUntil(
        [] {
            return !RVFacade::isRecording() && !RivloHandler::isSessionStarted() &&
                   requestsInFlight() == 0;
        },
        limit);
    RunLoop::main().runUntil([] { return false; }, 500ms);
    return settled;
}

int sessions(const std::string& sandbox, const std::string& key, int count, double seconds) {
    auto platform = installPlatform(sandbox);
    auto window = showWindow(*platform);
    int verified = 0;
    for (int i = 0; i < count; ++i) {
        if (i == 0) {
            RVFacade::startApplicationWithKey(key);
        } else {
            RVFacade::restartSession();
        }
        const bool ok = RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 20s);
        verified += ok ? 1 : 0;
        RunLoop::main().runUntil([] { return false; }, std::chrono::duration<double>(seconds));
        RVFacade::addTag("soak " + std::to_string(i));
        RVFacade::stopApplicationAndUploadData();
        const bool settled = settle(200s);
        auto* store = RVPlistHandler::sharedHandler();
        std::printf("session %d: %s, %s, pending documents %zu screen %zu\n", i + 1,
                    ok ? "verified" : "not verified", settled ? "settled" : "NOT SETTLED",
                    store->textFileList().size(), store->screenVideoEntries().size());
        std::fflush(stdout);
    }
    auto* store = RVPlistHandler::sharedHandler();
    std::printf("verified %d of %d\n", verified, count);
    std::printf("pending documents %zu screen %zu\n", store->textFileList().size(),
                store->screenVideoEntries().size());
    const auto aside = store->setAsideEntries();
    std::printf("set aside %zu\n", aside.size());
    for (const auto& entry : aside)
        std::printf("aside %s %s\n", PropertyList::text(entry, "list").c_str(),
                    PropertyList::text(entry, "name").c_str());
    return 0;
}

// ---- kill -9 ------------------------------------------------------------------------------

class Journal {
  public:
    explicit Journal(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)) {}
    // One line per write(2): a kill leaves whole lines (the kernel keeps what was written).
    void line(const std::string& text) {
        const std::string l = text + "\n";
        if (::write(fd_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) std::abort();
    }

  private:
    int fd_;
};

[[noreturn]] void churn(const std::string& sandbox, const std::string& journalPath) {
    auto platform = installPlatform(sandbox);
    auto window = showWindow(*platform);
    std::thread changer([sandbox, journalPath] {
        Journal journal(journalPath);
        auto* store = RVPlistHandler::sharedHandler();
        std::mt19937 random(static_cast<unsigned>(::getpid()));
        const std::string movie = sandbox + "/movie.mp4";
        { std::ofstream(movie, std::ios::binary) << std::string(64 * 1024, 'm'); }
        // Items of earlier runs stay listed; the oldest go first so that what all runs leave
        // stays well below the lists' limit too (the lists keep only their newest entries, so
        // the library's own trimming would otherwise drop journalled items).
        constexpr size_t kCarriedOver = 150;
        const auto docs = store->textFileList();
        for (size_t i = 0; i + kCarriedOver < docs.size(); ++i) {
            journal.line("del? " + docs[i]->fileName);
            store->removeTextFile(RVTextFile(docs[i]->fileName, ""));
            journal.line("del " + docs[i]->fileName);
        }
        const auto screens = store->screenVideoEntries();
        for (size_t i = 0; i + kCarriedOver < screens.size(); ++i) {
            const std::string name = PropertyList::text(screens[i], "videoName");
            journal.line("del? " + name);
            store->removeScreenVideo(name);
            journal.line("del " + name);
        }
        std::vector<std::pair<std::string, std::string>> items;  // kind, name
        for (unsigned step = 0;; ++step) {
            const unsigned pick = random() % 10;
            if (pick < 3) {
                auto doc = store->saveDataToTextFile("{\"step\": " + std::to_string(step) + "}");
                journal.line("doc " + doc->fileName);
                items.emplace_back("doc", doc->fileName);
            } else if (pick < 5) {
                const Value entry{{"appDeviceId", "soak"},
                                  {"videoDuration", "1"},
                                  {"videoName", "SOAK_" + RVUtil::dateForFile() + ".mp4"},
                                  {"videoType", "screen"}};
                const std::string name = store->addSreenVideoEntry(entry, movie);
                journal.line("screen " + name);
                items.emplace_back("screen", name);
            } else if (pick < 8 && !items.empty()) {
                const size_t at = random() % items.size();
                const auto [kind, name] = items[at];
                journal.line("del? " + name);
                if (kind == "doc") {
                    store->removeTextFile(RVTextFile(name, ""));
                } else {
                    store->removeScreenVideo(name);
                }
                journal.line("del " + name);
                items.erase(items.begin() + static_cast<long>(at));
            } else if (pick == 8) {
                store->cleanupData();
            } else {
                store->textFileList();
                store->screenVideoEntries();
                UserDefaults::standard().set("RivloFramework.runNo", static_cast<int64_t>(step));
                UserDefaults::standard().synchronize();
            }
            // Kept well below the lists' limit, so trimming never drops a journalled item.
            while (items.size() > 60) {
                const auto [kind, name] = items.front();
                journal.line("del? " + name);
                if (kind == "doc") {
                    store->removeTextFile(RVTextFile(name, ""));
                } else {
                    store->removeScreenVideo(name);
                }
                journal.line("del " + name);
                items.erase(items.begin());
            }
        }
    });
    auto server = startCollector(sandbox + "/collector", "soak-key");
    RVFacade::startApplicationWithKey("soak-key");
    // The main thread keeps the session recording (frames, the movie's working file) until
    // the kill; now and then the session is stopped (its movie and document go into the store)
    // and a new one begins.
    for (;;) {
        RunLoop::main().runUntil([] { return false; }, 3s);
        std::thread([] { RivloHandler::stop(); }).join();
        RVFacade::restartSession();
    }
}

std::set<std::string> filesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& name : RVStoreFiles::regularFileNames(folder))
        names.insert(name);
    return names;
}

int check(const std::string& sandbox, const std::string& journalPath) {
    std::vector<std::string> problems;
    // 1. The defaults file parses (before the library touches it).
    auto platform = installPlatform(sandbox);
    const std::string defaultsPath = UserDefaults::standard().filePath();
    {
        std::ifstream in(defaultsPath, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        if (in && !bytes.empty()) {
            const auto parsed = PropertyList::read(bytes);
            if (!parsed || !parsed->is_object())
                problems.push_back("the defaults file does not parse (" +
                                   std::to_string(bytes.size()) + " bytes)");
        }
    }
    // 2. The next start: folders cleaned, lists read.
    auto* store = RVPlistHandler::sharedHandler();
    store->cleanupData();
    std::set<std::string> listed;
    std::set<std::string> listedDocs, listedMovies;
    for (const auto& doc : store->textFileList())
        listedDocs.insert(doc->fileName);
    for (const auto& entry : store->screenVideoEntries())
        listedMovies.insert(PropertyList::text(entry, "videoName"));
    const auto docs = filesIn(RVUtil::folderPath(RVPlistHandler::kDataFolder));
    const auto movies = filesIn(RVUtil::folderPath(RVPlistHandler::kScreenVideoFolder));
    for (const auto& name : listedDocs)
        if (!docs.count(name)) problems.push_back("listed document " + name + " has no file");
    for (const auto& name : listedMovies)
        if (!movies.count(name)) problems.push_back("listed movie " + name + " has no file");
    for (const auto& name : docs)
        if (!listedDocs.count(name)) problems.push_back("unlisted document file " + name);
    for (const auto& name : movies)
        if (!listedMovies.count(name)) problems.push_back("unlisted movie file " + name);
    // 3. Nothing journalled is lost.
    std::map<std::string, bool> mustExist;  // name -> must still be listed
    std::ifstream journal(journalPath);
    std::string kind, name;
    size_t added = 0;
    while (journal >> kind >> name) {
        if (kind == "doc" || kind == "screen") {
            mustExist[name] = true;
            ++added;
        } else if (kind == "del?" || kind == "del") {
            mustExist[name] = false;
        }
    }
    size_t kept = 0;
    for (const auto& [item, must] : mustExist) {
        if (!must) continue;
        ++kept;
        if (!listedDocs.count(item) && !listedMovies.count(item))
            problems.push_back("journalled item " + item + " is lost");
    }
    for (const auto& problem : problems)
        std::printf("problem: %s\n", problem.c_str());
    std::printf("check %s: journalled %zu added, %zu expected, listed %zu documents %zu movies\n",
                problems.empty() ? "ok" : "FAILED", added, kept, listedDocs.size(),
                listedMovies.size());
    return problems.empty() ? 0 : 1;
}

// ---- long session -------------------------------------------------------------------------

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

long openDescriptors() {
    long n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n - 1;  // the iterator's own
}

int record(const std::string& sandbox, double minutes) {
    auto platform = installPlatform(sandbox);
    auto window = showWindow(*platform);
    auto server = startCollector(sandbox + "/collector", "soak-key");
    RVFacade::startApplicationWithKey("soak-key");
    if (!RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 20s)) {
        std::printf("not verified\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(minutes * 60);
    while (std::chrono::steady_clock::now() < end) {
        RunLoop::main().runUntil([] { return false; }, 10s);
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("sample %.0f rss_kib %ld fds %ld\n", t, residentKiB(), openDescriptors());
        std::fflush(stdout);
    }
    RVFacade::stopApplicationAndUploadData();
    settle(600s);
    collector::CollectorIndex index;
    std::string error;
    if (!index.open(sandbox + "/collector/collector.sqlite", true, error)) {
        std::printf("index: %s\n", error.c_str());
        return 1;
    }
    int movies = 0;
    for (const auto& upload : index.uploads()) {
        if (upload.kind != "screen") continue;
        const auto probe = media::MovieProbe::open(sandbox + "/collector/" + upload.path, true);
        std::printf("movie %.2f frames %zu (%s)\n", probe.duration, probe.frames.size(),
                    upload.fileName.c_str());
        ++movies;
    }
    return movies == 1 ? 0 : 1;
}

// ---- full disk ----------------------------------------------------------------------------

// The store on a small file system (SANDBOX is expected to be one): items stored while there is
// space, then the disk filled up (a filler file) while recording and storing go on, then the
// filler removed. Prints the log lines of the full period and what was kept.
int fill(const std::string& sandbox, const std::string& collectorDir) {
    std::mutex logMutex;
    std::vector<std::string> lines;
    Log::setSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        lines.push_back(line);
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    auto platform = installPlatform(sandbox);
    auto window = showWindow(*platform);
    auto server = startCollector(collectorDir, "soak-key");
    auto* store = RVPlistHandler::sharedHandler();
    const std::string movie = collectorDir + "/movie.mp4";
    { std::ofstream(movie, std::ios::binary) << std::string(256 * 1024, 'm'); }
    std::vector<std::string> before;
    auto addItems = [&](int n, std::vector<std::string>* names) {
        for (int i = 0; i < n; ++i) {
            auto doc = store->saveDataToTextFile(std::string(32 * 1024, 'd'));
            const Value entry{{"appDeviceId", "soak"},
                              {"videoDuration", "1"},
                              {"videoName", "FULL_" + RVUtil::dateForFile() + ".mp4"},
                              {"videoType", "screen"}};
            const std::string name = store->addSreenVideoEntry(entry, movie);
            if (names) {
                names->push_back(doc->fileName);
                names->push_back(name);
            }
        }
    };
    RVFacade::startApplicationWithKey("soak-key");
    if (!RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 20s)) return 2;
    addItems(5, &before);
    RunLoop::main().runUntil([] { return false; }, 2s);

    // The disk fills up.
    {
        std::ofstream filler(sandbox + "/filler", std::ios::binary);
        const std::string block(64 * 1024, 'f');
        while (filler.write(block.data(), block.size()))
            filler.flush();
    }
    size_t fullFrom;
    {
        std::lock_guard<std::mutex> lock(logMutex);
        fullFrom = lines.size();
    }
    addItems(10, nullptr);
    RunLoop::main().runUntil([] { return false; }, 5s);  // recording goes on
    std::thread([] { RivloHandler::stop(); }).join();
    UserDefaults::standard().set("RivloFramework.runNo", static_cast<int64_t>(99));
    UserDefaults::standard().synchronize();
    std::vector<std::string> fullLines;
    {
        std::lock_guard<std::mutex> lock(logMutex);
        fullLines.assign(lines.begin() + static_cast<long>(fullFrom), lines.end());
    }
    // What was stored before is intact, and the defaults file still reads.
    std::ifstream in(UserDefaults::standard().filePath(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const auto parsed = PropertyList::read(bytes);
    std::printf("full: %zu log lines while full\n", fullLines.size());
    for (const auto& line : fullLines)
        std::printf("full-log: %s\n", line.c_str());
    std::printf("defaults %s\n", parsed && parsed->is_object() ? "parses" : "DOES NOT PARSE");
    std::set<std::string> listed;
    for (const auto& doc : store->textFileList())
        listed.insert(doc->fileName);
    for (const auto& entry : store->screenVideoEntries())
        listed.insert(PropertyList::text(entry, "videoName"));
    size_t intact = 0;
    for (const auto& name : before) {
        const bool doc = name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0;
        const std::string path = RVPlistHandler::pathInFolder(
            doc ? RVPlistHandler::kDataFolder : RVPlistHandler::kScreenVideoFolder, name);
        struct stat st {};
        if (listed.count(name) && ::stat(path.c_str(), &st) == 0 &&
            st.st_size == (doc ? 32 * 1024 : 256 * 1024))
            ++intact;
    }
    std::printf("stored before: %zu of %zu intact\n", intact, before.size());

    // Space returns.
    ::unlink((sandbox + "/filler").c_str());
    RVFacade::restartSession();
    RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 20s);
    std::vector<std::string> after;
    addItems(3, &after);
    UserDefaults::standard().synchronize();
    RunLoop::main().runUntil([] { return false; }, 2s);
    std::thread([] { RivloHandler::stop(); }).join();
    size_t resumed = 0;
    std::set<std::string> listedAfter;
    for (const auto& doc : store->textFileList())
        listedAfter.insert(doc->fileName);
    for (const auto& entry : store->screenVideoEntries())
        listedAfter.insert(PropertyList::text(entry, "videoName"));
    for (const auto& name : after)
        resumed += listedAfter.count(name);
    bool available = false;
    {
        std::lock_guard<std::mutex> lock(logMutex);
        for (const auto& line : lines)
            available =
                available || line.find("Storage space is available again") != std::string::npos;
    }
    std::printf("after space returned: %zu of %zu new items stored, %s\n", resumed, after.size(),
                available ? "logged that space is available again" : "NO LINE about space");
    Log::setSink(nullptr);
    return 0;
}

int collected(const std::string& dataDir) {
    collector::CollectorIndex index;
    std::string error;
    if (!index.open(dataDir + "/collector.sqlite", true, error)) {
        std::fprintf(stderr, "rivlo-soak: %s\n", error.c_str());
        return 1;
    }
    std::map<std::string, int> stored;
    int64_t duplicates = 0;
    for (const auto& upload : index.uploads()) {
        ++stored[upload.kind];
        duplicates += upload.duplicates;
    }
    for (const auto& [kind, n] : stored)
        std::printf("stored %s %d\n", kind.c_str(), n);
    std::printf("duplicates %lld\n", static_cast<long long>(duplicates));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    RunLoop::main().setMainThread();
    const bool timeoutGiven = argc == 8 && std::string(argv[6]) == "--request-timeout";
    if (mode == "sessions" && timeoutGiven) {
        char* end = nullptr;
        const double timeout = std::strtod(argv[7], &end);
        if (end == argv[7] || *end != '\0' || !(timeout > 0)) {
            std::fprintf(stderr, "rivlo-soak: bad --request-timeout \"%s\"\n", argv[7]);
            return 2;
        }
        RVAFURLConnectionOperation::setTimeoutCap(timeout);
    }
    if (mode == "sessions" && (argc == 6 || timeoutGiven))
        return sessions(argv[2], argv[3], std::atoi(argv[4]), std::atof(argv[5]));
    if (mode == "churn" && argc == 4) churn(argv[2], argv[3]);
    if (mode == "check" && argc == 4) return check(argv[2], argv[3]);
    if (mode == "record" && argc == 4) return record(argv[2], std::atof(argv[3]));
    if (mode == "collected" && argc == 3) return collected(argv[2]);
    if (mode == "fill" && argc == 4) return fill(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: rivlo-soak sessions SANDBOX KEY N SECONDS [--request-timeout T] |\n"
                 "       churn SANDBOX JOURNAL |\n"
                 "       check SANDBOX JOURNAL | record SANDBOX MINUTES | collected DATADIR\n");
    return 2;
}
