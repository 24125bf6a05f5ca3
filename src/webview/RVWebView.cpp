#include "webview/RVWebView.h"

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "platform/Application.h"
#include "platform/Graphics.h"
#include "platform/Platform.h"
#include "platform/View.h"
#include "platform/Window.h"
#include "store/RVPlistHandler.h"
#include "store/RVStoreFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

namespace rivlo {

namespace {

// Largest grid a record builds; a content view beyond it is an absurd size, not a page.
constexpr double kMaxTiles = 100000;

// The leading integer of a text the way the platform reads one: spaces, an optional sign,
// digits; 0 when there are none. Numbers stored as numbers are taken as they are.
int32_t integerValue(const Value& dict, const char* key) {
    if (!dict.contains(key)) return 0;
    const Value& v = dict.at(key);
    double n = 0;
    if (v.is_number()) {
        n = v.get<double>();
    } else if (v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        size_t i = 0;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n'))
            ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 1e12) {
            n = n * 10 + (s[i++] - '0');
        }
        if (negative) n = -n;
    }
    if (!std::isfinite(n)) return 0;
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

// The key window's bounds (main thread), or none.
std::optional<Size> keyWindowSize() {
    auto application = Platform::current().application();
    auto window = application ? application->keyWindow() : nullptr;
    if (!window) return std::nullopt;
    return window->bounds().size;
}

// Writes the bytes to a new file (mode 0600), replacing one of that name. False with the
// reason in error.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        error = std::strerror(errno);
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

}  // namespace

RVWebView::RVWebView()
    : key_(RVUtil::dateForFile()),
      appDeviceID_(RVUtil::appDeviceId()),
      orientation_(RVUtil::webViewOrientaion()) {}

RVWebView::RVWebView(const std::string& webViewName) : RVWebView() {
    webViewName_ = webViewName;
}

std::shared_ptr<RVWebView> RVWebView::initWithWebViewName(const std::string& webViewName) {
    return std::make_shared<RVWebView>(webViewName);
}

std::shared_ptr<RVWebView> RVWebView::initFromSavedDictionary(const Value& saved) {
    if (!saved.is_object()) {
        RVLog("Rivlo: WebView: a saved web view record is not a dictionary; it is skipped");
        return nullptr;
    }
    auto record = std::make_shared<RVWebView>();
    record->key_ = PropertyList::text(saved, "key");
    record->webViewName_ = PropertyList::text(saved, "webViewName");
    record->totalRow_ = integerValue(saved, "totalRow");
    record->totalColumn_ = integerValue(saved, "totalColumn");
    record->elementImageWidth_ = integerValue(saved, "elementImageWidth");
    record->elementImageHeight_ = integerValue(saved, "elementImageHeight");
    record->appDeviceID_ = PropertyList::text(saved, "appDeviceID");
    std::vector<RVWebViewGrid> achieved;
    if (saved.contains("achievedGridList") && saved.at("achievedGridList").is_array()) {
        for (const auto& item : saved.at("achievedGridList")) {
            if (!item.is_object()) continue;
            RVWebViewGrid grid;
            grid.imageName = PropertyList::text(item, "imageName");
            grid.rect = rectFromString(PropertyList::text(item, "rect"));
            achieved.push_back(std::move(grid));
        }
    }
    record->achievedGridList_ = std::move(achieved);
    return record;
}

Value RVWebView::savedDictionary() const {
    std::lock_guard lock(mutex_);
    Value grids = Value::array();
    if (achievedGridList_) {
        for (const auto& grid : *achievedGridList_) {
            grids.push_back({{"imageName", grid.imageName}, {"rect", stringFromRect(grid.rect)}});
        }
    }
    return Value{{"webViewName", webViewName_},
                 {"totalRow", format("%d", totalRow_)},
                 {"totalColumn", format("%d", totalColumn_)},
                 {"elementImageWidth", format("%d", elementImageWidth_)},
                 {"elementImageHeight", format("%d", elementImageHeight_)},
                 {"key", key_},
                 {"appDeviceID", appDeviceID_},
                 {"achievedGridList", std::move(grids)}};
}

std::string RVWebView::key() const {
    std::lock_guard lock(mutex_);
    return key_;
}

std::string RVWebView::appDeviceID() const {
    std::lock_guard lock(mutex_);
    return appDeviceID_;
}

void RVWebView::setAppDeviceID(const std::string& identifier) {
    std::lock_guard lock(mutex_);
    appDeviceID_ = identifier;
}

std::string RVWebView::webViewName() const {
    std::lock_guard lock(mutex_);
    return webViewName_;
}

int32_t RVWebView::totalRow() const {
    std::lock_guard lock(mutex_);
    return totalRow_;
}

int32_t RVWebView::totalColumn() const {
    std::lock_guard lock(mutex_);
    return totalColumn_;
}

int32_t RVWebView::elementImageWidth() const {
    std::lock_guard lock(mutex_);
    return elementImageWidth_;
}

int32_t RVWebView::elementImageHeight() const {
    std::lock_guard lock(mutex_);
    return elementImageHeight_;
}

int32_t RVWebView::orientation() const {
    std::lock_guard lock(mutex_);
    return orientation_;
}

std::vector<RVWebViewGrid> RVWebView::expectedGridList() const {
    std::lock_guard lock(mutex_);
    return expectedGridList_.value_or(std::vector<RVWebViewGrid>{});
}

std::vector<RVWebViewGrid> RVWebView::achievedGridList() const {
    std::lock_guard lock(mutex_);
    return achievedGridList_.value_or(std::vector<RVWebViewGrid>{});
}

std::optional<RVWebViewGrid> RVWebView::lastAchievedGrid() const {
    std::lock_guard lock(mutex_);
    if (!achievedGridList_ || achievedGridList_->empty()) return std::nullopt;
    return achievedGridList_->back();
}

void RVWebView::removeAchievedGrid() {
    std::lock_guard lock(mutex_);
    if (achievedGridList_ && !achievedGridList_->empty()) achievedGridList_->pop_back();
}

void RVWebView::loadExpectedGrid(View* contentView) {
    const Size content = contentView ? contentView->bounds().size : Size{};
    const std::optional<Size> window = keyWindowSize();
    const int32_t portrait = orientation();
    if (!window || !(window->width > 0) || !(window->height > 0)) {
        RVLog("Rivlo: WebView: no key window to size the grid of %s", webViewName().c_str());
        return;
    }
    // Screen-sized tiles in the record's orientation. A window whose bounds follow the interface
    // is already turned; one that keeps its portrait bounds is turned here.
    const bool landscape = portrait != 1;
    const bool turned = (window->width > window->height) == landscape;
    const double screenHeight = turned ? window->height : window->width;
    const double screenWidth = turned ? window->width : window->height;
    const double rowsWanted = std::ceil(content.height / screenHeight);
    const double columnsWanted = std::ceil(content.width / screenWidth);
    if (!std::isfinite(rowsWanted) || !std::isfinite(columnsWanted) || rowsWanted < 0 ||
        columnsWanted < 0 || rowsWanted * columnsWanted > kMaxTiles) {
        RVLog("Rivlo: WebView: content of %gx%g points is not gridded", content.width,
              content.height);
        return;
    }
    // No content (no hit view, or an empty page): nothing to divide.
    if (rowsWanted < 1 || columnsWanted < 1) return;
    const auto rows = static_cast<int32_t>(rowsWanted);
    const auto columns = static_cast<int32_t>(columnsWanted);

    std::lock_guard lock(mutex_);
    if (totalRow_ >= rows && totalColumn_ >= columns) return;
    totalColumn_ = columns;
    totalRow_ = rows;
    elementImageHeight_ = static_cast<int32_t>(std::ceil(content.height / totalRow_));
    elementImageWidth_ = static_cast<int32_t>(std::ceil(content.width / totalColumn_));
    achievedGridList_.emplace();
    expectedGridList_.emplace();
    expectedGridList_->reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns));
    for (int32_t r = 0; r < totalRow_; ++r) {
        for (int32_t c = 0; c < totalColumn_; ++c) {
            RVWebViewGrid grid;
            grid.rect = Rect(static_cast<double>(elementImageWidth_) * c,
                             static_cast<double>(elementImageHeight_) * r, elementImageWidth_,
                             elementImageHeight_);
            expectedGridList_->push_back(std::move(grid));
        }
    }
    ++gridGeneration_;
}

bool RVWebView::screenshotHandler(Point contentPoint, View* view) {
    Rect tileRect;
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (!expectedGridList_) return false;
        bool found = false;
        for (const auto& grid : *expectedGridList_) {
            if (grid.rect.contains(contentPoint)) {
                tileRect = grid.rect;
                found = true;
                break;
            }
        }
        if (!found) return false;
        generation = gridGeneration_;
    }
    if (!view) return false;

    // Rendering, encoding and writing run unlocked: the stopping thread may save meanwhile.
    const std::string folder = RVUtil::folderPath(kImageFolder);
    const std::string imageName =
        RVUtil::dateForFile(kImageFolder, "", ".jpeg") + std::string(".jpeg");
    const std::string path = folder + "/" + imageName;
    const std::optional<Image> image = screenImage(*view, tileRect);
    std::vector<uint8_t> jpeg;
    if (image) jpeg = image->jpegData(kJpegQuality);
    std::string error;
    if (jpeg.empty()) {
        error = "the tile could not be rendered";
    } else if (!RVStoreFiles::createDirectory(folder)) {
        error = "the folder could not be created";
    } else {
        writeFile(path, jpeg, error);
    }
    if (!error.empty()) {
        RVLog("Rivlo: WebViewHandler: Error saving web view image: %s (file: %s)", error.c_str(),
              path.c_str());
        return false;
    }

    bool moved = false;
    {
        std::lock_guard lock(mutex_);
        if (generation == gridGeneration_ && expectedGridList_ && achievedGridList_) {
            for (auto it = expectedGridList_->begin(); it != expectedGridList_->end(); ++it) {
                if (it->rect == tileRect && it->imageName.empty()) {
                    RVWebViewGrid grid = *it;
                    grid.imageName = imageName;
                    expectedGridList_->erase(it);
                    achievedGridList_->push_back(std::move(grid));
                    moved = true;
                    break;
                }
            }
        }
    }
    if (!moved) RVStoreFiles::removeItem(path);  // the grid changed under the capture
    return moved;
}

std::optional<Image> RVWebView::screenImage(View& view, const Rect& bounds) {
    auto graphics = Platform::current().graphics();
    if (!graphics) return std::nullopt;
    if (!std::isfinite(bounds.minX()) || !std::isfinite(bounds.minY()) ||
        !std::isfinite(bounds.width()) || !std::isfinite(bounds.height())) {
        return std::nullopt;
    }
    // The pixels a whole-view render at scale 1 would have, limited to the tile as a crop of
    // it would be.
    const Size size = view.bounds().size;
    const Rect whole(0, 0, std::ceil(size.width), std::ceil(size.height));
    const Rect area = bounds.integral().intersection(whole);
    if (area.isEmpty()) return std::nullopt;

    // Tiles of a page are all one size: the bitmap is kept for the next capture instead of
    // allocating (and faulting in) a fresh one inside every touch. One per thread, since views
    // are drawn on the main thread only.
    struct CachedContext {
        std::weak_ptr<Graphics> graphics;
        Size size;
        std::unique_ptr<GraphicsContext> context;
    };
    thread_local CachedContext cached;
    if (!cached.context || cached.graphics.lock() != graphics || !(cached.size == area.size)) {
        cached.context.reset();
        cached.context = graphics->makeBitmapContext(area.size, true, 1.0);
        cached.graphics = graphics;
        cached.size = area.size;
        if (!cached.context) return std::nullopt;
    }
    GraphicsContext& context = *cached.context;
    context.saveGState();
    // A fresh opaque bitmap is black all over.
    context.setFillColor(Color::black());
    context.fillRect(Rect(0, 0, area.width(), area.height()));
    context.setInterpolationQuality(InterpolationQuality::None);
    context.translate(-area.minX(), -area.minY());
    context.renderLayer(view);
    context.restoreGState();
    return context.makeImage();
}

std::optional<Image> RVWebView::screenImageByCroppingWholeView(View& view, const Rect& bounds) {
    auto graphics = Platform::current().graphics();
    if (!graphics) return std::nullopt;
    auto context = graphics->makeBitmapContext(view.bounds().size, true, 1.0);
    if (!context) return std::nullopt;
    context->setInterpolationQuality(InterpolationQuality::None);
    context->saveGState();
    context->renderLayer(view);
    context->restoreGState();
    return RVUtil::cropImage(context->makeImage(), bounds);
}

std::string RVWebView::description() const {
    std::lock_guard lock(mutex_);
    const long achieved = achievedGridList_ ? static_cast<long>(achievedGridList_->size()) : 0;
    const long expected = expectedGridList_ ? static_cast<long>(expectedGridList_->size()) : 0;
    return format(
        "Key:%s,Row:%d, Column:%d, Image Width:%d, Image Height: %d, Web View Name:%s, Achieved "
        "GridList:%ld, Expected GridList: %ld",
        key_.c_str(), totalRow_, totalColumn_, elementImageWidth_, elementImageHeight_,
        webViewName_.c_str(), achieved, expected);
}

}  // namespace rivlo
