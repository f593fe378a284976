// How much the window adds to reading and writing the four channel tables,
// measured against a bare client sending the same four requests to the same
// instrument.
#include "benchsupport.h"

#include <QModbusReply>
#include <QPointer>

namespace {

constexpr int Blocks = 5;
constexpr int RunsPerBlock = 10;
constexpr int TableStarts[] = { 300, 324, 348, 372 };
constexpr int ReadWords = 24;
constexpr int WriteWords = 22;

struct Controls
{
    QList<QLineEdit *> edits;
    QList<QComboBox *> combos;
};

Controls tableControls(E2ERig &rig)
{
    Controls controls;
    for (int channel = 1; channel <= 22; ++channel) {
        for (const char *prefix : { "m_sc", "m_psl", "m_psh" })
            controls.edits << rig.find<QLineEdit>(QLatin1String(prefix) + QString::number(channel));
        controls.combos << rig.find<QComboBox>(QStringLiteral("m_sn%1").arg(channel));
    }
    return controls;
}

// Click on "读取仪表参数" until every one of the 88 controls has its value.
double windowRead(E2ERig &rig, const Controls &controls)
{
    for (QLineEdit *edit : controls.edits)
        edit->clear();
    for (QComboBox *combo : controls.combos)
        combo->setCurrentIndex(-1);

    Bench::Stopwatch watch;
    int filled = 0;
    const int total = controls.edits.size() + controls.combos.size();
    QList<QMetaObject::Connection> connections;
    auto oneMore = [&]() {
        if (++filled == total)
            watch.done();
    };
    for (QLineEdit *edit : controls.edits)
        connections << QObject::connect(edit, &QLineEdit::textChanged, oneMore);
    for (QComboBox *combo : controls.combos)
        connections << QObject::connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), oneMore);

    watch.start();
    QTest::mouseClick(rig.find<QPushButton>("readChBt"), Qt::LeftButton);
    const double ms = watch.wait();
    for (const auto &connection : connections)
        QObject::disconnect(connection);
    return ms;
}

// Click on "写入仪表参数" until the client has the last acknowledgement.
double windowWrite(E2ERig &rig)
{
    QModbusRtuSerialMaster *client = rig.client();
    QList<QPointer<QModbusReply>> seen;
    for (QModbusReply *reply : client->findChildren<QModbusReply *>())
        seen << reply;
    Bench::Stopwatch watch;
    int acknowledged = 0;
    // The window hands the client one write at a time, the next one as the
    // reply before it finishes.
    std::function<void()> follow = [&]() {
        for (QModbusReply *reply : client->findChildren<QModbusReply *>()) {
            if (seen.contains(reply))
                continue;
            seen << reply;
            QObject::connect(reply, &QModbusReply::finished, [&]() {
                if (++acknowledged == 4)
                    watch.done();
                else
                    follow();
            });
        }
    };

    watch.start();
    QTest::mouseClick(rig.find<QPushButton>("writeChBt"), Qt::LeftButton);
    follow();
    return watch.wait();
}

// Keeps the bare client honest: it too takes the words out of its replies.
quint32 g_checksum = 0;

// What the bare client writes: the tables as the instrument holds them, so
// that the window's reads between its runs keep decoding valid sensor codes.
QVector<quint16> g_tables[4];

double bareRequests(QModbusRtuSerialMaster &bare, bool write)
{
    Bench::Stopwatch watch;
    int finished = 0;
    watch.start();
    for (int t = 0; t < 4; ++t) {
        const int start = TableStarts[t];
        QModbusReply *reply = write
            ? bare.sendWriteRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, g_tables[t]), 1)
            : bare.sendReadRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, ReadWords), 1);
        if (!reply)
            return -1.0;
        QObject::connect(reply, &QModbusReply::finished, reply, [&, reply]() {
            if (!write) {
                for (quint16 word : reply->result().values())
                    g_checksum += word;
            }
            reply->deleteLater();
            if (++finished == 4)
                watch.done();
        });
    }
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
    for (int i = 0; i < 24; ++i) {
        rig.instrument.setHolding(300 + i, quint16(qint16(-3 * i)));
        rig.instrument.setHolding(324 + i, quint16(qint16(-200 + i)));
        rig.instrument.setHolding(348 + i, quint16(1372 - i));
        rig.instrument.setHolding(372 + i, quint16(i % 33));
    }
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < WriteWords; ++i)
            g_tables[t] << rig.instrument.holding(TableStarts[t] + i);
    }
    rig.find<QLineEdit>("m_addrLineEdit")->setText("1");
    const Controls controls = tableControls(rig);

    QVector<double> windowReads, windowWrites, bareReads, bareWrites;
    int failures = 0;
    // Alternating blocks, so that a slow spell of the machine hits both sides.
    for (int block = 0; block < Blocks; ++block) {
        if (!Bench::connectWindow(rig)) {
            qCritical("the window did not connect");
            return 1;
        }
        rig.find<QLineEdit>("m_addrLineEdit")->setText("1");
        windowRead(rig, controls); // warm-up
        for (int run = 0; run < RunsPerBlock; ++run) {
            Bench::keep(windowReads, windowRead(rig, controls), failures);
            Bench::keep(windowWrites, windowWrite(rig), failures);
        }
        QModbusRtuSerialMaster bare;
        Bench::copySettings(bare, rig.client());
        Bench::disconnectWindow(rig);
        if (!bare.connectDevice()) {
            qCritical("the bare client did not connect");
            return 1;
        }
        bareRequests(bare, false); // warm-up
        for (int run = 0; run < RunsPerBlock; ++run) {
            Bench::keep(bareReads, bareRequests(bare, false), failures);
            Bench::keep(bareWrites, bareRequests(bare, true), failures);
        }
        bare.disconnectDevice();
        QTest::qWait(50);
    }

    Bench::report(QStringLiteral("Channel tables, read: click to all 88 controls filled"), windowReads,
                  bareReads, 1.1);
    Bench::report(QStringLiteral("Channel tables, write: click to last write acknowledged"), windowWrites,
                  bareWrites, 1.1);
    if (failures)
        QTextStream(stdout) << failures << " runs did not complete and are left out\n";
    return 0;
}
