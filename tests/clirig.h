#ifndef METERCONFIG_CLIRIG_H
#define METERCONFIG_CLIRIG_H

// The real meterctl process against the virtual instrument, which runs in
// this test's event loop on a pseudo-terminal and on 127.0.0.1 (Modbus TCP).

#include "virtualinstrument.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

class CliRig
{
public:
    using Request = VirtualInstrument::Request;

    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
        qint64 ms = 0;
    };

    CliRig()
    {
        instrument.setDriftEnabled(false);
        opened = instrument.open() && instrument.listenTcp(0);
    }

    // Link options reaching the instrument over "pty" or "tcp".
    QStringList link(const QString &transport) const
    {
        if (transport == QLatin1String("tcp"))
            return { "--tcp", QStringLiteral("127.0.0.1:%1").arg(instrument.tcpPort()) };
        return { "--port", instrument.portPath() };
    }

    // Runs a program to its end while the instrument keeps answering.
    static Run exec(const QString &program, const QStringList &arguments, int limitMs = 30000)
    {
        QProcess process;
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop,
                         &QEventLoop::quit);
        QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        process.start(program, arguments);
        limit.start(limitMs);
        loop.exec();
        Run run;
        run.ms = clock.elapsed();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        } else if (process.exitStatus() == QProcess::NormalExit) {
            run.exitCode = process.exitCode();
        }
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // Returns once the instrument has seen the line closed again: it flushes
    // the pty on a hang-up, which must not meet the next client's request.
    Run meterctl(const QStringList &arguments)
    {
        const Run run = exec(QStringLiteral(METERCTL_PATH), arguments);
        waitFor([this] { return !instrument.isLineOpen(); }, 2000);
        return run;
    }

    // A meterctl that keeps running (watch), for the test to act meanwhile.
    QProcess *start(const QStringList &arguments)
    {
        auto *process = new QProcess(&instrument);
        process->start(QStringLiteral(METERCTL_PATH), arguments);
        return process;
    }

    // Runs the event loop until done() holds or the limit passes.
    template<typename Condition> static bool waitFor(Condition done, int limitMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < limitMs) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return done();
    }

    QVector<Request> writes() const
    {
        QVector<Request> found;
        for (const Request &request : instrument.requests()) {
            if (request.isWrite())
                found << request;
        }
        return found;
    }

    VirtualInstrument instrument;
    bool opened = false;
};

#endif // METERCONFIG_CLIRIG_H
