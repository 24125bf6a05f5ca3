#include "ConsoleApi.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>

#include "CollectorJson.h"
#include "CollectorNames.h"
#include "ConsolePages.h"
#include "HeatMapView.h"
#include "HttpFile.h"
#include "SessionRows.h"
#include "SessionView.h"

namespace rivlo::collector {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr uint64_t kApiBodyBytes = 16 * 1024;

int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

HttpResponse noStore(HttpResponse response) {
    response.headers.emplace("Cache-Control", "no-store");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
    return response;
}

HttpResponse answer(int status, const json& value) {
    return noStore(HttpResponse::json(status, value));
}

HttpResponse failure(int status, const std::string& message) {
    return noStore(HttpResponse::error(status, message));
}

// A whole decimal number of at most 18 digits.
std::optional<int64_t> wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoll(text);
}

// A moment given as Unix seconds, "YYYY-MM-DD" (UTC midnight; `endOfDay` for the midnight
// after) or "YYYY-MM-DDTHH:MM:SS[Z]".
std::optional<int64_t> momentOf(const std::string& text, bool endOfDay) {
    if (auto seconds = wholeNumber(text)) return seconds;
    std::tm tm{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail[4] = {};
    if (text.size() == 10 && std::sscanf(text.c_str(), "%4d-%2d-%2d", &y, &mo, &d) == 3) {
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        if (mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
        return static_cast<int64_t>(timegm(&tm)) + (endOfDay ? 86400 : 0);
    }
    const int got =
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%3s", &y, &mo, &d, &h, &mi, &s, tail);
    if (got < 6 || (got == 7 && std::string(tail) != "Z") || mo < 1 || mo > 12 || d < 1 || d > 31 ||
        h > 23 || mi > 59 || s > 60)
        return std::nullopt;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<int64_t>(timegm(&tm));
}

std::string cookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::string pair = header.substr(at, end - at);
        const size_t first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
            pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

bool equalSecrets(const std::string& a, const std::string& b) {
    return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string contentTypeOf(const UploadRecord& upload) {
    const std::string ext = fs::path(upload.fileName).extension().string();
    if (ext == ".jpeg" || ext == ".jpg") return "image/jpeg";
    if (ext == ".mov") return "video/quicktime";
    return upload.kind == "tile" ? "image/jpeg" : "video/mp4";
}

// A query component with everything but unreserved characters percent-encoded.
std::string encoded(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// A field of a request's query, "" when absent.
std::string fieldOf(const std::map<std::string, std::string>& query, const char* name) {
    const auto it = query.find(name);
    return it == query.end() ? std::string() : it->second;
}

// The "{id}" of a route as a positive number.
std::optional<int64_t> idParam(HttpRequest& request) {
    auto id = wholeNumber(request.params["id"]);
    if (!id || *id <= 0) return std::nullopt;
    return id;
}

}  // namespace

ConsoleApi::ConsoleApi(CollectorServer& server, const CollectorConfig& config)
    : server_(server),
      dataDir_(config.dataDir),
      secure_(config.usesTls()),
      log_(config.logSink),
      accounts_(server.index()),
      queries_(server.index()) {}

ConsoleApi::~ConsoleApi() = default;

std::optional<ConsoleAccounts::Login> ConsoleApi::loginOf(const HttpRequest& request) {
    const std::string token = cookieValue(request.header("cookie"), kCookie);
    if (token.empty()) return std::nullopt;
    return accounts_.loginOf(token);
}

bool ConsoleApi::sameOrigin(const HttpRequest& request) const {
    const std::string origin = request.header("origin");
    if (origin.empty()) return true;  // not a browser's cross-site request
    const std::string host = request.header("host");
    return origin == std::string(secure_ ? "https://" : "http://") + host;
}

std::string ConsoleApi::sessionCookie(const std::string& token, int64_t maxAgeSeconds) const {
    return std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
           std::to_string(std::max<int64_t>(0, maxAgeSeconds)) + (secure_ ? "; Secure" : "");
}

HttpRoute ConsoleApi::route(const std::string& method, const std::string& pattern, Need need,
                            Handler handler) {
    HttpRoute r;
    r.method = method;
    r.pattern = pattern;
    r.label = "console " + method + " " + pattern;
    r.maxBodyBytes = kApiBodyBytes;
    r.handle = [this, need, handler = std::move(handler)](HttpRequest& request) {
        const auto login = loginOf(request);
        if (!login) return failure(401, "log in first");
        if (need != Need::Reading) {
            // A page of another site can neither read the token nor send this header.
            if (!sameOrigin(request) ||
                !equalSecrets(request.header(kCsrfHeader), login->csrfToken)) {
                log_.write("console: %s %s by %s refused: no matching CSRF token or origin",
                           request.method.c_str(), CollectorNames::printable(request.path).c_str(),
                           login->user.name.c_str());
                return failure(403, "the request lacks the login's CSRF token");
            }
        }
        if (need == Need::ChangingAsAdmin && login->user.role != ConsoleAccounts::kAdmin)
            return failure(403, "only an admin may do this");
        return handler(request, *login);
    };
    return r;
}

void ConsoleApi::attach() {
    if (attached_) return;
    attached_ = true;
    for (HttpRoute& page : ConsolePages::routes())
        server_.addRoute(std::move(page));

    HttpRoute login;
    login.method = "POST";
    login.pattern = "/api/v1/login";
    login.label = "console login";
    login.maxBodyBytes = kApiBodyBytes;
    login.handle = [this](HttpRequest& request) { return logIn(request); };
    server_.addRoute(login);

    auto reading = [this](auto member) {
        return [this, member](HttpRequest& request, const ConsoleAccounts::Login&) {
            return (this->*member)(request);
        };
    };
    server_.addRoute(route("POST", "/api/v1/logout", Need::Changing,
                           [this](HttpRequest& request, const ConsoleAccounts::Login& l) {
                               return logOut(request, l);
                           }));
    server_.addRoute(
        route("GET", "/api/v1/me", Need::Reading,
              [this](HttpRequest&, const ConsoleAccounts::Login& l) { return me(l); }));
    server_.addRoute(route("GET", "/api/v1/apps", Need::Reading,
                           [this](HttpRequest&, const ConsoleAccounts::Login&) { return apps(); }));
    server_.addRoute(route("GET", "/api/v1/screens", Need::Reading, reading(&ConsoleApi::screens)));
    server_.addRoute(
        route("GET", "/api/v1/sessions", Need::Reading, reading(&ConsoleApi::sessions)));
    server_.addRoute(
        route("GET", "/api/v1/sessions/{id}", Need::Reading, reading(&ConsoleApi::session)));
    server_.addRoute(
        route("GET", "/api/v1/media/{id}", Need::Reading, reading(&ConsoleApi::media)));
    server_.addRoute(route("GET", "/api/v1/heatmap", Need::Reading, reading(&ConsoleApi::heatmap)));
    server_.addRoute(route("DELETE", "/api/v1/installations/{id}", Need::ChangingAsAdmin,
                           [this](HttpRequest& request, const ConsoleAccounts::Login& l) {
                               return deleteInstallation(request, l);
                           }));
}

HttpResponse ConsoleApi::logIn(HttpRequest& request) {
    // A form of another site cannot send JSON without asking first (which nothing here allows).
    if (request.header("content-type").rfind("application/json", 0) != 0)
        return failure(415, "send {\"user\": NAME, \"password\": PASSWORD} as application/json");
    if (!sameOrigin(request)) return failure(403, "log in from the console's own pages");
    const json body = CollectorJson::parse(request.body, 4);
    if (!body.is_object() || !body.contains("user") || !body["user"].is_string() ||
        !body.contains("password") || !body["password"].is_string())
        return failure(400, "send {\"user\": NAME, \"password\": PASSWORD}");
    const std::string name = body["user"].get<std::string>();
    ConsoleAccounts::Login login;
    switch (
        accounts_.logIn(name, body["password"].get<std::string>(), request.remoteAddress, login)) {
        case ConsoleAccounts::Outcome::LoggedIn:
            break;
        case ConsoleAccounts::Outcome::Refused:
            log_.write("console: login refused for %s from %s",
                       CollectorNames::quoted(name.substr(0, 64)).c_str(),
                       request.remoteAddress.c_str());
            return failure(401, "wrong user name or password");
        case ConsoleAccounts::Outcome::Throttled: {
            log_.write("console: login of %s from %s not checked: too many attempts",
                       CollectorNames::quoted(name.substr(0, 64)).c_str(),
                       request.remoteAddress.c_str());
            HttpResponse busy = failure(429, "too many login attempts, try again later");
            busy.headers.emplace("Retry-After", "60");
            return busy;
        }
        case ConsoleAccounts::Outcome::Failed:
            return failure(503, "the login could not be stored");
    }
    log_.write("console: %s (%s) logged in from %s", login.user.name.c_str(),
               login.user.role.c_str(), request.remoteAddress.c_str());
    HttpResponse response =
        answer(200, json{{"user", login.user.name},
                         {"role", login.user.role},
                         {"csrf_token", login.csrfToken},
                         {"expires_at", SessionView::isoTime(login.expiresUnix)}});
    response.headers.emplace("Set-Cookie",
                             sessionCookie(login.token, login.expiresUnix - unixNow()));
    return response;
}

HttpResponse ConsoleApi::logOut(HttpRequest&, const ConsoleAccounts::Login& login) {
    accounts_.logOut(login.token);
    log_.write("console: %s logged out", login.user.name.c_str());
    HttpResponse response = answer(200, json{{"logged_out", true}});
    response.headers.emplace("Set-Cookie", sessionCookie("", 0));
    return response;
}

HttpResponse ConsoleApi::me(const ConsoleAccounts::Login& login) {
    return answer(200, json{{"user", login.user.name},
                            {"role", login.user.role},
                            {"csrf_token", login.csrfToken},
                            {"expires_at", SessionView::isoTime(login.expiresUnix)}});
}

HttpResponse ConsoleApi::apps() {
    json list = json::array();
    for (const auto& app : queries_.apps())
        list.push_back(json{{"id", app.folder}, {"name", app.name}, {"sessions", app.sessions}});
    return answer(200, json{{"apps", list}});
}

HttpResponse ConsoleApi::screens(HttpRequest& request) {
    const auto app = queries_.appByFolder(fieldOf(HttpRequest::formFields(request.query), "app"));
    if (!app) return failure(404, "no such application");
    std::vector<ConsoleQueries::Screen> screens;
    std::vector<std::string> versions;
    std::string error;
    constexpr int64_t kRecent = 10000;
    if (!queries_.screens(app->key, kRecent, screens, versions, error))
        return failure(500, "the index cannot be read");
    json list = json::array();
    for (const auto& s : screens)
        list.push_back(json{{"name", s.name}, {"web", s.web}, {"sessions", s.sessions}});
    return answer(200, json{{"screens", list}, {"versions", versions}, {"of_latest", kRecent}});
}

HttpResponse ConsoleApi::sessions(HttpRequest& request) {
    const auto query = HttpRequest::formFields(request.query);
    auto field = [&](const char* name) { return fieldOf(query, name); };
    const auto app = queries_.appByFolder(field("app"));
    if (!app) return failure(404, "no such application");
    ConsoleQueries::SessionFilter filter;
    filter.appKey = app->key;
    filter.screen = field("screen");
    filter.tag = field("tag");
    const std::string crashed = field("crashed");
    if (crashed == "true") filter.crashed = true;
    if (crashed == "false") filter.crashed = false;
    if (!crashed.empty() && !filter.crashed) return failure(400, "crashed is true or false");
    if (!field("from").empty() && !(filter.from = momentOf(field("from"), false)))
        return failure(400, "from is a date, a time (ISO 8601) or Unix seconds");
    if (!field("to").empty() && !(filter.to = momentOf(field("to"), true)))
        return failure(400, "to is a date, a time (ISO 8601) or Unix seconds");
    if (!field("min_duration").empty()) {
        const auto d = wholeNumber(field("min_duration"));
        if (!d) return failure(400, "min_duration is whole seconds");
        filter.minDuration = *d;
    }
    if (!field("limit").empty()) {
        const auto limit = wholeNumber(field("limit"));
        if (!limit || *limit < 1 || *limit > 500) return failure(400, "limit is 1 to 500");
        filter.limit = *limit;
    }
    const std::string cursor = field("cursor");
    if (!cursor.empty()) {
        const size_t dot = cursor.find('.');
        const auto started = wholeNumber(cursor.substr(0, dot));
        const auto id =
            dot == std::string::npos ? std::nullopt : wholeNumber(cursor.substr(dot + 1));
        if (!started || !id) return failure(400, "not a cursor of this list");
        filter.after = ConsoleQueries::Cursor{*started, *id};
    }
    ConsoleQueries::SessionPage page;
    std::string error;
    if (!queries_.sessions(filter, page, error)) {
        log_.write("console: the session list cannot be read: %s", error.c_str());
        return failure(500, "the index cannot be read");
    }
    json list = json::array();
    for (const auto& row : page.rows)
        list.push_back(SessionView::summary(row, app->folder));
    json next = nullptr;
    if (page.next) next = std::to_string(page.next->started) + "." + std::to_string(page.next->id);
    return answer(200, json{{"sessions", list}, {"next_cursor", next}, {"total", page.total}});
}

HttpResponse ConsoleApi::session(HttpRequest& request) {
    const auto id = idParam(request);
    const auto row = id ? queries_.session(*id) : std::nullopt;
    const auto document = id ? queries_.upload(*id) : std::nullopt;
    if (!row || !document) return failure(404, "no such session");
    std::string folder;
    for (const auto& app : queries_.apps()) {
        if (app.key == row->session.appKey) folder = app.folder;
    }
    std::string problem;
    const json content = CollectorJson::parseFile((fs::path(dataDir_) / document->path).string(),
                                                  CollectorJson::kMaxDocumentBytes, problem);
    if (!content.is_object()) {
        log_.write("console: session %lld: its document %s cannot be read: %s",
                   static_cast<long long>(*id), document->path.c_str(), problem.c_str());
        return failure(500, "the session's document cannot be read");
    }
    return answer(200, SessionView::detail(*row, folder, content, queries_.itemsOf(*id)));
}

HttpResponse ConsoleApi::media(HttpRequest& request) {
    const auto id = idParam(request);
    const auto upload = id ? queries_.upload(*id) : std::nullopt;
    if (!upload || upload->kind == "data") return failure(404, "no such movie or picture");
    std::string error;
    auto file = HttpFile::open((fs::path(dataDir_) / upload->path).string(), error);
    if (!file) {
        log_.write("console: media %lld: %s", static_cast<long long>(*id), error.c_str());
        return failure(404, "the file is gone");
    }
    HttpResponse response = HttpFile::answer(request, std::move(file), contentTypeOf(*upload));
    response.headers.emplace("Cache-Control", "private, max-age=3600");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
    return response;
}

HttpResponse ConsoleApi::heatmap(HttpRequest& request) {
    const auto query = HttpRequest::formFields(request.query);
    auto field = [&](const char* name) { return fieldOf(query, name); };
    const auto app = queries_.appByFolder(field("app"));
    if (!app) return failure(404, "no such application");
    ConsoleQueries::HeatQuery heat;
    heat.appKey = app->key;
    heat.screen = field("screen");
    if (heat.screen.empty()) return failure(400, "screen is needed");
    std::set<std::string> kinds;
    if (!HeatMapView::kindsFrom(field("kinds"), kinds))
        return failure(400, "kinds is a list of tap, double_tap, swipe, pinch");
    const auto from =
        field("from").empty() ? std::optional<int64_t>(0) : momentOf(field("from"), false);
    const auto to = field("to").empty() ? std::optional<int64_t>(unixNow() + 86400)
                                        : momentOf(field("to"), true);
    if (!from || !to || *to <= *from)
        return failure(400, "from and to are dates, times (ISO 8601) or Unix seconds, in order");
    heat.fromDay = SessionRows::dayOf(*from);
    heat.toDay = SessionRows::dayOf(*to - 1);
    if (query.count("version")) heat.version = field("version");
    const std::string format = field("format").empty() ? "json" : field("format");
    if (format != "json" && format != "png") return failure(400, "format is json or png");

    const auto generation = queries_.generation(app->key);
    if (!generation) return failure(500, "the index cannot be read");
    std::string key = app->key + '\n' + heat.screen + '\n' + std::to_string(heat.fromDay) + '\n' +
                      std::to_string(heat.toDay) + '\n' +
                      (heat.version ? "=" + *heat.version : "*") + '\n' + format;
    for (const std::string& kind : kinds)
        key += '\n' + kind;
    auto cached = heatMaps_.find(key, *generation);
    if (!cached) {
        HeatMapView view(queries_, dataDir_);
        HeatMapCache::Entry entry;
        entry.generation = *generation;
        std::string error;
        bool ok = false;
        if (format == "png") {
            entry.contentType = "image/png";
            ok = view.asPng(heat, kinds, entry.body, error);
        } else {
            json out;
            entry.contentType = "application/json";
            ok = view.asJson(heat, kinds, out, error);
            if (ok) {
                std::string picture = "/api/v1/heatmap?";
                for (const auto& [name, value] : query) {
                    if (name != "format") picture += encoded(name) + "=" + encoded(value) + "&";
                }
                out["picture"] = picture + "format=png";
                entry.body = out.dump(-1, ' ', false, json::error_handler_t::replace);
            }
        }
        if (!ok) {
            log_.write("console: heat map of %s cannot be made: %s",
                       CollectorNames::quoted(heat.screen.substr(0, 100)).c_str(), error.c_str());
            return failure(500, "the heat map cannot be made");
        }
        heatMaps_.put(key, entry);
        cached = std::move(entry);
    }
    HttpResponse response;
    response.contentType = cached->contentType;
    response.body = std::move(cached->body);
    return noStore(std::move(response));
}

HttpResponse ConsoleApi::deleteInstallation(HttpRequest& request,
                                            const ConsoleAccounts::Login& login) {
    const std::string id = request.params["id"];
    std::string error;
    if (!server_.index().installation(id)) return failure(404, "no such installation");
    log_.write("console: %s deletes installation %s", login.user.name.c_str(),
               CollectorNames::printable(id).c_str());
    if (!server_.deleteInstallation(id, error)) return failure(500, "not deleted: " + error);
    return answer(200, json{{"deleted", id}});
}

}  // namespace rivlo::collector
