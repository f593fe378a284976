#include "wholetext.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include <cmath>

namespace {

// QLineEdit keeps this much room on either side of its text.
constexpr int LineEditTextMargin = 2;
// Below this a shrunken value would be hard to read at all; the font never goes smaller.
constexpr qreal SmallestPointSize = 6.0;
constexpr qreal PointSizeStep = 0.5;

} // namespace

WholeTextFitter::WholeTextFitter(QObject *parent)
    : QObject(parent)
{ }

void WholeTextFitter::watch(QLineEdit *edit)
{
    m_formSizes.insert(edit, edit->font().pointSizeF());
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textChanged, this, [this, edit]() { fit(edit); });
    connect(edit, &QObject::destroyed, this, [this, edit]() { m_formSizes.remove(edit); });
}

int WholeTextFitter::textRoom(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->contentsRect();
    option.lineWidth
        = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    return contents.width() - margins.left() - margins.right() - 2 * LineEditTextMargin;
}

int WholeTextFitter::textWidth(const QLineEdit *edit, const QString &text)
{
    // The line edit scrolls once its text and the cursor take more than the room.
    return int(std::ceil(QFontMetricsF(edit->font()).horizontalAdvance(text))) + 1;
}

bool WholeTextFitter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize)
        fit(static_cast<QLineEdit *>(watched));
    return QObject::eventFilter(watched, event);
}

void WholeTextFitter::fit(QLineEdit *edit)
{
    const auto formSize = m_formSizes.constFind(edit);
    if (formSize == m_formSizes.constEnd())
        return;
    const int room = textRoom(edit);
    const QString text = edit->text();
    QFont font = edit->font();
    qreal size = *formSize;
    font.setPointSizeF(size);
    while (size > SmallestPointSize && std::ceil(QFontMetricsF(font).horizontalAdvance(text)) + 1 > room) {
        size -= PointSizeStep;
        font.setPointSizeF(size);
    }
    if (font != edit->font())
        edit->setFont(font);
}
