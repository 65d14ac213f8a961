#pragma once

#include "sensors/TDSItem.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>
#include <map>

class Log;
class QLabel;
class QWindow;
class SensorSlots;

// The sensors' icons in the notification area, the program's own icon there, and hiding the
// main window into it on minimising. Icons are kept by id: slot + 1 for a sensor, 0 for the
// program's own.
class TrayIndicators final : public QObject
{
    Q_OBJECT

public:
    // The system command code of minimising.
    static constexpr int SC_MINIMIZE = 0xF020;

    // `templatePanel` is the hidden panel that holds the drawing label LTreyStyle.
    TrayIndicators(SensorSlots &sensorSlots, Log &log, QWidget *templatePanel, QObject *parent = nullptr);
    ~TrayIndicators() override;

    // The window hidden on minimising and shown again by a click on an icon.
    void setMainWindow(QWidget *window) { m_window = window; }
    // Whether the desktop has a notification area; tests replace it.
    std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    // The drawing source of every sensor icon: its caption is the text, its font the font.
    QLabel *LTreyStyle = nullptr;

    // The icon picture of `Label`'s caption in TextColor on BkColor; null when it could not
    // be made (an error is logged as "Ошибка LabelToIcon " + caption).
    QImage LabelToIcon(QLabel *Label, TColor BkColor, TColor TextColor);
    // A new sensor icon: a plain square in BkColor until the first TrayModify.
    void TrayCreate(int Id, const QString &Tip, TColor BkColor, TColor TextColor);
    // The icon `Id` shows Text; a new picture goes to the notification area only when the
    // text or a colour changed, a new tip only when the tip did. An error is logged as
    // "Ошибка трея " + Id, the icon keeps its picture. An id not shown is ignored.
    void TrayModify(int Id, const QString &Text, const QString &Tip, TColor BkColor, TColor TextColor);
    void TrayDelete(int Id);
    // The program's own icon (id 0, tip "KalvexTray").
    void TrayHomeCreate();
    // Every sensor icon of a slot in use with Tray set, in slot order; not the program's own.
    void TrayAllDelete();

    // The application was minimised: the minimise command is handled once the current event
    // is done.
    void MyMinimize();
    // SC_MINIMIZE hides the main window into the notification area (adding the program's own
    // icon when no switched-on sensor has one); every other code is left alone. Without a
    // notification area the window stays minimised instead, and the log says why once.
    void WMSysCommand(int code);
    // A click on icon `id`: the left button's release brings the window back, and with it the
    // program's window that was active last.
    void TrayMessage(int id, QSystemTrayIcon::ActivationReason reason);

    // The program's own icon was added at the last minimise.
    bool HomeIconShown = false;

    // What is shown, for whoever looks (tests, the benchmark).
    QSystemTrayIcon *icon(int id) const;
    QList<int> ids() const;
    // The picture last handed to icon `id` (null when none).
    QImage picture(int id) const;
    // Pictures handed to the notification area so far: each is a copy sent over D-Bus.
    long long picturesHanded() const { return m_picturesHanded; }

signals:
    // The window was brought back by a click on an icon.
    void restored();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry
    {
        QSystemTrayIcon *icon = nullptr;
        QImage picture;
        bool drawn = false; // text and colours below are on the picture
        QString text;
        TColor background = 0;
        TColor foreground = 0;
    };

    QSystemTrayIcon *addIcon(int id, const QIcon &image, const QImage &picture, const QString &tip);
    void restoreWindow();
    // The program's window (the main window or one of its own) the user had active last.
    void noteActiveWindow(QWindow *window);

    SensorSlots &m_slots;
    Log &m_log;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_lastActive;
    // A left press on an icon was reported; the window comes back at its release.
    bool m_releaseAwaited = false;
    std::map<int, Entry> m_icons;
    long long m_picturesHanded = 0;
    bool m_noTrayLogged = false;
};
