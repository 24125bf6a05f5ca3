// A long article about caring for solid wood, read with scrolling and taps: the web page at
// `url`, or its text version when there is no address or no Qt WebEngine.
import QtQuick
import QtQuick.Controls

Page {
    id: page
    objectName: "articlePage"
    title: "Article"
    property url url  // the article's web address; "" for the text version

    Loader {
        id: web
        anchors.fill: parent
        active: page.url.toString() !== ""
        source: "ArticleWeb.qml"
        onLoaded: item.url = page.url
    }

    Flickable {
        objectName: "article"
        visible: web.status !== Loader.Ready
        anchors.fill: parent
        contentHeight: text.height + 32
        clip: true
        Text {
            id: text
            x: 16; y: 16
            width: page.width - 32
            wrapMode: Text.WordWrap
            textFormat: Text.StyledText
            font.pixelSize: 16
            color: "#222222"
            text: {
                const sections = ["Choosing wood", "Oiling and waxing", "Joinery that lasts",
                                  "Caring for finishes"];
                let html = "<h1>Caring for solid wood</h1>";
                for (const section of sections) {
                    html += "<h2>" + section + "</h2>";
                    for (let p = 1; p <= 5; ++p)
                        html += "<p>" + section + " — paragraph " + p + ". Solid wood moves " +
                                "with the seasons; a table that is made to allow for it stays " +
                                "flat and sound for generations.</p>";
                }
                return html;
            }
        }
    }
}
