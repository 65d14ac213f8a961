#include "view/ui/TrayIndicators.h"

#include "base/Log.h"
#include "sensors/TColorConvert.h"
#include "sensors/ui/SensorSlots.h"
#include "view/TrayIconPicture.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

#include <exception>

TrayIndicators::TrayIndicators(SensorSlots &sensorSlots, Log &log, QWidget *templatePanel, QObject *parent)
    : QObject(parent)
    , m_slots(sensorSlots)
    , m_log(log)
{
    LTreyStyle = new QLabel(QStringLiteral("-99"), templatePanel);
    LTreyStyle->setObjectName(QStringLiteral("LTreyStyle"));
    LTreyStyle->setGeometry(0, 0, trayicon::SourceSize, trayicon::SourceSize);
    LTreyStyle->setFont(trayicon::defaultFont());
    if (qApp)
        connect(qApp, &QGuiApplication::focusWindowChanged, this, &TrayIndicators::noteActiveWindow);
}

void TrayIndicators::noteActiveWindow(QWindow *window)
{
    if (!window || !m_window)
        return;
    QWidget *active = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() == window)
            active = w;
    }
    // Only the program's own windows: not a tray icon's window, a menu or a tip.
    for (QWidget *w = active; w; w = w->parentWidget()) {
        if (w == m_window) {
            m_lastActive = active;
            return;
        }
    }
}

TrayIndicators::~TrayIndicators()
{
    for (auto &[id, entry] : m_icons)
        delete entry.icon;
}

QImage TrayIndicators::LabelToIcon(QLabel *Label, TColor BkColor, TColor TextColor)
{
    try {
        const std::optional<trayicon::IconPicture> picture =
            trayicon::draw(Label->text(), Label->font(), toQColor(BkColor), toQColor(TextColor));
        // A surface the platform refused is no icon, and no error of ours.
        return picture ? picture->toImage() : QImage();
    } catch (const std::exception &) {
        m_log.AddLog(QStringLiteral("Ошибка LabelToIcon ") + Label->text());
        return QImage();
    }
}

QSystemTrayIcon *TrayIndicators::addIcon(int id, const QIcon &image, const QImage &picture, const QString &tip)
{
    auto *icon = new QSystemTrayIcon(this);
    if (!image.isNull()) {
        icon->setIcon(image);
        ++m_picturesHanded;
    }
    icon->setToolTip(trayicon::cutTip(tip));
    connect(icon, &QSystemTrayIcon::activated, this,
            [this, id](QSystemTrayIcon::ActivationReason reason) { TrayMessage(id, reason); });
    Entry &entry = m_icons[id];
    entry.icon = icon;
    entry.picture = picture;
    icon->show();
    return icon;
}

void TrayIndicators::TrayCreate(int Id, const QString &Tip, TColor BkColor, TColor TextColor)
{
    LTreyStyle->clear();
    const QImage picture = LabelToIcon(LTreyStyle, BkColor, TextColor);
    // The notification area refuses an id it already shows.
    if (m_icons.count(Id))
        return;
    addIcon(Id, picture.isNull() ? QIcon() : QIcon(QPixmap::fromImage(picture)), picture, Tip);
    Entry &entry = m_icons[Id];
    entry.drawn = !picture.isNull();
    entry.background = BkColor;
    entry.foreground = TextColor;
}

void TrayIndicators::TrayModify(int Id, const QString &Text, const QString &Tip, TColor BkColor, TColor TextColor)
{
    try {
        LTreyStyle->setText(Text);
        const auto found = m_icons.find(Id);
        if (found == m_icons.end())
            return;
        Entry &entry = found->second;
        // The desktop copies every picture it is given (over D-Bus on Linux): a reading that
        // looks the same as the last one hands nothing over.
        const bool same = entry.drawn && entry.text == Text && entry.background == BkColor
                          && entry.foreground == TextColor;
        if (!same) {
            const QImage picture = LabelToIcon(LTreyStyle, BkColor, TextColor);
            if (!picture.isNull()) {
                entry.icon->setIcon(QIcon(QPixmap::fromImage(picture)));
                ++m_picturesHanded;
                entry.picture = picture;
                entry.drawn = true;
                entry.text = Text;
                entry.background = BkColor;
                entry.foreground = TextColor;
            }
        }
        const QString tip = trayicon::cutTip(Tip);
        if (entry.icon->toolTip() != tip)
            entry.icon->setToolTip(tip);
    } catch (const std::exception &) {
        m_log.AddLog(QStringLiteral("Ошибка трея ") + QString::number(Id));
    }
}

void TrayIndicators::TrayDelete(int Id)
{
    const auto found = m_icons.find(Id);
    if (found == m_icons.end())
        return;
    QSystemTrayIcon *icon = found->second.icon;
    m_icons.erase(found);
    icon->hide();
    // The icon may be the one whose click is being handled now.
    icon->deleteLater();
}

void TrayIndicators::TrayHomeCreate()
{
    if (m_icons.count(0))
        return;
    addIcon(0, QGuiApplication::windowIcon(), QImage(), QStringLiteral("KalvexTray"));
}

void TrayIndicators::TrayAllDelete()
{
    for (int i = 0; i < static_cast<int>(m_slots.DSItems.size()); ++i) {
        if (m_slots.inUse(i) && m_slots.DSItems[static_cast<std::size_t>(i)].Tray)
            TrayDelete(i + 1);
    }
}

void TrayIndicators::MyMinimize()
{
    QMetaObject::invokeMethod(this, [this] { WMSysCommand(SC_MINIMIZE); }, Qt::QueuedConnection);
}

void TrayIndicators::WMSysCommand(int code)
{
    if (code != SC_MINIMIZE || !m_window)
        return;
    if (!trayAvailable()) {
        // Hidden with nothing to click it would be out of reach: it stays on the taskbar.
        if (!m_noTrayLogged) {
            m_noTrayLogged = true;
            m_log.AddLog(QStringLiteral("Область уведомлений недоступна: окно свёрнуто на панель задач, а не "
                                        "спрятано в трей."));
        }
        if (!(m_window->windowState() & Qt::WindowMinimized))
            m_window->setWindowState(m_window->windowState() | Qt::WindowMinimized);
        return;
    }
    bool sensorIcon = false;
    for (const TDSItem &item : m_slots.DSItems) {
        if (item.Enable && item.Tray) {
            sensorIcon = true;
            break;
        }
    }
    if (sensorIcon) {
        HomeIconShown = false;
    } else {
        TrayHomeCreate();
        HomeIconShown = true;
    }
    m_window->hide();
}

void TrayIndicators::TrayMessage(int id, QSystemTrayIcon::ActivationReason reason)
{
    Q_UNUSED(id);
    if (reason != QSystemTrayIcon::Trigger)
        return;
    // An icon that Qt draws itself reports the left button's press; the window comes back
    // at its release. A notification area that reports the click reports it complete.
    if (QGuiApplication::mouseButtons() & Qt::LeftButton) {
        if (!m_releaseAwaited && qApp) {
            m_releaseAwaited = true;
            qApp->installEventFilter(this);
        }
        return;
    }
    restoreWindow();
}

bool TrayIndicators::eventFilter(QObject *watched, QEvent *event)
{
    if (m_releaseAwaited && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        m_releaseAwaited = false;
        qApp->removeEventFilter(this);
        // After the release is delivered: the icon may be deleted by the restore.
        QMetaObject::invokeMethod(this, &TrayIndicators::restoreWindow, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void TrayIndicators::restoreWindow()
{
    if (m_window) {
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
        m_window->show();
        QWidget *front = m_lastActive && m_lastActive->isVisible() ? m_lastActive.data() : m_window.data();
        if (front->windowState() & Qt::WindowMinimized)
            front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
        front->raise();
        front->activateWindow();
    }
    if (HomeIconShown) {
        TrayDelete(0);
        HomeIconShown = false;
    }
    emit restored();
}

QSystemTrayIcon *TrayIndicators::icon(int id) const
{
    const auto found = m_icons.find(id);
    return found == m_icons.end() ? nullptr : found->second.icon;
}

QList<int> TrayIndicators::ids() const
{
    QList<int> result;
    for (const auto &[id, entry] : m_icons)
        result << id;
    return result;
}

QImage TrayIndicators::picture(int id) const
{
    const auto found = m_icons.find(id);
    return found == m_icons.end() ? QImage() : found->second.picture;
}
