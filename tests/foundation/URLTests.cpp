#include "foundation/URL.h"

#include <gtest/gtest.h>

using namespace rivlo;

TEST(URLs, ParseGivesTheParts) {
    auto u = URL::parse("https://user:pw@api.example.com:8443/a/b/file.tar.gz?x=1&y=2#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme(), "https");
    EXPECT_EQ(u->host(), "api.example.com");
    EXPECT_EQ(u->port(), 8443);
    EXPECT_EQ(u->path(), "/a/b/file.tar.gz");
    EXPECT_EQ(u->query(), "x=1&y=2");
    EXPECT_EQ(u->fragment(), "frag");
    EXPECT_EQ(u->user(), "user");
    EXPECT_EQ(u->password(), "pw");
    EXPECT_EQ(u->lastPathComponent(), "file.tar.gz");
    EXPECT_EQ(u->pathExtension(), "gz");
    EXPECT_FALSE(u->isFileURL());
    EXPECT_FALSE(URL::parse("no scheme here"));
    EXPECT_FALSE(URL::parse("/just/a/path"));
}

TEST(URLs, RelativeReferencesResolveLikeRfc3986) {
    auto withSlash = URL::parse("https://api.example.com/api/");
    ASSERT_TRUE(withSlash);
    EXPECT_EQ(URL::resolve("users", *withSlash)->absoluteString(),
              "https://api.example.com/api/users");
    // A rooted path replaces the base path: the service's paths resolve at the host root.
    EXPECT_EQ(URL::resolve("/webservices/v2/verifyapp", *withSlash)->absoluteString(),
              "https://api.example.com/webservices/v2/verifyapp");
    auto noSlash = URL::parse("https://api.example.com/api");
    EXPECT_EQ(URL::resolve("users", *noSlash)->absoluteString(), "https://api.example.com/users");
    auto root = URL::parse("https://svc.example.com");
    EXPECT_EQ(URL::resolve("webservices/v2/verifyapp", *root)->absoluteString(),
              "https://svc.example.com/webservices/v2/verifyapp");
    auto deep = URL::parse("http://h/a/b/c?q=1");
    EXPECT_EQ(URL::resolve("../d", *deep)->absoluteString(), "http://h/a/d");
    EXPECT_EQ(URL::resolve("?z=2", *deep)->absoluteString(), "http://h/a/b/c?z=2");
    EXPECT_EQ(URL::resolve("https://other/x", *deep)->absoluteString(), "https://other/x");
}

TEST(URLs, FileURLsRoundTripPaths) {
    auto f = URL::fileURL("/tmp/my dir/UserActivity.mov");
    EXPECT_TRUE(f.isFileURL());
    EXPECT_EQ(f.absoluteString(), "file:///tmp/my%20dir/UserActivity.mov");
    EXPECT_EQ(f.decodedPath(), "/tmp/my dir/UserActivity.mov");
    EXPECT_EQ(f.lastPathComponent(), "UserActivity.mov");
    EXPECT_EQ(f.pathExtension(), "mov");
    auto parsed = URL::parse(f.absoluteString());
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->isFileURL());
    EXPECT_EQ(parsed->decodedPath(), "/tmp/my dir/UserActivity.mov");
    EXPECT_EQ(URL::fileURL("/").lastPathComponent(), "/");
    EXPECT_EQ(URL::fileURL("/a/.hidden").pathExtension(), "");
}
