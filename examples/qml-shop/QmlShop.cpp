#include "QmlShop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QUrl>
#include <QVariant>

namespace shop {

QmlShop::QmlShop(const QString& articleUrl) : engine_(std::make_unique<QQmlApplicationEngine>()) {
    engine_->setInitialProperties({{"articleUrl", QUrl(articleUrl)}});
    engine_->load(QUrl(QStringLiteral("qrc:/qml-shop/Main.qml")));
    const auto roots = engine_->rootObjects();
    if (!roots.isEmpty()) window_ = qobject_cast<QQuickWindow*>(roots.front());
}

QmlShop::~QmlShop() = default;

namespace {
// Pages pushed from components are not QObject children of the window: the item tree is walked.
QQuickItem* findItem(QQuickItem* item, const QString& name) {
    if (item->objectName() == name) return item;
    for (QQuickItem* child : item->childItems()) {
        if (QQuickItem* found = findItem(child, name)) return found;
    }
    return nullptr;
}
}  // namespace

QQuickItem* QmlShop::item(const char* objectName) const {
    if (!window_) return nullptr;
    QQuickItem* root = window_->contentItem();
    while (root && root->parentItem())
        root = root->parentItem();
    return root ? findItem(root, QString::fromLatin1(objectName)) : nullptr;
}

QQuickItem* QmlShop::currentPage() const {
    QQuickItem* stack = item("stack");
    return stack ? stack->property("currentItem").value<QQuickItem*>() : nullptr;
}

bool QmlShop::busy() const {
    QQuickItem* stack = item("stack");
    return stack && stack->property("busy").toBool();
}

QString defaultArticleUrl() {
    const QString beside = QCoreApplication::applicationDirPath() + "/article.html";
    if (QFileInfo::exists(beside)) return QUrl::fromLocalFile(beside).toString();
    return QUrl::fromLocalFile(QStringLiteral(RIVLO_QML_SHOP_ARTICLE)).toString();
}

}  // namespace shop
