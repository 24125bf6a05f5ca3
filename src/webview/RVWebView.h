#pragma once

#include "foundation/Value.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "webview/RVWebViewGrid.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

class View;

// The capture record of one web page in one orientation. The page's content is divided into a
// grid of screen-sized tiles (the expected tiles); the first touch inside an expected tile
// renders that tile into a JPEG file in "/RivloWebViewImages" and moves it to the achieved
// tiles. Saved records (the achieved tiles only) wait in the pending-upload store until their
// tiles are uploaded.
//
// Threads: the grid and the captures are main-thread work (touch handling); the stopping thread
// saves the record and the upload pass reads and trims the achieved tiles. Every field is
// guarded by the record's mutex, and no lock is held while rendering, writing or logging.
class RVWebView {
  public:
    static constexpr const char* kImageFolder = "/RivloWebViewImages";
    static constexpr double kJpegQuality = 0.5;

    // A record with no grid: key from a fresh file stamp, the current application device
    // identifier and the web view orientation digit of the interface now. Any thread.
    RVWebView();
    explicit RVWebView(const std::string& webViewName);
    static std::shared_ptr<RVWebView> initWithWebViewName(const std::string& webViewName);
    // Rebuilds a saved record: "key", "webViewName", "appDeviceID", the four grid numbers
    // (integer value of their text) and the achieved tiles ("imageName", "rect" in the
    // platform's text form). Orientation comes from the interface now; expected tiles are not
    // saved. Null (with a log line) for a value that is not a dictionary.
    static std::shared_ptr<RVWebView> initFromSavedDictionary(const Value& saved);
    // The dictionary the store keeps (see initFromSavedDictionary).
    Value savedDictionary() const;

    std::string key() const;
    std::string appDeviceID() const;
    void setAppDeviceID(const std::string& identifier);
    std::string webViewName() const;
    int32_t totalRow() const;
    int32_t totalColumn() const;
    int32_t elementImageWidth() const;
    int32_t elementImageHeight() const;
    int32_t orientation() const;
    std::vector<RVWebViewGrid> expectedGridList() const;
    std::vector<RVWebViewGrid> achievedGridList() const;
    // The last captured tile, or none.
    std::optional<RVWebViewGrid> lastAchievedGrid() const;

    // Computes the grid for the content view (screen-sized tiles in the record's orientation,
    // from the key window's bounds) unless the grid already covers it. A grown page gets a new
    // grid and loses its captured tiles (their files stay until the store cleans the folder);
    // a page that shrank keeps its grid. A null view means no content: nothing changes. Main
    // thread.
    void loadExpectedGrid(View* contentView);

    // Captures the first expected tile containing the content point, if any: renders it, writes
    // it as "<stamp>.jpeg" at quality 0.5 into "/RivloWebViewImages" and moves it to the
    // achieved tiles. A tile whose image could not be made or written is logged and stays
    // expected, so a later touch inside it tries again. True when a tile was captured. Main
    // thread.
    bool screenshotHandler(Point contentPoint, View* view);

    // The pixels of that rectangle of the view (at scale 1, opaque, no interpolation). Only the
    // rectangle is rendered: the same size and pixels as rendering the whole view and cropping
    // (screenImageByCroppingWholeView), except that the anti-aliased coverage of a curved edge
    // may round one level apart. Main thread.
    static std::optional<Image> screenImage(View& view, const Rect& bounds);
    // Renders the whole view and crops the rectangle out of it: the reference the tile
    // rendering must match, and the cost it avoids. Main thread.
    static std::optional<Image> screenImageByCroppingWholeView(View& view, const Rect& bounds);

    // Drops the last achieved tile (the upload pass, after the tile is done with).
    void removeAchievedGrid();

    // "Key:%@,Row:%d, Column:%d, Image Width:%d, Image Height: %d, Web View Name:%@, Achieved
    // GridList:%ld, Expected GridList: %ld"
    std::string description() const;

  private:
    mutable std::mutex mutex_;
    std::string key_;
    std::string appDeviceID_;
    std::string webViewName_;
    int32_t totalRow_ = 0;
    int32_t totalColumn_ = 0;
    int32_t elementImageWidth_ = 0;
    int32_t elementImageHeight_ = 0;
    int32_t orientation_ = 1;
    // Absent until the first grid is computed (or, for achieved tiles, the record restored).
    std::optional<std::vector<RVWebViewGrid>> expectedGridList_;
    std::optional<std::vector<RVWebViewGrid>> achievedGridList_;
    // Bumped whenever the grid is replaced, so a capture never lands in a newer grid.
    uint64_t gridGeneration_ = 0;
};

}  // namespace rivlo
