#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>

namespace rivlo {

// The library's main-thread work in Qt's event loop: a queued invocation on the GUI thread when
// work arrives, and one single-shot timer for the next timed work. Nothing else wakes the GUI
// thread: no work, no wake-up. QtCore only, so that any Qt bridge (Widgets, Quick) uses it as
// it is.
//
// GUI thread only, unless noted.
class QtMainThreadScheduler final : public QObject {
  public:
    QtMainThreadScheduler();
    // Hands the run loop back (stop()) if it still has it.
    ~QtMainThreadScheduler() override;

    // Hands the library's main run loop to Qt's event loop; the GUI thread becomes the main
    // thread.
    void start();
    // Hands the run loop back to whoever turns it themselves.
    void stop();
    // Runs what is due and arms the timer for the next timed work.
    void perform();

    // How many times the work was performed (tests, benchmarks). Any thread.
    uint64_t performs() const { return performs_.load(); }

  private:
    class Seam;
    std::shared_ptr<Seam> seam_;
    QTimer timer_;
    std::atomic<uint64_t> performs_{0};
};

}  // namespace rivlo
