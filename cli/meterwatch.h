#ifndef METERCTL_METERWATCH_H
#define METERCTL_METERWATCH_H

#include "meterlink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QTimer>

class Interruption;

// Logs the 22 measured values (function 04, 0, 22 words) once an interval,
// one row per poll, never more than one request outstanding. A poll without
// a good reply is a row without values and with the reason; a vanished
// port is reopened every few seconds.
class MeterWatch : public QObject
{
    Q_OBJECT

public:
    enum Format { Table, Csv, Jsonl };
    struct Options
    {
        int intervalMs = 1000;
        int count = 0; // 0: until stopped
        Format format = Csv;
        QString outPath;
    };
    static constexpr int ReopenIntervalMs = 3000;

    MeterWatch(MeterLink &link, const Options &options, QTextStream &out, QTextStream &err);
    // Exit code: 0 when stopped by count or signal, 4 when --out cannot be opened.
    int run(Interruption *interruption);

private:
    void sayLost();
    void poll();
    void exchange();
    void row(const QVector<quint16> &values, const QString &reason);
    void count(const MeterLink::Result &result);
    void printFigures();

    MeterLink &m_link;
    Options m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    QFile m_file;
    QTextStream m_fileStream;
    QTimer m_timer;
    bool m_busy = false;
    bool m_stopping = false;
    int m_rows = 0;
    int m_channelCount = -1; // not yet known
    bool m_lost = false;
    bool m_wasOpen = false;
    qint64 m_lastReopen = -ReopenIntervalMs;
    QElapsedTimer m_clock;

    int m_requests = 0;
    int m_good = 0;
    int m_timeouts = 0;
    int m_exceptions = 0;
    int m_otherErrors = 0;
    QVector<qint64> m_responseUs;
};

#endif // METERCTL_METERWATCH_H
