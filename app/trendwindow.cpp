#include "trendwindow.h"

#include "refusals.h"
#include "registercodec.h"
#include "valuehistory.h"
#include "valuerows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_graphic.h>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_directpainter.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_magnifier.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_map.h>

#include <functional>
#include <limits>

TrendSeries::TrendSeries(const QVector<ValueHistory::Stretch> &stretches)
{
    d_samples.reserve(2 * stretches.size());
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (const ValueHistory::Stretch &s : stretches) {
        if (s.breakBefore || d_samples.isEmpty())
            m_runStarts << d_samples.size();
        d_samples << QPointF(double(s.time), s.low);
        if (s.high != s.low)
            d_samples << QPointF(double(s.time), s.high);
        low = std::min(low, s.low);
        high = std::max(high, s.high);
    }
    d_boundingRect = stretches.isEmpty() ? QRectF(0.0, 0.0, -1.0, -1.0)
                                         : QRectF(QPointF(double(stretches.constFirst().time), low),
                                                  QPointF(double(stretches.constLast().time), high));
}

void TrendSeries::append(const QPointF &point)
{
    if (d_samples.isEmpty())
        m_runStarts << 0;
    d_samples << point;
    d_boundingRect = d_boundingRect.isValid() ? d_boundingRect.united(QRectF(point, QSizeF(0.0, 0.0)))
                                              : QRectF(point, QSizeF(0.0, 0.0));
}

namespace {

// Kelly's colours of greatest contrast, white left out: 22 curves that stay
// apart on a white canvas.
const char *const CurveColours[ValueHistory::Channels] = {
    "#0067A5", "#BE0032", "#008856", "#F38400", "#875692", "#222222", "#A1CAF1", "#F3C300",
    "#882D17", "#8DB600", "#E68FAC", "#604E97", "#C2B280", "#848482", "#F99379", "#B3446C",
    "#DCD300", "#654522", "#E25822", "#2B3D26", "#F6A600", "#00A0A0",
};

// Draws each run on its own, so that no line crosses a gap; a run of one
// poll is a dot.
class GapCurve : public QwtPlotCurve
{
public:
    using QwtPlotCurve::QwtPlotCurve;

    void drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                    const QRectF &canvasRect, int from, int to) const override
    {
        const auto *series = static_cast<const TrendSeries *>(data());
        const int last = int(dataSize()) - 1;
        if (to < 0)
            to = last;
        const QVector<int> &starts = series->runStarts();
        for (int r = 0; r < starts.size(); ++r) {
            const int begin = std::max(starts.at(r), from);
            const int end = std::min(r + 1 < starts.size() ? starts.at(r + 1) - 1 : last, to);
            if (begin < end) {
                QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, begin, end);
            } else if (begin == end) {
                const QPointF point = sample(size_t(begin));
                painter->save();
                QPen dot = pen();
                dot.setWidthF(std::max(3.0, dot.widthF() * 3));
                dot.setCapStyle(Qt::RoundCap);
                painter->setPen(dot);
                painter->drawPoint(QPointF(xMap.transform(point.x()), yMap.transform(point.y())));
                painter->restore();
            }
        }
    }

    // A check box in the curve's colour: filled while the curve is shown,
    // empty while hidden, so the legend says at a glance what the plot holds.
    QwtGraphic legendIcon(int, const QSizeF &size) const override
    {
        QwtGraphic icon;
        icon.setDefaultSize(size);
        icon.setRenderHint(QwtGraphic::RenderPensUnscaled, true);
        QPainter painter(&icon);
        const QRectF box(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);
        painter.setPen(QPen(pen().color(), 1.0));
        painter.setBrush(isVisible() ? QBrush(pen().color()) : QBrush(Qt::white));
        painter.drawRect(box);
        if (isVisible()) {
            painter.setPen(QPen(Qt::white, std::max(1.5, size.width() / 6.0)));
            QPolygonF tick;
            tick << box.topLeft() + QPointF(0.2 * box.width(), 0.5 * box.height())
                 << box.topLeft() + QPointF(0.42 * box.width(), 0.75 * box.height())
                 << box.topLeft() + QPointF(0.8 * box.width(), 0.25 * box.height());
            painter.drawPolyline(tick);
        }
        return icon;
    }
};

QString channelTitle(int channel)
{
    return QStringLiteral("通道%1").arg(channel + 1);
}

} // namespace

// The rectangle zoom, and the cursor that tells the time and the values under the mouse.
class TrendZoomer : public QwtPlotZoomer
{
public:
    using QwtPlotZoomer::QwtPlotZoomer;
    std::function<QString(const QPointF &)> text;

protected:
    QwtText trackerTextF(const QPointF &position) const override
    {
        QwtText label(text ? text(position) : QString());
        label.setBackgroundBrush(QColor(255, 255, 255, 220));
        label.setRenderFlags(Qt::AlignLeft);
        return label;
    }
};

namespace {

// The wheel zoom, telling when it has changed the view.
class TrendMagnifier : public QwtPlotMagnifier
{
public:
    TrendMagnifier(QWidget *canvas, std::function<void()> changed)
        : QwtPlotMagnifier(canvas)
        , m_changed(std::move(changed))
    { }

protected:
    void rescale(double factor) override
    {
        QwtPlotMagnifier::rescale(factor);
        m_changed();
    }

private:
    std::function<void()> m_changed;
};

} // namespace

const QVector<qint64> &TrendWindow::spans()
{
    static const QVector<qint64> all { 60'000, 600'000, 3'600'000, 8 * 3'600'000, 0 };
    return all;
}

TrendWindow::TrendWindow(const ValueHistory *history, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_history(history)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A moment after the poll, so that the main window paints its new values
    // first; polls that come faster than that are drawn together.
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(RefreshDelayMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &TrendWindow::refresh);
    buildPlot();
    buildControls();
    resize(1000, 600);
    updateTitle();
}

void TrendWindow::buildControls()
{
    m_span = new QComboBox(this);
    m_span->addItems({ QStringLiteral("1 分钟"), QStringLiteral("10 分钟"), QStringLiteral("1 小时"),
                       QStringLiteral("8 小时"), QStringLiteral("全部") });
    m_span->setCurrentIndex(1);
    connect(m_span, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TrendWindow::follow);
    auto *followButton = new QPushButton(QStringLiteral("跟随最新"), this);
    connect(followButton, &QPushButton::clicked, this, &TrendWindow::follow);
    auto *allButton = new QPushButton(QStringLiteral("全部显示"), this);
    connect(allButton, &QPushButton::clicked, this, [this]() { showAllChannels(true); });
    auto *noneButton = new QPushButton(QStringLiteral("全部隐藏"), this);
    connect(noneButton, &QPushButton::clicked, this, [this]() { showAllChannels(false); });

    m_fixedRange = new QCheckBox(QStringLiteral("固定范围"), this);
    m_low = new QDoubleSpinBox(this);
    m_high = new QDoubleSpinBox(this);
    for (QDoubleSpinBox *box : { m_low, m_high }) {
        box->setDecimals(1);
        box->setRange(-3276.8, 3276.7);
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &TrendWindow::applyValueRange);
    }
    m_high->setValue(100.0);
    for (QDoubleSpinBox *box : { m_low, m_high }) {
        box->setEnabled(false);
        connect(m_fixedRange, &QCheckBox::toggled, box, &QWidget::setEnabled);
    }
    connect(m_fixedRange, &QCheckBox::toggled, this, &TrendWindow::applyValueRange);

    auto *imageButton = new QPushButton(QStringLiteral("导出图片…"), this);
    connect(imageButton, &QPushButton::clicked, this, &TrendWindow::exportImage);
    auto *dataButton = new QPushButton(QStringLiteral("导出数据…"), this);
    connect(dataButton, &QPushButton::clicked, this, &TrendWindow::exportData);

    auto *controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("时间范围："), this));
    controls->addWidget(m_span);
    controls->addWidget(followButton);
    controls->addSpacing(12);
    controls->addWidget(allButton);
    controls->addWidget(noneButton);
    controls->addSpacing(12);
    controls->addWidget(m_fixedRange);
    controls->addWidget(new QLabel(QStringLiteral("下限："), this));
    controls->addWidget(m_low);
    controls->addWidget(new QLabel(QStringLiteral("上限："), this));
    controls->addWidget(m_high);
    controls->addStretch();
    controls->addWidget(imageButton);
    controls->addWidget(dataButton);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_plot, 1);
}

void TrendWindow::buildPlot()
{
    m_plot = new QwtPlot(this);
    m_plot->setCanvasBackground(Qt::white);
    // The window system keeps what was painted; a second picture of the
    // canvas, made anew at every redraw, cost more than the curves of an hour.
    if (auto *canvas = qobject_cast<QwtPlotCanvas *>(m_plot->canvas()))
        canvas->setPaintAttribute(QwtPlotCanvas::BackingStore, false);
    // A fixed offset from UTC, set to the local one as the window follows:
    // local time proper would ask the time-zone files for every tick.
    auto *dates = new QwtDateScaleDraw(Qt::OffsetFromUTC);
    dates->setDateFormat(QwtDate::Second, QStringLiteral("HH:mm:ss"));
    dates->setDateFormat(QwtDate::Minute, QStringLiteral("HH:mm"));
    dates->setDateFormat(QwtDate::Hour, QStringLiteral("HH:mm"));
    dates->setDateFormat(QwtDate::Day, QStringLiteral("MM-dd"));
    m_plot->setAxisScaleDraw(QwtPlot::xBottom, dates);
    m_plot->setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::OffsetFromUTC));
    useLocalOffset();

    auto *grid = new QwtPlotGrid;
    grid->setMajorPen(QColor(225, 225, 225), 0.0, Qt::SolidLine);
    grid->attach(m_plot);

    for (int c = 0; c < ValueHistory::Channels; ++c) {
        auto *curve = new GapCurve(channelTitle(c));
        // One device pixel wide: the raster engine draws thin lines on its fast path.
        curve->setPen(QColor(QLatin1String(CurveColours[c])), 0.0);
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, false);
        // The painter clips what lies outside the canvas; clipping the polygons first costs more.
        curve->setPaintAttribute(QwtPlotCurve::ClipPolygons, false);
        curve->setData(new TrendSeries({}));
        curve->setVisible(false);
        curve->setItemAttribute(QwtPlotItem::Legend, false);
        curve->setLegendIconSize(QSize(12, 12));
        curve->attach(m_plot);
        m_curves << curve;
    }

    m_legend = new QwtLegend;
    m_legend->setDefaultItemMode(QwtLegendData::Checkable);
    m_legend->setMaxColumns(11);
    m_plot->insertLegend(m_legend, QwtPlot::BottomLegend);
    connect(m_legend, &QwtLegend::checked, this, [this](const QVariant &info, bool on, int) {
        if (auto *curve = dynamic_cast<QwtPlotCurve *>(m_plot->infoToItem(info)))
            setCurveShown(curve, on);
        reload();
        m_plot->replot();
    });

    m_zoomer = new TrendZoomer(m_plot->canvas());
    m_zoomer->setTrackerMode(QwtPicker::AlwaysOn);
    // Right click: back to following the newest poll; middle drag pans.
    m_zoomer->setMousePattern(QwtEventPattern::MouseSelect3, Qt::LeftButton, Qt::ShiftModifier);
    m_zoomer->text = [this](const QPointF &position) {
        const qint64 time = qint64(position.x());
        QString text = QDateTime::fromMSecsSinceEpoch(time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        // The poll nearest the cursor, if one is close enough to stand for it.
        const int after = m_history->lowerBound(time);
        int nearest = after;
        if (after > 0
            && (after == m_history->size()
                || time - m_history->row(after - 1).time < m_history->row(after).time - time))
            nearest = after - 1;
        const ValueHistory::Row *row = nearest < m_history->size() ? &m_history->row(nearest) : nullptr;
        if (row && std::abs(row->time - time) > ValueHistory::DefaultMaxStepMs)
            row = nullptr;
        for (int c = 0; c < m_curves.size(); ++c) {
            if (!m_curves.at(c)->isVisible())
                continue;
            const QString value = row && row->good && c < row->channelCount
                ? RegisterCodec::signedTenthsText(row->words[size_t(c)])
                : QStringLiteral("—");
            text += QLatin1Char('\n') + channelTitle(c) + QStringLiteral("：") + value;
        }
        return text;
    };
    connect(m_zoomer, &QwtPlotZoomer::zoomed, this, [this]() {
        if (m_zoomer->zoomRectIndex() == 0)
            follow();
        else
            takeOperatorView();
    });
    auto *panner = new QwtPlotPanner(m_plot->canvas());
    panner->setMouseButton(Qt::MiddleButton);
    connect(panner, &QwtPlotPanner::panned, this, &TrendWindow::takeOperatorView);
    new TrendMagnifier(m_plot->canvas(), [this]() { takeOperatorView(); });
}

void TrendWindow::showChannel(int channel)
{
    if (channel >= 0 && channel < m_curves.size())
        setCurveShown(m_curves.at(channel), true);
    reload();
    m_plot->replot();
}

void TrendWindow::showAllChannels(bool shown)
{
    for (QwtPlotCurve *curve : qAsConst(m_curves))
        setCurveShown(curve, shown);
    reload();
    m_plot->replot();
}

void TrendWindow::setCurveShown(QwtPlotCurve *curve, bool shown)
{
    const int channel = m_curves.indexOf(curve);
    m_wanted[channel] = shown;
    curve->setVisible(shown && channel < m_channelCount);
    curve->legendChanged();
    if (auto *label = qobject_cast<QwtLegendLabel *>(m_legend->legendWidget(m_plot->itemToInfo(curve))))
        label->setChecked(shown);
}

void TrendWindow::setChannelCount(int count)
{
    if (count == m_channelCount)
        return;
    m_channelCount = count;
    for (int c = 0; c < m_curves.size(); ++c) {
        QwtPlotCurve *curve = m_curves.at(c);
        curve->setItemAttribute(QwtPlotItem::Legend, c < count);
        setCurveShown(curve, m_wanted.at(c));
    }
}

void TrendWindow::scheduleRefresh()
{
    if (isVisible())
        m_refreshTimer->start();
}

bool TrendWindow::newestChangesDrawing()
{
    if (m_history->isEmpty())
        return false;
    const ValueHistory::Row &newest = m_history->row(m_history->size() - 1);
    const QwtScaleDiv &x = m_plot->axisScaleDiv(QwtPlot::xBottom);
    if (!m_following)
        return m_history->lowerBound(qint64(x.upperBound()) + 1) >= m_history->size() - 1;
    const double msPerColumn = x.range() / double(columnCount());
    const qint64 sinceDrawn = newest.time - m_drawnNewest;
    if (!newest.good || double(sinceDrawn) >= msPerColumn)
        return true;
    // Within the last column drawn: its lowest or highest value may have
    // moved, which waits a few seconds at long spans.
    for (int c = 0; c < m_curves.size(); ++c) {
        if (!m_curves.at(c)->isVisible())
            continue;
        if (c >= newest.channelCount || c >= m_lastStretches.size())
            return true;
        const double value = RegisterCodec::signedTenths(newest.words[size_t(c)]);
        const ValueHistory::Stretch &last = m_lastStretches.at(c);
        if (last.time < 0 || value < last.low || value > last.high)
            m_columnChanged = true;
    }
    return m_columnChanged && sinceDrawn >= HoldColumnMs;
}

void TrendWindow::refresh()
{
    if (!isVisible() || (m_following && drawNewestAlone()) || !newestChangesDrawing())
        return;
    if (m_following)
        follow();
    else {
        reload();
        m_plot->replot();
    }
}

void TrendWindow::follow()
{
    m_following = true;
    m_zoomedWidth = 0;
    const qint64 span = spans().value(m_span ? m_span->currentIndex() : 1);
    const qint64 newest = m_history->isEmpty() ? QDateTime::currentMSecsSinceEpoch()
                                               : m_history->row(m_history->size() - 1).time;
    const qint64 oldest = m_history->isEmpty() ? newest : m_history->row(0).time;
    const qint64 width = span > 0 ? span : std::max<qint64>(newest - oldest, 60'000);
    const qint64 lead = width / 10;
    useLocalOffset();
    m_plot->setAxisScale(QwtPlot::xBottom, double(span > 0 ? newest + lead - width : newest - width),
                         double(newest + lead));
    applyValueRange();
}

void TrendWindow::useLocalOffset()
{
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    auto *dates = static_cast<QwtDateScaleDraw *>(m_plot->axisScaleDraw(QwtPlot::xBottom));
    if (dates->utcOffset() == offset)
        return;
    dates->setUtcOffset(offset);
    static_cast<QwtDateScaleEngine *>(m_plot->axisScaleEngine(QwtPlot::xBottom))->setUtcOffset(offset);
}

void TrendWindow::applyValueRange()
{
    if (m_fixedRange && m_fixedRange->isChecked())
        m_plot->setAxisScale(QwtPlot::yLeft, std::min(m_low->value(), m_high->value()),
                             std::max(m_low->value(), m_high->value()));
    else
        m_plot->setAxisAutoScale(QwtPlot::yLeft, true);
    reload();
    m_plot->replot();
    m_zoomer->setZoomBase(false);
}

void TrendWindow::takeOperatorView()
{
    const QwtScaleDiv &x = m_plot->axisScaleDiv(QwtPlot::xBottom);
    const qint64 newest = m_history->isEmpty() ? 0 : m_history->row(m_history->size() - 1).time;
    m_following = x.upperBound() >= double(newest);
    if (m_following) {
        m_zoomedWidth = qint64(x.range());
        m_plot->setAxisScale(QwtPlot::xBottom, double(newest - m_zoomedWidth), double(newest));
    }
    reload();
    m_plot->replot();
}

bool TrendWindow::drawNewestAlone()
{
    const int size = m_history->size();
    if (size < 2 || m_lastStretches.size() != m_curves.size())
        return false;
    const ValueHistory::Row &newest = m_history->row(size - 1);
    const ValueHistory::Row &before = m_history->row(size - 2);
    const QwtScaleDiv &x = m_plot->axisScaleDiv(QwtPlot::xBottom);
    const QwtScaleDiv &y = m_plot->axisScaleDiv(QwtPlot::yLeft);
    if (!newest.good || !before.good || before.time != m_drawnNewest
        || newest.channelCount != before.channelCount || newest.time - before.time > m_history->maxStepMs()
        || double(newest.time) > x.upperBound()
        || double(newest.time - m_drawnNewest) < x.range() / double(columnCount()))
        return false;
    // An auto-scaled axis fits the curves: a value beyond all of them moves it.
    const bool fitted = m_plot->axisAutoScale(QwtPlot::yLeft);
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    QVector<int> shown;
    for (int c = 0; c < m_curves.size(); ++c) {
        const QwtPlotCurve *curve = m_curves.at(c);
        if (!curve->isVisible())
            continue;
        if (curve->dataSize() == 0)
            return false;
        low = std::min(low, curve->boundingRect().top());
        high = std::max(high, curve->boundingRect().bottom());
        shown << c;
    }
    for (int c : qAsConst(shown)) {
        const double value = RegisterCodec::signedTenths(newest.words[size_t(c)]);
        if (!y.contains(value) || (fitted && (value < low || value > high)))
            return false;
    }
    // Painted over what the canvas shows; a redraw still to come paints the
    // same point, which the curve already holds.
    if (!m_directPainter) {
        m_directPainter = new QwtPlotDirectPainter(this);
        m_directPainter->setClipping(true);
    }
    const QwtScaleMap xMap = m_plot->canvasMap(QwtPlot::xBottom);
    const QwtScaleMap yMap = m_plot->canvasMap(QwtPlot::yLeft);
    for (int c : qAsConst(shown)) {
        QwtPlotCurve *curve = m_curves.at(c);
        auto *series = static_cast<TrendSeries *>(curve->data());
        const QPointF last = series->sample(series->size() - 1);
        const QPointF point(double(newest.time), RegisterCodec::signedTenths(newest.words[size_t(c)]));
        series->append(point);
        const QRectF segment = QRectF(QPointF(xMap.transform(last.x()), yMap.transform(last.y())),
                                      QPointF(xMap.transform(point.x()), yMap.transform(point.y())))
                                   .normalized()
                                   .adjusted(-2.0, -2.0, 2.0, 2.0);
        m_directPainter->setClipRegion(QRegion(segment.toAlignedRect()));
        // From the point before the last as well, so that the join is the one a polyline has.
        const int newestIndex = int(series->size()) - 1;
        m_directPainter->drawSeries(curve, std::max(series->runStarts().constLast(), newestIndex - 2),
                                    newestIndex);
        m_lastStretches[c] = ValueHistory::Stretch { newest.time, point.y(), point.y(), false };
    }
    m_drawnNewest = newest.time;
    m_columnChanged = false;
    return true;
}

int TrendWindow::columnCount() const
{
    // Two device pixels a column: each column's lowest and highest value
    // still shows every spike, and a redraw paints half the segments.
    constexpr double PixelsPerColumn = 2.0;
    return std::max(1, int(m_plot->canvas()->width() * devicePixelRatioF() / PixelsPerColumn));
}

void TrendWindow::reload()
{
    const QwtScaleDiv &x = m_plot->axisScaleDiv(QwtPlot::xBottom);
    const QVector<QVector<ValueHistory::Stretch>> stretches
        = m_history->envelopes(qint64(x.lowerBound()), qint64(x.upperBound()), columnCount());
    // What the newest column shows, against which the next polls are weighed.
    m_drawnNewest = m_history->isEmpty() ? 0 : m_history->row(m_history->size() - 1).time;
    m_lastStretches.fill(ValueHistory::Stretch { -1, 0.0, 0.0, true }, m_curves.size());
    m_columnChanged = false;
    for (int c = 0; c < m_curves.size(); ++c) {
        QwtPlotCurve *curve = m_curves.at(c);
        const QVector<ValueHistory::Stretch> &own = stretches.at(c);
        curve->setData(new TrendSeries(curve->isVisible() ? own : QVector<ValueHistory::Stretch>()));
        if (!own.isEmpty())
            m_lastStretches[c] = own.constLast();
    }
}

void TrendWindow::setRecordingFile(const QString &path)
{
    m_recordingFile = path;
    updateTitle();
}

void TrendWindow::updateTitle()
{
    QString title = QStringLiteral("趋势图");
    if (!m_recordingFile.isEmpty())
        title += QStringLiteral(" — 记录中：") + QFileInfo(m_recordingFile).fileName();
    setWindowTitle(title);
}

QString documentsFile(const QString &stem, const QString &suffix)
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/') + stem
        + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss.")) + suffix;
}

namespace {

void showExportFailure(const QString &path, const QString &reason)
{
    Refusals::show(QStringLiteral("导出失败"),
                   QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(path)), reason);
}

} // namespace

void TrendWindow::exportImage()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出图片"), documentsFile(QStringLiteral("meterconfig-trend"), "png"),
        QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    QImageWriter writer(path, "png");
    if (!writer.write(m_plot->grab().toImage()))
        showExportFailure(path, writer.errorString());
}

void TrendWindow::exportData()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出数据"), documentsFile(QStringLiteral("meterconfig-trend"), "csv"),
        QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    const QwtScaleDiv &x = m_plot->axisScaleDiv(QwtPlot::xBottom);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QByteArray text = ValueRows::csvHeader(false).toUtf8() + '\n';
        const int end = m_history->lowerBound(qint64(x.upperBound()) + 1);
        for (int i = m_history->lowerBound(qint64(x.lowerBound())); i < end; ++i) {
            const ValueHistory::Row &row = m_history->row(i);
            const QVector<quint16> words(row.words.cbegin(), row.words.cbegin() + row.channelCount);
            text += ValueRows::csvRow(QDateTime::fromMSecsSinceEpoch(row.time), 0, words, row.channelCount,
                                      row.good ? QString() : m_history->reason(row))
                        .toUtf8()
                + '\n';
        }
        file.write(text);
        if (file.commit())
            return;
    }
    showExportFailure(path, file.errorString());
}
