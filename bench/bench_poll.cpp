// How much the window adds to one measured-value poll, measured against a
// bare client sending the same request to the same instrument.
#include "benchsupport.h"

#include <QModbusReply>

namespace {

constexpr int Blocks = 5;
constexpr int RunsPerBlock = 40;
constexpr int Channels = 22;

QList<QLineEdit *> valueFields(E2ERig &rig)
{
    QList<QLineEdit *> fields { rig.find<QLineEdit>("ch1LineE") };
    for (int channel = 2; channel <= Channels; ++channel)
        fields << rig.find<QLineEdit>(QStringLiteral("ch%1LineEdit").arg(channel));
    return fields;
}

// One tick of the window's poll until all 22 fields show the reply.
double windowPoll(E2ERig &rig, const QList<QLineEdit *> &fields)
{
    for (QLineEdit *field : fields)
        field->clear();

    Bench::Stopwatch watch;
    int updated = 0;
    QList<QMetaObject::Connection> connections;
    for (QLineEdit *field : fields) {
        connections << QObject::connect(field, &QLineEdit::textChanged, [&]() {
            if (++updated == Channels)
                watch.done();
        });
    }
    watch.start();
    rig.tick();
    const double ms = watch.wait();
    for (const auto &connection : connections)
        QObject::disconnect(connection);
    return ms;
}

quint32 g_checksum = 0;

double barePoll(QModbusRtuSerialMaster &bare)
{
    Bench::Stopwatch watch;
    watch.start();
    QModbusReply *reply
        = bare.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, Channels), 1);
    if (!reply)
        return -1.0;
    QObject::connect(reply, &QModbusReply::finished, reply, [&, reply]() {
        for (quint16 word : reply->result().values())
            g_checksum += word;
        reply->deleteLater();
        watch.done();
    });
    return watch.wait();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_chnum = 0;

    E2ERig rig;
    if (!rig.openInstrument()) {
        qCritical("cannot open the virtual instrument: %s", qPrintable(rig.instrument.errorString()));
        return 1;
    }
    rig.instrument.setHolding(396, Channels);
    for (int channel = 0; channel < Channels; ++channel)
        rig.instrument.setInput(channel, qint16(10 * channel - 55));
    const QList<QLineEdit *> fields = valueFields(rig);

    QVector<double> window, bare;
    int failures = 0;
    // Alternating blocks, so that a slow spell of the machine hits both sides.
    for (int block = 0; block < Blocks; ++block) {
        if (!Bench::connectWindow(rig) || g_chnum != Channels) {
            qCritical("the window did not connect");
            return 1;
        }
        windowPoll(rig, fields); // warm-up
        for (int run = 0; run < RunsPerBlock; ++run)
            Bench::keep(window, windowPoll(rig, fields), failures);

        QModbusRtuSerialMaster client;
        Bench::copySettings(client, rig.client());
        Bench::disconnectWindow(rig);
        if (!client.connectDevice()) {
            qCritical("the bare client did not connect");
            return 1;
        }
        barePoll(client); // warm-up
        for (int run = 0; run < RunsPerBlock; ++run)
            Bench::keep(bare, barePoll(client), failures);
        client.disconnectDevice();
        QTest::qWait(50);
    }

    Bench::report(QStringLiteral("Measured-value poll: tick to the 22 fields updated"), window, bare, 1.05);
    if (failures)
        QTextStream(stdout) << failures << " runs did not complete and are left out\n";
    return 0;
}
