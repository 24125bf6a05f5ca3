#include "platform/headless/Scenario.h"

#include "foundation/Log.h"
#include "platform/headless/ScenarioJson.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace rivlo {

namespace {

struct Refusal {
    int line;
    std::string reason;
};

[[noreturn]] void refuse(const JsonNode& at, std::string reason) {
    throw Refusal{at.line, std::move(reason)};
}

void onlyKeys(const JsonNode& obj, const std::set<std::string>& allowed, const std::string& what) {
    for (const auto& [key, value] : obj.members) {
        if (!allowed.count(key)) refuse(value, "unknown key \"" + key + "\" in " + what);
    }
}

const JsonNode& need(const JsonNode& obj, const std::string& key, const std::string& what) {
    const JsonNode* n = obj.get(key);
    if (!n) refuse(obj, what + " needs \"" + key + "\"");
    return *n;
}

void expectType(const JsonNode& n, JsonNode::Type type, const std::string& key) {
    if (n.type != type) {
        refuse(n, "\"" + key + "\" must be " + JsonNode::typeName(type) + ", not " +
                      JsonNode::typeName(n.type));
    }
}

double number(const JsonNode& n, const std::string& key) {
    expectType(n, JsonNode::Type::Number, key);
    return n.number;
}

double numberIn(const JsonNode& n, const std::string& key, double lo, double hi) {
    const double v = number(n, key);
    if (v < lo || v > hi) {
        std::ostringstream s;
        s << "\"" << key << "\" must be between " << lo << " and " << hi;
        refuse(n, s.str());
    }
    return v;
}

std::string text(const JsonNode& n, const std::string& key) {
    expectType(n, JsonNode::Type::String, key);
    return n.string;
}

bool boolean(const JsonNode& n, const std::string& key) {
    expectType(n, JsonNode::Type::Bool, key);
    return n.boolean;
}

std::vector<double> numbers(const JsonNode& n, const std::string& key, size_t count) {
    if (!n.isArray() || n.items.size() != count) {
        refuse(n, "\"" + key + "\" must be a list of " + std::to_string(count) + " numbers");
    }
    std::vector<double> out;
    for (const auto& item : n.items)
        out.push_back(number(item, key));
    return out;
}

Point point(const JsonNode& n, const std::string& key) {
    auto v = numbers(n, key, 2);
    return {v[0], v[1]};
}

Rect rect(const JsonNode& n, const std::string& key) {
    auto v = numbers(n, key, 4);
    if (v[2] < 0 || v[3] < 0) refuse(n, "\"" + key + "\" must not have a negative size");
    return Rect(v[0], v[1], v[2], v[3]);
}

Color color(const JsonNode& n, const std::string& key) {
    auto c = Color::fromHex(text(n, key));
    if (!c) refuse(n, "\"" + key + "\" must be a colour like \"#RRGGBB\" or \"#RRGGBBAA\"");
    return *c;
}

const std::set<std::string> kViewTypes{"view",      "label",   "textField",
                                       "imageView", "webView", "scrollView"};

ViewSpec parseView(const JsonNode& n, std::set<std::string>& ids) {
    if (!n.isObject()) refuse(n, "a view must be an object");
    onlyKeys(n, {"type",         "id",          "frame",       "background", "text",  "placeholder",
                 "fontSize",     "bold",        "textColor",   "alignment",  "lines", "secure",
                 "cornerRadius", "borderWidth", "borderColor", "hidden",     "alpha", "clips",
                 "page",         "contentSize", "subviews"},
             "a view");
    ViewSpec v;
    v.line = n.line;
    if (auto* t = n.get("type")) {
        v.type = text(*t, "type");
        if (!kViewTypes.count(v.type)) refuse(*t, "unknown view type \"" + v.type + "\"");
    }
    if (auto* t = n.get("id")) {
        v.id = text(*t, "id");
        if (v.id.empty()) refuse(*t, "\"id\" must not be empty");
        if (!ids.insert(v.id).second) refuse(*t, "duplicate view id \"" + v.id + "\"");
    }
    v.frame = rect(need(n, "frame", "a view"), "frame");
    if (auto* t = n.get("background")) v.background = color(*t, "background");
    if (auto* t = n.get("text")) v.text = text(*t, "text");
    if (auto* t = n.get("placeholder")) v.placeholder = text(*t, "placeholder");
    if (auto* t = n.get("fontSize")) v.fontSize = numberIn(*t, "fontSize", 1, 500);
    if (auto* t = n.get("bold")) v.bold = boolean(*t, "bold");
    if (auto* t = n.get("textColor")) v.textColor = color(*t, "textColor");
    if (auto* t = n.get("alignment")) {
        const std::string a = text(*t, "alignment");
        if (a == "left")
            v.alignment = 0;
        else if (a == "center")
            v.alignment = 1;
        else if (a == "right")
            v.alignment = 2;
        else
            refuse(*t, "\"alignment\" must be \"left\", \"center\" or \"right\"");
    }
    if (auto* t = n.get("lines")) v.lines = static_cast<int>(numberIn(*t, "lines", 0, 1000));
    if (auto* t = n.get("secure")) v.secure = boolean(*t, "secure");
    if (auto* t = n.get("cornerRadius")) v.cornerRadius = numberIn(*t, "cornerRadius", 0, 1e5);
    if (auto* t = n.get("borderWidth")) v.borderWidth = numberIn(*t, "borderWidth", 0, 1e5);
    if (auto* t = n.get("borderColor")) v.borderColor = color(*t, "borderColor");
    if (auto* t = n.get("hidden")) v.hidden = boolean(*t, "hidden");
    if (auto* t = n.get("alpha")) v.alpha = numberIn(*t, "alpha", 0, 1);
    if (auto* t = n.get("clips")) v.clips = boolean(*t, "clips");
    if (auto* t = n.get("page")) {
        if (v.type != "webView") refuse(*t, "only a webView shows a \"page\"");
        v.page = text(*t, "page");
    }
    if (auto* t = n.get("contentSize")) {
        Point s = point(*t, "contentSize");
        if (s.x < 0 || s.y < 0) refuse(*t, "\"contentSize\" must not be negative");
        v.contentSize = {s.x, s.y};
    }
    if (n.get("text") && v.type != "label" && v.type != "textField") {
        refuse(*n.get("text"), "a " + v.type + " has no text");
    }
    if (v.secure && v.type != "textField") refuse(*n.get("secure"), "only a textField is secure");
    if (auto* t = n.get("subviews")) {
        if (!t->isArray()) refuse(*t, "\"subviews\" must be a list");
        for (const auto& item : t->items)
            v.subviews.push_back(parseView(item, ids));
    }
    return v;
}

std::vector<ViewSpec> parseViews(const JsonNode* n, std::set<std::string>& ids) {
    std::vector<ViewSpec> out;
    if (!n) return out;
    if (!n->isArray()) refuse(*n, "\"views\" must be a list");
    for (const auto& item : n->items)
        out.push_back(parseView(item, ids));
    return out;
}

const std::map<std::string, std::set<std::string>> kActionKeys{
    {"tap", {"at", "on"}},
    {"doubleTap", {"at", "on"}},
    {"swipe", {"from", "to", "on", "direction", "distance", "duration"}},
    {"pinch", {"at", "on", "from", "to", "duration", "cancel"}},
    {"rotate", {"orientation"}},
    {"shake", {}},
    {"type", {"into", "text"}},
    {"push", {"screen"}},
    {"pop", {}},
    {"present", {"screen"}},
    {"dismiss", {}},
    {"tab", {"index"}},
    {"scroll", {"on", "to", "by"}},
    {"load", {"on", "page"}},
    {"answerAlert", {"button", "timeout"}},
    {"background", {}},
    {"foreground", {}},
    {"memoryWarning", {}},
    {"network", {"status"}},
    {"wait", {"seconds"}},
    {"call", {"name", "args"}},
};

int orientationValue(const JsonNode& n) {
    if (n.isNumber()) return static_cast<int>(numberIn(n, "orientation", 0, 6));
    const std::string name = text(n, "orientation");
    static const std::map<std::string, int> names{{"portrait", 1},      {"upsideDown", 2},
                                                  {"landscapeLeft", 3}, {"landscapeRight", 4},
                                                  {"faceUp", 5},        {"faceDown", 6}};
    auto it = names.find(name);
    if (it == names.end()) refuse(n, "unknown orientation \"" + name + "\"");
    return it->second;
}

ActionSpec parseAction(const JsonNode& n) {
    if (!n.isObject()) refuse(n, "an action must be an object");
    ActionSpec a;
    a.line = n.line;
    a.kind = text(need(n, "action", "an action"), "action");
    auto keys = kActionKeys.find(a.kind);
    if (keys == kActionKeys.end()) refuse(*n.get("action"), "unknown action \"" + a.kind + "\"");
    std::set<std::string> allowed = keys->second;
    allowed.insert("action");
    onlyKeys(n, allowed, "a \"" + a.kind + "\" action");

    auto target = [&](bool required) {
        const JsonNode* at = n.get("at");
        const JsonNode* on = n.get("on");
        if (at && on) refuse(n, "give either \"at\" or \"on\", not both");
        if (at) a.at = point(*at, "at");
        if (on) a.on = text(*on, "on");
        if (required && !at && !on) refuse(n, "a \"" + a.kind + "\" action needs \"at\" or \"on\"");
    };

    if (a.kind == "tap" || a.kind == "doubleTap") {
        target(true);
    } else if (a.kind == "swipe") {
        if (auto* d = n.get("duration")) a.duration = numberIn(*d, "duration", 0.01, 10);
        if (n.get("on")) {
            a.on = text(*n.get("on"), "on");
            a.direction = text(need(n, "direction", "a swipe on a view"), "direction");
            if (a.direction != "left" && a.direction != "right" && a.direction != "up" &&
                a.direction != "down") {
                refuse(*n.get("direction"), "\"direction\" must be left, right, up or down");
            }
            if (auto* d = n.get("distance")) a.distance = numberIn(*d, "distance", 1, 10000);
            if (n.get("from") || n.get("to"))
                refuse(n, "a swipe on a view takes no \"from\"/\"to\"");
        } else {
            a.from = point(need(n, "from", "a swipe"), "from");
            a.to = point(need(n, "to", "a swipe"), "to");
        }
    } else if (a.kind == "pinch") {
        target(true);
        a.fromDistance = numberIn(need(n, "from", "a pinch"), "from", 1, 10000);
        a.toDistance = numberIn(need(n, "to", "a pinch"), "to", 1, 10000);
        if (auto* d = n.get("duration"))
            a.duration = numberIn(*d, "duration", 0.01, 10);
        else
            a.duration = 0.4;
        if (auto* c = n.get("cancel")) a.cancel = boolean(*c, "cancel");
    } else if (a.kind == "rotate") {
        a.orientation = orientationValue(need(n, "orientation", "a rotation"));
    } else if (a.kind == "type") {
        a.on = text(need(n, "into", "typing"), "into");
        a.text = text(need(n, "text", "typing"), "text");
    } else if (a.kind == "push" || a.kind == "present") {
        a.screen = text(need(n, "screen", "a \"" + a.kind + "\" action"), "screen");
    } else if (a.kind == "tab") {
        a.index = static_cast<int>(numberIn(need(n, "index", "a tab switch"), "index", 0, 100));
    } else if (a.kind == "scroll") {
        a.on = text(need(n, "on", "scrolling"), "on");
        if (n.get("to") && n.get("by")) refuse(n, "give either \"to\" or \"by\", not both");
        if (auto* t = n.get("to"))
            a.offset = point(*t, "to");
        else if (auto* b = n.get("by"))
            a.by = point(*b, "by");
        else
            refuse(n, "scrolling needs \"to\" or \"by\"");
    } else if (a.kind == "load") {
        a.on = text(need(n, "on", "loading a page"), "on");
        a.page = text(need(n, "page", "loading a page"), "page");
    } else if (a.kind == "answerAlert") {
        const JsonNode& b = need(n, "button", "answering an alert");
        if (b.type != JsonNode::Type::Null)
            a.button = static_cast<int>(numberIn(b, "button", 0, 100));
        if (auto* t = n.get("timeout")) a.timeout = numberIn(*t, "timeout", 0, 60);
    } else if (a.kind == "network") {
        const std::string s = text(need(n, "status", "a network change"), "status");
        if (s == "wifi")
            a.network = NetworkStatus::WiFi;
        else if (s == "cellular")
            a.network = NetworkStatus::Cellular;
        else if (s == "none")
            a.network = NetworkStatus::None;
        else
            refuse(*n.get("status"), "\"status\" must be wifi, cellular or none");
    } else if (a.kind == "wait") {
        a.seconds = numberIn(need(n, "seconds", "waiting"), "seconds", 0, 3600);
    } else if (a.kind == "call") {
        a.call = text(need(n, "name", "a call"), "name");
        if (a.call.empty()) refuse(*n.get("name"), "\"name\" must not be empty");
        if (const JsonNode* args = n.get("args")) {
            if (!args->isArray()) refuse(*args, "\"args\" must be a list");
            for (const auto& item : args->items) {
                if (item.isString()) {
                    a.args.push_back(item.string);
                } else if (item.isNumber()) {
                    char buffer[64];
                    std::snprintf(buffer, sizeof buffer, "%.17g", item.number);
                    a.args.push_back(buffer);
                } else {
                    refuse(item, "call arguments must be texts or numbers");
                }
            }
        }
    }
    return a;
}

void collectIds(const std::vector<ViewSpec>& views, std::map<std::string, std::string>& types) {
    for (const auto& v : views) {
        if (!v.id.empty()) types[v.id] = v.type;
        collectIds(v.subviews, types);
    }
}

void checkPages(const std::vector<ViewSpec>& views, const Scenario& s) {
    for (const auto& v : views) {
        if (!v.page.empty() && !s.pages.count(v.page)) {
            throw Refusal{v.line, "unknown page \"" + v.page + "\""};
        }
        checkPages(v.subviews, s);
    }
}

Scenario parseScenario(const JsonNode& root) {
    if (!root.isObject()) refuse(root, "a scenario must be an object");
    onlyKeys(root, {"name", "profile", "screens", "pages", "root", "actions", "pause"},
             "a scenario");
    Scenario s;
    if (auto* n = root.get("name")) s.name = text(*n, "name");
    if (auto* n = root.get("pause")) s.pause = numberIn(*n, "pause", 0, 60);
    if (auto* n = root.get("profile")) {
        HeadlessProfile p;
        std::string error;
        // The profile reader works on plain values; convert the node.
        std::function<Value(const JsonNode&)> toValue = [&](const JsonNode& j) -> Value {
            switch (j.type) {
                case JsonNode::Type::Null:
                    return nullptr;
                case JsonNode::Type::Bool:
                    return j.boolean;
                case JsonNode::Type::Number:
                    return j.number;
                case JsonNode::Type::String:
                    return j.string;
                case JsonNode::Type::Array: {
                    Value a = Value::array();
                    for (const auto& i : j.items)
                        a.push_back(toValue(i));
                    return a;
                }
                case JsonNode::Type::Object: {
                    Value o = Value::object();
                    for (const auto& [k, v] : j.members)
                        o[k] = toValue(v);
                    return o;
                }
            }
            return nullptr;
        };
        if (!HeadlessProfile::fromValue(toValue(*n), p, error)) refuse(*n, "profile: " + error);
        s.profile = p;
    }

    std::set<std::string> ids;
    if (auto* n = root.get("pages")) {
        if (!n->isObject()) refuse(*n, "\"pages\" must be an object of named pages");
        for (const auto& [name, page] : n->members) {
            if (!page.isObject()) refuse(page, "page \"" + name + "\" must be an object");
            onlyKeys(page, {"url", "size", "background", "blocks"}, "a page");
            PageSpec p;
            p.name = name;
            p.line = page.line;
            p.url = text(need(page, "url", "a page"), "url");
            Point size = point(need(page, "size", "a page"), "size");
            if (size.x < 0 || size.y < 0 || size.x > 100000 || size.y > 100000) {
                refuse(*page.get("size"), "\"size\" must be between 0 and 100000");
            }
            p.size = {size.x, size.y};
            if (auto* b = page.get("background")) p.background = color(*b, "background");
            if (auto* b = page.get("blocks")) {
                if (!b->isArray()) refuse(*b, "\"blocks\" must be a list");
                for (const auto& item : b->items)
                    p.blocks.push_back(parseView(item, ids));
            }
            s.pages[name] = std::move(p);
        }
    }

    const JsonNode& screens = need(root, "screens", "a scenario");
    if (!screens.isObject() || screens.members.empty()) {
        refuse(screens, "\"screens\" must be an object of named screens");
    }
    for (const auto& [name, screen] : screens.members) {
        if (!screen.isObject()) refuse(screen, "screen \"" + name + "\" must be an object");
        onlyKeys(screen, {"controller", "title", "background", "views"}, "a screen");
        ScreenSpec sc;
        sc.name = name;
        sc.line = screen.line;
        sc.controllerClass = text(need(screen, "controller", "a screen"), "controller");
        if (sc.controllerClass.empty())
            refuse(*screen.get("controller"), "\"controller\" must not be empty");
        if (auto* t = screen.get("title")) sc.title = text(*t, "title");
        if (auto* b = screen.get("background")) sc.background = color(*b, "background");
        sc.views = parseViews(screen.get("views"), ids);
        checkPages(sc.views, s);
        s.screens[name] = std::move(sc);
    }

    const JsonNode& r = need(root, "root", "a scenario");
    if (!r.isObject() || r.members.size() != 1) {
        refuse(r, "\"root\" must be {\"screen\": ...}, {\"navigation\": ...} or {\"tabs\": [...]}");
    }
    const auto& [rootKey, rootValue] = r.members.front();
    if (rootKey == "screen" || rootKey == "navigation") {
        s.rootKind =
            rootKey == "screen" ? Scenario::RootKind::Screen : Scenario::RootKind::Navigation;
        s.rootScreens.push_back(text(rootValue, rootKey));
    } else if (rootKey == "tabs") {
        s.rootKind = Scenario::RootKind::Tabs;
        if (!rootValue.isArray() || rootValue.items.empty())
            refuse(rootValue, "\"tabs\" must be a list of screens");
        for (const auto& item : rootValue.items)
            s.rootScreens.push_back(text(item, "tabs"));
    } else {
        refuse(rootValue, "unknown root \"" + rootKey + "\"");
    }
    for (const auto& name : s.rootScreens) {
        if (!s.screens.count(name)) refuse(rootValue, "unknown screen \"" + name + "\"");
    }

    std::map<std::string, std::string> viewTypes;
    for (const auto& [name, sc] : s.screens)
        collectIds(sc.views, viewTypes);
    for (const auto& [name, p] : s.pages)
        collectIds(p.blocks, viewTypes);

    if (auto* n = root.get("actions")) {
        if (!n->isArray()) refuse(*n, "\"actions\" must be a list");
        for (const auto& item : n->items) {
            ActionSpec a = parseAction(item);
            if (!a.screen.empty() && !s.screens.count(a.screen)) {
                throw Refusal{a.line, "unknown screen \"" + a.screen + "\""};
            }
            if (!a.page.empty() && !s.pages.count(a.page)) {
                throw Refusal{a.line, "unknown page \"" + a.page + "\""};
            }
            if (!a.on.empty()) {
                auto it = viewTypes.find(a.on);
                if (it == viewTypes.end()) throw Refusal{a.line, "unknown view \"" + a.on + "\""};
                if (a.kind == "type" && it->second != "textField") {
                    throw Refusal{a.line, "\"" + a.on + "\" is not a textField"};
                }
                if ((a.kind == "load") && it->second != "webView") {
                    throw Refusal{a.line, "\"" + a.on + "\" is not a webView"};
                }
                if (a.kind == "scroll" && it->second != "webView" && it->second != "scrollView") {
                    throw Refusal{a.line, "\"" + a.on + "\" does not scroll"};
                }
            }
            if ((a.kind == "push" || a.kind == "pop") &&
                s.rootKind != Scenario::RootKind::Navigation) {
                throw Refusal{a.line, "\"" + a.kind + "\" needs a navigation root"};
            }
            if (a.kind == "tab") {
                if (s.rootKind != Scenario::RootKind::Tabs)
                    throw Refusal{a.line, "\"tab\" needs a tabs root"};
                if (static_cast<size_t>(a.index) >= s.rootScreens.size()) {
                    throw Refusal{a.line, "no tab " + std::to_string(a.index)};
                }
            }
            s.actions.push_back(std::move(a));
        }
    }
    return s;
}

}  // namespace

std::optional<Scenario> Scenario::parse(const std::string& text, std::string& error) {
    int line = 0;
    std::string reason;
    auto root = JsonNode::parse(text, line, reason);
    if (!root) {
        error = "line " + std::to_string(line) + ": " + reason;
        return std::nullopt;
    }
    try {
        return parseScenario(*root);
    } catch (const Refusal& r) {
        error = "line " + std::to_string(r.line) + ": " + r.reason;
        return std::nullopt;
    }
}

std::optional<Scenario> Scenario::load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        RVLog("Scenario: refused %s", error.c_str());
        return std::nullopt;
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string reason;
    auto s = parse(buf.str(), reason);
    if (!s) {
        error = path + ": " + reason;
        RVLog("Scenario: refused %s", error.c_str());
    }
    return s;
}

}  // namespace rivlo
