#include "HeadlessTestMain.h"

#include "platform/GestureRecognizer.h"

namespace rivlo::testing {

namespace {
class RecognizerTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        window = platform->makeKeyWindow();
        target = std::make_shared<View>(Rect(0, 0, 320, 568));
        window->addSubview(target);
    }

    template <class R>
    std::shared_ptr<R> attach(std::shared_ptr<R> r, std::vector<std::string>* log,
                              std::string name) {
        r->addTarget(this, [log, name](GestureRecognizer& g) {
            std::string entry = name + " " + std::to_string(static_cast<int>(g.state()));
            if (auto* p = dynamic_cast<PinchGestureRecognizer*>(&g)) {
                entry += p->scale() > 1.0 ? " out" : " in";
            }
            log->push_back(entry);
        });
        window->addGestureRecognizer(r);
        return r;
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<View> target;
};

class AllowAll : public GestureRecognizerDelegate {};
class RefuseToBegin : public GestureRecognizerDelegate {
  public:
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override { return false; }
};
class RefuseTouches : public GestureRecognizerDelegate {
  public:
    bool shouldReceiveTouch(GestureRecognizer&, const Touch&) override { return false; }
};
}  // namespace

TEST_F(RecognizerTest, SingleAndDoubleTaps) {
    std::vector<std::string> log;
    auto delegate = std::make_shared<AllowAll>();
    auto single = attach(std::make_shared<TapGestureRecognizer>(1), &log, "single");
    auto dbl = attach(std::make_shared<TapGestureRecognizer>(2), &log, "double");
    single->setDelegate(delegate);
    dbl->setDelegate(delegate);

    platform->tap({100, 100});
    EXPECT_EQ(log, (std::vector<std::string>{"single 3"}));
    EXPECT_EQ(single->state(), GestureState::Possible);  // reset after the sequence

    log.clear();
    platform->doubleTap({200, 300});
    // No failure requirement: both taps are single taps too.
    EXPECT_EQ(log, (std::vector<std::string>{"single 3", "single 3", "double 3"}));
    EXPECT_EQ(dbl->locationInView(nullptr), (Point{200, 300}));
    EXPECT_EQ(dbl->view(), window.get());

    // Two taps far apart are two single taps, no double tap.
    log.clear();
    TouchSynthesizer::Steps steps = TouchSynthesizer::tap({10, 10});
    for (auto s : TouchSynthesizer::tap({300, 500})) {
        s.at += 0.15;
        steps.push_back(s);
    }
    platform->deliver(steps);
    EXPECT_EQ(log, (std::vector<std::string>{"single 3", "single 3"}));
}

TEST_F(RecognizerTest, SwipesByDirectionAndDistance) {
    std::vector<std::string> log;
    auto delegate = std::make_shared<AllowAll>();
    for (auto [dir, name] :
         std::vector<std::pair<int, std::string>>{{SwipeDirection::Left, "left"},
                                                  {SwipeDirection::Right, "right"},
                                                  {SwipeDirection::Up, "up"},
                                                  {SwipeDirection::Down, "down"}}) {
        auto r = attach(std::make_shared<SwipeGestureRecognizer>(dir), &log, name);
        r->setDelegate(delegate);
    }
    auto tap = attach(std::make_shared<TapGestureRecognizer>(1), &log, "tap");
    tap->setDelegate(delegate);

    platform->swipe({250, 300}, {100, 300});
    platform->swipe({100, 300}, {250, 310});
    platform->swipe({160, 400}, {150, 200});
    platform->swipe({160, 100}, {160, 400});
    EXPECT_EQ(log, (std::vector<std::string>{"left 3", "right 3", "up 3", "down 3"}));

    log.clear();
    platform->swipe({100, 300}, {130, 300});       // too short: nothing
    platform->swipe({100, 100}, {200, 200});       // diagonal: nothing
    platform->swipe({100, 300}, {300, 300}, 3.0);  // too slow: nothing
    EXPECT_TRUE(log.empty()) << log.size();
}

TEST_F(RecognizerTest, PinchReportsItsStatesAndFinalScale) {
    std::vector<std::string> log;
    auto pinch = attach(std::make_shared<PinchGestureRecognizer>(), &log, "pinch");
    platform->pinch({160, 300}, 100, 200);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), "pinch 1 out");
    EXPECT_EQ(log[1], "pinch 2 out");
    EXPECT_EQ(log.back(), "pinch 3 out");
    EXPECT_NEAR(pinch->scale(), 2.0, 1e-9);

    log.clear();
    platform->pinch({160, 300}, 200, 100);
    EXPECT_EQ(log.back(), "pinch 3 in");
    EXPECT_NEAR(pinch->scale(), 0.5, 1e-9);

    log.clear();
    platform->pinch({160, 300}, 100, 150, /*cancel=*/true);
    EXPECT_EQ(log.back(), "pinch 4 out");  // cancelled, not ended

    // One finger is not a pinch.
    log.clear();
    platform->swipe({100, 300}, {300, 300});
    EXPECT_TRUE(log.empty());
}

TEST_F(RecognizerTest, DelegatesAndSimultaneousRecognition) {
    std::vector<std::string> log;
    auto first = attach(std::make_shared<TapGestureRecognizer>(1), &log, "first");
    auto second = attach(std::make_shared<TapGestureRecognizer>(1), &log, "second");
    // Without delegates only one recogniser may take a gesture.
    platform->tap({50, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"first 3"}));

    log.clear();
    auto allow = std::make_shared<AllowAll>();
    second->setDelegate(allow);
    platform->tap({50, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"first 3", "second 3"}));

    log.clear();
    auto refuse = std::make_shared<RefuseToBegin>();
    first->setDelegate(refuse);
    platform->tap({50, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"second 3"}));

    log.clear();
    auto deaf = std::make_shared<RefuseTouches>();
    second->setDelegate(deaf);
    first->setDelegate(allow);
    platform->tap({50, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"first 3"}));

    log.clear();
    first->setEnabled(false);
    platform->tap({50, 50});
    EXPECT_TRUE(log.empty());
}

TEST_F(RecognizerTest, RecognisersOnTheHitViewChainOnlyAndMovingBetweenWindows) {
    std::vector<std::string> log;
    auto side = std::make_shared<View>(Rect(0, 0, 100, 100));
    window->addSubview(side);
    auto onSide = std::make_shared<TapGestureRecognizer>(1);
    onSide->addTarget(this, [&](GestureRecognizer&) { log.push_back("side"); });
    side->addGestureRecognizer(onSide);
    platform->tap({200, 200});  // hits `target`, not `side`
    EXPECT_TRUE(log.empty());
    platform->tap({50, 50});
    EXPECT_EQ(log, (std::vector<std::string>{"side"}));

    // Attaching to another view moves it; attaching twice changes nothing.
    auto other = platform->makeKeyWindow();
    other->addGestureRecognizer(onSide);
    other->addGestureRecognizer(onSide);
    EXPECT_TRUE(side->gestureRecognizers().empty());
    EXPECT_EQ(other->gestureRecognizers().size(), 1u);
    EXPECT_EQ(onSide->view(), other.get());
    other->removeGestureRecognizer(onSide);
    EXPECT_EQ(onSide->view(), nullptr);
}

TEST_F(RecognizerTest, AnActionMayDetachItsRecogniser) {
    int calls = 0;
    auto r = std::make_shared<TapGestureRecognizer>(1);
    r->addTarget(this, [&](GestureRecognizer& g) {
        ++calls;
        g.view()->removeGestureRecognizer(g.shared_from_this());
    });
    window->addGestureRecognizer(r);
    r.reset();  // the window holds the only reference
    platform->tap({10, 10});
    platform->tap({10, 10});
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(window->gestureRecognizers().empty());
}

TEST_F(RecognizerTest, TapsFailWhenTheFingerWandersOrLingers) {
    std::vector<std::string> log;
    auto delegate = std::make_shared<AllowAll>();
    auto single = attach(std::make_shared<TapGestureRecognizer>(1), &log, "single");
    auto dbl = attach(std::make_shared<TapGestureRecognizer>(2), &log, "double");
    single->setDelegate(delegate);
    dbl->setDelegate(delegate);

    // Moved 30 points while down: a drag, not a tap.
    platform->swipe({100, 100}, {130, 100}, 0.5);
    // Held for two seconds: a long press, not a tap.
    TouchSynthesizer::Steps hold = TouchSynthesizer::tap({100, 100});
    hold.back().at = 2.0;
    platform->deliver(hold);
    EXPECT_TRUE(log.empty());

    // Three quick taps: three single taps, one double tap (on the second).
    TouchSynthesizer::Steps triple;
    for (int i = 0; i < 3; ++i) {
        for (auto st : TouchSynthesizer::tap({50, 50})) {
            st.at += 0.15 * i;
            triple.push_back(st);
        }
    }
    platform->deliver(triple);
    EXPECT_EQ(log, (std::vector<std::string>{"single 3", "single 3", "double 3", "single 3"}));

    // A second finger turns the sequence into something else than a tap.
    log.clear();
    platform->pinch({160, 300}, 100, 102);
    EXPECT_TRUE(log.empty());
}

TEST_F(RecognizerTest, NoKeyWindowDropsTouches) {
    std::vector<std::string> log;
    attach(std::make_shared<TapGestureRecognizer>(1), &log, "single");
    window->setHidden(true);
    platform->tap({10, 10});
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(platform->application().hitHistory().empty());
}

}  // namespace rivlo::testing
