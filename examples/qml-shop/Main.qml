// The QML shop's window: its pages in a StackView, a tool bar to go back or log out.
import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: shop
    objectName: "qmlShop"
    width: 390
    height: 844
    visible: true
    title: "QML Shop"
    color: "white"

    // The article's address (set from C++ before the window shows; "" for the text version).
    property url articleUrl
    property alias stack: stack

    function logOut() { stack.pop(null) }

    header: ToolBar {
        objectName: "toolBar"
        height: 48
        ToolButton {
            objectName: "back"
            x: 4; height: parent.height; width: 60
            text: "Back"
            visible: stack.depth > 1
            onClicked: stack.pop()
        }
        Label {
            anchors.centerIn: parent
            text: stack.currentItem ? stack.currentItem.title : ""
            font.pixelSize: 18
        }
        ToolButton {
            objectName: "logOut"
            anchors.right: parent.right
            height: parent.height; width: 80
            text: "Log out"
            visible: stack.depth > 1
            onClicked: shop.logOut()
        }
    }

    StackView {
        id: stack
        objectName: "stack"
        anchors.fill: parent
        initialItem: LoginPage {
            onLoggedIn: stack.push(productList)
        }
    }

    Component {
        id: productList
        ProductListPage {
            onProductChosen: (name) => stack.push(product, { "productName": name })
        }
    }
    Component {
        id: product
        ProductPage {
            onArticleWanted: stack.push(article, { "url": shop.articleUrl })
        }
    }
    Component {
        id: article
        ArticlePage {}
    }
}
