#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>

// Reads a metrics page with the exposition parser of the Prometheus client library (Debian's
// python3-prometheus-client), as a scraper would. Gives one object per family: "family",
// "type", "help" and "samples" ([name, {labels}, value] each); an empty array and the parser's
// complaint in `error` when it refuses the text.
namespace exposition {

inline QJsonArray parse(const QByteArray &text, QString *error = nullptr)
{
    static const char *script = R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families
families = []
for f in text_string_to_metric_families(sys.stdin.buffer.read().decode('utf-8')):
    families.append({'family': f.name, 'type': f.type, 'help': f.documentation,
                     'samples': [[s.name, s.labels, s.value] for s in f.samples]})
print(json.dumps(families))
)";
    QProcess python;
    // Debian's interpreter, where the package puts the library (not one from a user's PATH).
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script)});
    python.write(text);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(python.readAllStandardError());
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

} // namespace exposition
