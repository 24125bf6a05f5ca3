#include "HTTPTestSupport.h"

#include "http/RVAFImageViewLoader.h"
#include "http/RVAFNetworkActivityIndicatorManager.h"
#include "http/RVAFPropertyListRequestOperation.h"
#include "http/RVAFXMLRequestOperation.h"

#include <png.h>

#include <cstring>

namespace rivlo {
namespace {

using test::ScriptedResponse;

std::string pngBytes() {
    // 2 x 1: opaque red, half-transparent white (straight alpha in the file).
    const uint8_t rgba[] = {255, 0, 0, 255, 255, 255, 255, 128};
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 1;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba, 0, nullptr);
    std::string out(size, '\0');
    png_image_write_to_memory(&image, out.data(), &size, 0, rgba, 0, nullptr);
    out.resize(size);
    return out;
}

// A 1 x 1 GIF whose only pixel is red.
const std::string kGIF(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\x00"
    "\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B",
    35);

class Recorder : public RVXMLParserDelegate {
  public:
    void didStartElement(RVXMLParser&, const std::string& name,
                         const std::map<std::string, std::string>& attributes) override {
        events.push_back("start " + name +
                         (attributes.count("k") ? " k=" + attributes.at("k") : ""));
    }
    void didEndElement(RVXMLParser&, const std::string& name) override {
        events.push_back("end " + name);
    }
    void foundCharacters(RVXMLParser&, const std::string& text) override {
        events.push_back("text " + text);
    }
    std::vector<std::string> events;
};

class DecodingTest : public test::HTTPTest {
  protected:
    RVURLRequest request(const std::string& path) {
        return RVURLRequest(URL::parse(server.baseURL() + path));
    }
    OperationQueue queue_;
};

TEST_F(DecodingTest, PropertyListsInBothFormatsAndDamagedOnes) {
    const Value plist = {{"a", 1}, {"b", {"x", "y"}}};
    server.route("GET", "/xml.plist",
                 ScriptedResponse::text(200, PropertyList::write(plist, PropertyList::Format::XML),
                                        "application/x-plist"));
    server.route(
        "GET", "/bin",
        ScriptedResponse::text(200, PropertyList::write(plist, PropertyList::Format::Binary),
                               "application/x-plist"));
    server.route("GET", "/bad", ScriptedResponse::text(200, "<plist", "application/x-plist"));
    std::optional<Value> xml, bin;
    std::optional<Error> bad;
    auto xmlOp = RVAFPropertyListRequestOperation::propertyListRequestOperationWithRequest(
        request("/xml.plist"), [&](const auto&, const auto&, const Value& v) { xml = v; }, nullptr);
    auto binOp = RVAFPropertyListRequestOperation::propertyListRequestOperationWithRequest(
        request("/bin"), [&](const auto&, const auto&, const Value& v) { bin = v; }, nullptr);
    auto badOp = RVAFPropertyListRequestOperation::propertyListRequestOperationWithRequest(
        request("/bad"), nullptr,
        [&](const auto&, const auto&, const Error& e, const Value&) { bad = e; });
    queue_.addOperations({xmlOp, binOp, badOp}, false);
    ASSERT_TRUE(runUntil([&] { return xml && bin && bad; }));
    EXPECT_EQ(*xml, plist);
    EXPECT_EQ(*bin, plist);
    EXPECT_EQ(xmlOp->propertyListFormat(), PropertyListFormat::XML);
    EXPECT_EQ(binOp->propertyListFormat(), PropertyListFormat::Binary);
    EXPECT_EQ(bad->code, 3840);
    EXPECT_TRUE(RVAFPropertyListRequestOperation::canProcessRequest(request("/x.plist")));
}

TEST_F(DecodingTest, XMLOperationHandsOutAParserForTheReceiver) {
    server.route("GET", "/doc",
                 ScriptedResponse::text(200, "<r><a k='v'>hi</a><b/></r>", "application/xml"));
    server.route("GET", "/broken", ScriptedResponse::text(200, "<r><a></r>", "text/xml"));
    std::shared_ptr<RVXMLParser> parser, brokenParser;
    auto op = RVAFXMLRequestOperation::XMLParserRequestOperationWithRequest(
        request("/doc"), [&](const auto&, const auto&, const auto& p) { parser = p; }, nullptr);
    auto broken = RVAFXMLRequestOperation::XMLParserRequestOperationWithRequest(
        request("/broken"), [&](const auto&, const auto&, const auto& p) { brokenParser = p; },
        nullptr);
    queue_.addOperations({op, broken}, false);
    ASSERT_TRUE(runUntil([&] { return parser && brokenParser; }));
    auto recorder = std::make_shared<Recorder>();
    parser->setDelegate(recorder);
    EXPECT_TRUE(parser->parse());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"start r", "start a k=v", "text hi",
                                                          "end a", "start b", "end b", "end r"}));
    EXPECT_FALSE(brokenParser->parse());
    EXPECT_TRUE(brokenParser->parserError());
}

TEST_F(DecodingTest, ImagesDecodeIntoPremultipliedBGRA) {
    server.route("GET", "/a.png", ScriptedResponse::text(200, pngBytes(), "image/png"));
    server.route("GET", "/b.gif", ScriptedResponse::text(200, kGIF, "image/gif"));
    std::vector<uint8_t> red(8 * 8 * 4);
    for (size_t i = 0; i < red.size(); i += 4) {
        red[i + 2] = 255;
        red[i + 3] = 255;
    }
    const auto jpeg = Image(8, 8, 1.0, red).jpegData(0.9);
    server.route("GET", "/c",
                 ScriptedResponse::text(200, std::string(jpeg.begin(), jpeg.end()), "image/jpeg"));
    server.route("GET", "/text", ScriptedResponse::text(200, "hello", "text/plain"));

    std::shared_ptr<const Image> png, gif, jpg;
    std::optional<Error> wrongType;
    auto pngOp = RVAFImageRequestOperation::imageRequestOperationWithRequest(
        request("/a.png"), [&](const auto& i) { png = i; });
    auto gifOp = RVAFImageRequestOperation::imageRequestOperationWithRequest(
        request("/b.gif"), [&](const auto& i) { gif = i; });
    auto jpgOp = RVAFImageRequestOperation::imageRequestOperationWithRequest(
        request("/c"),
        [](const std::shared_ptr<const Image>& i) { return i; },  // processing passes through
        [&](const auto&, const auto&, const auto& i) { jpg = i; }, nullptr);
    auto textOp = RVAFImageRequestOperation::imageRequestOperationWithRequest(
        request("/text"), nullptr, nullptr,
        [&](const auto&, const auto&, const Error& e) { wrongType = e; });
    queue_.addOperations({pngOp, gifOp, jpgOp, textOp}, false);
    ASSERT_TRUE(runUntil([&] { return png && gif && jpg && wrongType; }));

    ASSERT_EQ(png->width(), 2);
    EXPECT_EQ(png->scale(), 2.0);  // the main screen's scale
    EXPECT_EQ(png->bytes()[0], 0);
    EXPECT_EQ(png->bytes()[2], 255);
    EXPECT_EQ(png->bytes()[7], 128);
    EXPECT_EQ(png->bytes()[4], 128);  // white at half alpha, premultiplied
    ASSERT_EQ(gif->width(), 1);
    EXPECT_EQ(gif->bytes(), (std::vector<uint8_t>{0, 0, 255, 255}));
    ASSERT_EQ(jpg->width(), 8);
    EXPECT_GT(jpg->bytes()[2], 200);
    EXPECT_LT(jpg->bytes()[0], 60);
    EXPECT_EQ(wrongType->code, -1016);

    pngOp->setImageScale(1.0);
    EXPECT_EQ(pngOp->responseImage()->scale(), 1.0);
    EXPECT_TRUE(RVAFImageRequestOperation::canProcessRequest(request("/x.png")));
    EXPECT_FALSE(RVAFImageRequestOperation::canProcessRequest(request("/x")));
}

TEST_F(DecodingTest, ImageViewUsesTheSharedCacheForARepeatedURL) {
    server.route("GET", "/face.png", ScriptedResponse::text(200, pngBytes(), "image/png"));
    auto view = std::make_shared<ImageView>(Rect(0, 0, 10, 10));
    auto placeholder = std::make_shared<const Image>(1, 1, 1.0, std::vector<uint8_t>{1, 2, 3, 4});
    const URL url = *URL::parse(server.baseURL() + "/face.png");
    RVAFImageViewLoader::setImageWithURL(view, url, placeholder);
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_TRUE(RVAFImageViewLoader::imageRequestOperation(view));
    ASSERT_TRUE(runUntil([&] { return view->image() && view->image()->width() == 2; }));
    EXPECT_FALSE(RVAFImageViewLoader::imageRequestOperation(view));
    EXPECT_EQ(server.requests().at(0).header("Accept"), "image/*");

    auto second = std::make_shared<ImageView>(Rect(0, 0, 10, 10));
    RVAFImageViewLoader::setImageWithURL(second, url);
    EXPECT_EQ(second->image(), view->image());  // straight from the cache
    EXPECT_EQ(server.requestCount(), 1u);

    RVURLRequest reload(url);
    reload.cachePolicy = RVURLRequest::ReloadIgnoringLocalCacheData;
    EXPECT_FALSE(RVAFImageViewLoader::sharedImageCache().cachedImageForRequest(reload));
}

TEST_F(DecodingTest, ActivityIndicatorFollowsRunningOperations) {
    ScriptedResponse hold;
    hold.neverRespond = true;
    server.route("GET", "/hold", hold);
    RVAFNetworkActivityIndicatorManager manager;
    manager.setEnabled(true);
    auto op = std::make_shared<RVAFHTTPRequestOperation>(request("/hold"));
    queue_.addOperation(op);
    ASSERT_TRUE(
        runUntil([&] { return platform->application().isNetworkActivityIndicatorVisible(); }));
    EXPECT_EQ(manager.activityCount(), 1);
    op->cancel();
    ASSERT_TRUE(
        runUntil([&] { return !platform->application().isNetworkActivityIndicatorVisible(); }));
    EXPECT_EQ(manager.activityCount(), 0);
    manager.decrementActivityCount();  // never below zero
    EXPECT_EQ(manager.activityCount(), 0);
}

}  // namespace
}  // namespace rivlo
