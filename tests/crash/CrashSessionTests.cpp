// The whole crash path: a host application on the headless device starts a verified session
// against the loopback service and crashes. Before the process ends the crash list entry and
// the session document with "cr": true must be on disk; the next launch uploads the document.
#include "ChildProcess.h"
#include "foundation/Value.h"
#include "protocol/RVWireProtocol.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace rivlo::test {
namespace {

constexpr const char* kVerifyPath = rivlo::RVWire::kVerifyPath;
constexpr const char* kUploadDataPath = rivlo::RVWire::kUploadDataPath;

const std::vector<std::string> kSanitizerOptions = {
    "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
    "handle_abort=0:detect_leaks=0:use_sigaltstack=0",
    "TSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
    "report_signal_unsafe=0:report_thread_leaks=0"};

LoopbackHTTPServer& service() {
    static LoopbackHTTPServer* const server = [] {
        auto* s = new LoopbackHTTPServer;
        s->route(
            "POST", kVerifyPath,
            ScriptedResponse::json(200, R"({"verify_status":true,"app_device_id":"apd-crash",)"
                                        R"("latest_run":0,"video_record":false,"settings":{}})"));
        s->route("POST", kUploadDataPath, ScriptedResponse::text(200, "ok"));
        return s;
    }();
    return *server;
}

struct SessionRun {
    ChildExit exit;
    std::vector<std::string> log;
    std::vector<std::string> host;
    Value defaults;
    std::string dataFolder;
};

SessionRun runSession(const TempDir& dir, const std::string& mode, bool host = false) {
    std::vector<std::string> environment = kSanitizerOptions;
    environment.push_back("RIVLO_SERVICE_URL=" + service().baseURL());
    std::vector<std::string> arguments = {mode, dir.path()};
    if (host) arguments.push_back("host");
    SessionRun run;
    std::remove(dir.file("log").c_str());
    std::remove(dir.file("host").c_str());
    std::remove(dir.file("paths").c_str());
    run.exit = runChild(RIVLO_CRASH_SESSION_CHILD, arguments, environment);
    run.log = readLines(dir.file("log"));
    run.host = readLines(dir.file("host"));
    std::vector<std::string> paths = readLines(dir.file("paths"));
    if (paths.size() == 2) {
        run.defaults = PropertyList::read(readFile(paths[0])).value_or(Value());
        run.dataFolder = paths[1];
    }
    return run;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

size_t countLines(const std::vector<std::string>& lines, const std::string& text) {
    size_t count = 0;
    for (const auto& line : lines)
        count += line == text;
    return count;
}

// The documents the store lists, read from their files.
std::vector<Value> storedDocuments(const SessionRun& run) {
    std::vector<Value> documents;
    const Value list = run.defaults.is_object() && run.defaults.contains("RvTextFile")
                           ? run.defaults["RvTextFile"]
                           : Value::array();
    for (const auto& entry : list) {
        const std::string name = PropertyList::text(entry, "fileName");
        documents.push_back(
            PropertyList::fromJSON(readFile(run.dataFolder + "/" + name)).value_or(Value()));
    }
    return documents;
}

bool anyCrashed(const std::vector<Value>& documents) {
    for (const auto& document : documents) {
        if (PropertyList::boolean(document, "cr")) return true;
    }
    return false;
}

struct SessionCrash {
    const char* mode;
    int signal;
    const char* logLine;
    std::vector<std::string> hostLines;
};

class CrashSessionTest : public testing::TestWithParam<SessionCrash> {};

TEST_P(CrashSessionTest, CrashLeavesItsRecordAndTheNextLaunchUploadsIt) {
    const SessionCrash& kind = GetParam();
    TempDir dir;
    service().clearRequests();
    SessionRun crashed = runSession(dir, kind.mode, true);
    ASSERT_TRUE(crashed.exit.started);
    ASSERT_FALSE(crashed.exit.hung);
    EXPECT_TRUE(crashed.exit.signaled) << "exit code " << crashed.exit.exitCode;
    EXPECT_EQ(crashed.exit.signal, kind.signal);
    EXPECT_EQ(countLines(crashed.log, kind.logLine), 1u);
    EXPECT_EQ(crashed.host, kind.hostLines);

    // The crash list entry, straight in the defaults file.
    ASSERT_TRUE(crashed.defaults.is_object());
    const Value crashes = crashed.defaults.value("RvCrash", Value::array());
    ASSERT_EQ(crashes.size(), 1u);
    EXPECT_EQ(PropertyList::text(crashes[0], "appDeviceId"), "apd-crash");
    EXPECT_EQ(PropertyList::text(crashes[0], "deviceRunNo"), "1");
    EXPECT_FALSE(PropertyList::text(crashes[0], "currentDate").empty());

    // The session document with its crash flag, listed and on disk.
    std::vector<Value> documents = storedDocuments(crashed);
    ASSERT_EQ(documents.size(), 1u);
    const std::string crashedDocumentName =
        PropertyList::text(crashed.defaults["RvTextFile"][0], "fileName");
    EXPECT_TRUE(anyCrashed(documents)) << documents[0].dump();

    // The next launch sends it.
    SessionRun next = runSession(dir, "upload");
    ASSERT_FALSE(next.exit.hung);
    EXPECT_EQ(next.exit.exitCode, 0) << joined(next.log);
    bool uploadedCrash = false;
    for (const auto& request : service().requests()) {
        if (request.path != kUploadDataPath) continue;
        auto parts = parseMultipartBody(request);
        if (!parts) continue;
        for (const auto& part : *parts) {
            auto document = PropertyList::fromJSON(part.body);
            if (part.name == "file" && document && PropertyList::boolean(*document, "cr")) {
                uploadedCrash = true;
            }
        }
    }
    EXPECT_TRUE(uploadedCrash);
    // Accepted by the service, so no longer listed.
    for (const auto& entry : next.defaults.value("RvTextFile", Value::array())) {
        EXPECT_NE(PropertyList::text(entry, "fileName"), crashedDocumentName);
    }
}

const std::string kSignal11 = "Rivlo: Crash handler closing session. Signal # 11 was raised.";
const std::string kSignal6 = "Rivlo: Crash handler closing session. Signal # 6 was raised.";

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashSessionTest,
    testing::Values(SessionCrash{"segv", SIGSEGV, kSignal11.c_str(), {"signal 11"}},
                    SessionCrash{"segv_thread", SIGSEGV, kSignal11.c_str(), {"signal 11"}},
                    SessionCrash{"abort", SIGABRT, kSignal6.c_str(), {"signal 6"}},
                    SessionCrash{
                        "exception",
                        SIGABRT,
                        "Rivlo: Crash handler closing session. Caught exception: session state "
                        "corrupt. ",
                        {"exception", "signal 6"}}),
    [](const testing::TestParamInfo<SessionCrash>& info) { return std::string(info.param.mode); });

// A session that ends without a crash leaves no crash record.
TEST(CrashSession, NoCrashNoRecord) {
    TempDir dir;
    SessionRun run = runSession(dir, "none");
    ASSERT_FALSE(run.exit.hung);
    EXPECT_EQ(run.exit.exitCode, 0);
    EXPECT_TRUE(run.defaults.value("RvCrash", Value::array()).empty());
}

}  // namespace
}  // namespace rivlo::test
