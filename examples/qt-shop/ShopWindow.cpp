#include "ShopWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace shop {

namespace {
QWidget* panel(QWidget* parent, const QColor& colour) {
    auto* w = new QWidget(parent);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
    return w;
}
}  // namespace

LoginPage::LoginPage(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    auto* title = new QLabel("Welcome back");
    title->setStyleSheet("font-size: 22px; font-weight: bold;");
    layout->addWidget(title);
    user_ = new QLineEdit;
    user_->setObjectName("user");
    user_->setPlaceholderText("Name");
    user_->setMinimumHeight(40);
    layout->addWidget(user_);
    password_ = new QLineEdit;
    password_->setObjectName("password");
    password_->setPlaceholderText("Password");
    password_->setEchoMode(QLineEdit::Password);
    password_->setMinimumHeight(40);
    layout->addWidget(password_);
    logIn_ = new QPushButton("Log in");
    logIn_->setObjectName("logIn");
    logIn_->setMinimumHeight(44);
    layout->addWidget(logIn_);
    card_ = panel(this, QColor(46, 173, 91));
    card_->setObjectName("memberCard");
    card_->setFixedHeight(160);
    auto* cardLayout = new QVBoxLayout(card_);
    auto* number = new QLabel("Member 4921 0087 1133 2002");
    number->setStyleSheet("color: white; font-size: 16px;");
    cardLayout->addWidget(number);
    layout->addWidget(card_);
    layout->addStretch(1);
}

ProductListPage::ProductListPage(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    banner_ = panel(this, QColor(46, 111, 158));
    banner_->setObjectName("banner");
    banner_->setFixedHeight(140);
    auto* bannerLayout = new QVBoxLayout(banner_);
    auto* sale = new QLabel("Spring sale: walnut and oak");
    sale->setStyleSheet("color: white; font-size: 20px; font-weight: bold;");
    bannerLayout->addWidget(sale);
    layout->addWidget(banner_);
    list_ = new QListWidget;
    list_->setObjectName("productList");
    for (int i = 1; i <= 40; ++i)
        list_->addItem(QString("Product %1 — %2.00").arg(i).arg(9 + i));
    layout->addWidget(list_);
}

ProductPage::ProductPage(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    picture_ = panel(this, QColor(214, 150, 60));
    picture_->setObjectName("picture");
    picture_->setFixedHeight(300);
    layout->addWidget(picture_);
    auto* name = new QLabel("Walnut side table");
    name->setStyleSheet("font-size: 20px;");
    layout->addWidget(name);
    addToCart_ = new QPushButton("Add to cart");
    addToCart_->setObjectName("addToCart");
    addToCart_->setMinimumHeight(44);
    layout->addWidget(addToCart_);
    layout->addStretch(1);
}

ArticlePage::ArticlePage(const QString& articleFile, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    web_ = new QWebEngineView;
    web_->setObjectName("article");
    layout->addWidget(web_);
    web_->load(QUrl::fromLocalFile(articleFile));
}

ShopWindow::ShopWindow(const QString& articleFile, QWidget* parent) : QWidget(parent) {
    setWindowTitle("Qt Shop");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    tabs_ = new QTabWidget;
    tabs_->setDocumentMode(true);
    login_ = new LoginPage;
    products_ = new ProductListPage;
    product_ = new ProductPage;
    article_ = new ArticlePage(articleFile);
    tabs_->addTab(login_, "Log in");
    tabs_->addTab(products_, "Products");
    tabs_->addTab(product_, "Product");
    tabs_->addTab(article_, "Article");
    layout->addWidget(tabs_);
    QObject::connect(login_->logIn(), &QPushButton::clicked, tabs_,
                     [this] { tabs_->setCurrentWidget(products_); });
    QObject::connect(products_->list(), &QListWidget::itemClicked, tabs_,
                     [this] { tabs_->setCurrentWidget(product_); });
}

QString defaultArticleFile() {
    const QString beside = QCoreApplication::applicationDirPath() + "/article.html";
    if (QFileInfo::exists(beside)) return beside;
    return QStringLiteral(RIVLO_QT_SHOP_SOURCE_DIR "/article.html");
}

}  // namespace shop
