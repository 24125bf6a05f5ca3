// Load-time registration of the camera recorder's session steps, so a host that links the
// library gets the consent question and the camera movie without calling anything but the
// facade. Linked whole into every program that links the camera library.

#include "camera/RVCameraVideoHandler.h"

namespace rivlo {
namespace {

struct RVCameraLoad {
    RVCameraLoad() { RVCameraVideoHandler::registerSessionSteps(); }
};

const RVCameraLoad gLoad;

}  // namespace
}  // namespace rivlo
