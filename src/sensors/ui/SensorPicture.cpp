#include "sensors/ui/SensorPicture.h"

#include <QMouseEvent>

SensorPicture::SensorPicture(int tag, QWidget *parent)
    : QLabel(parent)
{
    setProperty("tag", tag);
    setObjectName(QStringLiteral("ImageCtl%1").arg(tag));
    setScaledContents(true);
    setAttribute(Qt::WA_TranslucentBackground);
}

int SensorPicture::tag() const
{
    return property("tag").toInt();
}

void SensorPicture::mousePressEvent(QMouseEvent *event)
{
    emit mousePressed(this, event->button(), event->modifiers(), event->position().toPoint());
    event->accept();
}

void SensorPicture::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved(this, event->buttons(), event->modifiers(), event->position().toPoint());
    event->accept();
}

void SensorPicture::mouseReleaseEvent(QMouseEvent *event)
{
    emit mouseReleased(this, event->button(), event->modifiers(), event->position().toPoint());
    event->accept();
}

void SensorPicture::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit mouseDoubleClicked(this);
    event->accept();
}
