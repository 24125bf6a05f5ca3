// Log in: the user's name, a password and the member card (occluded from QML).
import QtQuick
import QtQuick.Controls
import Rivlo 1.0

Page {
    id: page
    objectName: "loginPage"
    title: "Log in"
    signal loggedIn()

    Column {
        x: 20; y: 20
        width: page.width - 40
        spacing: 14
        Label { text: "Welcome back"; font.pixelSize: 22; font.bold: true }
        TextField {
            objectName: "user"
            width: parent.width; height: 40
            placeholderText: "Name"
        }
        TextField {
            objectName: "password"
            width: parent.width; height: 40
            placeholderText: "Password"
            echoMode: TextInput.Password
            font.pixelSize: 22
            color: "#7b1fa2"  // only the password is drawn in this colour
        }
        Button {
            objectName: "logIn"
            width: parent.width; height: 44
            text: "Log in"
            onClicked: page.loggedIn()
        }
        Rectangle {
            objectName: "memberCard"
            width: parent.width; height: 160
            radius: 8
            color: "#2ead5b"  // only the card is drawn in this colour
            Rivlo.occluded: true  // painted over in every frame, wherever it moves
            Label {
                x: 16; y: 16
                text: "Member 4921 0087 1133 2002"
                color: "white"; font.pixelSize: 16
            }
        }
    }
}
