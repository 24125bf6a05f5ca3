// rivlo/rivlo.h: the C API. Each function checks what a C caller can get wrong (NULL, text
// that is not UTF-8, out-of-range numbers), logs it and ignores the call, then hands over to
// the C++ facade.

#include "rivlo/rivlo.h"

#include "rivlo/Log.h"
#include "rivlo/Platform.h"
#include "rivlo/Rivlo.h"

#include "foundation/Log.h"

#include <cmath>
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

}  // namespace

extern "C" {

void rivlo_install_linux_platform(const char* application_id, const char* display_name,
                                  const char* version) {
    const char* fn = "rivlo_install_linux_platform";
    rivlo::ApplicationIdentity identity;
    identity.id = optionalText(fn, "application_id", application_id);
    identity.displayName = optionalText(fn, "display_name", display_name);
    identity.version = optionalText(fn, "version", version);
    rivlo::installLinuxPlatform(identity);
}

void rivlo_install_headless_platform(void) {
    rivlo::installHeadlessPlatform();
}

int rivlo_start(const char* application_key) {
    std::string key;
    if (!acceptText("rivlo_start", "application_key", application_key, key)) return 0;
    if (key.find_first_not_of(" \t") == std::string::npos) {
        RVLog("Rivlo: rivlo_start: application_key is empty; ignored");
        return 0;
    }
    rivlo::Rivlo::startApplicationWithKey(key);
    return 1;
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
    std::string text;
    if (acceptText("rivlo_tag_screen_name", "name", name, text)) rivlo::Rivlo::tagScreenName(text);
}

void rivlo_tag_users_name(const char* name) {
    std::string text;
    if (acceptText("rivlo_tag_users_name", "name", name, text)) rivlo::Rivlo::tagUsersName(text);
}

void rivlo_add_tag(const char* tag) {
    std::string text;
    if (acceptText("rivlo_add_tag", "tag", tag, text)) rivlo::Rivlo::addTag(text);
}

void rivlo_set_precise_location(double latitude, double longitude) {
    if (!(latitude >= -90 && latitude <= 90) || !(longitude >= -180 && longitude <= 180)) {
        RVLog("Rivlo: rivlo_set_precise_location: %g, %g is not a latitude and longitude; ignored",
              latitude, longitude);
        return;
    }
    rivlo::Rivlo::setPreciseLocationLatitude(latitude, longitude);
}

void rivlo_set_log_handler(void (*handler)(const char* line, void* context), void* context) {
    if (handler == nullptr) {
        rivlo::setLogHandler({});
        return;
    }
    rivlo::setLogHandler(
        [handler, context](const std::string& line) { handler(line.c_str(), context); });
}

void rivlo_run_main_loop(double seconds) {
    rivlo::runMainLoop(seconds);
}

const char* rivlo_version(void) {
    return RIVLO_VERSION_STRING;
}

}  // extern "C"
