#pragma once

#include "platform/Event.h"
#include "platform/Geometry.h"

#include <functional>
#include <memory>
#include <vector>

namespace rivlo {

class View;
class GestureRecognizer;

// States: possible 0, began 1, changed 2, ended 3 (= recognised), cancelled 4, failed 5.
enum class GestureState {
    Possible = 0,
    Began = 1,
    Changed = 2,
    Ended = 3,
    Recognized = 3,
    Cancelled = 4,
    Failed = 5
};

// Answers a recogniser asks of its delegate. Defaults answer true.
class GestureRecognizerDelegate {
  public:
    virtual ~GestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) { return true; }
    virtual bool shouldRecognizeSimultaneously(GestureRecognizer& recognizer,
                                               GestureRecognizer& other) {
        return true;
    }
    virtual bool shouldReceiveTouch(GestureRecognizer& recognizer, const Touch& touch) {
        return true;
    }
};

// A recogniser attached to a view. The toolkit feeds it the touches of its view's window and
// moves it through its states; at each recognised (or began/changed/ended for continuous
// gestures) step it calls every target's action on the main thread. Main thread only.
class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
  public:
    using Action = std::function<void(GestureRecognizer& recognizer)>;
    enum class Kind { Tap, Swipe, Pinch };

    virtual ~GestureRecognizer() = default;
    virtual Kind kind() const = 0;

    // Target-action pairs; the target is an identity used only for removal.
    void addTarget(const void* target, Action action);
    void removeTarget(const void* target);
    size_t targetCount() const { return targets_.size(); }

    // The delegate is not owned.
    std::weak_ptr<GestureRecognizerDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate) { delegate_ = delegate; }

    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool v) { cancelsTouchesInView_ = v; }
    bool delaysTouchesBegan() const { return delaysTouchesBegan_; }
    void setDelaysTouchesBegan(bool v) { delaysTouchesBegan_ = v; }
    bool delaysTouchesEnded() const { return delaysTouchesEnded_; }
    void setDelaysTouchesEnded(bool v) { delaysTouchesEnded_ = v; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool v) { enabled_ = v; }

    // The view it is attached to, or null.
    View* view() const { return view_; }
    GestureState state() const { return state_; }
    // Where the gesture happened (the centroid of its touches), in the given view's
    // coordinates (window coordinates for null).
    Point locationInView(const View* view) const;

    // Toolkit side: the recognising engine sets the state and location and sends the actions.
    void setState(GestureState state) { state_ = state; }
    void setLocationInWindow(Point p) { locationInWindow_ = p; }
    void sendActions();

  private:
    friend class View;  // attaches and detaches
    struct Target {
        const void* target;
        Action action;
    };
    std::vector<Target> targets_;
    std::weak_ptr<GestureRecognizerDelegate> delegate_;
    bool cancelsTouchesInView_ = true;
    bool delaysTouchesBegan_ = false;
    bool delaysTouchesEnded_ = true;
    bool enabled_ = true;
    View* view_ = nullptr;
    GestureState state_ = GestureState::Possible;
    Point locationInWindow_;
};

// Recognises a number of taps in a row (1 single, 2 double ...). Discrete.
class TapGestureRecognizer : public GestureRecognizer {
  public:
    explicit TapGestureRecognizer(int numberOfTapsRequired = 1)
        : numberOfTapsRequired_(numberOfTapsRequired < 1 ? 1 : numberOfTapsRequired) {}
    Kind kind() const override { return Kind::Tap; }
    int numberOfTapsRequired() const { return numberOfTapsRequired_; }
    void setNumberOfTapsRequired(int n) { numberOfTapsRequired_ = n < 1 ? 1 : n; }

  private:
    int numberOfTapsRequired_;
};

// Swipe directions: right 1, left 2, up 4, down 8 (a mask).
namespace SwipeDirection {
inline constexpr int Right = 1;
inline constexpr int Left = 2;
inline constexpr int Up = 4;
inline constexpr int Down = 8;
}  // namespace SwipeDirection

// Recognises a quick single-finger move in one of its directions. Discrete; while it fires,
// direction() is the recogniser's configured direction.
class SwipeGestureRecognizer : public GestureRecognizer {
  public:
    explicit SwipeGestureRecognizer(int direction = SwipeDirection::Right)
        : direction_(direction) {}
    Kind kind() const override { return Kind::Swipe; }
    int direction() const { return direction_; }
    void setDirection(int d) { direction_ = d; }

  private:
    int direction_;
};

// Recognises two fingers moving apart or together. Continuous: began, changed..., ended (or
// cancelled); scale is the distance between the fingers relative to the start.
class PinchGestureRecognizer : public GestureRecognizer {
  public:
    Kind kind() const override { return Kind::Pinch; }
    double scale() const { return scale_; }
    void setScale(double s) { scale_ = s; }
    double velocity() const { return velocity_; }
    void setVelocity(double v) { velocity_ = v; }

  private:
    double scale_ = 1.0;
    double velocity_ = 0;
};

}  // namespace rivlo
