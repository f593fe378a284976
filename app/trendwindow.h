#ifndef METERCONFIG_TRENDWINDOW_H
#define METERCONFIG_TRENDWINDOW_H

#include "valuehistory.h"

#include <QWidget>

#include <qwt_series_data.h>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QTimer;
class QwtLegend;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotDirectPainter;
class TrendZoomer;

// A curve's points, a stretch's lowest and highest value each (one where they
// are the same), and where each run between gaps begins.
class TrendSeries : public QwtArraySeriesData<QPointF>
{
public:
    explicit TrendSeries(const QVector<ValueHistory::Stretch> &stretches);
    QRectF boundingRect() const override { return d_boundingRect; }
    const QVector<int> &runStarts() const { return m_runStarts; }
    // A point that goes on the last run.
    void append(const QPointF &point);

private:
    QVector<int> m_runStarts;
};

// The measured values over time, drawn from the history the main window
// keeps: a curve per channel, zoom, pan, a cursor, and export of what is shown.
class TrendWindow : public QWidget
{
    Q_OBJECT

public:
    // history outlives the window.
    TrendWindow(const ValueHistory *history, QWidget *parent);

    // Shows channel (0-based) as well as those shown already.
    void showChannel(int channel);
    // Every channel the instrument has, or none.
    void showAllChannels(bool shown);
    // The instrument's channel count; the channels above it are not drawn.
    void setChannelCount(int count);
    // A new poll is in the history: drawn once the main window has shown it,
    // several polls at once if they come faster than that.
    void scheduleRefresh();
    // Draws the new polls now, where they change what is shown.
    void refresh();
    // The file the polls are recorded to; empty: none.
    void setRecordingFile(const QString &path);

    // Back to the chosen span, its right edge a tenth of it past the newest
    // poll: the view moves in steps, and between them a poll adds its segment.
    void follow();

    QwtPlot *plot() const { return m_plot; }

    // The time spans offered, in ms; 0 is all of the history.
    static const QVector<qint64> &spans();

    static constexpr int RefreshDelayMs = 15;
    // The longest a change within the last column waits to be drawn: only at
    // spans of hours, where a column is minutes wide, does it wait at all.
    static constexpr qint64 HoldColumnMs = 10000;

private:
    void buildControls();
    void buildPlot();
    // Draws from..to of the history into the curves, one stretch a column of two pixels.
    int columnCount() const;
    void reload();
    // After the operator zoomed or panned: follow while the newest poll is in view.
    void takeOperatorView();
    void applyValueRange();
    void useLocalOffset();
    // Whether the newest poll would change the picture: a new column,
    // a value beyond the last column's, a gap; or, while not following, the
    // first poll right of the view.
    bool newestChangesDrawing();
    // Following, a good poll in a column of its own that continues the
    // curves within the view and the value axis: its segments alone are
    // painted. False: the plot must be drawn anew.
    bool drawNewestAlone();
    void setCurveShown(QwtPlotCurve *curve, bool shown);
    void exportImage();
    void exportData();
    void updateTitle();

    const ValueHistory *m_history;
    QwtPlot *m_plot = nullptr;
    QwtLegend *m_legend = nullptr;
    TrendZoomer *m_zoomer = nullptr;
    QVector<QwtPlotCurve *> m_curves;
    // The channels the operator wants to see; those above the count are not drawn.
    QVector<bool> m_wanted = QVector<bool>(ValueHistory::Channels, false);
    QComboBox *m_span = nullptr;
    QCheckBox *m_fixedRange = nullptr;
    QDoubleSpinBox *m_low = nullptr;
    QDoubleSpinBox *m_high = nullptr;
    int m_channelCount = 0;
    bool m_following = true;
    // The width of the view the operator zoomed to, 0 while it is the span's.
    qint64 m_zoomedWidth = 0;
    QString m_recordingFile;
    QTimer *m_refreshTimer = nullptr;
    QwtPlotDirectPainter *m_directPainter = nullptr;
    // Of the last drawing: the newest poll in it and each channel's last stretch.
    qint64 m_drawnNewest = 0;
    QVector<ValueHistory::Stretch> m_lastStretches;
    bool m_columnChanged = false;
};

// A new file's name in the user's documents folder: stem-DATE-TIME.suffix.
QString documentsFile(const QString &stem, const QString &suffix);

#endif // METERCONFIG_TRENDWINDOW_H
