#include "formroom.h"

#include "wholetext.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>

namespace {

// "/dev/ttyUSB0" and "COM3" whole; longer names are in the popup and tooltip.
constexpr int PortNameCharacters = 12;

void setHorizontalPolicy(QWidget *widget, QSizePolicy::Policy horizontal)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setHorizontalPolicy(horizontal);
    widget->setSizePolicy(policy);
}

} // namespace

void FormRoom::reserveNumberRoom(const QVector<QLineEdit *> &fields, const QString &widest)
{
    for (QLineEdit *field : fields) {
        QFont legible = field->font();
        legible.setPointSizeF(qMin(WholeTextFitter::LegiblePointSize, legible.pointSizeF()));
        const int frame = field->width() - WholeTextFitter::textRoom(field);
        field->setMinimumWidth(WholeTextFitter::textWidth(field, legible, widest) + frame);
        // The size hint follows the font; a shrunken field would otherwise
        // give its room to its neighbours and shrink further.
        setHorizontalPolicy(field, QSizePolicy::Ignored);
        field->setMinimumHeight(field->sizeHint().height());
    }
}

void FormRoom::keepPortBoxWidth(QComboBox *box)
{
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(PortNameCharacters);
    const auto showWhole = [box]() {
        box->setToolTip(box->currentText());
        const QFontMetrics metrics(box->view()->font());
        int widest = 0;
        for (int i = 0; i < box->count(); ++i)
            widest = qMax(widest, metrics.horizontalAdvance(box->itemText(i)));
        box->view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth()
                                     + box->view()->verticalScrollBar()->sizeHint().width());
    };
    QObject::connect(box, &QComboBox::currentTextChanged, box, showWhole);
    QObject::connect(box->model(), &QAbstractItemModel::rowsInserted, box, showWhole);
    QObject::connect(box->model(), &QAbstractItemModel::rowsRemoved, box, showWhole);
    QObject::connect(box->model(), &QAbstractItemModel::modelReset, box, showWhole);
    showWhole();
}

void FormRoom::giveRoomFirst(QBoxLayout *row, QWidget *values)
{
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem *item = row->itemAt(i);
        if (item->widget() == values) {
            row->setStretch(i, 1);
            setHorizontalPolicy(values, QSizePolicy::Expanding);
            continue;
        }
        row->setStretch(i, 0);
        if (QLayout *neighbours = item->layout()) {
            for (int j = 0; j < neighbours->count(); ++j) {
                if (auto *box = qobject_cast<QBoxLayout *>(neighbours))
                    box->setStretch(j, 0);
                if (QWidget *neighbour = neighbours->itemAt(j)->widget()) {
                    setHorizontalPolicy(neighbour, QSizePolicy::Maximum);
                    neighbour->setMaximumWidth(neighbour->minimumSizeHint().width());
                }
            }
        }
    }
}
