#pragma once

// A headless phone (key window 320 x 568 unless told otherwise) showing a web view below a 64-point
// bar, its store in a temporary sandbox, a verified session's flag and a clean timeline and
// registry. Touches go through the device's touch synthesizer and the key window's hit test, as a
// user's would. Main thread.

#include "support/DeviceSandbox.h"
#include "support/LogCapture.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/Label.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "store/RVPlistHandler.h"
#include "timeline/RVHeatTimeHandler.h"
#include "webview/RVWebView.h"
#include "webview/RVWebViewHandler.h"
#include "webview/RVWebViewHooks.h"

#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace rivlo::test {

// A web view that counts the scripts evaluated in it.
class CountingWebView : public WebView {
  public:
    using WebView::WebView;
    std::string stringByEvaluatingJavaScript(const std::string& script) override {
        ++evaluations;
        return WebView::stringByEvaluatingJavaScript(script);
    }
    int evaluations = 0;
};

// A decoded JPEG: RGB rows, top first.
struct DecodedJpeg {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    struct RGB {
        int r = 0, g = 0, b = 0;
    };
    RGB at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

inline std::optional<DecodedJpeg> decodeJpegFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return std::nullopt;
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    DecodedJpeg out;
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.rgb.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 3);
    while (info.output_scanline < info.output_height) {
        unsigned char* row =
            out.rgb.data() + static_cast<size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

class WebViewWorld {
  public:
    static constexpr double kBarHeight = 64;
    static constexpr const char* kURL = "https://shop.example.com/catalogue";

    explicit WebViewWorld(Size screen = {320, 568})
        : device_("webview", DeviceSandbox::screen(screen.width, screen.height, 2.0)) {
        UserDefaults::standard().remove(RVPlistHandler::kWebViewKey);
        app().setStatusBarOrientation(1);

        web_ = std::make_shared<CountingWebView>(
            Rect(0, kBarHeight, screen.width, screen.height - kBarHeight));
        window()->addSubview(web_);
        showPage(kURL, {screen.width, 1500});

        RVUtil::resetSetting();
        RVUtil::isInfoPostSuccess(true);  // a verified session
        RVHeatTimeHandler::resetTimer();
        RVHeatTimeHandler::reset();
        forgetTouches();
    }

    ~WebViewWorld() {
        RVUtil::isInfoPostSuccess(false);
        forgetTouches();
        UserDefaults::standard().remove(RVPlistHandler::kWebViewKey);
        UserDefaults::standard().synchronize();
        RunLoop::main().runPending();
    }

    // A page of three coloured bands (red, green, blue blocks 500 points apart) and a label.
    void showPage(const std::string& url, Size size) {
        web_->loadPage(url, size);
        auto content = web_->contentView();
        content->setBackgroundColor(Color::white());
        const Color colours[] = {Color::rgb(220, 20, 20), Color::rgb(20, 160, 20),
                                 Color::rgb(20, 20, 220), Color::rgb(200, 200, 20)};
        for (int band = 0; band * 500 < size.height && band < 4; ++band) {
            auto block = std::make_shared<View>(Rect(20, 20 + band * 500.0, 280, 200));
            block->setBackgroundColor(colours[band]);
            block->setCornerRadius(12);
            content->addSubview(block);
        }
        auto label = std::make_shared<Label>(Rect(20, 300, 280, 40));
        label->setText("Rivlo catalogue");
        content->addSubview(label);
    }

    // The registry, the screen record, the touch points and the hook's memory of the last
    // content point start afresh (the hook remembers one point for the process).
    void forgetTouches() {
        const bool verified = RVUtil::isInfoPostSuccess();
        RVUtil::isInfoPostSuccess(true);
        auto scratch = std::make_shared<WebView>(Rect(0, 0, 10, 10));
        scratch->scrollView()->setContentOffset({0, 0});
        RVWebViewHooks::noteTouch(*scratch, {-7.25, -3.5}, nullptr);
        RVUtil::isInfoPostSuccess(verified);
        RVWebViewHandler::sharedHandler()->applicationDidBecomeActive();
        RVWebViewHooks::applicationDidBecomeActive();
        auto* heat = RVHeatTimeHandler::sharedHandler();
        heat->setVcDetail(std::make_shared<RVVCDetail>());
        heat->setHeatMapPoint({0, 0});
        heat->setWebViewHeatMapPoint({0, 0});
    }

    // A real tap at a point of the web view (its own coordinates).
    void tapWeb(Point p) { platform().tap({p.x, p.y + kBarHeight}); }
    void scrollTo(Point offset) { web_->scrollView()->setContentOffset(offset); }

    static std::string key(const std::string& url = kURL, int orientation = 1) {
        return url + "__" + std::to_string(orientation);
    }
    static std::shared_ptr<RVWebView> record(const std::string& registryKey = key()) {
        auto dict = RVWebViewHandler::sharedHandler()->webViewDict();
        auto found = dict.find(registryKey);
        return found == dict.end() ? nullptr : found->second;
    }

    static std::string imageFolder() { return RVUtil::folderPath(RVWebView::kImageFolder); }
    static std::string imagePath(const std::string& name) { return imageFolder() + "/" + name; }
    static std::set<std::string> imageFiles() {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(imageFolder(), ec))
            names.insert(entry.path().filename().string());
        return names;
    }

    HeadlessPlatform& platform() { return device_.platform(); }
    HeadlessApplication& app() { return device_.app(); }
    CountingWebView& web() { return *web_; }
    const std::shared_ptr<Window>& window() const { return device_.window(); }

  private:
    DeviceSandbox device_;  // first in, last out: the web view goes before the device
    std::shared_ptr<CountingWebView> web_;
};

using LogLines = LogCapture;  // the suite's name for it

}  // namespace rivlo::test
