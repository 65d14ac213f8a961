#include "monitor/MonitorResources.h"

#include <QtGlobal>

void initMonitorResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(monitor);
        return true;
    }();
    Q_UNUSED(registered);
}
