#pragma once

#include "rivlo/Version.h"

class QApplication;
class QWidget;

namespace rivlo {

// Makes a Qt 6 Widgets application recordable. A Qt host writes:
//
//   QApplication app(argc, argv);
//   rivlo::installLinuxPlatform({"com.example.shop"});  // the Linux defaults first
//   rivlo::QtPlatform::install(app);               // then the Qt bridge
//   rivlo::QtPlatform::occludeSensitiveWidget(card);
//   rivlo::Rivlo::startApplicationWithKey("key");
//   return app.exec();
//
// The library's main-thread work then runs inside Qt's event loop: the bridge keeps a shadow of
// the application's windows and widgets, turns touches and left-button mouse input into the
// library's touch sequence, names screens after the classes of windows, dialogs and the current
// pages of stacked and tabbed widgets, and draws movie frames from the windows' own pixels.
class RIVLO_API QtPlatform {
  public:
    // Installs the bridge on the application. Call once, on the thread that runs the
    // application, after the Linux defaults and before the library is started; a second call
    // changes nothing (logged).
    static void install(QApplication& app);

    // The widget is painted over in every movie frame while it lives, wherever it moves; it is
    // forgotten when it is destroyed. Null is ignored (logged). The application's thread, after
    // install().
    static void occludeSensitiveWidget(QWidget* widget);
};

}  // namespace rivlo
