#include "freshness.h"

#include <QCoreApplication>

namespace Freshness {

State state(bool polling, bool answeredSinceConnect, qint64 msSinceGoodReply, int intervalMs)
{
    if (polling && !answeredSinceConnect)
        return State::NotAnswered;
    if (msSinceGoodReply < 0)
        return State::None;
    if (!polling || msSinceGoodReply >= qint64(StaleAfterIntervals) * intervalMs)
        return State::Stale;
    return State::Live;
}

QString toolTip(State state, const QTime &lastGoodReply)
{
    const QString last = lastGoodReply.isNull()
        ? QString()
        : QCoreApplication::translate("Widget", "最后一次有效应答：%1")
              .arg(lastGoodReply.toString(QStringLiteral("HH:mm:ss")));
    switch (state) {
    case State::NotAnswered: {
        const QString text
            = QCoreApplication::translate("Widget", "连接以来仪表没有应答，显示的不是当前测量值。");
        return last.isEmpty() ? text : text + QLatin1Char('\n') + last;
    }
    case State::Stale:
        return QCoreApplication::translate("Widget", "测量值已过时，不是当前值。") + QLatin1Char('\n') + last;
    case State::Live:
    case State::None:
    default:
        return QString();
    }
}

QString notAnsweredPlaceholder()
{
    return QCoreApplication::translate("Widget", "无应答");
}

} // namespace Freshness
