#include "http/RVAFQueryStringPair.h"
#include "http/RVAFStringEncoding.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <string>

namespace rivlo {
namespace {

TEST(QueryString, KeysSortCaseInsensitivelyAndValuesAreEscaped) {
    const Value params = {{"b", 1}, {"A", "x y"}};
    EXPECT_EQ(RVAFQueryStringFromParametersWithEncoding(params, StringEncoding::UTF8),
              "A=x%20y&b=1");
}

TEST(QueryString, NestedDictionariesAndArraysKeepBracketsUnescaped) {
    const Value params = {{"a", {{"c", 1}, {"B", 2}}}, {"l", {"x", "y"}}};
    EXPECT_EQ(RVAFQueryStringFromParametersWithEncoding(params, StringEncoding::UTF8),
              "a[B]=2&a[c]=1&l[]=x&l[]=y");
}

TEST(QueryString, NullRendersBareFieldAndEmptyDictionaryContributesNothing) {
    const Value params = {{"flag", nullptr}, {"empty", Value::object()}, {"z", "1"}};
    EXPECT_EQ(RVAFQueryStringFromParametersWithEncoding(params, StringEncoding::UTF8), "flag&z=1");
    EXPECT_EQ(RVAFQueryStringFromParametersWithEncoding(Value::object(), StringEncoding::UTF8), "");
}

TEST(QueryString, PercentEscapingLeavesOnlyTheUnreservedSet) {
    const std::string all = "aZ09-_.*',[]:/?&=;+!@#$()~ %\"<>";
    EXPECT_EQ(
        RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(all, StringEncoding::UTF8),
        "aZ09-_.*',[]%3A%2F%3F%26%3D%3B%2B%21%40%23%24%28%29%7E%20%25%22%3C%3E");
    // Non-ASCII characters are escaped byte by byte in the chosen encoding.
    EXPECT_EQ(RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding("\xC3\xA9",
                                                                            StringEncoding::UTF8),
              "%C3%A9");
    EXPECT_EQ(RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(
                  "\xC3\xA9", StringEncoding::ISOLatin1),
              "%E9");
}

// A single-byte process locale (scripts/setup.sh generates en_US.ISO-8859-1) calls bytes
// above 127 letters and lowers them; the wire form must not change with it.
TEST(QueryString, EscapingAndOrderFollowASCIIWhateverTheLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "en_US.ISO-8859-1"), nullptr)
        << "the en_US.ISO-8859-1 locale is missing: run scripts/setup.sh";
    // The locale is in force: the byte 0xC3 (A with a tilde in Latin-1) is a letter.
    volatile int byte = 0xC3;  // read at run time, not folded under the C locale
    EXPECT_TRUE(std::isalnum(byte));

    // An e acute (C3 A9) orders before the euro sign (E2 82 AC) by byte, and every byte of
    // both is escaped.
    const Value params = {{"\xE2\x82\xAC", 5}, {"\xC3\xA9", "\xC3\xBC"}, {"Zeta", 1}, {"a", 2}};
    const std::string utf8 =
        RVAFQueryStringFromParametersWithEncoding(params, StringEncoding::UTF8);
    const std::string latin1 = RVAFPercentEscapedQueryStringPairMemberFromStringWithEncoding(
        "caf\xC3\xA9", StringEncoding::ISOLatin1);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(utf8, "a=2&Zeta=1&%C3%A9=%C3%BC&%E2%82%AC=5");
    EXPECT_EQ(latin1, "caf%E9");
}

TEST(QueryString, ValueDescriptionsFollowThePlatformForms) {
    const Value params = {{"i", -3}, {"d", 2.5}, {"t", true}, {"f", false}, {"w", 1.0}};
    EXPECT_EQ(RVAFQueryStringFromParametersWithEncoding(params, StringEncoding::UTF8),
              "d=2.5&f=0&i=-3&t=1&w=1");
}

TEST(QueryString, PairsOfNestedStructuresKeepTheirOrder) {
    const Value params = {{"user", {{"name", "n"}, {"Age", 3}}}, {"ids", {1, 2}}};
    const auto pairs = RVAFQueryStringPairsFromDictionary(params);
    ASSERT_EQ(pairs.size(), 4u);
    EXPECT_EQ(pairs[0].field, "ids[]");
    EXPECT_EQ(pairs[1].field, "ids[]");
    EXPECT_EQ(pairs[2].field, "user[Age]");
    EXPECT_EQ(pairs[3].field, "user[name]");
    EXPECT_EQ(pairs[3].value, "n");
}

TEST(StringEncoding, ConvertsAndRefusesUnencodableText) {
    EXPECT_EQ(RVAFEncodeString("caf\xC3\xA9", StringEncoding::ISOLatin1), "caf\xE9");
    EXPECT_FALSE(RVAFEncodeString("caf\xC3\xA9", StringEncoding::ASCII).has_value());
    EXPECT_FALSE(RVAFEncodeString("\xE2\x82\xAC", StringEncoding::ISOLatin1).has_value());
    EXPECT_FALSE(RVAFEncodeString("\xFF", StringEncoding::UTF8).has_value());
    EXPECT_EQ(RVAFDecodeString("caf\xE9", StringEncoding::ISOLatin1), "caf\xC3\xA9");
    EXPECT_EQ(RVAFEncodingForCharsetName("UTF-8"), StringEncoding::UTF8);
    EXPECT_EQ(RVAFEncodingForCharsetName("ISO-8859-1"), StringEncoding::ISOLatin1);
    EXPECT_EQ(RVAFEncodingForCharsetName("klingon"), 0u);
    EXPECT_EQ(RVAFCharsetNameForEncoding(StringEncoding::UTF8), "utf-8");
}

}  // namespace
}  // namespace rivlo
