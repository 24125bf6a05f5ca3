// The verification answer as the service (or anything pretending to be it) may send it: the
// body is read, the settings object becomes a settings record, and the record must hold sane
// values whatever came in — a frame interval that is finite and positive, a cellular allowance
// that is never negative, and a valid-URL test that answers without failing.

#include "FuzzInput.h"

#include "core/RVSetting.h"
#include "core/RivloHandler.h"

#include <cmath>

using namespace rivlo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const std::string page = in.text();
    const auto answer = RivloHandler::readVerificationAnswer(in.rest());
    RVSetting setting(answer.settings);
    const float interval = setting.videoFrameRate();
    FUZZ_CHECK(std::isfinite(interval) && interval > 0);
    FUZZ_CHECK(setting.threeGDataSize() >= 0);
    FUZZ_CHECK(!setting.is3GOn() ? setting.threeGDataSize() == 0 : true);
    (void)setting.isValidUrl(page);
    (void)setting.description();
    setting.updateDataSent(static_cast<int64_t>(in.byte()) << 20);
    FUZZ_CHECK(setting.totalDataSent() >= 0);
    return 0;
}
