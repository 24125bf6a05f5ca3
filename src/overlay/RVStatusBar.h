#pragma once

#include "platform/Geometry.h"
#include "platform/Label.h"
#include "platform/View.h"
#include "platform/Window.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace rivlo {

// A small indicator over the status bar: a coloured dot 10 points across, 30 points right of
// the middle of a 20-point strip along the screen edge where the status bar is, with an
// optional text label inside it. It lies in a transparent window of its own at status-bar level
// that takes no touches and never becomes key, so it is never part of the key window's picture
// (the screen movie). It follows the interface orientation.
//
// Threads: the class methods may be called from any thread; each hands its work to the main
// thread (in call order) and returns at once. Everything else is main thread only.
class RVStatusBar : public View {
  public:
    // The shared view, created on first use (main thread).
    static std::shared_ptr<RVStatusBar> sharedView();

    // Red dot, white text; stays until dismiss.
    static void showWithStatus(const std::string& status);
    // As showWithStatus, then dismiss 2 seconds later.
    static void showSuccessWithStatus(const std::string& status);
    // Dark red dot, white text, then dismiss 2 seconds later.
    static void showErrorWithStatus(const std::string& status);
    // Fades the label out over 0.4 s, then drops the dot and the window.
    static void dismiss();

    static Color redColor() { return {1, 0, 0, 1}; }
    static Color errorColor() { return {97 / 255.0, 4 / 255.0, 4 / 255.0, 1}; }

    // ---- Main thread ---------------------------------------------------------------------

    // Shows the dot in barColor with the text (none or empty: no text) in textColor.
    void showWithStatus(const std::optional<std::string>& status, Color barColor, Color textColor);
    // The instance side of dismiss.
    void dismissOverlay();
    // Removes the overlay from the screen at once (the library closing). Main thread.
    void takeOffScreen();

    // The parts, created on first use. overlayWindow and topBar exist only while shown (the
    // accessors create them again).
    std::shared_ptr<Window> overlayWindow();
    std::shared_ptr<View> topBar();
    std::shared_ptr<Label> stringLabel();
    void setStringLabel(std::shared_ptr<Label> label);
    // The parts as they are now, without creating them (null when absent).
    std::shared_ptr<Window> currentOverlayWindow() const { return overlayWindow_; }
    std::shared_ptr<View> currentTopBar() const { return topBar_; }

    // Rotation angle of the strip for the status bar orientation now: upside down pi, landscape
    // right pi/2, landscape left -pi/2, else 0.
    double rotation() const;
    // The screen size, width and height exchanged in landscape.
    Size rotatedSize() const;
    // Lays the window and the dot out for the orientation now.
    void handleRoration();

    // The window origin for a status bar orientation on a screen of that size (orientations
    // outside 1...4 are laid out as portrait).
    static Point windowOriginForOrientation(int orientation, Size screen);

    explicit RVStatusBar(const Rect& frame);

  private:
    static int statusBarOrientation();
    static Rect screenBounds();
    // Rotates the window and sets its bounds and frame for the orientation; origin (0, 0) on
    // creation.
    void layoutWindow(Window& window, bool atCreation);

    std::shared_ptr<Window> overlayWindow_;
    std::shared_ptr<View> topBar_;
    std::shared_ptr<Label> stringLabel_;
    bool observingOrientation_ = false;
    // Bumped by every show, so a fade-out that a show overtook does not drop the new dot.
    uint64_t showGeneration_ = 0;
};

}  // namespace rivlo
