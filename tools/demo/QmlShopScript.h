#pragma once

// A user's visit to the QML shop (examples/qml-shop), played with Qt's own synthetic input
// events on its window while the library records, and the check of what the collector kept.
// The end-to-end test and the demo play the same visit.

#include <QPoint>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace shop {

class QmlShop;

// Where things were on the screen (window points) while the visit played.
struct QmlShopVisit {
    QPoint user, password, logIn, card;  // the login page's centres
    QPoint swipeUpFrom, swipeLeftFrom;   // swipes on the product list and its banner start here
    QPoint row, addToCart, picture;      // taps, and the double tap on the picture
    QPoint articleTop, articleFurther;   // taps on the article, before and after scrolling
    QPoint articleOrigin;                // where the article's web page begins in the window
    std::string articleAddress;          // the web page's ("" for the text version)
    QPoint userAfter;                    // the tap in the second session
    std::string windowName;              // the window's screen name
    // The pages' screen names (their QML types): login, product list, product, article.
    std::string loginPage, productListPage, productPage, articlePage;
    std::vector<std::string> problems;  // steps that could not be played
};

class QmlShopScript {
  public:
    using Progress = std::function<void(const std::string&)>;
    // Plays the visit on the shown shop with the library started: log in (taps, typing), the
    // product list (a swipe up the list, a swipe left on the banner, a tap on a row), a product
    // (a tap, a double tap on the picture), the article (taps, scrolled), log out; the
    // application goes to the background (the first session is sent) and comes back (a second
    // session) on the login page, and the host stops and uploads. Returns when the library has
    // sent everything or a wait ran out. The application's main thread.
    static QmlShopVisit play(QmlShop& shop, const Progress& progress = nullptr);

    // Compares what the collector kept (its data folder) with the visit: two sessions, both
    // movies decode, no frame holds pixels of the password's or the member card's colours, the
    // login page shows masked (card and password red, the name field not) in frames of both
    // sessions, the gestures at their items under their pages' names (under the window's name
    // while the recording does not tell the pages apart: no screen of the first session is
    // named after the login page), the taps on the web article on its page's screen at the
    // page's points, and at least two of its tiles decode. One line per mismatch;
    // none when all matched.
    static std::vector<std::string> check(const std::filesystem::path& collectorDataDir,
                                          const QmlShopVisit& visit);
};

}  // namespace shop
