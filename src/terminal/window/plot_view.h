#pragma once
// The plot window: the numbers the board prints, drawn as curves while the receive window
// shows the same bytes. It listens on the receive road (never reads the port), only while it is
// open and the receive window is in ASCII mode: closed, it costs nothing. Redrawn by a timer at
// most 30 times a second, and only when something new came.
//
// PlotControl is the hook in the main window: the "Plot" check box of the mode bar, the
// listener, the [PLOT] settings section. PlotWindow holds the controls, PlotCanvas paints.

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "plot/plot_model.h"
#include "plot/plot_settings.h"
#include "terminal/receive_listeners.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSpinBox;
class QTimer;

namespace corvel {

class TfrmTerminal;
class tIniFile;

class PlotCanvas : public QWidget {
    Q_OBJECT
  public:
    PlotCanvas(const PlotModel& model, PlotViewState& state, QWidget* parent);
    // The colour of series slot i (0..15).
    static QColor SeriesColour(int i);
    // Asked to pause before a zoom or pan of the live view.
    std::function<void()> onPauseWanted;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    QRect PlotArea() const;
    const PlotModel& model_;
    PlotViewState& state_;
    std::vector<PlotPoint> trace_;
    QPoint dragFrom_;
    bool dragging_ = false;
};

class PlotWindow : public QWidget {
    Q_OBJECT
  public:
    PlotWindow(TfrmTerminal& terminal, PlotModel& model, PlotViewState& state, QWidget* parent);

    // Redraws and updates the legend and status when something changed since the last call.
    void Refresh(bool force = false);
    // The controls as the state says (after loading the settings).
    void ShowChoice();

    void btnPlotPauseClick();
    void btnPlotClearClick();
    void btnPlotCsvClick();
    void btnPlotPngClick();

    PlotCanvas* canvas = nullptr;
    QPushButton* btnPlotPause = nullptr;
    QComboBox* cbxPlotAxis = nullptr;
    QSpinBox* edtPlotWindow = nullptr;
    QCheckBox* cbxPlotAutoY = nullptr;
    QDoubleSpinBox* edtPlotYMin = nullptr;
    QDoubleSpinBox* edtPlotYMax = nullptr;
    QPushButton* btnPlotClear = nullptr;
    QPushButton* btnPlotCsv = nullptr;
    QPushButton* btnPlotPng = nullptr;
    QListWidget* lstPlotSeries = nullptr;
    QLabel* lblPlotStatus = nullptr;

    // Called when the user closes the window with its frame button.
    std::function<void()> onClosed;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void TakeChoice();
    void UpdateLegend();
    void OnSeriesToggled(QListWidgetItem* item);

    TfrmTerminal& terminal_;
    PlotModel& model_;
    PlotViewState& state_;
    std::uint64_t drawn_ = ~std::uint64_t{0};
    QElapsedTimer legendClock_;
    bool filling_ = false;
};

class PlotControl : public QObject {
    Q_OBJECT
  public:
    // Adds "Plot" to the window's mode bar and restores [PLOT]; opens the plot window when it was
    // open at the last exit or when openNow (the command line's --plot).
    PlotControl(TfrmTerminal& terminal, bool openNow);
    ~PlotControl() override;

    void cbxPlotClick();
    // Writes [PLOT]; the open state given on the command line is for that run only.
    void WriteSettings(tIniFile& ini);

    bool Open() const { return listener_ != 0; }
    PlotModel& model() { return model_; }
    PlotViewState& state() { return state_; }
    PlotWindow* window() { return window_; }
    QCheckBox* cbxPlot = nullptr;

  private:
    void SetOpen(bool open);

    TfrmTerminal& terminal_;
    PlotModel model_;
    PlotViewState state_{model_};
    PlotSettings stored_;
    bool openedByCommandLine_ = false;
    PlotWindow* window_ = nullptr;
    QTimer* timer_ = nullptr;
    ReceiveListeners::Id listener_ = 0;
};

}  // namespace corvel
