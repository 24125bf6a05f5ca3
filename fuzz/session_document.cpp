// The session data document built from whatever the host and the service hand the library
// (alias and names from the host, the identifier from the service, tags, a location, timeline
// entries) and written as the store writes it: the bytes must always be one JSON object that a
// standard parser reads back with every entry present and the tags in order.

#include "FuzzInput.h"

#include "foundation/Value.h"
#include "store/RVJSONDataHandler.h"

using namespace rivlo;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    RVJSONDataHandler* handler = RVJSONDataHandler::sharedHandler();
    handler->reset();

    RVDeviceInfo info;
    info.aliasName = in.text();
    info.appDeviceId = in.text();
    info.vendorIdentifier = in.text();
    info.deviceRunNo = in.text();
    info.systemVersion = in.text();
    info.deviceType = in.text();
    info.screenWidth = in.number();
    info.screenHeight = in.number();
    info.resolution = in.text();
    info.devicePlatform = in.text();
    info.appName = in.text();
    handler->saveInfo(info);
    handler->setPreciseLocation(in.number(), in.number());
    handler->setIsCrash(in.byte() & 1);
    handler->setMarkAsFavorite(in.byte() & 1);
    const size_t tagCount = in.byte() % 8;
    for (size_t i = 0; i < tagCount; ++i)
        handler->addTag(in.text());
    // Timeline entries as JSON from the rest (the timeline builds them from screen names).
    if (auto entries = PropertyList::fromJSON(in.rest())) {
        if (entries->is_array()) {
            for (const auto& entry : *entries)
                handler->addHeatTimeEntry(entry);
        } else {
            handler->addHeatTimeEntry(*entries);
        }
    }

    const Value document = handler->document();
    const auto bytes = RVJSONDataHandler::serialize(document);
    FUZZ_CHECK(bytes.has_value());
    const Value read = Value::parse(*bytes, nullptr, false);
    FUZZ_CHECK(!read.is_discarded());
    FUZZ_CHECK(read.is_object());
    for (const char* key :
         {"dan", "apd",      "did",     "dr", "osn", "dvt", "wd", "ht", "rl", "dmn",  "eml",  "cv",
          "cn",  "platform", "appname", "cr", "isF", "lc",  "tt", "ut", "gy", "tags", "rvsdk"})
        FUZZ_CHECK(read.contains(key));
    FUZZ_CHECK(read["tags"].is_array() && read["tags"].size() == tagCount);
    FUZZ_CHECK(read["cr"].is_boolean() && read["isF"].is_number());
    FUZZ_CHECK(read["lc"].is_object() && read["ut"].is_array());
    return 0;
}
