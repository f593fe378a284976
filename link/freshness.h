#ifndef METERCONFIG_FRESHNESS_H
#define METERCONFIG_FRESHNESS_H

#include <QString>
#include <QTime>

// Whether the measured values on screen are the instrument's current ones.
// A silent instrument or a closed link leaves the last values standing; they
// must not then read as live.
namespace Freshness {

// A value older than this many poll intervals is no longer shown as live.
constexpr int StaleAfterIntervals = 3;

enum class State {
    // Nothing to mark: never connected, nothing answered yet.
    None,
    // Polling, and the last good reply is recent.
    Live,
    // What is shown is older than that, or the link no longer polls.
    Stale,
    // Polling, but not a single good reply since connecting.
    NotAnswered,
};

// polling: the window is in connected mode with the Modbus link open.
// msSinceGoodReply: since the last good poll reply, -1 if none ever.
// answeredSinceConnect: a good poll reply came in this connection.
State state(bool polling, bool answeredSinceConnect, qint64 msSinceGoodReply, int intervalMs);

// The tooltip of the values and their group; lastGoodReply is null if none ever.
QString toolTip(State state, const QTime &lastGoodReply);

// What the blank value fields show while the instrument has not answered.
QString notAnsweredPlaceholder();

} // namespace Freshness

#endif // METERCONFIG_FRESHNESS_H
