#pragma once

#include "platform/qt/QtWebViewHost.h"

#include <QImage>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QStringList>
#include <QUrl>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

class QTimer;

namespace rivlo {

class QtFrameMasks;

// One answer of a page to "where are your masked elements now": filled once on the main
// thread, read on any thread (a frame's thread waits for it).
class QtPageAnswer {
  public:
    // `hiddenAt`, `shownAt`: when the web view was last hidden and last became visible again
    // (negative when never).
    QtPageAnswer(double askedAt, QSize viewSize, double hiddenAt = -1, double shownAt = -1)
        : askedAt_(askedAt), viewSize_(viewSize), hiddenAt_(hiddenAt), shownAt_(shownAt) {}

    // Main thread: the page's answer (ok false: none, or one that cannot be used).
    void fill(bool ok, double stableFor, QSizeF viewport, std::vector<QRectF> rects);
    // Waits at most `seconds` for the answer; true once it is there. Never call it on the main
    // thread: the answer comes there.
    bool waitFor(double seconds) const;
    bool isDone() const;
    // Whether the masked elements were where the answer says from a while before it was asked
    // (the pixels taken then may show the page as it was up to that while before) until it
    // was answered: only then do the answer's rectangles cover those pixels.
    bool settled() const;
    // The answer's rectangles in the web view's points (only when settled()).
    std::vector<QRectF> rectsInView() const;
    // Called once on the main thread when the answer is filled (or at once if it is).
    void then(std::function<void()> next);

    // How long before it was asked a page must have held still for its answer to hold.
    static constexpr double kLag = 0.3;
    // A web view shown again first shows the picture it had when it was hidden, until its page
    // draws afresh: for this long after it shows again, an answer holds only if the page held
    // still since it was hidden.
    static constexpr double kShownLag = 1.0;

  private:
    const double askedAt_;
    const QSize viewSize_;
    const double hiddenAt_;
    const double shownAt_;
    mutable std::mutex mutex_;
    mutable std::condition_variable done_;
    bool filled_ = false;
    bool ok_ = false;
    double answeredAt_ = 0;
    double stableFor_ = 0;
    QSizeF viewport_;
    std::vector<QRectF> rects_;
    std::vector<std::function<void()>> next_;
};

// A web page's part of a frame: where the web view landed and the answer its page gives.
// Plain data, read on the frame's thread.
struct QtWebFramePart {
    QTransform viewToFrame;
    QRectF frameClip;
    QRect visible;  // of the view, in its points
    std::shared_ptr<QtPageAnswer> answer;
};

// What is painted over inside web pages, of web views of any kind (QWebEngineView widgets, Qt
// Quick WebEngineView items: each kind reached through its host, QtWebViewHost, and its
// module, QtWebEngine; without its module every page is painted over whole and no tile is
// captured). A script in a world of the
// library's own reports, for the page's current state, the rectangles of its password inputs, of
// the elements matching the host's CSS selectors (maskWebElements), of every text input when all
// are masked, and of the frames it cannot look into (other origins); it keeps count of when these
// last changed. A frame asks each page it shows right after taking its pixels and, on its own
// thread, waits for the answer: the page's masks are used only when they held still from shortly
// before the pixels were taken until the answer, else the whole web view is painted over. Tiles are
// cut from a checked picture of the web view (what shows there, taken by its host as a frame is,
// masks painted over), taken after the page settles; a tile asked for before there is one is not
// captured then (a later touch captures it). Main thread only, unless a method says otherwise.
class QtWebMasks : public QObject {
  public:
    QtWebMasks();
    ~QtWebMasks() override;

    // Web views of the host's kind are reached through it from now on (until removed).
    void addHost(QtWebViewHost* host);
    void removeHost(QtWebViewHost* host);
    // The host of a web view, or null when it is none of theirs.
    QtWebViewHost* hostOf(const QObject* view) const;
    // The proxy, of any host's, whose content view this is (tiles are drawn from it), or null.
    QtWebViewProxy* proxyOf(const View& contentView) const;

    void setSelectors(const QStringList& selectors);
    void setMaskAllTextInputs(bool mask) { maskAllTextInputs_ = mask; }

    // Follows the page of this web view from now on (its checked picture is renewed after its
    // page changes).
    void watch(QObject* view);
    // The object was shown or hidden (itself or with a parent): for a web view, when its page's
    // answers hold depends on it (QtPageAnswer::kShownLag).
    void noteVisible(QObject* object, bool visible);
    // Asks the view's page where its masked elements are now.
    std::shared_ptr<QtPageAnswer> ask(QObject* view);
    // Any thread: paints the page's masks of `part` into `masks`, or the whole visible web view
    // when its answer does not hold (waits for the answer first, except on the main thread).
    static void apply(const QtWebFramePart& part, QtFrameMasks& masks, bool mayWait);

    // The checked picture of what the web view shows now (view points, masks painted over), or
    // a null image when there is none for its present scroll position and size (one is then
    // taken as soon as the page has settled).
    QImage shown(QObject* view);

    // The world the script runs in, apart from the page's own scripts and the host's.
    static constexpr unsigned kWorld = 77;

  private:
    struct Picture {
        QImage pixels;
        QPointF scroll;
        QSize size;
        QUrl url;
        double takenAt = 0;
    };
    struct ViewState {
        QPointer<QObject> view;
        std::optional<Picture> picture;
        double refreshingSince = -1;
        double hiddenAt = -1;
        double shownAt = -1;
        int attempts = 0;
        QTimer* settle = nullptr;
    };
    ViewState& stateFor(QObject* view);
    void ensureScript(QtWebEngine& engine, QObject* view);
    void pageChanged(QObject* view);
    void refresh(QObject* view);
    QString reportCall() const;

    std::vector<QtWebViewHost*> hosts_;
    QStringList selectors_;
    bool maskAllTextInputs_ = false;
    std::unordered_map<const QObject*, ViewState> views_;
    std::unordered_map<const QObject*, bool> scriptedPages_;
    std::vector<QString> toldSelectors_;
};

}  // namespace rivlo
