// A host application for the whole crash path: it runs the library on the headless device
// with the real std::terminate chain, starts a verified session against the service named by
// RIVLO_SERVICE_URL, and then either crashes by the means on its command line, or (mode
// "upload", the next launch) stops and posts everything pending and exits when the session
// documents are gone from the store.
//
//   crash_session_child <mode> <dir> [host]
//
// Files written into <dir>: "log" (the library's log lines), "host" (calls of the host's own
// handlers, as in crash_child), "paths" (the defaults file, then the store's data folder) and
// the application's sandbox under "app".
#include "core/RVCrashHandler.h"
#include "core/RVFacade.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/DispatchQueue.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/LinuxExceptionHandlerSlot.h"
#include "store/RVPlistHandler.h"
#include "timeline/RVHeatTimeHandler.h"
#include "timeline/RVViewControllerHooks.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::string gDir;
int gHostFd = -1;

void appendLine(const std::string& name, const std::string& line) {
    int fd = open((gDir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string text = line + "\n";
    (void)!write(fd, text.data(), text.size());
    close(fd);
}

void hostSignal(int sig, siginfo_t*, void*) {
    char line[16] = "signal ";
    size_t at = std::strlen(line);
    if (sig >= 10) line[at++] = static_cast<char>('0' + sig / 10);
    line[at++] = static_cast<char>('0' + sig % 10);
    line[at++] = '\n';
    (void)!write(gHostFd, line, at);
}

void hostException(const rivlo::ExceptionInfo&) {
    const char line[] = "exception\n";
    (void)!write(gHostFd, line, sizeof(line) - 1);
}

__attribute__((no_sanitize("undefined"), noinline)) void nullDereference() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: crash_session_child <mode> <dir> [host]\n");
        return 2;
    }
    const std::string mode = argv[1];
    gDir = argv[2];
    const bool host = argc > 3 && std::strcmp(argv[3], "host") == 0;
    struct rlimit noCore {};
    setrlimit(RLIMIT_CORE, &noCore);
    gHostFd = open((gDir + "/host").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);

    using namespace rivlo;
    RunLoop::main().setMainThread();
    Log::setSink([](const std::string& line) { appendLine("log", line); });

    HeadlessProfile profile;
    profile.sandboxDirectory = gDir + "/app";
    profile.frontCamera = false;
    profile.hasCamera = false;
    auto platform = HeadlessPlatform::install(profile);
    // The real process-ending exception path instead of the headless stand-in.
    PlatformServices linuxSlot;
    linuxSlot.exceptionHandler = LinuxExceptionHandlerSlot::shared();
    Platform::current().installMissingOrReplace(linuxSlot);
    RVUtil::setApplicationCachesDirectory(platform->device().cachesDirectory());
    UserDefaults::setStandardDirectory(platform->device().defaultsDirectory());
    UserDefaults::standard().reload();
    appendLine("paths", UserDefaults::standard().filePath());
    const std::string probe = RVPlistHandler::pathInFolder(RVPlistHandler::kDataFolder, "probe");
    appendLine("paths", probe.substr(0, probe.rfind('/')));

    RVCrashHandler::registerSteps();
    RVViewControllerHooks::install();
    RVHeatTimeHandler::registerSessionSteps();
    if (host) {
        for (int sig : CrashSignals::trappedSignals()) {
            struct sigaction action {};
            action.sa_sigaction = hostSignal;
            action.sa_flags = SA_SIGINFO;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
        LinuxExceptionHandlerSlot::shared()->setHandler(hostException);
    }

    RVFacade::startApplicationWithKey("crash-key");
    if (!RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 20.0)) {
        appendLine("status", "not verified");
        return 3;
    }
    RVFacade::addTag("before the crash");

    if (mode == "upload") {
        // The documents the crashed launch left; this launch's own document comes on top.
        std::set<std::string> previous;
        for (const auto& file : RVPlistHandler::sharedHandler()->textFileList()) {
            previous.insert(file->fileName);
        }
        DispatchQueue::global(DispatchQueue::Priority::High,
                              [] { RivloHandler::stopAndPostData(); });
        const bool sent = RunLoop::main().runUntil(
            [&previous] {
                if (RivloHandler::isSessionStarted()) return false;
                for (const auto& file : RVPlistHandler::sharedHandler()->textFileList()) {
                    if (previous.count(file->fileName) != 0) return false;
                }
                return true;
            },
            30.0);
        appendLine("status", sent ? "uploaded" : "pending");
        return sent ? 0 : 4;
    }
    if (mode == "segv") {
        nullDereference();
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "exception") {
        throw std::runtime_error("session state corrupt");
    } else if (mode == "segv_thread") {
        std::thread([] { nullDereference(); }).join();
    }
    appendLine("status", "survived");
    return 0;
}
