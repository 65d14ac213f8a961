#pragma once

#include <QString>

#include <functional>

class Log;

// How a step of the start-up and shutdown sequences fails without holding them up.
namespace startsteps {

// Runs a step that works on `file`: a configuration or store that fails (a full disk, say) is
// logged with its file and the start goes on, window or not; a box would hold the start and
// polling until someone clicked it, before the window is even shown. False when it failed.
bool logged(Log &log, const QString &file, const std::function<void()> &run);

// Runs a shutdown step: no box may stop a shutdown (a SIGTERM has nobody to answer it), so a
// failure goes to standard error under the step's name.
void atShutdown(const char *name, const std::function<void()> &run);

} // namespace startsteps
