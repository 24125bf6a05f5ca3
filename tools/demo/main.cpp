// rivlo-demo: one command that shows the whole product. The reference collector runs on
// loopback with its data in ./demo-data, and a scripted application session plays while the
// library records it: by default the Qt shop (examples/qt-shop) driven with Qt input events
// offscreen; given a scenario file, that scenario on the headless device (about 30 s). The host
// stops and uploads, and then the demo reads back what the collector kept: it prints the
// summary, draws the heat maps, writes demo-data/report.html, and compares everything with
// what the session did. Exit status 0 only when all of it arrived and matched; otherwise it
// says what is missing. "qml" plays the QML shop (examples/qml-shop) the same way. Then it
// offers the console on the recorded sessions (served until Ctrl-C in a terminal), unless
// --no-console is given.
//
//   rivlo-demo [qt | qml | SCENARIO.json] [DATA-DIR] [--no-console]

#include "CollectorReport.h"
#include "CollectorServer.h"
#include "ConsoleAccounts.h"
#include "ConsoleApi.h"
#include "DemoCheck.h"
#include "DemoExpectation.h"
#include "DemoRun.h"
#include "HeatMaps.h"
#include "ReportPage.h"
#ifdef RIVLO_DEMO_WITH_QT
#include "QtShopDemo.h"
#endif
#ifdef RIVLO_DEMO_WITH_QUICK
#include "QmlShopDemo.h"
#endif

#include "platform/headless/Scenario.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace rivlo;
using namespace rivlo::demo;

namespace {

constexpr int kConsolePort = 8090;
volatile std::sig_atomic_t interrupted = 0;

// A console login for the recorded sessions: user "demo" with a fresh password, also written to
// DATA-DIR/console-login.txt (name, then password). Then the console's address: served from
// here until Ctrl-C when the demo runs in a terminal, else the command that serves it.
bool offerConsole(const fs::path& dataDir, const std::string& collectorDir,
                  const DemoOptions& options) {
    std::random_device random;
    std::string password;
    static const char kLetters[] = "abcdefghijkmnopqrstuvwxyz23456789";
    for (int i = 0; i < 16; ++i)
        password.push_back(kLetters[random() % (sizeof kLetters - 1)]);
    collector::CollectorIndex index;
    std::string error;
    if (!index.open(collector::CollectorIndex::defaultUrl(collectorDir), false, error)) {
        std::fprintf(stderr, "rivlo-demo: no console: %s\n", error.c_str());
        return false;
    }
    collector::ConsoleAccounts accounts(index);
    if (!accounts.addUser("demo", password, collector::ConsoleAccounts::kAdmin, true, error)) {
        std::fprintf(stderr, "rivlo-demo: no console login: %s\n", error.c_str());
        return false;
    }
    index.close();
    std::ofstream(dataDir / "console-login.txt") << "demo\n" << password << "\n";

    const bool terminal = ::isatty(STDOUT_FILENO) == 1 && std::getenv("CI") == nullptr;
    if (!terminal) {
        std::printf(
            "\nConsole: rivlo-collector serve --data %s --port %d, then open "
            "http://127.0.0.1:%d/console/ and log in as demo, password %s\n",
            collectorDir.c_str(), kConsolePort, kConsolePort, password.c_str());
        return true;
    }
    collector::CollectorConfig config;
    config.dataDir = collectorDir;
    config.port = kConsolePort;
    collector::CollectorApp app;
    app.key = options.appKey;
    app.name = options.appName;
    config.apps.push_back(app);
    config.logSink = [](const std::string&) {};
    collector::CollectorServer server(config);
    collector::ConsoleApi console(server, config);
    console.attach();
    if (!server.start(error)) {
        std::fprintf(stderr, "rivlo-demo: the console cannot be served on port %d: %s\n",
                     kConsolePort, error.c_str());
        return false;
    }
    std::printf("\nConsole: %s/console/ (user demo, password %s). Ctrl-C ends it.\n",
                server.url().c_str(), password.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });
    while (!interrupted)
        ::pause();
    server.stop();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool console = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-console") {
            console = false;
        } else {
            args.emplace_back(argv[i]);
        }
    }
#ifdef RIVLO_DEMO_WITH_QT
    const std::string what = args.size() > 0 ? args[0] : "qt";
#else
    const std::string what = args.size() > 0 ? args[0] : RIVLO_DEMO_SCENARIO;
#endif
    const bool shop = what == "qt" || what == "qml";
    const fs::path dataDir = fs::absolute(args.size() > 1 ? args[1] : "demo-data");
    // A fresh folder each run, so that what is checked is this run's.
    std::error_code ec;
    fs::remove_all(dataDir / "collector", ec);
    fs::remove_all(dataDir / "device", ec);
    fs::remove_all(dataDir / "heatmaps", ec);
    fs::create_directories(dataDir, ec);

    DemoOptions options;
    options.dataDir = dataDir;
    options.progress = [](const std::string& line) {
        std::printf("rivlo-demo: %s\n", line.c_str());
        std::fflush(stdout);
    };
    std::string error;
    std::string name;
    std::string collectorDir;
    Size screen;
    std::vector<std::string> problems;
    DemoData data;
    if (shop) {
#ifdef RIVLO_DEMO_WITH_QT
        QtShopDemoResult run;
        if (what == "qt") {
            run = QtShopDemo::run(options);
            name = "Qt shop";
        } else {
#ifdef RIVLO_DEMO_WITH_QUICK
            run = QmlShopDemo::run(options);
            name = "QML shop";
#else
            std::fprintf(stderr, "rivlo-demo: built without Qt Quick; no QML shop\n");
            return 2;
#endif
        }
        if (!run.collectorStarted) {
            for (const auto& p : run.problems)
                std::fprintf(stderr, "rivlo-demo: %s\n", p.c_str());
            return 1;
        }
        collectorDir = run.collectorDir;
        screen = run.screen;
        problems = run.problems;
        data = DemoCheck::load(collectorDir, options.appKey);
#else
        std::fprintf(stderr, "rivlo-demo: built without Qt; give a scenario file\n");
        return 2;
#endif
    } else {
        auto scenario = Scenario::load(what, error);
        if (!scenario) {
            std::fprintf(stderr, "rivlo-demo: %s\n", error.c_str());
            return 2;
        }
        const std::vector<ExpectedSession> expected = DemoExpectation::from(*scenario);
        const DemoRunResult run = DemoRun::run(*scenario, options);
        if (!run.collectorStarted) {
            for (const auto& p : run.problems)
                std::fprintf(stderr, "rivlo-demo: %s\n", p.c_str());
            return 1;
        }
        name = scenario->name;
        collectorDir = run.collectorDir;
        screen = run.screen;
        data = DemoCheck::load(collectorDir, options.appKey);
        problems = DemoCheck::compare(expected, data, run);
    }

    std::string report;
    if (collector::CollectorReport::build(collectorDir, report, error)) {
        std::printf("\n%s\n", report.c_str());
    } else {
        problems.push_back("no collector report: " + error);
    }

    const fs::path heatDir = dataDir / "heatmaps";
    std::vector<std::string> drawing;
    const auto images = HeatMaps::paint(data, screen, heatDir, drawing);
    problems.insert(problems.end(), drawing.begin(), drawing.end());
    if (images.empty()) problems.push_back("no heat map could be drawn");
    const fs::path page = dataDir / "report.html";
    if (!ReportPage::write(page, name, data, images, heatDir, problems, error))
        problems.push_back(error);

    std::printf("Heat maps (%zu) in %s:\n", images.size(), heatDir.c_str());
    for (const auto& image : images) {
        std::printf("  session %zu, %s: %s, %d gesture%s%s\n", image.session,
                    image.web ? "web page" : "screen", image.file.c_str(), image.gestures,
                    image.gestures == 1 ? "" : "s",
                    image.web ? (", " + std::to_string(image.tiles) + " tiles").c_str() : "");
    }
    std::printf("Report page: %s\n", page.c_str());
    std::printf("Collector files: %s/apps; the device's store: %s/device\n", collectorDir.c_str(),
                dataDir.c_str());
    if (!problems.empty()) {
        std::printf("\nrivlo-demo: %zu things did not match what the %s did:\n", problems.size(),
                    shop ? "visit" : "scenario");
        for (const auto& p : problems)
            std::printf("  - %s\n", p.c_str());
        return 1;
    }
    std::printf(
        "\nrivlo-demo: everything the %s did arrived at the collector and matched "
        "(%zu sessions).\n",
        shop ? "visit" : "scenario", data.installation.sessions.size());
    if (!console) return 0;
    return offerConsole(dataDir, collectorDir, options) ? 0 : 1;
}
