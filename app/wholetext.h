#ifndef METERCONFIG_WHOLETEXT_H
#define METERCONFIG_WHOLETEXT_H

#include <QHash>
#include <QObject>

class QLineEdit;

// Keeps the text of a field readable from its first character to its last.
// A QLineEdit too narrow for its text scrolls to the cursor and hides the
// start: "-1000.5" would read as a positive number, "1200.5" as "200.5".
// The field keeps the form's point size wherever the text fits; where it
// does not, the font shrinks just enough, and grows back for a shorter text
// or a wider field.
class WholeTextFitter : public QObject
{
public:
    explicit WholeTextFitter(QObject *parent = nullptr);

    void watch(QLineEdit *edit);

    // The room a text has in the field, in pixels; the field scrolls once
    // its text and the cursor take more.
    static int textRoom(const QLineEdit *edit);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fit(QLineEdit *edit);

    // The form's point size of every watched field.
    QHash<QLineEdit *, qreal> m_formSizes;
};

#endif // METERCONFIG_WHOLETEXT_H
