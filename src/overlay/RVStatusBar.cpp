#include "overlay/RVStatusBar.h"

#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "platform/Application.h"
#include "platform/Platform.h"

#include <chrono>
#include <cmath>

namespace rivlo {
namespace {

constexpr double kStripDepth = 20;
constexpr double kDotSize = 10;
constexpr double kDotOffset = 30;
constexpr double kDotTop = 5;
constexpr double kFadeSeconds = 0.4;
constexpr double kSelfDismissSeconds = 2.0;

Color labelGrey() {
    return {191 / 255.0, 191 / 255.0, 191 / 255.0, 1.0};
}

}  // namespace

RVStatusBar::RVStatusBar(const Rect& frame) : View(frame) {
    setAlpha(0);
    setBackgroundColor(std::nullopt);
    setUserInteractionEnabled(false);
}

std::shared_ptr<RVStatusBar> RVStatusBar::sharedView() {
    // Lives until the library closes, which takes it off the screen.
    static SharedInstance<std::shared_ptr<RVStatusBar>> shared;
    return shared.get(
        [] {
            return new std::shared_ptr<RVStatusBar>(std::make_shared<RVStatusBar>(screenBounds()));
        },
        [](std::shared_ptr<RVStatusBar>& view) { view->takeOffScreen(); });
}

// ---- Class methods: any thread, the work on the main thread --------------------------------

void RVStatusBar::showWithStatus(const std::string& status) {
    RunLoop::main().post([status] {
        auto view = sharedView();
        view->showWithStatus(status, redColor(), Color::white());
        view->handleRoration();
    });
}

void RVStatusBar::showSuccessWithStatus(const std::string& status) {
    showWithStatus(status);
    RunLoop::main().postAfter(std::chrono::duration<double>(kSelfDismissSeconds),
                              [] { sharedView()->dismissOverlay(); });
}

void RVStatusBar::showErrorWithStatus(const std::string& status) {
    RunLoop::main().post(
        [status] { sharedView()->showWithStatus(status, errorColor(), Color::white()); });
    RunLoop::main().postAfter(std::chrono::duration<double>(kSelfDismissSeconds),
                              [] { sharedView()->dismissOverlay(); });
}

void RVStatusBar::dismiss() {
    RunLoop::main().post([] { sharedView()->dismissOverlay(); });
}

// ---- Main thread ------------------------------------------------------------------------------

int RVStatusBar::statusBarOrientation() {
    auto application = Platform::current().application();
    return application ? application->statusBarOrientation() : InterfaceOrientation::Portrait;
}

Rect RVStatusBar::screenBounds() {
    auto device = Platform::current().device();
    return device ? device->screenBounds() : Rect(0, 0, 320, 480);
}

double RVStatusBar::rotation() const {
    switch (statusBarOrientation()) {
        case InterfaceOrientation::PortraitUpsideDown:
            return M_PI;
        case InterfaceOrientation::LandscapeRight:
            return M_PI / 2;
        case InterfaceOrientation::LandscapeLeft:
            return -M_PI / 2;
        default:
            return 0;
    }
}

Size RVStatusBar::rotatedSize() const {
    const Size size = screenBounds().size;
    const int orientation = statusBarOrientation();
    if (orientation == InterfaceOrientation::LandscapeRight ||
        orientation == InterfaceOrientation::LandscapeLeft) {
        return {size.height, size.width};
    }
    return size;
}

Point RVStatusBar::windowOriginForOrientation(int orientation, Size screen) {
    switch (orientation) {
        case InterfaceOrientation::PortraitUpsideDown:
            return {0, screen.height - kStripDepth};
        case InterfaceOrientation::LandscapeRight:
            return {screen.width - kStripDepth, 0};
        default:  // portrait, landscape left, and anything unknown
            return {0, 0};
    }
}

void RVStatusBar::layoutWindow(Window& window, bool atCreation) {
    window.setTransform(AffineTransform::makeRotation(rotation()));
    window.setBounds(Rect(0, 0, rotatedSize().width, kStripDepth));
    // The frame's size follows from the bounds and the rotation; only its origin is placed.
    const Size size = window.frame().size;
    const Point origin =
        atCreation ? Point{0, 0}
                   : windowOriginForOrientation(statusBarOrientation(), screenBounds().size);
    window.setCenter({origin.x + size.width / 2, origin.y + size.height / 2});
}

std::shared_ptr<Window> RVStatusBar::overlayWindow() {
    if (overlayWindow_) return overlayWindow_;
    auto window = std::make_shared<Window>(screenBounds());
    window->setBackgroundColor(std::nullopt);
    window->setUserInteractionEnabled(false);
    window->setWindowLevel(WindowLevelStatusBar);
    layoutWindow(*window, true);
    overlayWindow_ = window;
    if (!observingOrientation_) {
        // One registration while the view lives (close frees it and the notification centre).
        observingOrientation_ = true;
        NotificationCenter::defaultCenter().addObserver(
            ApplicationNotification::DidChangeStatusBarOrientation, nullptr,
            [](const Notification&) {
                RunLoop::main().runOrPost([] { sharedView()->handleRoration(); });
            });
    }
    return overlayWindow_;
}

std::shared_ptr<View> RVStatusBar::topBar() {
    if (topBar_) return topBar_;
    topBar_ = std::make_shared<View>(
        Rect(rotatedSize().width / 2 + kDotOffset, kDotTop, kDotSize, kDotSize));
    overlayWindow()->addSubview(topBar_);
    return topBar_;
}

std::shared_ptr<Label> RVStatusBar::stringLabel() {
    if (!stringLabel_) {
        auto label = std::make_shared<Label>(Rect());
        label->setTextColor(labelGrey());
        label->setBackgroundColor(std::nullopt);
        label->setTextAlignment(TextAlignment::Center);
        label->setBold(true);
        label->setFontSize(14);
        label->setNumberOfLines(0);
        label->setClipsToBounds(true);
        stringLabel_ = label;
    }
    if (!stringLabel_->superview()) topBar()->addSubview(stringLabel_);
    return stringLabel_;
}

void RVStatusBar::setStringLabel(std::shared_ptr<Label> label) {
    if (stringLabel_ && stringLabel_ != label) stringLabel_->removeFromSuperview();
    stringLabel_ = std::move(label);
}

void RVStatusBar::showWithStatus(const std::optional<std::string>& status, Color barColor,
                                 Color textColor) {
    ++showGeneration_;
    auto window = overlayWindow();
    if (!superview()) window->addSubview(View::sharedView());
    auto bar = topBar();
    window->setHidden(false);
    bar->setHidden(false);
    bar->setBackgroundColor(barColor);
    bar->setClipsToBounds(true);

    // A circle: square on the dot's width, corner radius half of it, centre kept.
    const Point center = bar->center();
    const Rect f = bar->frame();
    bar->setFrame(Rect(f.origin.x, f.origin.y, f.size.width, f.size.width));
    bar->setCornerRadius(f.size.width / 2);
    bar->setCenter(center);

    auto label = stringLabel();
    const std::string text = status.value_or("");
    if (!text.empty()) {
        Size measured{0, 0};
        if (auto graphics = Platform::current().graphics()) {
            measured = graphics->textSize(text, label->fontSize(), bar->bounds().size);
        }
        label->setFrame(Rect(bar->bounds().size.width / 2 - measured.width / 2, 0, measured.width,
                             measured.height));
    } else {
        label->setFrame(Rect());
    }
    label->setAlpha(0);
    label->setHidden(false);
    label->setText(text);
    label->setTextColor(textColor);
    View::animate(kFadeSeconds, [label] { label->setAlpha(1.0); });
}

void RVStatusBar::dismissOverlay() {
    auto label = stringLabel_;
    const uint64_t generation = showGeneration_;
    View::animate(
        kFadeSeconds,
        [label] {
            if (label) label->setAlpha(0);
        },
        [generation](bool) {
            auto view = sharedView();
            if (view->showGeneration_ != generation) return;  // shown again meanwhile
            view->takeOffScreen();
        });
}

void RVStatusBar::takeOffScreen() {
    if (topBar_) topBar_->removeFromSuperview();
    topBar_.reset();
    if (overlayWindow_) {
        removeFromSuperview();
        overlayWindow_->setHidden(true);  // off the screen's list of windows
    }
    overlayWindow_.reset();
}

void RVStatusBar::handleRoration() {
    if (!overlayWindow_) return;
    layoutWindow(*overlayWindow_, false);
    if (topBar_) {
        topBar_->setFrame(Rect(rotatedSize().width / 2 + kDotOffset, kDotTop, kDotSize, kDotSize));
    }
}

}  // namespace rivlo
