#include "ShopScript.h"

#include "ShopVisitSupport.h"
#include "ShopWindow.h"

#include "movieprobe/MovieProbe.h"

#include <nlohmann/json.hpp>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <cmath>

namespace shop {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

QPoint centreIn(QWidget* widget, QWidget* window) {
    return widget->mapTo(window, widget->rect().center());
}

void drag(QWidget* window, QPoint from, QPoint step, int steps) {
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    for (int i = 1; i <= steps; ++i)
        QTest::mouseMove(window, from + step * i);
    QTest::mouseRelease(window, Qt::LeftButton, {}, from + step * steps);
}

}  // namespace

ShopVisit ShopScript::play(ShopWindow& window, const Progress& progress) {
    ShopVisit visit;
    auto say = [&](const std::string& line) {
        if (progress) progress(line);
    };
    auto fail = [&](const std::string& line) {
        visit.problems.push_back(line);
        say("  " + line);
        return visit;
    };
    LoginPage* login = window.login();
    visit.user = centreIn(login->user(), &window);
    visit.password = centreIn(login->password(), &window);
    visit.card = centreIn(login->memberCard(), &window);
    visit.heightBefore = window.height();
    visit.width = window.width();

    say("log in: taps on the fields, typing, the button");
    letTimePass(1.2);
    QTest::mouseClick(login->user(), Qt::LeftButton);
    QTest::keyClicks(login->user(), "ada");
    QTest::mouseClick(login->password(), Qt::LeftButton);
    QTest::keyClicks(login->password(), "secret");
    letTimePass(1.2);
    QTest::mouseClick(login->logIn(), Qt::LeftButton);
    if (window.tabs()->currentWidget() != window.products())
        return fail("the log-in button did not open the product list");
    letTimePass(0.6);

    say("product list: a swipe up, a swipe left, a pinch out on the banner");
    QListWidget* list = window.products()->list();
    const QPoint listAt = centreIn(list, &window);
    // Qt turns touches a widget does not take into mouse clicks: pinching over a row would
    // open that product, so the pinch zooms the banner.
    const QPoint bannerAt = centreIn(window.products()->banner(), &window);
    visit.swipeUpFrom = listAt + QPoint(0, 150);
    drag(&window, visit.swipeUpFrom, QPoint(0, -20), 10);
    letTimePass(0.6);
    visit.swipeLeftFrom = listAt + QPoint(120, 0);
    drag(&window, visit.swipeLeftFrom, QPoint(-20, 0), 10);
    letTimePass(0.6);
    // The timeline places a pinch at the centre between its fingers.
    visit.pinchAt = bannerAt;
    QPointingDevice* touchScreen = QTest::createTouchDevice();
    QTest::touchEvent(&window, touchScreen)
        .press(0, bannerAt - QPoint(50, 0))
        .press(1, bannerAt + QPoint(50, 0));
    for (int d = 10; d <= 80; d += 10) {
        QTest::touchEvent(&window, touchScreen)
            .move(0, bannerAt - QPoint(50 + d, 0))
            .move(1, bannerAt + QPoint(50 + d, 0));
    }
    QTest::touchEvent(&window, touchScreen)
        .release(0, bannerAt - QPoint(130, 0))
        .release(1, bannerAt + QPoint(130, 0));
    if (window.tabs()->currentWidget() != window.products())
        return fail("the pinch left the product list");
    letTimePass(0.6);

    say("a product: a tap on a row, on the button, a double tap on the picture");
    QListWidgetItem* row = list->itemAt(QPoint(20, 20));
    if (!row) return fail("the product list shows no row");
    const QPoint rowInList = list->visualItemRect(row).center();
    visit.row = list->viewport()->mapTo(&window, rowInList);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowInList);
    if (window.tabs()->currentWidget() != window.product())
        return fail("a tap on a product row did not open the product");
    letTimePass(0.6);
    visit.addToCart = centreIn(window.product()->addToCart(), &window);
    visit.picture = centreIn(window.product()->picture(), &window);
    QTest::mouseClick(window.product()->addToCart(), Qt::LeftButton);
    letTimePass(0.6);
    // A double click as Qt delivers one: press, release, double-click press, release.
    QTest::mouseClick(window.product()->picture(), Qt::LeftButton);
    QTest::mouseDClick(window.product()->picture(), Qt::LeftButton);
    QTest::mouseRelease(window.product()->picture(), Qt::LeftButton);
    letTimePass(0.6);

    say("the article: its tab, a tap at the top, a tap further down");
    QTabBar* tabBar = window.tabs()->tabBar();
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(3).center());
    QWebEngineView* web = window.article()->web();
    if (!waitFor([&] { return web->page()->contentsSize().height() > 2 * web->height(); }, 60))
        return fail("the article did not load");
    visit.articleAddress = web->url().toString().toStdString();
    letTimePass(0.8);
    waitUntilPageChecked(web);
    QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(100, 200));
    letTimePass(0.6);
    // The page is cut into rows of tiles no taller than the window; scrolled to the top of the
    // second row, the whole of it is in view and a touch there captures it.
    const double pageHeight = web->page()->contentsSize().height();
    const double rows = std::ceil(pageHeight / window.height());
    const int secondRow = static_cast<int>(std::ceil(pageHeight / rows));
    web->page()->runJavaScript(QString("window.scrollTo(0, %1)").arg(secondRow));
    if (!waitFor([&] { return web->page()->scrollPosition().y() >= secondRow - 1; }, 20))
        return fail("the article did not scroll");
    letTimePass(0.4);
    waitUntilPageChecked(web);
    QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(120, 300));
    letTimePass(0.6);

    say("back to the log-in page; the application goes to the background");
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(0).center());
    letTimePass(0.6);
    if (!sendToBackground(90)) return fail("the first session was not sent");

    say("foreground: a second session; the window is made shorter");
    if (!bringToForeground(30))
        return fail("no second session began (the screen is not being recorded)");
    letTimePass(1.2);
    window.resize(visit.width, visit.heightAfter);
    letTimePass(1.6);
    visit.userAfter = centreIn(login->user(), &window);
    visit.passwordAfter = centreIn(login->password(), &window);
    visit.cardAfter = centreIn(login->memberCard(), &window);
    QTest::mouseClick(login->user(), Qt::LeftButton);
    letTimePass(0.6);

    say("the host stops and uploads");
    if (!stopAndUpload(90)) return fail("the second session was not sent");
    return visit;
}

// ---- The check -------------------------------------------------------------------------------

std::vector<RecordedGesture> ShopScript::gesturesOf(const json& document) {
    std::vector<RecordedGesture> out;
    if (!document.is_object() || !document.contains("ut") || !document["ut"].is_array()) return out;
    for (const auto& visit : document["ut"]) {
        if (!visit.is_object() || !visit.contains("cor") || !visit["cor"].is_array()) continue;
        const std::string screen = visit.value("an", "");
        for (const auto& r : visit["cor"]) {
            if (!r.is_array() || r.size() < 8 || !r[3].is_number() || !r[6].is_number() ||
                !r[7].is_number())
                continue;
            out.push_back({screen, r[3].get<int>(), r[6].get<double>(), r[7].get<double>()});
        }
    }
    return out;
}

std::vector<std::string> ShopScript::missingGestures(const std::vector<fs::path>& documents,
                                                     const std::vector<WantedGesture>& wanted) {
    std::vector<std::string> problems;
    std::vector<std::vector<RecordedGesture>> gestures;
    for (const auto& document : documents)
        gestures.push_back(gesturesOf(readJson(document)));
    for (const WantedGesture& w : wanted) {
        if (w.session >= gestures.size()) continue;
        const auto& list = gestures[w.session];
        const bool found = std::any_of(list.begin(), list.end(), [&](const RecordedGesture& g) {
            return g.screen == w.screen && g.code == w.code && std::fabs(g.x - w.at.x()) <= 3 &&
                   std::fabs(g.y - w.at.y()) <= 3;
        });
        if (!found) {
            std::string seen;
            for (const auto& g : list)
                seen += " " + g.screen + ":" + std::to_string(g.code) + "@" +
                        std::to_string(static_cast<int>(g.x)) + "," +
                        std::to_string(static_cast<int>(g.y));
            problems.push_back("session " + std::to_string(w.session + 1) + ": no " + w.what +
                               " (code " + std::to_string(w.code) + ") at " + pointText(w.at) +
                               " on " + w.screen + "; recorded:" + seen);
        }
    }
    return problems;
}

std::vector<std::string> ShopScript::check(const fs::path& collectorDataDir,
                                           const ShopVisit& visit) {
    std::vector<std::string> problems = visit.problems;
    const StoredFiles files = storedFiles(collectorDataDir);
    if (files.documents.size() != 2 || files.movies.size() != 2) {
        problems.push_back("the collector kept " + std::to_string(files.documents.size()) +
                           " documents and " + std::to_string(files.movies.size()) +
                           " movies, expected two of each (two sessions)");
        if (files.documents.empty() || files.movies.empty()) return problems;
    }

    // Movies: each decodes; the login page's secrets are red in every frame showing the page.
    // A frame shows the window uniformly scaled into it, never up: point for pixel unless the
    // window grew beyond the frame (its width is the window's rounded up to 16 pixels).
    auto at = [&](const rivlo::media::DecodedFrame& f, QPoint p, double scale) {
        return f.at(static_cast<int>(p.x() * scale), static_cast<int>(p.y() * scale));
    };
    for (size_t m = 0; m < files.movies.size(); ++m) {
        const auto movie = rivlo::media::MovieProbe::open(files.movies[m].string());
        const std::string name = "movie " + std::to_string(m + 1);
        if (!movie.opened || movie.codecName != "h264" || movie.frames.empty()) {
            problems.push_back(name + " does not decode as H.264 with frames");
            continue;
        }
        // After the resize the window (shorter) is drawn point for pixel, black below it.
        const double scale = std::min({1.0, static_cast<double>(movie.width) / visit.width,
                                       static_cast<double>(movie.height) / visit.heightAfter});
        const QPoint belowAfter(visit.width / 2, visit.heightAfter + 40);
        // Beside the user field, in the page's margin: the page's own background on the login
        // page, inside the web view on the article (all of it red while its page is checked).
        const QPoint margin(6, visit.user.y());
        int loginFrames = 0, resizedFrames = 0;
        for (const auto& f : movie.frames) {
            const auto below = at(f, belowAfter, 1.0);
            const bool resized = m == 1 && below.r < 30 && below.g < 30 && below.b < 30;
            const double s = resized ? scale : 1.0;
            const QPoint password = resized ? visit.passwordAfter : visit.password;
            const QPoint card = resized ? visit.cardAfter : visit.card;
            const QPoint user = resized ? visit.userAfter : visit.user;
            if (!isRed(at(f, card, s)) || isRed(at(f, margin, s))) continue;  // another page
            ++loginFrames;
            if (resized) ++resizedFrames;
            if (!isRed(at(f, password, s))) {
                problems.push_back(name + ": the password field is not red at " +
                                   std::to_string(f.seconds) + " s");
            }
            if (isRed(at(f, user, s)))
                problems.push_back(name + ": the user field is masked at " +
                                   std::to_string(f.seconds) + " s");
        }
        if (loginFrames < 2) problems.push_back(name + ": fewer than two frames of the login page");
        if (m == 1 && resizedFrames < 1) problems.push_back(name + ": no frame after the resize");
    }

    // Gestures at their widgets (within 3 points) under the pages' class names.
    const std::vector<WantedGesture> wanted = {
        {0, "shop::LoginPage", 0, visit.user, "tap on the user field"},
        {0, "shop::LoginPage", 0, visit.password, "tap on the password field"},
        {0, "shop::ProductListPage", 2, visit.swipeUpFrom, "swipe up"},
        {0, "shop::ProductListPage", 4, visit.swipeLeftFrom, "swipe left"},
        {0, "shop::ProductListPage", 7, visit.pinchAt, "pinch out"},
        {0, "shop::ProductListPage", 0, visit.row, "tap on a product row"},
        {0, "shop::ProductPage", 0, visit.addToCart, "tap on add to cart"},
        {0, "shop::ProductPage", 1, visit.picture, "double tap on the picture"},
        {1, "shop::LoginPage", 0, visit.userAfter, "tap on the user field (second session)"},
    };
    const auto missing = missingGestures(files.documents, wanted);
    problems.insert(problems.end(), missing.begin(), missing.end());

    // The article's tiles: pictures that decode.
    const size_t tiles = decodedPictures(files.others);
    if (tiles < 2) {
        std::string names;
        for (const auto& other : files.others)
            names +=
                " " + other.parent_path().filename().string() + "/" + other.filename().string();
        problems.push_back("the article left " + std::to_string(tiles) +
                           " tiles that decode, expected two (one per touched screenful); other "
                           "files:" +
                           names);
    }
    return problems;
}

}  // namespace shop
