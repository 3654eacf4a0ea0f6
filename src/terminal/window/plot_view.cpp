#include "terminal/window/plot_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "terminal/settings_file.h"
#include "terminal/whole_file.h"
#include "terminal/window/application.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

// At most 20 redraws a second: below any display's frame rate, and smooth to the eye. The
// legend's and the status line's texts change at most 4 times a second: they are read, not watched.
constexpr int kRefreshMs = 50;
constexpr qint64 kLegendMs = 250;
constexpr int kLeftMargin = 64;
constexpr int kBottomMargin = 22;
constexpr int kTopMargin = 8;
constexpr int kRightMargin = 10;

// A step of 1, 2 or 5 times a power of ten giving about `count` ticks over `width`.
double NiceStep(double width, int count) {
    if (!(width > 0) || !std::isfinite(width)) return 1;
    const double raw = width / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * power;
}

QString TickText(double v, double step) {
    if (std::abs(v) < step * 1e-6) v = 0;
    const int decimals =
        step >= 1 ? 0 : std::min(9, static_cast<int>(std::ceil(-std::log10(step))));
    if (std::abs(v) >= 1e7 || (std::abs(v) > 0 && std::abs(v) < 1e-4))
        return QString::number(v, 'g', 4);
    return QString::number(v, 'f', decimals);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Canvas

PlotCanvas::PlotCanvas(const PlotModel& model, PlotViewState& state, QWidget* parent)
    : QWidget(parent), model_(model), state_(state) {
    setObjectName("pnlPlotCanvas");
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor PlotCanvas::SeriesColour(int i) {
    static const QColor colours[PlotModel::kMaxSeries] = {
        {31, 119, 180},  {214, 39, 40},  {44, 160, 44}, {255, 127, 14},
        {148, 103, 189}, {23, 190, 207}, {140, 86, 75}, {227, 119, 194},
        {127, 127, 127}, {188, 189, 34}, {0, 0, 128},   {128, 0, 0},
        {0, 128, 128},   {128, 128, 0},  {255, 0, 255}, {0, 0, 0}};
    return colours[static_cast<std::size_t>(i) % PlotModel::kMaxSeries];
}

QRect PlotCanvas::PlotArea() const {
    return QRect(kLeftMargin, kTopMargin, std::max(width() - kLeftMargin - kRightMargin, 10),
                 std::max(height() - kTopMargin - kBottomMargin, 10));
}

void PlotCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    const QRect area = PlotArea();
    const PlotSpan xs = state_.XSpan();

    // Traces first: the automatic Y range is that of what they draw.
    std::vector<std::vector<PlotPoint>> traces(model_.SeriesCount());
    double yLo = std::numeric_limits<double>::infinity(), yHi = -yLo;
    for (std::size_t i = 0; i < model_.SeriesCount(); ++i)
        if (state_.Shown(model_.Series(i)))
            state_.Trace(model_.Series(i), area.width(), traces[i], yLo, yHi);
    const PlotSpan ys = state_.YSpanFor(yLo, yHi);
    const double sx = area.width() / std::max(xs.Width(), 1e-12);
    const double sy = area.height() / std::max(ys.Width(), 1e-300);
    auto mapX = [&](double x) { return area.left() + (x - xs.lo) * sx; };
    auto mapY = [&](double y) { return area.bottom() - (y - ys.lo) * sy; };

    // Grid and labels.
    const QColor text = palette().color(QPalette::Text);
    // Opaque: blending every grid pixel costs more than the curves.
    QPen grid(QColor(225, 225, 225));
    p.setFont(font());
    const int fh = fontMetrics().height();
    const double yStep = NiceStep(ys.Width(), std::max(2, area.height() / (fh * 3)));
    for (double y = std::ceil(ys.lo / yStep) * yStep; y <= ys.hi; y += yStep) {
        const int py = static_cast<int>(std::lround(mapY(y)));
        p.setPen(grid);
        p.drawLine(area.left(), py, area.right(), py);
        p.setPen(text);
        p.drawText(QRect(0, py - fh / 2, kLeftMargin - 4, fh), Qt::AlignRight | Qt::AlignVCenter,
                   TickText(y, yStep));
    }
    const double xStep = NiceStep(xs.Width(), std::max(2, area.width() / 90));
    for (double x = std::ceil(xs.lo / xStep) * xStep; x <= xs.hi; x += xStep) {
        const int px = static_cast<int>(std::lround(mapX(x)));
        p.setPen(grid);
        p.drawLine(px, area.top(), px, area.bottom());
        p.setPen(text);
        p.drawText(QRect(px - 50, area.bottom() + 2, 100, fh), Qt::AlignHCenter | Qt::AlignTop,
                   TickText(x, xStep));
    }
    p.setPen(QColor(128, 128, 128));
    p.drawRect(area);

    // Curves, clipped to the plot area.
    p.setClipRect(area.adjusted(1, 1, 0, 0));
    // Smoothing costs the raster engine several times the plain lines; a thinned trace has
    // points in every pixel column, where it shows little anyway.
    p.setRenderHint(QPainter::Antialiasing, false);
    QPolygon line;
    for (std::size_t i = 0; i < traces.size(); ++i) {
        if (traces[i].empty()) continue;
        line.clear();
        line.reserve(static_cast<qsizetype>(traces[i].size()));
        for (const PlotPoint& pt : traces[i])
            line.append(QPoint(static_cast<int>(std::lround(mapX(state_.X(pt)))),
                               static_cast<int>(std::lround(mapY(std::clamp(
                                   pt.v, ys.lo - ys.Width() * 4, ys.hi + ys.Width() * 4))))));
        p.setPen(QPen(SeriesColour(model_.Series(i).colour), 1));
        if (line.size() == 1)
            p.drawEllipse(line.front(), 2, 2);
        else
            p.drawPolyline(line);
    }
    p.setClipping(false);
    if (state_.Paused()) {
        p.setPen(text);
        p.drawText(area.adjusted(0, 4, -6, 0), Qt::AlignRight | Qt::AlignTop,
                   "Paused: wheel zooms, drag pans");
    }
    if (model_.SeriesCount() == 0) {
        p.setPen(text);
        p.drawText(area, Qt::AlignCenter,
                   "Waiting for lines of numbers: \"1.5, 2, 3\" or \"temp:23.5 hum=41\"");
    }
}

void PlotCanvas::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y();
    if (steps == 0) return;
    if (!state_.Paused() && onPauseWanted) onPauseWanted();
    const QRect area = PlotArea();
    const double at = (event->position().x() - area.left()) / std::max(area.width(), 1);
    state_.Zoom(steps > 0 ? 0.8 : 1.25, at);
    update();
    event->accept();
}

void PlotCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    dragFrom_ = event->position().toPoint();
}

void PlotCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
        dragging_ = false;
        return;
    }
    const QPoint at = event->position().toPoint();
    const int dx = at.x() - dragFrom_.x();
    if (dx == 0) return;
    if (!state_.Paused() && onPauseWanted) onPauseWanted();
    state_.Pan(-static_cast<double>(dx) / std::max(PlotArea().width(), 1));
    dragFrom_ = at;
    update();
}

// ---------------------------------------------------------------------------------------------
// Window

PlotWindow::PlotWindow(TfrmTerminal& terminal, PlotModel& model, PlotViewState& state,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), terminal_(terminal), model_(model), state_(state) {
    setObjectName("frmPlot");
    setWindowTitle("Corvel - Plot");
    resize(820, 480);

    auto named = [](auto* w, const char* name) {
        w->setObjectName(name);
        return w;
    };
    btnPlotPause = named(new QPushButton("Pause", this), "btnPlotPause");
    btnPlotPause->setCheckable(true);
    cbxPlotAxis = named(new QComboBox(this), "cbxPlotAxis");
    cbxPlotAxis->addItem("Last N samples");
    cbxPlotAxis->addItem("Last N seconds");
    edtPlotWindow = named(new QSpinBox(this), "edtPlotWindow");
    edtPlotWindow->setRange(static_cast<int>(PlotSettings::kMinSamples),
                            static_cast<int>(PlotSettings::kMaxSamples));
    edtPlotWindow->setPrefix("N = ");
    cbxPlotAutoY = named(new QCheckBox("Auto Y", this), "cbxPlotAutoY");
    edtPlotYMin = named(new QDoubleSpinBox(this), "edtPlotYMin");
    edtPlotYMax = named(new QDoubleSpinBox(this), "edtPlotYMax");
    for (QDoubleSpinBox* box : {edtPlotYMin, edtPlotYMax}) {
        box->setRange(-1e12, 1e12);
        box->setDecimals(3);
    }
    edtPlotYMin->setPrefix("min ");
    edtPlotYMax->setPrefix("max ");
    btnPlotClear = named(new QPushButton("Clear", this), "btnPlotClear");
    btnPlotCsv = named(new QPushButton("CSV...", this), "btnPlotCsv");
    btnPlotCsv->setToolTip("Save the samples shown as CSV");
    btnPlotPng = named(new QPushButton("PNG...", this), "btnPlotPng");
    btnPlotPng->setToolTip("Save the plot as a PNG picture");

    canvas = new PlotCanvas(model_, state_, this);
    canvas->onPauseWanted = [this] {
        btnPlotPause->setChecked(true);
        btnPlotPauseClick();
    };
    lstPlotSeries = named(new QListWidget(this), "lstPlotSeries");
    lstPlotSeries->setFixedWidth(170);
    lstPlotSeries->setToolTip("Untick a series to hide it");
    lblPlotStatus = named(new QLabel(this), "lblPlotStatus");

    auto* bar = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{btnPlotPause, cbxPlotAxis, edtPlotWindow,
                                                      cbxPlotAutoY, edtPlotYMin, edtPlotYMax})
        bar->addWidget(w);
    bar->addStretch();
    for (QWidget* w : std::initializer_list<QWidget*>{btnPlotClear, btnPlotCsv, btnPlotPng})
        bar->addWidget(w);
    auto* middle = new QHBoxLayout;
    middle->addWidget(canvas, 1);
    middle->addWidget(lstPlotSeries);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(middle, 1);
    layout->addWidget(lblPlotStatus);

    const auto handler = [this](void (PlotWindow::*fn)()) {
        return [this, fn] { RunHandler([this, fn] { (this->*fn)(); }); };
    };
    connect(btnPlotPause, &QPushButton::clicked, this, handler(&PlotWindow::btnPlotPauseClick));
    connect(btnPlotClear, &QPushButton::clicked, this, handler(&PlotWindow::btnPlotClearClick));
    connect(btnPlotCsv, &QPushButton::clicked, this, handler(&PlotWindow::btnPlotCsvClick));
    connect(btnPlotPng, &QPushButton::clicked, this, handler(&PlotWindow::btnPlotPngClick));
    const auto take = [this] {
        if (!filling_) TakeChoice();
    };
    connect(cbxPlotAxis, &QComboBox::currentIndexChanged, this, [this] {
        if (filling_) return;
        // Each axis keeps its own N.
        filling_ = true;
        state_.choice.axis = cbxPlotAxis->currentIndex() == 1 ? PlotAxis::Time : PlotAxis::Samples;
        ShowChoice();
        filling_ = false;
        Refresh(true);
    });
    connect(edtPlotWindow, &QSpinBox::valueChanged, this, take);
    connect(cbxPlotAutoY, &QCheckBox::toggled, this, take);
    connect(edtPlotYMin, &QDoubleSpinBox::valueChanged, this, take);
    connect(edtPlotYMax, &QDoubleSpinBox::valueChanged, this, take);
    connect(lstPlotSeries, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { OnSeriesToggled(item); });
    ShowChoice();
}

void PlotWindow::ShowChoice() {
    const bool was = filling_;
    filling_ = true;
    const PlotWindowChoice& c = state_.choice;
    const bool time = c.axis == PlotAxis::Time;
    cbxPlotAxis->setCurrentIndex(time ? 1 : 0);
    edtPlotWindow->setRange(
        time ? 1 : static_cast<int>(PlotSettings::kMinSamples),
        static_cast<int>(time ? PlotSettings::kMaxSeconds : PlotSettings::kMaxSamples));
    edtPlotWindow->setSuffix(time ? " s" : " samples");
    edtPlotWindow->setValue(static_cast<int>(time ? c.seconds : c.samples));
    cbxPlotAutoY->setChecked(c.autoY);
    edtPlotYMin->setValue(c.yMin);
    edtPlotYMax->setValue(c.yMax);
    edtPlotYMin->setEnabled(!c.autoY);
    edtPlotYMax->setEnabled(!c.autoY);
    btnPlotPause->setChecked(state_.Paused());
    btnPlotPause->setText(state_.Paused() ? "Resume" : "Pause");
    filling_ = was;
}

void PlotWindow::TakeChoice() {
    PlotWindowChoice& c = state_.choice;
    if (c.axis == PlotAxis::Time)
        c.seconds = static_cast<std::uint32_t>(edtPlotWindow->value());
    else
        c.samples = static_cast<std::uint32_t>(edtPlotWindow->value());
    c.autoY = cbxPlotAutoY->isChecked();
    c.yMin = edtPlotYMin->value();
    c.yMax = edtPlotYMax->value();
    edtPlotYMin->setEnabled(!c.autoY);
    edtPlotYMax->setEnabled(!c.autoY);
    Refresh(true);
}

void PlotWindow::btnPlotPauseClick() {
    if (btnPlotPause->isChecked())
        state_.Pause();
    else
        state_.Resume();
    btnPlotPause->setText(state_.Paused() ? "Resume" : "Pause");
    Refresh(true);
}

void PlotWindow::btnPlotClearClick() {
    model_.Clear();
    Refresh(true);
}

void PlotWindow::btnPlotCsvClick() {
    const QString path = terminal_.dialogs().SaveFile(this, "Save the plotted samples",
                                                      "CSV files (*.csv)", "", "csv");
    if (path.isEmpty()) return;
    try {
        ReplaceFileContent(path.toStdString(), state_.Csv());
    } catch (const std::exception& e) {
        terminal_.dialogs().Error(this, QString::fromUtf8(e.what()));
    }
}

void PlotWindow::btnPlotPngClick() {
    const QString path = terminal_.dialogs().SaveFile(this, "Save the plot as a picture",
                                                      "PNG files (*.png)", "", "png");
    if (path.isEmpty()) return;
    // The legend belongs in the picture: the canvas and the list side by side, as on screen.
    const QRect shown = canvas->geometry().united(lstPlotSeries->geometry());
    if (!grab(shown).save(path, "PNG"))
        terminal_.dialogs().Error(this, QString("Could not write the picture %1").arg(path));
}

void PlotWindow::Refresh(bool force) {
    const bool texts = force || !legendClock_.isValid() || legendClock_.elapsed() >= kLegendMs;
    if (texts) {
        legendClock_.start();
        QString status = QString("%1 sample lines, %2 other lines")
                             .arg(model_.Rows())
                             .arg(model_.IgnoredLines());
        if (model_.DroppedValues() > 0)
            status += QString(", %1 values past %2 series left out")
                          .arg(model_.DroppedValues())
                          .arg(PlotModel::kMaxSeries);
        if (!terminal_.cbxASCII->isChecked()) status += "; HEX mode: nothing is plotted";
        if (lblPlotStatus->text() != status) lblPlotStatus->setText(status);
    }
    if (!force && drawn_ == model_.Generation()) return;
    drawn_ = model_.Generation();
    if (texts) UpdateLegend();
    canvas->update();
}

void PlotWindow::UpdateLegend() {
    filling_ = true;
    while (lstPlotSeries->count() > static_cast<int>(model_.SeriesCount()))
        delete lstPlotSeries->takeItem(lstPlotSeries->count() - 1);
    for (std::size_t i = 0; i < model_.SeriesCount(); ++i) {
        const PlotSeries& s = model_.Series(i);
        const int row = static_cast<int>(i);
        QListWidgetItem* item = lstPlotSeries->item(row);
        if (!item) {
            item = new QListWidgetItem(lstPlotSeries);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        }
        const QString name = QString::fromStdString(s.name);
        const QString text = s.Ended(model_.Rows())
                                 ? QString("%1  (ended)").arg(name)
                                 : QString("%1  %2").arg(name, QString::number(s.latest, 'g', 6));
        if (item->text() != text) item->setText(text);
        if (item->data(Qt::UserRole).toString() != name) {
            item->setData(Qt::UserRole, name);
            QPixmap swatch(12, 12);
            swatch.fill(PlotCanvas::SeriesColour(s.colour));
            item->setIcon(QIcon(swatch));
        }
        const Qt::CheckState check = state_.Shown(s) ? Qt::Checked : Qt::Unchecked;
        if (item->checkState() != check) item->setCheckState(check);
    }
    filling_ = false;
}

void PlotWindow::OnSeriesToggled(QListWidgetItem* item) {
    if (filling_) return;
    const std::string name = item->data(Qt::UserRole).toString().toStdString();
    auto& hidden = state_.hidden;
    std::erase(hidden, name);
    if (item->checkState() != Qt::Checked) hidden.push_back(name);
    Refresh(true);
}

void PlotWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClosed) onClosed();
}

// ---------------------------------------------------------------------------------------------
// Hook in the main window

PlotControl::PlotControl(TfrmTerminal& terminal, bool openNow) : terminal_(terminal) {
    cbxPlot = new QCheckBox("Plot", &terminal);
    cbxPlot->setObjectName("cbxPlot");
    cbxPlot->setToolTip("Plot the numbers in the received lines in a window of their own");
    if (auto* bar = terminal.findChild<QWidget*>("pnlMode"); bar && bar->layout()) {
        auto* row = static_cast<QHBoxLayout*>(bar->layout());
        // Before the stretch that closes the row.
        row->insertWidget(std::max(row->count() - 1, 0), cbxPlot);
    }
    try {
        if (terminal.iniFile) stored_ = LoadPlotSettings(*terminal.iniFile);
    } catch (const std::exception&) {
        // The window has said already that the file could not be read; defaults then.
    }
    state_.choice = stored_.choice;
    state_.hidden = stored_.hidden;

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (window_) window_->Refresh();
    });
    connect(cbxPlot, &QCheckBox::toggled, this, [this] { RunHandler([this] { cbxPlotClick(); }); });
    if (stored_.shown || openNow) cbxPlot->setChecked(true);
    openedByCommandLine_ = openNow && !stored_.shown;
}

PlotControl::~PlotControl() {
    SetOpen(false);
    delete window_;
}

void PlotControl::cbxPlotClick() {
    openedByCommandLine_ = false;
    SetOpen(cbxPlot->isChecked());
}

void PlotControl::SetOpen(bool open) {
    if (open == Open()) return;
    if (!open) {
        terminal_.rxListeners.Remove(listener_);
        listener_ = 0;
        timer_->stop();
        if (window_ && window_->isVisible()) {
            stored_.geometry = window_->saveGeometry().toHex().toStdString();
            window_->hide();
        }
        return;
    }
    if (!window_) {
        window_ = new PlotWindow(terminal_, model_, state_, &terminal_);
        window_->onClosed = [this] {
            stored_.geometry = window_->saveGeometry().toHex().toStdString();
            cbxPlot->setChecked(false);
        };
        if (!stored_.geometry.empty())
            window_->restoreGeometry(
                QByteArray::fromHex(QByteArray::fromStdString(stored_.geometry)));
    }
    // A line cut when the plot was closed must not join the first line after it opens.
    model_.DropPartialLine();
    listener_ = terminal_.rxListeners.Add(
        [this](const std::uint8_t* data, std::size_t size, std::uint64_t nowMs) {
            if (terminal_.cbxASCII->isChecked()) model_.Feed(data, size, nowMs);
        });
    window_->show();
    window_->raise();
    window_->Refresh(true);
    timer_->start();
}

void PlotControl::WriteSettings(tIniFile& ini) {
    PlotSettings s = stored_;
    s.shown = Open() && !openedByCommandLine_;
    if (window_ && window_->isVisible()) s.geometry = window_->saveGeometry().toHex().toStdString();
    s.choice = state_.choice;
    s.hidden = state_.hidden;
    WritePlotSettings(ini, s);
}

}  // namespace corvel
