// Uploads carry authority: the identifier issued at verification is random and is what an
// upload must name; nobody can write into an installation, take its file names, or move its run
// number; stored files and index rows stay one to one.

#include <gtest/gtest.h>

#include "CollectorNames.h"
#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const char* const kVideo = "/webservices/v2/uploadvideo";
const char* const kData = "/webservices/v2/uploaddata";
const char* const kTile = "/webservices/v2/uploadheatcordsweb";

// What an identifier made from the public key and the device would be.
std::string derivedId(const std::string& appKey, const std::string& deviceId) {
    return CollectorNames::sha256Hex(std::to_string(appKey.size()) + ":" + appKey + deviceId)
        .substr(0, 24);
}

Fields screenFields(const std::string& apd) {
    return {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "4"}};
}

class CollectorAuthorityTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(collector_.start()) << collector_.startError(); }
    std::string file(const std::string& name, const std::string& bytes) {
        writeFile(files_.file(name), bytes);
        return files_.file(name);
    }
    // Every index row names a file of its own holding its bytes, and every file has its row.
    void expectIndexMatchesFiles() {
        std::vector<UploadRecord> uploads = storedUploads(data_.path());
        std::set<std::string> paths;
        for (const UploadRecord& u : uploads) {
            EXPECT_TRUE(paths.insert(u.path).second) << "two rows name " << u.path;
            EXPECT_EQ(readFile(data_.path() + "/" + u.path).size(), u.size) << u.path;
        }
        EXPECT_EQ(listFiles(data_.path() + "/apps").size(), uploads.size());
    }

    TempDir data_, files_;
    InProcessCollector collector_{data_.path()};
};

TEST_F(CollectorAuthorityTest, IdentifiersAreRandomAndCannotBeWorkedOutFromTheKey) {
    const std::string apd = collector_.verify("DEVICE-A")["app_device_id"];
    EXPECT_EQ(apd.size(), 32u);
    EXPECT_NE(apd, derivedId("test-key", "DEVICE-A"));
    // Stored: the same device keeps it.
    EXPECT_EQ(collector_.verify("DEVICE-A")["app_device_id"], apd);
    // Another collector (an empty data folder) knows nothing of it and issues another.
    TempDir otherData;
    InProcessCollector other(otherData.path());
    ASSERT_TRUE(other.start());
    EXPECT_NE(other.verify("DEVICE-A")["app_device_id"], apd);
}

TEST_F(CollectorAuthorityTest, UploadsForAnIdentifierNeverIssuedAreRefusedAndNotStored) {
    collector_.verify("DEVICE-A");
    const std::string guessed = derivedId("test-key", "DEVICE-A");
    Fields tile = {{"app_device_id", guessed}, {"orientation", "1"},
                   {"activity_name", "a.b/c"}, {"key", "k"},
                   {"total_rows", "1"},        {"total_columns", "1"},
                   {"gridImg_width", "1"},     {"gridImg_height", "1"},
                   {"dist_x", "0.000000"},     {"dist_y", "0.000000"}};
    const std::vector<HttpResult> results = {
        postMultipart(collector_.url(kVideo), screenFields(guessed),
                      {{file("S_1765700000.mp4", "movie")}}),
        postMultipart(collector_.url(kVideo), screenFields(""), {{file("S_1765700001.mp4", "m")}}),
        postMultipart(collector_.url(kTile), tile, {{file("1765700002.jpeg", "jpeg")}}),
        postMultipart(collector_.url(kData), {},
                      {{file("1765700003.txt", nlohmann::json{{"apd", guessed}}.dump())}}),
        postMultipart(collector_.url(kData), {},
                      {{file("1765700004.txt", nlohmann::json{{"dr", "1"}}.dump())}}),
    };
    for (const HttpResult& r : results) {
        EXPECT_EQ(r.status, 403) << r.body;
        EXPECT_EQ(r.json().value("error", ""), "unknown installation");
    }
    EXPECT_TRUE(storedUploads(data_.path()).empty());
    EXPECT_TRUE(listFiles(data_.path() + "/apps").empty());
    EXPECT_TRUE(listFiles(data_.path() + "/tmp").empty());
    EXPECT_EQ(collector_.log().countContaining("was not issued by this collector"), 5u);
}

TEST_F(CollectorAuthorityTest, NobodyTakesAnInstallationsFileNameBeforeItsOwner) {
    // The attacker sends first, under the identifier the old scheme would have given the owner.
    const std::string name = "VICTIM_1765700100.mp4";
    postMultipart(collector_.url(kVideo), screenFields(derivedId("test-key", "VICTIM")),
                  {{file(name, "attacker's bytes")}});
    const std::string apd = collector_.verify("VICTIM")["app_device_id"];
    HttpResult owner =
        postMultipart(collector_.url(kVideo), screenFields(apd), {{file(name, "owner's movie")}});
    EXPECT_EQ(owner.json().value("status", ""), "stored") << owner.body;
    std::vector<UploadRecord> uploads = storedUploads(data_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(readFile(data_.path() + "/" + uploads[0].path), "owner's movie");
}

TEST_F(CollectorAuthorityTest, AnUploadCannotMoveTheRunNumberBeyondTheInstallationsOwn) {
    const std::string apd = collector_.verify("DEVICE-R")["app_device_id"];
    collector_.verify("DEVICE-R");
    // A document of the installation itself, with a run it never reached.
    nlohmann::json document = {{"apd", apd}, {"dr", 9223372036854775807LL}, {"tt", "5"}};
    HttpResult r =
        postMultipart(collector_.url(kData), {}, {{file("1765700200.txt", document.dump())}});
    EXPECT_EQ(r.json().value("status", ""), "stored") << r.body;
    EXPECT_EQ(collector_.log().countContaining("beyond its 2 verifications"), 1u);
    // Its next verification is its third: the latest run before it is 2, as it reported.
    EXPECT_EQ(collector_.verify("DEVICE-R")["latest_run"], 2);
    // A genuine run within its verifications is taken.
    document["dr"] = "2";
    postMultipart(collector_.url(kData), {}, {{file("1765700201.txt", document.dump())}});
    auto index = openIndex(data_.path());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->installation(apd)->maxRun, 2);
    EXPECT_EQ(collector_.verify("DEVICE-R")["latest_run"], 3);
}

TEST_F(CollectorAuthorityTest, NoTwoIdentifiersShareAFolderSoNoUploadReplacesAnother) {
    // "_none" stood for a missing identifier, and an escaped identifier's folder name could be
    // sent literally: each pair reached one folder and the second file replaced the first.
    const std::string name = "S_1765700300.mp4";
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"", "_none"}, {"a b", CollectorNames::folderName("a b")}};
    int n = 0;
    for (const auto& [first, second] : pairs) {
        postMultipart(collector_.url(kVideo), screenFields(first),
                      {{file(name, "first " + std::to_string(n))}});
        postMultipart(collector_.url(kVideo), screenFields(second),
                      {{file(name, "second file " + std::to_string(n))}});
        ++n;
    }
    // Two installations of its own whose uploads carry the same file name.
    for (const char* device : {"D-1", "D-2"}) {
        const std::string apd = collector_.verify(device)["app_device_id"];
        EXPECT_EQ(postMultipart(collector_.url(kVideo), screenFields(apd),
                                {{file(name, std::string("from ") + device)}})
                      .status,
                  200);
    }
    expectIndexMatchesFiles();
    EXPECT_EQ(storedUploads(data_.path()).size(), 2u);
}

}  // namespace
}  // namespace rivlo::collector::test
