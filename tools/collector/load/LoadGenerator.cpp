#include "LoadGenerator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include <curl/curl.h>
#include <nlohmann/json.hpp>

namespace rivlo::collector {

namespace {

using Clock = std::chrono::steady_clock;

const std::string kBoundary = "Boundary+0xAbCdEfGbOuNdArY";

// The library's multipart layout: one part per field in sorted order, then the file part.
std::string multipart(std::vector<std::pair<std::string, std::string>> fields,
                      const std::string& fileName, const std::string& type,
                      const std::string& bytes) {
    std::sort(fields.begin(), fields.end());
    std::string body;
    bool first = true;
    auto open = [&] {
        body += (first ? "" : "\r\n") + std::string("--") + kBoundary + "\r\n";
        first = false;
    };
    for (const auto& [name, value] : fields) {
        open();
        body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
    }
    open();
    body += "Content-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
            "\"\r\nContent-Type: " + type + "\r\n\r\n" + bytes + "\r\n--" + kBoundary + "--\r\n";
    return body;
}

size_t collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

long residentKiB(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

bool isLoopback(const std::string& url) {
    for (const char* prefix : {"http://127.0.0.1:", "http://localhost:", "http://[::1]:"}) {
        if (url.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// One simulated device: its own connection, its sessions one after the other.
class Device {
  public:
    Device(const LoadOptions& o, int number) : options_(o), number_(number) {
        curl_ = curl_easy_init();
        char id[64];
        std::snprintf(id, sizeof id, "LOAD-%08d-0000-4000-8000-%012d", number, number);
        vendorId_ = id;
    }
    ~Device() { curl_easy_cleanup(curl_); }

    void run(Clock::time_point end, LoadReport& shared, std::mutex& mutex) {
        std::vector<double> latencies;
        int sessions = 0, failures = 0;
        const std::string movie(options_.movieBytes, 'm');
        const std::string tile(options_.tileBytes, 'j');
        for (int s = 0; s < options_.sessionsPerDevice && Clock::now() < end; ++s) {
            bool ok = true;
            std::string answer;
            const std::string form = "app_key=" + options_.appKey +
                                     "&appname=Load&device_id=" + vendorId_ +
                                     "&device_os=17.0&device_type=Simulator&platform=ios";
            ok &= post("/webservices/v2/verifyapp", form,
                       "application/x-www-form-urlencoded; charset=utf-8", latencies, &answer);
            const auto verified = nlohmann::json::parse(answer, nullptr, false);
            if (!ok || !verified.is_object() || !verified.contains("app_device_id")) {
                ++failures;
                continue;
            }
            const std::string apd = verified["app_device_id"].get<std::string>();
            const int64_t stamp = 1800000000 + number_ * 100000 + s * 100;
            const std::string type = "multipart/form-data; boundary=" + kBoundary;
            ok &= post(
                "/webservices/v2/uploadvideo",
                multipart({{"app_device_id", apd}, {"sv_duration", "30"}, {"video_type", "screen"}},
                          vendorId_ + "_" + std::to_string(stamp + 1) + ".mp4", "video/mp4", movie),
                type, latencies);
            const nlohmann::json document = {
                {"apd", apd},
                {"dr", std::to_string(s + 1)},
                {"tt", "30"},
                {"dan", "load"},
                {"cr", false},
                {"isF", 0},
                {"lc", nlohmann::json::object()},
                {"ut",
                 {{{"an", "Home"}, {"at", "0"}, {"cor", {{1, 2, 1, 0, 1, 3, 1, 2}}}, {"wb", 0}}}},
                {"gy", nlohmann::json::array()},
                {"tags", nlohmann::json::array()},
                {"rvsdk", "1.0.9"}};
            ok &=
                post("/webservices/v2/uploaddata",
                     multipart({}, std::to_string(stamp) + ".txt", "text/plain", document.dump(4)),
                     type, latencies);
            for (int t = 0; t < options_.tiles; ++t) {
                ok &= post("/webservices/v2/uploadheatcordsweb",
                           multipart({{"activity_name", "shop.example/article"},
                                      {"app_device_id", apd},
                                      {"dist_x", "0.000000"},
                                      {"dist_y", std::to_string(t * 667) + ".000000"},
                                      {"gridImg_height", "667"},
                                      {"gridImg_width", "375"},
                                      {"key", "page"},
                                      {"orientation", "1"},
                                      {"total_columns", "1"},
                                      {"total_rows", std::to_string(options_.tiles)}},
                                     std::to_string(stamp - 10 + t) + ".jpeg", "image/jpeg", tile),
                           type, latencies);
            }
            if (ok) {
                ++sessions;
            } else {
                ++failures;
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        shared.sessions += sessions;
        shared.failedRequests += failures;
        shared.latenciesMs.insert(shared.latenciesMs.end(), latencies.begin(), latencies.end());
    }

  private:
    bool post(const std::string& path, const std::string& body, const std::string& type,
              std::vector<double>& latencies, std::string* answer = nullptr) {
        std::string received;
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, ("Content-Type: " + type).c_str());
        headers = curl_slist_append(headers, "Expect:");
        const std::string url = options_.url + path;
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &received);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 120L);
        const auto began = Clock::now();
        const CURLcode code = curl_easy_perform(curl_);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - began).count());
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        if (answer) *answer = received;
        return code == CURLE_OK && status == 200;
    }

    const LoadOptions& options_;
    int number_;
    CURL* curl_;
    std::string vendorId_;
};

}  // namespace

double LoadReport::percentile(double p) const {
    if (latenciesMs.empty()) return 0;
    std::vector<double> sorted = latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const size_t at = std::min(sorted.size() - 1, static_cast<size_t>(p / 100.0 * sorted.size()));
    return sorted[at];
}

std::string LoadReport::summary() const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "sessions %d in %.1f s: %.1f sessions/s; requests %zu (%d failed); latency "
                  "p50 %.1f ms, p99 %.1f ms; collector resident memory at most %ld KiB",
                  sessions, seconds, seconds > 0 ? sessions / seconds : 0.0, latenciesMs.size(),
                  failedRequests, percentile(50), percentile(99), peakResidentKiB);
    return text;
}

bool LoadGenerator::run(const LoadOptions& options, LoadReport& report, std::string& error) {
    if (!isLoopback(options.url)) {
        error = "the load generator only runs against a collector on this machine (" + options.url +
                ")";
        return false;
    }
    if (options.devices < 1 || options.devices > 1024 || options.sessionsPerDevice < 1 ||
        options.seconds <= 0 || options.seconds > 3600) {
        error = "devices 1 to 1024, at least one session each, 0 to 3600 seconds";
        return false;
    }
    curl_global_init(CURL_GLOBAL_ALL);
    std::mutex mutex;
    std::atomic<bool> running{true};
    std::thread sampler([&] {
        while (running && options.collectorPid > 0) {
            const long kib = residentKiB(options.collectorPid);
            {
                std::lock_guard<std::mutex> lock(mutex);
                report.peakResidentKiB = std::max(report.peakResidentKiB, kib);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const auto began = Clock::now();
    const auto end = began + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(options.seconds));
    std::vector<std::thread> threads;
    for (int d = 0; d < options.devices; ++d) {
        threads.emplace_back([&, d] {
            Device device(options, d + 1);
            device.run(end, report, mutex);
        });
    }
    for (std::thread& t : threads)
        t.join();
    report.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    running = false;
    sampler.join();
    return true;
}

}  // namespace rivlo::collector
