#ifndef METERCTL_METERWATCH_H
#define METERCTL_METERWATCH_H

#include "linkfigures.h"
#include "meterlink.h"
#include "pollschedule.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QTextStream>
#include <QTimer>

class Interruption;
class MqttPublisher;

// Logs the 22 measured values (function 04, 0, 22 words) of one meter or of
// several on the line, one row per meter and interval, never more than one
// request outstanding. A poll without a good reply is a row without values
// and with the reason; a meter that keeps failing is asked less often (see
// PollSchedule); a vanished port is reopened every few seconds.
class MeterWatch : public QObject
{
    Q_OBJECT

public:
    enum Format { Table, Csv, Jsonl, Influx };
    struct Options
    {
        int intervalMs = 1000;
        int count = 0; // 0: until stopped; rows of one meter, or intervals of several
        Format format = Csv;
        QString outPath;
        // Empty: the link's one meter, rows without an address.
        QVector<int> addresses;
        int offlineAfter = 0; // 0: never offline
        int offlineRetryMs = 30000;
    };
    static constexpr int ReopenIntervalMs = 3000;

    MeterWatch(MeterLink &link, const Options &options, QTextStream &out, QTextStream &err,
               MqttPublisher *publisher = nullptr);
    // Exit code: 0 when stopped by count or signal, 4 when --out cannot be opened.
    int run(Interruption *interruption);

private:
    enum class Outcome { Good, Failed, PortDown };
    bool several() const { return !m_options.addresses.isEmpty(); }
    void sayLost();
    void tick();
    void cycle();
    void endCycle();
    void pollMeter(int address);
    bool portReady(QString *error);
    Outcome exchange(int address, QVector<quint16> *words, QString *error);
    MeterLink::Result counted(int address, const MeterLink::Result &result);
    void tell(int address, PollSchedule::Change change);
    void row(int address, const QVector<quint16> &values, const QString &reason);
    void finish();
    void printFigures();

    MeterLink &m_link;
    Options m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    MqttPublisher *m_publisher;
    PollSchedule m_schedule;
    QString m_bus;
    QFile m_file;
    QTextStream m_fileStream;
    QTimer m_timer;
    bool m_busy = false;
    bool m_overran = false;
    bool m_overrunTold = false;
    qint64 m_answeredMs = 0; // of this cycle, in good polls
    bool m_stopping = false;
    int m_rows = 0;
    int m_cycles = 0;
    QHash<int, int> m_channelCounts; // not yet known: absent
    QHash<int, QString> m_offlineSince;
    bool m_lost = false;
    bool m_wasOpen = false;
    qint64 m_lastReopen = -ReopenIntervalMs;
    QElapsedTimer m_clock;

    LinkFigures m_total;
    QMap<int, LinkFigures> m_perMeter;
};

#endif // METERCTL_METERWATCH_H
