#include "view/ui/SensorPanel.h"

#include "base/ErrorGuard.h"
#include "base/Log.h"
#include "sensors/ui/SensorPicture.h"
#include "sensors/ui/SensorSlots.h"
#include "view/BackgroundPicture.h"
#include "view/PanelDrag.h"

#include <QAction>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

SensorPanel::SensorPanel(QFrame *PnItems, SensorSlots &sensorSlots, Menus menus, Log &log, DialogBoxes &boxes,
                         QObject *parent)
    : QObject(parent)
    , m_panel(PnItems)
    , m_slots(sensorSlots)
    , m_menus(menus)
    , m_log(log)
    , m_boxes(boxes)
{
    // Labels, the background and the reading marker pass a right click on to the panel, whose
    // menu opens at the release (the platform's context menu event comes at the press).
    m_panel->setContextMenuPolicy(Qt::PreventContextMenu);
    m_panel->installEventFilter(this);

    connect(&m_slots, &SensorSlots::pictureCreated, this,
            [this](int, SensorPicture *picture) { connectPicture(picture); });
    for (int i = 0; i < static_cast<int>(m_slots.DSItems.size()); ++i) {
        if (SensorPicture *picture = m_slots.picture(i))
            connectPicture(picture);
    }
}

void SensorPanel::connectPicture(SensorPicture *picture)
{
    // The picture shows its own menu on the release of the right button; nothing of the
    // press may reach the panel's menu.
    picture->setContextMenuPolicy(Qt::PreventContextMenu);
    connect(picture, &SensorPicture::mousePressed, this, &SensorPanel::ImgMouseDown);
    connect(picture, &SensorPicture::mouseMoved, this, &SensorPanel::imgMouseMove);
    connect(picture, &SensorPicture::mouseReleased, this, &SensorPanel::imgMouseUp);
    connect(picture, &SensorPicture::mouseDoubleClicked, this, &SensorPanel::ImgDblClick);
}

void SensorPanel::showPanelMenu(QPoint panelPos)
{
    if (m_menus.PopupMenu2 && m_panel)
        m_menus.PopupMenu2->popup(m_panel->mapToGlobal(panelPos));
}

bool SensorPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_panel && event->type() == QEvent::Resize && m_background)
        fitBackground();
    if (watched == m_panel && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            showPanelMenu(mouse->position().toPoint());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void SensorPanel::fitBackground()
{
    // From the panel's own corner, the origin of the pictures' positions too (the web page
    // draws them on the same picture), but shown inside the border only: the border stays.
    m_background->setGeometry(m_panel->rect());
    m_background->setMask(QRegion(m_panel->contentsRect()));
}

void SensorPanel::LoadBackground(const QString &bkFileName, const QString &ProgramDir)
{
    const QString file = background::path(bkFileName, ProgramDir);
    const background::Loaded loaded = background::load(file);
    switch (loaded.status) {
    case background::Loaded::Status::Missing:
        m_log.AddLog(QStringLiteral("Файл фона ") + file + QStringLiteral(" отсутствует!"));
        return;
    case background::Loaded::Status::Undecodable:
        // Ends the caller's handler: the settings dialog's OK stops there with the dialog open;
        // the start-up logs it and goes on.
        throw KalvexError(QStringLiteral("Файл фона ") + file + QStringLiteral(" не читается как рисунок: ")
                          + loaded.error);
    case background::Loaded::Status::Loaded:
        break;
    }
    if (!m_background) {
        m_background = new QLabel(m_panel);
        m_background->setObjectName(QStringLiteral("ImgBackground"));
        m_background->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_background->setAttribute(Qt::WA_TransparentForMouseEvents);
        fitBackground();
        m_background->lower();
        m_background->show();
    }
    m_background->setPixmap(QPixmap::fromImage(loaded.image));
}

void SensorPanel::ImgMouseDown(SensorPicture *sender, Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    if (button != Qt::RightButton) {
        m_slots.SelectedItem = -1;
        return;
    }
    const int index = sender->tag();
    m_slots.SelectedItem = index;
    const bool on = m_slots.inUse(index) && m_slots.DSItems[static_cast<std::size_t>(index)].Enable;
    if (m_menus.NImgOn)
        m_menus.NImgOn->setVisible(!on);
    if (m_menus.NImgOff)
        m_menus.NImgOff->setVisible(on);
}

void SensorPanel::imgMouseMove(SensorPicture *sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift,
                               QPoint pos)
{
    if (DragIndex != -1 || !paneldrag::startsDrag(buttons, shift))
        return;
    DragIndex = sender->tag();
    GrabX = pos.x();
    GrabY = pos.y();
}

void SensorPanel::imgMouseUp(SensorPicture *sender, Qt::MouseButton button, Qt::KeyboardModifiers, QPoint pos)
{
    if (DragIndex != -1) {
        const int index = DragIndex;
        DragIndex = -1;
        SensorPicture *dragged = m_slots.picture(index);
        if (dragged && m_panel) {
            const QPoint to = paneldrag::dropPosition(dragged->pos(), pos, QPoint(GrabX, GrabY), m_panel->size());
            m_slots.placeItem(index, to.x(), to.y());
            emit panelChanged();
        }
    }
    if (button == Qt::RightButton && m_menus.imgPopup)
        m_menus.imgPopup->popup(sender->mapToGlobal(pos));
}

void SensorPanel::ImgDblClick(SensorPicture *sender)
{
    const int index = sender->tag();
    guarded(m_boxes, [this, index] {
        if (m_slots.EditItem)
            m_slots.EditItem(index);
    });
}
