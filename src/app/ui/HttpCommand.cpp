#include "app/ui/HttpCommand.h"

#include "base/Log.h"
#include "sensors/IniFile.h"
#include "web/HttpServer.h"

#include <QAbstractButton>
#include <QAction>

#include <utility>

HttpCommand::HttpCommand(Parts parts, QObject *parent)
    : QObject(parent)
    , m_parts(std::move(parts))
{
    connect(&m_parts.HTTP_Active, &QAction::triggered, this, &HttpCommand::HTTP_ActiveClick);
    connect(&m_parts.bHTTP, &QAbstractButton::clicked, this, &HttpCommand::bHTTPClick);
}

// The server follows the check mark of HTTP_Active; a failure to start unticks it.
void HttpCommand::StartHTTP(bool reportOff)
{
    HttpServer &server = m_parts.server;
    m_parts.bHTTP.setChecked(m_parts.HTTP_Active.isChecked());
    if (!m_parts.HTTP_Active.isChecked()) {
        server.stop();
        if (reportOff)
            m_parts.log.AddLog(QStringLiteral("HTTP-сервер выключен."));
        return;
    }
    if (!server.running()) {
        m_parts.publishSnapshot();
        const HttpServer::StartResult result = server.start(m_parts.HTTPBinding, m_parts.HTTPPort);
        if (result != HttpServer::StartResult::Started) {
            reportHTTPFailure(result == HttpServer::StartResult::PortBusy);
            return;
        }
    }
    m_parts.log.AddLog(QStringLiteral("HTTP-сервер включен."));
}

void HttpCommand::HTTPNotStarted(const QString &reason)
{
    m_parts.HTTP_Active.setChecked(false);
    m_parts.bHTTP.setChecked(false);
    m_parts.log.AddLog(QStringLiteral("HTTP-сервер не запущен: ") + reason);
}

void HttpCommand::reportHTTPFailure(bool portBusy)
{
    HTTPNotStarted(portBusy ? QStringLiteral("HTTP Порт ") + QString::number(m_parts.HTTPPort) + QStringLiteral(" занят.")
                            : QString());
}

void HttpCommand::ChangeHTTPPort(int port)
{
    if (port == m_parts.HTTPPort)
        return;
    HttpServer &server = m_parts.server;
    const bool wasRunning = server.running();
    server.stop();
    m_parts.HTTPPort = port;
    m_parts.HTTPBinding = QStringLiteral("0.0.0.0");
    if (!wasRunning)
        return;
    const HttpServer::StartResult result = server.start(m_parts.HTTPBinding, m_parts.HTTPPort);
    // Left running-looking, the menu item and the button would lie about a dead server.
    if (result != HttpServer::StartResult::Started)
        reportHTTPFailure(result == HttpServer::StartResult::PortBusy);
}

void HttpCommand::serveDemo(const QString &iniPath)
{
    // A demo without a window shows itself on the web page; a configuration that says
    // anything of the web server is followed as it stands.
    const IniFile ini = IniFile::fromFile(iniPath);
    if (!ini.hasKey(QStringLiteral("General"), QStringLiteral("HTTPPort"))
        && !ini.hasKey(QStringLiteral("General"), QStringLiteral("HTTPActive"))) {
        constexpr int firstPort = 8080;
        constexpr int ports = 100;
        m_parts.HTTP_Active.setChecked(true);
        m_parts.HTTPBinding = QStringLiteral("0.0.0.0");
        m_parts.publishSnapshot();
        for (int port = firstPort; port < firstPort + ports; ++port) {
            m_parts.HTTPPort = port;
            if (m_parts.server.start(m_parts.HTTPBinding, m_parts.HTTPPort) != HttpServer::StartResult::PortBusy)
                break;
        }
    }
    StartHTTP(false);
    if (m_parts.server.running()) {
        const QString site = QStringLiteral("http://localhost:%1/").arg(m_parts.HTTPPort);
        m_parts.log.AddLog(QStringLiteral("Страница датчиков: ") + site);
        m_parts.log.AddLog(QStringLiteral("Метрики: ") + site + QStringLiteral("metrics"));
    }
}

// The menu item has toggled its check mark already.
void HttpCommand::HTTP_ActiveClick()
{
    StartHTTP(true);
}

void HttpCommand::bHTTPClick()
{
    m_parts.HTTP_Active.setChecked(m_parts.bHTTP.isChecked());
    StartHTTP(true);
}
