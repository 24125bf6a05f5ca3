// A Qt Widgets program outside the project, built against the installed package with
// find_package(Rivlo REQUIRED COMPONENTS qt) and Rivlo::qt. It shows a green checkout page
// with a blue payment card, records it with the four lines marked "rivlo" (the card occluded),
// taps the page and the card as a user would (Qt's own synthetic input), and quits the
// program a second later; quitting sends what was recorded. Then it closes the library and
// says whether Qt WebEngine was ever loaded (it has no web view, so it must not have been).
//
//   rivlo-qt-host APPLICATION_KEY SECONDS     (SECONDS: how long to wait for the recording)

#include <rivlo/Log.h>
#include <rivlo/Platform.h>       // rivlo
#include <rivlo/Rivlo.h>          // rivlo
#include <rivlo/qt/QtPlatform.h>  // rivlo

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// The screen is named after this class.
class CheckoutPage : public QWidget {
  public:
    CheckoutPage() {
        setAutoFillBackground(true);
        setPalette(QPalette(QColor(0, 160, 0)));
        card_ = new QLabel("4111 1111 1111 1111", this);
        card_->setAutoFillBackground(true);
        card_->setPalette(QPalette(QColor(0, 0, 200)));
        card_->setAlignment(Qt::AlignCenter);
        // The middle of the page: from a quarter to three quarters across and down.
        card_->setGeometry(80, 120, 160, 240);
    }
    QLabel* card() const { return card_; }

  private:
    QLabel* card_;
};

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s APPLICATION_KEY SECONDS\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    const int seconds = std::atoi(argv[2]);
    QApplication app(argc, argv);
    // Taps count from the moment the service has verified the key (isRecording is true from
    // the start): the library says so in its log.
    static std::atomic<bool> verified{false};
    rivlo::setLogHandler([](const std::string& line) {
        if (line.find("Application key is verified") != std::string::npos) verified = true;
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    rivlo::installLinuxPlatform({"com.example.qt-host", "Qt Host", "1.0"});  // rivlo
    rivlo::QtPlatform::install(app);                                         // rivlo

    CheckoutPage page;
    page.resize(320, 480);
    rivlo::QtPlatform::occludeSensitiveWidget(page.card());  // rivlo
    page.show();
    rivlo::Rivlo::startApplicationWithKey(key);  // rivlo

    // Once the library records, a user taps the page above the card, then the card, and the
    // program quits a second later. It gives up (exit status 1) after SECONDS without a recording.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &page, [&] {
        if (!rivlo::Rivlo::isRecording() || !verified) return;
        poll.stop();
        std::printf("recording: yes\n");
        std::fflush(stdout);
        QTest::mouseClick(page.windowHandle(), Qt::LeftButton, {}, QPoint(160, 60));
        QTimer::singleShot(500, &page, [&page] {
            QTest::mouseClick(page.windowHandle(), Qt::LeftButton, {}, QPoint(160, 240));
        });
        QTimer::singleShot(1500, &app, [] { QApplication::quit(); });
    });
    poll.start(50);
    QTimer::singleShot(seconds * 1000, &app, [] {
        std::printf("recording: no\n");
        QApplication::exit(1);
    });
    const int status = app.exec();
    std::printf("close: %d\n", rivlo::Rivlo::close(std::chrono::seconds(10)));  // rivlo
    std::ifstream maps("/proc/self/maps");
    const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
    std::printf("webengine loaded: %s\n",
                mapped.find("libQt6WebEngine") != std::string::npos ? "yes" : "no");
    return status;
}
