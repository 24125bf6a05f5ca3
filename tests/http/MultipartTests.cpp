#include "http/RVAFMultipartBodyStream.h"
#include "http/RVAFNetworking.h"
#include "http/RVAFStreamingMultipartFormData.h"
#include "http/RVAFStringEncoding.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace rivlo {
namespace {

namespace fs = std::filesystem;

const std::string kBoundary = "Boundary+0xAbCdEfGbOuNdArY";

// Reads the whole stream with reads of `chunk` bytes; nullopt when a read fails.
std::optional<std::string> readAll(RVInputStream& stream, size_t chunk) {
    stream.open();
    std::string out;
    std::vector<uint8_t> buffer(chunk);
    for (;;) {
        const int64_t n = stream.read(buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
    }
    stream.close();
    return out;
}

class MultipartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("rivlo-multipart-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string writeFile(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    static std::string randomBytes(size_t n) {
        std::mt19937 rng(42);
        std::string s(n, '\0');
        for (auto& c : s)
            c = static_cast<char>(rng() & 0xFF);
        return s;
    }

    RVURLRequest baseRequest() {
        RVURLRequest request(URL::parse("http://127.0.0.1/upload"));
        request.HTTPMethod = "POST";
        request.setValue("x", "X-Default");
        return request;
    }

    fs::path dir_;
};

TEST_F(MultipartTest, SingleTextFieldIs109BytesWithExactWireForm) {
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    form.appendPartWithFormData("1", "x");
    const RVURLRequest request = form.requestByFinalizingMultipartFormData();

    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"),
              "multipart/form-data; boundary=" + kBoundary);
    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), "109");
    EXPECT_EQ(request.valueForHTTPHeaderField("X-Default"), "x");
    ASSERT_TRUE(request.HTTPBodyStream);
    const auto body = readAll(*request.HTTPBodyStream, 4096);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, "--" + kBoundary +
                         "\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--" +
                         kBoundary + "--\r\n");
    EXPECT_EQ(body->size(), 109u);
}

TEST_F(MultipartTest, FieldThenFileMatchesTheWorkedExampleLineByLine) {
    const std::string fileBytes = randomBytes(5000);
    const std::string path = writeFile("x.mp4", fileBytes);
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    form.appendPartWithFormData("v", "k");
    Error error;
    ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "file", &error));
    const RVURLRequest request = form.requestByFinalizingMultipartFormData();

    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"),
              std::to_string(231 + fileBytes.size()));
    const std::string expected =
        "--" + kBoundary + "\r\n" + "Content-Disposition: form-data; name=\"k\"\r\n" + "\r\n" +
        "v" + "\r\n--" + kBoundary + "\r\n" +
        "Content-Disposition: form-data; name=\"file\"; "
        "filename=\"x.mp4\"\r\n" +
        "Content-Type: video/mp4\r\n" + "\r\n" + fileBytes + "\r\n--" + kBoundary + "--\r\n";
    const auto body = readAll(*request.HTTPBodyStream, 65536);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, expected);
    EXPECT_EQ(body->size(), 231 + fileBytes.size());

    const auto parts = test::parseMultipart(*body, kBoundary);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 2u);
    EXPECT_EQ((*parts)[1].fileName, "x.mp4");
    EXPECT_EQ((*parts)[1].contentType, "video/mp4");
    EXPECT_EQ((*parts)[1].body, fileBytes);
}

// Names and types come from callers: a quote or a line break in them must not end the
// parameter or the header line, and so cannot add a header or a part of its own.
TEST_F(MultipartTest, QuotesAndLineBreaksInNamesCannotAddHeadersOrParts) {
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    form.appendPartWithFormData("v", "k\"\r\n--" + kBoundary + "\r\nX-Injected: 1");
    form.appendPartWithFileData("data", "f", "a\"b\r\n.txt", "text/plain\r\nX-Injected: 2");
    const RVURLRequest request = form.requestByFinalizingMultipartFormData();
    const auto body = readAll(*request.HTTPBodyStream, 4096);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->find("X-Injected: 1\r\n"), std::string::npos);
    const auto parts = test::parseMultipart(*body, kBoundary);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 2u);
    EXPECT_EQ((*parts)[0].headerLines,
              std::vector<std::string>{"Content-Disposition: form-data; name=\"k%22%0D%0A--" +
                                       kBoundary + "%0D%0AX-Injected: 1\""});
    EXPECT_EQ((*parts)[0].body, "v");
    EXPECT_EQ((*parts)[1].fileName, "a%22b%0D%0A.txt");
    EXPECT_EQ((*parts)[1].headerLines.size(), 2u);
    EXPECT_EQ((*parts)[1].contentType, "text/plain  X-Injected: 2");
    EXPECT_EQ((*parts)[1].body, "data");
}

TEST_F(MultipartTest, TinyReadBuffersResumeInsideEveryTextAndDeliverExactlyContentLength) {
    const std::string path = writeFile("data.txt", "hello file");
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    form.appendPartWithFormData("first", "a");
    form.appendPartWithFormData("", "empty");
    ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "file"));
    form.appendPartWithFileData("\x01\x02\x03", "blob", "b.bin", "application/octet-stream");
    const RVURLRequest request = form.requestByFinalizingMultipartFormData();
    const uint64_t declared = std::stoull(*request.valueForHTTPHeaderField("Content-Length"));

    auto* stream = static_cast<RVAFMultipartBodyStream*>(request.HTTPBodyStream.get());
    const auto reference = readAll(*stream, 1 << 16);
    ASSERT_TRUE(reference);
    EXPECT_EQ(reference->size(), declared);

    for (size_t chunk : {1, 2, 3, 7, 29, 31, 33, 35}) {
        ASSERT_TRUE(stream->rewind());
        const auto body = readAll(*stream, chunk);
        ASSERT_TRUE(body) << "chunk " << chunk;
        EXPECT_EQ(*body, *reference) << "chunk " << chunk;
    }

    const auto parts = test::parseMultipart(*reference, kBoundary);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 4u);
    EXPECT_EQ((*parts)[1].name, "empty");
    EXPECT_EQ((*parts)[1].body, "");  // an empty part keeps its boundary and header block
    EXPECT_EQ((*parts)[2].contentType, "text/plain");
    EXPECT_EQ((*parts)[2].body, "hello file");
    EXPECT_EQ((*parts)[3].headerLines,
              (std::vector<std::string>{
                  "Content-Disposition: form-data; name=\"blob\"; filename=\"b.bin\"",
                  "Content-Type: application/octet-stream"}));
}

TEST_F(MultipartTest, NoPartsLeavesTheRequestWithoutBodyOrMultipartHeaders) {
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    const RVURLRequest request = form.requestByFinalizingMultipartFormData();
    EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Type"));
    EXPECT_FALSE(request.valueForHTTPHeaderField("Content-Length"));
    EXPECT_FALSE(request.HTTPBodyStream);
    EXPECT_FALSE(request.HTTPBody);
}

TEST_F(MultipartTest, BadFileURLsAreRefusedWithReasons) {
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    Error error;
    EXPECT_FALSE(
        form.appendPartWithFileURL(*URL::parse("http://example.com/x.mp4"), "file", &error));
    EXPECT_EQ(error.domain, RVAFNetworkingErrorDomain);
    EXPECT_EQ(error.code, -1000);
    EXPECT_EQ(error.localizedFailureReason(), "Expected URL to be a file URL");

    EXPECT_FALSE(
        form.appendPartWithFileURL(URL::fileURL((dir_ / "missing.mp4").string()), "file", &error));
    EXPECT_EQ(error.localizedFailureReason(), "File URL not reachable.");
    EXPECT_FALSE(form.appendPartWithFileURL(URL::fileURL((dir_ / "missing.mp4").string()),
                                            "file"));  // no out-error: still refused
    EXPECT_TRUE(form.bodyStream()->isEmpty());
}

TEST_F(MultipartTest, FileThatShrinksVanishesOrGrowsFailsTheBodyInsteadOfLying) {
    const std::string original(10000, 'a');
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
    };
    const std::vector<Case> cases = {
        {"shrinks", [](const std::string& p) { fs::resize_file(p, 100); }},
        {"vanishes", [](const std::string& p) { fs::remove(p); }},
        {"grows", [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }},
    };
    for (const auto& c : cases) {
        const std::string path = writeFile(std::string("movie-") + c.name + ".mp4", original);
        RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
        form.appendPartWithFormData("v", "k");
        ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "file"));
        const RVURLRequest request = form.requestByFinalizingMultipartFormData();
        c.change(path);
        EXPECT_FALSE(readAll(*request.HTTPBodyStream, 4096)) << c.name;
        const auto error = request.HTTPBodyStream->streamError();
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->code, RVAFURLErrorRequestBodyStreamExhausted) << c.name;
        EXPECT_EQ(request.HTTPBodyStream->streamStatus(), RVInputStream::Failed) << c.name;
    }
}

TEST_F(MultipartTest, FileShrinkingInTheMiddleOfTheBodyFailsTheRead) {
    const std::string path = writeFile("big.mp4", std::string(100000, 'b'));
    RVAFStreamingMultipartFormData form(baseRequest(), StringEncoding::UTF8);
    ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "file"));
    const RVURLRequest request = form.requestByFinalizingMultipartFormData();
    auto& stream = *request.HTTPBodyStream;
    stream.open();
    std::vector<uint8_t> buffer(1000);
    ASSERT_GT(stream.read(buffer.data(), buffer.size()), 0);
    fs::resize_file(path, 500);
    int64_t n = 0;
    do {
        n = stream.read(buffer.data(), buffer.size());
    } while (n > 0);
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(stream.streamError());
}

TEST_F(MultipartTest, ContentLengthSumsBoundariesHeadersAndBodies) {
    RVAFMultipartBodyStream stream(StringEncoding::UTF8);
    RVHTTPHeaders headers;
    headers["Content-Disposition"] = "form-data; name=\"x\"";
    stream.appendHTTPBodyPart(std::make_shared<RVAFHTTPBodyPart>(
        StringEncoding::UTF8, headers, std::make_shared<RVDataInputStream>("1"), 1));
    stream.appendHTTPBodyPart(std::make_shared<RVAFHTTPBodyPart>(
        StringEncoding::UTF8, headers, std::make_shared<RVDataInputStream>("22"), 2));
    stream.setInitialAndFinalBoundaries();
    const auto& parts = stream.HTTPBodyParts();
    EXPECT_TRUE(parts[0]->hasInitialBoundary);
    EXPECT_FALSE(parts[0]->hasFinalBoundary);
    EXPECT_FALSE(parts[1]->hasInitialBoundary);
    EXPECT_TRUE(parts[1]->hasFinalBoundary);
    EXPECT_EQ(parts[0]->contentLength(), 30u + 44u + 1u);
    EXPECT_EQ(parts[1]->contentLength(), 32u + 44u + 2u + 34u);
    EXPECT_EQ(stream.contentLength(), 75u + 112u);
    const auto body = readAll(stream, 5);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->size(), stream.contentLength());
    // Opening again after the end does not send the parts a second time.
    const auto again = readAll(stream, 5);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, "");
}

}  // namespace
}  // namespace rivlo
