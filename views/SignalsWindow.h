// Live time graphs of the sample stream: the diff of the chosen channels with
// their sensitivity thresholds and touch intervals, their reference and sense
// counts, and the newest diff of every channel as bars.
//
// Everything drawn is read from the stream's history, so closing and opening
// the window loses nothing, and drawing never sets the pace of collection:
// arrivals only mark the view stale, and a timer redraws at most 25 times a
// second, and only when something changed.
//
// Only the visible span is drawn, thinned to a lowest and highest point per
// pixel column; while the view follows the newest samples, a redraw appends
// what came and drops what scrolled out instead of filling the graphs again,
// and the view moves on by whole pixel columns, so the lines already drawn
// are kept as an image that only moves (TraceRaster).
// Lines break where the history says a channel's samples do not join, and
// samples show as markers when those in view are fewer than the plot's pixels.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "app/limits.h"
#include "data/SpanStats.h"
#include "ui_SignalsWindow.h"

class SampleStream;
class QCustomPlot;
class QCPBars;
class QCPGraph;
class QCPRange;
class QCPTextElement;
class QMouseEvent;
class TouchShading;
class TraceRaster;

class RegisterImage;
struct BoardConfig;

class SignalsWindow : public QWidget, private Ui::SignalsWindow {
    Q_OBJECT
public:
    static constexpr int kRedrawIntervalMs = 40;

    // The board's channels and SBFs as configured; its family picks the
    // sensitivity registers, whose values in image (when given) are drawn as
    // threshold lines. The window keeps its place in config.ini of the
    // board's working directory.
    SignalsWindow(SampleStream* stream, const RegisterImage* image, const BoardConfig& config,
                  QWidget* parent = nullptr);
    ~SignalsWindow() override;

    QCustomPlot* diffPlot() const { return plot_Diff; }
    QCustomPlot* countsPlot() const { return plot_Counts; }
    QCustomPlot* barsPlot() const { return plot_Bars; }

    void setChannelChosen(int channel, bool chosen);
    // 0-based SBF, or -1 for every configured one.
    void setSbfChoice(int sbf);
    void setSpanSeconds(int seconds);
    int spanSeconds() const { return m_SpanS; }
    void setPaused(bool paused);
    bool isPaused() const { return m_Paused; }
    bool isFollowing() const { return m_Following; }
    // Back to the newest samples with the value axes fitted to them.
    void follow();
    // Redraws so far; a test can tell a frozen view from a live one.
    quint64 redrawCount() const { return m_Redraws; }
    // Threshold drawn for a channel: its sensitivity register as last seen.
    int thresholdShown(int channel) const { return m_Threshold[channel]; }
    // Time the last redraw took to fill the graphs (the plots' replotTime()
    // adds their drawing).
    double lastFillMs() const { return m_LastFillMs; }

    // The statistics strip as tab-separated text with a header line: what
    // Copy puts on the clipboard.
    QString statisticsText() const;

    // The three graphs as one PNG, written atomically; false with a reason.
    bool saveImage(const QString& path, QString* error);

    // A channel's colour: its lamp in the list, its lines and bars.
    static QColor channelColour(int ch);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void tick();
    void saveImageClicked();
    void copyStatistics();

private:
    // A value range with a little room above and below; a flat line gets a
    // band around it.
    static QCPRange PaddedRange(double lo, double hi);
    void setupPlots();
    void setupBars();
    void rebuildGraphs();
    void redraw();
    void fillView(double* shownLo, double* shownHi);
    bool alignTimeAxes();
    struct Trace;
    void fillTimeGraphs(double xLo, double xHi, bool full);
    void fillTrace(Trace& t, double xLo, double xHi);
    bool appendTrace(Trace& t, double xLo, double* changedFrom);
    void setMarkers(Trace& t, bool markers);
    qsizetype samplesInView(double xLo, double xHi) const;
    void fitValueAxes(double xLo, double xHi);
    void updateStatistics(double xLo, double xHi, bool force);
    QString touchesAt(double x) const;
    void fillBars();
    void shadeTouches(double xLo, double xHi);
    bool pollThresholds();
    void userMovedView(QCustomPlot* plot);
    void showHover(QCustomPlot* plot, const QPoint& pos);
    void saveGeometryToConfig();

    QPointer<SampleStream> m_Stream;
    int m_Channels;
    int m_Sbfs;
    int m_Family;
    QString m_WorkDir;
    QTimer m_Tick;
    int m_SpanS = 30;
    int m_SbfChoice = 0;
    bool m_Paused = false;
    qint64 m_FrozenMs = -1;  // newest time shown when the view was paused
    bool m_Following = true;
    bool m_DataDirty = true;  // samples, touches or thresholds arrived
    bool m_ViewDirty = true;  // choice, span or view moved
    bool m_Redrawing = false;
    bool m_Refill = true;  // the graphs no longer hold what a later append builds on
    quint64 m_Redraws = 0;
    double m_LastFillMs = 0;
    int m_PlotPixels = 0;
    bool m_Markers = false;
    double m_ColumnWidth = 0;  // s per pixel column of the thinning grid
    double m_DrawnLo = 0, m_DrawnHi = 0;
    QElapsedTimer m_StatsClock;
    QVector<SpanStats> m_Stats;
    int m_Threshold[kMaxChannels] = {};
    bool m_ThresholdKnown = false;
    QPointer<const RegisterImage> m_Image;

    // Per chosen channel and SBF, in the order of the graphs.
    struct Trace {
        int channel;
        int sbf;
        QCPGraph* diff;
        QCPGraph* ref;
        QCPGraph* sense;
        quint64 drawnTo = 0;   // history count (appended()) drawn so far
        quint64 openFrom = 0;  // history count at the newest column's first sample
        bool markers = false;  // drawn with markers, unthinned
    };
    QVector<Trace> m_Traces;
    QCPGraph* m_ThresholdGraph[kMaxChannels] = {};
    TouchShading* m_Touches = nullptr;
    // The traces' lines of the two time plots, unless they show as markers.
    TraceRaster* m_DiffLines = nullptr;
    TraceRaster* m_CountLines = nullptr;
    QCPBars* m_BarsIdle = nullptr;
    QCPBars* m_BarsTouched = nullptr;
    QCPGraph* m_BarMarks = nullptr;
    QCPTextElement* m_BarsTitle = nullptr;
};
