// Load-time installation of the screen-naming hooks and the timeline's session steps. This
// file is linked whole into every program that links the timeline library, so the initialiser
// runs before the host's own code, as a category's load method would.

#include "timeline/RVHeatTimeHandler.h"
#include "timeline/RVViewControllerHooks.h"

namespace rivlo {
namespace {

struct RVTimelineLoad {
    RVTimelineLoad() {
        RVViewControllerHooks::install();
        RVHeatTimeHandler::registerSessionSteps();
    }
};

const RVTimelineLoad gLoad;

}  // namespace
}  // namespace rivlo
