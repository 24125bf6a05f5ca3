#include "core/RVFacade.h"

#include "core/RVSessionSteps.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/DispatchQueue.h"
#include "foundation/Log.h"
#include "store/RVJSONDataHandler.h"

namespace rivlo {

void RVFacade::startApplicationWithKey(const std::string& key) {
    // The minimum is a mobile system's version; a platform whose version numbers something
    // else (Linux: "3.18" on Alpine, a 6.x kernel) is not compared with it.
    if (!RVUtil::isSupportedSystemVersion(kMinimumSystemVersion)) {
        RVLog(
            "Rivlo: startApplicationWithKey: Failed to start as Rivlo requires iOS7.0 or "
            "higher");
        return;
    }
    RivloHandler::start(key);
}

void RVFacade::start(const std::string& key, const std::string& theme) {
    RivloHandler::start(key, theme);
}

void RVFacade::stopApplicationAndUploadData() {
    DispatchQueue::global(DispatchQueue::Priority::High, [] { RivloHandler::stopAndPostData(); });
}

void RVFacade::restartSession() {
    RivloHandler::restartSession();
}

bool RVFacade::isRecording() {
    return RivloHandler::isSessionRecording();
}

void RVFacade::markUserAsFavorite() {
    RVJSONDataHandler::sharedHandler()->setMarkAsFavorite(1);
}

void RVFacade::tagScreenName(const std::string& screenName) {
    runStep(RVSessionSteps::timeline().tagScreenName, screenName);
}

void RVFacade::tagUsersName(const std::string& name, const std::any& additionalData) {
    RVUtil::tagUserName(name, additionalData);
}

void RVFacade::addTag(const std::string& tag) {
    RVJSONDataHandler::sharedHandler()->addTag(tag);
}

void RVFacade::setPreciseLocationLatitude(double latitude, double longitude) {
    RVJSONDataHandler::sharedHandler()->setPreciseLocation(latitude, longitude);
}

}  // namespace rivlo
