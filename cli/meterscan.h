#ifndef METERCTL_METERSCAN_H
#define METERCTL_METERSCAN_H

#include "meterlink.h"

#include <QJsonObject>
#include <QTextStream>
#include <QVector>

class Interruption;

// Finds meters on a line: every line setting and address gets one read of
// the system block (function 03, 396, 6 words), never a write and never the
// broadcast address, no retries, and a timeout as short as a reply at that
// baud rate allows.
class MeterScan
{
public:
    using LineSetting = MeterSchema::LineSettings;
    struct Options
    {
        QVector<LineSetting> settings;
        QVector<int> addresses;
        bool first = false;
        bool json = false;
        int timeoutMs = 0; // 0: probeTimeoutMs() of each setting
        bool progress = false;
    };

    // The reply to a probe takes 17 characters (address, function, byte
    // count, 6 words, CRC) after the meter's 3.5-character silence (at
    // least 1.75 ms); a margin of 20 ms covers the meter's own turnaround.
    static int probeTimeoutMs(const LineSetting &setting);
    // The 8 bytes of a probe request on the wire, in microseconds.
    static double requestWireUs(const LineSetting &setting);

    // Most common first: 9600 19200 115200 38400 57600 4800 14400 28800.
    static QVector<int> baudRatesByUse();

    MeterScan(MeterLink &link, QTextStream &out, QTextStream &err);
    // Exit code: 0 when at least one meter answered, else 2.
    int run(const Options &options, Interruption *interruption);

private:
    // The meter found, also printed unless the list goes out as JSON.
    QJsonObject report(const Options &options, const LineSetting &setting, int address,
                       const QVector<quint16> &words);
    void showProgress(const Options &options, const LineSetting &setting, int address, int done, int total,
                      int found, qint64 leftMs);

    MeterLink &m_link;
    QTextStream &m_out;
    QTextStream &m_err;
};

#endif // METERCTL_METERSCAN_H
