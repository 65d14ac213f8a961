#pragma once

#include <QObject>
#include <QString>

#include <functional>

class HttpServer;
class Log;
class QAction;
class QAbstractButton;

// The web server's switch (the menu item HTTP_Active and the button bHTTP), its start, stop
// and port change, and the log lines that report them. The window owns the server and the
// port and binding it reads.
class HttpCommand final : public QObject
{
public:
    struct Parts
    {
        HttpServer &server;
        Log &log;
        QAction &HTTP_Active;
        QAbstractButton &bHTTP;
        int &HTTPPort;
        QString &HTTPBinding;
        // Hands the server a copy of what the page shows.
        std::function<void()> publishSnapshot;
    };

    explicit HttpCommand(Parts parts, QObject *parent = nullptr);

    // The server's running state follows the check mark of HTTP_Active and the outcome is
    // logged; reportOff logs the off state too.
    void StartHTTP(bool reportOff);
    // A running server moves to `port` ("0.0.0.0"), without log lines; a failure to start
    // there is reported as StartHTTP reports it.
    void ChangeHTTPPort(int port);
    // A failed start as StartHTTP reports it: HTTP_Active and bHTTP released, the log line.
    void HTTPNotStarted(const QString &reason);
    // --demo --headless: the server comes on, on port 8080 or the next free one, unless the
    // configuration at iniPath has a say; the log names the page and the metrics.
    void serveDemo(const QString &iniPath);

private:
    void HTTP_ActiveClick();
    void bHTTPClick();
    void reportHTTPFailure(bool portBusy);

    Parts m_parts;
};
