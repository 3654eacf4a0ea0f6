// The plot window on the simulated port and on the virtual board: opened from the mode bar or
// the command line, fed by the receive road only while open and in ASCII mode, its choices and
// exports, and [PLOT] over a restart.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <fstream>
#include <iterator>

#include "board/ports.h"
#include "terminal/window/plot_view.h"
#include "terminal/window/qt_host.h"
#include "window_fixture.h"

namespace corvel {
namespace {

std::string ReadAll(const QString& path) {
    std::ifstream f(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class PlotWindowTest : public WindowTest {
  protected:
    PlotControl& Plot() { return *w->plotControl; }
    void Receive(const std::string& text) {
        dev->RemoteWrite(text);
        Poll();
    }
    QStringList Legend() {
        Plot().window()->Refresh(true);
        QStringList out;
        for (int i = 0; i < Plot().window()->lstPlotSeries->count(); ++i)
            out << Plot().window()->lstPlotSeries->item(i)->text();
        return out;
    }
    // Outlives the window (the real clock, for the board on its own thread).
    QtHost qhost_;
};

TEST_F(PlotWindowTest, ClosedByDefaultOpenedFromTheModeBarFedOnlyWhileOpenInAscii) {
    Open();
    w->show();
    // The check box fits the window's design size.
    EXPECT_LE(w->minimumSizeHint().width(), 1025);
    EXPECT_FALSE(Plot().cbxPlot->isChecked());
    ClickConnect("COM3", "115200");
    Receive("1,2\r\n");  // closed: not parsed at all

    QTest::mouseClick(Plot().cbxPlot, Qt::LeftButton);
    ASSERT_TRUE(Plot().window() && Plot().window()->isVisible());
    Receive("x,y\r\n3,");
    Receive("4\r\n5,6\r\n");
    EXPECT_EQ(Legend(), (QStringList{"x  5", "y  6"}));
    EXPECT_EQ(Plot().model().Rows(), 2u);
    // The receive window showed the same bytes.
    EXPECT_TRUE(w->memoUart->toPlainText().contains("5,6"));

    w->cbxHEX->setChecked(true);
    Receive("7,8\r\n");
    EXPECT_EQ(Plot().model().Rows(), 2u);
    Plot().window()->Refresh(true);
    EXPECT_TRUE(Plot().window()->lblPlotStatus->text().contains("HEX mode"));
    w->cbxASCII->setChecked(true);
    Receive("\r\n9,10\r\n");
    EXPECT_EQ(Plot().model().Rows(), 3u);

    // Closed with its frame: the box follows and the listener goes.
    Plot().window()->close();
    EXPECT_FALSE(Plot().cbxPlot->isChecked());
}

TEST_F(PlotWindowTest, PauseSeriesChoiceAndExportsOfWhatIsShown) {
    Open();
    ClickConnect("COM3", "115200");
    Plot().cbxPlot->setChecked(true);
    PlotWindow& pw = *Plot().window();
    pw.resize(900, 500);
    std::string rows;
    for (int i = 0; i < 30; ++i)
        rows += "a=" + std::to_string(i) + " b=" + std::to_string(-i) + "\r\n";
    Receive(rows);
    ASSERT_EQ(Legend(), (QStringList{"a  29", "b  -29"}));
    pw.lstPlotSeries->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(Plot().state().hidden, std::vector<std::string>{"b"});

    pw.edtPlotWindow->setValue(10);  // last 10 samples
    QTest::mouseClick(pw.btnPlotPause, Qt::LeftButton);
    EXPECT_EQ(pw.btnPlotPause->text(), "Resume");
    Receive("a=100 b=0\r\n");  // taken, but the paused view stays where it was
    EXPECT_EQ(Plot().model().Rows(), 31u);

    const QString csv = tmp.filePath("plot.csv");
    dialogs.files.push_back(csv);
    QTest::mouseClick(pw.btnPlotCsv, Qt::LeftButton);
    const std::string text = ReadAll(csv);
    EXPECT_EQ(text.substr(0, 21), "sample,time_s,a\r\n20,0");
    EXPECT_NE(text.find("29,0,29\r\n"), std::string::npos);
    EXPECT_EQ(text.find("100"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);

    const QString png = tmp.filePath("plot.png");
    dialogs.files.push_back(png);
    QTest::mouseClick(pw.btnPlotPng, Qt::LeftButton);
    QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), pw.canvas->width());
    // Series a's colour is on the picture (its curve and its legend swatch).
    bool found = false;
    const QRgb a = PlotCanvas::SeriesColour(0).rgb();
    for (int y = 0; y < image.height() && !found; ++y)
        for (int x = 0; x < image.width() && !found; ++x) found = image.pixel(x, y) == a;
    EXPECT_TRUE(found);

    // A file that cannot be written is reported, nothing else happens.
    dialogs.files.push_back(tmp.filePath("no/such/folder/plot.csv"));
    QTest::mouseClick(pw.btnPlotCsv, Qt::LeftButton);
    ASSERT_FALSE(dialogs.asked.empty());
    EXPECT_EQ(dialogs.asked.back().kind, ScriptedDialogs::Kind::Error);

    QTest::mouseClick(pw.btnPlotPause, Qt::LeftButton);
    EXPECT_EQ(Plot().state().XSpan().hi, 30);  // live again: row 30 is the newest
}

TEST_F(PlotWindowTest, ChoicesRememberedInTheirSectionAndTheCommandLineOpensForOneRun) {
    Open();
    Plot().cbxPlot->setChecked(true);
    PlotWindow& pw = *Plot().window();
    pw.cbxPlotAxis->setCurrentIndex(1);
    pw.edtPlotWindow->setValue(30);
    pw.cbxPlotAutoY->setChecked(false);
    pw.edtPlotYMin->setValue(-5);
    pw.edtPlotYMax->setValue(5);
    Plot().state().hidden = {"noisy"};
    Close();
    {
        const tIniFile ini = Ini();
        EXPECT_TRUE(ini.ReadBool("PLOT", "SHOWN", false));
        EXPECT_EQ(ini.ReadInteger("PLOT", "AXIS", 0), 1);
        EXPECT_EQ(ini.ReadInteger("PLOT", "SECONDS", 0), 30);
        EXPECT_EQ(ini.ReadString("PLOT", "Y MIN", ""), "-5");
        EXPECT_EQ(ini.ReadString("PLOT", "HIDDEN", ""), "noisy");
    }
    Open();
    ASSERT_TRUE(Plot().cbxPlot->isChecked());
    EXPECT_EQ(Plot().window()->edtPlotWindow->value(), 30);
    EXPECT_FALSE(Plot().window()->cbxPlotAutoY->isChecked());
    EXPECT_EQ(Plot().state().hidden, std::vector<std::string>{"noisy"});
    Plot().cbxPlot->setChecked(false);
    Close();
    EXPECT_FALSE(Ini().ReadBool("PLOT", "SHOWN", true));

    TerminalOptions o = Options();
    o.showPlot = true;
    Open(std::move(o));
    EXPECT_TRUE(Plot().window()->isVisible());
    Close();
    EXPECT_FALSE(Ini().ReadBool("PLOT", "SHOWN", true));
}

TEST_F(PlotWindowTest, TheVirtualBoardsWaveDrawsItsFiveCurves) {
    TerminalOptions o = Options();
    o.makePortIo = [] { return MakeAnyPortIo(); };
    o.scanPorts = [] { return ScanAllPorts(); };
    o.host = &qhost_;
    o.showPlot = true;
    Open(std::move(o));
    ClickConnect("SIM-BOARD", "921600");
    ASSERT_EQ(w->btnConnectTag, 1);
    w->edtSend->setText("wave 40 400");
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && Plot().model().Rows() < 40)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(Plot().model().Rows(), 40u);
    EXPECT_EQ(Legend().size(), 5);
    EXPECT_TRUE(Legend().front().startsWith("sine  "));
    EXPECT_EQ(Plot().model().IgnoredLines(), 1u);  // the echoed command
}

}  // namespace
}  // namespace corvel
