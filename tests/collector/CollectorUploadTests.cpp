// Uploads against an in-process collector: each kind stored with its fields, repeated uploads
// stored once, every kind of bad request refused without storing anything, concurrent clients.

#include <atomic>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>

#include <gtest/gtest.h>

#include "CollectorIndex.h"
#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const char* const kVideo = "/webservices/v2/uploadvideo";
const char* const kData = "/webservices/v2/uploaddata";
const char* const kTile = "/webservices/v2/uploadheatcordsweb";

Fields tileFields(const std::string& apd) {
    return {
        {"app_device_id", apd},   {"orientation", "1"},      {"activity_name", "example.com/page"},
        {"key", "page-key"},      {"total_rows", "3"},       {"total_columns", "2"},
        {"gridImg_width", "320"}, {"gridImg_height", "500"}, {"dist_x", "320.000000"},
        {"dist_y", "1000.000000"}};
}

class CollectorUploadTest : public ::testing::Test {
  public:
    std::string makeFile(const std::string& name, const std::string& bytes) {
        std::string path = files_.file(name);
        writeFile(path, bytes);
        return path;
    }

  protected:
    void SetUp() override {
        collector_ = std::make_unique<InProcessCollector>(
            data_.path(), [this](CollectorConfig& c) { c.maxBodyBytes = bodyLimit_; });
        ASSERT_TRUE(collector_->start()) << collector_->startError();
        apd_ = collector_->verify("DEVICE-1")["app_device_id"].get<std::string>();
        ASSERT_FALSE(apd_.empty());
    }

    // No upload recorded, nothing under apps/, no temporary file left behind.
    void expectNothingStored() {
        EXPECT_TRUE(storedUploads(data_.path()).empty());
        EXPECT_TRUE(listFiles(data_.path() + "/apps").empty());
        EXPECT_TRUE(listFiles(data_.path() + "/tmp").empty());
    }

    uint64_t bodyLimit_ = 64 * 1024;
    TempDir data_;
    TempDir files_;
    std::unique_ptr<InProcessCollector> collector_;
    std::string apd_;
};

TEST_F(CollectorUploadTest, EachKindIsStoredByInstallationWithItsFields) {
    std::string movie = makeFile("SCREEN_1765000100.mp4", std::string(3000, 'm'));
    std::string camera = makeFile("CAM_1765000101.mp4", std::string(2000, 'c'));
    std::string tile = makeFile("1765000102.jpeg", std::string(500, 'j'));
    std::string document =
        makeFile("1765000110.txt", nlohmann::json{{"apd", apd_}, {"dr", "4"}, {"tt", "30"}}.dump());

    HttpResult screen = postMultipart(
        collector_->url(kVideo),
        {{"app_device_id", apd_}, {"video_type", "screen"}, {"sv_duration", "12"}}, {{movie}});
    HttpResult cam = postMultipart(collector_->url(kVideo),
                                   {{"app_device_id", apd_},
                                    {"video_type", "camera"},
                                    {"cv_duration", "11"},
                                    {"orientation", "2"}},
                                   {{camera}});
    HttpResult web = postMultipart(collector_->url(kTile), tileFields(apd_), {{tile}});
    HttpResult data = postMultipart(collector_->url(kData), {}, {{document}});
    for (const HttpResult* r : {&screen, &cam, &web, &data}) {
        EXPECT_EQ(r->curlCode, 0);
        EXPECT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(r->json().value("status", ""), "stored");
        EXPECT_NE(r->contentType.find("application/json"), std::string::npos);
    }

    std::vector<UploadRecord> uploads = storedUploads(data_.path());
    ASSERT_EQ(uploads.size(), 4u);
    std::map<std::string, UploadRecord> byKind;
    for (const UploadRecord& u : uploads)
        byKind[u.kind] = u;
    EXPECT_EQ(byKind["screen"].fields["sv_duration"], "12");
    EXPECT_EQ(byKind["camera"].fields["orientation"], "2");
    EXPECT_EQ(byKind["tile"].fields["dist_y"], "1000.000000");
    EXPECT_EQ(byKind["data"].fields["dr"], 4);
    for (const auto& [kind, record] : byKind) {
        EXPECT_EQ(record.appDeviceId, apd_);
        // Stored under apps/<application>/<installation>/<kind folder>/<name>, bytes intact.
        EXPECT_NE(record.path.find("/" + apd_ + "/"), std::string::npos) << record.path;
        EXPECT_EQ(record.path.rfind("apps/Test", 0), 0u) << record.path;
    }
    EXPECT_EQ(readFile(data_.path() + "/" + byKind["screen"].path), readFile(movie));
    EXPECT_EQ(readFile(data_.path() + "/" + byKind["tile"].path), readFile(tile));
    EXPECT_EQ(byKind["tile"].path.find("/tiles/1765000102.jpeg") != std::string::npos, true);
    EXPECT_TRUE(listFiles(data_.path() + "/tmp").empty());

    // The next verification reports the verifications so far as the latest run: the document's
    // run 4 is beyond the one verification this installation made and does not count.
    EXPECT_EQ(collector_->verify("DEVICE-1")["latest_run"], 1);
}

TEST_F(CollectorUploadTest, RepeatedUploadOfTheSameFileIsStoredOnce) {
    std::string movie = makeFile("SCREEN_1765000200.mp4", std::string(1000, 'a'));
    Fields fields = {{"app_device_id", apd_}, {"video_type", "screen"}, {"sv_duration", "3"}};
    HttpResult first = postMultipart(collector_->url(kVideo), fields, {{movie}});
    ASSERT_EQ(first.status, 200);
    // A retry (same installation, same name) is accepted so the client drops it, but the first
    // copy is kept.
    writeFile(movie, std::string(1000, 'b'));
    HttpResult second = postMultipart(collector_->url(kVideo), fields, {{movie}});
    EXPECT_EQ(second.status, 200);
    EXPECT_EQ(second.json().value("status", ""), "duplicate");

    std::vector<UploadRecord> uploads = storedUploads(data_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].duplicates, 1);
    EXPECT_EQ(readFile(data_.path() + "/" + uploads[0].path), std::string(1000, 'a'));
    EXPECT_TRUE(listFiles(data_.path() + "/tmp").empty());

    // The same name from another installation is a different file.
    std::string other = collector_->verify("DEVICE-2")["app_device_id"].get<std::string>();
    Fields otherFields = {{"app_device_id", other}, {"video_type", "screen"}, {"sv_duration", "3"}};
    EXPECT_EQ(
        postMultipart(collector_->url(kVideo), otherFields, {{movie}}).json().value("status", ""),
        "stored");
    EXPECT_EQ(storedUploads(data_.path()).size(), 2u);
}

struct BadUpload {
    const char* label;
    std::function<HttpResult(CollectorUploadTest&, const std::string& url, const std::string& apd,
                             const std::string& file)>
        send;
    long status;
    const char* errorText;
};

class CollectorBadUploadTest : public CollectorUploadTest {
  protected:
    void run(const BadUpload& bad, const std::string& path) {
        SCOPED_TRACE(bad.label);
        std::string file = makeFile("SCREEN_1765000400.mp4", std::string(4000, 'x'));
        size_t linesBefore = collector_->log().count();
        HttpResult r = bad.send(*this, collector_->url(path), apd_, file);
        EXPECT_EQ(r.curlCode, 0);
        EXPECT_EQ(r.status, bad.status) << r.body;
        nlohmann::json body = r.json();
        ASSERT_TRUE(body.is_object()) << r.body;
        EXPECT_NE(body.value("error", "").find(bad.errorText), std::string::npos) << r.body;
        EXPECT_TRUE(runUntil([&] { return collector_->log().count() == linesBefore + 1; }));
        EXPECT_EQ(collector_->log().count(), linesBefore + 1);
        expectNothingStored();
        // The collector keeps serving.
        EXPECT_EQ(collector_->verify("DEVICE-1")["verify_status"], true);
    }
};

TEST_F(CollectorBadUploadTest, EveryKindOfBadRequestIsRefusedAndNothingIsStored) {
    Fields screen = {{"app_device_id", apd_}, {"video_type", "screen"}, {"sv_duration", "3"}};
    std::vector<BadUpload> cases = {
        {"wrong method",
         [](auto&, const std::string& url, const std::string&, const std::string&) {
             return sendRaw("GET", url, "", "");
         },
         405, "not allowed"},
        {"body is not multipart",
         [](auto&, const std::string& url, const std::string&, const std::string&) {
             return sendRaw("POST", url, R"({"file":"x"})", "application/json");
         },
         415, "multipart/form-data"},
        {"multipart type without a boundary",
         [](auto&, const std::string& url, const std::string&, const std::string&) {
             return sendRaw("POST", url, "--x\r\n", "multipart/form-data");
         },
         400, "multipart"},
        {"multipart body cut short",
         [](auto&, const std::string& url, const std::string&, const std::string&) {
             return sendRaw("POST", url,
                            "--B\r\nContent-Disposition: form-data; name=\"file\"; "
                            "filename=\"a.mp4\"\r\n\r\nhalf a movie",
                            "multipart/form-data; boundary=B");
         },
         400, "multipart"},
        {"missing file part",
         [screen](auto&, const std::string& url, const std::string&, const std::string&) {
             return postMultipart(url, screen, {});
         },
         400, "missing file part \"file\""},
        {"missing duration field",
         [](auto&, const std::string& url, const std::string& apd, const std::string& file) {
             return postMultipart(url, {{"app_device_id", apd}, {"video_type", "screen"}},
                                  {{file}});
         },
         400, "missing form field \"sv_duration\""},
        {"camera without orientation",
         [](auto&, const std::string& url, const std::string& apd, const std::string& file) {
             return postMultipart(
                 url, {{"app_device_id", apd}, {"video_type", "camera"}, {"cv_duration", "1"}},
                 {{file}});
         },
         400, "missing form field \"orientation\""},
        {"unknown video type",
         [](auto&, const std::string& url, const std::string& apd, const std::string& file) {
             return postMultipart(
                 url, {{"app_device_id", apd}, {"video_type", "audio"}, {"sv_duration", "1"}},
                 {{file}});
         },
         400, "video_type"},
        {"file name that climbs out of the folder",
         [screen](auto&, const std::string& url, const std::string&, const std::string& file) {
             return postMultipart(url, screen, {{file, "../../escape.mp4"}});
         },
         400, "not a plain file name"},
        {"two file parts",
         [screen](auto&, const std::string& url, const std::string&, const std::string& file) {
             return postMultipart(url, screen, {{file}, {file, "second.mp4"}});
         },
         400, "more than one file part"},
        {"field given twice",
         [](auto&, const std::string& url, const std::string& apd, const std::string& file) {
             return postMultipart(url,
                                  {{"app_device_id", apd},
                                   {"video_type", "screen"},
                                   {"sv_duration", "1"},
                                   {"sv_duration", "2"}},
                                  {{file}});
         },
         400, "given twice"},
        {"oversized body",
         [screen](CollectorUploadTest& t, const std::string& url, const std::string&,
                  const std::string&) {
             std::string big = t.makeFile("SCREEN_1765000401.mp4", std::string(200 * 1024, 'z'));
             return postMultipart(url, screen, {{big}});
         },
         413, "larger than the limit"},
    };
    for (const BadUpload& bad : cases)
        run(bad, kVideo);
}

TEST_F(CollectorBadUploadTest, BadDocumentsAndTilesAreRefused) {
    std::vector<BadUpload> dataCases = {
        {"document that is not JSON",
         [](CollectorUploadTest& t, const std::string& url, const std::string&,
            const std::string&) {
             return postMultipart(url, {}, {{t.makeFile("1765000500.txt", "{not json")}});
         },
         400, "not a JSON session document"},
        {"document without file part",
         [](auto&, const std::string& url, const std::string&, const std::string&) {
             return postMultipart(url, {{"note", "no file"}}, {});
         },
         400, "missing file part"},
        {"file part without a file name",
         [](auto&, const std::string& url, const std::string&, const std::string&) {
             return sendRaw(
                 "POST", url,
                 "--B\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n{}\r\n--B--\r\n",
                 "multipart/form-data; boundary=B");
         },
         400, "no file name"},
    };
    for (const BadUpload& bad : dataCases)
        run(bad, kData);

    std::vector<BadUpload> tileCases = {
        {"tile without its offset",
         [](auto&, const std::string& url, const std::string& apd, const std::string& file) {
             Fields fields = tileFields(apd);
             fields.pop_back();
             return postMultipart(url, fields, {{file}});
         },
         400, "missing form field \"dist_y\""},
    };
    for (const BadUpload& bad : tileCases)
        run(bad, kTile);
}

TEST_F(CollectorUploadTest, ConcurrentClientsAreAllStored) {
    constexpr int kClients = 6;
    constexpr int kEach = 4;
    std::vector<std::string> apds;
    for (int c = 0; c < kClients; ++c) {
        apds.push_back(collector_->verify("DEVICE-C" + std::to_string(c))["app_device_id"]);
    }
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                std::string name = "S_" + std::to_string(1765001000 + c * 10 + i) + ".mp4";
                std::string path = makeFile(name, std::string(20000 + c * 100 + i, char('a' + c)));
                Fields fields = {
                    {"app_device_id", apds[c]}, {"video_type", "screen"}, {"sv_duration", "1"}};
                // Every client also repeats one upload, racing its own first copy.
                int sends = i == 0 ? 2 : 1;
                for (int s = 0; s < sends; ++s) {
                    if (postMultipart(collector_->url(kVideo), fields, {{path}}).status == 200)
                        ++accepted;
                }
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(accepted.load(), kClients * (kEach + 1));
    std::vector<UploadRecord> uploads = storedUploads(data_.path());
    ASSERT_EQ(uploads.size(), static_cast<size_t>(kClients * kEach));
    for (const UploadRecord& u : uploads) {
        std::string bytes = readFile(data_.path() + "/" + u.path);
        EXPECT_EQ(bytes.size(), u.size);
        int client = bytes.empty() ? -1 : bytes[0] - 'a';
        ASSERT_GE(client, 0);
        EXPECT_EQ(u.appDeviceId, apds[client]);
        EXPECT_EQ(bytes.find_first_not_of(bytes[0]), std::string::npos) << u.path;
    }
    EXPECT_TRUE(listFiles(data_.path() + "/tmp").empty());
}

}  // namespace
}  // namespace rivlo::collector::test

namespace rivlo::collector::test {
namespace {

// The body exactly as the library lays it out: its fixed boundary, one part per field in sorted
// order, then the file part; the two header lines of the file part come in either order.
std::string libraryBody(const std::vector<std::pair<std::string, std::string>>& fields,
                        const std::string& fileName, const std::string& mime,
                        const std::string& bytes, bool typeFirst) {
    const std::string boundary = "Boundary+0xAbCdEfGbOuNdArY";
    std::string body;
    bool first = true;
    auto open = [&] {
        body += (first ? "" : "\r\n") + std::string("--") + boundary + "\r\n";
        first = false;
    };
    for (const auto& [name, value] : fields) {
        open();
        body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
    }
    open();
    std::string disposition =
        "Content-Disposition: form-data; name=\"file\"; filename=\"" + fileName + "\"\r\n";
    std::string type = "Content-Type: " + mime + "\r\n";
    body += (typeFirst ? type + disposition : disposition + type) + "\r\n" + bytes;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

TEST_F(CollectorUploadTest, AcceptsTheLibraryWireFormat) {
    const std::string type = "multipart/form-data; boundary=Boundary+0xAbCdEfGbOuNdArY";
    // Movie bytes that contain CR LF and boundary-like text must come through unchanged.
    std::string movie = "\r\n--Boundary+0xAbCdEfGbOuNdAr\r\n" + std::string(30000, '\0') + "\r\n--";
    std::string body =
        libraryBody({{"app_device_id", apd_}, {"sv_duration", "9"}, {"video_type", "screen"}},
                    "DEVICE_1765300000.mp4", "video/mp4", movie, false);
    HttpResult r = sendRaw("POST", collector_->url(kVideo), body, type);
    ASSERT_EQ(r.status, 200) << r.body;

    std::string doc = nlohmann::json{{"apd", apd_}, {"dr", "3"}}.dump(4);
    HttpResult d = sendRaw("POST", collector_->url(kData),
                           libraryBody({}, "1765300001.txt", "text/plain", doc, true), type);
    ASSERT_EQ(d.status, 200) << d.body;

    std::vector<UploadRecord> uploads = storedUploads(data_.path());
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(readFile(data_.path() + "/" + uploads[0].path), movie);
    EXPECT_EQ(uploads[0].fields["sv_duration"], "9");
    EXPECT_EQ(readFile(data_.path() + "/" + uploads[1].path), doc);
}

}  // namespace
}  // namespace rivlo::collector::test

namespace rivlo::collector::test {
namespace {

TEST_F(CollectorUploadTest, RefusalsLeaveTheClientConnectionUsable) {
    CurlConnection client;
    std::string big = makeFile("S_1765400000.mp4", std::string(100 * 1024, 'b'));
    std::string small = makeFile("S_1765400001.mp4", std::string(1000, 's'));
    std::vector<std::pair<std::string, std::string>> screen = {
        {"app_device_id", apd_}, {"video_type", "screen"}, {"sv_duration", "2"}};

    EXPECT_EQ(client
                  .postForm(collector_->url("/webservices/v2/verifyapp"),
                            verifyFields("test-key", "DEVICE-K"))
                  .status,
              200);
    EXPECT_EQ(client.postMultipart(collector_->url(kVideo), screen, {{big}}).status, 413);
    EXPECT_EQ(
        client.postMultipart(collector_->url(kVideo), {{"app_device_id", apd_}}, {{small}}).status,
        400);
    EXPECT_EQ(client.postMultipart(collector_->url(kVideo), screen, {{small}}).status, 200);
    EXPECT_EQ(client
                  .postForm(collector_->url("/webservices/v2/verifyapp"),
                            verifyFields("test-key", "DEVICE-K"))
                  .status,
              200);
    std::vector<UploadRecord> uploads = storedUploads(data_.path());
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].fileName, "S_1765400001.mp4");
    EXPECT_EQ(readFile(data_.path() + "/" + uploads[0].path), std::string(1000, 's'));
}

}  // namespace
}  // namespace rivlo::collector::test

namespace rivlo::collector::test {
namespace {

TEST_F(CollectorUploadTest, ATransferThatBreaksOffLeavesNothingBehind) {
    // A client that announces a body and hangs up halfway through the file.
    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(collector_->server().port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string part = "--B\r\nContent-Disposition: form-data; name=\"app_device_id\"\r\n\r\n" +
                       apd_ +
                       "\r\n--B\r\nContent-Disposition: form-data; name=\"file\"; "
                       "filename=\"S_1765500000.mp4\"\r\n\r\n" +
                       std::string(20000, 'h');
    std::string head =
        "POST /webservices/v2/uploadvideo HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: 60000\r\n\r\n";
    std::string sent = head + part;
    ASSERT_EQ(::send(sock, sent.data(), sent.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(sent.size()));
    ::close(sock);

    EXPECT_TRUE(
        runUntil([&] { return collector_->log().countContaining("incomplete body") == 1; }));
    expectNothingStored();
    EXPECT_EQ(collector_->verify("DEVICE-1")["verify_status"], true);
}

}  // namespace
}  // namespace rivlo::collector::test
