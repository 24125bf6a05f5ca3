// The article as a web page (Qt WebEngine's QML module), loaded by ArticlePage.qml.
import QtQuick
import QtWebEngine

WebEngineView {
    objectName: "articleWeb"
}
