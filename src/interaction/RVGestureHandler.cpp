#include "interaction/RVGestureHandler.h"
#include "interaction/RVTouchHooks.h"

#include "core/RVSessionSteps.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "platform/Application.h"
#include "platform/Device.h"
#include "platform/GestureRecognizer.h"
#include "platform/Platform.h"
#include "platform/View.h"
#include "platform/Window.h"
#include "screen/RVViewVideoHandler.h"
#include "timeline/RVHeatTimeHandler.h"

#include <cstdlib>

namespace rivlo {

namespace {
// Orientation records carry this in place of the four point values.
constexpr double kNoPoint = -999;
// A burst of orientation changes within this many seconds gives one record.
constexpr double kOrientationSettleSeconds = 0.1;
}  // namespace

// The recognisers' delegate: every answer is yes, so they recognise next to each other and
// next to the host's own recognisers, and see every touch.
class RVGestureHandler::Delegate final : public GestureRecognizerDelegate {
  public:
    bool gestureRecognizerShouldBegin(GestureRecognizer&) override { return true; }
    bool shouldRecognizeSimultaneously(GestureRecognizer&, GestureRecognizer&) override {
        return true;
    }
    bool shouldReceiveTouch(GestureRecognizer&, const Touch&) override { return true; }
};

RVGestureHandler* RVGestureHandler::sharedHandler() {
    static SharedInstance<RVGestureHandler> handler;
    return &handler.get([] { return new RVGestureHandler; });
}

RVGestureHandler::RVGestureHandler() : delegate_(std::make_shared<Delegate>()) {
    initializeGesture();
}

void RVGestureHandler::initializeGesture() {
    registered_.store(false);

    singleTap_ = std::make_shared<TapGestureRecognizer>(1);
    singleTap_->addTarget(this, [this](GestureRecognizer& r) { singleTapRecognizer(r); });
    doubleTap_ = std::make_shared<TapGestureRecognizer>(2);
    doubleTap_->addTarget(this, [this](GestureRecognizer& r) { doubleTapRecognizer(r); });

    auto swipe = [this](int direction) {
        auto recognizer = std::make_shared<SwipeGestureRecognizer>(direction);
        recognizer->addTarget(this, [this](GestureRecognizer& r) { recognizeGesture(r); });
        return recognizer;
    };
    swipeLeft_ = swipe(SwipeDirection::Left);
    swipeRight_ = swipe(SwipeDirection::Right);
    swipeUp_ = swipe(SwipeDirection::Up);
    swipeDown_ = swipe(SwipeDirection::Down);

    pinch_ = std::make_shared<PinchGestureRecognizer>();
    pinch_->addTarget(this, [this](GestureRecognizer& r) { pinchRecognizer(r); });

    list_ = {singleTap_, doubleTap_, swipeLeft_, swipeRight_, swipeUp_, swipeDown_, pinch_};
    for (const auto& recognizer : list_) {
        // Observe only: the host's views get every touch, undelayed, and nothing waits for
        // these recognisers to fail.
        recognizer->setDelegate(delegate_);
        recognizer->setCancelsTouchesInView(false);
        recognizer->setDelaysTouchesBegan(false);
        recognizer->setDelaysTouchesEnded(false);
    }
}

void RVGestureHandler::registerSessionSteps() {
    RVGestureSteps steps;
    steps.unregisterGestures = [] { sharedHandler()->unregisterGestures(); };
    steps.deviceOrientationDidChange = [](const Notification& notification) {
        sharedHandler()->deviceOrientationDidChange(notification);
    };
    RVSessionSteps::registerGestures(std::move(steps));
}

// ---- Attaching ---------------------------------------------------------------------------------

void RVGestureHandler::registerGesture() {
    auto application = Platform::current().application();
    std::shared_ptr<Window> window = application ? application->keyWindow() : nullptr;
    if (!window) return;
    for (const auto& recognizer : list_)
        window->addGestureRecognizer(recognizer);
    registered_.store(true);
}

void RVGestureHandler::unregisterGestures() {
    registered_.store(false);
    // Views belong to the main thread; the controller calls this from its stopping thread.
    RunLoop::main().runOrPost([this] {
        for (const auto& recognizer : list_) {
            if (View* view = recognizer->view()) view->removeGestureRecognizer(recognizer);
        }
        registered_.store(false);
        // Only now, after the detach: the next touch is new even at the previous point and
        // attaches them again. Forgotten any earlier, a touch that lands between the request
        // and the detach would use up the forgetting and attach them just before they are
        // taken off, and the next session's first touch at that point would attach nothing.
        RVTouchHooks::forgetPreviousTouch();
    });
}

// ---- Actions -----------------------------------------------------------------------------------

void RVGestureHandler::singleTapRecognizer(GestureRecognizer&) {
    recordGestureType(RVGestureCode::Tap, RVTimelineEvent::SingleTap);
}

void RVGestureHandler::doubleTapRecognizer(GestureRecognizer&) {
    recordGestureType(RVGestureCode::Tap, RVTimelineEvent::DoubleTap);
}

int RVGestureHandler::mappedSwipeDirection(int interfaceOrientation, int reported) {
    using namespace SwipeDirection;
    // Rows: interface orientation 1-4; columns: reported right, left, up, down.
    static constexpr int table[4][4] = {
        {Right, Left, Up, Down},  // portrait
        {Left, Right, Down, Up},  // upside down
        {Up, Down, Left, Right},  // landscape, home button right
        {Down, Up, Right, Left},  // landscape, home button left
    };
    int column;
    switch (reported) {
        case Right:
            column = 0;
            break;
        case Left:
            column = 1;
            break;
        case Up:
            column = 2;
            break;
        case Down:
            column = 3;
            break;
        default:
            return 0;
    }
    if (interfaceOrientation < 1 || interfaceOrientation > 4) return 0;
    return table[interfaceOrientation - 1][column];
}

void RVGestureHandler::recognizeGesture(GestureRecognizer& recognizer) {
    auto* swipe = dynamic_cast<SwipeGestureRecognizer*>(&recognizer);
    if (!swipe) return;
    auto application = Platform::current().application();
    const int orientation = application ? application->statusBarOrientation() : 0;
    switch (mappedSwipeDirection(orientation, swipe->direction())) {
        case SwipeDirection::Right:
            swipeRecognizerRight(recognizer);
            break;
        case SwipeDirection::Left:
            swipeRecognizerLeft(recognizer);
            break;
        case SwipeDirection::Up:
            swipeRecognizerUp(recognizer);
            break;
        case SwipeDirection::Down:
            swipeRecognizerDown(recognizer);
            break;
        default:
            break;
    }
}

void RVGestureHandler::swipeRecognizerLeft(GestureRecognizer&) {
    recordGestureType(RVGestureCode::SwipeLeft, RVTimelineEvent::SwipeLeft);
}

void RVGestureHandler::swipeRecognizerRight(GestureRecognizer&) {
    recordGestureType(RVGestureCode::SwipeRight, RVTimelineEvent::SwipeRight);
}

void RVGestureHandler::swipeRecognizerUp(GestureRecognizer&) {
    recordGestureType(RVGestureCode::SwipeUp, RVTimelineEvent::SwipeUp);
}

void RVGestureHandler::swipeRecognizerDown(GestureRecognizer&) {
    recordGestureType(RVGestureCode::SwipeDown, RVTimelineEvent::SwipeDown);
}

void RVGestureHandler::pinchRecognizer(GestureRecognizer& recognizer) {
    auto* pinch = dynamic_cast<PinchGestureRecognizer*>(&recognizer);
    if (!pinch || pinch->state() != GestureState::Ended) return;
    // A pinch happens between its fingers, not at the last finger that came down: it is
    // placed at the centre the recogniser reports.
    const Point centre = pinch->locationInView(nullptr);
    if (pinch->scale() >= 1.0) {
        recordGestureType(RVGestureCode::PinchOut, RVTimelineEvent::PinchOut, centre);
    } else {
        recordGestureType(RVGestureCode::PinchIn, RVTimelineEvent::PinchIn, centre);
    }
}

// ---- Recording ---------------------------------------------------------------------------------

namespace {

// A visit record of the current screen, as the timeline takes it.
std::shared_ptr<RVHeatTimeDetail> detailForCurrentScreen(RVHeatTimeHandler* heat) {
    auto screen = heat->vcDetailCreatingIfNeeded();
    return std::make_shared<RVHeatTimeDetail>(screen->vcName(), screen->appearTime(),
                                              screen->isVcNameIsUrl());
}

double timelineSecond() {
    return static_cast<double>(
        std::strtol(RVHeatTimeHandler::timeLineTimer().c_str(), nullptr, 10));
}

}  // namespace

void RVGestureHandler::recordGestureType(int32_t gesture, int32_t timelineConstant,
                                         std::optional<Point> at) {
    // The recognisers may still be attached while a new session waits for its verification
    // (a restart or an activation after a stop): the window hook stores no point for those
    // touches, so a record would carry the previous session's point into the new timeline.
    if (!RVUtil::isInfoPostSuccess()) return;
    RVViewVideoHandler::setCurrentGesture(gesture);

    auto* heat = RVHeatTimeHandler::sharedHandler();
    const std::string screenName = heat->vcDetailCreatingIfNeeded()->vcName();
    const bool isWebPage = RVUtil::setting()->isValidUrl(screenName);
    auto detail = detailForCurrentScreen(heat);

    Point heatPoint = heat->heatMapPoint();
    Point point = isWebPage ? heat->webViewHeatMapPoint() : heatPoint;
    if (at) {
        // The stored points belong to the last new touch, in window or web-view units that
        // differ from the window's by an offset only: moved by the way from it to `at`.
        if (const auto touch = RVTouchHooks::previousTouch()) {
            const double dx = at->x - touch->x;
            const double dy = at->y - touch->y;
            heatPoint = Point{heatPoint.x + dx, heatPoint.y + dy};
            point = Point{point.x + dx, point.y + dy};
        }
    }
    detail->coordinateList()->append({point.x, point.y, static_cast<double>(RVUtil::orientation()),
                                      static_cast<double>(timelineConstant), 1, timelineSecond(),
                                      heatPoint.x, heatPoint.y});
    heat->addTimeLine(detail);
}

void RVGestureHandler::deviceOrientationDidChange(const Notification&) {
    auto device = Platform::current().device();
    if (!device) return;
    const int orientation = device->orientation();
    if (orientation == DeviceOrientation::Unknown || orientation == DeviceOrientation::FaceUp ||
        orientation == DeviceOrientation::FaceDown) {
        return;
    }
    if (currentOrientation_.exchange(orientation) == orientation) return;

    DelayedCall previous;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        previous = pendingOrientation_;
    }
    previous.cancel();
    DelayedCall next =
        RunLoop::main().postAfter(kOrientationSettleSeconds, [this] { orientationChanged(); });
    std::lock_guard<std::mutex> lock(pendingMutex_);
    pendingOrientation_ = next;
}

void RVGestureHandler::orientationChanged() {
    auto* heat = RVHeatTimeHandler::sharedHandler();
    auto detail = detailForCurrentScreen(heat);
    detail->coordinateList()->append({kNoPoint, kNoPoint,
                                      static_cast<double>(RVUtil::orientation()),
                                      static_cast<double>(RVTimelineEvent::OrientationChange), 1,
                                      timelineSecond(), kNoPoint, kNoPoint});
    heat->addTimeLine(detail);
}

}  // namespace rivlo
