#include "QmlShopScript.h"

#include "QmlShop.h"
#include "ShopScript.h"
#include "ShopVisitSupport.h"

#include "movieprobe/MovieProbe.h"
#include "platform/quick/QtQuickWindows.h"

#include <nlohmann/json.hpp>

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace shop {

namespace fs = std::filesystem;

namespace {

// Colours nothing but the secrets is drawn in (LoginPage.qml).
struct Secret {
    int r, g, b;
    const char* what;
};
constexpr Secret kSecrets[] = {{123, 31, 162, "the password"}, {46, 173, 91, "the member card"}};
// A frame may hold a few pixels near these colours where other colours blend at an edge; a
// secret shows as far more (the password's dots alone are hundreds of pixels).
constexpr int kTolerance = 40;
constexpr size_t kStrayPixels = 24;

QPoint centreOf(const QQuickItem* item) {
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

void drag(QQuickWindow* window, QPoint from, QPoint step, int steps) {
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    for (int i = 1; i <= steps; ++i)
        QTest::mouseMove(window, from + step * i);
    QTest::mouseRelease(window, Qt::LeftButton, {}, from + step * steps);
}

void type(QQuickWindow* window, const char* text) {
    for (const char* c = text; *c; ++c)
        QTest::keyClick(window, *c);
}

bool near(const rivlo::media::DecodedFrame::RGB& c, const Secret& s) {
    return std::abs(c.r - s.r) <= kTolerance && std::abs(c.g - s.g) <= kTolerance &&
           std::abs(c.b - s.b) <= kTolerance;
}

}  // namespace

QmlShopVisit QmlShopScript::play(QmlShop& shop, const Progress& progress) {
    QmlShopVisit visit;
    auto say = [&](const std::string& line) {
        if (progress) progress(line);
    };
    auto fail = [&](const std::string& line) {
        visit.problems.push_back(line);
        say("  " + line);
        return visit;
    };
    QQuickWindow* window = shop.window();
    if (!window) return fail("the shop's window did not load");
    visit.windowName = rivlo::QtQuickWindows::screenName(window);
    // The page on top of the stack is `name` and no page is moving.
    auto showing = [&](const char* name) {
        return waitFor(
            [&] {
                QQuickItem* page = shop.currentPage();
                return page && page->objectName() == QLatin1String(name) && !shop.busy();
            },
            20);
    };
    auto at = [&](const char* name) {
        QQuickItem* item = shop.item(name);
        return item ? centreOf(item) : QPoint(-1, -1);
    };
    auto tap = [&](QPoint point) { QTest::mouseClick(window, Qt::LeftButton, {}, point); };
    auto pageName = [&] { return rivlo::QtQuickWindows::screenName(shop.currentPage()); };

    window->requestActivate();
    if (!QTest::qWaitForWindowActive(window)) return fail("the shop's window did not activate");
    if (!showing("loginPage")) return fail("the login page did not show");
    visit.user = at("user");
    visit.password = at("password");
    visit.logIn = at("logIn");
    visit.card = at("memberCard");
    visit.loginPage = pageName();

    say("log in: taps on the fields, typing, the button");
    letTimePass(1.2);
    tap(visit.user);
    type(window, "ada");
    tap(visit.password);
    type(window, "secret");
    letTimePass(1.2);
    tap(visit.logIn);
    if (!showing("productListPage")) return fail("the log-in button did not open the product list");
    letTimePass(0.6);

    say("product list: a swipe up the list, a swipe left on the banner");
    visit.productListPage = pageName();
    QQuickItem* list = shop.item("productList");
    if (!list) return fail("the product list has no list");
    visit.swipeUpFrom = centreOf(list) + QPoint(0, 150);
    drag(window, visit.swipeUpFrom, QPoint(0, -20), 10);
    if (!waitFor([&] { return !list->property("moving").toBool(); }, 10))
        return fail("the product list did not come to rest");
    letTimePass(0.6);
    visit.swipeLeftFrom = at("banner") + QPoint(120, 0);
    drag(window, visit.swipeLeftFrom, QPoint(-20, 0), 10);
    letTimePass(0.6);

    say("a product: a tap on a row, on the button, a double tap on the picture");
    visit.row = list->mapToScene(QPointF(100, 24)).toPoint();
    tap(visit.row);
    if (!showing("productPage")) return fail("a tap on a product row did not open the product");
    letTimePass(0.6);
    visit.productPage = pageName();
    visit.addToCart = at("addToCart");
    visit.picture = at("picture");
    tap(visit.addToCart);
    letTimePass(0.6);
    QTest::mouseDClick(window, Qt::LeftButton, {}, visit.picture);
    letTimePass(0.6);

    say("the article: a tap at the top, scrolled, a tap further down");
    tap(at("readArticle"));
    if (!showing("articlePage")) return fail("the article did not open");
    visit.articlePage = pageName();
    if (QQuickItem* web = shop.item("articleWeb")) {
        // The web page: loaded, checked, touched at the top; scrolled to the top of its second
        // row of tiles (rows no taller than the window), checked, touched there.
        if (!waitFor(
                [&] {
                    return !web->property("loading").toBool() &&
                           web->property("contentsSize").toSizeF().height() > 2 * web->height();
                },
                60))
            return fail("the web article did not load");
        visit.articleAddress = web->property("url").toUrl().toString().toStdString();
        visit.articleOrigin = web->mapToScene(QPointF(0, 0)).toPoint();
        letTimePass(0.8);
        waitUntilPageChecked(web);
        visit.articleTop = web->mapToScene(QPointF(100, 200)).toPoint();
        tap(visit.articleTop);
        letTimePass(0.6);
        const double pageHeight = web->property("contentsSize").toSizeF().height();
        const double rows = std::ceil(pageHeight / window->height());
        const int secondRow = static_cast<int>(std::ceil(pageHeight / rows));
        QMetaObject::invokeMethod(web, "runJavaScript",
                                  Q_ARG(QString, QString("window.scrollTo(0, %1)").arg(secondRow)));
        if (!waitFor(
                [&] { return web->property("scrollPosition").toPointF().y() >= secondRow - 1; },
                20))
            return fail("the web article did not scroll");
        letTimePass(0.4);
        waitUntilPageChecked(web);
        visit.articleFurther = web->mapToScene(QPointF(120, 300)).toPoint();
        tap(visit.articleFurther);
        letTimePass(0.6);
    } else {
        letTimePass(0.8);
        visit.articleTop = window->contentItem()->mapToScene(QPointF(100, 200)).toPoint();
        tap(visit.articleTop);
        letTimePass(0.6);
        QQuickItem* article = shop.item("article");
        if (!article) return fail("the article page has no article");
        article->setProperty("contentY", 600);
        letTimePass(0.4);
        visit.articleFurther = window->contentItem()->mapToScene(QPointF(120, 400)).toPoint();
        tap(visit.articleFurther);
        letTimePass(0.6);
    }

    say("log out; the application goes to the background");
    tap(at("logOut"));
    if (!showing("loginPage")) return fail("logging out did not show the login page");
    letTimePass(0.6);
    if (!sendToBackground(90)) return fail("the first session was not sent");

    say("foreground: a second session on the login page");
    if (!bringToForeground(30))
        return fail("no second session began (the screen is not being recorded)");
    letTimePass(1.2);
    visit.userAfter = at("user");
    tap(visit.userAfter);
    letTimePass(0.6);

    say("the host stops and uploads");
    if (!stopAndUpload(90)) return fail("the second session was not sent");
    return visit;
}

std::vector<std::string> QmlShopScript::check(const fs::path& collectorDataDir,
                                              const QmlShopVisit& visit) {
    std::vector<std::string> problems = visit.problems;
    const StoredFiles files = storedFiles(collectorDataDir);
    if (files.documents.size() != 2 || files.movies.size() != 2) {
        problems.push_back("the collector kept " + std::to_string(files.documents.size()) +
                           " documents and " + std::to_string(files.movies.size()) +
                           " movies, expected two of each (two sessions)");
        if (files.documents.empty() || files.movies.empty()) return problems;
    }

    // Movies: each decodes, no frame shows a secret, and the login page shows masked in some.
    for (size_t m = 0; m < files.movies.size(); ++m) {
        const auto movie = rivlo::media::MovieProbe::open(files.movies[m].string());
        const std::string name = "movie " + std::to_string(m + 1);
        if (!movie.opened || movie.codecName != "h264" || movie.frames.empty()) {
            problems.push_back(name + " does not decode as H.264 with frames");
            continue;
        }
        int loginFrames = 0;
        for (const auto& f : movie.frames) {
            for (const Secret& secret : kSecrets) {
                size_t pixels = 0;
                for (int y = 0; y < f.height; ++y) {
                    for (int x = 0; x < f.width; ++x)
                        pixels += near(f.at(x, y), secret) ? 1 : 0;
                }
                if (pixels > kStrayPixels) {
                    problems.push_back(name + ": " + std::to_string(pixels) + " pixels of " +
                                       secret.what + " at " + std::to_string(f.seconds) + " s");
                }
            }
            const QPoint user = m == 0 ? visit.user : visit.userAfter;
            if (isRed(f.at(visit.card.x(), visit.card.y())) &&
                isRed(f.at(visit.password.x(), visit.password.y())) &&
                !isRed(f.at(user.x(), user.y())))
                ++loginFrames;
        }
        if (loginFrames < 2)
            problems.push_back(name + ": fewer than two frames of the login page, masked");
    }

    // Gestures at their items, on their pages' screens, or all on the window's while the pages
    // are not told apart.
    const bool pages = std::any_of(files.documents.begin(), files.documents.end(), [&](auto& d) {
        const auto gestures = ShopScript::gesturesOf(readJson(d));
        return std::any_of(gestures.begin(), gestures.end(),
                           [&](const RecordedGesture& g) { return g.screen == visit.loginPage; });
    });
    const auto on = [&](const std::string& page) { return pages ? page : visit.windowName; };
    const std::string login = on(visit.loginPage), list = on(visit.productListPage),
                      product = on(visit.productPage), article = on(visit.articlePage);
    std::vector<WantedGesture> wanted = {
        {0, login, 0, visit.user, "tap on the user field"},
        {0, login, 0, visit.password, "tap on the password field"},
        {0, login, 0, visit.logIn, "tap on the log-in button"},
        {0, list, 2, visit.swipeUpFrom, "swipe up the product list"},
        {0, list, 4, visit.swipeLeftFrom, "swipe left on the banner"},
        {0, list, 0, visit.row, "tap on a product row"},
        {0, product, 0, visit.addToCart, "tap on add to cart"},
        {0, product, 1, visit.picture, "double tap on the picture"},
        {1, login, 0, visit.userAfter, "tap on the user field (second session)"},
    };
    if (visit.articleAddress.empty()) {
        wanted.push_back({0, article, 0, visit.articleTop, "tap on the article"});
        wanted.push_back({0, article, 0, visit.articleFurther, "tap further down the article"});
    } else {
        // The web article's first tap: on its page's screen, at the page's point (not scrolled).
        wanted.push_back({0, visit.articleAddress, 0, visit.articleTop - visit.articleOrigin,
                          "tap on the web article"});
    }
    const auto missing = ShopScript::missingGestures(files.documents, wanted);
    problems.insert(problems.end(), missing.begin(), missing.end());

    // The web article's tiles: pictures that decode, one per touched screenful.
    if (!visit.articleAddress.empty()) {
        const size_t tiles = decodedPictures(files.others);
        if (tiles < 2)
            problems.push_back("the web article left " + std::to_string(tiles) +
                               " tiles that decode, expected two");
    }
    return problems;
}

}  // namespace shop
