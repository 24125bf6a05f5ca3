#include "webview/RVWebViewHooks.h"

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "platform/Application.h"
#include "platform/Runtime.h"
#include "platform/WebView.h"
#include "timeline/RVHeatTimeHandler.h"
#include "timeline/RVVCDetail.h"
#include "webview/RVWebView.h"
#include "webview/RVWebViewHandler.h"

#include <atomic>
#include <mutex>

namespace rivlo {

namespace {

std::atomic<bool> gInstalled{false};

// The web view class's own hit-test entry before the hook replaced it (none for the toolkit's
// web view, which inherits the view's). Written once, before the hook's entry is in the table.
IMP gReplacedHitTest;

std::mutex gMutex;
std::string gCurrentURL;    // guarded by gMutex
Point gLastContentPoint{};  // guarded by gMutex

// The view whose bounds are the page. The toolkit answers a hit inside the page with the
// content view or with one of the views the page is drawn with; a hit beside a short page
// answers the scroll view. The page is the content view in every case; without a hit view
// (a hidden or disabled web view) there is no content.
View* pageView(WebView* web, const std::shared_ptr<View>& hit) {
    if (!hit) return nullptr;
    auto content = web->contentView();
    return content ? content.get() : hit.get();
}

}  // namespace

void RVWebViewHooks::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        ObjClass* web = WebView::classObject();
        if (MethodRef own = web->ownMethod(Selector::hitTestWithEvent)) {
            gReplacedHitTest = own->implementation();
        }
        web->replaceMethod(
            Selector::hitTestWithEvent,
            makeImplementation<View::HitTestFn>([](View& self, Point point, const Event* event) {
                return RVWebViewHooks::hitTest(self, point, event);
            }));
        // Observed for the life of the process.
        NotificationCenter::defaultCenter().addObserver(
            ApplicationNotification::DidBecomeActive, nullptr,
            [](const Notification&) { applicationDidBecomeActive(); });
        // The registry observes activation from its creation on.
        RVWebViewHandler::sharedHandler();
        gInstalled.store(true);
    });
}

bool RVWebViewHooks::isInstalled() {
    return gInstalled.load();
}

std::shared_ptr<View> RVWebViewHooks::hitTest(View& self, Point point, const Event* event) {
    // The hit test the hook replaced: the web view class's own one, else its superclass's.
    IMP imp = gReplacedHitTest;
    if (!imp) {
        ObjClass* super = WebView::classObject()->superclass();
        imp = super ? super->lookup(Selector::hitTestWithEvent) : nullptr;
    }
    std::shared_ptr<View> hit =
        invokeImplementation<View::HitTestFn>(imp, Selector::hitTestWithEvent, self, point, event);
    noteTouch(self, point, hit);
    return hit;
}

void RVWebViewHooks::noteTouch(View& self, Point point, const std::shared_ptr<View>& hit) {
    // Touches count only once this session's verification has succeeded.
    if (!RVUtil::isInfoPostSuccess()) return;
    auto* web = dynamic_cast<WebView*>(&self);
    if (!web) return;

    Point offset{};
    if (auto scroll = web->scrollView()) offset = scroll->contentOffset();
    const Point content{offset.x + point.x, offset.y + point.y};
    {
        // The platform hit-tests one touch several times: one content point is handled once.
        std::lock_guard lock(gMutex);
        if (content == gLastContentPoint) return;
    }

    const std::string address = web->stringByEvaluatingJavaScript(kDocumentURLScript);
    const std::string key = format("%s%s%d", address.c_str(), "__", RVUtil::webViewOrientaion());
    {
        std::lock_guard lock(gMutex);
        gCurrentURL = key;
    }

    auto* heat = RVHeatTimeHandler::sharedHandler();
    if (RVWebViewHandler::isNewWebView(key)) {
        // A page first touched (in this orientation): a screen of its own, appearing now.
        auto screen = std::make_shared<RVVCDetail>();
        screen->setWillAppearVCName(address);
        screen->setIsVcNameIsUrl(true);
        heat->setVcDetail(screen);
    }

    auto record = RVWebViewHandler::sharedHandler()->webViewForKey(key);
    View* page = pageView(web, hit);
    record->loadExpectedGrid(page);
    record->screenshotHandler(content, page);

    heat->setWebViewHeatMapPoint(content);
    heat->setHeatMapPoint(point);
    std::lock_guard lock(gMutex);
    gLastContentPoint = content;
}

std::string RVWebViewHooks::currentURL() {
    std::lock_guard lock(gMutex);
    return gCurrentURL;
}

Point RVWebViewHooks::lastContentPoint() {
    std::lock_guard lock(gMutex);
    return gLastContentPoint;
}

void RVWebViewHooks::applicationDidBecomeActive() {
    std::lock_guard lock(gMutex);
    gCurrentURL.clear();
}

}  // namespace rivlo
