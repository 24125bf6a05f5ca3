// Streams a 1 GiB file as a multipart upload to the loopback server and reports how much the
// client's peak resident memory grew (the file must never be held in memory: at most 4 MiB)
// and its throughput beside the curl tool uploading the same file in the same run.
//
//   bench_http_upload [size in MiB, default 1024]
#include "foundation/RunLoop.h"
#include "http/RVAFHTTPClient.h"
#include "support/LoopbackHTTPServer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace rivlo;

namespace {

long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

double seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const uint64_t size = mib << 20;
    const std::string path = "/tmp/rivlo-upload-bench-" + std::to_string(::getpid()) + ".mp4";
    {
        std::ofstream out(path, std::ios::binary);
        std::string chunk(1 << 20, '\0');
        uint32_t x = 12345;
        for (auto& c : chunk) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        for (uint64_t i = 0; i < mib; ++i)
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }

    RunLoop::main().setMainThread();
    test::LoopbackHTTPServer server;
    test::ScriptedResponse sink = test::ScriptedResponse::json(200, "{}");
    sink.discardBody = true;
    server.route("POST", "/upload", sink);

    auto client = RVAFHTTPClient::clientWithBaseURL(*URL::parse(server.baseURL()));
    auto send = [&](const RVURLRequest& request) {
        bool done = false, ok = false;
        auto op = client->HTTPRequestOperationWithRequest(
            request, [&](const auto&, const Value&) { done = ok = true; },
            [&](const auto&, const Error& e) {
                std::fprintf(stderr, "upload failed: %s\n", e.description().c_str());
                done = true;
            });
        client->enqueueHTTPRequestOperation(op);
        RunLoop::main().runUntil([&] { return done; }, std::chrono::hours(1));
        return ok;
    };
    // Warm up: the network thread, curl and the server's workers exist before measuring.
    send(client->requestWithMethod("POST", "/upload", Value{{"warm", 1}}));
    const long baselineKiB = statusKiB("VmHWM:");

    const auto start = std::chrono::steady_clock::now();
    const bool ok = send(client->multipartFormRequestWithMethod(
        "POST", "/upload", Value{{"app_key", "bench"}}, [&](RVAFStreamingMultipartFormData& form) {
            form.appendPartWithFileURL(URL::fileURL(path), "file");
        }));
    const double ours = seconds(start);
    const long peakKiB = statusKiB("VmHWM:");
    const uint64_t received = server.requests().back().bodyLength;

    // The curl tool as the reference: "--data-binary @file" (which loads the file into memory
    // and refuses very large files), else "-T file" (streamed from disk like ours).
    const std::string target = " " + server.baseURL() + "/upload";
    std::string mode = "--data-binary @file";
    auto curlStart = std::chrono::steady_clock::now();
    int curlStatus = std::system(
        ("curl -s -S -o /dev/null -H 'Expect:' --data-binary @" + path + target).c_str());
    if (curlStatus != 0) {
        mode = "-T file -X POST";
        curlStart = std::chrono::steady_clock::now();
        curlStatus = std::system(
            ("curl -s -S -o /dev/null -H 'Expect:' -X POST -T " + path + target).c_str());
    }
    const double theirs = seconds(curlStart);
    std::remove(path.c_str());

    const double growthMiB = (peakKiB - baselineKiB) / 1024.0;
    const double oursMBs = size / ours / 1e6;
    const double curlMBs = size / theirs / 1e6;
    std::printf("file: %llu MiB, body received: %llu bytes, upload %s\n",
                static_cast<unsigned long long>(mib), static_cast<unsigned long long>(received),
                ok ? "succeeded" : "FAILED");
    std::printf("peak resident memory: %.1f MiB before, grew by %.2f MiB (limit 4 MiB): %s\n",
                baselineKiB / 1024.0, growthMiB, growthMiB <= 4.0 ? "ok" : "TOO MUCH");
    std::printf(
        "throughput: client %.1f MB/s (%.2f s), curl tool %s %.1f MB/s (%.2f s%s): "
        "%.0f %%\n",
        oursMBs, ours, mode.c_str(), curlMBs, theirs, curlStatus == 0 ? "" : ", curl failed",
        100.0 * oursMBs / curlMBs);
    return ok && growthMiB <= 4.0 ? 0 : 1;
}
