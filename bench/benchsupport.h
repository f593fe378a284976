#ifndef METERCONFIG_BENCHSUPPORT_H
#define METERCONFIG_BENCHSUPPORT_H

// Shared by the benchmark programs: the window against the virtual
// instrument, and a bare Modbus client with the window's line settings as
// the yardstick.

#include "e2erig.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QModbusRtuSerialMaster>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace Bench {

inline double median(QVector<double> samples)
{
    if (samples.isEmpty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const int mid = samples.size() / 2;
    return samples.size() % 2 ? samples.at(mid) : (samples.at(mid - 1) + samples.at(mid)) / 2.0;
}

// A run that hit its limit is counted, not timed.
inline void keep(QVector<double> &samples, double ms, int &failures)
{
    if (ms < 0)
        ++failures;
    else
        samples << ms;
}

// Runs the event loop until done() is called or a generous limit passes;
// returns the milliseconds from start() to done(), or -1 on the limit.
class Stopwatch
{
public:
    Stopwatch()
    {
        m_limit.setSingleShot(true);
        QObject::connect(&m_limit, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }
    void start()
    {
        m_finished = -1;
        m_clock.start();
    }
    void done()
    {
        if (m_finished < 0)
            m_finished = m_clock.nsecsElapsed();
        m_loop.quit();
    }
    double wait(int limitMs = 5000)
    {
        if (m_finished < 0) {
            m_limit.start(limitMs);
            m_loop.exec();
            m_limit.stop();
        }
        return m_finished < 0 ? -1.0 : m_finished / 1e6;
    }

private:
    QElapsedTimer m_clock;
    QEventLoop m_loop;
    QTimer m_limit;
    qint64 m_finished = -1;
};

// The window connected to the instrument, its own poll stopped so that the
// only traffic is what the benchmark sends.
inline bool connectWindow(E2ERig &rig)
{
    return rig.connectQuietly();
}

inline void disconnectWindow(E2ERig &rig)
{
    QTest::mouseClick(rig.find<QPushButton>("pushButton_2"), Qt::LeftButton);
    rig.settle(50);
}

// Every connection setting of the window's client, for the bare one.
inline void copySettings(QModbusRtuSerialMaster &bare, const QModbusRtuSerialMaster *like)
{
    const QModbusDevice::ConnectionParameter parameters[] = {
        QModbusDevice::SerialPortNameParameter, QModbusDevice::SerialParityParameter,
        QModbusDevice::SerialBaudRateParameter, QModbusDevice::SerialDataBitsParameter,
        QModbusDevice::SerialStopBitsParameter,
    };
    for (auto parameter : parameters)
        bare.setConnectionParameter(parameter, like->connectionParameter(parameter));
    bare.setTimeout(like->timeout());
    bare.setNumberOfRetries(like->numberOfRetries());
    bare.setInterFrameDelay(like->interFrameDelay());
}

inline void report(const QString &what, const QVector<double> &window, const QVector<double> &bare,
                   double goal)
{
    QTextStream out(stdout);
    const double w = median(window);
    const double b = median(bare);
    const double ratio = b > 0 ? w / b : 0.0;
    out << what << "\n";
    out << QStringLiteral("  window: median %1 ms over %2 runs\n").arg(w, 0, 'f', 3).arg(window.size());
    out << QStringLiteral("  bare client: median %1 ms over %2 runs\n").arg(b, 0, 'f', 3).arg(bare.size());
    out << QStringLiteral("  ratio %1 (goal %2 or less): %3\n")
               .arg(ratio, 0, 'f', 3)
               .arg(goal, 0, 'f', 2)
               .arg(ratio <= goal ? QStringLiteral("met") : QStringLiteral("NOT met"));
    out.flush();
}

} // namespace Bench

#endif // METERCONFIG_BENCHSUPPORT_H
