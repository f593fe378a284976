// The yardstick for bench_meterctl: the requests of a meterctl backup or
// restore sent by a bare QModbusRtuSerialMaster, nothing else around them.
// Usage: bare_client PORT backup|restore
#include <QCoreApplication>
#include <QEventLoop>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>
#include <QVariant>

namespace {

bool exchange(QModbusReply *reply, QVector<quint16> *words = nullptr)
{
    if (!reply)
        return false;
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QModbusReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const bool ok = reply->error() == QModbusDevice::NoError;
    if (words)
        *words = reply->result().values();
    reply->deleteLater();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return 1;
    QModbusRtuSerialMaster client;
    client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, arguments.at(1));
    client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud115200);
    client.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    client.setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    client.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    client.setTimeout(500);
    client.setNumberOfRetries(2);
    if (!client.connectDevice())
        return 2;

    const auto read = [&client](int start, int count, QVector<quint16> *words = nullptr) {
        return exchange(client.sendReadRequest(
                            QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, quint16(count)), 1),
                        words);
    };
    if (!read(396, 6))
        return 2;
    QVector<QVector<quint16>> tables;
    for (const int start : { 300, 324, 348, 372 }) {
        QVector<quint16> words;
        if (!read(start, 24, &words))
            return 2;
        tables << words;
    }
    if (arguments.at(2) == QLatin1String("restore")) {
        // The same full configuration meterctl restores: every table
        // differs, each is written and read back.
        int table = 0;
        for (const int start : { 300, 324, 348, 372 }) {
            QVector<quint16> words(22);
            for (int i = 0; i < 22; ++i)
                words[i] = quint16(tables.at(table).value(i) ^ 1);
            ++table;
            if (!exchange(client.sendWriteRequest(
                    QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, words), 1))
                || !read(start, 22))
                return 2;
        }
    }
    client.disconnectDevice();
    return 0;
}
