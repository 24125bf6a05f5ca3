#include "CollectorConfig.h"

#include <chrono>
#include <fstream>
#include <limits>
#include <set>

namespace rivlo::collector {

using nlohmann::json;

json CollectorApp::defaultSettings() {
    return json{{"screen_record", true},   {"screen_quality", 2},   {"camera_record", false},
                {"camera_quality", "low"}, {"wifi_status", true},   {"g_status", true},
                {"g_data_size", 100},      {"wifi_data_size", "0"}, {"url", nullptr}};
}

bool FaultConfig::enabled() const {
    return failShare > 0 || resetShare > 0 || refuseShare > 0 || (delayShare > 0 && delayMs > 0) ||
           malformedVerifyShare > 0;
}

namespace {

bool readShare(const json& object, const char* key, double& out, std::string& error) {
    if (!object.contains(key)) return true;
    const json& value = object.at(key);
    if (!value.is_number()) {
        error = std::string("\"") + key + "\" must be a number between 0 and 1";
        return false;
    }
    out = value.get<double>();
    return true;
}

template <typename Int>
bool readInteger(const json& object, const char* key, Int& out, std::string& error) {
    if (!object.contains(key)) return true;
    const json& value = object.at(key);
    // JSON parsing keeps non-negative integers as unsigned numbers.
    if (!value.is_number_unsigned() ||
        value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<Int>::max())) {
        error = std::string("\"") + key + "\" must be a non-negative integer in range";
        return false;
    }
    out = static_cast<Int>(value.get<uint64_t>());
    return true;
}

bool readText(const json& object, const char* key, std::string& out, std::string& error) {
    if (!object.contains(key)) return true;
    if (!object.at(key).is_string()) {
        error = std::string("\"") + key + "\" must be a text";
        return false;
    }
    out = object.at(key).get<std::string>();
    return true;
}

bool readMilliseconds(const json& object, const char* key, std::chrono::milliseconds& out,
                      std::string& error) {
    int64_t value = out.count();
    if (!readInteger(object, key, value, error)) return false;
    out = std::chrono::milliseconds(value);
    return true;
}

bool readLimits(const json& document, HttpLimits& limits, std::string& error) {
    return readInteger(document, "header_bytes", limits.headerBytes, error) &&
           readMilliseconds(document, "header_timeout_ms", limits.headerTimeout, error) &&
           readMilliseconds(document, "body_grace_ms", limits.bodyGrace, error) &&
           readInteger(document, "min_bytes_per_second", limits.minBytesPerSecond, error) &&
           readMilliseconds(document, "write_timeout_ms", limits.writeTimeout, error) &&
           readInteger(document, "max_connections", limits.maxConnections, error) &&
           readInteger(document, "max_connections_per_address", limits.maxConnectionsPerAddress,
                       error) &&
           readInteger(document, "io_threads", limits.ioThreads, error) &&
           readInteger(document, "queue", limits.queueLimit, error) &&
           readMilliseconds(document, "shutdown_grace_ms", limits.shutdownGrace, error);
}

}  // namespace

bool CollectorConfig::loadFile(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open configuration file " + path;
        return false;
    }
    json document = json::parse(in, nullptr, false);
    if (document.is_discarded()) {
        error = "configuration file " + path + " is not valid JSON";
        return false;
    }
    if (!applyJson(document, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool CollectorConfig::applyJson(const json& document, std::string& error) {
    if (!document.is_object()) {
        error = "the configuration must be a JSON object";
        return false;
    }
    if (!readText(document, "data", dataDir, error) || !readText(document, "host", host, error) ||
        !readText(document, "database", databaseUrl, error) ||
        !readInteger(document, "port", port, error) ||
        !readInteger(document, "max_body_bytes", maxBodyBytes, error) ||
        !readInteger(document, "max_verify_body_bytes", maxVerifyBodyBytes, error) ||
        !readInteger(document, "threads", threads, error) ||
        !readInteger(document, "retention_interval_s", retentionIntervalSeconds, error)) {
        return false;
    }
    if (!readLimits(document, limits, error)) return false;
    if (document.contains("tls")) {
        const json& tls = document.at("tls");
        if (!tls.is_object()) {
            error = "\"tls\" must be an object with \"cert\" and \"key\"";
            return false;
        }
        if (!readText(tls, "cert", certFile, error) || !readText(tls, "key", keyFile, error)) {
            return false;
        }
    }
    if (document.contains("apps")) {
        const json& list = document.at("apps");
        if (!list.is_array()) {
            error = "\"apps\" must be an array";
            return false;
        }
        for (const json& entry : list) {
            if (!entry.is_object()) {
                error = "every entry of \"apps\" must be an object";
                return false;
            }
            CollectorApp app;
            if (!readText(entry, "key", app.key, error) ||
                !readText(entry, "name", app.name, error)) {
                return false;
            }
            if (!readInteger(entry, "retention_days", app.retentionDays, error) ||
                !readInteger(entry, "quota_bytes", app.quotaBytes, error) ||
                !readInteger(entry, "installation_quota_bytes", app.installationQuotaBytes,
                             error) ||
                !readInteger(entry, "max_installations", app.maxInstallations, error)) {
                return false;
            }
            if (entry.contains("video_record")) {
                if (!entry.at("video_record").is_boolean()) {
                    error = "\"video_record\" must be true or false";
                    return false;
                }
                app.videoRecord = entry.at("video_record").get<bool>();
            }
            if (entry.contains("settings")) {
                if (!entry.at("settings").is_object()) {
                    error = "\"settings\" of application \"" + app.key + "\" must be an object";
                    return false;
                }
                app.settings = entry.at("settings");
            }
            apps.push_back(std::move(app));
        }
    }
    if (document.contains("faults")) {
        const json& f = document.at("faults");
        if (!f.is_object()) {
            error = "\"faults\" must be an object";
            return false;
        }
        if (!readShare(f, "fail_share", faults.failShare, error) ||
            !readShare(f, "reset_share", faults.resetShare, error) ||
            !readShare(f, "refuse_share", faults.refuseShare, error) ||
            !readShare(f, "delay_share", faults.delayShare, error) ||
            !readShare(f, "malformed_verify_share", faults.malformedVerifyShare, error) ||
            !readInteger(f, "delay_ms", faults.delayMs, error) ||
            !readInteger(f, "seed", faults.seed, error)) {
            return false;
        }
        if (f.contains("delay_ms") && !f.contains("delay_share")) faults.delayShare = 1.0;
    }
    return true;
}

bool CollectorConfig::validate(std::string& error) const {
    if (dataDir.empty()) {
        error = "a data folder is required (--data DIR)";
        return false;
    }
    if (port < 0 || port > 65535) {
        error = "the port must be between 0 and 65535";
        return false;
    }
    if (certFile.empty() != keyFile.empty()) {
        error = "HTTPS needs both a certificate and a key file";
        return false;
    }
    if (maxBodyBytes == 0) {
        error = "the body size limit must be above 0";
        return false;
    }
    if (threads < 1 || threads > 256) {
        error = "the number of request threads must be between 1 and 256";
        return false;
    }
    if (maxVerifyBodyBytes == 0 || limits.headerBytes < 1024 || limits.maxConnections == 0 ||
        limits.maxConnectionsPerAddress == 0 || limits.ioThreads < 1 || limits.ioThreads > 64 ||
        limits.queueLimit == 0 || limits.headerTimeout.count() <= 0 ||
        limits.writeTimeout.count() <= 0) {
        error =
            "connection limits must be above 0 (header limit at least 1024 bytes, 1 to 64 "
            "I/O threads)";
        return false;
    }
    if (retentionIntervalSeconds < 1) {
        error = "the retention interval must be at least 1 s";
        return false;
    }
    for (double share : {faults.failShare, faults.resetShare, faults.refuseShare, faults.delayShare,
                         faults.malformedVerifyShare}) {
        if (!(share >= 0.0 && share <= 1.0)) {
            error = "fault shares must be between 0 and 1";
            return false;
        }
    }
    if (faults.failShare + faults.resetShare > 1.0) {
        error = "the failure and reset shares together must not exceed 1";
        return false;
    }
    if (faults.delayMs < 0 || faults.delayMs > 60000) {
        error = "the answer delay must be between 0 and 60000 ms";
        return false;
    }
    std::set<std::string> keys;
    for (const CollectorApp& app : apps) {
        if (app.key.empty()) {
            error = "every application needs a non-empty key";
            return false;
        }
        if (!keys.insert(app.key).second) {
            error = "application key \"" + app.key + "\" is listed twice";
            return false;
        }
        if (!app.settings.is_object()) {
            error = "the settings of application \"" + app.key + "\" must be an object";
            return false;
        }
    }
    return true;
}

}  // namespace rivlo::collector
