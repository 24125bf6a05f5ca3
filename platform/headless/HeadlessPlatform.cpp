#include "platform/headless/HeadlessPlatform.h"

#include "platform/Platform.h"

#include <algorithm>

namespace rivlo {

std::shared_ptr<HeadlessPlatform> HeadlessPlatform::install(HeadlessProfile profile) {
    std::shared_ptr<HeadlessPlatform> p(new HeadlessPlatform);
    p->device_ = std::make_shared<HeadlessDevice>(profile);
    p->application_ =
        std::make_shared<HeadlessApplication>(p->device_, profile.backgroundTaskAllowance);
    p->reachability_ = std::make_shared<HeadlessReachability>(profile.network);
    p->exceptions_ = std::make_shared<HeadlessExceptionSlot>();
    p->graphics_ = std::make_shared<CairoGraphics>(profile.screenScale);
    PlatformServices services;
    services.application = p->application_;
    services.device = p->device_;
    services.graphics = p->graphics_;
    services.reachability = p->reachability_;
    services.exceptionHandler = p->exceptions_;
    Platform::current().install(std::move(services));
    p->capture_ = std::make_shared<HeadlessCapture>(p->device_, profile);
    Platform::current().setService<CaptureDeviceDiscovery>(p->capture_);
    return p;
}

HeadlessPlatform::~HeadlessPlatform() {
    auto& platform = Platform::current();
    if (platform.application() == application_) platform.install({});
    if (platform.service<CaptureDeviceDiscovery>() == capture_) {
        platform.setService<CaptureDeviceDiscovery>(nullptr);
    }
}

std::shared_ptr<Window> HeadlessPlatform::makeKeyWindow() {
    auto w = std::make_shared<Window>(device_->screenBounds());
    w->setBackgroundColor(Color::white());
    w->makeKeyAndVisible();
    return w;
}

void HeadlessPlatform::deliver(const TouchSynthesizer::Steps& steps) {
    TouchSynthesizer::deliverNow(*application_, steps, virtualClock_);
    double last = 0;
    for (const auto& s : steps)
        last = std::max(last, s.at);
    virtualClock_ += last + 1.0;
}

void HeadlessPlatform::tap(Point p) {
    deliver(TouchSynthesizer::tap(p));
}
void HeadlessPlatform::doubleTap(Point p) {
    deliver(TouchSynthesizer::doubleTap(p));
}
void HeadlessPlatform::swipe(Point from, Point to, double duration) {
    deliver(TouchSynthesizer::swipe(from, to, duration));
}
void HeadlessPlatform::pinch(Point center, double d0, double d1, bool cancel) {
    deliver(TouchSynthesizer::pinch(center, d0, d1, 0.4, 8, cancel));
}

Image HeadlessPlatform::snapshot(View& view, double scale) {
    auto ctx = graphics_->makeBitmapContext(view.bounds().size, true, scale);
    if (!ctx) return Image();
    ctx->drawViewHierarchy(view, Rect({0, 0}, view.bounds().size), true);
    return ctx->makeImage();
}

}  // namespace rivlo
