// A minimal host application: how a program links the library and calls it, with nothing but
// the installed headers.
//
//   rivlo-host-example APPLICATION_KEY [SECONDS] [TAG]
//
// The library talks to the service at RIVLO_SERVICE_URL (https, or http to a loopback
// address), trusting RIVLO_CA_FILE when set. With the reference collector:
//
//   build/release/tools/collector/rivlo-collector serve --data /tmp/collector --port 8089
//       --app-key my-key &      (one line)
//   RIVLO_SERVICE_URL=http://127.0.0.1:8089/ build/release/examples/host/rivlo-host-example my-key
//
// The program shows the headless device's window for a few seconds while the library records
// it, tags the session, then stops and uploads. Everything happens on the main thread, which
// turns the library's main loop as an application's event loop would.

#include <rivlo/Log.h>
#include <rivlo/Platform.h>
#include <rivlo/Rivlo.h>
#include <rivlo/Version.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s APPLICATION_KEY [SECONDS] [TAG]\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const std::string tag = argc > 3 ? argv[3] : "example";
    std::printf("Rivlo %s\n", RIVLO_VERSION_STRING);

    // 1. The platform, once, before the library is used, on the thread that turns the main
    //    loop: the user interface (this example has no display, so the headless device draws
    //    it), then this machine's facts, network, folders, cameras and movie encoders.
    rivlo::installHeadlessPlatform();
    rivlo::installLinuxPlatform({"com.example.rivlo-host", "Rivlo Host Example", "1.0"});

    // 2. The library: who the user is, then start. The service's answer arrives on the main
    //    loop and starts the recorders the application's settings ask for.
    rivlo::Rivlo::tagUsersName("example-user");
    rivlo::Rivlo::startApplicationWithKey(key);
    rivlo::runMainLoop(seconds);
    std::printf("recording: %s\n", rivlo::Rivlo::isRecording() ? "yes" : "no");

    // 3. Tags and location belong to the session; stop and upload when the user is done.
    rivlo::Rivlo::addTag(tag);
    rivlo::Rivlo::setPreciseLocationLatitude(52.52, 13.405);
    rivlo::Rivlo::stopApplicationAndUploadData();
    // The stop and the uploads run in the background; a real application keeps running, this
    // one closes the library before it ends: what is not uploaded within ten seconds stays
    // stored, and every thread of the library is joined.
    const int closed = rivlo::Rivlo::close(std::chrono::seconds(10));
    std::printf("closed (%d); anything not yet uploaded is sent at the next start\n", closed);
    return 0;
}
