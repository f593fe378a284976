#include "devicechange.h"

#include <QtEndian>
#include <QtTest>

#include <vector>

namespace {

void appendDword(QByteArray &bytes, quint32 value)
{
    uchar le[4];
    qToLittleEndian(value, le);
    bytes.append(reinterpret_cast<const char *>(le), 4);
}

void appendUtf16(QByteArray &bytes, const QString &text)
{
    for (const QChar c : text) {
        uchar le[2];
        qToLittleEndian(c.unicode(), le);
        bytes.append(reinterpret_cast<const char *>(le), 2);
    }
}

// A DEV_BROADCAST_PORT_W as Windows lays it out. dbch_size is the size of the
// structure including the terminating NUL unless given explicitly.
QByteArray broadcast(quint32 deviceType, const QString &name, qint64 size = -1, bool terminated = true)
{
    QByteArray body;
    appendDword(body, 0); // dbch_reserved
    appendUtf16(body, name);
    if (terminated)
        appendUtf16(body, QString(QChar(0)));
    QByteArray bytes;
    appendDword(bytes, size < 0 ? quint32(8 + body.size()) : quint32(size));
    appendDword(bytes, deviceType);
    return bytes + body;
}

constexpr quint32 DbtDevTypVolume = 2;
constexpr quintptr DbtDevNodesChanged = 0x0007;

} // namespace

class TestDeviceChange : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void nullParameter();
};

void TestDeviceChange::decode_data()
{
    using namespace DeviceChange;
    QTest::addColumn<quint32>("message");
    QTest::addColumn<quintptr>("wParam");
    QTest::addColumn<QByteArray>("structure");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("portName");

    const QString nonAscii = QStringLiteral("串口é") + QString::fromUcs4(U"\U0001F50C");
    const int arrival = int(Kind::Arrival);
    const int removal = int(Kind::Removal);
    const int none = int(Kind::None);

    QTest::newRow("arrival COM3") << WmDeviceChange << DbtDeviceArrival << broadcast(DbtDevTypPort, "COM3")
                                  << arrival << "COM3";
    QTest::newRow("removal COM10") << WmDeviceChange << DbtDeviceRemoveComplete
                                   << broadcast(DbtDevTypPort, "COM10") << removal << "COM10";
    QTest::newRow("non-ASCII name") << WmDeviceChange << DbtDeviceRemoveComplete
                                    << broadcast(DbtDevTypPort, nonAscii) << removal << nonAscii;
    const QByteArray padded = broadcast(DbtDevTypPort, "COM4", 12 + 2 * 5 + 4) + QByteArray(4, '\0');
    QTest::newRow("padded structure")
        << WmDeviceChange << DbtDeviceRemoveComplete << padded << removal << "COM4";
    QTest::newRow("empty name") << WmDeviceChange << DbtDeviceRemoveComplete << broadcast(DbtDevTypPort, "")
                                << removal << "";

    // Bytes past dbch_size belong to somebody else and must not end up in the name.
    const QByteArray unterminated
        = broadcast(DbtDevTypPort, "COM7", 12 + 2 * 4, false) + QByteArray("X\0Y\0", 4);
    const QByteArray oddSize = broadcast(DbtDevTypPort, "COM7", 12 + 2 * 4 + 1, false) + QByteArray("X", 1);
    QTest::newRow("unterminated") << WmDeviceChange << DbtDeviceRemoveComplete << unterminated << removal
                                  << "COM7";
    QTest::newRow("unterminated, odd size")
        << WmDeviceChange << DbtDeviceRemoveComplete << oddSize << removal << "COM7";
    QTest::newRow("size beyond reason") << WmDeviceChange << DbtDeviceRemoveComplete
                                        << broadcast(DbtDevTypPort, "COM5", 0xFFFFFFFFu) << removal << "COM5";
    // Only the bytes handed over may be read, whatever dbch_size claims.
    QTest::newRow("size beyond the bytes, unterminated")
        << WmDeviceChange << DbtDeviceRemoveComplete << broadcast(DbtDevTypPort, "COM7", 100, false)
        << removal << "COM7";
    QTest::newRow("size beyond the bytes, half a unit")
        << WmDeviceChange << DbtDeviceArrival << broadcast(DbtDevTypPort, "C", 22, false).left(13) << arrival
        << "";
    QTest::newRow("bytes shorter than the header")
        << WmDeviceChange << DbtDeviceArrival << broadcast(DbtDevTypPort, "", 12).left(8) << none << "";

    QTest::newRow("volume") << WmDeviceChange << DbtDeviceArrival << broadcast(DbtDevTypVolume, "COM3")
                            << none << "";
    QTest::newRow("size below header")
        << WmDeviceChange << DbtDeviceRemoveComplete << broadcast(DbtDevTypPort, "COM3", 8) << none << "";
    QTest::newRow("nodes changed") << WmDeviceChange << DbtDevNodesChanged << broadcast(DbtDevTypPort, "COM3")
                                   << none << "";
    QTest::newRow("other message") << quint32(0x0218) << DbtDeviceArrival << broadcast(DbtDevTypPort, "COM3")
                                   << none << "";
}

void TestDeviceChange::decode()
{
    QFETCH(quint32, message);
    QFETCH(quintptr, wParam);
    QFETCH(QByteArray, structure);
    QFETCH(int, kind);
    QFETCH(QString, portName);

    // Exactly the structure's bytes, at an odd address, so that the address
    // sanitizer sees any read beyond them and nothing relies on alignment.
    std::vector<uchar> memory(size_t(structure.size()) + 1);
    std::copy(structure.cbegin(), structure.cend(), memory.begin() + 1);
    const DeviceChange::Event event
        = DeviceChange::decode(message, wParam, memory.data() + 1, structure.size());
    QCOMPARE(int(event.kind), kind);
    QCOMPARE(event.portName, portName);

    // As the system hands it over, the structure's own size is its length.
    if (structure.size() >= 4
        && qFromLittleEndian<quint32>(structure.constData()) <= quint32(structure.size())) {
        const DeviceChange::Event system = DeviceChange::decode(message, wParam, memory.data() + 1);
        QCOMPARE(int(system.kind), kind);
        QCOMPARE(system.portName, portName);
    }
}

void TestDeviceChange::nullParameter()
{
    using namespace DeviceChange;
    QCOMPARE(int(DeviceChange::decode(WmDeviceChange, DbtDeviceRemoveComplete, nullptr).kind),
             int(Kind::None));
    QCOMPARE(int(DeviceChange::decode(WmDeviceChange, DbtDeviceArrival, nullptr).kind), int(Kind::None));
}

QTEST_APPLESS_MAIN(TestDeviceChange)
#include "tst_devicechange.moc"
