#include "HeadlessTestMain.h"

#include "platform/WebView.h"

#include <cmath>

namespace rivlo::testing {

namespace {
class HitTestTest : public HeadlessTest {};
}  // namespace

TEST_F(HitTestTest, FindsTheDeepestFrontmostInteractiveView) {
    auto window = platform->makeKeyWindow();
    auto panel = std::make_shared<View>(Rect(20, 100, 200, 200));
    auto button = std::make_shared<View>(Rect(10, 10, 80, 40));   // (30,110)-(110,150) on screen
    auto overlay = std::make_shared<View>(Rect(50, 10, 80, 40));  // overlaps the button, in front
    panel->addSubview(button);
    panel->addSubview(overlay);
    window->addSubview(panel);

    EXPECT_EQ(window->hitTest({40, 120}, nullptr), button);
    EXPECT_EQ(window->hitTest({80, 120}, nullptr), overlay);  // front to back
    EXPECT_EQ(window->hitTest({150, 250}, nullptr), panel);
    EXPECT_EQ(window->hitTest({5, 5}, nullptr), window);
    EXPECT_EQ(window->hitTest({-1, 5}, nullptr), nullptr);
    // Edges: left/top inside, right/bottom outside.
    EXPECT_EQ(window->hitTest({30, 110}, nullptr), button);
    EXPECT_EQ(window->hitTest({69.99, 149.99}, nullptr), button);

    overlay->setHidden(true);
    EXPECT_EQ(window->hitTest({80, 120}, nullptr), button);
    button->setUserInteractionEnabled(false);
    EXPECT_EQ(window->hitTest({40, 120}, nullptr), panel);
    panel->setAlpha(0.0);
    EXPECT_EQ(window->hitTest({40, 120}, nullptr), window);
}

TEST_F(HitTestTest, ConvertsThroughBoundsOffsetsAndTransforms) {
    auto window = platform->makeKeyWindow();
    auto scroller = std::make_shared<ScrollView>(Rect(0, 100, 320, 200));
    scroller->setContentSize({320, 1000});
    auto item = std::make_shared<View>(Rect(0, 400, 320, 50));
    scroller->addSubview(item);
    window->addSubview(scroller);
    scroller->setContentOffset({0, 350});
    // The item's top is now 50 points into the scroller, 150 on screen.
    Rect inWindow = item->convertRectToView(item->bounds(), nullptr);
    EXPECT_DOUBLE_EQ(inWindow.minY(), 150);
    EXPECT_EQ(window->hitTest({10, 160}, nullptr), item);
    scroller->setContentOffset({0, 5000});  // clamped to the content
    EXPECT_DOUBLE_EQ(scroller->contentOffset().y, 800);

    auto rotated = std::make_shared<View>(Rect(100, 400, 100, 20));
    rotated->setTransform(AffineTransform::makeRotation(M_PI / 2));
    window->addSubview(rotated);
    // Turned a quarter: now 20 wide and 100 tall around the same centre (150, 410).
    Rect f = rotated->frame();
    EXPECT_NEAR(f.width(), 20, 1e-9);
    EXPECT_NEAR(f.height(), 100, 1e-9);
    EXPECT_EQ(window->hitTest({150, 450}, nullptr), rotated);
    EXPECT_EQ(window->hitTest({190, 410}, nullptr), window);
    Point back = rotated->convertPointFromView({150, 450}, nullptr);
    Point there = rotated->convertPointToView(back, nullptr);
    EXPECT_NEAR(there.x, 150, 1e-9);
    EXPECT_NEAR(there.y, 450, 1e-9);
}

TEST_F(HitTestTest, WebViewAnswersItsContentViewAndScrolls) {
    auto window = platform->makeKeyWindow();
    auto web = std::make_shared<WebView>(Rect(0, 64, 320, 504));
    window->addSubview(web);
    web->loadPage("https://example.com/list", {320, 1500});
    EXPECT_EQ(window->hitTest({100, 100}, nullptr), web->contentView());
    EXPECT_EQ(web->stringByEvaluatingJavaScript("document.URL"), "https://example.com/list");
    EXPECT_EQ(web->stringByEvaluatingJavaScript(" document.URL; "), "https://example.com/list");
    EXPECT_EQ(web->stringByEvaluatingJavaScript("document.title"), "");
    web->scrollView()->setContentOffset({0, 300});
    EXPECT_DOUBLE_EQ(web->scrollView()->contentOffset().y, 300);
    Point inContent = web->contentView()->convertPointFromView({100, 100}, nullptr);
    EXPECT_DOUBLE_EQ(inContent.y, 100 - 64 + 300);
    web->loadPage("https://example.com/next", {320, 200});
    EXPECT_DOUBLE_EQ(web->scrollView()->contentOffset().y, 0);
    EXPECT_EQ(web->contentView()->bounds().size, (Size{320, 200}));
}

TEST_F(HitTestTest, KeyWindowRules) {
    auto& app = platform->application();
    EXPECT_EQ(app.keyWindow(), nullptr);
    auto first = platform->makeKeyWindow();
    EXPECT_TRUE(first->isKeyWindow());
    auto second = std::make_shared<Window>(Rect(0, 0, 320, 20));
    second->setWindowLevel(WindowLevelStatusBar);
    second->setHidden(false);  // visible but not key
    EXPECT_EQ(app.keyWindow(), first);
    EXPECT_EQ(app.windows().size(), 2u);
    EXPECT_EQ(app.windows().back(), second);  // ordered by level
    second->makeKeyAndVisible();
    EXPECT_EQ(app.keyWindow(), second);
    EXPECT_FALSE(first->isKeyWindow());
    second->setHidden(true);  // the key goes back to the window that had it
    EXPECT_EQ(app.keyWindow(), first);
    EXPECT_EQ(app.windows().size(), 1u);
    first->setHidden(true);
    EXPECT_EQ(app.keyWindow(), nullptr);
}

TEST_F(HitTestTest, TreeEditsKeepLinksConsistent) {
    auto window = platform->makeKeyWindow();
    auto a = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto b = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(a);
    a->addSubview(b);
    EXPECT_EQ(b->window(), window.get());
    b->addSubview(a);  // a cycle is refused
    EXPECT_EQ(a->superview(), window.get());
    window->addSubview(b);  // moves b
    EXPECT_TRUE(a->subviews().empty());
    EXPECT_EQ(b->superview(), window.get());
    b->removeFromSuperview();
    EXPECT_EQ(b->superview(), nullptr);
    EXPECT_EQ(b->window(), nullptr);
    {
        auto parent = std::make_shared<View>();
        parent->addSubview(b);
    }
    EXPECT_EQ(b->superview(), nullptr);  // the destroyed parent cleared the link
}

TEST_F(HitTestTest, ConvertsBetweenWindowsThroughTheScreen) {
    auto top = platform->makeKeyWindow();
    auto bar = std::make_shared<Window>(Rect(0, 0, 320, 20));
    bar->setHidden(false);
    auto lower = std::make_shared<Window>(Rect(0, 100, 320, 200));
    lower->setHidden(false);
    auto inLower = std::make_shared<View>(Rect(10, 10, 50, 50));
    lower->addSubview(inLower);
    // (10,10) in `lower` is (10,110) on the screen, which is (10,110) in the full-screen window.
    Point p = inLower->convertPointToView({0, 0}, top.get());
    EXPECT_EQ(p, (Point{10, 110}));
    Rect r = inLower->convertRectToView(inLower->bounds(), bar.get());
    EXPECT_EQ(r, Rect(10, 110, 50, 50));
    EXPECT_EQ(top->convertRectFromView(Rect(0, 0, 5, 5), inLower.get()), Rect(10, 110, 5, 5));
}

TEST_F(HitTestTest, AnimationsApplyAtOnceAndCompleteOnTheRunLoop) {
    auto v = std::make_shared<View>(Rect(0, 0, 10, 10));
    bool finished = false;
    View::animate(
        0.05, [&] { v->setAlpha(0.2); }, [&](bool f) { finished = f; });
    EXPECT_DOUBLE_EQ(v->alpha(), 0.2);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return finished; }, std::chrono::seconds(5)));
    v->setAlpha(7);
    EXPECT_DOUBLE_EQ(v->alpha(), 1.0);
    v->setAlpha(NAN);
    EXPECT_DOUBLE_EQ(v->alpha(), 1.0);
}

// Subviews the point misses are passed over without a dispatch, unless their class has a hook
// of its own: the hook still sees its call (and may answer a view outside), and a hook added
// or removed later is honoured at once.
TEST_F(HitTestTest, AHookOnASubviewsClassRunsEvenWhereThePointMissesIt) {
    auto window = platform->makeKeyWindow();
    ObjClass* hooked = ObjClass::define("HitTestHookedView", View::classObject());
    auto plain = std::make_shared<View>(Rect(0, 0, 50, 50));
    auto far = std::make_shared<View>(Rect(200, 200, 50, 50), hooked);
    window->addSubview(plain);
    window->addSubview(far);
    EXPECT_EQ(window->hitTest({10, 10}, nullptr), plain);  // no hook yet: passed over

    int calls = 0;
    IMP base = View::classObject()->lookup(Selector::hitTestWithEvent);
    ASSERT_TRUE(hooked->addMethod(
        Selector::hitTestWithEvent,
        makeImplementation<View::HitTestFn>([&](View& self, Point p, const Event* event) {
            ++calls;
            // Answers itself for any point left of x = 20 in the window.
            if (p.x < 20 - 200) return self.sharedView();
            return invokeImplementation<View::HitTestFn>(base, Selector::hitTestWithEvent, self, p,
                                                         event);
        })));
    EXPECT_EQ(window->hitTest({10, 10}, nullptr), far);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(window->hitTest({30, 30}, nullptr), plain);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(window->hitTest({210, 210}, nullptr), far);

    // Back to the toolkit's entry: passed over again.
    hooked->replaceMethod(Selector::hitTestWithEvent, base);
    calls = 0;
    EXPECT_EQ(window->hitTest({10, 10}, nullptr), plain);
    EXPECT_EQ(calls, 0);
}

}  // namespace rivlo::testing
