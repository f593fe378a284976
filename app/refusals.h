#ifndef METERCONFIG_REFUSALS_H
#define METERCONFIG_REFUSALS_H

#include <QString>

class QWidget;

// How the window and its dialogs refuse what they will not send: the fields
// at fault framed in red until they are edited or filled again, and the
// reason in a modal box, like the port that does not open.
namespace Refusals {

void markFault(QWidget *field);
void clearFault(QWidget *field);
bool isMarked(const QWidget *field);
void show(const QString &title, const QString &text, const QString &reason);

} // namespace Refusals

#endif // METERCONFIG_REFUSALS_H
