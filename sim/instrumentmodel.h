#ifndef INSTRUMENTMODEL_H
#define INSTRUMENTMODEL_H

#include <QRandomGenerator>
#include <QVector>

// The register contents of the 22-channel measuring instrument and the slow
// movement of its measured values. No I/O here: the transport asks for words
// and hands over writes, and calls step() once a second.
class InstrumentModel
{
public:
    static constexpr int ChannelCount = 22;
    static constexpr int TableSize = 24;

    static constexpr int CorrectionBase = 300;
    static constexpr int LowerLimitBase = 324;
    static constexpr int UpperLimitBase = 348;
    static constexpr int SensorTypeBase = 372;
    static constexpr int ChannelCountRegister = 396;
    static constexpr int AddressRegister = 397;
    static constexpr int BaudCodeRegister = 398;
    static constexpr int StopBitsRegister = 399;
    static constexpr int ParityRegister = 400;
    static constexpr int BaudErrorRegister = 401;
    static constexpr int DebugRegister = 10000;

    static constexpr int FirstHolding = CorrectionBase;
    static constexpr int LastHolding = BaudErrorRegister;

    explicit InstrumentModel(quint32 seed = 1);

    // Back to the contents the instrument leaves the factory with.
    void reset();

    // True when every register of the block exists.
    bool hasInputs(int start, int count) const;
    bool hasHoldings(int start, int count) const;

    // Measured value in signed tenths; channels at or above the channel
    // count (register 396) read 0. Addresses outside 0-21 read 0.
    quint16 input(int address) const;
    // Sets the measured value of input register address (0-21); drift, when
    // running, moves around this value from now on.
    void setInput(int address, qint16 tenths);

    // Holding registers 300-401 and 10000; other addresses read 0 and
    // ignore writes.
    quint16 holding(int address) const;
    void setHolding(int address, quint16 value);

    // One second of drift: every measured value takes a small random step,
    // kept near its level and inside the channel's range limits.
    void step();
    void reseed(quint32 seed) { m_random.seed(seed); }

private:
    QVector<qint16> m_levels;
    QVector<qint16> m_values;
    QVector<quint16> m_holdings;
    quint16 m_debugCommand = 0;
    QRandomGenerator m_random;
};

#endif // INSTRUMENTMODEL_H
