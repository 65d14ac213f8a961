#pragma once

#include <QObject>

// Something a suspended bus wait listens to besides its deadline: the link's stop, the bus
// falling free. wake() ends every wait listening now; a wait that starts later is not woken.
class WakeSignal : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    void wake() { emit woken(); }

signals:
    void woken();
};
