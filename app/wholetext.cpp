#include "wholetext.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>

#include <cmath>

namespace {

// QLineEdit keeps this much room on either side of its text.
constexpr int LineEditTextMargin = 2;
constexpr qreal PointSizeStep = 0.5;
const char ShowsSignProperty[] = "meterconfigShowsSign";

// The frame as QLineEdit draws it.
QStyleOptionFrame frameOption(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->contentsRect();
    option.lineWidth
        = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (edit->isReadOnly())
        option.state |= QStyle::State_ReadOnly;
    return option;
}

QRect textRect(const QLineEdit *edit)
{
    const QStyleOptionFrame option = frameOption(edit);
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    return contents.adjusted(margins.left() + LineEditTextMargin, margins.top(),
                             -margins.right() - LineEditTextMargin, -margins.bottom());
}

bool showsSign(const QLineEdit *edit)
{
    return edit->property(ShowsSignProperty).toBool();
}

void paintSign(QLineEdit *edit)
{
    QPainter painter(edit);
    const QStyleOptionFrame option = frameOption(edit);
    edit->style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, edit);
    const QRect room = textRect(edit);
    painter.setClipRect(room);
    painter.setFont(edit->font());
    // The palette's text colour, so that a stale value still looks stale.
    painter.setPen(edit->palette().color(QPalette::Text));
    const Qt::Alignment across
        = QStyle::visualAlignment(edit->layoutDirection(), edit->alignment() & Qt::AlignHorizontal_Mask);
    // Whole characters only, as many as there is room for.
    QString sign = WholeTextFitter::cannotFitSign();
    const int mark = painter.fontMetrics().horizontalAdvance(sign.at(0));
    sign.truncate(qMax(1, room.width() / qMax(1, mark)));
    painter.drawText(room, int(across | Qt::AlignVCenter), sign);
}

} // namespace

WholeTextFitter::WholeTextFitter(QObject *parent)
    : QObject(parent)
{ }

void WholeTextFitter::watch(QLineEdit *edit)
{
    add({ edit }, true);
}

void WholeTextFitter::watchTogether(const QVector<QLineEdit *> &edits)
{
    add(edits, false);
}

void WholeTextFitter::add(const QVector<QLineEdit *> &edits, bool textWhileEditing)
{
    Group group;
    group.edits = edits;
    group.formSize = edits.first()->font().pointSizeF();
    group.textWhileEditing = textWhileEditing;
    m_groups.append(group);
    for (QLineEdit *edit : edits) {
        m_groupOf.insert(edit, m_groups.size() - 1);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this, edit]() { fit(edit); });
        connect(edit, &QObject::destroyed, this, [this, edit]() {
            m_groups[m_groupOf.take(edit)].edits.removeAll(edit);
            m_largest.remove(edit);
        });
    }
}

int WholeTextFitter::textRoom(const QLineEdit *edit)
{
    return textRect(edit).width();
}

int WholeTextFitter::textWidth(const QLineEdit *edit, const QFont &font, const QString &text)
{
    // QLineEdit scrolls once the text, one pixel and the cursor exceed the room.
    const int cursor = edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
    return int(std::ceil(QFontMetricsF(font).horizontalAdvance(text))) + 1 + cursor;
}

QString WholeTextFitter::cannotFitSign()
{
    return QStringLiteral("####");
}

QString WholeTextFitter::shownText(const QLineEdit *edit)
{
    return showsSign(edit) ? cannotFitSign() : edit->text();
}

bool WholeTextFitter::eventFilter(QObject *watched, QEvent *event)
{
    // A field being destroyed is no QLineEdit any more, yet its QWidget part
    // still sends events through here.
    auto *edit = qobject_cast<QLineEdit *>(watched);
    if (!edit)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::StyleChange:
        fit(edit);
        break;
    case QEvent::Paint:
        if (showsSign(edit)) {
            paintSign(edit);
            return true;
        }
        break;
    case QEvent::ToolTip:
        if (showsSign(edit)) {
            const QString why = edit->toolTip();
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                               why.isEmpty() ? edit->text() : edit->text() + QLatin1Char('\n') + why, edit);
            return true;
        }
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        fit(edit);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void WholeTextFitter::fit(QLineEdit *edit)
{
    const auto group = m_groupOf.constFind(edit);
    if (group == m_groupOf.constEnd())
        return;
    const Group &members = m_groups.at(*group);
    m_largest.insert(edit, largestFitting(edit, members.formSize, qMin(LegiblePointSize, members.formSize)));
    apply(members);
}

void WholeTextFitter::apply(const Group &group)
{
    qreal size = group.formSize;
    for (QLineEdit *edit : group.edits)
        size = qMin(size, m_largest.value(edit, group.formSize));
    for (QLineEdit *edit : group.edits) {
        QFont font = edit->font();
        font.setPointSizeF(size);
        if (font != edit->font())
            edit->setFont(font);
        const bool typing = group.textWhileEditing && edit->hasFocus();
        const bool sign
            = !typing && !edit->text().isEmpty() && textWidth(edit, font, edit->text()) > textRoom(edit);
        if (sign != showsSign(edit)) {
            edit->setProperty(ShowsSignProperty, sign);
            edit->update();
        }
    }
}

qreal WholeTextFitter::largestFitting(const QLineEdit *edit, qreal formSize, qreal smallest)
{
    const QString text = edit->text();
    const int room = textRoom(edit);
    QFont font = edit->font();
    font.setPointSizeF(formSize);
    const int width = textWidth(edit, font, text);
    if (text.isEmpty() || width <= room)
        return formSize;
    // The width grows about in proportion to the size: start near the
    // answer, then step to the largest size that fits, since hinting keeps
    // the proportion from holding exactly.
    qreal size = std::floor(formSize * room / width / PointSizeStep) * PointSizeStep;
    size = qBound(smallest, size, formSize - PointSizeStep);
    font.setPointSizeF(size);
    while (size > smallest && textWidth(edit, font, text) > room)
        font.setPointSizeF(size -= PointSizeStep);
    for (qreal larger = size + PointSizeStep; larger < formSize; larger += PointSizeStep) {
        font.setPointSizeF(larger);
        if (textWidth(edit, font, text) > room)
            break;
        size = larger;
    }
    return size;
}
