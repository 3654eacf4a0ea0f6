#include "options.h"

namespace corvel::xfer {

int ExitStatus(std::int32_t code) {
    switch (code) {
        case XY_OK:
            return kExitOk;
        case XY_NO_START:
            return kExitNoStart;
        case XY_TIMEOUT:
            return kExitTimeout;
        case XY_RETRIES:
        case XY_SYNC_ERROR:
            return kExitErrors;
        case XY_CANCEL_REMOTE:
            return kExitRemote;
        case XY_SHORT_FILE:
            return kExitIncomplete;
        case XY_BAD_NAME:
            return kExitRefused;
        case XY_USER_CANCEL:
            return kExitCancelled;
        default:
            return kExitOther;
    }
}

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    Options o;
    std::vector<std::string> positional;
    bool protocolGiven = false;
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
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        const auto number = [&](std::uint64_t lo, std::uint64_t hi, std::uint64_t& v) {
            if (!takeValue()) return false;
            v = 0;
            bool ok = !value.empty() && value.size() <= 10;
            for (char c : value) {
                if (c < '0' || c > '9') ok = false;
                v = v * 10 + static_cast<std::uint64_t>(c - '0');
            }
            if (ok && v >= lo && v <= hi) return true;
            error = "option " + arg + " takes a number from " + std::to_string(lo) + " to " +
                    std::to_string(hi) + ", not '" + value + "'";
            return false;
        };
        const auto flag = [&]() {
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
        } else if (arg == "--protocol") {
            if (!takeValue()) return false;
            if (!XyProtocolFromKey(value, o.protocol)) {
                error = "option --protocol takes xmodem, xmodem-crc, xmodem-1k or ymodem, not '" +
                        value + "'";
                return false;
            }
            protocolGiven = true;
        } else if (arg == "--dir") {
            if (!takeValue()) return false;
            o.dir = value;
            if (o.dir.empty()) {
                error = "the folder name is empty";
                return false;
            }
        } else if (arg == "--baud") {
            if (!number(1, 0xFFFFFFFFu, v)) return false;
            o.baud = static_cast<std::uint32_t>(v);
        } else if (arg == "--wait") {
            if (!number(1, 86400, v)) return false;
            o.waitSeconds = static_cast<std::uint32_t>(v);
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
        } else if (arg == "--strip-padding") {
            if (!flag()) return false;
            o.stripPadding = true;
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
    o.files.assign(positional.begin() + 1, positional.end());
    for (const std::string& f : o.files)
        if (f.empty()) {
            error = "a file name is empty";
            return false;
        }
    if (!protocolGiven) {
        error = "which protocol? (--protocol xmodem|xmodem-crc|xmodem-1k|ymodem)";
        return false;
    }
    const bool ymodem = o.protocol == XyProtocol::Ymodem;
    if (o.mode == Options::Mode::Send) {
        if (o.files.empty()) {
            error = "which file?";
            return false;
        }
        if (!o.dir.empty()) {
            error = "--dir is for receive";
            return false;
        }
        if (!ymodem && o.files.size() > 1) {
            error = "XMODEM sends one file; use --protocol ymodem for several";
            return false;
        }
    } else if (ymodem) {
        // A YMODEM sender names its files: they go into a folder.
        if (o.dir.empty() || !o.files.empty()) {
            error = "YMODEM receives into a folder: receive --dir DIR";
            return false;
        }
    } else if (o.files.size() != 1 || !o.dir.empty()) {
        error = "XMODEM receives one file: receive FILE";
        return false;
    }
    if (o.stripPadding && (o.mode != Options::Mode::Receive || ymodem)) {
        error = "--strip-padding is for XMODEM receive";
        return false;
    }
    if (o.port.empty()) {
        error = "which port? (--port PATH)";
        return false;
    }
    out = o;
    return true;
}

std::string HelpText() {
    return "Usage: corvel-xfer send FILE... --port PATH --protocol P [options]\n"
           "       corvel-xfer receive (FILE | --dir DIR) --port PATH --protocol P [options]\n"
           "\n"
           "Sends or receives files with XMODEM or YMODEM over a serial port: boot loaders,\n"
           "ROM monitors and board shells. P is xmodem (8-bit sum), xmodem-crc, xmodem-1k or\n"
           "ymodem (a batch of named files). XMODEM carries one file; YMODEM receives into\n"
           "DIR under the sender's names. PATH may also be SIM-BOARD (the virtual board).\n"
           "\n"
           "Options:\n"
           "  --port PATH            serial port (/dev/ttyUSB0, COM5, SIM-BOARD)\n"
           "  --protocol P           xmodem, xmodem-crc, xmodem-1k or ymodem\n"
           "  --baud N               bits per second (default 115200)\n"
           "  --start-command TEXT   sent first, e.g. loady or sy FILE for a board shell\n"
           "  --terminator lf|crlf|cr  line end after the start command (default lf)\n"
           "  --echo                 the other end echoes the start command\n"
           "  --wait SECONDS         how long the far end may take to begin (default 60)\n"
           "  --strip-padding        XMODEM receive: drop the 0x1A bytes ending the file\n"
           "  --rtscts               RTS/CTS flow control\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 success; 1 usage, port or file error; 2 the far end never began;\n"
           "3 it stopped answering; 4 too many bad blocks; 5 cancelled by the far end;\n"
           "6 incomplete file; 7 refused file name; 8 port lost; 9 cancelled (Ctrl+C);\n"
           "10 other transfer errors.\n";
}

}  // namespace corvel::xfer
