// The library's own uploader of session documents against the collector: a document naming an
// installation the collector never issued is refused with 403, stays on the device, and is set
// aside after the library's three refusals; one naming an issued installation is accepted.

#include <gtest/gtest.h>

#include "core/RVUtil.h"
#include "foundation/RunLoop.h"
#include "http/RVAFHTTPClient.h"
#include "store/RVPlistHandler.h"
#include "support/DeviceSandbox.h"
#include "timeline/RVHeatTimeHandler.h"

#include "CollectorTestSupport.h"

#include <thread>

namespace rivlo::collector::test {
namespace {

using namespace std::chrono_literals;

TEST(CollectorLibraryRefusalTest, ADocumentOfAnUnknownInstallationIsSetAsideAfterThreeRefusals) {
    rivlo::test::DeviceSandbox device("collector-refusal");
    RVUtil::resetSetting();
    TempDir data;
    InProcessCollector collector(data.path());
    ASSERT_TRUE(collector.start()) << collector.startError();
    auto client = RVAFHTTPClient::clientWithBaseURL(*URL::parse(collector.url("/")));
    auto* store = RVPlistHandler::sharedHandler();

    const std::string issued = collector.verify("VENDOR-1")["app_device_id"];
    auto forged =
        store->saveDataToTextFile(nlohmann::json{{"apd", "forged-id"}, {"dr", "1"}}.dump());
    auto genuine = store->saveDataToTextFile(nlohmann::json{{"apd", issued}, {"dr", "1"}}.dump());
    auto pending = [&] { return store->textFileList().size(); };

    for (int pass = 1; pass <= 3; ++pass) {
        const size_t refusedBefore = collector.log().countContaining("forged-id");
        std::thread stopping([&] { RVHeatTimeHandler::postHeatTimeData(client); });
        stopping.join();
        ASSERT_TRUE(RunLoop::main().runUntil(
            [&] {
                return collector.log().countContaining("forged-id") > refusedBefore &&
                       pending() == (pass < 3 ? 1u : 0u);
            },
            20s))
            << "pass " << pass << ": " << pending() << " pending";
    }
    // The genuine document went at the first pass; the forged one was offered three times,
    // then set aside with its 403.
    EXPECT_EQ(collector.log().countContaining("forged-id\" was not issued by this collector"), 3u);
    const auto aside = store->setAsideEntries();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(aside[0]["name"], forged->fileName);
    EXPECT_EQ(aside[0]["status"], 403);
    std::vector<UploadRecord> uploads = storedUploads(data.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].fileName, genuine->fileName);
    EXPECT_EQ(uploads[0].appDeviceId, issued);
    RunLoop::main().runPending();
}

}  // namespace
}  // namespace rivlo::collector::test
