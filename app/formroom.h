#ifndef METERCONFIG_FORMROOM_H
#define METERCONFIG_FORMROOM_H

#include <QVector>

class QBoxLayout;
class QComboBox;
class QLineEdit;
class QString;
class QWidget;

// Room in the main window for what matters most, whole numbers, taken from
// the fonts themselves: the form's pixel sizes hold at one font resolution
// only, and a scaled display or a larger system font brings another.
namespace FormRoom {

// Each field keeps room for widest at the legible size, and fields side by
// side keep equal widths however far their fonts have shrunk.
void reserveNumberRoom(const QVector<QLineEdit *> &fields, const QString &widest);

// A long port name widens neither the box nor the window; the popup and the
// tooltip show it whole.
void keepPortBoxWidth(QComboBox *box);

// In row, values take all the room their neighbours do not need to show
// their texts whole.
void giveRoomFirst(QBoxLayout *row, QWidget *values);

} // namespace FormRoom

#endif // METERCONFIG_FORMROOM_H
