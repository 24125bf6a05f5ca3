#include "ConsoleTestClient.h"

#include <algorithm>
#include <cctype>

#include <curl/curl.h>

namespace rivlo::collector::test {

namespace {

size_t collectBody(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* out) {
    auto* answer = static_cast<ConsoleAnswer*>(out);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        if (name == "set-cookie") answer->cookies.push_back(value);
        answer->headers[name] = value;
    }
    return size * count;
}

}  // namespace

nlohmann::json ConsoleAnswer::json() const {
    return nlohmann::json::parse(body, nullptr, false);
}

std::string ConsoleAnswer::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

ConsoleAnswer ConsoleTestClient::send(const std::string& method, const std::string& path,
                                      const std::vector<std::string>& headers,
                                      const std::string& body) {
    static const bool once = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)once;
    ConsoleAnswer answer;
    CURL* curl = curl_easy_init();
    curl_slist* list = curl_slist_append(nullptr, "Expect:");
    for (const std::string& h : headers)
        list = curl_slist_append(list, h.c_str());
    if (!cookie_.empty()) list = curl_slist_append(list, ("Cookie: " + cookie_).c_str());
    const std::string url = base_ + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer);
    if (method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return answer;
}

ConsoleAnswer ConsoleTestClient::logIn(const std::string& user, const std::string& password) {
    const std::string body = nlohmann::json{{"user", user}, {"password", password}}.dump();
    ConsoleAnswer answer =
        send("POST", "/api/v1/login", {"Content-Type: application/json", "Origin: " + base_}, body);
    if (answer.status != 200) return answer;
    for (const std::string& c : answer.cookies) {
        if (c.rfind("rivlo_session=", 0) == 0) cookie_ = c.substr(0, c.find(';'));
    }
    const auto value = answer.json();
    if (value.is_object() && value.contains("csrf_token"))
        csrf_ = value["csrf_token"].get<std::string>();
    return answer;
}

ConsoleAnswer ConsoleTestClient::change(const std::string& method, const std::string& path,
                                        const std::string& body) {
    return send(method, path,
                {"X-Rivlo-CSRF: " + csrf_, "Origin: " + base_, "Content-Type: application/json"},
                body);
}

}  // namespace rivlo::collector::test
