// meterctl backup and restore of a full configuration, whole process, against
// the same requests sent by a bare QModbusRtuSerialMaster program, both
// against the virtual instrument on a pty at 115200; and meterctl's start-up
// without any request.
#include "clirig.h"
#include "registercodec.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

double median(QVector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const int mid = samples.size() / 2;
    return samples.size() % 2 ? samples.at(mid) : (samples.at(mid - 1) + samples.at(mid)) / 2.0;
}

// Every written word of the four tables differs from the backup.
void changeEveryTable(VirtualInstrument &instrument, const QVector<quint16> &backedUp)
{
    for (int i = 0; i < backedUp.size(); ++i) {
        if (i % RegisterCodec::ChannelTableWords < RegisterCodec::ChannelTableWriteWords)
            instrument.setHolding(RegisterCodec::CorrectionTableStart + i, backedUp.at(i) ^ 1);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(3, QString::fromLocal8Bit(argv[1]).toInt()) : 25;
    QTextStream out(stdout);
    CliRig rig;
    if (!rig.opened) {
        out << "cannot open the virtual instrument: " << rig.instrument.errorString() << Qt::endl;
        return 1;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("meter.json"));
    const QStringList link = rig.link(QStringLiteral("pty"));
    QVector<quint16> backedUp;
    for (int r = RegisterCodec::CorrectionTableStart; r < RegisterCodec::SystemBlockStart; ++r)
        backedUp << rig.instrument.holding(r);

    const auto measure = [&](const QString &program, const QStringList &arguments, bool change) {
        QVector<double> samples;
        int failures = 0;
        for (int i = 0; i < runs; ++i) {
            if (change)
                changeEveryTable(rig.instrument, backedUp);
            const CliRig::Run run = CliRig::exec(program, arguments);
            // The instrument must see the hang-up before the next client comes.
            CliRig::waitFor([&rig] { return !rig.instrument.isLineOpen(); }, 2000);
            if (run.exitCode == 0)
                samples << double(run.ms);
            else
                ++failures;
        }
        if (failures)
            out << "  " << failures << " failed runs of " << QFileInfo(program).fileName() << "\n";
        return samples.isEmpty() ? 0.0 : median(samples);
    };
    const auto report = [&out](const char *what, double tool, double bare) {
        const double ratio = bare > 0 ? tool / bare : 0.0;
        out << what << "\n"
            << QStringLiteral("  meterctl: median %1 ms\n  bare client: median %2 ms\n  ratio %3 (goal 1.20 "
                              "or less): %4\n")
                   .arg(tool, 0, 'f', 1)
                   .arg(bare, 0, 'f', 1)
                   .arg(ratio, 0, 'f', 3)
                   .arg(ratio <= 1.2 ? QStringLiteral("met") : QStringLiteral("NOT met"));
        out.flush();
    };

    const QString meterctl = QStringLiteral(METERCTL_PATH);
    const QString bare = QStringLiteral(BARE_CLIENT_PATH);
    if (CliRig::exec(meterctl, link + QStringList { "backup", file }).exitCode != 0) {
        out << "meterctl backup failed" << Qt::endl;
        return 1;
    }
    out << QStringLiteral("bench_meterctl: %1 runs each, virtual instrument on a pty at 115200\n").arg(runs);
    report("backup (system block + 4 tables read, file written)",
           measure(meterctl, link + QStringList { "backup", file }, false),
           measure(bare, { rig.instrument.portPath(), "backup" }, false));
    report("restore of a full configuration (5 reads, 4 table writes, 4 read-backs)",
           measure(meterctl, link + QStringList { "restore", file }, true),
           measure(bare, { rig.instrument.portPath(), "restore" }, true));

    const double startup = measure(meterctl, { "--version" }, false);
    out << QStringLiteral("meterctl start-up without a request: median %1 ms (goal under 30 ms): %2\n")
               .arg(startup, 0, 'f', 1)
               .arg(startup < 30 ? QStringLiteral("met") : QStringLiteral("NOT met"));
    return 0;
}
