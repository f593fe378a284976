#include "refusals.h"

#include <QMessageBox>
#include <QWidget>

namespace Refusals {

namespace {

const QString FaultStyle = QStringLiteral("border: 2px solid red;");

} // namespace

void markFault(QWidget *field)
{
    field->setStyleSheet(FaultStyle);
}

void clearFault(QWidget *field)
{
    if (isMarked(field))
        field->setStyleSheet(QString());
}

bool isMarked(const QWidget *field)
{
    return field->styleSheet() == FaultStyle;
}

void show(const QString &title, const QString &text, const QString &reason)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    box.setInformativeText(reason);
    box.exec();
}

} // namespace Refusals
