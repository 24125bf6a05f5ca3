// rivlo/rivlo.h: the C API. Each function checks what a C caller can get wrong (NULL, text
// that is not UTF-8, out-of-range numbers), logs it and ignores the call, then hands over to
// the C++ facade. Nothing thrown inside reaches the caller (CallGuard).

#include "rivlo/rivlo.h"

#include "rivlo/Log.h"
#include "rivlo/Options.h"
#include "rivlo/Platform.h"
#include "rivlo/Rivlo.h"

#include "all/CallGuard.h"
#include "all/OptionsData.h"
#include "all/RivloRuntime.h"
#include "foundation/Log.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool isUTF8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char c = *p;
        int follow = 0;
        unsigned min = 0;
        unsigned code = 0;
        if (c < 0x80) {
            ++p;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            follow = 1, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            follow = 2, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            follow = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < follow; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;  // also stops at the terminating NUL
            code = (code << 6) | (*p & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    }
    return true;
}

// The text as a std::string, or false (logged) when it is NULL or not UTF-8.
bool acceptText(const char* function, const char* what, const char* text, std::string& out) {
    if (text == nullptr) {
        RVLog("Rivlo: %s: %s is NULL; ignored", function, what);
        return false;
    }
    if (!isUTF8(text)) {
        RVLog("Rivlo: %s: %s is not UTF-8; ignored", function, what);
        return false;
    }
    out = text;
    return true;
}

// An optional field: NULL or empty is "not given"; text that is not UTF-8 is logged and not
// given either.
std::string optionalText(const char* function, const char* what, const char* text) {
    std::string out;
    if (text == nullptr || *text == '\0') return out;
    if (!acceptText(function, what, text, out)) out.clear();
    return out;
}

// A C string setter of the options: NULL options refused, the text checked (NULL or "" is
// "not given" where allowed), then set.
template <class Set>
int setText(const char* function, rivlo_options_t* options, const char* text, Set&& set);

}  // namespace

struct rivlo_options {
    rivlo::Options options;
};

namespace {

template <class Set>
int setText(const char* function, rivlo_options_t* options, const char* text, Set&& set) {
    return rivlo::CallGuard::run(function, [&] {
        if (options == nullptr) {
            RVLog("Rivlo: %s: options is NULL; ignored", function);
            return static_cast<int>(RIVLO_ERROR_INVALID_ARGUMENT);
        }
        std::string value;
        if (text != nullptr && *text != '\0' && !acceptText(function, "the text", text, value)) {
            return static_cast<int>(RIVLO_ERROR_INVALID_ARGUMENT);
        }
        return set(options->options, value);
    });
}

int setFlag(const char* function, rivlo_options_t* options, int flag,
            int (rivlo::Options::*set)(bool)) {
    return rivlo::CallGuard::run(function, [&] {
        if (options == nullptr) {
            RVLog("Rivlo: %s: options is NULL; ignored", function);
            return static_cast<int>(RIVLO_ERROR_INVALID_ARGUMENT);
        }
        if (flag != 0 && flag != 1) {
            RVLog("Rivlo: %s: %d is neither 0 nor 1; ignored", function, flag);
            return static_cast<int>(RIVLO_ERROR_INVALID_ARGUMENT);
        }
        return (options->options.*set)(flag == 1);
    });
}

// A limit in milliseconds as seconds.
double seconds(uint64_t milliseconds) {
    return static_cast<double>(milliseconds) / 1000.0;
}

// Runs a void call of the C API inside the boundary.
template <class Work>
void guarded(const char* function, Work&& work) {
    rivlo::CallGuard::run(function, [&] {
        work();
        return static_cast<int>(RIVLO_OK);
    });
}

}  // namespace

extern "C" {

/* ---- Options and lifecycle ---- */

rivlo_options_t* rivlo_options_new(void) {
    rivlo_options_t* options = nullptr;
    rivlo::CallGuard::run("rivlo_options_new", [&] {
        options = new rivlo_options_t;
        return static_cast<int>(RIVLO_OK);
    });
    return options;
}

void rivlo_options_free(rivlo_options_t* options) {
    guarded("rivlo_options_free", [&] { delete options; });
}

int rivlo_options_set_application_key(rivlo_options_t* options, const char* key) {
    return setText("rivlo_options_set_application_key", options, key,
                   [](rivlo::Options& o, const std::string& v) { return o.setApplicationKey(v); });
}

int rivlo_options_set_application_id(rivlo_options_t* options, const char* id) {
    return setText("rivlo_options_set_application_id", options, id,
                   [](rivlo::Options& o, const std::string& v) { return o.setApplicationId(v); });
}

int rivlo_options_set_display_name(rivlo_options_t* options, const char* name) {
    return setText("rivlo_options_set_display_name", options, name,
                   [](rivlo::Options& o, const std::string& v) { return o.setDisplayName(v); });
}

int rivlo_options_set_application_version(rivlo_options_t* options, const char* version) {
    return setText(
        "rivlo_options_set_application_version", options, version,
        [](rivlo::Options& o, const std::string& v) { return o.setApplicationVersion(v); });
}

int rivlo_options_set_service_url(rivlo_options_t* options, const char* url) {
    return setText("rivlo_options_set_service_url", options, url,
                   [](rivlo::Options& o, const std::string& v) {
                       return o.data().setServiceURL("rivlo_options_set_service_url", v);
                   });
}

int rivlo_options_set_ca_file(rivlo_options_t* options, const char* path) {
    return setText("rivlo_options_set_ca_file", options, path,
                   [](rivlo::Options& o, const std::string& v) {
                       return o.data().setCAFile("rivlo_options_set_ca_file", v);
                   });
}

int rivlo_options_set_screen(rivlo_options_t* options, double width, double height, double scale) {
    const char* function = "rivlo_options_set_screen";
    return rivlo::CallGuard::run(function, [&] {
        if (options == nullptr) {
            RVLog("Rivlo: %s: options is NULL; ignored", function);
            return static_cast<int>(RIVLO_ERROR_INVALID_ARGUMENT);
        }
        return options->options.data().setScreen(function, width, height, scale);
    });
}

int rivlo_options_set_idiom(rivlo_options_t* options, const char* idiom) {
    const char* function = "rivlo_options_set_idiom";
    if (idiom == nullptr || *idiom == '\0') {
        RVLog("Rivlo: %s: idiom is NULL or empty; ignored", function);
        return RIVLO_ERROR_INVALID_ARGUMENT;
    }
    return setText(function, options, idiom, [&](rivlo::Options& o, const std::string& v) {
        return o.data().setIdiom(function, v);
    });
}

int rivlo_options_set_front_camera(rivlo_options_t* options, int use_video_device) {
    return setFlag("rivlo_options_set_front_camera", options, use_video_device,
                   &rivlo::Options::setFrontCamera);
}

int rivlo_options_set_linux_platform(rivlo_options_t* options, int install) {
    return setFlag("rivlo_options_set_linux_platform", options, install,
                   &rivlo::Options::setLinuxPlatform);
}

int rivlo_options_set_headless_platform(rivlo_options_t* options, int install) {
    return setFlag("rivlo_options_set_headless_platform", options, install,
                   &rivlo::Options::setHeadlessPlatform);
}

int rivlo_init(const rivlo_options_t* options) {
    return rivlo::CallGuard::run("rivlo_init", [&] {
        if (options != nullptr) return rivlo::Rivlo::init(options->options);
        return rivlo::Rivlo::init(rivlo::Options());
    });
}

int rivlo_flush(uint64_t timeout_ms) {
    return rivlo::CallGuard::run("rivlo_flush", [&] {
        return rivlo::RivloRuntime::flush(seconds(timeout_ms), "rivlo_flush");
    });
}

int rivlo_close(uint64_t timeout_ms) {
    return rivlo::CallGuard::run("rivlo_close", [&] {
        return rivlo::RivloRuntime::close(seconds(timeout_ms), "rivlo_close");
    });
}

int rivlo_is_initialized(void) {
    return rivlo::Rivlo::isInitialized() ? 1 : 0;
}

const char* rivlo_strerror(int error) {
    switch (error) {
        case RIVLO_OK:
            return "no error";
        case RIVLO_ERROR_INVALID_ARGUMENT:
            return "invalid argument";
        case RIVLO_ERROR_NOT_INITIALIZED:
            return "the library is not running";
        case RIVLO_ERROR_ALREADY_INITIALIZED:
            return "the library runs already";
        case RIVLO_ERROR_WRONG_THREAD:
            return "called off the main thread";
        case RIVLO_ERROR_TIMEOUT:
            return "the time limit passed";
        case RIVLO_ERROR_UNAVAILABLE:
            return "a part the call needs is missing";
        case RIVLO_ERROR_OUT_OF_MEMORY:
            return "out of memory";
        case RIVLO_ERROR_INTERNAL:
            return "internal failure";
        default:
            return "unknown error";
    }
}

/* ---- The main thread ---- */

int rivlo_set_main_thread_scheduler(void (*notify)(void* context), void* context) {
    if (notify == nullptr) return rivlo::setMainThreadScheduler({});
    return rivlo::setMainThreadScheduler([notify, context] { notify(context); });
}

int rivlo_perform_main_thread_work(int* next_timeout_ms) {
    return rivlo::performMainThreadWork(next_timeout_ms);
}

void rivlo_run_main_loop(double seconds) {
    rivlo::runMainLoop(seconds);
}

/* ---- Platforms ---- */

void rivlo_install_linux_platform(const char* application_id, const char* display_name,
                                  const char* version) {
    const char* fn = "rivlo_install_linux_platform";
    guarded(fn, [&] {
        rivlo::ApplicationIdentity identity;
        identity.id = optionalText(fn, "application_id", application_id);
        identity.displayName = optionalText(fn, "display_name", display_name);
        identity.version = optionalText(fn, "version", version);
        rivlo::installLinuxPlatform(identity);
    });
}

void rivlo_install_headless_platform(void) {
    rivlo::installHeadlessPlatform();
}

/* ---- Sessions ---- */

int rivlo_start(const char* application_key) {
    int handed = 0;
    guarded("rivlo_start", [&] {
        std::string key;
        if (!acceptText("rivlo_start", "application_key", application_key, key)) return;
        if (key.find_first_not_of(" \t") == std::string::npos) {
            RVLog("Rivlo: rivlo_start: application_key is empty; ignored");
            return;
        }
        rivlo::Rivlo::startApplicationWithKey(key);
        handed = rivlo::Rivlo::isInitialized() ? 1 : 0;
    });
    return handed;
}

void rivlo_stop_and_upload(void) {
    rivlo::Rivlo::stopApplicationAndUploadData();
}

void rivlo_restart_session(void) {
    rivlo::Rivlo::restartSession();
}

int rivlo_is_recording(void) {
    return rivlo::Rivlo::isRecording() ? 1 : 0;
}

void rivlo_mark_user_as_favorite(void) {
    rivlo::Rivlo::markUserAsFavorite();
}

void rivlo_tag_screen_name(const char* name) {
    guarded("rivlo_tag_screen_name", [&] {
        std::string text;
        if (acceptText("rivlo_tag_screen_name", "name", name, text)) {
            rivlo::Rivlo::tagScreenName(text);
        }
    });
}

void rivlo_tag_users_name(const char* name) {
    guarded("rivlo_tag_users_name", [&] {
        std::string text;
        if (acceptText("rivlo_tag_users_name", "name", name, text)) {
            rivlo::Rivlo::tagUsersName(text);
        }
    });
}

void rivlo_add_tag(const char* tag) {
    guarded("rivlo_add_tag", [&] {
        std::string text;
        if (acceptText("rivlo_add_tag", "tag", tag, text)) rivlo::Rivlo::addTag(text);
    });
}

void rivlo_set_precise_location(double latitude, double longitude) {
    guarded("rivlo_set_precise_location", [&] {
        if (!(latitude >= -90 && latitude <= 90) || !(longitude >= -180 && longitude <= 180)) {
            RVLog(
                "Rivlo: rivlo_set_precise_location: %g, %g is not a latitude and longitude; "
                "ignored",
                latitude, longitude);
            return;
        }
        rivlo::Rivlo::setPreciseLocationLatitude(latitude, longitude);
    });
}

/* ---- Log and version ---- */

void rivlo_set_log_handler(void (*handler)(const char* line, void* context), void* context) {
    guarded("rivlo_set_log_handler", [&] {
        if (handler == nullptr) {
            rivlo::setLogHandler({});
            return;
        }
        rivlo::setLogHandler(
            [handler, context](const std::string& line) { handler(line.c_str(), context); });
    });
}

const char* rivlo_version(void) {
    return RIVLO_VERSION_STRING;
}

}  // extern "C"
