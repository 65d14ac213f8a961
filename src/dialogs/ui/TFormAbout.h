#pragma once

#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QToolButton;

// The about box: the product, its version and how to reach its makers. Shown modally; Esc
// and Ok close it, it has no title-bar buttons.
class TFormAbout : public QDialog
{
    Q_OBJECT

public:
    // `versionText` is the one the main window's caption shows.
    explicit TFormAbout(QString versionText, QWidget *parent = nullptr);

    // Opens an address with the desktop's default program (the mail program, the browser);
    // the desktop's opener unless a test sets another.
    void setOpener(std::function<void(const QString &address)> opener);

    QFrame *Panel1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *ProductName = nullptr;
    QLabel *Label1 = nullptr;  // "Version"
    QLabel *Version = nullptr;
    QLabel *Label3 = nullptr;  // the e-mail address
    QLabel *Label13 = nullptr; // the web site
    QToolButton *BOk = nullptr;

    void BOkClick();
    void Label3Click();
    void Label13Click();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormShow();

    QString m_version;
    std::function<void(const QString &)> m_open;
};
