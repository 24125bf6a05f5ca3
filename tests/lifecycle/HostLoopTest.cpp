// A C host that runs the library's main-thread work in its own event loop (a poll loop on an
// eventfd, as a GLib or libuv host would): the library asks through notify only when it has
// work, the host performs it on its thread and sleeps for as long as the library says; a
// session is verified and uploaded that way, and an idle library asks nothing.

#include "CollectorProcess.h"

#include <rivlo/Rivlo.h>
#include <rivlo/rivlo.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using rivlo::test::CollectorProcess;

constexpr const char* kKey = "host-loop-key";

struct HostLoop {
    int event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<int> notified{0};
    std::atomic<bool> notifiedOnHostThread{false};
    std::thread::id host = std::this_thread::get_id();

    static void notify(void* context) {
        auto* loop = static_cast<HostLoop*>(context);
        loop->notified++;
        if (std::this_thread::get_id() == loop->host) loop->notifiedOnHostThread = true;
        const uint64_t one = 1;
        (void)write(loop->event, &one, sizeof one);
    }

    // Turns until `done` or the time is up: waits for a notification or the next timer, then
    // performs. Returns the number of performs.
    template <class Done>
    int turn(Done&& done, std::chrono::seconds limit) {
        int performs = 0;
        int next = -1;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            pollfd ready{event, POLLIN, 0};
            poll(&ready, 1, next < 0 || next > 200 ? 200 : next);
            uint64_t count = 0;
            (void)read(event, &count, sizeof count);
            EXPECT_EQ(rivlo_perform_main_thread_work(&next), RIVLO_OK);
            ++performs;
        }
        return performs;
    }
};

}  // namespace

TEST(HostLoop, TheHostsLoopRunsTheMainThreadWorkAndAnIdleLibraryAsksNothing) {
    const std::string root = rivlo::test::makeTemporaryDirectory("rivlo-host-loop");
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    const std::string data = root + "/collector";
    std::filesystem::create_directories(data);
    CollectorProcess collector(data, kKey);
    ASSERT_TRUE(collector.start());

    HostLoop loop;
    ASSERT_EQ(rivlo_set_main_thread_scheduler(&HostLoop::notify, &loop), RIVLO_OK);
    rivlo_options_t* options = rivlo_options_new();
    rivlo_options_set_application_id(options, "com.example.host-loop");
    rivlo_options_set_service_url(options, collector.url().c_str());
    rivlo_options_set_application_key(options, kKey);
    ASSERT_EQ(rivlo_init(options), RIVLO_OK);
    rivlo_options_free(options);

    // The verification's answer arrives on the host's thread through its own loop; a flush on
    // another thread sees the work end.
    std::atomic<int> flushed{1};
    std::thread waiter([&] { flushed = rivlo_flush(60000); });
    std::atomic<bool> waiting{true};
    std::thread watcher([&] {
        waiter.join();
        waiting = false;
        HostLoop::notify(&loop);  // wakes the host's poll once more
    });
    loop.turn([&] { return !waiting.load(); }, std::chrono::seconds(90));
    watcher.join();
    EXPECT_EQ(flushed.load(), RIVLO_OK);
    EXPECT_GT(loop.notified.load(), 0);
    EXPECT_EQ(rivlo_is_recording(), 1);

    // Idle (no screen to record, nothing uploading): the library asks for nothing at all.
    uint64_t leftOver = 0;
    (void)read(loop.event, &leftOver, sizeof leftOver);  // the watcher's last wake-up
    const int before = loop.notified.load();
    pollfd ready{loop.event, POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 500), 0);
    EXPECT_EQ(loop.notified.load(), before);

    // A tag and the stop: the uploads' answers come back through the host's loop too.
    rivlo_add_tag("through-the-host-loop");
    rivlo_stop_and_upload();
    std::atomic<bool> sent{false};
    std::thread flusher([&] { sent = rivlo_flush(60000) == RIVLO_OK; });
    loop.turn([&] { return sent.load(); }, std::chrono::seconds(90));
    flusher.join();
    EXPECT_TRUE(sent.load());
    EXPECT_EQ(rivlo_close(10000), RIVLO_OK);
    EXPECT_NE(collector.report().find("through-the-host-loop"), std::string::npos);

    rivlo_set_main_thread_scheduler(nullptr, nullptr);
    close(loop.event);
    collector.kill();
    std::filesystem::remove_all(root);
}
