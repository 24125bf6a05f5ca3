#include "platform/qt/QtApplication.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "platform/AlertView.h"
#include "platform/Window.h"
#include "platform/qt/QtViewPainter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace rivlo {

namespace {

const char* stateName(ApplicationState s) {
    switch (s) {
        case ApplicationState::Active:
            return "active";
        case ApplicationState::Inactive:
            return "inactive";
        case ApplicationState::Background:
            return "background";
    }
    return "?";
}

// A small frameless window on top that shows one of the library's own windows (the status
// overlay). It takes no input and repaints a few times a second while shown, since the
// library changes its views without telling.
class LibraryWindowHost : public QWidget {
  public:
    explicit LibraryWindowHost(std::shared_ptr<Window> window)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                               Qt::WindowDoesNotAcceptFocus),
          window_(std::move(window)) {
        setProperty("rivloInternal", true);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        refresh_.setInterval(250);
        QObject::connect(&refresh_, &QTimer::timeout, this, [this] { follow(); });
        refresh_.start();
        follow();
    }

    void follow() {
        auto window = window_.lock();
        if (!window) return;
        const Rect f = window->frame();
        const QRect geometry(static_cast<int>(f.minX()), static_cast<int>(f.minY()),
                             std::max(1, static_cast<int>(f.width())),
                             std::max(1, static_cast<int>(f.height())));
        if (geometry != this->geometry()) setGeometry(geometry);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        auto window = window_.lock();
        if (!window) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const Rect b = window->bounds();
        painter.translate(-b.minX(), -b.minY());
        paintLibraryViewTree(painter, *window);
    }

  private:
    std::weak_ptr<Window> window_;
    QTimer refresh_;
};

// Widgets need a QApplication; a Qt Quick program may have a QGuiApplication only.
bool widgetsAvailable(const char* what) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) return true;
    RVLog("Rivlo: QtApplication: %s is not shown: the program has no QApplication", what);
    return false;
}

}  // namespace

QtApplication::QtApplication() = default;

QtApplication::~QtApplication() {
    for (auto& [window, widget] : libraryWindows_) {
        if (widget) widget->deleteLater();
    }
}

void QtApplication::post(const char* name) {
    NotificationCenter::defaultCenter().post(name, static_cast<const Application*>(this));
}

void QtApplication::resignActive() {
    if (state_ != ApplicationState::Active) return;
    state_ = ApplicationState::Inactive;
    post(ApplicationNotification::WillResignActive);
}

void QtApplication::enterBackground() {
    if (state_ == ApplicationState::Active) resignActive();
    if (state_ != ApplicationState::Inactive) {
        RVLog("QtApplication: cannot enter the background while %s", stateName(state_));
        return;
    }
    state_ = ApplicationState::Background;
    post(ApplicationNotification::DidEnterBackground);
}

void QtApplication::enterForeground() {
    if (state_ != ApplicationState::Background) return;
    state_ = ApplicationState::Inactive;
    post(ApplicationNotification::WillEnterForeground);
}

void QtApplication::becomeActive() {
    if (state_ == ApplicationState::Background) enterForeground();
    if (state_ != ApplicationState::Inactive) return;
    state_ = ApplicationState::Active;
    post(ApplicationNotification::DidBecomeActive);
}

void QtApplication::setStatusBarOrientation(int orientation) {
    if (orientation < 1 || orientation > 4) {
        RVLog("QtApplication: no status-bar orientation %d", orientation);
        return;
    }
    if (orientation_.exchange(orientation) == orientation) return;
    post(ApplicationNotification::DidChangeStatusBarOrientation);
}

// Background tasks.

BackgroundTaskIdentifier QtApplication::beginBackgroundTask(std::function<void()> handler) {
    std::lock_guard lock(tasksMutex_);
    const BackgroundTaskIdentifier id = nextTask_++;
    tasks_.emplace(id, std::move(handler));
    return id;
}

void QtApplication::endBackgroundTask(BackgroundTaskIdentifier identifier) {
    std::lock_guard lock(tasksMutex_);
    tasks_.erase(identifier);
}

size_t QtApplication::openBackgroundTaskCount() const {
    std::lock_guard lock(tasksMutex_);
    return tasks_.size();
}

void QtApplication::expireBackgroundTasks() {
    std::vector<std::pair<BackgroundTaskIdentifier, std::function<void()>>> open;
    {
        std::lock_guard lock(tasksMutex_);
        open.assign(tasks_.begin(), tasks_.end());
    }
    for (auto& [id, handler] : open) {
        if (handler) handler();
    }
    std::vector<BackgroundTaskIdentifier> unended;
    {
        std::lock_guard lock(tasksMutex_);
        for (auto& [id, handler] : open) {
            if (tasks_.erase(id)) unended.push_back(id);
        }
    }
    for (auto id : unended) {
        RVLog("QtApplication: background task %llu expired without being ended",
              static_cast<unsigned long long>(id));
    }
}

// Windows.

std::shared_ptr<Window> QtApplication::keyWindow() const {
    std::lock_guard lock(windowsMutex_);
    for (auto it = keyHistory_.rbegin(); it != keyHistory_.rend(); ++it) {
        auto w = it->lock();
        if (w && std::find(windows_.begin(), windows_.end(), w) != windows_.end()) return w;
    }
    return nullptr;
}

std::vector<std::shared_ptr<Window>> QtApplication::windows() const {
    std::vector<std::shared_ptr<Window>> list;
    {
        std::lock_guard lock(windowsMutex_);
        list = windows_;
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a->windowLevel() < b->windowLevel();
    });
    return list;
}

void QtApplication::windowVisibilityChanged(const std::shared_ptr<Window>& window, bool visible) {
    if (!window) return;
    std::shared_ptr<Window> released;  // dropped outside the lock
    {
        std::lock_guard lock(windowsMutex_);
        auto it = std::find(windows_.begin(), windows_.end(), window);
        if (visible) {
            if (it == windows_.end()) windows_.push_back(window);
        } else if (it != windows_.end()) {
            released = std::move(*it);
            windows_.erase(it);
        }
    }
    for (const auto& isShadow : isShadow_) {
        if (isShadow(*window)) return;
    }
    if (visible) {
        showLibraryWindow(window);
    } else {
        hideLibraryWindow(*window);
    }
}

void QtApplication::makeKeyWindow(const std::shared_ptr<Window>& window) {
    if (!window) return;
    std::lock_guard lock(windowsMutex_);
    keyHistory_.erase(std::remove_if(keyHistory_.begin(), keyHistory_.end(),
                                     [&](const std::weak_ptr<Window>& w) {
                                         auto s = w.lock();
                                         return !s || s == window;
                                     }),
                      keyHistory_.end());
    keyHistory_.push_back(window);
}

void QtApplication::showLibraryWindow(const std::shared_ptr<Window>& window) {
    if (!widgetsAvailable("the library's own window")) return;
    auto& host = libraryWindows_[window.get()];
    if (!host) host = new LibraryWindowHost(window);
    host->show();
}

void QtApplication::hideLibraryWindow(const Window& window) {
    auto it = libraryWindows_.find(&window);
    if (it == libraryWindows_.end()) return;
    if (it->second) it->second->deleteLater();
    libraryWindows_.erase(it);
}

void QtApplication::updateLibraryWindows() {
    for (auto& [window, widget] : libraryWindows_) {
        if (auto* host = dynamic_cast<LibraryWindowHost*>(widget.data())) host->follow();
    }
}

// Alerts: a message box per alert; the cancel button is index 0, the others follow.

void QtApplication::presentAlert(const std::shared_ptr<AlertView>& alert) {
    if (!alert || !widgetsAvailable("an alert")) return;
    {
        std::lock_guard lock(windowsMutex_);
        if (std::find(alerts_.begin(), alerts_.end(), alert) != alerts_.end()) return;
        alerts_.push_back(alert);
    }
    auto* box = new QMessageBox(QMessageBox::Question, QString::fromStdString(alert->title()),
                                QString::fromStdString(alert->message()));
    box->setAttribute(Qt::WA_DeleteOnClose);
    std::vector<QAbstractButton*> buttons;
    for (int i = 0; i < alert->numberOfButtons(); ++i) {
        const auto role =
            i == alert->cancelButtonIndex() ? QMessageBox::RejectRole : QMessageBox::AcceptRole;
        buttons.push_back(
            box->addButton(QString::fromStdString(alert->buttonTitleAtIndex(i)), role));
    }
    std::weak_ptr<AlertView> weak = alert;
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [weak, buttons](QAbstractButton* button) {
                         auto alert = weak.lock();
                         if (!alert) return;
                         auto it = std::find(buttons.begin(), buttons.end(), button);
                         if (it != buttons.end())
                             alert->clickButton(static_cast<int>(it - buttons.begin()));
                     });
    alertBoxes_[alert.get()] = box;
    box->open();
}

void QtApplication::alertClosed(const AlertView& alert) {
    std::shared_ptr<AlertView> released;
    {
        std::lock_guard lock(windowsMutex_);
        auto it = std::find_if(alerts_.begin(), alerts_.end(),
                               [&](const auto& a) { return a.get() == &alert; });
        if (it != alerts_.end()) {
            released = std::move(*it);
            alerts_.erase(it);
        }
    }
    auto box = alertBoxes_.find(&alert);
    if (box != alertBoxes_.end()) {
        QPointer<QMessageBox> widget = box->second;
        alertBoxes_.erase(box);
        if (widget && widget->isVisible()) widget->close();
    }
}

std::vector<std::shared_ptr<AlertView>> QtApplication::visibleAlerts() const {
    std::lock_guard lock(windowsMutex_);
    return alerts_;
}

QMessageBox* QtApplication::alertBox(const AlertView& alert) const {
    auto it = alertBoxes_.find(&alert);
    return it == alertBoxes_.end() ? nullptr : it->second.data();
}

}  // namespace rivlo
