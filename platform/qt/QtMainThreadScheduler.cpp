#include "platform/qt/QtMainThreadScheduler.h"

#include "foundation/MainThreadScheduler.h"
#include "foundation/RunLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <climits>
#include <cmath>
#include <mutex>

namespace rivlo {

// The seam the run loop holds. notify() may come from any thread, also while the scheduler is
// being stopped: the receiver is read and used under the seam's lock, so it is never posted to
// once stop() has returned. The one call made under that lock is Qt's posting of an event,
// which calls nothing of the library.
class QtMainThreadScheduler::Seam final : public MainThreadScheduler {
  public:
    explicit Seam(QtMainThreadScheduler* receiver)
        : receiver_(receiver), guiThread_(receiver->thread()) {}

    void notify() override {
        std::lock_guard lock(mutex_);
        if (!receiver_) return;
        QtMainThreadScheduler* receiver = receiver_;
        QMetaObject::invokeMethod(
            receiver, [receiver] { receiver->perform(); }, Qt::QueuedConnection);
    }

    bool isOnMainThread() const override { return QThread::currentThread() == guiThread_; }

    void detach() {
        std::lock_guard lock(mutex_);
        receiver_ = nullptr;
    }

  private:
    std::mutex mutex_;
    QtMainThreadScheduler* receiver_;  // guarded by mutex_
    QThread* const guiThread_;
};

QtMainThreadScheduler::QtMainThreadScheduler() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { perform(); });
}

QtMainThreadScheduler::~QtMainThreadScheduler() {
    stop();
}

void QtMainThreadScheduler::start() {
    if (seam_) return;
    seam_ = std::make_shared<Seam>(this);
    RunLoop::main().setMainThread();
    RunLoop::main().setScheduler(seam_);
}

void QtMainThreadScheduler::stop() {
    if (!seam_) return;
    seam_->detach();
    if (RunLoop::main().scheduler() == seam_) RunLoop::main().setScheduler(nullptr);
    seam_.reset();
    timer_.stop();
}

void QtMainThreadScheduler::perform() {
    if (!seam_) return;  // an invocation queued before stop()
    performs_.fetch_add(1);
    const auto next = RunLoop::main().perform();
    if (!next) {
        timer_.stop();
        return;
    }
    const double ms = std::ceil(next->count() * 1000.0);
    timer_.start(ms >= INT_MAX ? INT_MAX : static_cast<int>(ms));
}

}  // namespace rivlo
