// The receive path of the real main window, measured end to end: a pseudo-terminal pair, a feeder
// thread writing text lines into the far end, and TfrmTerminal (offscreen) connected to the near
// end with the settings file's defaults. One scenario per run; the result is printed as
// "key=value" lines for scripts/bench to collect.
//
//   window_bench paced    [--rate BYTES_PER_S] [--seconds S]
//   window_bench flood    [--bytes N] [--view ascii|hex|columns] [--probe] [--max-seconds S]
//                         [--ceiling] [--coloured] [--text colours,utf8]
//   window_bench idle     [--seconds S]
//   window_bench long     [--lines N] [--samples K]
//   window_bench startup
//   window_bench rawrx    [--bytes N] [--rate BYTES_PER_S | --unpaced] [--max-seconds S]
//   window_bench kmwait   [--seconds S]
//   window_bench plot     [--rate LINES_PER_S] [--seconds S] [--view plot|hidden]
//
// CPU figures are the process's CPU time minus that of the feeder and probe threads, over the
// measured interval, in percent of one core.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "terminal/rx_render.h"
#include "terminal/window/application.h"
#include "terminal/window/capture_control.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/file_transfer.h"
#include "terminal/window/plot_view.h"
#include "terminal/window/rx_view.h"
#include "terminal/window/terminal.h"

namespace corvel::bench {
namespace {

constexpr std::size_t kLineBytes = 100;

double NowSec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ThreadCpuSec() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ProcessCpuSec() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

long RssBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    long size = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(f);
    return resident * sysconf(_SC_PAGESIZE);
}

// Line n of the stream without its CR LF: a 9-digit number, a space, 88 letters.
std::string LineText(std::size_t n) {
    char head[16];
    std::snprintf(head, sizeof head, "%09zu ", n % 1000000000u);
    std::string line(head);
    for (std::size_t i = 0; line.size() < kLineBytes - 2; ++i)
        line.push_back(static_cast<char>('A' + (n + i) % 26));
    return line;
}

// The stream of lines; coloured, each line is set in one of six colours and reset after.
std::vector<std::uint8_t> Stream(std::size_t bytes, bool coloured = false) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes + kLineBytes);
    for (std::size_t n = 0; out.size() < bytes; ++n) {
        const std::string line =
            coloured ? "\x1b[3" + std::to_string(1 + n % 6) + "m" + LineText(n) + "\x1b[0m\r\n"
                     : LineText(n) + "\r\n";
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(bytes);
    return out;
}

struct Pty {
    int master = -1;
    int slave = -1;  // held so the pair lives until the window opens its end
    std::string path;
};

Pty OpenPty() {
    Pty p;
    char name[256] = {};
    if (openpty(&p.master, &p.slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(2);
    }
    termios t{};
    tcgetattr(p.slave, &t);
    cfmakeraw(&t);
    tcsetattr(p.slave, TCSANOW, &t);
    p.path = name;
    return p;
}

// Empties whatever the window writes back (typed keys), so the pair never fills that way.
void DrainMaster(int fd) {
    char buf[4096];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

// Percentile (0..100) of a sample, nearest rank.
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(rank, v.size() - 1)];
}

struct Args {
    std::string scenario;
    double rate = 300000;
    double seconds = 20;
    std::size_t bytes = 20u << 20;
    std::string view = "ascii";
    bool probe = false;
    std::size_t lines = 1000000;
    int samples = 30;
    double maxSeconds = 60;
    std::string pacing = "paced";
    bool ceiling = false;   // flood: first a bare read loop on the same pair
    bool coloured = false;  // flood: lines set in colours
    std::string text;       // flood: receive text options on ("colours", "utf8", both by comma)
    std::string capture;    // flood: raw capture into this file while flooded
};

Args Parse(int argc, char** argv) {
    Args a;
    if (argc > 1) a.scenario = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string k = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (k == "--rate") {
            a.rate = std::atof(v), ++i;
        } else if (k == "--seconds") {
            a.seconds = std::atof(v), ++i;
        } else if (k == "--bytes") {
            a.bytes = static_cast<std::size_t>(std::atoll(v)), ++i;
        } else if (k == "--view") {
            a.view = v, ++i;
        } else if (k == "--probe") {
            a.probe = true;
        } else if (k == "--lines") {
            a.lines = static_cast<std::size_t>(std::atoll(v)), ++i;
        } else if (k == "--max-seconds") {
            a.maxSeconds = std::atof(v), ++i;
        } else if (k == "--capture") {
            a.capture = v, ++i;
        } else if (k == "--unpaced") {
            a.pacing = "unpaced";
        } else if (k == "--ceiling") {
            a.ceiling = true;
        } else if (k == "--coloured") {
            a.coloured = true;
        } else if (k == "--text") {
            a.text = v, ++i;
        } else if (k == "--samples") {
            a.samples = std::atoi(v), ++i;
        } else {
            std::fprintf(stderr, "window_bench: unknown option %s\n", k.c_str());
            std::exit(2);
        }
    }
    return a;
}

// The loop RunUntil runs; Wake() makes it look at its condition now (from any thread).
QEventLoop* g_loop = nullptr;
void Wake() {
    if (g_loop)
        QMetaObject::invokeMethod(
            g_loop,
            [] {
                if (g_loop) g_loop->exit(0);
            },
            Qt::QueuedConnection);
}

// The window as the program makes it, but with its settings in a fresh folder (defaults) and
// the pseudo-terminal as the only port.
struct Window {
    QTemporaryDir dir;
    std::unique_ptr<TfrmTerminal> w;
    std::atomic<std::uint64_t> delivered{0};
    std::uint64_t target = ~std::uint64_t{0};  // Wake() once this much has been delivered

    Window(const std::string& port, bool connect, Dialogs* dialogs = nullptr) {
        TerminalOptions o;
        o.dialogs = dialogs;
        o.settingsPath = dir.filePath("tool_terminal.ini");
        o.defaultListsFolder = dir.path();
        o.scanPorts = [port] { return std::vector<std::string>{port}; };
        o.port = QString::fromStdString(port);
        o.connectAtStart = connect;
        w = std::make_unique<TfrmTerminal>(std::move(o));
    }
    void Show() {
        w->show();
        QApplication::processEvents();
    }
    // Counts what the driver hands to the window's own receive handler.
    void CountDelivered() {
        TfrmTerminal* t = w.get();
        t->uartDriver->SetOnReceiveData(
            [this, t](TCommPortDriver* s, const std::uint8_t* d, std::int32_t n) {
                t->printf_ReceiveData(s, d, n);
                const std::uint64_t now =
                    delivered.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed) +
                    static_cast<std::uint64_t>(n);
                if (now >= target) Wake();
            });
    }
    void SetView(const std::string& view) {
        if (view == "hex") {
            w->cbxHEX->setChecked(true);
        } else if (view == "columns") {
            for (QCheckBox* c :
                 {w->cbxViewRX_CHAR, w->cbxViewRX_DEC, w->cbxViewRX_HEX, w->cbxViewRX_BIN})
                c->setChecked(true);
        } else if (view != "ascii") {
            std::fprintf(stderr, "window_bench: unknown view %s\n", view.c_str());
            std::exit(2);
        }
    }
};

// Runs the event loop until done() or the time limit; false on the limit. done() is looked at
// every 20 ms and whenever Wake() is called, so the harness itself stays quiet.
template <typename Done>
bool RunUntil(Done done, double limitSec) {
    const double end = NowSec() + limitSec;
    QEventLoop loop;
    QEventLoop* outer = g_loop;
    g_loop = &loop;
    QTimer check;
    check.setInterval(20);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] { loop.exit(0); });
    check.start();
    bool ok = true;
    while (!done()) {
        if (NowSec() > end) {
            ok = false;
            break;
        }
        loop.exec();
    }
    g_loop = outer;
    return ok;
}

// Lines of the receive window that equal the stream's line of the number they start with: the
// lines shown intact, wherever a loss left a gap.
std::size_t IntactLines(const RxView* memo) {
    std::size_t n = 0;
    for (int i = 0; i < memo->LineCount(); ++i) {
        const std::string text = memo->Line(i);
        if (text.size() != kLineBytes - 2) continue;
        if (text == LineText(std::strtoull(text.c_str(), nullptr, 10))) ++n;
    }
    return n;
}

// --- paced ---------------------------------------------------------------------------------
// The far end behaves like a UART with a 4 KB transmit FIFO behind the pseudo-terminal: what is
// due goes out on time; what the pair cannot take waits in the FIFO; what overflows the FIFO is
// lost, as an overrun would lose it on a real line.
int Paced(const Args& a) {
    const Pty pty = OpenPty();
    const std::size_t total = static_cast<std::size_t>(a.rate * a.seconds);
    const std::vector<std::uint8_t> data = Stream(total);
    Window win(pty.path, true);
    win.CountDelivered();
    win.Show();
    if (!win.w->uartDriver->Connected()) {
        std::fprintf(stderr, "window_bench: the window did not connect to %s\n", pty.path.c_str());
        return 1;
    }
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);

    constexpr std::size_t kFifo = 4096;
    std::atomic<bool> finished{false};
    std::size_t lost = 0, maxBacklog = 0;
    double feederCpu = 0;
    const double cpu0 = ProcessCpuSec();
    const double t0 = NowSec();
    std::thread feeder([&] {
        std::size_t sent = 0;  // bytes taken by the pair or lost
        const double start = NowSec();
        while (sent < total) {
            const double due =
                std::min<double>(static_cast<double>(total), (NowSec() - start) * a.rate);
            std::size_t backlog =
                due > static_cast<double>(sent) ? static_cast<std::size_t>(due) - sent : 0;
            if (backlog > 0) {
                const ssize_t n = write(pty.master, data.data() + sent, backlog);
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    backlog -= static_cast<std::size_t>(n);
                }
                maxBacklog = std::max(maxBacklog, backlog);
                if (backlog > kFifo) {
                    lost += backlog - kFifo;
                    sent += backlog - kFifo;
                }
            }
            DrainMaster(pty.master);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        feederCpu = ThreadCpuSec();
        finished = true;
        Wake();
    });
    RunUntil([&] { return finished.load(); }, a.seconds * 3 + 10);
    const double t1 = NowSec();
    const double cpu1 = ProcessCpuSec();
    feeder.join();
    // What is still in flight arrives within a few polling periods.
    RunUntil([&] { return win.delivered.load() + lost >= total; }, 2.0);
    const std::size_t matching = IntactLines(win.w->memoUart);
    const double cpu = (cpu1 - cpu0 - feederCpu) / (t1 - t0) * 100.0;
    std::printf(
        "sent=%zu\ndelivered=%llu\nlost=%zu\nmax_backlog=%zu\nlines_ok=%zu\n"
        "lines_sent=%zu\nshown_bytes=%zu\nseconds=%.2f\ncpu_pct=%.2f\n",
        total, static_cast<unsigned long long>(win.delivered.load()), lost, maxBacklog, matching,
        total / kLineBytes, matching * kLineBytes, t1 - t0, cpu);
    return 0;
}

// --- flood ---------------------------------------------------------------------------------
// Stamps events posted to the window's thread from another thread, and a GUI-thread timer's
// lateness, while the window is flooded.
class Probe : public QObject {
  public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 7);
    struct Stamped : QEvent {
        explicit Stamped(double t) : QEvent(kType), at(t) {}
        double at;
    };
    std::vector<double> eventDelays;
    std::vector<double> timerDelays;
    bool event(QEvent* e) override {
        if (e->type() == kType) {
            eventDelays.push_back((NowSec() - static_cast<Stamped*>(e)->at) * 1000.0);
            return true;
        }
        return QObject::event(e);
    }
};

// Writes data into the pair's far end as fast as it takes it, from a thread of its own.
struct Feeder {
    std::atomic<bool> stop{false};
    double cpu = 0;
    std::thread thread;
    Feeder(int master, const std::vector<std::uint8_t>& data) {
        thread = std::thread([this, master, &data] {
            std::size_t sent = 0;
            pollfd pfd{master, POLLOUT, 0};
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
            while (sent < data.size() && !stop) {
                const ssize_t n = write(master, data.data() + sent,
                                        std::min<std::size_t>(data.size() - sent, 65536));
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    continue;
                }
                DrainMaster(master);
                poll(&pfd, 1, 1);
            }
            cpu = ThreadCpuSec();
        });
    }
    void Join() {
        stop = true;
        thread.join();
    }
};

// The port's own ceiling: the same stream through the same pair into a bare read loop.
double BareReadMbPerS(const Pty& pty, const std::vector<std::uint8_t>& data, double maxSeconds) {
    const int fd = pty.slave;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::vector<std::uint8_t> buf(65536);
    std::size_t got = 0;
    const double t0 = NowSec();
    Feeder feeder(pty.master, data);
    pollfd pfd{fd, POLLIN, 0};
    while (got < data.size() && NowSec() - t0 < maxSeconds) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        poll(&pfd, 1, 100);
    }
    const double t1 = NowSec();
    feeder.Join();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return static_cast<double>(got) / (t1 - t0) / 1e6;
}

int Flood(const Args& a) {
    const Pty pty = OpenPty();
    const std::vector<std::uint8_t> data = Stream(a.bytes, a.coloured);
    const double ceiling = a.ceiling ? BareReadMbPerS(pty, data, a.maxSeconds) : 0.0;
    Window win(pty.path, true);
    win.SetView(a.view);
    RxTextOptions text = win.w->rxRender->TextOptions();
    text.colours = a.text.find("colours") != std::string::npos;
    text.utf8 = a.text.find("utf8") != std::string::npos;
    win.w->rxRender->SetTextOptions(text);
    win.target = data.size();
    win.CountDelivered();
    win.Show();
    if (!win.w->uartDriver->Connected()) {
        std::fprintf(stderr, "window_bench: the window did not connect to %s\n", pty.path.c_str());
        return 1;
    }
    QApplication::processEvents();
    if (!a.capture.empty()) {
        corvel::CaptureControl& c = *win.w->capture;
        c.cbxCaptureNaming->setCurrentIndex(0);
        c.edtCaptureFile->setText(QString::fromStdString(a.capture));
        emit c.edtCaptureFile->editingFinished();
        c.rbCaptureRaw->setChecked(true);
        c.cbxCaptureAppend->setChecked(false);
        c.cbxCapture->click();
        if (!c.Capturing()) {
            std::fprintf(stderr, "window_bench: cannot capture to %s\n", a.capture.c_str());
            return 1;
        }
    }

    Probe probe;
    std::atomic<bool> stopProbe{false};
    double probeCpu = 0;
    std::thread poster;
    QTimer timer;
    double lastTick = 0;
    constexpr int kTimerMs = 10;
    if (a.probe) {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kTimerMs);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const double now = NowSec();
            if (lastTick > 0) probe.timerDelays.push_back((now - lastTick) * 1000.0 - kTimerMs);
            lastTick = now;
        });
        timer.start();
        poster = std::thread([&] {
            while (!stopProbe) {
                QCoreApplication::postEvent(&probe, new Probe::Stamped(NowSec()));
                std::this_thread::sleep_for(std::chrono::milliseconds(kTimerMs));
            }
            probeCpu = ThreadCpuSec();
        });
    }

    const long rss0 = RssBytes();
    const double cpu0 = ProcessCpuSec();
    const double t0 = NowSec();
    Feeder feeder(pty.master, data);
    // A slow view is measured on what it managed within the time limit.
    const bool complete =
        RunUntil([&] { return win.delivered.load() >= data.size(); }, a.maxSeconds);
    // The last chunk on screen: no waiting for the next frame.
    win.w->memoUart->Refresh();
    win.w->memoUart->viewport()->repaint();
    QApplication::processEvents();
    const double t1 = NowSec();
    feeder.Join();
    const double feederCpu = feeder.cpu;
    stopProbe = true;
    if (poster.joinable()) poster.join();
    timer.stop();
    const double cpu1 = ProcessCpuSec();
    const long rss1 = RssBytes();

    const double secs = t1 - t0;
    const double delivered = static_cast<double>(win.delivered.load());
    std::printf(
        "view=%s\nbytes=%zu\ncomplete=%d\nseconds=%.3f\nmb_per_s=%.2f\n"
        "cpu_pct=%.1f\nrss_growth=%ld\nmem_per_byte=%.2f\nlines=%d\n",
        a.view.c_str(), data.size(), complete ? 1 : 0, secs, delivered / secs / 1e6,
        (cpu1 - cpu0 - feederCpu - probeCpu) / secs * 100.0, rss1 - rss0,
        static_cast<double>(rss1 - rss0) / delivered, win.w->memoUart->LineCount());
    if (a.ceiling) std::printf("ceiling_mb_per_s=%.2f\n", ceiling);
    if (!a.capture.empty()) {
        win.w->capture->Disconnected();
        std::ifstream f(a.capture, std::ios::binary);
        const std::string got((std::istreambuf_iterator<char>(f)), {});
        const std::size_t n = std::min<std::size_t>(win.delivered.load(), data.size());
        std::printf("capture_bytes=%zu\ncapture_identical=%d\n", got.size(),
                    got.size() == n && std::equal(got.begin(), got.end(), data.begin()) ? 1 : 0);
    }
    if (a.view == "ascii")
        std::printf("lines_ok=%zu\nlines_sent=%zu\n", IntactLines(win.w->memoUart),
                    (data.size() + kLineBytes - 1) / kLineBytes);
    if (a.probe) {
        std::printf(
            "event_p95_ms=%.2f\nevent_max_ms=%.2f\nevents=%zu\n"
            "timer_p95_ms=%.2f\ntimer_max_ms=%.2f\ntimer_ticks=%zu\n",
            Percentile(probe.eventDelays, 95), Percentile(probe.eventDelays, 100),
            probe.eventDelays.size(), Percentile(probe.timerDelays, 95),
            Percentile(probe.timerDelays, 100), probe.timerDelays.size());
    }
    return 0;
}

// --- idle ----------------------------------------------------------------------------------
int Idle(const Args& a) {
    const Pty pty = OpenPty();
    Window win(pty.path, true);
    win.Show();
    if (!win.w->uartDriver->Connected()) {
        std::fprintf(stderr, "window_bench: the window did not connect to %s\n", pty.path.c_str());
        return 1;
    }
    QApplication::processEvents();
    const double cpu0 = ProcessCpuSec();
    const double t0 = NowSec();
    RunUntil([&] { return NowSec() - t0 >= a.seconds; }, a.seconds + 5);
    const double t1 = NowSec();
    const double cpu1 = ProcessCpuSec();
    std::printf("seconds=%.2f\ncpu_pct=%.3f\n", t1 - t0, (cpu1 - cpu0) / (t1 - t0) * 100.0);
    return 0;
}

// --- long session --------------------------------------------------------------------------
// Fills the receive window through the window's own receive handler, then times single 2 KB
// chunks of 100-byte lines (rendered and painted) at a small and at the full line count.
int Long(const Args& a) {
    const Pty pty = OpenPty();
    Window win(pty.path, false);
    win.Show();
    TfrmTerminal& t = *win.w;
    const std::vector<std::uint8_t> chunkData = Stream(1 << 20);
    std::size_t offset = 0;
    const auto oneChunk = [&] {
        if (offset + 2048 > chunkData.size()) offset = 0;
        const double s = NowSec();
        t.printf_ReceiveData(t.uartDriver.get(), chunkData.data() + offset, 2048);
        t.memoUart->Refresh();
        t.memoUart->viewport()->repaint();
        QApplication::processEvents();
        offset += 2048;
        return (NowSec() - s) * 1000.0;
    };
    const auto sample = [&] {
        std::vector<double> v;
        for (int i = 0; i < a.samples; ++i) v.push_back(oneChunk());
        return Percentile(v, 50);
    };

    // Short lines to fill: "nnnnnnn\r\n", 64 KB per call.
    const auto fill = [&](std::size_t target) {
        std::string block;
        char line[32];
        std::size_t n = static_cast<std::size_t>(t.memoUart->LineCount());
        while (n < target) {
            block.clear();
            while (block.size() < 65536 && n < target) {
                const int len = std::snprintf(line, sizeof line, "%07zu\r\n", n++);
                block.append(line, static_cast<std::size_t>(len));
            }
            t.printf_ReceiveData(t.uartDriver.get(),
                                 reinterpret_cast<const std::uint8_t*>(block.data()),
                                 static_cast<std::int32_t>(block.size()));
            QApplication::processEvents();
        }
    };

    const long rss0 = RssBytes();
    fill(1000);
    const double small = sample();
    const int smallLines = t.memoUart->LineCount();
    const double f0 = NowSec();
    fill(a.lines);
    const double fillSec = NowSec() - f0;
    const long rss1 = RssBytes();
    const double large = sample();
    const int largeLines = t.memoUart->LineCount();
    std::printf(
        "small_lines=%d\nsmall_chunk_ms=%.3f\nlarge_lines=%d\nlarge_chunk_ms=%.3f\n"
        "ratio=%.2f\nrss_growth=%ld\nbytes_per_line=%.1f\nfill_seconds=%.1f\n",
        smallLines, small, largeLines, large, large / small, rss1 - rss0,
        static_cast<double>(rss1 - rss0) / static_cast<double>(largeLines), fillSec);
    return 0;
}

// --- raw receive to file ---------------------------------------------------------------------
// "Receive File" without Kmodem: the stream goes to a file until the stop click, which comes once
// the feeder is done and the pair has nothing left for the window to read.
int RawRx(const Args& a) {
    const Pty pty = OpenPty();
    const std::vector<std::uint8_t> data = Stream(a.bytes);
    ScriptedDialogs dialogs;
    Window win(pty.path, true, &dialogs);
    win.Show();
    TfrmTerminal& t = *win.w;
    if (!t.uartDriver->Connected()) {
        std::fprintf(stderr, "window_bench: the window did not connect to %s\n", pty.path.c_str());
        return 1;
    }
    const QString file = win.dir.filePath("raw.bin");
    dialogs.files.push_back(file);
    // The transfer controller of the "Receive File" button.
    tFileTransfer transfer(t);
    t.kmodem->enabled = false;
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);

    constexpr std::size_t kFifo = 4096;
    const bool paced = a.pacing == "paced";
    std::atomic<bool> done{false}, stop{false};
    std::size_t lost = 0;
    double feederCpu = 0;
    double t0 = 0, t1 = 0, cpu0 = 0, cpu1 = 0;
    std::thread feeder;
    QTimer watch;
    watch.setInterval(5);
    int quiet = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (t0 == 0) {
            // The transfer loop runs: start the clock and the feeder.
            cpu0 = ProcessCpuSec();
            t0 = NowSec();
            feeder = std::thread([&] {
                std::size_t sent = 0;
                const double start = NowSec();
                pollfd pfd{pty.master, POLLOUT, 0};
                while (sent < data.size() && !stop) {
                    std::size_t want = data.size() - sent;
                    if (paced) {
                        const double due = std::min<double>(static_cast<double>(data.size()),
                                                            (NowSec() - start) * a.rate);
                        want = due > static_cast<double>(sent)
                                   ? static_cast<std::size_t>(due) - sent
                                   : 0;
                    }
                    std::size_t backlog = want;
                    if (want > 0) {
                        const ssize_t n = write(pty.master, data.data() + sent, want);
                        if (n > 0) {
                            sent += static_cast<std::size_t>(n);
                            backlog -= static_cast<std::size_t>(n);
                        }
                    }
                    DrainMaster(pty.master);
                    if (paced) {
                        if (backlog > kFifo) {
                            lost += backlog - kFifo;
                            sent += backlog - kFifo;
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    } else if (backlog > 0) {
                        poll(&pfd, 1, 1);
                    }
                }
                feederCpu = ThreadCpuSec();
                done = true;
            });
            return;
        }
        int queued = 0;
        ioctl(pty.slave, TIOCINQ, &queued);
        quiet = done && queued == 0 ? quiet + 1 : 0;
        const bool late = NowSec() - t0 > a.maxSeconds;
        if (quiet >= 3 || late) {
            if (t1 == 0) {
                t1 = NowSec();
                cpu1 = ProcessCpuSec();
            }
            stop = true;
            watch.stop();
            if (t.btnRxFileTag == 1) transfer.btnRxFileClick();
        }
    });
    watch.start();
    transfer.btnRxFileClick();  // runs the whole transfer
    watch.stop();
    stop = true;
    if (feeder.joinable()) feeder.join();
    if (t1 == 0) {
        t1 = NowSec();
        cpu1 = ProcessCpuSec();
    }

    std::FILE* f = std::fopen(file.toLocal8Bit().constData(), "rb");
    std::vector<std::uint8_t> got;
    if (f) {
        std::uint8_t buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) got.insert(got.end(), buf, buf + n);
        std::fclose(f);
    }
    // Without overruns the file must be the stream itself.
    const bool identical = lost == 0 && got == data;
    // The last few quiet checks are not transfer time.
    const double secs = std::max(1e-3, t1 - t0 - 0.015);
    std::printf(
        "pacing=%s\nbytes=%zu\nreceived=%zu\nlost=%zu\nidentical=%d\nseconds=%.3f\n"
        "mb_per_s=%.2f\ncpu_pct=%.1f\n",
        a.pacing.c_str(), data.size(), got.size(), lost, identical ? 1 : 0, secs,
        static_cast<double>(got.size()) / secs / 1e6,
        (cpu1 - cpu0 - feederCpu) / (t1 - t0) * 100.0);
    return 0;
}

// --- Kmodem receiver waiting ---------------------------------------------------------------------
// "Receive File" with Kmodem on and nothing arriving: the window waits for the first frame.
int KmWait(const Args& a) {
    const Pty pty = OpenPty();
    ScriptedDialogs dialogs;
    Window win(pty.path, true, &dialogs);
    win.Show();
    TfrmTerminal& t = *win.w;
    if (!t.uartDriver->Connected()) {
        std::fprintf(stderr, "window_bench: the window did not connect to %s\n", pty.path.c_str());
        return 1;
    }
    dialogs.files.push_back(win.dir.filePath("kmodem.bin"));
    t.kmodem->enabled = true;
    tFileTransfer transfer(t);
    double t0 = 0, t1 = 0, cpu0 = 0, cpu1 = 0;
    QTimer::singleShot(500, [&] {
        t0 = NowSec();
        cpu0 = ProcessCpuSec();
    });
    QTimer::singleShot(500 + static_cast<int>(a.seconds * 1000), [&] {
        t1 = NowSec();
        cpu1 = ProcessCpuSec();
        if (t.btnRxFileTag == 1) transfer.btnRxFileClick();
    });
    transfer.btnRxFileClick();  // waits until the stop click above
    if (t1 == 0) {
        std::fprintf(stderr, "window_bench: the receiver ended before the measurement\n");
        return 1;
    }
    std::printf("seconds=%.2f\ncpu_pct=%.3f\n", t1 - t0, (cpu1 - cpu0) / (t1 - t0) * 100.0);
    return 0;
}

// --- start-up ------------------------------------------------------------------------------
// From the exec of this process (the caller passes its clock in CORVEL_BENCH_T0, seconds on the
// real-time clock) to the first frame of the shown window.
class ExposeWatch : public QObject {
  public:
    bool exposed = false;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Expose) {
            if (auto* w = qobject_cast<QWindow*>(o); w && w->isExposed()) exposed = true;
        }
        return false;
    }
};

// search: a receive window holding --lines lines of a boot log (the last one saying "PANIC"),
// the time from the first line to a match on the last line, and round all of them to no match,
// with the case not mattering (the slower of the two ways). Median of --samples searches.
int Search(const Args& a) {
    RxView view;
    view.resize(800, 400);
    view.show();
    std::vector<std::string> lines;
    lines.reserve(a.lines);
    for (std::size_t i = 0; i + 1 < a.lines; ++i)
        lines.push_back("[" + std::to_string(i / 1000.0) + "] sensor " + std::to_string(i % 97) +
                        ": temp=23.5 C ok, fan 1200 rpm");
    lines.push_back("[" + std::to_string(a.lines / 1000.0) + "] Kernel PANIC at 0xdeadbeef");
    view.AppendLines(lines);
    lines.clear();
    view.Refresh();
    const auto timed = [&](const QString& text) {
        view.SetSearch(text, false);
        std::vector<double> ms;
        bool found = false;
        for (int i = 0; i < std::max(a.samples / 3, 3); ++i) {
            view.clearSelection();
            view.verticalScrollBar()->setValue(0);  // from the first line
            const double s = NowSec();
            found = view.FindNext(false);
            ms.push_back((NowSec() - s) * 1000.0);
        }
        std::sort(ms.begin(), ms.end());
        return std::pair{ms[ms.size() / 2], found};
    };
    const auto [last, foundLast] = timed("kernel panic");
    const auto [none, foundNone] = timed("watchdog");
    std::printf(
        "lines=%zu\nlast_line_ms=%.2f\nlast_line_found=%d\nno_line_ms=%.2f\n"
        "no_line_found=%d\n",
        a.lines, last, foundLast ? 1 : 0, none, foundNone ? 1 : 0);
    return 0;
}

int Startup(const Args&) {
    const char* t0text = std::getenv("CORVEL_BENCH_T0");
    QTemporaryDir dir;
    TerminalOptions o;
    o.settingsPath = dir.filePath("tool_terminal.ini");
    o.defaultListsFolder = dir.path();
    TfrmTerminal w(std::move(o));
    ExposeWatch watch;
    qApp->installEventFilter(&watch);
    w.show();
    RunUntil([&] { return watch.exposed; }, 10);
    QApplication::processEvents();
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const double now = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    if (t0text) std::printf("startup_ms=%.1f\n", (now - std::atof(t0text)) * 1000.0);
    std::printf("exposed=%d\n", watch.exposed ? 1 : 0);
    return watch.exposed ? 0 : 1;
}

// --- plot ----------------------------------------------------------------------------------
// A board printing 8 values per line at `rate` lines a second, shown by the receive window, with
// the plot window open (drawing at its own pace) or closed. The feeder writes the lines due every
// millisecond. Also the model's own flat-out ingest rate over the same lines, without the window.
int PlotRun(const Args& a) {
    const Pty pty = OpenPty();
    const auto lines = static_cast<std::size_t>(a.rate * a.seconds);
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        char line[160];
        const double x = static_cast<double>(i) / 50.0;
        std::snprintf(line, sizeof line, "%.3f,%.3f,%.3f,%.3f,%.2f,%.2f,%zu,%.4f\r\n", std::sin(x),
                      std::cos(x), std::sin(3 * x), std::cos(5 * x), 100 * std::sin(x / 7),
                      50 * std::cos(x / 3), i % 1000, std::sin(x) * std::cos(x / 11));
        text += line;
    }
    const bool shown = a.view == "plot";
    Window win(pty.path, true);
    win.CountDelivered();
    win.Show();
    if (!win.w->uartDriver->Connected()) {
        std::fprintf(stderr, "window_bench: the window did not connect to %s\n", pty.path.c_str());
        return 1;
    }
    if (shown) win.w->plotControl->cbxPlot->setChecked(true);
    QApplication::processEvents();
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    std::vector<std::size_t> ends;  // byte offset after each line
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        ends.push_back(at + 1);

    std::atomic<bool> finished{false};
    double feederCpu = 0;
    const double cpu0 = ProcessCpuSec();
    const double t0 = NowSec();
    std::thread feeder([&] {
        std::size_t sent = 0;
        const double start = NowSec();
        while (sent < text.size()) {
            const auto due = std::min(lines, static_cast<std::size_t>((NowSec() - start) * a.rate));
            const std::size_t upto = due > 0 ? ends[due - 1] : 0;
            if (upto > sent) {
                const ssize_t n = write(pty.master, text.data() + sent, upto - sent);
                if (n > 0) sent += static_cast<std::size_t>(n);
            }
            DrainMaster(pty.master);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        feederCpu = ThreadCpuSec();
        finished = true;
        Wake();
    });
    RunUntil([&] { return finished.load(); }, a.seconds * 3 + 10);
    const double t1 = NowSec();
    const double cpu1 = ProcessCpuSec();
    feeder.join();
    RunUntil([&] { return win.delivered.load() >= text.size(); }, 2.0);
    const std::uint64_t rows = win.w->plotControl->model().Rows();

    // The model alone, flat out, over the same bytes in 4 KB chunks.
    PlotModel model;
    const double m0 = ThreadCpuSec();
    for (std::size_t at = 0; at < text.size(); at += 4096)
        model.Feed(reinterpret_cast<const std::uint8_t*>(text.data()) + at,
                   std::min<std::size_t>(4096, text.size() - at),
                   static_cast<std::uint64_t>(at / 60));
    const double m1 = ThreadCpuSec();
    std::printf(
        "lines_sent=%zu\ndelivered=%llu\nplotted_rows=%llu\nseconds=%.2f\ncpu_pct=%.2f\n"
        "ingest_samples_per_s=%.0f\n",
        lines, static_cast<unsigned long long>(win.delivered.load()),
        static_cast<unsigned long long>(rows), t1 - t0,
        (cpu1 - cpu0 - feederCpu) / (t1 - t0) * 100.0,
        static_cast<double>(model.Rows()) * 8 / std::max(m1 - m0, 1e-9));
    return 0;
}

}  // namespace
}  // namespace corvel::bench

int main(int argc, char** argv) {
    using namespace corvel::bench;
    const Args a = Parse(argc, argv);
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    int qtArgc = 1;
    corvel::CorvelApplication app(qtArgc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (a.scenario == "paced") return Paced(a);
    if (a.scenario == "flood") return Flood(a);
    if (a.scenario == "idle") return Idle(a);
    if (a.scenario == "long") return Long(a);
    if (a.scenario == "startup") return Startup(a);
    if (a.scenario == "rawrx") return RawRx(a);
    if (a.scenario == "kmwait") return KmWait(a);
    if (a.scenario == "plot") return PlotRun(a);
    if (a.scenario == "search") return Search(a);
    std::fprintf(
        stderr,
        "usage: window_bench paced|flood|idle|long|startup|rawrx|kmwait|plot|search [options]\n");
    return 2;
}
