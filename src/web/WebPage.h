#pragma once

#include "base/ProjectAddress.h"
#include "web/WebSnapshot.h"

#include <QByteArray>
#include <QString>

// One request as the handler sees it: the method (it makes no difference) and the path with
// the query string cut off and percent escapes decoded.
struct WebRequest
{
    QByteArray method;
    QByteArray path;
    // When it arrived, in milliseconds since the epoch (what reading ages count up to).
    qint64 nowMs = 0;
};

// What goes back. A reply that names a file sends that file's bytes as the body (a file that
// cannot be read gives an empty body); otherwise `body`.
struct WebReply
{
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("text/html");
    QByteArray body;
    QString file;

    bool operator==(const WebReply &) const = default;
};

namespace web {

// The request path as the handler compares it: ASCII letters lower-cased, one leading "/" gone.
QByteArray dispatchPath(const QByteArray &path);

// The reply to one request, from the snapshot alone: "/metrics" for monitoring systems, else
// the background file, an "sn=" query, the thermometer picture or the page. Reads no file and
// touches nothing shared.
WebReply IdHTTPServer1CommandGet(const WebRequest &request, const WebSnapshot &state);

// The picture block of the page (background and one thermometer per switched-on sensor);
// empty for Mode "noimg".
QByteArray GetHTMLImgs(const WebSnapshot &state, const QByteArray &Mode);
// The hourly table block; empty for Mode "notable", at top 20 for "noimg", else at top 820.
QByteArray GetHTMLTable(const WebSnapshot &state, const QByteArray &Mode);
// The whole page for Mode, in Windows-1251.
QByteArray page(const WebSnapshot &state, const QByteArray &Mode);

// The 18 x 50 thermometer PNG, as carried in the resources.
const QByteArray &thermometerPng();

// The readings in the Prometheus text exposition format 0.0.4 (UTF-8) at request time nowMs.
QByteArray metrics(const WebSnapshot &state, qint64 nowMs);
inline constexpr const char *MetricsPath = "/metrics";
inline constexpr const char *MetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// Where the page's link goes.
inline constexpr const char *ProductSite = projectaddress::Site;

} // namespace web
