// A minimal host application: how a program links the library and calls it.
//
//   rivlo-host-example APPLICATION_KEY [SECONDS]
//
// The library talks to the service at RIVLO_SERVICE_URL (https, or http to a loopback
// address), trusting RIVLO_CA_FILE when set. With the reference collector:
//
//   build/release/tools/collector/rivlo-collector serve --data /tmp/collector --port 8089
//       --app-key my-key &      (one line)
//   RIVLO_SERVICE_URL=http://127.0.0.1:8089/ build/release/examples/host/rivlo-host-example my-key
//
// The program shows one screen for a few seconds while the library records it, tags the
// session, then stops and uploads. Everything happens on the main thread, which turns the
// main run loop as an application's event loop would.

#include "rivlo/Rivlo.h"

#include "foundation/RunLoop.h"
#include "platform/Label.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/LinuxPlatform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace rivlo;

namespace {

// The host's own screen: a controller whose class names the screen in the timeline.
std::shared_ptr<ViewController> makeHomeScreen(Rect bounds) {
    auto home = std::make_shared<ViewController>(
        ObjClass::define("HomeViewController", ViewController::classObject()));
    auto title = std::make_shared<Label>(Rect(20, 120, bounds.width() - 40, 40));
    title->setText("Hello from the host");
    title->setFontSize(24);
    title->setBold(true);
    home->view()->addSubview(title);
    return home;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s APPLICATION_KEY [SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    RunLoop::main().setMainThread();

    // 1. The platform, once, before the library is used: the user interface (this example
    //    has no display, so a headless device draws it), then this machine's facts, network,
    //    folders, cameras and movie encoders.
    auto ui = HeadlessPlatform::install();  // kept for the life of the program
    auto device = LinuxPlatform::install();

    // 2. The application's window.
    auto window = std::make_shared<Window>(device->screenBounds());
    window->setRootViewController(makeHomeScreen(device->screenBounds()));
    window->makeKeyAndVisible();

    // 3. The library: who the user is, then start. The service's answer arrives on the main
    //    run loop and starts the recorders the application's settings ask for.
    Rivlo::tagUsersName("example-user");
    Rivlo::startApplicationWithKey(key);
    RunLoop::main().runUntil([] { return false; }, std::chrono::duration<double>(seconds));
    std::printf("recording: %s\n", Rivlo::isRecording() ? "yes" : "no");

    // 4. Tags and location belong to the session; stop and upload when the user is done.
    Rivlo::addTag("example");
    Rivlo::setPreciseLocationLatitude(52.52, 13.405);
    Rivlo::stopApplicationAndUploadData();
    // The stop and the uploads run in the background; a real application keeps running.
    RunLoop::main().runUntil([] { return !Rivlo::isRecording(); }, std::chrono::seconds(20));
    RunLoop::main().runUntil([] { return false; }, std::chrono::seconds(3));
    std::printf("stopped; anything not yet uploaded is sent at the next start\n");
    return 0;
}
