// Scenario texts for the headless device (the demo's and the tests' input): any text is
// either a scenario or a refusal with a "line N: reason" message, never a failure.

#include "FuzzInput.h"

#include "platform/headless/Scenario.h"

using namespace rivlo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto scenario =
        Scenario::parse(std::string(reinterpret_cast<const char*>(data), size), error);
    if (scenario) {
        FUZZ_CHECK(error.empty());
        FUZZ_CHECK(scenario->pause >= 0);
    } else {
        FUZZ_CHECK(!error.empty());
    }
    return 0;
}
