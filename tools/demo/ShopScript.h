#pragma once

// A user's visit to the Qt shop, played with Qt's own synthetic input events (QTest mouse, key
// and touch events) while the library records, and the check of what the collector kept. The
// end-to-end test and the demo play the same visit.

#include <nlohmann/json_fwd.hpp>

#include <QPoint>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace shop {

class ShopWindow;

// Where things were on the screen (window points) while the visit played.
struct ShopVisit {
    QPoint user, password, card;                 // the login page's centres
    QPoint swipeUpFrom, swipeLeftFrom;           // swipes on the product list start here
    QPoint pinchAt;                              // the pinch's centre
    QPoint row, addToCart, picture;              // taps, and the double tap on the picture
    QPoint userAfter, passwordAfter, cardAfter;  // the login page after the resize
    int width = 390, heightBefore = 844, heightAfter = 700;
    std::string articleAddress;
    std::vector<std::string> problems;  // steps that could not be played
};

// A gesture of a session document: the screen it was made on, its code and its point.
struct RecordedGesture {
    std::string screen;
    int code = -1;
    double x = 0, y = 0;
};

// A gesture a visit made: in which session (0 the first), on which screen, its code and point.
struct WantedGesture {
    size_t session = 0;
    std::string screen;
    int code = 0;
    QPoint at;
    std::string what;  // for the line that says it is missing
};

class ShopScript {
  public:
    using Progress = std::function<void(const std::string&)>;
    // Plays the visit on a shown window of 390 x 844 with the library started: log in,
    // browse (swipes, a pinch), a product (tap, double tap), the article (taps, scrolled), back
    // to the login page; the application goes to the background (the first session is sent)
    // and comes back (a second session) on the login page, the window is made shorter, and the
    // host stops and uploads. Returns when the library has sent everything or a wait ran out.
    // The application's main thread.
    static ShopVisit play(ShopWindow& window, const Progress& progress = nullptr);

    // Compares what the collector kept (its data folder) with the visit: two sessions, both
    // movies decode, the password field and the member card red in every frame that shows the
    // login page (also after the resize, drawn unstretched), the gestures at their widgets under
    // the pages' class names, the article's tiles decode. One line per mismatch; none when all
    // matched.
    static std::vector<std::string> check(const std::filesystem::path& collectorDataDir,
                                          const ShopVisit& visit);

    // The gestures of a session document ("ut": each visit's "cor" records), in order.
    static std::vector<RecordedGesture> gesturesOf(const nlohmann::json& document);

    // One line for each wanted gesture the sessions' documents (in session order) do not hold
    // on its screen with its code within 3 points of its point.
    static std::vector<std::string> missingGestures(
        const std::vector<std::filesystem::path>& documents,
        const std::vector<WantedGesture>& wanted);
};

}  // namespace shop
