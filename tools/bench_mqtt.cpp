// Readings to an MQTT broker, measured on the whole program: a main window on the real
// termios port of the pty bus simulator, 100 sensors, a mosquitto started here on a free
// loopback port and a subscriber on libmosquitto.
//
//   bench_mqtt [cycles=30]
//
// 1. Latency: from the cycle's hand-over of a reading (the step that stores it) to its
//    arrival at the subscriber, median and 99th percentile over every reading of the cycles.
// 2. The cycle's length (lastCycleMs, the median) with no MQTT, with the broker up, and with
//    MQTT on but no broker listening (every connect refused, the client in its back-off), in
//    turns; the resident memory over 75 s of cycles without MQTT, then as long with the broker down.
// 3. Two windows with different topics on one broker: every sensor of both seen.
#include "app/ui/TForm1.h"
#include "monitor/ui/MonitorCycle.h"
#include "mqtt/MqttPublisher.h"
#include "onewire/PtyBusServer.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "sensors/ui/SensorSlots.h"

#include "PortWindow.h"

#include <mosquitto.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;
constexpr int Sensors = 100;

QString serialOf(int prefix, int k)
{
    return QStringLiteral("28%1%2").arg(prefix, 2, 16, QLatin1Char('0')).arg(k + 1, 10, 16, QLatin1Char('0')).toUpper()
           + QStringLiteral("00");
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

struct Broker
{
    QProcess process;
    int port = freePort();
    Broker()
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("mosquitto"), {QStringLiteral("-p"), QString::number(port)});
        process.waitForStarted();
        QThread::msleep(300);
    }
    ~Broker()
    {
        process.kill();
        process.waitForFinished();
    }
};

struct Subscriber
{
    std::mutex mutex;
    std::map<QString, std::vector<Steady::time_point>> arrivals; // by topic
    mosquitto *mosq = nullptr;
    bool subscribed = false;

    explicit Subscriber(int port)
    {
        mosq = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(mosq, [](mosquitto *m, void *, int) { mosquitto_subscribe(m, nullptr, "#", 0); });
        mosquitto_subscribe_callback_set(mosq, [](mosquitto *, void *obj, int, int, const int *) {
            auto *self = static_cast<Subscriber *>(obj);
            std::lock_guard lock(self->mutex);
            self->subscribed = true;
        });
        mosquitto_message_callback_set(mosq, [](mosquitto *, void *obj, const mosquitto_message *m) {
            const auto now = Steady::now();
            auto *self = static_cast<Subscriber *>(obj);
            std::lock_guard lock(self->mutex);
            self->arrivals[QString::fromUtf8(m->topic)].push_back(now);
        });
        mosquitto_connect(mosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq);
        for (int i = 0; i < 200 && !isSubscribed(); ++i)
            QThread::msleep(10);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(mosq);
        mosquitto_loop_stop(mosq, false);
        mosquitto_destroy(mosq);
    }
    bool isSubscribed()
    {
        std::lock_guard lock(mutex);
        return subscribed;
    }
    std::map<QString, std::vector<Steady::time_point>> copy()
    {
        std::lock_guard lock(mutex);
        return arrivals;
    }
};

struct ServedBus
{
    VirtualBus bus;
    PtyBusServer server{bus};
    std::thread serving;
    QTemporaryDir dir;
    QString programDir = dir.path() + QLatin1Char('/');
    QStringList serials;

    explicit ServedBus(int prefix)
    {
        for (int k = 0; k < Sensors; ++k) {
            serials << serialOf(prefix, k);
            bus.addSensor(serials.back(), 15.0 + 0.1 * k);
        }
        if (!server.open() || !server.linkAs(programDir + QStringLiteral("COM1"))) {
            std::fprintf(stderr, "bench_mqtt: %s\n", qUtf8Printable(server.errorText()));
            std::exit(1);
        }
        serving = std::thread([this] { server.run(); });
    }
    ~ServedBus()
    {
        server.requestStop();
        serving.join();
        server.close();
    }
};

struct Window
{
    ServedBus served;
    PortWindow window;
    std::unique_ptr<TForm1> &form = window.form;

    explicit Window(int prefix)
        : served(prefix)
        , window(served.programDir, QStringLiteral("bench_mqtt"))
    {
        form->temperatureReader()->setConversionDelayMs(0);
        for (int k = 0; k < Sensors; ++k)
            form->sensorSlots().AddItem(20 + (k % 20) * 40, 40 + (k / 20) * 60, QStringLiteral("Д%1").arg(k),
                                        served.serials.at(k), true, 0, false, 0, 0, 255, CreateClearSign());
        form->N3->setChecked(true);
        form->N3Click();
        waitIdle();
        form->Timer1->stop();
    }
    void waitIdle()
    {
        while (!form->busIdle())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    // Mean of lastCycleMs over `count` cycles.
    double cycles(int count)
    {
        double total = 0;
        for (int c = 0; c < count; ++c) {
            form->Nabl();
            waitIdle();
            form->Timer1->stop();
            total += static_cast<double>(form->monitorCycle().lastCycleMs());
        }
        return total / count;
    }
    void mqtt(int port, const QString &topic)
    {
        MqttSettings s;
        s.Active = true;
        s.Host = QStringLiteral("127.0.0.1");
        s.Port = port;
        s.Topic = topic;
        form->setMqttSettings(s);
    }
    void settle(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    mosquitto_lib_init();
    const int cycles = argc > 1 ? std::max(2, QString::fromLocal8Bit(argv[1]).toInt()) : 30;

    {
        // 1: the latency, with the broker up.
        Broker broker;
        Subscriber sub(broker.port);
        Window w(1);
        w.mqtt(broker.port, QStringLiteral("kalvex/bench"));
        w.settle(500);
        std::map<QString, std::deque<Steady::time_point>> handed;
        QObject::connect(&w.form->monitorCycle().feed(), &ReadingFeed::accepted, w.form.get(),
                         [&](const FeedReading &r) {
                             handed[QStringLiteral("kalvex/bench/") + r.SN + QStringLiteral("/state")].push_back(
                                 Steady::now());
                         });
        w.cycles(cycles);
        w.settle(1000);
        const auto arrivals = sub.copy();
        std::vector<double> latencies;
        std::size_t handedCount = 0;
        for (auto &[topic, times] : handed) {
            handedCount += times.size();
            const auto it = arrivals.find(topic);
            if (it == arrivals.end())
                continue;
            // The readings before the hand-over was watched arrived first: match from the end.
            const std::vector<Steady::time_point> &got = it->second;
            const std::size_t n = std::min(got.size(), times.size());
            for (std::size_t i = 0; i < n; ++i) {
                const auto sent = times[times.size() - n + i];
                const auto arrived = got[got.size() - n + i];
                latencies.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
            }
        }
        std::printf("latency hand-over -> subscriber, %d sensors x %d cycles: %zu of %zu readings arrived; "
                    "median %.0f us, p99 %.0f us, max %.0f us\n",
                    Sensors, cycles, latencies.size(), handedCount, percentile(latencies, 0.5),
                    percentile(latencies, 0.99), percentile(latencies, 1.0));
        std::fflush(stdout);
    }
    {
        // 2: the cycle without MQTT, with the broker up and with nobody listening, in turns
        // (the machine's other load falls on all three alike).
        Broker broker;
        const int deadPort = freePort();
        Window w(2);
        MqttSettings off;
        std::vector<double> none, up, down;
        const int rounds = 6;
        const int each = std::max(2, cycles / 3);
        w.cycles(3);
        long downBefore = 0;
        for (int r = 0; r < rounds; ++r) {
            w.form->setMqttSettings(off);
            for (int c = 0; c < each; ++c)
                none.push_back(w.cycles(1));
            w.mqtt(broker.port, QStringLiteral("kalvex/bench"));
            w.settle(200);
            for (int c = 0; c < each; ++c)
                up.push_back(w.cycles(1));
            w.mqtt(deadPort, QStringLiteral("kalvex/bench"));
            w.settle(200);
            if (r == 0)
                downBefore = residentKb();
            for (int c = 0; c < each; ++c)
                down.push_back(w.cycles(1));
        }
        const double base = percentile(none, 0.5);
        std::printf("cycle of %d sensors, median of %zu cycles each: no MQTT %.1f ms, broker up %.1f ms (%+.1f %%), "
                    "broker down %.1f ms (%+.1f %%)\n",
                    Sensors, none.size(), base, percentile(up, 0.5), (percentile(up, 0.5) / base - 1) * 100,
                    percentile(down, 0.5), (percentile(down, 0.5) / base - 1) * 100);
        // Longer stretches, first without MQTT, then with the broker down (the client's
        // back-off reaches its 60 s): the readings keep coming and nothing of them may pile
        // up, so the memory grows as without MQTT (the store's and the chart's own share).
        const auto stretch = [&](const char *what) {
            const long before = residentKb();
            QElapsedTimer timer;
            timer.start();
            int more = 0;
            while (timer.elapsed() < 75000) {
                w.cycles(1);
                ++more;
            }
            std::printf("%s: VmRSS %ld kB -> %ld kB over %d cycles (%.0f s)\n", what, before, residentKb(), more,
                        static_cast<double>(timer.elapsed()) / 1000.0);
            std::fflush(stdout);
        };
        std::printf("broker down: VmRSS %ld kB after the first down cycles\n", downBefore);
        w.form->setMqttSettings(off);
        stretch("no MQTT");
        w.mqtt(deadPort, QStringLiteral("kalvex/bench"));
        stretch("broker down");
        std::fflush(stdout);
    }
    {
        // Two programs, two topics, one broker.
        Broker broker;
        Subscriber sub(broker.port);
        Window a(3);
        Window b(4);
        a.mqtt(broker.port, QStringLiteral("kalvex/house-a"));
        b.mqtt(broker.port, QStringLiteral("kalvex/house-b"));
        a.settle(500);
        a.cycles(2);
        b.cycles(2);
        a.settle(1000);
        const auto arrivals = sub.copy();
        int seenA = 0;
        int seenB = 0;
        for (int k = 0; k < Sensors; ++k) {
            seenA += arrivals.count(QStringLiteral("kalvex/house-a/") + serialOf(3, k) + QStringLiteral("/state")) ? 1 : 0;
            seenB += arrivals.count(QStringLiteral("kalvex/house-b/") + serialOf(4, k) + QStringLiteral("/state")) ? 1 : 0;
        }
        int configs = 0;
        for (const auto &[topic, times] : arrivals)
            configs += topic.startsWith(QStringLiteral("homeassistant/sensor/")) ? 1 : 0;
        std::printf("two windows on one broker: states of %d + %d of %d + %d sensors seen, %d discovery configs\n", seenA,
                    seenB, Sensors, Sensors, configs);
    }
    return 0;
}
