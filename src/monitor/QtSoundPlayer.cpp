#include "monitor/QtSoundPlayer.h"

#include "monitor/MonitorResources.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>

QtSoundPlayer::QtSoundPlayer(QObject *parent)
    : QtSoundPlayer([] { return !QMediaDevices::audioOutputs().isEmpty(); }, parent)
{
}

QtSoundPlayer::QtSoundPlayer(std::function<bool()> outputPresent, QObject *parent)
    : QObject(parent)
    , m_outputPresent(std::move(outputPresent))
{
    initMonitorResources();
}

QtSoundPlayer::~QtSoundPlayer() = default;

void QtSoundPlayer::setLateFailureHandler(std::function<void(const QString &)> handler)
{
    m_lateFailure = std::move(handler);
}

bool QtSoundPlayer::audioAvailable() const
{
    // Without an output a sound effect would sit in "loading" or play into nothing: that is a
    // failure the user has to see in the log.
    return m_outputPresent && m_outputPresent();
}

QSoundEffect *QtSoundPlayer::effect(QSoundEffect *&slot)
{
    if (!slot) {
        slot = new QSoundEffect(QMediaDevices::defaultAudioOutput(), this);
        QSoundEffect *created = slot;
        connect(created, &QSoundEffect::statusChanged, this, [this, created] {
            if (created->status() != QSoundEffect::Error || !m_lateFailure)
                return;
            m_lateFailure(created == m_warning ? QStringLiteral("warn") : m_fileSound);
        });
    }
    // Follow the desktop's choice of output (headphones plugged in since the last alarm).
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (slot->audioDevice() != device)
        slot->setAudioDevice(device);
    return slot;
}

void QtSoundPlayer::stopAll()
{
    if (m_warning)
        m_warning->stop();
    if (m_file)
        m_file->stop();
}

QString QtSoundPlayer::playingSound() const
{
    if (m_warning && m_warning->isPlaying())
        return QStringLiteral("warn");
    if (m_file && m_file->isPlaying())
        return m_fileSound;
    return {};
}

// Starting a sound stops the one playing, also when the new one then fails its checks: the
// last alarm decides what is heard, never an older one.
bool QtSoundPlayer::playWarning()
{
    stopAll();
    if (!audioAvailable())
        return false;
    QSoundEffect *e = effect(m_warning);
    if (e->source().isEmpty())
        e->setSource(QUrl(QStringLiteral("qrc") + QLatin1String(WarnSoundResource)));
    e->play();
    return e->status() != QSoundEffect::Error;
}

bool QtSoundPlayer::playFile(const QString &path)
{
    stopAll();
    if (!audioAvailable() || !looksLikeWave(path))
        return false;
    QSoundEffect *e = effect(m_file);
    m_fileSound = path;
    // Loaded afresh every time: the user may have replaced a file that failed before.
    e->setSource(QUrl());
    e->setSource(QUrl::fromLocalFile(path));
    e->play();
    return e->status() != QSoundEffect::Error;
}

bool QtSoundPlayer::looksLikeWave(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() != 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;

    bool formatOk = false;
    // Chunks before "data" are few and small in any real file; the bound keeps a hostile
    // file from making us walk it.
    for (int chunks = 0; chunks < 64; ++chunks) {
        const QByteArray header = file.read(8);
        if (header.size() != 8)
            return false;
        const quint32 size = qFromLittleEndian<quint32>(header.constData() + 4);
        const QByteArray id = header.left(4);
        if (id == "data")
            return formatOk && size > 0;
        if (id == "fmt ") {
            if (size < 16 || size > 1024)
                return false;
            const QByteArray fmt = file.read(size);
            if (fmt.size() != static_cast<int>(size))
                return false;
            const quint16 tag = qFromLittleEndian<quint16>(fmt.constData());
            const quint16 channels = qFromLittleEndian<quint16>(fmt.constData() + 2);
            const quint32 rate = qFromLittleEndian<quint32>(fmt.constData() + 4);
            const quint16 bits = qFromLittleEndian<quint16>(fmt.constData() + 14);
            const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            const bool floating = tag == 3 && bits == 32;
            const bool extensible = tag == 0xFFFE;
            formatOk = (pcm || floating || extensible) && channels >= 1 && rate > 0;
            if (!formatOk)
                return false;
            if (size % 2 && !file.skip(1))
                return false;
            continue;
        }
        const qint64 skip = static_cast<qint64>(size) + (size % 2);
        if (file.skip(skip) != skip)
            return false;
    }
    return false;
}
