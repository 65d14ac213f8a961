#pragma once

#include "web/ReplyStream.h"

#include <QString>
#include <QStringList>

#include <cstdio>

// The history's points as CSV out of the store, joined to its two ways out: the web server's
// "/history.csv" and the command line's --export-csv.
namespace historycsv {

inline constexpr const char *Path = "/history.csv";
inline constexpr const char *ContentType = "text/csv; charset=utf-8";

// The handler of Path on the store file `storePath`: 400 with a one-line reason for bad
// parameters, 503 with the engine's reason when the store cannot be read, else the CSV,
// streamed. Sensor names come from the request's snapshot.
StreamHandler webHandler(QString storePath);

// --export-csv FROM TO LEVEL: the same CSV of the store `storePath` to `out`, the names from
// the configuration at `iniPath`. Returns the exit status: 0, 1 when the store cannot be read
// or the export failed, 2 for bad arguments (the reason on `err`).
int exportCsv(const QString &storePath, const QString &iniPath, const QStringList &arguments, std::FILE *out,
              std::FILE *err);

} // namespace historycsv
