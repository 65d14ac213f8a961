#pragma once

#include <QFrame>
#include <QLabel>
#include <QObject>
#include <QPoint>
#include <QPointer>

class DialogBoxes;
class Log;
class QAction;
class QMenu;
class SensorPicture;
class SensorSlots;

// The sensor panel PnItems as the user touches it: the background picture, the drag of a
// sensor picture, the picking of a sensor for the picture menu, the two pop-up menus and the
// double click that opens a sensor's editor.
class SensorPanel final : public QObject
{
    Q_OBJECT

public:
    // The pop-up menus of the panel: imgPopup with its on and off items for a picture,
    // PopupMenu2 for every other place of the panel (background, labels, the reading marker).
    struct Menus
    {
        QMenu *imgPopup = nullptr;
        QAction *NImgOn = nullptr;
        QAction *NImgOff = nullptr;
        QMenu *PopupMenu2 = nullptr;
    };

    // Handles every picture `sensorSlots` has or creates on `PnItems`; `boxes` shows an error
    // raised by the editor the double click opens.
    SensorPanel(QFrame *PnItems, SensorSlots &sensorSlots, Menus menus, Log &log, DialogBoxes &boxes,
                QObject *parent = nullptr);

    // Shows the picture named by `bkFileName` (relative to `ProgramDir` without a folder
    // separator) at its natural size from the panel's top-left corner, behind everything. A
    // missing file or a folder is logged ("Файл фона ... отсутствует!"); a file that does not
    // decode raises KalvexError with the reason. Either way the panel keeps what it showed.
    void LoadBackground(const QString &bkFileName, const QString &ProgramDir);

    // Mouse handlers of every sensor picture; positions are relative to the picture.
    void ImgMouseDown(SensorPicture *sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void imgMouseMove(SensorPicture *sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, QPoint pos);
    void imgMouseUp(SensorPicture *sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint pos);
    void ImgDblClick(SensorPicture *sender);

    // The slot being dragged (-1: none) and where in its picture the drag began.
    int DragIndex = -1;
    int GrabX = 0;
    int GrabY = 0;

    // The background image, null until a picture loaded.
    QLabel *backgroundImage() const { return m_background; }

signals:
    // A picture was dropped at a new place: whatever copies the panel's layout (the web
    // page's snapshot) takes it again.
    void panelChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectPicture(SensorPicture *picture);
    void showPanelMenu(QPoint panelPos);
    void fitBackground();

    QPointer<QFrame> m_panel;
    SensorSlots &m_slots;
    Menus m_menus;
    Log &m_log;
    DialogBoxes &m_boxes;
    QPointer<QLabel> m_background;
};
