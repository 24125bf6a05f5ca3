#include "StoreTestSupport.h"

#include "store/RVJSONDataHandler.h"
#include "store/RVPlistHandler.h"

#include <atomic>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;

namespace {

RVJSONDataHandler& document() {
    return *RVJSONDataHandler::sharedHandler();
}

RVDeviceInfo sampleInfo() {
    RVDeviceInfo info;
    info.aliasName = "Ada";
    info.appDeviceId = "apd-1";
    info.vendorIdentifier = "0A1B2C3D-0000-1111-2222-333344445555";
    info.deviceRunNo = "7";
    info.systemVersion = "17.2";
    info.deviceType = "iPhone";
    info.screenWidth = 375;
    info.screenHeight = 667;
    info.resolution = "326";
    info.devicePlatform = "iPhone 6";
    info.appName = "Demo";
    return info;
}

}  // namespace

class JSONDataHandlerTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        document().reset();
        RVUtil::isInfoPostSuccess(true);
        RVUtil::sharedHandler()->startApplicationTimer();
    }
    void TearDown() override {
        RVUtil::isInfoPostSuccess(false);
        StoreTest::TearDown();
    }

    // Writes the document and reads it back from its file.
    Value saveAndRead() {
        auto file = RVJSONDataHandler::saveDataToFile();
        if (!file) return Value();
        auto parsed = PropertyList::fromJSON(readFile(folder("/RVData") / file->fileName));
        return parsed ? *parsed : Value("unparsable");
    }
};

TEST_F(JSONDataHandlerTest, ASessionWithNothingRecordedGivesEmptyEntries) {
    document().saveInfo(sampleInfo());
    const Value doc = saveAndRead();
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["tags"], Value::array());
    EXPECT_EQ(doc["lc"], Value::object());
    EXPECT_EQ(doc["ut"], Value::array());
    EXPECT_EQ(doc["gy"], Value::array());
    EXPECT_EQ(doc["cr"], false);
    EXPECT_EQ(doc["isF"], 0);
    EXPECT_EQ(doc["rvsdk"], "1.0.9");
    EXPECT_TRUE(doc["tt"].is_string());
    EXPECT_EQ(doc.size(), 15u + 8u);

    const Value expected = {
        {"dan", "Ada"},      {"apd", "apd-1"},    {"did", "0A1B2C3D-0000-1111-2222-333344445555"},
        {"dr", "7"},         {"osn", "17.2"},     {"dvt", "iPhone"},
        {"wd", 375.0},       {"ht", 667.0},       {"rl", "326"},
        {"dmn", "iPhone 6"}, {"eml", ""},         {"cv", "1.0.9"},
        {"cn", "apple"},     {"platform", "ios"}, {"appname", "Demo"}};
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(doc[key], value) << key;

    // Listed for upload.
    auto list = RVPlistHandler::sharedHandler()->textFileList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->appDeviceID, "device-7");
}

TEST_F(JSONDataHandlerTest, CollectedDataGoIntoOneDocumentThenReset) {
    document().saveInfo(sampleInfo());
    document().setPreciseLocation(59.91, 10.75);
    document().setIsCrash(true);
    document().setMarkAsFavorite(1);
    document().addHeatTimeEntry({{"an", "Home"}, {"at", "0"}, {"cor", Value::array()}, {"wb", 0}});
    for (const char* tag : {"first", "second", "third"})
        document().addTag(tag);

    const Value doc = saveAndRead();
    EXPECT_EQ(doc["lc"], (Value{{"lt", 59.91}, {"lg", 10.75}}));
    EXPECT_EQ(doc["cr"], true);
    EXPECT_EQ(doc["isF"], 1);
    ASSERT_EQ(doc["ut"].size(), 1u);
    EXPECT_EQ(doc["ut"][0]["an"], "Home");
    ASSERT_EQ(doc["tags"].size(), 3u);
    EXPECT_EQ(doc["tags"][0]["tag"], "first");
    EXPECT_EQ(doc["tags"][2]["tag"], "third");
    EXPECT_LE(doc["tags"][0]["time"].get<double>(), doc["tags"][1]["time"].get<double>());
    EXPECT_LE(doc["tags"][1]["time"].get<double>(), doc["tags"][2]["time"].get<double>());
    EXPECT_GE(doc["tags"][0]["time"].get<double>(), 0.0);

    // The next session starts empty: no mark, no crash, no tags, no facts.
    EXPECT_EQ(document().markAsFavorite(), 0);
    EXPECT_FALSE(document().isCrash());
    EXPECT_EQ(document().infoDic(), Value::object());
    EXPECT_EQ(document().tags()->tags(), Value::array());
    document().saveInfo(sampleInfo());
    const Value next = saveAndRead();
    EXPECT_EQ(next["isF"], 0);
    EXPECT_EQ(next["cr"], false);
    EXPECT_EQ(next["tags"], Value::array());
    EXPECT_EQ(next["lc"], Value::object());
}

TEST_F(JSONDataHandlerTest, AnUnverifiedSessionWritesNothingAndKeepsItsTags) {
    RVUtil::isInfoPostSuccess(false);
    document().addTag("before verification");
    document().setMarkAsFavorite(1);
    document().setPreciseLocation(1, 2);
    EXPECT_EQ(RVJSONDataHandler::saveDataToFile(), nullptr);
    EXPECT_FALSE(fs::exists(folder("/RVData")) && !fs::is_empty(folder("/RVData")));
    EXPECT_TRUE(RVPlistHandler::sharedHandler()->textFileList().empty());
    EXPECT_EQ(document().markAsFavorite(), 0);  // the mark clears in every case

    RVUtil::isInfoPostSuccess(true);
    document().saveInfo(sampleInfo());
    const Value doc = saveAndRead();
    ASSERT_EQ(doc["tags"].size(), 1u);
    EXPECT_EQ(doc["tags"][0]["tag"], "before verification");
    EXPECT_EQ(doc["lc"], (Value{{"lt", 1.0}, {"lg", 2.0}}));
    EXPECT_EQ(doc["isF"], 0);
}

TEST_F(JSONDataHandlerTest, TextThatIsNotUTF8DoesNotCostTheDocument) {
    document().saveInfo(sampleInfo());
    document().addTag(std::string("caf\xe9", 4));
    const Value doc = saveAndRead();
    ASSERT_TRUE(doc.is_object());
    ASSERT_EQ(doc["tags"].size(), 1u);
    EXPECT_EQ(doc["tags"][0]["tag"].get<std::string>().substr(0, 3), "caf");
    EXPECT_EQ(doc["dan"], "Ada");
}

TEST_F(JSONDataHandlerTest, TagsRacingWithTheEndOfASessionLandInExactlyOneDocument) {
    constexpr int kTags = 400;
    std::atomic<bool> done{false};
    std::thread tagger([&] {
        for (int i = 0; i < kTags; ++i)
            document().addTag("t" + std::to_string(i));
        done = true;
    });
    size_t written = 0;
    std::vector<Value> documents;
    while (!done) {
        document().saveInfo(sampleInfo());
        documents.push_back(saveAndRead());
    }
    tagger.join();
    document().saveInfo(sampleInfo());
    documents.push_back(saveAndRead());

    std::vector<int> seen(kTags, 0);
    for (const auto& doc : documents) {
        ASSERT_TRUE(doc.is_object());
        for (const auto& tag : doc["tags"]) {
            ++seen[std::stoi(tag["tag"].get<std::string>().substr(1))];
            ++written;
        }
    }
    EXPECT_EQ(written, static_cast<size_t>(kTags));
    for (int i = 0; i < kTags; ++i)
        EXPECT_EQ(seen[i], 1) << i;
}
