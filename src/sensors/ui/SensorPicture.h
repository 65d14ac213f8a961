#pragma once

#include <QLabel>
#include <QPoint>

// The thermometer picture of a sensor slot on the panel: its picture stretched to the control,
// drawn transparently. Its tag (the "tag" property) is the slot index. It reports the mouse
// to whoever handles dragging and the pop-up menu; positions are relative to the picture.
class SensorPicture : public QLabel
{
    Q_OBJECT

public:
    SensorPicture(int tag, QWidget *parent);

    int tag() const;

signals:
    void mousePressed(SensorPicture *picture, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseMoved(SensorPicture *picture, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseReleased(SensorPicture *picture, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseDoubleClicked(SensorPicture *picture);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
