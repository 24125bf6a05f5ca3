// rivlo/Rivlo.h: the facade as a host sees it. Each call is admitted only while the library
// runs (RivloRuntime::Call) and lets no exception out; the work is the core's (RVFacade).

#include "rivlo/Rivlo.h"

#include "all/CallGuard.h"
#include "all/OptionsData.h"
#include "all/RivloRuntime.h"
#include "core/RVFacade.h"

namespace rivlo {

namespace {

constexpr int kOk = RIVLO_OK;

double secondsOf(std::chrono::milliseconds timeout) {
    return timeout.count() < 0 ? 0.0 : static_cast<double>(timeout.count()) / 1000.0;
}

// Runs a facade call while the library runs.
template <class Work>
void admitted(const char* function, Work&& work) {
    CallGuard::run(function, [&] {
        RivloRuntime::Call call(function);
        if (call) work();
        return kOk;
    });
}

}  // namespace

int Rivlo::init(const Options& options) {
    return CallGuard::run("Rivlo::init",
                          [&] { return RivloRuntime::init(options.data(), "Rivlo::init"); });
}

int Rivlo::flush(std::chrono::milliseconds timeout) {
    return CallGuard::run("Rivlo::flush",
                          [&] { return RivloRuntime::flush(secondsOf(timeout), "Rivlo::flush"); });
}

int Rivlo::close(std::chrono::milliseconds timeout) {
    return CallGuard::run("Rivlo::close",
                          [&] { return RivloRuntime::close(secondsOf(timeout), "Rivlo::close"); });
}

bool Rivlo::isInitialized() {
    return RivloRuntime::isRunning();
}

void Rivlo::startApplicationWithKey(const std::string& key) {
    const char* function = "startApplicationWithKey";
    CallGuard::run(function, [&] {
        if (RivloRuntime::ensureStarted(function)) {
            RivloRuntime::Call call(function);
            if (call) RVFacade::startApplicationWithKey(key);
        }
        return kOk;
    });
}

void Rivlo::start(const std::string& key, const std::string& theme) {
    const char* function = "start";
    CallGuard::run(function, [&] {
        if (RivloRuntime::ensureStarted(function)) {
            RivloRuntime::Call call(function);
            if (call) RVFacade::start(key, theme);
        }
        return kOk;
    });
}

void Rivlo::stopApplicationAndUploadData() {
    admitted("stopApplicationAndUploadData", [] { RVFacade::stopApplicationAndUploadData(); });
}

void Rivlo::restartSession() {
    admitted("restartSession", [] { RVFacade::restartSession(); });
}

bool Rivlo::isRecording() {
    bool recording = false;
    admitted("isRecording", [&] { recording = RVFacade::isRecording(); });
    return recording;
}

void Rivlo::markUserAsFavorite() {
    admitted("markUserAsFavorite", [] { RVFacade::markUserAsFavorite(); });
}

void Rivlo::tagScreenName(const std::string& screenName) {
    admitted("tagScreenName", [&] { RVFacade::tagScreenName(screenName); });
}

void Rivlo::tagUsersName(const std::string& name, const std::any& additionalData) {
    admitted("tagUsersName", [&] { RVFacade::tagUsersName(name, additionalData); });
}

void Rivlo::addTag(const std::string& tag) {
    admitted("addTag", [&] { RVFacade::addTag(tag); });
}

void Rivlo::setPreciseLocationLatitude(double latitude, double longitude) {
    admitted("setPreciseLocationLatitude",
             [&] { RVFacade::setPreciseLocationLatitude(latitude, longitude); });
}

}  // namespace rivlo
