#include "foundation/Value.h"

#include <gtest/gtest.h>

using namespace rivlo;

namespace {
Value sample() {
    Value v = Value::object();
    v["text"] = "héllo";
    v["int"] = 42;
    v["negative"] = -7;
    v["real"] = 0.5;
    v["flag"] = true;
    v["list"] = Value::array({1, "two", Value::object({{"three", 3}})});
    v["data"] = PropertyList::data(std::string("\x00\x01\xff", 3));
    return v;
}
}  // namespace

TEST(PropertyLists, RoundTripInBothFormats) {
    for (auto format : {PropertyList::Format::XML, PropertyList::Format::Binary}) {
        std::string bytes = PropertyList::write(sample(), format);
        ASSERT_FALSE(bytes.empty());
        auto back = PropertyList::read(bytes);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ((*back)["text"], "héllo");
        EXPECT_EQ((*back)["int"], 42);
        EXPECT_EQ((*back)["negative"], -7);
        EXPECT_DOUBLE_EQ((*back)["real"].get<double>(), 0.5);
        EXPECT_EQ((*back)["flag"], true);
        EXPECT_EQ((*back)["list"][2]["three"], 3);
        EXPECT_EQ(PropertyList::dataBytes((*back)["data"]), (Data{0, 1, 255}));
    }
}

TEST(PropertyLists, NullsAreLeftOutAndGarbageIsRefused) {
    Value v = {{"keep", 1}, {"drop", nullptr}};
    auto back = PropertyList::read(PropertyList::write(v, PropertyList::Format::Binary));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->contains("keep"));
    EXPECT_FALSE(back->contains("drop"));
    EXPECT_FALSE(PropertyList::read(""));
    EXPECT_FALSE(PropertyList::read("not a plist at all"));
    std::string bin = PropertyList::write(sample(), PropertyList::Format::Binary);
    EXPECT_FALSE(PropertyList::read(bin.substr(0, bin.size() / 2)));
}

TEST(PropertyLists, JsonTextAndTypedReadersNeverThrow) {
    EXPECT_FALSE(PropertyList::fromJSON("{bad"));
    auto v = PropertyList::fromJSON(R"({"a":"x","n":3,"f":2.9,"b":true,"arr":[1]})");
    ASSERT_TRUE(v);
    EXPECT_EQ(PropertyList::toJSON(Value{{"b", 1}, {"a", "x"}}), R"({"a":"x","b":1})");
    EXPECT_EQ(PropertyList::text(*v, "a"), "x");
    EXPECT_EQ(PropertyList::text(*v, "n", "fallback"), "fallback");  // a number is not a text
    EXPECT_EQ(PropertyList::integer(*v, "n"), 3);
    EXPECT_EQ(PropertyList::integer(*v, "f"), 2);
    EXPECT_EQ(PropertyList::integer(*v, "a", -1), -1);
    EXPECT_TRUE(PropertyList::boolean(*v, "b"));
    EXPECT_FALSE(PropertyList::optionalText(*v, "missing"));
    EXPECT_EQ(PropertyList::integer(Value::array(), "n", 9), 9);  // not a dictionary
}

// A damaged defaults file or a foreign writer: a key holding a NUL character (libplist's key
// getter aborts the process on one) and a text holding a byte that is not UTF-8 (the writer
// would cut it short). Both read as U+FFFD and survive the next write and read unchanged.
TEST(PropertyLists, TextsThatCannotBeStoredReadAsReplacementCharacters) {
    std::string bytes =
        PropertyList::write(Value{{"aXb", "cYd"}, {"ok", "fine"}}, PropertyList::Format::Binary);
    const size_t key = bytes.find("aXb"), text = bytes.find("cYd");
    ASSERT_NE(key, std::string::npos);
    ASSERT_NE(text, std::string::npos);
    bytes[key + 1] = '\0';
    bytes[text + 1] = '\xEC';
    const auto first = PropertyList::read(bytes);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, (Value{{"a\xEF\xBF\xBD"
                              "b",
                              "c\xEF\xBF\xBD"
                              "d"},
                             {"ok", "fine"}}));
    const auto again =
        PropertyList::read(PropertyList::write(*first, PropertyList::Format::Binary));
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
}
