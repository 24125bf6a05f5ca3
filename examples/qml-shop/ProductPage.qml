// One product: a picture to double-tap, a button to tap and the article about its wood.
import QtQuick
import QtQuick.Controls

Page {
    id: page
    objectName: "productPage"
    title: "Product"
    property string productName: "Walnut side table"
    property int inCart: 0
    signal articleWanted()

    Column {
        x: 20; y: 20
        width: page.width - 40
        spacing: 14
        Rectangle {
            objectName: "picture"
            width: parent.width; height: 300
            color: "#d6963c"
            scale: zoom.tapCount > 0 && zoom.zoomed ? 1.05 : 1
            TapHandler {
                id: zoom
                property bool zoomed: false
                onDoubleTapped: zoomed = !zoomed
            }
        }
        Label { text: page.productName; font.pixelSize: 20 }
        Button {
            objectName: "addToCart"
            width: parent.width; height: 44
            text: page.inCart > 0 ? "In the cart (" + page.inCart + ")" : "Add to cart"
            onClicked: page.inCart += 1
        }
        Button {
            objectName: "readArticle"
            width: parent.width; height: 44
            text: "Caring for solid wood"
            onClicked: page.articleWanted()
        }
    }
}
