#pragma once

// The Qt shop: a small Qt Widgets application with the screens a session recording cares about.
// Its pages are classes of their own, so the recorded screens are named after them.

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QWebEngineView;

namespace shop {

// Log in: the user's name, a password and the member card (the host occludes it).
class LoginPage : public QWidget {
  public:
    explicit LoginPage(QWidget* parent = nullptr);
    QLineEdit* user() const { return user_; }
    QLineEdit* password() const { return password_; }
    QWidget* memberCard() const { return card_; }
    QPushButton* logIn() const { return logIn_; }

  private:
    QLineEdit* user_;
    QLineEdit* password_;
    QWidget* card_;
    QPushButton* logIn_;
};

// The products, read with swipes; a sale banner above them, zoomed with a pinch.
class ProductListPage : public QWidget {
  public:
    explicit ProductListPage(QWidget* parent = nullptr);
    QWidget* banner() const { return banner_; }
    QListWidget* list() const { return list_; }

  private:
    QWidget* banner_;
    QListWidget* list_;
};

// One product: a picture to double-tap and a button to tap.
class ProductPage : public QWidget {
  public:
    explicit ProductPage(QWidget* parent = nullptr);
    QWidget* picture() const { return picture_; }
    QPushButton* addToCart() const { return addToCart_; }

  private:
    QWidget* picture_;
    QPushButton* addToCart_;
};

// A long article in a web view, from a local HTML file.
class ArticlePage : public QWidget {
  public:
    ArticlePage(const QString& articleFile, QWidget* parent = nullptr);
    QWebEngineView* web() const { return web_; }

  private:
    QWebEngineView* web_;
};

// The main window: one tab per page.
class ShopWindow : public QWidget {
  public:
    explicit ShopWindow(const QString& articleFile, QWidget* parent = nullptr);
    QTabWidget* tabs() const { return tabs_; }
    LoginPage* login() const { return login_; }
    ProductListPage* products() const { return products_; }
    ProductPage* product() const { return product_; }
    ArticlePage* article() const { return article_; }

  private:
    QTabWidget* tabs_;
    LoginPage* login_;
    ProductListPage* products_;
    ProductPage* product_;
    ArticlePage* article_;
};

// The article file next to the program, or in the source folder (builds run from anywhere).
QString defaultArticleFile();

}  // namespace shop
