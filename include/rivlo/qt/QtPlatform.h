#pragma once

#include "rivlo/Version.h"

#include <QStringList>

class QApplication;
class QWidget;

namespace rivlo {

// Makes a Qt 6 Widgets application recordable (librivlo-qt.so.1, Rivlo::qt). A Qt host writes:
//
//   QApplication app(argc, argv);
//   rivlo::Options options;                        // rivlo/Options.h
//   options.setApplicationId("com.example.shop");
//   rivlo::Rivlo::init(options);                   // the library with the Linux defaults
//   rivlo::QtPlatform::install(app);               // then the Qt bridge
//   rivlo::QtPlatform::occludeSensitiveWidget(card);
//   rivlo::Rivlo::startApplicationWithKey("key");
//   const int status = app.exec();
//   rivlo::Rivlo::close(std::chrono::seconds(5));   // takes the bridge out too
//   return status;
//
// (A host of an earlier release calls installLinuxPlatform instead of init, or nothing: install
// starts the library with the environment's settings when it does not run yet.)
//
// The library's main-thread work then runs inside Qt's event loop, woken only when there is
// work: the bridge keeps a shadow of
// the application's windows and widgets, turns touches and left-button mouse input into the
// library's touch sequence, names screens after the classes of windows, dialogs and the current
// pages of stacked and tabbed widgets, and draws movie frames from the windows' own pixels.
//
// What is painted over in a frame is decided when its pixels are taken, from the widgets as they
// are then: password fields and every editor whose input-method hints say hidden or sensitive
// text, registered widgets wherever they are, content the library cannot look into, and in web
// pages password inputs and the elements the host names. When that cannot be worked out the
// frame is not sent.
//
// Every call here is made on the application's (GUI) thread; a call from another thread is
// logged and ignored.
class RIVLO_API QtPlatform {
  public:
    // Installs the bridge on the application. Call once, after init (or the Linux defaults)
    // and before a session starts; a second call changes nothing (logged). After close, install
    // again after the next init. Qt WebEngine is loaded only by the program itself: the bridge's
    // web view module (rivlo-qt-webengine.so, next to the library) is loaded when the first web
    // view appears.
    static void install(QApplication& app);

    // The widget, and everything drawn inside it, is painted over in every movie frame and web
    // tile while it lives, wherever it moves (into another parent, a window of its own, a
    // graphics scene, over a web page). A registered widget shown as a window of its own, or
    // holding the window recorded, paints over the whole frame. Null is ignored (logged). After
    // install().
    static void occludeSensitiveWidget(QWidget* widget);

    // Content the library cannot look into (a QOpenGLWidget, a QQuickWidget, a window
    // container or native child window) is painted over unless the host declares that widget
    // safe to record with this call. After install().
    static void allowUnmaskedContent(QWidget* widget);

    // Elements of web pages matching these CSS selectors (for example
    // "input[autocomplete=cc-number]") are painted over in frames and tiles, as password
    // inputs always are. Replaces the selectors given before. A selector that is not CSS paints
    // over whole pages while it is set (logged). After install().
    static void maskWebElements(const QStringList& selectors);

    // On: every text editor is painted over (QLineEdit, QTextEdit, QPlainTextEdit, spin boxes'
    // editors, any widget taking text input, and web pages' inputs and text areas). Off (the
    // default): secure fields and registered widgets only. After install().
    static void setMaskAllTextInputs(bool mask);
};

}  // namespace rivlo
