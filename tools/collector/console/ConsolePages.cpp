#include "ConsolePages.h"

namespace rivlo::collector {

namespace {

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Only the console's own files run, nothing loads from elsewhere, no other site frames it.
void secure(HttpResponse& response) {
    response.headers.emplace(
        "Content-Security-Policy",
        "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
        "media-src 'self' blob:; connect-src 'self'; object-src 'none'; base-uri 'none'; "
        "form-action 'self'; frame-ancestors 'none'");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
    response.headers.emplace("Referrer-Policy", "same-origin");
    response.headers.emplace("Cache-Control", "no-cache");
}

HttpResponse file(std::string_view name) {
    const auto bytes = ConsolePages::asset(name);
    if (!bytes) return HttpResponse::error(404, "no such page");
    HttpResponse response;
    response.contentType = ConsolePages::contentType(name);
    response.body.assign(bytes->data(), bytes->size());
    secure(response);
    return response;
}

HttpRoute page(const std::string& pattern, const std::string& fileName) {
    HttpRoute route;
    route.method = "GET";
    route.pattern = pattern;
    route.label = "console page";
    route.maxBodyBytes = 0;
    route.handle = [fileName](HttpRequest&) { return file(fileName); };
    return route;
}

HttpRoute redirect(const std::string& pattern, const std::string& to) {
    HttpRoute route;
    route.method = "GET";
    route.pattern = pattern;
    route.label = "console";
    route.maxBodyBytes = 0;
    route.handle = [to](HttpRequest&) {
        HttpResponse response;
        response.status = 302;
        response.contentType = "text/plain";
        response.headers.emplace("Location", to);
        return response;
    };
    return route;
}

}  // namespace

std::optional<std::string_view> ConsolePages::asset(std::string_view name) {
    for (size_t i = 0; i < kAssetCount; ++i) {
        if (kAssets[i].name == name) return kAssets[i].bytes;
    }
    return std::nullopt;
}

std::string ConsolePages::contentType(std::string_view name) {
    if (endsWith(name, ".html")) return "text/html; charset=utf-8";
    if (endsWith(name, ".css")) return "text/css; charset=utf-8";
    if (endsWith(name, ".js")) return "text/javascript; charset=utf-8";
    if (endsWith(name, ".png")) return "image/png";
    if (endsWith(name, ".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

std::vector<HttpRoute> ConsolePages::routes() {
    std::vector<HttpRoute> out;
    out.push_back(redirect("/", "/console/"));
    out.push_back(redirect("/console", "/console/"));
    out.push_back(page("/console/", "sessions.html"));
    out.push_back(page("/console/login", "login.html"));
    out.push_back(page("/console/sessions/{id}", "session.html"));
    out.push_back(page("/console/heatmaps", "heatmaps.html"));
    HttpRoute assets;
    assets.method = "GET";
    assets.pattern = "/console/assets/{name}";
    assets.label = "console page";
    assets.maxBodyBytes = 0;
    assets.handle = [](HttpRequest& request) {
        const std::string& name = request.params["name"];
        // Only the files that are not pages of their own.
        if (endsWith(name, ".html")) return HttpResponse::error(404, "no such file");
        return file(name);
    };
    out.push_back(assets);
    return out;
}

}  // namespace rivlo::collector
