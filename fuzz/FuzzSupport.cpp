#include "FuzzInput.h"

#include "foundation/Log.h"

namespace rivlo::fuzz {

void silenceLog() {
    Log::setSink([](const std::string&) {});
}

}  // namespace rivlo::fuzz
