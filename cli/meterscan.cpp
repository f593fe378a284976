#include "meterscan.h"

#include "interruption.h"
#include "meterconfiguration.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

using namespace RegisterCodec;

int MeterScan::probeTimeoutMs(const LineSetting &setting)
{
    const double character = MeterLink::characterMicroseconds(setting);
    const double silence = std::max(3.5 * character, 1750.0);
    return int(std::ceil((17 * character + silence) / 1000.0)) + 20;
}

double MeterScan::requestWireUs(const LineSetting &setting)
{
    return 8 * MeterLink::characterMicroseconds(setting);
}

QVector<int> MeterScan::baudRatesByUse()
{
    return { 9600, 19200, 115200, 38400, 57600, 4800, 14400, 28800 };
}

MeterScan::MeterScan(MeterLink &link, QTextStream &out, QTextStream &err)
    : m_link(link)
    , m_out(out)
    , m_err(err)
{ }

void MeterScan::showProgress(const Options &options, const LineSetting &setting, int address, int done,
                             int total, int found, qint64 leftMs)
{
    if (!options.progress)
        return;
    constexpr int Width = 30;
    const int filled = total > 0 ? done * Width / total : Width;
    m_err << '\r' << '[' << QString(filled, QLatin1Char('#')) << QString(Width - filled, QLatin1Char(' '))
          << "] " << setting.text() << ", address " << address << ", found " << found << ", "
          << (leftMs + 999) / 1000 << " s left \x1b[K";
    m_err.flush();
}

QJsonObject MeterScan::report(const Options &options, const LineSetting &setting, int address,
                              const QVector<quint16> &words)
{
    QJsonObject meter { { "address", address },
                        { "baudRate", setting.baudRate },
                        { "parity", MeterSchema::LineSettings::parityName(setting.parity) },
                        { "stopBits", setting.stopBits },
                        { "channelCount", words.at(ChannelCountWord) } };
    QJsonObject stored;
    for (const int w : { InstrumentAddressWord, BaudRateWord, ParityWord, StopBitsWord })
        stored.insert(MeterFile::systemKey(w), MeterFile::systemValueText(w, words.at(w)));
    meter.insert(QStringLiteral("stored"), stored);
    if (options.json)
        return meter;
    if (options.progress)
        m_err << "\r\x1b[K";
    m_err.flush();
    m_out << QStringLiteral("address %1 at %2: %3 channels; stored address %4, baud rate %5, "
                            "parity %6, stop bits %7")
                 .arg(address)
                 .arg(setting.text())
                 .arg(words.at(ChannelCountWord))
                 .arg(MeterFile::systemValueText(InstrumentAddressWord, words.at(InstrumentAddressWord)),
                      MeterFile::systemValueText(BaudRateWord, words.at(BaudRateWord)),
                      MeterFile::systemValueText(ParityWord, words.at(ParityWord)),
                      MeterFile::systemValueText(StopBitsWord, words.at(StopBitsWord)))
          << Qt::endl;
    return meter;
}

int MeterScan::run(const Options &options, Interruption *interruption)
{
    if (interruption)
        QObject::connect(interruption, &Interruption::requested, &m_link, &MeterLink::close);
    const int total = options.settings.size() * options.addresses.size();
    QJsonArray found;
    int done = 0;
    for (const LineSetting &setting : options.settings) {
        const int timeout = options.timeoutMs > 0 ? options.timeoutMs : probeTimeoutMs(setting);
        // The client keeps a 3.5-character pause after each frame by itself;
        // its reply timer gets the rest, so that a probe occupies the line
        // for the request and the probe timeout, no more.
        const double character = MeterLink::characterMicroseconds(setting);
        const int pauseMs = int(std::ceil(std::max(3.5 * character, 1750.0) / 1000.0));
        QString error;
        if (!m_link.reopen(setting, std::max(1, timeout - pauseMs), 0, &error)) {
            if (options.progress)
                m_err << "\r\x1b[K";
            // An adapter may lack a rate; the other settings can still be tried.
            m_err << "meterctl: " << error << "; skipping " << setting.text() << Qt::endl;
            done += options.addresses.size();
            continue;
        }
        for (const int address : options.addresses) {
            if (interruption && interruption->isRequested())
                break;
            const int left = total - done;
            showProgress(options, setting, address, done, total, found.size(),
                         qint64(left) * (timeout + qint64(requestWireUs(setting) / 1000)));
            m_link.setServerAddress(address);
            const MeterLink::Result probe = m_link.readHolding(SystemBlockStart, SystemBlockWords);
            ++done;
            if (!probe.ok)
                continue;
            found.append(report(options, setting, address, probe.words));
            if (options.first)
                break;
        }
        if ((options.first && !found.isEmpty()) || (interruption && interruption->isRequested()))
            break;
    }
    m_link.close();
    if (options.progress)
        m_err << "\r\x1b[K";
    if (interruption && interruption->isRequested())
        m_err << "meterctl: scan stopped after " << done << " of " << total << " probes" << Qt::endl;
    if (options.json)
        m_out << QJsonDocument(found).toJson();
    else if (found.isEmpty())
        m_err << "meterctl: no meter answered" << Qt::endl;
    m_out.flush();
    return found.isEmpty() ? 2 : 0;
}
