#include "foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace rivlo;

TEST(Notifications, DeliversByNameAndSenderInOrderOnThePostingThread) {
    NotificationCenter center;
    int sender = 0, other = 0;
    std::vector<std::string> calls;
    std::thread::id deliveredOn;
    center.addObserver("a", nullptr, [&](const Notification& n) {
        calls.push_back("any:" + PropertyList::text(n.userInfo, "k"));
        deliveredOn = std::this_thread::get_id();
    });
    center.addObserver("a", &sender, [&](const Notification&) { calls.push_back("sender"); });
    center.addObserver("b", nullptr, [&](const Notification&) { calls.push_back("b"); });
    center.post("a", &other, Value{{"k", "v"}});
    center.post("a", &sender);
    EXPECT_EQ(calls, (std::vector<std::string>{"any:v", "any:", "sender"}));
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(Notifications, ObserverRemovedDuringDeliveryIsNotCalledAgain) {
    NotificationCenter center;
    int first = 0, second = 0;
    NotificationCenter::Token secondToken = 0;
    NotificationCenter::Token firstToken = 0;
    firstToken = center.addObserver("n", nullptr, [&](const Notification&) {
        first++;
        center.removeObserver(firstToken);   // itself
        center.removeObserver(secondToken);  // the one after it, in the same delivery
    });
    secondToken = center.addObserver("n", nullptr, [&](const Notification&) { second++; });
    center.post("n");
    center.post("n");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST(Notifications, RemovalFromAnotherThreadWaitsForDeliveryInProgress) {
    NotificationCenter center;
    std::atomic<bool> inCallback{false}, removed{false}, calledAfterRemoval{false};
    auto token = center.addObserver("slow", nullptr, [&](const Notification&) {
        if (removed) calledAfterRemoval = true;
        inCallback = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        inCallback = false;
    });
    std::thread poster([&] {
        for (int i = 0; i < 5; ++i)
            center.post("slow");
    });
    while (!inCallback)
        std::this_thread::yield();
    center.removeObserver(token);
    EXPECT_FALSE(inCallback);  // removal returned only after the running delivery ended
    removed = true;
    poster.join();
    EXPECT_FALSE(calledAfterRemoval);
}
