// rivlo-render-scenario: draws every screen of a scenario file (and every web page at its
// full size) on the headless device and writes them as PNG files, so a person can look at
// what a scenario shows.
//
//   rivlo-render-scenario SCENARIO.json OUTPUT_DIRECTORY
//
// Writes "screen-<name>.png" and "page-<name>.png"; exits 1 when the scenario is refused.
#include "foundation/RunLoop.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/headless/PngWriter.h"
#include "platform/headless/ScenarioPlayer.h"

#include <cstdio>
#include <filesystem>

using namespace rivlo;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SCENARIO.json OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    RunLoop::main().setMainThread();
    std::string error;
    auto scenario = Scenario::load(argv[1], error);
    if (!scenario) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[2], ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", argv[2], ec.message().c_str());
        return 1;
    }
    auto platform = HeadlessPlatform::install(scenario->profile.value_or(HeadlessProfile{}));
    ScenarioPlayer player(*platform, *scenario);
    int failures = 0;
    auto write = [&](View& view, const std::string& name) {
        const std::string path = (std::filesystem::path(argv[2]) / (name + ".png")).string();
        Image image = platform->snapshot(view);
        if (!PngWriter::write(image, path)) {
            ++failures;
            return;
        }
        std::printf("%s\n", path.c_str());
    };
    for (const auto& [name, screen] : scenario->screens) {
        auto vc = player.controllerForScreen(name);
        auto window = std::make_shared<Window>(platform->device().screenBounds());
        window->setBackgroundColor(Color::white());
        window->setRootViewController(vc);
        window->makeKeyAndVisible();
        write(*window, "screen-" + name);
        window->setRootViewController(nullptr);
        window->setHidden(true);
    }
    for (const auto& [name, page] : scenario->pages) {
        auto web = std::make_shared<WebView>(Rect({0, 0}, page.size));
        player.showPage(*web, name);
        write(*web->contentView(), "page-" + name);
    }
    RunLoop::main().runPending();
    return failures == 0 ? 0 : 1;
}
