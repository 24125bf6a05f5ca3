#pragma once

#include "rivlo/Version.h"

class QGuiApplication;
class QQuickItem;

namespace rivlo {

// Makes a Qt 6 Quick (QML) application recordable; no Qt Widgets needed. A QML host writes:
//
//   QGuiApplication app(argc, argv);
//   rivlo::installLinuxPlatform({"com.example.shop"});  // the Linux defaults first
//   rivlo::QtQuickPlatform::install(app);          // then the Qt Quick bridge
//   QQmlApplicationEngine engine("main.qml");
//   rivlo::QtQuickPlatform::occludeSensitiveItem(card);
//   rivlo::Rivlo::startApplicationWithKey("key");
//   return app.exec();
//
// A program that also has widgets installs the widget bridge (QtPlatform::install) as well,
// either order; the items of its QQuickWidgets are then masked by the rules below where the
// widgets show (without this install a QQuickWidget is painted over whole). Each shown
// QQuickWindow is a window of the recording; movie frames are taken from its own pixels
// (QQuickWindow::grabWindow) on the main thread.
//
// QML marks items itself with the module the install registers:
//
//   import Rivlo 1.0
//   Rectangle { id: card; Rivlo.occluded: true }   // as occludeSensitiveItem(card)
//
// The item is painted over while the property is true (on a Window: the whole window; on a
// Popup, Dialog, Drawer or Menu: the whole popup) and shown again when it turns false. An item
// that names Rivlo.occluded is masked from its first frame unless the value says false (also
// when the expression fails). Every QML engine can import the module once install() has run,
// engines made before it too; a document that imports it must be loaded after install().
//
// What is painted over in a frame is decided when its pixels are taken, from the items as they
// are then: every item whose input-method hints say hidden or sensitive text (a TextInput or
// TextField in Password, NoEcho or PasswordEchoOnEdit mode, a third-party item that sets the
// hints), every registered item with everything drawn inside it, and content the library cannot
// look into (ShaderEffect, ShaderEffectSource, layer effects, framebuffer objects, video), each
// at its place in the window (scale, rotation and transforms included) cut to what its clipping
// parents let show. When that cannot be worked out the frame is not sent.
//
// Every call here is made on the application's (GUI) thread; a call from another thread is
// logged and ignored.
class RIVLO_API QtQuickPlatform {
  public:
    // Installs the Qt Quick bridge (and the Qt bridge it runs on, when it is not installed
    // yet). Call once, after the Linux defaults and before the library is started; a second
    // call changes nothing (logged).
    static void install(QGuiApplication& app);

    // The item, and everything drawn inside it (its children too where they reach outside it),
    // is painted over in every movie frame while it lives, wherever it moves. Null is ignored
    // (logged). After install().
    static void occludeSensitiveItem(QQuickItem* item);

    // Content the library cannot look into (a ShaderEffect, a ShaderEffectSource, an item with
    // a layer effect, a framebuffer object, video) is painted over unless the host declares
    // that item safe to record with this call. After install().
    static void allowUnmaskedContent(QQuickItem* item);

    // On: every item taking text is painted over (TextInput, TextEdit, TextField, TextArea, any
    // item that accepts input-method text), as QtPlatform::setMaskAllTextInputs does for
    // widgets and web pages (one setting for all three). Off (the default): secure fields and
    // registered items only. After install().
    static void setMaskAllTextInputs(bool mask);
};

}  // namespace rivlo
