#include "platform/qt/QtWebMasks.h"

#include "foundation/Log.h"
#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtWebEngine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace rivlo {

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How long a page must hold still after a change before its picture is taken for tiles, how
// long a picture serves, and how often a picture that could not be checked is tried again.
constexpr int kSettleMs = 150;
constexpr double kPictureServes = 10.0;
constexpr int kRetryMs = 300;
constexpr int kAttempts = 10;
constexpr double kAnswerWait = 1.0;  // seconds a frame waits for a page's answer

// Runs in the library's own world from the moment a document is created: it measures where the
// masked elements are whenever the page may have changed (DOM changes, scrolling, resizing,
// input, animations, loads; and every quarter second), and keeps when that last changed.
// report() measures once more and answers
//   [generation, ms since the last change, viewport width, viewport height, [x, y, w, h, ...],
//    [selectors that are not CSS]]
// with rectangles in viewport CSS pixels.
const char* const kScript = R"JS(
(function () {
  'use strict';
  if (window.__rivloMasks) return;
  var PASSWORD = 'input[type="password" i]';
  var TEXT = 'input:not([type="hidden" i]):not([type="checkbox" i]):not([type="radio" i])' +
      ':not([type="button" i]):not([type="submit" i]):not([type="reset" i])' +
      ':not([type="image" i]):not([type="range" i]):not([type="color" i])' +
      ':not([type="file" i]),textarea,[contenteditable]:not([contenteditable="false" i])';
  var state = {selectors: [], all: false, key: null, gen: 0, changedAt: performance.now(),
               rects: [], bad: []};
  function query(root, selector, bad) {
    try { return root.querySelectorAll(selector); } catch (e) {
      if (bad.indexOf(selector) < 0) bad.push(selector);
      return [];
    }
  }
  function add(out, r, dx, dy, clip) {
    var x0 = r.left + dx - 2, y0 = r.top + dy - 2, x1 = r.right + dx + 2, y1 = r.bottom + dy + 2;
    if (clip) {
      x0 = Math.max(x0, clip[0]); y0 = Math.max(y0, clip[1]);
      x1 = Math.min(x1, clip[2]); y1 = Math.min(y1, clip[3]);
    }
    if (r.width <= 0 || r.height <= 0 || x1 <= x0 || y1 <= y0) return;
    out.push(Math.floor(x0), Math.floor(y0), Math.ceil(x1 - Math.floor(x0)),
             Math.ceil(y1 - Math.floor(y0)));
  }
  function scan(root, dx, dy, clip, out, bad, depth) {
    var selectors = [PASSWORD].concat(state.selectors);
    if (state.all) selectors.push(TEXT);
    for (var i = 0; i < selectors.length; i++) {
      var found = query(root, selectors[i], bad);
      for (var j = 0; j < found.length; j++) add(out, found[j].getBoundingClientRect(), dx, dy, clip);
    }
    var inputs = query(root, 'input,textarea', bad);
    for (var k = 0; k < inputs.length; k++) {
      var security = getComputedStyle(inputs[k]).webkitTextSecurity;
      if (security && security !== 'none') add(out, inputs[k].getBoundingClientRect(), dx, dy, clip);
    }
    var frames = query(root, 'iframe,frame,object,embed', bad);
    for (var f = 0; f < frames.length; f++) {
      var el = frames[f], r = el.getBoundingClientRect(), doc = null;
      try { doc = el.contentDocument; } catch (e) { doc = null; }
      if (doc && doc.documentElement && depth < 4) {
        var ox = dx + r.left + el.clientLeft, oy = dy + r.top + el.clientTop;
        var inner = [ox, oy, ox + el.clientWidth, oy + el.clientHeight];
        if (clip) inner = [Math.max(inner[0], clip[0]), Math.max(inner[1], clip[1]),
                           Math.min(inner[2], clip[2]), Math.min(inner[3], clip[3])];
        scan(doc, ox, oy, inner, out, bad, depth + 1);
      } else {
        add(out, r, dx, dy, clip);
      }
    }
    var hosts = root.querySelectorAll('*');
    for (var h = 0; h < hosts.length; h++) {
      if (hosts[h].shadowRoot && depth < 8) scan(hosts[h].shadowRoot, dx, dy, clip, out, bad, depth + 1);
    }
  }
  function measure() {
    var rects = [], bad = [];
    if (document.documentElement) scan(document, 0, 0, null, rects, bad, 0);
    var key = JSON.stringify([rects, window.innerWidth, window.innerHeight, bad]);
    if (key !== state.key) {
      state.key = key;
      state.rects = rects;
      state.bad = bad;
      state.gen++;
      state.changedAt = performance.now();
    }
  }
  var pending = false;
  function soon() {
    if (pending) return;
    pending = true;
    var run = function () { if (pending) { pending = false; measure(); } };
    requestAnimationFrame(run);
    setTimeout(run, 50);
  }
  new MutationObserver(soon).observe(document, {subtree: true, childList: true,
                                                attributes: true, characterData: true});
  ['scroll', 'resize', 'input', 'change', 'focusin', 'focusout', 'pointerover', 'pointerout',
   'pointerdown', 'pointerup', 'keydown', 'keyup', 'transitionstart', 'transitionend',
   'animationstart', 'animationend', 'load', 'DOMContentLoaded'].forEach(function (name) {
    window.addEventListener(name, soon, {capture: true, passive: true});
  });
  function animating() {
    if (document.getAnimations && document.getAnimations().length > 0) measure();
    requestAnimationFrame(animating);
  }
  requestAnimationFrame(animating);
  setInterval(measure, 250);
  measure();
  Object.defineProperty(window, '__rivloMasks', {value: {
    report: function (selectors, all) {
      if (JSON.stringify(selectors) !== JSON.stringify(state.selectors) || all !== state.all) {
        state.selectors = selectors;
        state.all = all;
      }
      measure();
      return [state.gen, performance.now() - state.changedAt, window.innerWidth,
              window.innerHeight, state.rects, state.bad];
    }
  }});
})();
)JS";

}  // namespace

// ---- Answers ---------------------------------------------------------------------------------

void QtPageAnswer::fill(bool ok, double stableFor, QSizeF viewport, std::vector<QRectF> rects) {
    std::vector<std::function<void()>> next;
    {
        std::lock_guard lock(mutex_);
        if (filled_) return;
        filled_ = true;
        ok_ = ok;
        answeredAt_ = now();
        stableFor_ = stableFor;
        viewport_ = viewport;
        rects_ = std::move(rects);
        next.swap(next_);
    }
    done_.notify_all();
    for (auto& f : next)
        f();
}

bool QtPageAnswer::waitFor(double seconds) const {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return filled_; });
}

bool QtPageAnswer::isDone() const {
    std::lock_guard lock(mutex_);
    return filled_;
}

bool QtPageAnswer::settled() const {
    std::lock_guard lock(mutex_);
    if (!filled_ || !ok_) return false;
    if (!(viewport_.width() > 0) || !(viewport_.height() > 0) || viewSize_.isEmpty()) return false;
    // The page's viewport is the view (at the page's zoom): the same shape.
    const double sx = viewSize_.width() / viewport_.width();
    const double sy = viewSize_.height() / viewport_.height();
    if (!std::isfinite(sx) || !std::isfinite(sy) || std::abs(sx - sy) > 0.02 * sx) return false;
    // Shown again lately: the picture it had when hidden may still show, which the answer
    // covers only if the page held still since a while before it was hidden.
    const bool shownAgain = hiddenAt_ >= 0 && shownAt_ > hiddenAt_;
    if (shownAgain && askedAt_ - shownAt_ < kShownLag &&
        answeredAt_ - stableFor_ > hiddenAt_ - kLag)
        return false;
    return stableFor_ >= (answeredAt_ - askedAt_) + kLag;
}

std::vector<QRectF> QtPageAnswer::rectsInView() const {
    std::lock_guard lock(mutex_);
    std::vector<QRectF> out;
    if (!(viewport_.width() > 0) || !(viewport_.height() > 0)) return out;
    const double sx = viewSize_.width() / viewport_.width();
    const double sy = viewSize_.height() / viewport_.height();
    for (const QRectF& r : rects_)
        out.emplace_back(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy);
    return out;
}

void QtPageAnswer::then(std::function<void()> next) {
    {
        std::lock_guard lock(mutex_);
        if (!filled_) {
            next_.push_back(std::move(next));
            return;
        }
    }
    next();
}

// ---- Pages -----------------------------------------------------------------------------------

QtWebMasks::QtWebMasks() = default;

QtWebMasks::~QtWebMasks() = default;

void QtWebMasks::addHost(QtWebViewHost* host) {
    if (host && std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end())
        hosts_.push_back(host);
}

void QtWebMasks::removeHost(QtWebViewHost* host) {
    hosts_.erase(std::remove(hosts_.begin(), hosts_.end(), host), hosts_.end());
    // Its views are not followed any longer.
    for (auto it = views_.begin(); it != views_.end();) {
        if (it->second.view && hostOf(it->second.view)) {
            ++it;
            continue;
        }
        delete it->second.settle;
        it = views_.erase(it);
    }
}

QtWebViewHost* QtWebMasks::hostOf(const QObject* view) const {
    for (QtWebViewHost* host : hosts_) {
        if (host->hosts(view)) return host;
    }
    return nullptr;
}

QtWebViewProxy* QtWebMasks::proxyOf(const View& contentView) const {
    for (QtWebViewHost* host : hosts_) {
        if (QtWebViewProxy* proxy = host->proxyOf(contentView)) return proxy;
    }
    return nullptr;
}

void QtWebMasks::setSelectors(const QStringList& selectors) {
    selectors_ = selectors;
    toldSelectors_.clear();
}

QString QtWebMasks::reportCall() const {
    const QString list = QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(selectors_)).toJson(QJsonDocument::Compact));
    return QString("window.__rivloMasks ? window.__rivloMasks.report(%1, %2) : null")
        .arg(list, maskAllTextInputs_ ? "true" : "false");
}

void QtWebMasks::ensureScript(QtWebEngine& engine, QObject* view) {
    QObject* page = engine.page(view);
    if (!page || scriptedPages_.count(page)) return;
    scriptedPages_[page] = true;
    QObject::connect(page, &QObject::destroyed, this,
                     [this](QObject* object) { scriptedPages_.erase(object); });
    engine.addScript(view, "rivlo-masks", QString::fromUtf8(kScript), kWorld);
}

std::shared_ptr<QtPageAnswer> QtWebMasks::ask(QObject* view) {
    QtWebViewHost* host = hostOf(view);
    QtWebEngine* engine = host ? host->engine() : nullptr;
    auto found = views_.find(view);
    const bool known = found != views_.end();
    auto answer = std::make_shared<QtPageAnswer>(now(), engine ? host->size(view) : QSize(),
                                                 known ? found->second.hiddenAt : -1,
                                                 known ? found->second.shownAt : -1);
    if (!engine || !engine->page(view)) {
        answer->fill(false, 0, {}, {});
        return answer;
    }
    ensureScript(*engine, view);
    engine->runJavaScript(view, reportCall(), kWorld, [this, answer](const QVariant& result) {
        const QVariantList list = result.toList();
        if (list.size() < 6) {
            answer->fill(false, 0, {}, {});
            return;
        }
        const QStringList bad = list[5].toStringList();
        for (const QString& selector : bad) {
            if (std::find(toldSelectors_.begin(), toldSelectors_.end(), selector) !=
                toldSelectors_.end())
                continue;
            toldSelectors_.push_back(selector);
            RVLog(
                "Rivlo: QtPlatform: maskWebElements: \"%s\" is not a CSS selector; web pages are "
                "painted over whole while it is set",
                selector.toUtf8().constData());
        }
        const QVariantList flat = list[4].toList();
        std::vector<QRectF> rects;
        bool ok = bad.isEmpty() && flat.size() % 4 == 0;
        for (int i = 0; ok && i + 3 < flat.size(); i += 4) {
            const QRectF r(flat[i].toDouble(), flat[i + 1].toDouble(), flat[i + 2].toDouble(),
                           flat[i + 3].toDouble());
            ok = std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) &&
                 std::isfinite(r.height());
            rects.push_back(r);
        }
        answer->fill(ok, list[1].toDouble() / 1000.0,
                     QSizeF(list[2].toDouble(), list[3].toDouble()), std::move(rects));
    });
    return answer;
}

void QtWebMasks::apply(const QtWebFramePart& part, QtFrameMasks& masks, bool mayWait) {
    const QRectF whole(part.visible);
    if (!part.answer) {
        masks.add(whole, part.viewToFrame, part.frameClip);
        return;
    }
    if (mayWait) part.answer->waitFor(kAnswerWait);
    if (!part.answer->settled()) {
        // Where its masked elements are in these pixels is not known: all of it is painted over.
        masks.add(whole, part.viewToFrame, part.frameClip);
        return;
    }
    for (const QRectF& r : part.answer->rectsInView())
        masks.add(r & whole, part.viewToFrame, part.frameClip);
}

// ---- Checked pictures for tiles --------------------------------------------------------------

QtWebMasks::ViewState& QtWebMasks::stateFor(QObject* view) {
    auto it = views_.find(view);
    if (it != views_.end()) return it->second;
    ViewState& state = views_[view];
    state.view = view;
    state.settle = new QTimer(this);
    state.settle->setSingleShot(true);
    state.settle->setInterval(kSettleMs);
    QPointer<QObject> weak(view);
    QObject::connect(state.settle, &QTimer::timeout, this, [this, weak] {
        if (weak) refresh(weak);
    });
    QObject::connect(view, &QObject::destroyed, this, [this](QObject* object) {
        auto found = views_.find(object);
        if (found == views_.end()) return;
        delete found->second.settle;
        views_.erase(found);
    });
    QtWebViewHost* host = hostOf(view);
    if (QtWebEngine* engine = host ? host->engine() : nullptr) {
        auto changed = [this, weak] {
            if (weak) pageChanged(weak);
        };
        engine->onPageChanges(view, this, changed, true);
    }
    return state;
}

void QtWebMasks::watch(QObject* view) {
    if (view && hostOf(view)) stateFor(view);
}

void QtWebMasks::noteVisible(QObject* object, bool visible) {
    if (!hostOf(object)) return;
    ViewState& state = stateFor(object);
    (visible ? state.shownAt : state.hiddenAt) = now();
}

void QtWebMasks::pageChanged(QObject* view) {
    ViewState& state = stateFor(view);
    state.attempts = 0;
    state.settle->start(kSettleMs);
}

QImage QtWebMasks::shown(QObject* view) {
    QtWebViewHost* host = hostOf(view);
    QtWebEngine* engine = host ? host->engine() : nullptr;
    if (!engine) return QImage();
    ViewState& state = stateFor(view);
    if (state.picture && engine->page(view)) {
        const Picture& p = *state.picture;
        const QPointF scroll = engine->scrollPosition(view);
        const bool same = std::abs(p.scroll.x() - scroll.x()) < 0.5 &&
                          std::abs(p.scroll.y() - scroll.y()) < 0.5 && p.size == host->size(view) &&
                          p.url == engine->url(view) && now() - p.takenAt < kPictureServes;
        if (same) return p.pixels;
    }
    state.attempts = 0;
    refresh(view);
    return QImage();
}

void QtWebMasks::refresh(QObject* view) {
    QtWebViewHost* host = hostOf(view);
    QtWebEngine* engine = host ? host->engine() : nullptr;
    if (!engine) return;
    ViewState& state = stateFor(view);
    const QSize size = host->size(view);
    if (!engine->page(view) || !host->isShown(view) || size.isEmpty()) return;
    if (state.refreshingSince >= 0 && now() - state.refreshingSince < 2 * kAnswerWait) return;
    // What the view shows now, taken as for a frame: masks of what is inside and over it, and
    // the answers of the pages in it still to come.
    QRect area;
    std::shared_ptr<QtFrame> frame = host->picture(view, *this, area);
    QPointer<QObject> weak(view);
    if (!frame || area.isEmpty()) {
        if (++state.attempts < kAttempts) state.settle->start(kRetryMs);
        return;
    }
    std::vector<std::shared_ptr<QtPageAnswer>> answers;
    for (QtFrame::Layer& layer : frame->layers()) {
        for (const QtWebFramePart& part : layer.web)
            answers.push_back(part.answer);
    }
    Picture picture{QImage(), engine->scrollPosition(view), size, engine->url(view), now()};
    state.refreshingSince = now();
    auto remaining = std::make_shared<size_t>(answers.size());
    auto finish = [this, weak, frame, area, answers, picture]() mutable {
        if (!weak) return;
        ViewState& s = stateFor(weak);
        s.refreshingSince = -1;
        bool settled = !frame->dropped() && !frame->outcome().coversAll();
        for (QtFrame::Layer& layer : frame->layers())
            settled = settled && !layer.masks.coversAll();
        for (const auto& answer : answers)
            settled = settled && answer->settled();
        if (!settled) {
            // Not checked: tried again a little later, a few times.
            if (++s.attempts < kAttempts) s.settle->start(kRetryMs);
            return;
        }
        QImage whole(frame->size(), QImage::Format_ARGB32_Premultiplied);
        whole.fill(Qt::black);
        frame->render(whole, false);
        picture.pixels = whole.copy(area);
        s.picture = std::move(picture);
    };
    if (answers.empty()) {
        finish();
        return;
    }
    for (const auto& answer : answers) {
        answer->then([remaining, finish]() mutable {
            if (--*remaining == 0) finish();
        });
    }
}

}  // namespace rivlo
