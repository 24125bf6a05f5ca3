// Hard limits against hostile clients: bodies counted as decoded (chunked) or refused
// (compressed), a small limit for verifications, an at-once 413 for a declared size over the
// limit, deadlines for slow heads and bodies, a cap on connections per address, a bounded
// memory whatever the bodies, and a shutdown that ends within its grace period.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

using namespace std::chrono_literals;

const std::string kBoundary = "Boundary+0xAbCdEfGbOuNdArY";

std::string multipartBody(const std::string& apd, const std::string& fileName,
                          const std::string& bytes) {
    std::string body;
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"app_device_id", apd}, {"sv_duration", "3"}, {"video_type", "screen"}}) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"\r\n\r\n" + value + "\r\n";
    }
    body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
            fileName + "\"\r\nContent-Type: video/mp4\r\n\r\n" + bytes + "\r\n--" + kBoundary +
            "--\r\n";
    return body;
}

std::string head(const std::string& path, const std::string& headers) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

std::string chunked(const std::string& body, size_t piece) {
    std::string out;
    char size[32];
    for (size_t at = 0; at < body.size(); at += piece) {
        const std::string part = body.substr(at, piece);
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

uint32_t crc32(const std::string& bytes) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A valid gzip stream of `bytes` (stored deflate blocks: no compression needed to be valid).
std::string gzip(const std::string& bytes) {
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    for (size_t at = 0; at == 0 || at < bytes.size(); at += 65535) {
        const std::string block = bytes.substr(at, 65535);
        const bool last = at + 65535 >= bytes.size();
        const uint16_t n = static_cast<uint16_t>(block.size());
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xff);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xff);
        out += static_cast<char>((~n >> 8) & 0xff);
        out += block;
    }
    const uint32_t crc = crc32(bytes), size = static_cast<uint32_t>(bytes.size());
    for (uint32_t value : {crc, size})
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
}

int statusOf(const std::string& answer) {
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

class CollectorLimitsTest : public ::testing::Test {
  protected:
    void start(const std::function<void(CollectorConfig&)>& adjust = {}) {
        collector_ = std::make_unique<InProcessCollector>(data_.path(), [&](CollectorConfig& c) {
            c.maxBodyBytes = 64 * 1024;
            if (adjust) adjust(c);
        });
        ASSERT_TRUE(collector_->start()) << collector_->startError();
        apd_ = collector_->verify("DEVICE-L")["app_device_id"];
    }
    std::string exchange(const std::string& bytes) {
        RawConnection c(collector_->server().port());
        c.send(bytes);
        return c.receive(5s);
    }
    void expectNothingStored() {
        EXPECT_TRUE(storedUploads(data_.path()).empty());
        EXPECT_TRUE(listFiles(data_.path() + "/apps").empty());
        EXPECT_TRUE(runUntil([&] { return listFiles(data_.path() + "/tmp").empty(); }));
    }

    TempDir data_;
    std::unique_ptr<InProcessCollector> collector_;
    std::string apd_;
};

TEST_F(CollectorLimitsTest, ChunkedBodiesCountDecodedAndCompressedBodiesAreRefused) {
    start();
    const std::string type = "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n";
    const std::string big = multipartBody(apd_, "S_1765800000.mp4", std::string(200 * 1024, 'c'));
    const std::string over =
        exchange(head("/webservices/v2/uploadvideo", type + "Transfer-Encoding: chunked\r\n") +
                 chunked(big, 8192));
    EXPECT_EQ(statusOf(over), 413) << over;
    const std::string small = multipartBody(apd_, "S_1765800001.mp4", std::string(10000, 'z'));
    const std::string packed = gzip(small);
    const std::string compressed = exchange(
        head("/webservices/v2/uploadvideo", type + "Content-Encoding: gzip\r\nContent-Length: " +
                                                std::to_string(packed.size()) + "\r\n") +
        packed);
    EXPECT_EQ(statusOf(compressed), 415) << compressed;
    expectNothingStored();
    // Within the limit, chunked is fine.
    const std::string fine =
        exchange(head("/webservices/v2/uploadvideo", type + "Transfer-Encoding: chunked\r\n") +
                 chunked(small, 1000));
    EXPECT_EQ(statusOf(fine), 200) << fine;
    EXPECT_EQ(storedUploads(data_.path()).size(), 1u);
}

TEST_F(CollectorLimitsTest, VerificationBodiesHaveASmallLimitOfTheirOwn) {
    start();
    const std::string form =
        "app_key=test-key&device_id=D&device_os=1&device_type=t&platform=ios"
        "&appname=" +
        std::string(100 * 1024, 'a');
    const std::string type = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string plain =
        exchange(head("/webservices/v2/verifyapp",
                      type + "Content-Length: " + std::to_string(form.size()) + "\r\n") +
                 form);
    EXPECT_EQ(statusOf(plain), 413) << plain;
    const std::string asChunks =
        exchange(head("/webservices/v2/verifyapp", type + "Transfer-Encoding: chunked\r\n") +
                 chunked(form, 4096));
    EXPECT_EQ(statusOf(asChunks), 413) << asChunks;
    const std::string packed = gzip(form.substr(0, 200));
    const std::string compressed = exchange(
        head("/webservices/v2/verifyapp", type + "Content-Encoding: gzip\r\nContent-Length: " +
                                              std::to_string(packed.size()) + "\r\n") +
        packed);
    EXPECT_EQ(statusOf(compressed), 415) << compressed;
}

TEST_F(CollectorLimitsTest, ADeclaredSizeOverTheLimitIsRefusedBeforeTheBodyIsSent) {
    start();
    RawConnection c(collector_->server().port());
    ASSERT_TRUE(c.send(head("/webservices/v2/uploadvideo",
                            "Content-Type: multipart/form-data; boundary=B\r\n"
                            "Content-Length: 10737418240\r\n")));
    const std::string answer = c.receive(5s);
    EXPECT_EQ(statusOf(answer), 413) << answer;
    EXPECT_NE(answer.find("larger than the limit"), std::string::npos);
}

TEST_F(CollectorLimitsTest, SlowClientsHoldNoWorkerAndMeetTheirDeadlines) {
    start([](CollectorConfig& c) {
        c.threads = 2;
        c.limits.headerTimeout = 1500ms;
        c.limits.bodyGrace = 500ms;
        c.limits.minBytesPerSecond = 4096;
    });
    // Sixteen clients dripping their heads, one byte at a time.
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 16; ++i) {
        slow.push_back(std::make_unique<RawConnection>(collector_->server().port()));
        slow.back()->send("POST /webservices/v2/verifyapp HTTP/1.1\r\n");
    }
    std::atomic<bool> dripping{true};
    std::thread drip([&] {
        while (dripping) {
            for (auto& c : slow)
                c->send("X");
            std::this_thread::sleep_for(100ms);
        }
    });
    // A real verification is answered meanwhile.
    HttpResult verify = postForm(collector_->url("/webservices/v2/verifyapp"),
                                 verifyFields("test-key", "DEVICE-Q"), {}, 10);
    EXPECT_EQ(verify.curlCode, 0);
    EXPECT_TRUE(verify.json().is_object() && verify.json()["verify_status"] == true) << verify.body;
    // Each dripping client is cut off when its head is not complete in time.
    size_t closed = 0;
    for (auto& c : slow)
        closed += c->closedWithin(5s);
    dripping = false;
    drip.join();
    EXPECT_EQ(closed, slow.size());
    EXPECT_TRUE(runUntil(
        [&] { return collector_->log().countContaining("did not arrive within 1500 ms") == 16; }));

    // A body slower than the minimum rate is cut off too, and nothing of it stays.
    RawConnection body(collector_->server().port());
    body.send(head("/webservices/v2/uploadvideo",
                   "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: 60000\r\n") +
              "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"s.mp4\"\r\n\r\n");
    bool cut = false;
    for (int i = 0; i < 100 && !cut; ++i) {
        cut = !body.send(std::string(10, 'b')) || body.closedWithin(100ms);
    }
    EXPECT_TRUE(cut);
    EXPECT_TRUE(runUntil(
        [&] { return collector_->log().countContaining("the body came slower than") == 1; }));
    expectNothingStored();
}

TEST_F(CollectorLimitsTest, ConnectionsPerAddressAreCapped) {
    start([](CollectorConfig& c) { c.limits.maxConnectionsPerAddress = 4; });
    // The verification's connection is gone first.
    ASSERT_TRUE(runUntil([&] { return collector_->server().openConnections() == 0; }));
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < 4; ++i)
        open.push_back(std::make_unique<RawConnection>(collector_->server().port()));
    ASSERT_TRUE(runUntil([&] { return collector_->server().openConnections() == 4; }));
    RawConnection fifth(collector_->server().port());
    const std::string answer = fifth.receive(5s);
    EXPECT_EQ(statusOf(answer), 503) << answer;
    // Room again once one goes.
    open.pop_back();
    ASSERT_TRUE(runUntil([&] { return collector_->server().openConnections() == 3; }));
    EXPECT_EQ(collector_->verify("DEVICE-L")["verify_status"], true);
}

TEST(CollectorLimitsProcessTest, ConcurrentChunkedBodiesKeepMemoryBounded) {
    TempDir data, files;
    CollectorProcess process;
    std::vector<std::string> arguments = {"--data", data.path(), "--app-key", "k"};
    for (const std::string& a : databaseArguments(data.path()))
        arguments.push_back(a);
    ASSERT_TRUE(process.start(arguments, files.file("url")));
    const int port = std::atoi(process.url().substr(process.url().rfind(':') + 1).c_str());
    const long before = process.peakResidentKiB();
    // Six verifications at once, each a chunked form of 50 MiB.
    std::vector<std::thread> clients;
    for (int i = 0; i < 6; ++i) {
        clients.emplace_back([&] {
            RawConnection c(port);
            c.send(head("/webservices/v2/verifyapp",
                        "Content-Type: application/x-www-form-urlencoded\r\n"
                        "Transfer-Encoding: chunked\r\n"));
            const std::string piece = chunked(std::string(64 * 1024, 'a'), 64 * 1024);
            const std::string chunk = piece.substr(0, piece.size() - 5);  // without the end
            for (int k = 0; k < 800 && c.send(chunk); ++k) {
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const long peak = process.peakResidentKiB();
    EXPECT_LT(peak - before, 32 * 1024) << "peak " << peak << " KiB, before " << before;
    EXPECT_EQ(postForm(process.url() + "/webservices/v2/verifyapp", verifyFields("k", "D"))
                  .json()["verify_status"],
              true);
    EXPECT_EQ(process.stop(), 0);
}

TEST(CollectorLimitsProcessTest, StopEndsWithinItsGraceWhateverTheClientsDo) {
    TempDir data, files;
    CollectorProcess process;
    std::vector<std::string> arguments = {"--data", data.path(),           "--app-key",
                                          "k",      "--shutdown-grace-ms", "1000"};
    for (const std::string& a : databaseArguments(data.path()))
        arguments.push_back(a);
    ASSERT_TRUE(process.start(arguments, files.file("url")));
    const int port = std::atoi(process.url().substr(process.url().rfind(':') + 1).c_str());
    // One client in the middle of a head, one in the middle of a slow upload.
    RawConnection head1(port), upload(port);
    head1.send("POST /webservices/v2/verifyapp HTTP/1.1\r\nHost: x\r\n");
    upload.send(
        head("/webservices/v2/uploadvideo",
             "Content-Type: multipart/form-data; boundary=B\r\nContent-Length: 900000\r\n") +
        "--B\r\n");
    std::atomic<bool> dripping{true};
    std::thread drip([&] {
        while (dripping) {
            head1.send("X");
            upload.send("u");
            std::this_thread::sleep_for(200ms);
        }
    });
    const int status = process.stop();  // SIGTERM; gives up (and kills) after 20 s
    dripping = false;
    drip.join();
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace rivlo::collector::test
