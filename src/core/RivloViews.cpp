#include "core/RivloViews.h"

#include "core/RVSessionSteps.h"

namespace rivlo {

void RivloViews::occludeSensitiveView(const std::shared_ptr<View>& view) {
    runStep(RVSessionSteps::screenRecorder().addSensitiveView, view);
}

}  // namespace rivlo
