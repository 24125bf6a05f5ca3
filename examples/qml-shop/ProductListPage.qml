// The products, read with swipes; a sale banner above them.
import QtQuick
import QtQuick.Controls

Page {
    id: page
    objectName: "productListPage"
    title: "Products"
    signal productChosen(string name)

    Rectangle {
        id: banner
        objectName: "banner"
        width: page.width; height: 140
        color: "#2e6f9e"
        Label {
            x: 16; y: 16
            text: "Spring sale: walnut and oak"
            color: "white"; font.pixelSize: 20; font.bold: true
        }
    }
    ListView {
        objectName: "productList"
        anchors { top: banner.bottom; left: parent.left; right: parent.right; bottom: parent.bottom }
        clip: true
        model: 40
        delegate: ItemDelegate {
            required property int index
            width: ListView.view.width; height: 48
            text: "Product " + (index + 1) + " — " + (index + 10) + ".00"
            onClicked: page.productChosen(text)
        }
    }
}
