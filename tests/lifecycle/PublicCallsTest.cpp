// Every public call of librivlo.so.1 before the library started and after it closed: each is
// safe, writes one log line naming itself, starts no thread, opens no file and returns what its
// header promises. Between the two, one init and close; and the boundary itself: nothing thrown
// inside a call (here by a log handler that throws) reaches the caller.
//
// The suite links the shared library and sees only the public headers, as a host does.

#include "CollectorProcess.h"
#include "ProcessCounts.h"

#include <rivlo/Log.h>
#include <rivlo/Platform.h>
#include <rivlo/Rivlo.h>
#include <rivlo/rivlo.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using rivlo::test::ProcessCounts;

std::mutex gMutex;
std::vector<std::string> gLines;

void collect(const char* line, void*) {
    std::lock_guard lock(gMutex);
    gLines.emplace_back(line);
}

std::vector<std::string> takeLines() {
    std::lock_guard lock(gMutex);
    return std::exchange(gLines, {});
}

// A temporary home for the library's folders, so that "no file" can be checked.
const std::string& home() {
    static const std::string folder = [] {
        const std::string dir = rivlo::test::makeTemporaryDirectory("rivlo-public-calls");
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        // Nothing may reach a service from here: an address nobody listens on.
        setenv("RIVLO_SERVICE_URL", "http://127.0.0.1:9/", 1);
        return dir;
    }();
    return folder;
}

size_t filesUnder(const std::string& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        ++n;
    return n;
}

struct GatedCall {
    const char* name;  // as the log line names it
    std::function<void()> call;
};

// The calls that need a running library (the C API and the C++ facade); each must only log.
std::vector<GatedCall> gatedCalls() {
    return {
        {"rivlo_flush", [] { EXPECT_EQ(rivlo_flush(10), RIVLO_ERROR_NOT_INITIALIZED); }},
        {"rivlo_close", [] { EXPECT_EQ(rivlo_close(10), RIVLO_ERROR_NOT_INITIALIZED); }},
        {"performMainThreadWork",
         [] {
             int next = 7;
             EXPECT_EQ(rivlo_perform_main_thread_work(&next), RIVLO_ERROR_NOT_INITIALIZED);
             EXPECT_EQ(next, -1);
         }},
        {"runMainLoop", [] { rivlo_run_main_loop(0.05); }},
        {"stopApplicationAndUploadData", [] { rivlo_stop_and_upload(); }},
        {"restartSession", [] { rivlo_restart_session(); }},
        {"isRecording", [] { EXPECT_EQ(rivlo_is_recording(), 0); }},
        {"markUserAsFavorite", [] { rivlo_mark_user_as_favorite(); }},
        {"tagScreenName", [] { rivlo_tag_screen_name("Checkout"); }},
        {"tagUsersName", [] { rivlo_tag_users_name("user"); }},
        {"addTag", [] { rivlo_add_tag("tag"); }},
        {"setPreciseLocationLatitude", [] { rivlo_set_precise_location(48.1, 11.6); }},
        {"Rivlo::flush",
         [] {
             EXPECT_EQ(rivlo::Rivlo::flush(std::chrono::milliseconds(10)),
                       RIVLO_ERROR_NOT_INITIALIZED);
         }},
        {"addTag", [] { rivlo::Rivlo::addTag("tag"); }},
        {"tagUsersName", [] { rivlo::Rivlo::tagUsersName("user", std::string("extra")); }},
        {"isRecording", [] { EXPECT_FALSE(rivlo::Rivlo::isRecording()); }},
        {"restartSession", [] { rivlo::Rivlo::restartSession(); }},
    };
}

// Each call writes one line that names it and says the library is not running (or closed).
void expectOnlyLogged(const std::vector<GatedCall>& calls, const std::string& state) {
    const ProcessCounts before = ProcessCounts::now();
    const size_t files = filesUnder(home());
    for (const auto& gated : calls) {
        takeLines();
        gated.call();
        const auto lines = takeLines();
        ASSERT_EQ(lines.size(), 1u) << gated.name;
        EXPECT_NE(lines[0].find(std::string("Rivlo: ") + gated.name + ":"), std::string::npos)
            << lines[0];
        EXPECT_NE(lines[0].find(state), std::string::npos) << lines[0];
    }
    EXPECT_FALSE(rivlo::Rivlo::isInitialized());
    const ProcessCounts after = ProcessCounts::now();
    EXPECT_EQ(after.threads, before.threads) << after.describe();
    EXPECT_EQ(after.descriptors, before.descriptors) << after.describe();
    EXPECT_EQ(filesUnder(home()), files);
}

}  // namespace

TEST(PublicCalls, BeforeTheLibraryStartsEveryCallOnlyLogs) {
    home();
    rivlo_set_log_handler(collect, nullptr);
    EXPECT_EQ(rivlo_is_initialized(), 0);
    expectOnlyLogged(gatedCalls(), "the library is not running");
    // What works at any time: the version, the error texts, options, the log handler.
    EXPECT_STREQ(rivlo_version(), RIVLO_VERSION_STRING);
    EXPECT_STREQ(rivlo_strerror(RIVLO_ERROR_TIMEOUT), "the time limit passed");
    EXPECT_STREQ(rivlo_strerror(-1000), "unknown error");
    rivlo_set_log_handler(nullptr, nullptr);
}

TEST(PublicCalls, OptionsAreCheckedWhenSetAndAnythingBadChangesNothing) {
    home();
    rivlo_set_log_handler(collect, nullptr);
    rivlo_options_t* options = rivlo_options_new();
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(rivlo_options_set_service_url(options, "https://collector.example/"), RIVLO_OK);
    EXPECT_EQ(rivlo_options_set_service_url(options, "http://collector.example/"),
              RIVLO_ERROR_INVALID_ARGUMENT);  // plain http off the loopback interface
    EXPECT_EQ(rivlo_options_set_service_url(options, "ftp://127.0.0.1/"),
              RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_service_url(options, nullptr), RIVLO_OK);  // the built-in one
    EXPECT_EQ(rivlo_options_set_ca_file(options, "/nonexistent/ca.pem"),
              RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_screen(options, 390, 844, 3), RIVLO_OK);
    EXPECT_EQ(rivlo_options_set_screen(options, 0, 844, 3), RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_screen(options, 390, NAN, 3), RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_screen(options, 390, 844, 17), RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_idiom(options, "pad"), RIVLO_OK);
    EXPECT_EQ(rivlo_options_set_idiom(options, "tablet"), RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_idiom(options, nullptr), RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_front_camera(options, 2), RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_linux_platform(options, 1), RIVLO_OK);
    EXPECT_EQ(rivlo_options_set_application_key(options, "\xc3\x28"),  // not UTF-8
              RIVLO_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(rivlo_options_set_application_id(nullptr, "com.example"),
              RIVLO_ERROR_INVALID_ARGUMENT);
    rivlo_options_free(options);
    rivlo_options_free(nullptr);
    // Each refusal said why.
    size_t refusals = 0;
    for (const auto& line : takeLines())
        refusals += line.find("ignored") != std::string::npos;
    EXPECT_EQ(refusals, 11u);
    // The same checks in C++.
    rivlo::Options cxx;
    EXPECT_EQ(cxx.setServiceURL("http://localhost:8089/"), RIVLO_OK);
    EXPECT_EQ(cxx.setIdiom("watch"), RIVLO_ERROR_INVALID_ARGUMENT);
    rivlo_set_log_handler(nullptr, nullptr);
}

TEST(PublicCalls, VersionMacrosNameTheHeaders) {
    EXPECT_EQ(RIVLO_VERSION_NUM,
              RIVLO_VERSION_MAJOR * 10000 + RIVLO_VERSION_MINOR * 100 + RIVLO_VERSION_PATCH);
    EXPECT_TRUE(RIVLO_AT_LEAST_VERSION(1, 0, 0));
    EXPECT_TRUE(
        RIVLO_AT_LEAST_VERSION(RIVLO_VERSION_MAJOR, RIVLO_VERSION_MINOR, RIVLO_VERSION_PATCH));
    EXPECT_FALSE(
        RIVLO_AT_LEAST_VERSION(RIVLO_VERSION_MAJOR, RIVLO_VERSION_MINOR, RIVLO_VERSION_PATCH + 1));
    EXPECT_FALSE(RIVLO_AT_LEAST_VERSION(RIVLO_VERSION_MAJOR + 1, 0, 0));
}

TEST(PublicCalls, InitRunsOnceCloseOnlyOnTheMainThreadAndAfterCloseEveryCallOnlyLogs) {
    home();
    rivlo_set_log_handler(collect, nullptr);
    const ProcessCounts start = ProcessCounts::now();
    rivlo_options_t* options = rivlo_options_new();
    ASSERT_EQ(rivlo_options_set_application_id(options, "com.example.public-calls"), RIVLO_OK);
    ASSERT_EQ(rivlo_init(options), RIVLO_OK);
    EXPECT_EQ(rivlo_is_initialized(), 1);
    EXPECT_EQ(rivlo_init(options), RIVLO_ERROR_ALREADY_INITIALIZED);
    rivlo_options_free(options);
    EXPECT_EQ(rivlo_flush(1000), RIVLO_OK);  // nothing under way

    int fromAnotherThread = 0;
    std::thread([&] { fromAnotherThread = rivlo_close(1000); }).join();
    EXPECT_EQ(fromAnotherThread, RIVLO_ERROR_WRONG_THREAD);
    EXPECT_EQ(rivlo_is_initialized(), 1);
    EXPECT_EQ(rivlo_close(1000), RIVLO_OK);
    EXPECT_EQ(rivlo_is_initialized(), 0);

    // After close the entry points of earlier releases, which start a library that never ran,
    // only log too: only rivlo_init starts it again.
    auto calls = gatedCalls();
    calls.push_back({"startApplicationWithKey", [] { EXPECT_EQ(rivlo_start("key"), 0); }});
    calls.push_back(
        {"startApplicationWithKey", [] { rivlo::Rivlo::startApplicationWithKey("key"); }});
    calls.push_back({"installLinuxPlatform", [] {
                         rivlo_install_linux_platform("com.example.public-calls", "App", "1.0");
                     }});
    calls.push_back({"installHeadlessPlatform", [] { rivlo_install_headless_platform(); }});
    expectOnlyLogged(calls, "the library is closed");
    const ProcessCounts end = ProcessCounts::now();
    EXPECT_EQ(end.threads, start.threads) << end.describe();
    EXPECT_EQ(end.descriptors, start.descriptors) << end.describe();

    // And it starts again.
    ASSERT_EQ(rivlo::Rivlo::init(rivlo::Options()), RIVLO_OK);
    EXPECT_TRUE(rivlo::Rivlo::isInitialized());
    EXPECT_EQ(rivlo::Rivlo::close(std::chrono::seconds(1)), RIVLO_OK);
    rivlo_set_log_handler(nullptr, nullptr);
}

TEST(PublicCalls, NothingThrownInsideACallReachesTheCaller) {
    home();
    // A log handler that throws: every call below writes a line, so the exception starts deep
    // inside the library and must stop at the boundary.
    rivlo::setLogHandler([](const std::string&) { throw std::runtime_error("handler failed"); });
    EXPECT_EQ(rivlo_flush(10), RIVLO_ERROR_INTERNAL);
    EXPECT_EQ(rivlo_close(10), RIVLO_ERROR_INTERNAL);
    EXPECT_EQ(rivlo_perform_main_thread_work(nullptr), RIVLO_ERROR_INTERNAL);
    rivlo_add_tag(nullptr);
    rivlo_add_tag("tag");
    rivlo_tag_screen_name("\xed\xa0\x80");
    rivlo_set_precise_location(NAN, 0);
    rivlo_stop_and_upload();
    rivlo_run_main_loop(-1);
    EXPECT_EQ(rivlo_is_recording(), 0);
    EXPECT_EQ(rivlo_start(nullptr), 0);
    rivlo_options_t* options = rivlo_options_new();
    EXPECT_EQ(rivlo_options_set_idiom(options, "tablet"), RIVLO_ERROR_INTERNAL);
    rivlo_options_free(options);
    rivlo::Rivlo::addTag("tag");
    EXPECT_FALSE(rivlo::Rivlo::isRecording());
    rivlo::setLogHandler({});
}
