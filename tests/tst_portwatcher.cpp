// The port watcher without udev: changes in the device folder, and the
// once-a-second comparison where the folder cannot be watched.
#include "portwatcher.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestPortWatcher : public QObject
{
    Q_OBJECT

private slots:
    void folderChangeIsNoticed_data();
    void folderChangeIsNoticed();
    void unwatchableFolderIsPolled();
};

void TestPortWatcher::folderChangeIsNoticed_data()
{
    QTest::addColumn<QString>("added");
    QTest::addColumn<QString>("removed");
    QTest::newRow("adapter plugged in") << QStringLiteral("ttyUSB0") << QString();
    QTest::newRow("adapter pulled out") << QString() << QStringLiteral("ttyS0");
}

void TestPortWatcher::folderChangeIsNoticed()
{
    QFETCH(QString, added);
    QFETCH(QString, removed);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QDir dir(folder.path());
    for (const char *name : { "ttyS0", "ttyS1" })
        QVERIFY(QFile(dir.filePath(QLatin1String(name))).open(QIODevice::WriteOnly));

    int listings = 0;
    PortWatcher watcher(folder.path(), [&]() {
        ++listings;
        return dir.entryList(QDir::Files, QDir::Name);
    });
    QSignalSpy arrivals(&watcher, &PortWatcher::portArrived);
    QSignalSpy removals(&watcher, &PortWatcher::portRemoved);
    watcher.start({ QStringLiteral("ttyS0"), QStringLiteral("ttyS1") });
    QCOMPARE(watcher.mode(), PortWatcher::Mode::Folder);

    if (!added.isEmpty())
        QVERIFY(QFile(dir.filePath(added)).open(QIODevice::WriteOnly));
    if (!removed.isEmpty())
        QVERIFY(dir.remove(removed));
    QTRY_COMPARE(arrivals.size() + removals.size(), 1);
    QCOMPARE(arrivals.size(), added.isEmpty() ? 0 : 1);
    if (!removed.isEmpty())
        QCOMPARE(removals.first().first().toString(), removed);
    // Listed once for the change, never before it.
    QCOMPARE(listings, 1);
}

void TestPortWatcher::unwatchableFolderIsPolled()
{
    QStringList ports { QStringLiteral("ttyS0") };
    PortWatcher watcher(QStringLiteral("/nonexistent/dev"), [&]() { return ports; });
    QSignalSpy arrivals(&watcher, &PortWatcher::portArrived);
    watcher.start(ports);
    QCOMPARE(watcher.mode(), PortWatcher::Mode::Polling);
    ports << QStringLiteral("ttyACM0");
    QTRY_COMPARE_WITH_TIMEOUT(arrivals.size(), 1, 5000);
}

QTEST_GUILESS_MAIN(TestPortWatcher)
#include "tst_portwatcher.moc"
