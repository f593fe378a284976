// A full address sweep of meterctl scan at one line setting, whole process,
// against the virtual instrument on a pty with nobody answering, compared
// with its floor: 247 x (request wire time + probe timeout).
#include "clirig.h"
#include "meterscan.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    CliRig rig;
    if (!rig.opened) {
        out << "cannot open the virtual instrument: " << rig.instrument.errorString() << Qt::endl;
        return 1;
    }
    VirtualInstrument::Faults silent;
    silent.silent = true;
    rig.instrument.setFaults(silent);
    out << "bench_scan: meterctl scan of addresses 1-247 at one line setting, nobody answering\n";
    for (const int baud : { 115200, 9600 }) {
        const MeterScan::LineSetting setting { baud, MeterSchema::Parity::None, 1 };
        const double floorMs
            = 247 * (MeterScan::requestWireUs(setting) / 1000.0 + MeterScan::probeTimeoutMs(setting));
        rig.instrument.clearRequests();
        const CliRig::Run run
            = CliRig::exec(QStringLiteral(METERCTL_PATH),
                           rig.link(QStringLiteral("pty"))
                               + QStringList { "scan", "--bauds", QString::number(baud), "--parities", "none",
                                               "--addresses", "1-247" },
                           120000);
        const double ratio = run.ms / floorMs;
        out << QStringLiteral(
                   "  %1 8N1: probe timeout %2 ms, %3 probes; floor %4 ms, measured %5 ms, ratio %6 "
                   "(goal 1.05 or less): %7\n")
                   .arg(baud)
                   .arg(MeterScan::probeTimeoutMs(setting))
                   .arg(rig.instrument.requests().size())
                   .arg(floorMs, 0, 'f', 0)
                   .arg(run.ms)
                   .arg(ratio, 0, 'f', 3)
                   .arg(ratio <= 1.05 ? QStringLiteral("met") : QStringLiteral("NOT met"));
        out.flush();
    }
    return 0;
}
