#include "modbusframing.h"

#include <QtTest>

#include <random>

// Every frame below is a published Modbus example or was built with an
// independent Modbus implementation; none is produced by the code under test.
class TestSimFraming : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void takeRequest_data();
    void takeRequest();
    void takeRequestByteByByte();
    void noiseIsNoRequest_data();
    void noiseIsNoRequest();
    void requestShape_data();
    void requestShape();
    void readReply_data();
    void readReply();
    void writeReplies();
    void exceptionReply_data();
    void exceptionReply();
};

static QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

void TestSimFraming::crc_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("crcBytes");

    QTest::newRow("read holding 0 x10") << hex("01030000000a") << hex("c5cd");
    QTest::newRow("read input 0 x1") << hex("010400000001") << hex("31ca");
    QTest::newRow("server 17 read holding 107 x3") << hex("1103006b0003") << hex("7687");
    QTest::newRow("write single 1 = 3") << hex("010600010003") << hex("980b");
    QTest::newRow("write coil 0 on") << hex("01050000ff00") << hex("8c3a");
    QTest::newRow("exception 02 to 03") << hex("018302") << hex("c0f1");
}

void TestSimFraming::crc()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, crcBytes);

    const quint16 expected = quint16(quint8(crcBytes.at(0)) | (quint8(crcBytes.at(1)) << 8));
    QCOMPARE(ModbusFraming::crc16(body), expected);
    QCOMPARE(ModbusFraming::withCrc(body), body + crcBytes);
    QVERIFY(ModbusFraming::hasValidCrc(body + crcBytes));

    QByteArray damaged = body + crcBytes;
    damaged[1] = char(damaged.at(1) ^ 0x01);
    QVERIFY(!ModbusFraming::hasValidCrc(damaged));
}

void TestSimFraming::takeRequest_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<QString>("values");
    QTest::addColumn<int>("discarded");
    QTest::addColumn<QByteArray>("rest");

    const QByteArray readSystem = hex("0103018c000605df");
    const QByteArray readInputs = hex("01040000001671c4");

    QTest::newRow("complete read") << readSystem << true << 1 << 3 << 396 << 6 << "" << 0 << QByteArray();
    QTest::newRow("partial frame waits")
        << hex("0103018c00") << false << 0 << 0 << 0 << 0 << "" << 0 << hex("0103018c00");
    QTest::newRow("two frames, first taken")
        << readSystem + readInputs << true << 1 << 3 << 396 << 6 << "" << 0 << readInputs;
    QTest::newRow("garbage then frame")
        << hex("fffe55aa") + readInputs << true << 1 << 4 << 0 << 22 << "" << 4 << QByteArray();
    QTest::newRow("reserved address byte skipped")
        << hex("f8") + readSystem << true << 1 << 3 << 396 << 6 << "" << 1 << QByteArray();
    QTest::newRow("bad CRC dropped, next frame found")
        << hex("0103018c000605de") + readInputs << true << 1 << 4 << 0 << 22 << "" << 8 << QByteArray();
    QTest::newRow("bad CRC alone keeps a possible start")
        << hex("0103018c000605de") << false << 0 << 0 << 0 << 0 << "" << 1 << hex("03018c000605de");
    QTest::newRow("write single") << hex("010627100001437b") << true << 1 << 6 << 10000 << 1 << "1" << 0
                                  << QByteArray();
    QTest::newRow("broadcast write single")
        << hex("0006018c000849ca") << true << 0 << 6 << 396 << 1 << "8" << 0 << QByteArray();
    QTest::newRow("write multiple") << hex("0110018d00040800050003000200012a56") << true << 1 << 16 << 397
                                    << 4 << "5,3,2,1" << 0 << QByteArray();
    QTest::newRow("write multiple waits for its byte count")
        << hex("0110018d00040800") << false << 0 << 0 << 0 << 0 << "" << 0 << hex("0110018d00040800");
    QTest::newRow("write multiple waits for its data")
        << hex("0110018d0004080005000300") << false << 0 << 0 << 0 << 0 << "" << 0
        << hex("0110018d0004080005000300");
    QTest::newRow("write multiple, byte count not twice the quantity")
        << hex("0110018d0002030005000a12") << true << 1 << 16 << 397 << 2 << "5" << 0 << QByteArray();
    QTest::newRow("write multiple of 124 words")
        << hex("0110012c007cf8") + QByteArray(248, '\0') + hex("0ae4") << true << 1 << 16 << 300 << 124
        << QString(QStringLiteral("0,").repeated(123) + QStringLiteral("0")) << 0 << QByteArray();
    QTest::newRow("unsupported function with fixed length")
        << hex("01050000ff008c3a") << true << 1 << 5 << 0 << 0 << "" << 0 << QByteArray();
    QTest::newRow("device identification")
        << hex("012b0e01007077") << true << 1 << 0x2b << 0 << 0 << "" << 0 << QByteArray();
    // Without a length rule a function code cannot start a request, even
    // where a CRC happens to match.
    QTest::newRow("user-defined function is no request")
        << hex("0141c010") << false << 0 << 0 << 0 << 0 << "" << 2 << hex("c010");
    QTest::newRow("encapsulated interface other than identification")
        << hex("012b0d007540") << false << 0 << 0 << 0 << 0 << "" << 5 << hex("40");
    QTest::newRow("empty buffer") << QByteArray() << false << 0 << 0 << 0 << 0 << "" << 0 << QByteArray();
}

void TestSimFraming::takeRequest()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, found);
    QFETCH(int, discarded);
    QFETCH(QByteArray, rest);

    const QByteArray original = buffer;
    ModbusFraming::Request request;
    int skipped = -1;
    QCOMPARE(ModbusFraming::takeRequest(buffer, &request, &skipped), found);
    QCOMPARE(skipped, discarded);
    QCOMPARE(buffer.toHex(' '), rest.toHex(' '));
    if (!found)
        return;

    QFETCH(int, address);
    QFETCH(int, function);
    QFETCH(int, start);
    QFETCH(int, quantity);
    QFETCH(QString, values);
    QCOMPARE(int(request.serverAddress), address);
    QCOMPARE(int(request.functionCode), function);
    QCOMPARE(int(request.startAddress), start);
    QCOMPARE(int(request.quantity), quantity);
    QStringList words;
    for (const quint16 value : request.values)
        words.append(QString::number(value));
    QCOMPARE(words.join(QLatin1Char(',')), values);
    QCOMPARE(request.raw, original.mid(discarded, original.size() - discarded - rest.size()));
}

// A pty hands bytes over in any chunking; the framing must not depend on it.
void TestSimFraming::takeRequestByteByByte()
{
    const QByteArray stream = hex("0103018c000605df") + hex("ff00")
        + hex("0110018d00040800050003000200012a56") + hex("010627100001437b");
    QByteArray buffer;
    QVector<int> functions;
    for (const char byte : stream) {
        buffer.append(byte);
        ModbusFraming::Request request;
        while (ModbusFraming::takeRequest(buffer, &request))
            functions.append(request.functionCode);
    }
    QCOMPARE(functions, QVector<int>({ 3, 16, 6 }));
    QVERIFY(buffer.isEmpty());
}

void TestSimFraming::noiseIsNoRequest_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QVector<int>>("functions");

    const QByteArray readSystem = hex("0103018c000605df");
    QTest::newRow("byte by byte") << 1u << 1 << QByteArray() << QVector<int>();
    QTest::newRow("16-byte chunks") << 2u << 16 << QByteArray() << QVector<int>();
    QTest::newRow("all at once") << 3u << 11520 << QByteArray() << QVector<int>();
    QTest::newRow("other noise, 16-byte chunks") << 4u << 16 << QByteArray() << QVector<int>();
    // Noise ends the way a line goes quiet before the master speaks; the
    // padding lets any frame that the noise began run out first.
    QTest::newRow("a request after the noise")
        << 5u << 16 << QByteArray(300, char(0xFF)) + readSystem << QVector<int> { 3 };
}

// One second of random bytes at 115200 baud, as a line with a loose
// connector delivers it.
void TestSimFraming::noiseIsNoRequest()
{
    QFETCH(quint32, seed);
    QFETCH(int, chunk);
    QFETCH(QByteArray, after);
    QFETCH(QVector<int>, functions);

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray stream;
    for (int i = 0; i < 11520; ++i)
        stream.append(char(byte(random)));
    stream += after;

    QByteArray buffer;
    QVector<int> taken;
    for (int at = 0; at < stream.size(); at += chunk) {
        buffer += stream.mid(at, chunk);
        ModbusFraming::Request request;
        while (ModbusFraming::takeRequest(buffer, &request))
            taken.append(request.functionCode);
        // Nothing piles up: at most the start of one long frame waits.
        QVERIFY2(buffer.size() <= 300, qPrintable(QString::number(buffer.size())));
    }
    QCOMPARE(taken, functions);
}

void TestSimFraming::requestShape_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("exception");

    QTest::newRow("read holding x6") << hex("0103018c000605df") << 0;
    QTest::newRow("read holding x0") << hex("0103018c000085dd") << 3;
    QTest::newRow("read holding x126") << hex("0103018c007e05fd") << 3;
    QTest::newRow("read input x125") << hex("01040000007d302b") << 0;
    QTest::newRow("write single") << hex("010601920001e81b") << 0;
    QTest::newRow("write multiple x4") << hex("0110018d00040800050003000200012a56") << 0;
    QTest::newRow("write multiple x0") << hex("0110018d0000001ffc") << 3;
    QTest::newRow("write multiple x124") << hex("0110012c007cf8") + QByteArray(248, '\0') + hex("0ae4") << 3;
    QTest::newRow("write multiple, byte count 3 for 2 words") << hex("0110018d0002030005000a12") << 3;
    QTest::newRow("write coil") << hex("01050000ff008c3a") << 1;
    QTest::newRow("device identification") << hex("012b0e01007077") << 1;
}

void TestSimFraming::requestShape()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, exception);

    ModbusFraming::Request request;
    QVERIFY(ModbusFraming::takeRequest(frame, &request));
    QCOMPARE(int(ModbusFraming::checkRequestShape(request)), exception);
}

void TestSimFraming::readReply_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("factory system block")
        << 3 << QVector<quint16> { 22, 1, 7, 1, 0, 3 } << hex("01030c001600010007000100000003dfa9");
    QTest::newRow("signed tenths 25.5 and -20.0")
        << 4 << QVector<quint16> { 0x00FF, 0xFF38 } << hex("01040400ffff388b96");
    QTest::newRow("one zero word") << 3 << QVector<quint16> { 0 } << hex("0103020000b844");
}

void TestSimFraming::readReply()
{
    QFETCH(int, function);
    QFETCH(QVector<quint16>, values);
    QFETCH(QByteArray, expected);

    QCOMPARE(ModbusFraming::readReply(1, quint8(function), values).toHex(' '), expected.toHex(' '));
}

void TestSimFraming::writeReplies()
{
    QCOMPARE(ModbusFraming::writeSingleReply(1, 10000, 1).toHex(' '), hex("010627100001437b").toHex(' '));
    QCOMPARE(ModbusFraming::writeMultipleReply(1, 397, 4).toHex(' '), hex("0110018d0004501d").toHex(' '));
}

void TestSimFraming::exceptionReply_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("03 illegal data address") << 0x03 << 2 << hex("018302c0f1");
    QTest::newRow("04 illegal data value") << 0x04 << 3 << hex("0184030301");
    QTest::newRow("16 illegal data value") << 0x10 << 3 << hex("0190030c01");
    QTest::newRow("2B illegal function") << 0x2b << 1 << hex("01ab019ef0");
}

void TestSimFraming::exceptionReply()
{
    QFETCH(int, function);
    QFETCH(int, code);
    QFETCH(QByteArray, expected);

    QCOMPARE(ModbusFraming::exceptionReply(1, quint8(function), quint8(code)).toHex(' '),
             expected.toHex(' '));
}

QTEST_APPLESS_MAIN(TestSimFraming)
#include "tst_simframing.moc"
