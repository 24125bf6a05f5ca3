// What the collector keeps: files synced before their rows commit, known devices verified on a
// full disk, quotas, retention and deletion (logged), sessions found by their facts, and a
// report that escapes every client text and reads any stored document.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "CollectorReport.h"
#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

const char* const kVideo = "/webservices/v2/uploadvideo";
const char* const kData = "/webservices/v2/uploaddata";

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields screenFields(const std::string& apd) {
    return {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "4"}};
}

nlohmann::json document(const std::string& apd, const std::string& user, int run, int length,
                        bool crash, const std::vector<std::string>& tags) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::string& t : tags)
        list.push_back({{"tag", t}, {"time", 1.5}});
    return {{"apd", apd},
            {"dan", user},
            {"dr", std::to_string(run)},
            {"tt", std::to_string(length)},
            {"cr", crash},
            {"isF", 0},
            {"ut",
             {{{"an", "Home"}, {"at", "0"}, {"cor", {{1, 2, 1, 0, 1, 3, 1, 2}, {1, 2, 1, 10}}}},
              {{"an", "Cart"}, {"at", "5"}, {"cor", nlohmann::json::array()}}}},
            {"tags", list}};
}

class CollectorStorageTest : public ::testing::Test {
  protected:
    void start(const std::function<void(CollectorConfig&)>& adjust = {}) {
        collector_ = std::make_unique<InProcessCollector>(data_.path(), adjust);
        ASSERT_TRUE(collector_->start()) << collector_->startError();
    }
    std::string file(const std::string& name, const std::string& bytes) {
        writeFile(files_.file(name), bytes);
        return files_.file(name);
    }
    int sendDocument(const nlohmann::json& doc, int64_t stamp) {
        return static_cast<int>(postMultipart(collector_->url(kData), {},
                                              {{file(std::to_string(stamp) + ".txt", doc.dump())}})
                                    .status);
    }
    int sendMovie(const std::string& apd, int64_t stamp, size_t size = 100) {
        return static_cast<int>(
            postMultipart(collector_->url(kVideo), screenFields(apd),
                          {{file("S_" + std::to_string(stamp) + ".mp4", std::string(size, 'm'))}})
                .status);
    }

    TempDir data_, files_;
    std::unique_ptr<InProcessCollector> collector_;
};

TEST_F(CollectorStorageTest, SessionsAreFoundByTheirFacts) {
    start([](CollectorConfig& c) {
        CollectorApp other;
        other.key = "other-key";
        other.name = "Other";
        c.apps.push_back(other);
    });
    const std::string a = collector_->verify("DEVICE-A")["app_device_id"];
    const std::string b = collector_->verify("DEVICE-B")["app_device_id"];
    const std::string c = collector_->verify("DEVICE-C", "other-key")["app_device_id"];
    ASSERT_EQ(sendDocument(document(a, "ada", 1, 60, false, {"checkout", "promo"}), 1765900060),
              200);
    ASSERT_EQ(sendDocument(document(a, "ada", 1, 30, true, {}), 1765900200), 200);
    ASSERT_EQ(sendDocument(document(b, "bob", 1, 10, false, {"promo"}), 1765900300), 200);
    ASSERT_EQ(sendDocument(document(c, "cy", 1, 10, false, {}), 1765900400), 200);
    CollectorIndex& index = collector_->server().index();

    SessionQuery query;
    query.appKey = "test-key";
    auto all = index.sessions(query);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].appDeviceId, a);
    EXPECT_EQ(all[0].startedUnix, 1765900000);
    EXPECT_EQ(all[0].duration, 60);
    EXPECT_EQ(all[0].screens, 2);
    EXPECT_EQ(all[0].gestures, 1);  // the orientation change is not a gesture
    EXPECT_EQ(all[0].tags, (std::vector<std::string>{"checkout", "promo"}));
    EXPECT_EQ(all[0].userName, "ada");
    query.tag = "promo";
    EXPECT_EQ(index.sessions(query).size(), 2u);
    query.tag.clear();
    query.crash = true;
    ASSERT_EQ(index.sessions(query).size(), 1u);
    EXPECT_EQ(index.sessions(query)[0].startedUnix, 1765900170);
    query.crash.reset();
    query.appDeviceId = b;
    EXPECT_EQ(index.sessions(query).size(), 1u);
    query.appDeviceId.clear();
    query.startedFrom = 1765900100;
    query.startedBefore = 1765900200;
    EXPECT_EQ(index.sessions(query).size(), 1u);
    SessionQuery page;
    page.limit = 2;
    page.offset = 2;
    EXPECT_EQ(index.sessions(page).size(), 2u);  // four in all applications
}

TEST_F(CollectorStorageTest, QuotasRefuseWhatWouldGoBeyondThem) {
    start([](CollectorConfig& c) {
        c.apps[0].installationQuotaBytes = 1000;
        c.apps[0].quotaBytes = 1500;
        c.apps[0].maxInstallations = 2;
    });
    const std::string a = collector_->verify("DEVICE-A")["app_device_id"];
    const std::string b = collector_->verify("DEVICE-B")["app_device_id"];
    EXPECT_EQ(sendMovie(a, 1765910000, 800), 200);
    EXPECT_EQ(sendMovie(a, 1765910001, 300), 507);  // the installation's 1000 bytes
    EXPECT_EQ(sendMovie(b, 1765910002, 800), 507);  // the application's 1500 bytes
    EXPECT_EQ(sendMovie(b, 1765910003, 500), 200);
    EXPECT_EQ(storedUploads(data_.path()).size(), 2u);
    EXPECT_EQ(listFiles(data_.path() + "/apps").size(), 2u);
    EXPECT_TRUE(listFiles(data_.path() + "/tmp").empty());
    // A third installation is one too many; known ones still verify.
    HttpResult third = postForm(collector_->url("/webservices/v2/verifyapp"),
                                verifyFields("test-key", "DEVICE-C"));
    EXPECT_EQ(third.status, 429);
    EXPECT_EQ(collector_->verify("DEVICE-A")["app_device_id"], a);
}

TEST_F(CollectorStorageTest, RetentionRemovesExpiredSessionsAndTheirFiles) {
    start([](CollectorConfig& c) { c.apps[0].retentionDays = 2; });
    const std::string a = collector_->verify("DEVICE-A")["app_device_id"];
    ASSERT_EQ(sendDocument(document(a, "ada", 1, 60, false, {"t"}), 1765920060), 200);
    ASSERT_EQ(sendMovie(a, 1765920061), 200);
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    // Within the period nothing goes.
    EXPECT_EQ(collector_->server().runRetention(now + 86400), 0u);
    EXPECT_EQ(storedUploads(data_.path()).size(), 2u);
    // Three days on, both files and the session's rows go; the installation stays.
    EXPECT_EQ(collector_->server().runRetention(now + 3 * 86400), 2u);
    EXPECT_TRUE(storedUploads(data_.path()).empty());
    EXPECT_TRUE(listFiles(data_.path() + "/apps").empty());
    EXPECT_TRUE(collector_->server().index().sessions({}).empty());
    EXPECT_EQ(
        collector_->log().countContaining("retention: application \"test-key\": removed 2 files"),
        1u);
    EXPECT_EQ(collector_->server().index().installation(a)->bytes, 0);
    EXPECT_EQ(sendMovie(a, 1765920062), 200);
}

TEST_F(CollectorStorageTest, AnInstallationOrAUserIsDeletedWholeAndTheDeletionLogged) {
    start();
    const std::string a = collector_->verify("DEVICE-A")["app_device_id"];
    const std::string b = collector_->verify("DEVICE-B")["app_device_id"];
    // Installation A: ada's session with its movie, then bob's; installation B: bob's.
    ASSERT_EQ(sendMovie(a, 1765930059), 200);
    ASSERT_EQ(sendDocument(document(a, "ada", 1, 60, false, {}), 1765930060), 200);
    ASSERT_EQ(sendMovie(a, 1765930999), 200);
    ASSERT_EQ(sendDocument(document(a, "bob", 1, 60, false, {}), 1765931000), 200);
    ASSERT_EQ(sendDocument(document(b, "bob", 1, 60, false, {}), 1765932000), 200);

    std::string error;
    ASSERT_TRUE(collector_->server().deleteInstallation(b, error)) << error;
    EXPECT_EQ(collector_->log().countContaining("delete: installation " + b), 1u);
    EXPECT_EQ(sendMovie(b, 1765932001), 403);  // its identifier is no longer accepted
    collector_->stop();

    // The command line deletes one user's sessions with what belongs to them.
    std::vector<std::string> arguments = {"delete", "--data",    data_.path(), "--user",
                                          "ada",    "--app-key", "test-key"};
    for (const std::string& x : databaseArguments(data_.path()))
        arguments.push_back(x);
    auto [status, output] = runCollectorCommand(arguments);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("delete: user \"ada\" of application \"test-key\" deleted: 1 sessions, "
                          "2 files"),
              std::string::npos)
        << output;
    std::vector<UploadRecord> left = storedUploads(data_.path());
    ASSERT_EQ(left.size(), 2u);
    for (const UploadRecord& u : left)
        EXPECT_EQ(u.appDeviceId, a);
    EXPECT_EQ(listFiles(data_.path() + "/apps").size(), 2u);
    std::vector<std::string> none = {"delete", "--data", data_.path(), "--installation", "nope"};
    for (const std::string& x : databaseArguments(data_.path()))
        none.push_back(x);
    auto unknown = runCollectorCommand(none);
    EXPECT_EQ(unknown.first, 1) << unknown.second;
}

TEST_F(CollectorStorageTest, ReportEscapesClientTextAndReadsAnyStoredDocument) {
    start();
    const std::string hostile = "\x1b[2J\x1b]0;owned\x07\nSession run 99 (forged line)";
    HttpResult v = postForm(collector_->url("/webservices/v2/verifyapp"),
                            {{"app_key", "test-key"},
                             {"device_id", "D\x1b[31m"},
                             {"device_os", "7\r\nInstallation fake"},
                             {"device_type", hostile},
                             {"platform", "ios"},
                             {"appname", hostile}});
    const std::string apd = v.json()["app_device_id"];
    nlohmann::json doc = document(apd, hostile, 1, 5, false, {hostile});
    doc["dmn"] = hostile;
    ASSERT_EQ(sendDocument(doc, 1765940005), 200);
    ASSERT_EQ(sendDocument(document(apd, "deep", 1, 5, false, {}), 1765940100), 200);
    collector_->stop();
    // A stored document nested far deeper than any session document.
    for (const UploadRecord& u : storedUploads(data_.path())) {
        if (u.fileName == "1765940100.txt")
            writeFile(data_.path() + "/" + u.path,
                      "{\"ut\":" + std::string(100000, '[') + std::string(100000, ']') + "}");
    }
    std::vector<std::string> arguments = {"report", "--data", data_.path()};
    for (const std::string& x : databaseArguments(data_.path()))
        arguments.push_back(x);
    auto [status, report] = runCollectorCommand(arguments);
    ASSERT_EQ(status, 0) << report;
    EXPECT_EQ(report.find('\x1b'), std::string::npos);
    EXPECT_EQ(report.find('\x07'), std::string::npos);
    EXPECT_EQ(report.find("\r"), std::string::npos);
    EXPECT_EQ(report.find("\nSession run 99"), std::string::npos);
    EXPECT_EQ(report.find("\nInstallation fake"), std::string::npos);
    EXPECT_NE(report.find("\\x1b[2J"), std::string::npos) << report;
    EXPECT_NE(report.find("nested deeper than 64 levels"), std::string::npos) << report;
}

// strace's account of the calls of one process and its threads, in the order they began.
std::vector<std::string> tracedCalls(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> calls;
    std::map<std::string, size_t> open;  // pid -> the call it has not finished
    std::string line;
    while (std::getline(in, line)) {
        const std::string pid = line.substr(0, line.find(' '));
        const std::string rest = line.substr(line.find_first_not_of(' ', line.find(' ')));
        if (rest.rfind("<... ", 0) == 0) {
            auto at = open.find(pid);
            if (at != open.end()) {
                calls[at->second] += rest.substr(rest.find("resumed>") + 8);
                open.erase(at);
            }
            continue;
        }
        const size_t unfinished = rest.find(" <unfinished ...>");
        calls.push_back(unfinished == std::string::npos ? rest : rest.substr(0, unfinished));
        if (unfinished != std::string::npos) open[pid] = calls.size() - 1;
    }
    return calls;
}

TEST(CollectorDurabilityTest, AnUploadIsOnDiskBeforeTheRowNamingItCommits) {
    if (usingPostgres()) GTEST_SKIP() << "the commit order is read from SQLite's own writes";
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    TempDir data, files;
    const std::string trace = files.file("trace");
#if defined(__SANITIZE_ADDRESS__)
    // LeakSanitizer cannot run in a traced process: the collector's exit would report failure.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
    CollectorProcess process;
    ASSERT_TRUE(process.start({"--data", data.path(), "--app-key", "k"}, files.file("url")));
    // strace attaches to the running collector and its threads.
    const std::string attach = "strace -f -qq -o '" + trace +
                               "' -e trace=openat,fsync,fdatasync,rename,renameat,renameat2,"
                               "pwrite64 -p " +
                               std::to_string(process.pid()) + " & echo $! > '" +
                               files.file("strace.pid") + "'";
    ASSERT_EQ(std::system(attach.c_str()), 0);
    // Attached once a verification's index write shows in the trace.
    ASSERT_TRUE(runUntil(
        [&] {
            postForm(process.url() + "/webservices/v2/verifyapp", verifyFields("k", "D"));
            return readFile(trace).find("pwrite64(") != std::string::npos;
        },
        std::chrono::seconds(30)));
    // SQLite opened its log before strace came: its descriptor is read from /proc.
    std::string walFd;
    const std::string fds = "/proc/" + std::to_string(process.pid()) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(fds)) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (target.size() > 4 && target.compare(target.size() - 4, 4, "-wal") == 0)
            walFd = entry.path().filename().string();
    }
    ASSERT_FALSE(walFd.empty());
    const std::string apd =
        postForm(process.url() + "/webservices/v2/verifyapp", verifyFields("k", "D"))
            .json()["app_device_id"];
    writeFile(files.file("S_1765950000.mp4"), std::string(50000, 'd'));
    ASSERT_EQ(
        postMultipart(process.url() + kVideo, screenFields(apd), {{files.file("S_1765950000.mp4")}})
            .status,
        200);
    EXPECT_EQ(process.stop(), 0);
    ::kill(std::atoi(readFile(files.file("strace.pid")).c_str()), SIGTERM);
    runUntil([&] { return readFile(trace).find("+++ exited") != std::string::npos; });

    const std::vector<std::string> calls = tracedCalls(trace);
    std::string uploadFd;
    size_t synced = 0, renamed = 0, folderSynced = 0, committed = 0;
    std::set<std::string> folderFds;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string& c = calls[i];
        const std::string result = c.substr(c.rfind("= ") + 2);
        if (c.rfind("openat(", 0) == 0 && c.find("/tmp/upload-") != std::string::npos)
            uploadFd = result;
        if (c.rfind("openat(", 0) == 0 && c.find("/screen\"") != std::string::npos &&
            c.find("O_DIRECTORY") != std::string::npos)
            folderFds.insert(result);
        auto isFsync = [&](const std::string& fd) { return c.rfind("fsync(" + fd + ")", 0) == 0; };
        if (!uploadFd.empty() && isFsync(uploadFd) && !synced) synced = i + 1;
        if (c.rfind("rename", 0) == 0 && c.find("S_1765950000.mp4") != std::string::npos)
            renamed = i + 1;
        for (const std::string& fd : folderFds)
            if (renamed && isFsync(fd) && !folderSynced) folderSynced = i + 1;
        if (renamed && !committed && !walFd.empty() && c.rfind("pwrite64(" + walFd + ",", 0) == 0)
            committed = i + 1;
    }
    ASSERT_GT(committed, 0u) << readFile(trace).substr(0, 20000);
    EXPECT_GT(synced, 0u) << "the upload was never synced";
    EXPECT_LT(synced, renamed);
    EXPECT_GT(folderSynced, renamed);
    EXPECT_LT(folderSynced, committed);
}

TEST(CollectorFullDiskTest, KnownDevicesStillVerifyOnAFullDisk) {
    TempDir base;
    const std::string mount = base.file("disk");
    ::mkdir(mount.c_str(), 0700);
    if (std::system(("mount -t tmpfs -o size=3m tmpfs '" + mount + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
    }
    {
        const std::string dataDir = mount + "/data";
        InProcessCollector collector(dataDir);
        ASSERT_TRUE(collector.start()) << collector.startError();
        const std::string apd = collector.verify("DEVICE-K")["app_device_id"];
        // Fill the disk.
        const int fd = ::open((mount + "/filler").c_str(), O_CREAT | O_WRONLY, 0600);
        const std::string block(64 * 1024, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
        for (int i = 0; i < 3; ++i) {
            nlohmann::json again = collector.verify("DEVICE-K");
            EXPECT_EQ(again["verify_status"], true) << again;
            EXPECT_EQ(again["app_device_id"], apd);
        }
        TempDir files;
        writeFile(files.file("S_1765960000.mp4"), std::string(200000, 'x'));
        HttpResult upload = postMultipart(collector.url(kVideo), screenFields(apd),
                                          {{files.file("S_1765960000.mp4")}});
        EXPECT_EQ(upload.status, 507) << upload.body;
        EXPECT_TRUE(listFiles(dataDir + "/tmp").empty());
        // Space again: the same upload goes through.
        ::unlink((mount + "/filler").c_str());
        EXPECT_EQ(postMultipart(collector.url(kVideo), screenFields(apd),
                                {{files.file("S_1765960000.mp4")}})
                      .status,
                  200);
        collector.stop();
    }
    std::system(("umount -l '" + mount + "'").c_str());
}

}  // namespace
}  // namespace rivlo::collector::test
