#pragma once

#include "platform/Event.h"
#include "platform/Geometry.h"

#include <memory>
#include <string>

namespace rivlo {

class View;

// The web view's "hitTest:withEvent:" hook (the RvInteraction category on UIWebView), installed
// in the toolkit's method tables when the library first starts. It runs the hit test it replaced
// and answers its result unchanged; once a session is verified, every new touch point in a web
// view (a content point that differs from the previous one) is turned into the page's content
// coordinates (scroll offset plus point) and:
//  - names the registry key: page address ("document.URL"), "__", orientation digit;
//  - names the current screen after the page address the first time the page (in this
//    orientation) is touched since the registry was emptied;
//  - computes the page's grid and captures the tile under the point (RVWebView);
//  - stores the content point and the touch point as the heat-map points of the timeline.
//
// Threads: the hook runs on the main thread, inside the toolkit's event dispatch. The
// process-wide values (currentURL, last content point) are guarded and may be read anywhere.
class RVWebViewHooks {
  public:
    static constexpr const char* kDocumentURLScript = "document.URL";

    // Installs the hook and the activation observer, once per process. Any thread.
    static void install();
    static bool isInstalled();

    // The replacement hit test (what the web view class's table entry runs).
    static std::shared_ptr<View> hitTest(View& self, Point point, const Event* event);
    // The recording part of the hit test, given the view the hit test found (may be null).
    static void noteTouch(View& webView, Point point, const std::shared_ptr<View>& hit);

    // The registry key of the latest touch ("" after each activation).
    static std::string currentURL();
    // The content point of the latest touch ((0, 0) initially).
    static Point lastContentPoint();
    // Activation: forgets the current address.
    static void applicationDidBecomeActive();
};

}  // namespace rivlo
