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
    font.setPointSizeF(*formSize);
    const auto widthAt = [&text](const QFont &f) {
        return std::ceil(QFontMetricsF(f).horizontalAdvance(text)) + 1;
    };
    const qreal width = widthAt(font);
    if (width > room) {
        // The width grows about in proportion to the size: start near the
        // answer, then step to the largest size that fits, since hinting
        // keeps the proportion from holding exactly.
        qreal size = std::floor(*formSize * room / width / PointSizeStep) * PointSizeStep;
        size = qBound(SmallestPointSize, size, *formSize - PointSizeStep);
        font.setPointSizeF(size);
        while (size > SmallestPointSize && widthAt(font) > room)
            font.setPointSizeF(size -= PointSizeStep);
        QFont larger = font;
        larger.setPointSizeF(size + PointSizeStep);
        while (larger.pointSizeF() < *formSize && widthAt(larger) <= room) {
            font = larger;
            larger.setPointSizeF(larger.pointSizeF() + PointSizeStep);
        }
    }
    if (font != edit->font())
        edit->setFont(font);
}
