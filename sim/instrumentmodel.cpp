#include "instrumentmodel.h"

namespace {

// A drifting value stays within this many tenths of its level.
constexpr int DriftSpan = 50;
constexpr int DriftStep = 3;

struct FactoryChannel
{
    quint16 sensorType; // index into the tool's sensor-type list
    qint16 lowerLimit;
    qint16 upperLimit;
    qint16 level; // measured value, tenths
};

// A plausible installation: furnace and pipe thermocouples, resistance
// thermometers (one in a cold store), and transmitters on current loops.
constexpr FactoryChannel FactoryChannels[InstrumentModel::ChannelCount] = {
    { 0, -200, 1300, 253 }, { 0, -200, 1300, 1806 }, { 0, -200, 1300, 3124 }, { 0, -200, 1300, 248 },
    { 0, -200, 1300, 950 }, { 0, -200, 1300, 1502 }, { 3, -200, 1200, 653 },  { 3, -200, 1200, 701 },
    { 21, -200, 850, 214 }, { 21, -200, 850, -185 }, { 21, -200, 850, 42 },   { 21, -200, 850, 370 },
    { 20, -50, 150, 220 },  { 20, -50, 150, 235 },   { 13, 0, 1000, 5123 },   { 13, 0, 1000, 2500 },
    { 13, 0, 1000, 7608 },  { 13, 0, 1000, 1004 },   { 12, 0, 1000, 3333 },   { 12, 0, 1000, 50 },
    { 17, 0, 100, 456 },    { 31, 0, 1000, 6200 },
};

} // namespace

InstrumentModel::InstrumentModel(quint32 seed)
    : m_random(seed)
{
    reset();
}

void InstrumentModel::reset()
{
    m_holdings.fill(0, LastHolding - FirstHolding + 1);
    m_levels.resize(ChannelCount);
    m_values.resize(ChannelCount);
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const FactoryChannel &factory = FactoryChannels[channel];
        setHolding(SensorTypeBase + channel, factory.sensorType);
        setHolding(LowerLimitBase + channel, quint16(factory.lowerLimit));
        setHolding(UpperLimitBase + channel, quint16(factory.upperLimit));
        m_levels[channel] = factory.level;
        m_values[channel] = factory.level;
    }
    setHolding(ChannelCountRegister, ChannelCount);
    setHolding(AddressRegister, 1);
    setHolding(BaudCodeRegister, 7); // 115200
    setHolding(StopBitsRegister, 1);
    setHolding(ParityRegister, 0);
    setHolding(BaudErrorRegister, 3);
    m_debugCommand = 0;
}

bool InstrumentModel::hasInputs(int start, int count) const
{
    return count > 0 && start >= 0 && start + count <= ChannelCount;
}

bool InstrumentModel::hasHoldings(int start, int count) const
{
    if (count <= 0)
        return false;
    if (start == DebugRegister)
        return count == 1;
    return start >= FirstHolding && start + count - 1 <= LastHolding;
}

quint16 InstrumentModel::input(int address) const
{
    if (address < 0 || address >= ChannelCount || address >= holding(ChannelCountRegister))
        return 0;
    return quint16(m_values.at(address));
}

void InstrumentModel::setInput(int address, qint16 tenths)
{
    if (address < 0 || address >= ChannelCount)
        return;
    m_levels[address] = tenths;
    m_values[address] = tenths;
}

quint16 InstrumentModel::holding(int address) const
{
    if (address == DebugRegister)
        return m_debugCommand;
    if (address < FirstHolding || address > LastHolding)
        return 0;
    return m_holdings.at(address - FirstHolding);
}

void InstrumentModel::setHolding(int address, quint16 value)
{
    if (address == DebugRegister)
        m_debugCommand = value;
    else if (address >= FirstHolding && address <= LastHolding)
        m_holdings[address - FirstHolding] = value;
}

void InstrumentModel::step()
{
    for (int channel = 0; channel < ChannelCount; ++channel) {
        const int level = m_levels.at(channel);
        // Range limits are in whole units, values in tenths.
        const int lower = qint16(holding(LowerLimitBase + channel)) * 10;
        const int upper = qint16(holding(UpperLimitBase + channel)) * 10;
        int value = m_values.at(channel) + m_random.bounded(-DriftStep, DriftStep + 1);
        value = qBound(level - DriftSpan, value, level + DriftSpan);
        if (lower < upper)
            value = qBound(lower, value, upper);
        m_values[channel] = qint16(qBound(-32768, value, 32767));
    }
}
