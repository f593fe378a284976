#ifndef METERCONFIG_WHOLETEXT_H
#define METERCONFIG_WHOLETEXT_H

#include <QHash>
#include <QObject>
#include <QVector>

class QFont;
class QLineEdit;

// Keeps the text of a field readable from its first character to its last.
// A QLineEdit too narrow for its text scrolls to the cursor and hides the
// start: "-1000.5" would read as a positive number, "1200.5" as "200.5".
// The field keeps the form's point size wherever the text fits; where it
// does not, the font shrinks just enough, and grows back for a shorter text
// or a wider field. Below the legible size the field shows a sign that no one
// can take for a number, with the value in its tooltip.
class WholeTextFitter : public QObject
{
public:
    // The smallest size a number is shown at; the layout gives every field
    // room for its widest number at this size.
    static constexpr qreal LegiblePointSize = 10.0;

    explicit WholeTextFitter(QObject *parent = nullptr);

    // A field on its own, such as an entry the operator types into: while it
    // has the focus it shows the text being typed, however long.
    void watch(QLineEdit *edit);
    // Fields side by side share one size, the largest at which every one of
    // their texts is whole, so that neighbouring numbers never differ in size.
    void watchTogether(const QVector<QLineEdit *> &edits);

    // The room a text has in the field, in pixels; the field scrolls once
    // its text and the cursor take more.
    static int textRoom(const QLineEdit *edit);
    // The room text in font takes in the field.
    static int textWidth(const QLineEdit *edit, const QFont &font, const QString &text);
    // What a field shows in place of a text it cannot show whole.
    static QString cannotFitSign();
    // The field's text, or the sign if that is what it shows.
    static QString shownText(const QLineEdit *edit);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Group
    {
        QVector<QLineEdit *> edits;
        qreal formSize = 0;
        bool textWhileEditing = false;
    };

    void add(const QVector<QLineEdit *> &edits, bool textWhileEditing);
    void fit(QLineEdit *edit);
    void apply(const Group &group);
    static qreal largestFitting(const QLineEdit *edit, qreal formSize, qreal smallest);

    QVector<Group> m_groups;
    QHash<QLineEdit *, int> m_groupOf;
    // The largest size at which each field's current text fits its current room.
    QHash<QLineEdit *, qreal> m_largest;
};

#endif // METERCONFIG_WHOLETEXT_H
