// Program entry: reads the command line, creates the application and the main window, and runs
// the event loop. SIGINT, SIGTERM and the end of the desktop session close the window the normal
// way, so the settings are still written.

#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "board/ports.h"
#include "comport/port_info.h"
#include "comport/port_scan.h"
#include "terminal/line_settings.h"
#include "terminal/settings_file.h"
#include "terminal/window/application.h"
#include "terminal/window/terminal.h"

namespace {

constexpr const char* kVersion = "2.6";

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "Usage: corvel [options]\n"
                 "Serial terminal for embedded boards.\n"
                 "\n"
                 "Options:\n"
                 "  --port NAME   open this port for this run instead of the remembered one\n"
                 "                (it is added to the port list if the scan does not find it)\n"
                 "  --baud N      use this baud rate for this run instead of the remembered one\n"
                 "  --format F    frame format for this run: data bits 5-8, parity N, O, E, M\n"
                 "                or S, stop bits 1, 1.5 or 2 (8N1, 8E1, 7O2...)\n"
                 "  --dtr on|off  DTR level for this run (applied as the port opens)\n"
                 "  --rts on|off  RTS level for this run (unless RTS/CTS drives it)\n"
                 "  --connect     connect at start, as if Connect were pressed\n"
                 "  --list-ports  print the ports present and what is behind each, and exit\n"
                 "  --help        show this text and exit\n"
                 "  --version     show the version and exit\n"
                 "\n"
                 "Environment:\n"
                 "  %s   extra port names to list (pseudo-terminals, virtual ports),\n"
                 "                      separated by '%c'\n"
                 "\n"
                 "Settings are kept in %s beside the program, or in the per-user\n"
                 "configuration folder when the program's folder is not writable.\n",
                 corvel::kExtraPortsVariable,
#if defined(_WIN32)
                 ';',
#else
                 ':',
#endif
                 corvel::kSettingsFileName);
}

// One port a line: its name, a TAB, what is behind it (empty when nothing is known).
void ListPorts() {
    const std::vector<std::string> names = corvel::ScanAllPorts();
    for (const corvel::PortInfo& p : corvel::DescribeSystemPorts(names))
        std::printf("%s\t%s\n", p.name.c_str(), corvel::DescribePort(p).c_str());
}

struct Options {
    std::optional<QString> port;
    std::optional<QString> baud;
    corvel::LineOverrides line;
    bool connect = false;
};

// 0 = run, 1 = exit successfully (help, version), 2 = usage error.
int ParseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        QString value;
        bool hasValue = false;
        const qsizetype eq = arg.indexOf('=');
        if (arg.startsWith("--") && eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) return false;
            value = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return 1;
        }
        if (arg == "--version") {
            std::printf("corvel %s\n", kVersion);
            return 1;
        }
        if (arg == "--list-ports") {
            ListPorts();
            return 1;
        }
        if (arg == "--connect") {
            opt.connect = true;
        } else if (arg == "--port") {
            if (!takeValue() || value.isEmpty()) {
                std::fprintf(stderr, "corvel: --port needs a port name\n");
                return 2;
            }
            opt.port = value;
        } else if (arg == "--baud") {
            bool ok = false;
            const qlonglong n = takeValue() ? value.toLongLong(&ok) : 0;
            if (!ok || n <= 0 || n > 0x7FFFFFFFLL) {
                std::fprintf(stderr, "corvel: --baud needs a positive number\n");
                return 2;
            }
            opt.baud = QString::number(n);
        } else if (arg == "--format") {
            const auto format =
                takeValue() ? corvel::ParseLineFormat(value.toStdString()) : std::nullopt;
            if (!format) {
                std::fprintf(stderr,
                             "corvel: --format needs data bits, parity and stop bits, as 8N1, "
                             "8E1 or 7O2\n");
                return 2;
            }
            opt.line.format = format;
        } else if (arg == "--dtr" || arg == "--rts") {
            const auto on = takeValue() ? corvel::ParseOnOff(value.toStdString()) : std::nullopt;
            if (!on) {
                std::fprintf(stderr, "corvel: %s needs on or off\n", arg.toUtf8().constData());
                return 2;
            }
            (arg == "--dtr" ? opt.line.dtr : opt.line.rts) = on;
        } else if (arg.startsWith("-platform") || arg.startsWith("-style") ||
                   arg.startsWith("-qwindow")) {
            // Toolkit options are left to the toolkit (with their value).
            if (!arg.contains('=') && i + 1 < argc) ++i;
        } else {
            std::fprintf(stderr, "corvel: unknown option %s (try --help)\n", argv[i]);
            return 2;
        }
    }
    return 0;
}

#if !defined(_WIN32)
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the window closes from the event loop.
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
}

bool InstallSignalPipe() {
    if (pipe(signalPipe) != 0) return false;
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A parent that started us with these blocked must not keep us from closing in order; one
    // that arrived before now is delivered here and handled once the loop runs.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    const int parsed = ParseOptions(argc, argv, opt);
    if (parsed == 1) return 0;
    if (parsed == 2) return 2;

#if !defined(_WIN32)
    const bool signalsHandled = InstallSignalPipe();
#endif
    corvel::CorvelApplication app(argc, argv);
    QApplication::setApplicationName("corvel");
    QApplication::setApplicationVersion(kVersion);
    QApplication::setDesktopFileName("corvel");

    corvel::TerminalOptions options;
    options.port = opt.port;
    options.baud = opt.baud;
    options.line = opt.line;
    options.connectAtStart = opt.connect;
    corvel::TfrmTerminal window(std::move(options));

#if !defined(_WIN32)
    std::optional<QSocketNotifier> signalNotifier;
    if (signalsHandled) {
        signalNotifier.emplace(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&*signalNotifier, &QSocketNotifier::activated, &window, [&window] {
            char buf[16];
            while (read(signalPipe[0], buf, sizeof buf) > 0) {
            }
            window.close();
        });
    }
#endif
    // The session is ending: close in order (transfers stopped) before the loop is torn down.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window] { window.close(); });

    window.show();
    const int rc = app.exec();
    window.FormDestroy();
    return rc;
}
