#ifndef METERCTL_METERCOMMANDS_H
#define METERCTL_METERCOMMANDS_H

#include "meterconfiguration.h"
#include "meterlink.h"

#include <QTextStream>

// The sequences behind meterctl's commands, over one MeterLink. Each returns
// the process exit code; what it did goes to out, what went wrong to err.
// A command stops at the first failure, so nothing is written after one.
class MeterCommands
{
public:
    enum ExitCode { Done = 0, UsageError = 1, NoLink = 2, Differs = 3, BadFile = 4 };

    struct RestoreOptions
    {
        bool dryRun = false;
        bool withLineSettings = false;
        bool withFactory = false;
    };

    // One register to change, from a KEY=VALUE of "set".
    struct Change
    {
        int address = 0;
        quint16 word = 0;
    };

    MeterCommands(MeterLink &link, QTextStream &out, QTextStream &err);

    int read(bool json);
    int backup(const QString &path);
    int diff(const QString &path);
    int restore(const QString &path, const RestoreOptions &options);
    int set(const QVector<Change> &changes);
    // restore onto each address in turn, then a summary table. Exit 0 only
    // when every meter is verified.
    int clone(const QString &path, const QVector<int> &addresses, const RestoreOptions &options);

    // "2,5,7-12" -> 2 5 7 8 9 10 11 12; every address 1-247.
    static bool parseAddresses(const QString &text, QVector<int> *addresses);

    // Checks every KEY=VALUE before anything is sent; false with the first
    // bad pair named in *problem.
    static bool parseAssignments(const QStringList &pairs, QVector<Change> *changes, QString *problem);

private:
    bool openLink();
    bool readConfiguration(MeterConfiguration *configuration);
    bool loadFile(const QString &path, MeterConfiguration *configuration);
    // Writes words from start, reads them back and compares.
    int writeVerified(int start, const QVector<quint16> &words, const QString &what);
    void fail(const QString &message);

    int m_written = 0; // by the last restore
    MeterLink &m_link;
    QTextStream &m_out;
    QTextStream &m_err;
};

#endif // METERCTL_METERCOMMANDS_H
