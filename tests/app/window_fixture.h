#pragma once
// A main window wired to a temporary settings folder, simulated ports, scripted dialogs and a
// fake clock, with helpers to read the log and the bytes that reached the wire.

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <memory>
#include <string>
#include <vector>

#include "comport/sim_port.h"
#include "host/fake_host.h"
#include "terminal/settings_file.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/rx_view.h"
#include "terminal/window/terminal.h"

namespace corvel {

struct ShownLine {
    QString text;
    QColor color;
};

inline const QColor kBlue(0, 0, 255);
inline const QColor kRed(255, 0, 0);
inline const QColor kYellow(255, 255, 0);

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dev->UseHost(host);
        ports.Add("COM3", dev);
    }
    void TearDown() override { w.reset(); }

    QString IniPath() const { return tmp.filePath("tool_terminal.ini"); }
    void WriteIni(const QString& text) {
        QFile f(IniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    tIniFile Ini() const { return tIniFile(IniPath().toStdString()); }

    TerminalOptions Options() {
        TerminalOptions o;
        o.settingsPath = IniPath();
        o.defaultListsFolder = tmp.path();
        o.makePortIo = [this] { return ports.MakeIo(); };
        o.scanPorts = [this] { return scan; };
        o.dialogs = &dialogs;
        o.host = &host;
        return o;
    }
    TfrmTerminal& Open() { return Open(Options()); }
    TfrmTerminal& Open(TerminalOptions o) {
        w = std::make_unique<TfrmTerminal>(std::move(o));
        return *w;
    }
    // Destroys the window the way the program ends: settings written, lists saved.
    void Close() {
        if (w) w->close();
        w.reset();
    }

    std::vector<ShownLine> Log() const {
        std::vector<ShownLine> out;
        QTextDocument* doc = w->memoLog->document();
        if (doc->isEmpty()) return out;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            QColor color;
            auto it = b.begin();
            if (!it.atEnd()) color = it.fragment().charFormat().foreground().color();
            out.push_back({b.text(), color});
        }
        return out;
    }
    std::vector<QString> LogTexts() const {
        std::vector<QString> out;
        for (const ShownLine& l : Log()) out.push_back(l.text);
        return out;
    }
    bool LogHas(const QString& text) const {
        for (const ShownLine& l : Log())
            if (l.text == text) return true;
        return false;
    }

    void ClickConnect(const QString& port, const QString& baud) {
        w->cbxPort->setEditText(port);
        w->cbxBaud->setEditText(baud);
        QTest::mouseClick(w->btnConnect, Qt::LeftButton);
    }
    // Lets the driver's polling timer run once.
    void Poll() { host.Advance(w->uartDriver->ComPortPollingDelay()); }
    std::string Wire() { return dev->RemoteRead(); }

    QTemporaryDir tmp;
    FakeHost host;
    ScriptedDialogs dialogs;
    SimPortRegistry ports;
    std::shared_ptr<SimDevice> dev = SimDevice::Make();
    std::vector<std::string> scan{"COM3", "COM4", "COM5"};
    std::unique_ptr<TfrmTerminal> w;
};

}  // namespace corvel
