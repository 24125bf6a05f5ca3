#pragma once

#include "rivlo/Version.h"

#include <QStringList>

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
    // Installs the bridge on the application. Call once, after the Linux defaults and before
    // the library is started; a second call changes nothing (logged).
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
