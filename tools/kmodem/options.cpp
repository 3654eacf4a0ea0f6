#include "options.h"

namespace corvel::tool {

namespace {

bool ParseNumber(const std::string& s, std::uint64_t lo, std::uint64_t hi, std::uint64_t& out) {
    if (s.empty() || s.size() > 12) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    Options o;
    std::vector<std::string> positional;
    bool portGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasValue = true;
            }
        }
        // Takes the option's value from "--name=value" or the next argument.
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto number = [&](std::uint64_t lo, std::uint64_t hi, std::uint64_t& v) -> bool {
            if (!takeValue()) return false;
            if (ParseNumber(value, lo, hi, v)) return true;
            error = "option " + arg + " takes a number from " + std::to_string(lo) + " to " +
                    std::to_string(hi) + ", not '" + value + "'";
            return false;
        };
        auto flag = [&]() -> bool {
            if (!hasValue) return true;
            error = "option " + arg + " takes no value";
            return false;
        };

        std::uint64_t v = 0;
        if (arg == "--help" || arg == "-h") {
            out = Options{};
            out.mode = Options::Mode::Help;
            return true;
        } else if (arg == "--version") {
            out = Options{};
            out.mode = Options::Mode::Version;
            return true;
        } else if (arg == "--port") {
            if (!takeValue()) return false;
            o.port = value;
            portGiven = true;
        } else if (arg == "--baud") {
            if (!number(1, 0xFFFFFFFFu, v)) return false;
            o.baud = static_cast<std::uint32_t>(v);
        } else if (arg == "--packet-size") {
            if (!number(256, kMaxPacket, v)) return false;
            o.packetSize = static_cast<std::uint16_t>(v);
        } else if (arg == "--timeout") {
            if (!number(1, 255, v)) return false;
            o.timeout = static_cast<std::int32_t>(v);
        } else if (arg == "--start-command") {
            if (!takeValue()) return false;
            o.startCommand = value;
        } else if (arg == "--terminator") {
            if (!takeValue()) return false;
            if (value == "lf") {
                o.terminator = 0;
            } else if (value == "crlf") {
                o.terminator = 1;
            } else if (value == "cr") {
                o.terminator = 2;
            } else {
                error = "option --terminator takes lf, crlf or cr, not '" + value + "'";
                return false;
            }
        } else if (arg == "--echo") {
            if (!flag()) return false;
            o.echo = true;
        } else if (arg == "--rtscts") {
            if (!flag()) return false;
            o.rtscts = true;
        } else if (arg == "--debug") {
            if (!flag()) return false;
            o.debug = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.empty()) {
        error = "say send or receive";
        return false;
    }
    if (positional[0] == "send") {
        o.mode = Options::Mode::Send;
    } else if (positional[0] == "receive") {
        o.mode = Options::Mode::Receive;
    } else {
        error = "unknown command '" + positional[0] + "' (send or receive)";
        return false;
    }
    if (positional.size() != 2) {
        error = positional.size() < 2 ? "which file?" : "one file at a time";
        return false;
    }
    o.file = positional[1];
    if (o.file.empty()) {
        error = "the file name is empty";
        return false;
    }
    if (!portGiven || o.port.empty()) {
        error = "which port? (--port PATH)";
        return false;
    }
    out = o;
    return true;
}

std::string HelpText() {
    return "Usage: corvel-kmodem send FILE --port PATH [options]\n"
           "       corvel-kmodem receive FILE --port PATH [options]\n"
           "\n"
           "Sends or receives one file with Kmodem over a serial port. Start the receiving\n"
           "side first. PATH may also be SIM-BOARD (the virtual board) or SIM-LOOP.\n"
           "\n"
           "Options:\n"
           "  --port PATH            serial port (/dev/ttyUSB0, COM5, SIM-BOARD)\n"
           "  --baud N               bits per second (default 115200)\n"
           "  --packet-size N        data bytes per packet, 256 to 65525 (default 512)\n"
           "  --timeout N            wait limit in units of 0.864 s, 255 = none (default 5)\n"
           "  --start-command TEXT   sent first, e.g. rx or tx for a board shell\n"
           "  --echo                 the other end echoes the start command\n"
           "  --terminator lf|crlf|cr  line end after the start command (default lf)\n"
           "  --rtscts               RTS/CTS flow control\n"
           "  --debug                write the protocol logs in the current directory\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 success, 9 cancelled (Ctrl+C), 15 time-out, 20 no echo, other\n"
           "transfer errors their code; 1 for a usage, port or file error.\n";
}

}  // namespace corvel::tool
