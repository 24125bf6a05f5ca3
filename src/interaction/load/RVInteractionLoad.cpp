// Load-time installation of the touch and motion hooks and the gesture recorder's session
// steps. This file is linked whole into every program that links the interaction library, so
// the initialiser runs before the host's own code, as a category's load method would.

#include "interaction/RVGestureHandler.h"
#include "interaction/RVTouchHooks.h"

namespace rivlo {
namespace {

struct RVInteractionLoad {
    RVInteractionLoad() {
        RVTouchHooks::install();
        RVGestureHandler::registerSessionSteps();
    }
};

const RVInteractionLoad gLoad;

}  // namespace
}  // namespace rivlo
