#pragma once

#include "platform/Event.h"
#include "platform/Geometry.h"

#include <memory>
#include <optional>

namespace rivlo {

class Responder;
class View;
class Window;

// The hooks through which every touch and shake of the host reaches the library, installed in
// the toolkit's method tables when the library starts (once per process: they stay, inert
// outside a verified session, across a close and the next start):
//  - the window's "hitTest:withEvent:" (the TouchWindow category on UIWindow): runs the hit
//    test it replaced, then, once a session is verified, takes a point that differs from the
//    stored heat-map point as a new touch: attaches the gesture recognisers to the key window,
//    stores the point, and (while screen video is recorded) hands every secure text field of
//    the key window to the screen recorder;
//  - the responder's "motionEnded:withEvent:" (the Swizzle category on UIResponder, exchanged
//    with "rivlo_swizzled_motionEnded:withEvent:"): posts "shake" for a shake, then runs the
//    host's own handler.
// Both only observe: the hit view and the host's motion handling are never changed.
//
// Threads: the hooks run on the main thread, inside the toolkit's event dispatch.
class RVTouchHooks {
  public:
    static constexpr const char* kSwizzledMotionEnded = "rivlo_swizzled_motionEnded:withEvent:";
    static constexpr const char* kShakeNotification = "shake";

    // Installs both hooks, once per process (later calls do nothing). Any thread.
    static void install();
    static bool isInstalled();

    // The replacement window hit test (what the window's table entry runs): the replaced hit
    // test's answer, unchanged, after noteTouch.
    static std::shared_ptr<View> hitTest(View& window, Point point, const Event* event);
    // The recording part of the hit test: a new touch point (either coordinate differs from the
    // point of the previous touch this hook took) of a verified session attaches the
    // recognisers, becomes the heat-map point and, while screen video is on, triggers the
    // password-field scan. The hook keeps its own previous point rather than comparing with the
    // shared heat-map point, which the web view hook sets too: over a web view at the window's
    // origin the two points agree and no touch would ever attach the recognisers.
    static void noteTouch(Point point);
    // The same, with the point the touch is stored at as the heat-map point when it differs
    // from the window point (a touch in a web view).
    static void noteTouch(Point point, Point heatPoint);
    // The heat-map point of a touch at `point` of `window` whose hit test answered `hit`: in
    // the web view's own coordinates when the hit view is (inside) a web view, as the web
    // view's hook stores it, so that a web page's records carry one unit whichever hook ran
    // last; otherwise the window point.
    static Point heatMapPointOfTouch(View& window, Point point, View* hit);
    // After the recognisers were detached (a session stopped), the next touch is new even at
    // the previous point, so that it attaches them again. Main thread, after the detach.
    static void forgetPreviousTouch();
    // The window point of the last touch taken as new (the one the heat-map point belongs to),
    // when there is one. Main thread.
    static std::optional<Point> previousTouch();
    // Password-field scan: every secure text field below view, depth first, pre-order.
    static void listSubviewsOfView(View* view);
    // The replacement motion handler.
    static void rivlo_swizzled_motionEnded(Responder& self, int subtype, const Event* event);
};

}  // namespace rivlo
