// Round trips over a paced line: the window (shown, so that painting the
// fields is counted), a bare Qt client with the window's settings and
// libmodbus, each against the same instrument, in alternating blocks so that
// a slow spell of the machine hits all of them.
#include "benchsupport.h"
#include "e2erig.h"
#include "trends.h"
#include "trendwindow.h"

#include <QModbusReply>
#include <QTabWidget>
#include <QTextStream>

namespace Bench {

// Every connection setting of the window's client, for the bare one.
void copySettings(QModbusRtuSerialMaster &bare, const QModbusRtuSerialMaster *like)
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

namespace {

constexpr int Channels = 22;
constexpr int TableStarts[] = { 300, 324, 348, 372 };
constexpr int TableReadWords = 24;
constexpr int TableWriteWords = 22;

// Frame lengths in bytes: address, function, CRC and the fields between.
constexpr int readRequestBytes()
{
    return 8;
}
constexpr int readReplyBytes(int words)
{
    return 5 + 2 * words;
}
constexpr int writeRequestBytes(int words)
{
    return 9 + 2 * words;
}
constexpr int writeReplyBytes()
{
    return 8;
}
constexpr int PollBytes = readRequestBytes() + readReplyBytes(Channels);
constexpr int TableReadBytes = 4 * (readRequestBytes() + readReplyBytes(TableReadWords));
constexpr int TableWriteBytes = 4 * (writeRequestBytes(TableWriteWords) + writeReplyBytes());

QStringList instrumentArguments()
{
    QStringList arguments { QStringLiteral("--freeze"), QStringLiteral("--set-holding"),
                            QStringLiteral("396=%1").arg(Channels) };
    for (int channel = 0; channel < Channels; ++channel)
        arguments << QStringLiteral("--set-input")
                  << QStringLiteral("%1=%2").arg(channel).arg(10 * channel - 55);
    for (int i = 0; i < 24; ++i) {
        arguments << QStringLiteral("--set-holding")
                  << QStringLiteral("%1=%2").arg(300 + i).arg(qint16(-3 * i))
                  << QStringLiteral("--set-holding") << QStringLiteral("%1=%2").arg(324 + i).arg(-200 + i)
                  << QStringLiteral("--set-holding") << QStringLiteral("%1=%2").arg(348 + i).arg(1372 - i)
                  << QStringLiteral("--set-holding") << QStringLiteral("%1=%2").arg(372 + i).arg(i % 33);
    }
    return arguments;
}

class WindowSide
{
public:
    explicit WindowSide(const Line &line)
    {
        rig.window->resize(1000, 700);
        rig.window->show();
        const bool exposed = QTest::qWaitForWindowExposed(rig.window);
        Q_UNUSED(exposed)
        rig.selectPort(line.port());
        rig.find<QComboBox>("baudRateCombo")->setCurrentText(QString::number(line.baud()));
        rig.find<QComboBox>("jiaoyanCombo")
            ->setCurrentIndex(line.parity() == 'N'       ? 0
                                  : line.parity() == 'O' ? 1
                                                         : 2);
        rig.find<QComboBox>("stopbitCombo")->setCurrentIndex(line.stopBits() == 2 ? 1 : 0);
        for (int channel = 1; channel <= Channels; ++channel) {
            m_values << rig.find<QLineEdit>(channel == 1 ? QStringLiteral("ch1LineE")
                                                         : QStringLiteral("ch%1LineEdit").arg(channel));
            for (const char *prefix : { "m_sc", "m_psl", "m_psh" })
                m_tableEdits << rig.find<QLineEdit>(QLatin1String(prefix) + QString::number(channel));
            m_tableCombos << rig.find<QComboBox>(QStringLiteral("m_sn%1").arg(channel));
        }
    }

    // Connected, the system read answered, the window's own poll stopped so
    // that the only traffic is what the benchmark sends.
    bool connect()
    {
        g_chnum = 0;
        QTest::mouseClick(rig.find<QPushButton>("pushButton"), Qt::LeftButton);
        QElapsedTimer clock;
        clock.start();
        while (g_chnum == 0 && clock.elapsed() < 5000)
            QTest::qWait(5);
        rig.pollTimer()->stop();
        QTest::qWait(100);
        rig.find<QLineEdit>("m_addrLineEdit")->setText(QStringLiteral("1"));
        return g_chnum == Channels;
    }

    void disconnect()
    {
        QTest::mouseClick(rig.find<QPushButton>("pushButton_2"), Qt::LeftButton);
        QTest::qWait(50);
    }

    void showTab(QWidget *inside)
    {
        auto *tabs = rig.find<QTabWidget>("tabWidget");
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->widget(i)->isAncestorOf(inside))
                tabs->setCurrentIndex(i);
        }
        QTest::qWait(50);
    }

    double poll()
    {
        for (QLineEdit *field : qAsConst(m_values))
            field->clear();
        QTest::qWait(5);
        Stopwatch watch;
        ShownWatch shown(watch);
        QList<QWidget *> widgets(m_values.cbegin(), m_values.cend());
        shown.expect(widgets);
        QList<QMetaObject::Connection> connections;
        for (QLineEdit *field : qAsConst(m_values))
            connections << QObject::connect(field, &QLineEdit::textChanged,
                                            [&shown, field]() { shown.changed(field); });
        const double cpuBefore = cpuMs();
        watch.start();
        rig.tick();
        const double ms = watch.wait();
        cpuSpent += cpuMs() - cpuBefore;

        for (const auto &connection : qAsConst(connections))
            QObject::disconnect(connection);
        return ms;
    }

    double readTables()
    {
        for (QLineEdit *edit : qAsConst(m_tableEdits))
            edit->clear();
        for (QComboBox *combo : qAsConst(m_tableCombos))
            combo->setCurrentIndex(-1);
        QTest::qWait(5);
        Stopwatch watch;
        ShownWatch shown(watch);
        QList<QWidget *> widgets(m_tableEdits.cbegin(), m_tableEdits.cend());
        for (QComboBox *combo : qAsConst(m_tableCombos))
            widgets << combo;
        shown.expect(widgets);
        QList<QMetaObject::Connection> connections;
        for (QLineEdit *edit : qAsConst(m_tableEdits))
            connections << QObject::connect(edit, &QLineEdit::textChanged,
                                            [&shown, edit]() { shown.changed(edit); });
        for (QComboBox *combo : qAsConst(m_tableCombos))
            connections << QObject::connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged),
                                            [&shown, combo]() { shown.changed(combo); });
        const double cpuBefore = cpuMs();
        watch.start();
        QTest::mouseClick(rig.find<QPushButton>("readChBt"), Qt::LeftButton);
        const double ms = watch.wait();
        cpuSpent += cpuMs() - cpuBefore;
        for (const auto &connection : qAsConst(connections))
            QObject::disconnect(connection);
        return ms;
    }

    // Click to the fourth acknowledgement. Replies are followed as the client
    // creates them, whether the window hands it all four at once or one by one.
    double writeTables()
    {
        Stopwatch watch;
        int acknowledged = 0;
        ReplyFollower follower([&]() {
            if (++acknowledged == 4)
                watch.done();
        });
        rig.client()->installEventFilter(&follower);
        const double cpuBefore = cpuMs();
        watch.start();
        QTest::mouseClick(rig.find<QPushButton>("writeChBt"), Qt::LeftButton);
        const double ms = watch.wait();
        cpuSpent += cpuMs() - cpuBefore;
        rig.client()->removeEventFilter(&follower);
        return ms;
    }

    QWidget *tablesTab() const { return m_tableEdits.first(); }
    QWidget *valuesTab() const { return m_values.first(); }

    E2ERig rig;
    // CPU time from each request to its result on screen; the clearing
    // before it is left out.
    double cpuSpent = 0;

private:
    class ReplyFollower : public QObject
    {
    public:
        explicit ReplyFollower(std::function<void()> finished)
            : m_finished(std::move(finished))
        { }
        bool eventFilter(QObject *, QEvent *event) override
        {
            // The child is announced from its base class constructor, before
            // it is a reply; it is one by the time the event loop runs again.
            if (event->type() == QEvent::ChildAdded) {
                QPointer<QObject> child = static_cast<QChildEvent *>(event)->child();
                QMetaObject::invokeMethod(
                    this,
                    [this, child]() {
                        if (auto *reply = qobject_cast<QModbusReply *>(child.data()))
                            QObject::connect(reply, &QModbusReply::finished, this, m_finished);
                    },
                    Qt::QueuedConnection);
            }
            return false;
        }

    private:
        std::function<void()> m_finished;
    };

    QList<QLineEdit *> m_values;
    QList<QLineEdit *> m_tableEdits;
    QList<QComboBox *> m_tableCombos;
};

quint32 g_checksum = 0;

// The bare client: same settings as the window's, the same requests.
double bareRound(QModbusRtuSerialMaster &client, const char *what, const QVector<quint16> *tables)
{
    Stopwatch watch;
    int finished = 0;
    const bool poll = qstrcmp(what, "poll") == 0;
    const int expected = poll ? 1 : 4;
    watch.start();
    for (int t = 0; t < expected; ++t) {
        QModbusReply *reply = nullptr;
        if (poll)
            reply = client.sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, Channels), 1);
        else if (qstrcmp(what, "read-tables") == 0)
            reply = client.sendReadRequest(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, TableStarts[t], TableReadWords), 1);
        else
            reply = client.sendWriteRequest(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, TableStarts[t], tables[t]), 1);
        if (!reply)
            return -1.0;
        QObject::connect(reply, &QModbusReply::finished, reply, [&, reply]() {
            for (quint16 word : reply->result().values())
                g_checksum += word;
            reply->deleteLater();
            if (++finished == expected)
                watch.done();
        });
    }
    return watch.wait();
}

void libmodbusBlock(const Line &line, const char *what, int runs, Samples &samples)
{
    const QString program = programPath(QStringLiteral("bench_libmodbus"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program,
                { line.port(), QString::number(line.baud()), QString(QLatin1Char(line.parity())),
                  QString::number(line.stopBits()), QLatin1String(what), QString::number(runs) });
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished(1000);
        samples.failures += runs;
        return;
    }
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (lines.size() < 3) {
        samples.failures += runs;
        return;
    }
    for (const QString &value : lines.at(0).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        samples.ms << value.toDouble();
    samples.cpuMsPerRun << lines.at(1).section(QLatin1Char(' '), 1).toDouble();
    samples.failures += lines.at(2).section(QLatin1Char(' '), 1).toInt();
}

struct Kind
{
    const char *what;
    const char *label;
    int wireBytes;
};

void runLine(const Plan &plan, Table &table, int baud, char parity, int stopBits)
{
    Line line(baud, parity, stopBits);
    QString error;
    if (!line.start(instrumentArguments(), &error)) {
        table.addNote(QStringLiteral("%1: %2").arg(line.name(), error));
        return;
    }
    WindowSide window(line);
    const bool haveLibmodbus = !programPath(QStringLiteral("bench_libmodbus")).isEmpty();
    const Kind kinds[] = { { "poll", "poll of 22 values", PollBytes },
                           { "read-tables", "read 4 channel tables", TableReadBytes },
                           { "write-tables", "write 4 channel tables", TableWriteBytes } };
    Samples windowSamples[3], bareSamples[3], libmodbusSamples[3];
    QVector<quint16> tables[4];
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < TableWriteWords; ++i)
            tables[t] << 0;
    }

    QTextStream progress(stderr);
    for (int block = 0; block < plan.blocks; ++block) {
        progress << "  " << line.name() << ": block " << block + 1 << "/" << plan.blocks << "\n";
        progress.flush();
        if (!window.connect()) {
            table.addNote(QStringLiteral("%1: the window did not connect").arg(line.name()));
            return;
        }
        for (int k = 0; k < 3; ++k) {
            const int runs = k == 0 ? plan.pollRuns : plan.tableRuns;
            window.showTab(k == 0 ? window.valuesTab() : window.tablesTab());
            if (k == 0)
                window.poll();
            else if (k == 1)
                window.readTables();
            window.cpuSpent = 0;
            for (int run = 0; run < runs; ++run) {
                if (k == 0)
                    windowSamples[k].add(window.poll());
                else if (k == 1)
                    windowSamples[k].add(window.readTables());
                else
                    windowSamples[k].add(window.writeTables());
            }
            windowSamples[k].cpuMsPerRun << window.cpuSpent / runs;
        }

        QModbusRtuSerialMaster client;
        copySettings(client, window.rig.client());
        window.disconnect();
        if (!client.connectDevice()) {
            table.addNote(QStringLiteral("%1: the bare client did not connect").arg(line.name()));
            return;
        }
        // What the instrument holds goes back unchanged.
        for (int t = 0; t < 4; ++t) {
            QModbusReply *reply = client.sendReadRequest(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, TableStarts[t], TableWriteWords), 1);
            Stopwatch watch;
            watch.start();
            QObject::connect(reply, &QModbusReply::finished, reply, [&, reply, t]() {
                tables[t] = reply->result().values();
                reply->deleteLater();
                watch.done();
            });
            watch.wait();
        }
        for (int k = 0; k < 3; ++k) {
            const int runs = k == 0 ? plan.pollRuns : plan.tableRuns;
            bareRound(client, kinds[k].what, tables);
            const double cpuBefore = cpuMs();
            for (int run = 0; run < runs; ++run)
                bareSamples[k].add(bareRound(client, kinds[k].what, tables));
            bareSamples[k].cpuMsPerRun << (cpuMs() - cpuBefore) / runs;
        }
        client.disconnectDevice();
        QTest::qWait(50);

        if (haveLibmodbus) {
            for (int k = 0; k < 3; ++k)
                libmodbusBlock(line, kinds[k].what, k == 0 ? plan.pollRuns : plan.tableRuns,
                               libmodbusSamples[k]);
        }
    }
    for (int k = 0; k < 3; ++k) {
        table.addLatency(QStringLiteral("%1, %2").arg(QLatin1String(kinds[k].label), line.name()),
                         windowSamples[k], &bareSamples[k], haveLibmodbus ? &libmodbusSamples[k] : nullptr,
                         line.wireMs(kinds[k].wireBytes));
    }
}

} // namespace

// The main window's poll to paint at 115200 8N1 with the trend window closed
// and open on a day of history, all channels, in alternating blocks.
void runTrendPoll(const Plan &plan, Table &table)
{
    Line line(115200, 'N', 1);
    QString error;
    if (!line.start(instrumentArguments(), &error)) {
        table.addNote(QStringLiteral("trend poll: %1").arg(error));
        return;
    }
    WindowSide window(line);
    auto *trends = window.rig.window->findChild<Trends *>();
    Samples samples[2];
    for (int block = 0; block < plan.blocks; ++block) {
        if (!window.connect()) {
            table.addNote(QStringLiteral("trend poll: the window did not connect"));
            return;
        }
        if (block == 0)
            fillDay(trends->history());
        for (int open = 0; open < 2; ++open) {
            if (open)
                trends->openTrend(-1);
            else if (QWidget *trend = window.rig.window->findChild<TrendWindow *>())
                trend->hide();
            window.poll();
            window.cpuSpent = 0;
            for (int run = 0; run < plan.pollRuns; ++run) {
                samples[open].add(window.poll());
                // The trend draws a moment after the values are shown; the
                // window polls once a second, so that never meets the next poll.
                QTest::qWait(50);
            }
            samples[open].cpuMsPerRun << window.cpuSpent / plan.pollRuns;
        }
        window.disconnect();
    }
    const double closed = median(samples[0].ms);
    const double open = median(samples[1].ms);
    table.add({ QStringLiteral("poll of 22 values, 115200 8N1, trend open / closed (cpu ms)"),
                QStringLiteral("%1 / %2 (%3 / %4)")
                    .arg(figure(open, 2), figure(closed, 2), figure(median(samples[1].cpuMsPerRun), 2),
                         figure(median(samples[0].cpuMsPerRun), 2)),
                {},
                {},
                {},
                QStringLiteral("≤ 1.1x"),
                verdict(open <= 1.1 * closed) + QStringLiteral(" (%1x)").arg(figure(open / closed, 2)) });
}

void runLink(const Plan &plan, Table &table)
{
    runLine(plan, table, 9600, 'N', 1);
    runLine(plan, table, 115200, 'N', 1);
    // Eleven bits a byte.
    runLine(plan, table, 9600, 'E', 1);
}

// Any program that talks to the instrument, timed per whole run against the
// wire floor of what it sends: "LABEL=FLOOR_BYTES=PROGRAM ARGUMENTS...", with
// {port}, {baud}, {parity} and {stopbits} replaced by the line's.
void runCommands(const Plan &plan, Table &table)
{
    if (plan.commands.isEmpty())
        return;
    Line line(9600, 'N', 1);
    QString error;
    if (!line.start(instrumentArguments(), &error)) {
        table.addNote(QStringLiteral("commands: %1").arg(error));
        return;
    }
    for (const QString &entry : plan.commands) {
        const QString label = entry.section(QLatin1Char('='), 0, 0);
        const int floorBytes = entry.section(QLatin1Char('='), 1, 1).toInt();
        QString commandLine = entry.section(QLatin1Char('='), 2);
        commandLine.replace(QLatin1String("{port}"), line.port())
            .replace(QLatin1String("{baud}"), QString::number(line.baud()))
            .replace(QLatin1String("{parity}"), QString(QLatin1Char(line.parity())))
            .replace(QLatin1String("{stopbits}"), QString::number(line.stopBits()));
        QStringList arguments = QProcess::splitCommand(commandLine);
        if (arguments.isEmpty())
            continue;
        const QString program = arguments.takeFirst();
        Samples samples;
        for (int run = 0; run < plan.blocks * 2; ++run) {
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            QElapsedTimer clock;
            clock.start();
            child.start(program, arguments);
            const bool finished = child.waitForFinished(30000);
            const double ms = clock.nsecsElapsed() / 1e6;
            samples.add(
                finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 ? ms : -1.0);
        }
        table.addLatency(QStringLiteral("%1 (whole process), %2").arg(label, line.name()), samples, nullptr,
                         nullptr, line.wireMs(floorBytes));
    }
}

} // namespace Bench
