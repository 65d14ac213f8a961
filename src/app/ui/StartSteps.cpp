#include "app/ui/StartSteps.h"

#include "base/KalvexError.h"
#include "base/Log.h"

#include <QtGlobal>

#include <exception>

bool startsteps::logged(Log &log, const QString &file, const std::function<void()> &run)
{
    try {
        run();
        return true;
    } catch (const KalvexError &e) {
        log.AddLog(e.message().contains(file) ? e.message() : file + QStringLiteral(": ") + e.message());
    } catch (const std::exception &e) {
        log.AddLog(file + QStringLiteral(": ") + QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void startsteps::atShutdown(const char *name, const std::function<void()> &run)
{
    try {
        run();
    } catch (const std::exception &e) {
        qWarning("Kalvex: %s failed at shutdown: %s", name, e.what());
    }
}
