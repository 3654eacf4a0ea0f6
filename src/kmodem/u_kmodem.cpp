#include "kmodem/u_kmodem.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include "host/codepage.h"
#include "host/text_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvel {

namespace {

constexpr const char* kRateIdle = "0 Kbytes/S";
constexpr std::size_t kFileBufferSize = std::size_t{1} << 16;
// Largest piece of a data frame taken from the port in one call.
constexpr std::size_t kReadChunk = std::size_t{1} << 14;

std::string Format(const char* fmt, std::va_list args) {
    char small[256];
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, args);
    std::string out;
    if (n < 0) {
        va_end(again);
        return out;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, again);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(again);
    return out;
}

std::string Printf(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Printf(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string s = Format(fmt, args);
    va_end(args);
    return s;
}

[[noreturn]] void ThrowFileErrorCode(const std::string& path, const std::string& action,
                                     const std::error_code& ec) {
    throw FileError(path, action + " \"" + path + "\": " + ec.message(), ec.value());
}

}  // namespace

KmodemReport KmodemResultReport(std::int32_t code, KmodemDirection dir, std::uint32_t maxByteRate,
                                std::uint32_t received, std::uint32_t announced) {
    const bool tx = dir == KmodemDirection::Transmit;
    auto error = [](std::string text) {
        return KmodemReport{std::move(text), KmodemReportKind::Error};
    };
    switch (code) {
        case KM_OK:
            return {
                Printf(tx ? "Transmission made successfully with the maximum rate of %u KBytes/S"
                          : "Reception made successfully with the maximum rate of %u KBytes/S",
                       maxByteRate),
                KmodemReportKind::Message};
        case KM_CANCEL_REMOTE:
            return error("Transfer canceled remotely");
        case KM_USER_CANCEL:
            return error("User cancellation");
        case KM_SYNC_ERROR:
            return error("Sync error");
        case KM_FILE_EMPTY:
            return error(tx ? "File empty" : "Transmitter is trying to send an empty file");
        case KM_TIMEOUT:
            return error(tx ? "No receiver response" : "No response from transmitter");
        case KM_ACK_ERROR:
            return error("ACK error");
        case KM_CHECKSUM_ERROR:
            return error("Checksum error");
        case KM_PACKAGE_SIZE:
            return error(Printf("The size of the kmodem data packet is less than %u",
                                unsigned{KM_MIN_PACKAGE_SIZE}));
        case KM_INCOMPLETE:
            return error(Printf("Incomplete file: received %u of %u bytes", received, announced));
        case KM_NO_ECHO:
            return error("Echo command not received");
        case KM_FILE_TOO_LARGE:
            return error("File too large for Kmodem (4 GiB or more)");
        default:
            return error(Printf(tx ? "Erro desconhecido %d" : "Unknown error: %d", code));
    }
}

// Owns what one transfer opens (the file and its write buffer, the rate timer, the rate label) and
// puts it all back on every way out, including a thrown file error.
class tKmodem::TransferScope {
  public:
    TransferScope(tKmodem& k, std::string path) : k_(k), path_(std::move(path)) {}
    TransferScope(const TransferScope&) = delete;
    TransferScope& operator=(const TransferScope&) = delete;

    ~TransferScope() {
        if (closed_) return;
        // A transfer cut short by a file error leaves the earlier log in place.
        k_.log_.Abandon();
        if (k_.f) {
            // Keep what arrived even when we are leaving because of an error.
            if (wlen_) std::fwrite(wbuf_.data(), 1, wlen_, k_.f);
            std::fclose(k_.f);
            k_.f = nullptr;
        }
        try {
            k_.StopRateTimer();
            k_.SetLabel(kRateIdle);
        } catch (...) {
            // A sink that throws while another exception unwinds must not terminate us.
        }
    }

    void OpenRead() {
        k_.f = OpenFileNoWait(path_, false);
        if (!k_.f) ThrowFileError(path_, "Cannot open file");
        // Given no buffer of its own, the C library may ignore the size and read a few
        // kilobytes per call: a read of the file every other packet.
        rbuf_.resize(kFileBufferSize);
        std::setvbuf(k_.f, rbuf_.data(), _IOFBF, rbuf_.size());
    }

    void OpenWrite() {
        k_.f = OpenFileNoWait(path_, true);
        if (!k_.f) ThrowFileError(path_, "Cannot create file");
        // Our own buffer batches the writes; a second copy in stdio would only cost time.
        std::setvbuf(k_.f, nullptr, _IONBF, 0);
        wbuf_.resize(kFileBufferSize);
    }

    std::uint64_t Size() const {
        std::error_code ec;
        const auto n = std::filesystem::file_size(PathFromUtf8(path_), ec);
        if (ec) ThrowFileErrorCode(path_, "Cannot get the size of file", ec);
        return n;
    }

    void Read(std::uint8_t* to, std::size_t n) {
        const std::size_t got = std::fread(to, 1, n, k_.f);
        if (got == n) return;
        if (std::ferror(k_.f)) ThrowFileError(path_, "Cannot read file");
        throw FileError(path_, "Cannot read file \"" + path_ + "\": unexpected end of file", 0);
    }

    void Put(std::uint8_t b) {
        wbuf_[wlen_++] = b;
        if (wlen_ == wbuf_.size()) FlushWrites();
    }

    void Put(const std::uint8_t* from, std::size_t n) {
        while (n > 0) {
            const std::size_t part = std::min(n, wbuf_.size() - wlen_);
            std::memcpy(wbuf_.data() + wlen_, from, part);
            wlen_ += part;
            from += part;
            n -= part;
            if (wlen_ == wbuf_.size()) FlushWrites();
        }
    }

    // What arrived goes to the file: once the peer counts it delivered, a killed process must
    // still leave it on disk.
    void Commit() { FlushWrites(); }

    // Normal end: closes the file (reporting write errors), then stops the meter.
    void Close() {
        if (k_.f) {
            FlushWrites();
            std::FILE* file = std::exchange(k_.f, nullptr);
            if (std::fclose(file) != 0) ThrowFileError(path_, "Cannot write file");
        }
        closed_ = true;
        k_.StopRateTimer();
        k_.SetLabel(kRateIdle);
    }

  private:
    void FlushWrites() {
        if (wlen_ == 0) return;
        const std::size_t n = std::exchange(wlen_, 0);
        if (std::fwrite(wbuf_.data(), 1, n, k_.f) != n) ThrowFileError(path_, "Cannot write file");
    }

    tKmodem& k_;
    std::string path_;
    std::vector<char> rbuf_;  // the read file's buffer; every way out closes the file first
    std::vector<std::uint8_t> wbuf_;
    std::size_t wlen_ = 0;
    bool closed_ = false;
};

tKmodem::tKmodem(Host& host, tKmodemProgress bp, tKmodemText lbl)
    : barProgress(std::move(bp)), lblRate(std::move(lbl)), host_(host) {}

tKmodem::~tKmodem() {
    StopRateTimer();
    if (f) std::fclose(f);
}

KmodemReport tKmodem::ResultReport(std::int32_t code, KmodemDirection dir) const {
    return KmodemResultReport(code, dir, maxByteRate, f_qtRX, f_size);
}

void tKmodem::Log(const char* fmt, ...) {
    if (!useDebug) return;
    std::va_list args;
    va_start(args, fmt);
    log_.Add(Format(fmt, args));
    va_end(args);
}

std::string tKmodem::LogPath(const char* name) const {
    if (logFolder.empty()) return name;
    return (std::filesystem::path(logFolder) / name).string();
}

void tKmodem::Out(const std::uint8_t* c, std::int32_t n) {
    if (kmodem_Out) kmodem_Out(c, n);
}

void tKmodem::Flush() {
    if (kmodem_Flush) kmodem_Flush(true, true);
}

std::int32_t tKmodem::WaitByte(std::int32_t timeOut) {
    if (canceled) return KM_USER_CANCEL;
    std::uint8_t c = 0;
    // A byte that is already there costs no clock reading: on a busy line this is the path of
    // nearly every byte, and reading the clock would cost more than the rest of the work.
    if (kmodem_In && kmodem_In(c)) return c;
    return WaitPolling(timeOut, [&](std::int32_t& result) {
        if (!kmodem_In || !kmodem_In(c)) return false;
        result = c;
        return true;
    });
}

std::int32_t tKmodem::WaitPolling(std::int32_t timeOut,
                                  const std::function<bool(std::int32_t&)>& got) {
    // The deadline counts from the first empty read, so it may end up to one driver read wait
    // later than it would counting from the call: nothing next to 864 ms units.
    const std::uint64_t start = host_.NowMs();
    const std::int64_t limitMs = std::int64_t{timeOut} * KM_MS_PER_TIMEOUT_UNIT;
    for (;;) {
        if (timeOut != KM_NO_TIMEOUT && static_cast<std::int64_t>(host_.NowMs() - start) > limitMs)
            return KM_TIMEOUT;
        host_.ProcessMessages();
        if (canceled) return KM_USER_CANCEL;
        std::int32_t result = 0;
        if (got(result)) return result;
    }
}

std::int32_t tKmodem::WaitBytes(std::uint8_t* to, std::int32_t max, std::int32_t timeOut) {
    if (!kmodem_Read) {
        const std::int32_t c = WaitByte(timeOut);
        if (c < 0) return c;
        *to = static_cast<std::uint8_t>(c);
        return 1;
    }
    if (canceled) return KM_USER_CANCEL;
    if (const std::int32_t n = kmodem_Read(to, max); n > 0) return n;
    return WaitPolling(timeOut, [&](std::int32_t& result) {
        result = kmodem_Read(to, max);
        return result > 0;
    });
}

void tKmodem::RateTimerTick() {
    const std::uint32_t kb = calcByteRate / 1024;
    SetLabel(Printf("%u Kbytes/S", kb));
    if (kb > maxByteRate) maxByteRate = kb;
    calcByteRate = 0;
    rateTicked_ = true;
}

void tKmodem::SettleRate(std::uint64_t bytes) {
    if (rateTicked_ || rateStartMs_ == 0) return;
    maxByteRate = KBytesPerSecond(bytes, host_.NowMs() - rateStartMs_);
}

void tKmodem::StartRateTimer() {
    StopRateTimer();
    rateTicked_ = false;
    // Never 0, which means "not started".
    rateStartMs_ = std::max<std::uint64_t>(host_.NowMs(), 1);
    timeCalcByteRate = host_.StartTimer(1000, [this] { RateTimerTick(); });
}

void tKmodem::StopRateTimer() {
    if (timeCalcByteRate) host_.StopTimer(std::exchange(timeCalcByteRate, 0));
}

void tKmodem::SetLabel(const std::string& text) {
    if (lblRate) lblRate(text);
}

void tKmodem::SetProgress(std::uint64_t done) {
    if (!barProgress) return;
    if (f_size == 0) {
        barProgress(0);
        return;
    }
    // 64-bit product, rounded half to even.
    const std::uint64_t num = done * 100;
    std::uint64_t q = num / f_size;
    const std::uint64_t twiceRest = 2 * (num % f_size);
    if (twiceRest > f_size || (twiceRest == f_size && (q & 1))) ++q;
    barProgress(q > 100 ? 100 : static_cast<int>(q));
}

std::int32_t tKmodem::SendStartCommand(const std::string& cmd, const char* logName) {
    if (cmd.empty()) return KM_OK;
    std::vector<std::string> cmdLog;
    std::string bytes;
    for (char32_t cp : DecodeUtf8(cmd)) bytes.push_back(static_cast<char>(cp & 0xFF));
    switch (cmd_terminator) {
        case 0:
            bytes += '\n';
            break;
        case 2:
            bytes += '\r';
            break;
        default:
            bytes += "\r\n";
            break;
    }
    for (char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        Out(&b, 1);
        if (useDebug) cmdLog.push_back(Printf("TX: 0x%02X", unsigned{b}));
        if (cmd_useEcho) {
            const std::int32_t echo = WaitByte(timerOutValue);
            if (echo < 0) return echo == KM_USER_CANCEL ? KM_USER_CANCEL : KM_NO_ECHO;
            if (useDebug) cmdLog.push_back(Printf("TX: 0x%02X", static_cast<unsigned>(echo)));
        }
    }
    if (useDebug) WriteTextLines(LogPath(logName), cmdLog);
    return KM_OK;
}

std::int32_t tKmodem::TransmitFile(const std::string& FileName) {
    if (packageSize < KM_MIN_PACKAGE_SIZE) return KM_PACKAGE_SIZE;
    // The size field has 32 bits. A file too big for it is refused before the port is touched,
    // start command included. A file we cannot query here is left to the open below, so a
    // missing file still fails the usual way, after the start command.
    {
        std::error_code ec;
        const auto len = std::filesystem::file_size(PathFromUtf8(FileName), ec);
        if (!ec && len > std::numeric_limits<std::uint32_t>::max()) return KM_FILE_TOO_LARGE;
    }
    Flush();
    if (const std::int32_t r = SendStartCommand(cmdTX, KM_LOG_CMD_TX); r != KM_OK) return r;

    TransferScope scope(*this, FileName);
    if (useDebug) log_.Begin(LogPath(KM_LOG_TX));
    scope.OpenRead();
    const std::uint64_t len = scope.Size();
    std::vector<std::uint8_t> buf(std::size_t{packageSize} + 2);

    f_qtTX = 0;
    sts = tSts::SEND_SIZE_FILE;
    if (barProgress) barProgress(0);
    std::int32_t outcome = KM_OK;
    if (len > std::numeric_limits<std::uint32_t>::max()) {
        // Grew past the limit after the early check: still nothing goes out after the command.
        f_size = 0;
        Log("File too large for Kmodem (4 GiB or more)");
        outcome = KM_FILE_TOO_LARGE;
    } else {
        f_size = static_cast<std::uint32_t>(len);
        Log("Init TX packageSize (%u) filesize (%u)", unsigned{packageSize}, f_size);
        outcome = f_size > 0 ? KM_OK : KM_FILE_EMPTY;
    }

    while (outcome == KM_OK) {
        switch (sts) {
            case tSts::SEND_SIZE_FILE: {
                buf[0] = CMD_GET_SIZE_FILE;
                Log("Send CMD GET SIZE FILE(0x%X)", unsigned{CMD_GET_SIZE_FILE});
                for (int i = 0; i < 4; ++i) {
                    buf[1 + i] = static_cast<std::uint8_t>(f_size >> (8 * i));
                    Log("  tx 0x%X", unsigned{buf[1 + i]});
                }
                Out(buf.data(), 5);
                calcByteRate = 0;
                maxByteRate = 0;
                StartRateTimer();
                Log("Send file size %u", f_size);
                sts = tSts::SEND_SIZE_DATA;
                break;
            }
            case tSts::SEND_SIZE_DATA: {
                buf[0] = CMD_SIZE_DATA;
                const std::uint32_t left = f_size - f_qtTX;
                size = left >= packageSize ? packageSize : static_cast<std::uint16_t>(left);
                Log("Send CMD size data (0x%X)", unsigned{CMD_SIZE_DATA});
                for (int i = 0; i < 2; ++i) {
                    buf[1 + i] = static_cast<std::uint8_t>(size >> (8 * i));
                    Log("  tx 0x%X", unsigned{buf[1 + i]});
                }
                Out(buf.data(), 3);
                Log("Send size data %u", unsigned{size});
                sts = tSts::SEND_DATA;
                break;
            }
            case tSts::SEND_DATA: {
                buf[0] = CMD_DATA;
                Log("Send CMD DATA (0x%X) - size %d", unsigned{CMD_DATA}, int{size});
                checksum = 0;
                scope.Read(buf.data() + 1, size);
                for (std::size_t i = 0; i < size; ++i) checksum += buf[1 + i];
                if (useDebug)
                    for (std::size_t i = 0; i < size; ++i)
                        Log("  tx 0x%X (%d)", unsigned{buf[1 + i]}, static_cast<int>(i));
                calcByteRate += size;
                f_qtTX += size;
                Log("Send %u bytes de %u bytes", f_qtTX, f_size);
                buf[std::size_t{size} + 1] = static_cast<std::uint8_t>(checksum);
                Log("Send checksum %d", int{buf[std::size_t{size} + 1]});
                Out(buf.data(), std::int32_t{size} + 2);
                outcome = WaitByte(timerOutValue);
                Log("RX ack %d", outcome);
                if (outcome >= 0 && outcome != ACK) {
                    Log("ACK error %d", outcome);
                    outcome = KM_ACK_ERROR;
                } else if (outcome == ACK) {
                    Log("ACK ok %d", outcome);
                }
                sts = tSts::SEND_SIZE_DATA;
                break;
            }
            default:
                sts = tSts::SEND_SIZE_FILE;
                break;
        }
        if (outcome < 0) break;
        if (canceled) {
            outcome = KM_USER_CANCEL;
            Log("User cancel - %d ", outcome);
            break;
        }
        outcome = KM_OK;
        if (f_qtTX >= f_size) {
            if (barProgress) barProgress(100);
            Log("END - %d ", 0);
            break;
        }
        SetProgress(f_qtTX);
        Log("APP process");
        host_.ProcessMessages();
    }

    const std::uint8_t cancel = CMD_CANCEL;
    const std::uint8_t finish = CMD_FINISH;
    switch (outcome) {
        case KM_ACK_ERROR:
            Out(&cancel, 1);
            Log("ACK error. Send CMD cancel TX ");
            break;
        case KM_USER_CANCEL:
            Out(&cancel, 1);
            Log("User cancel. Send CMD cancel TX ");
            break;
        case KM_OK:
            Out(&finish, 1);
            Log("Send CMD Finish - TX completed %d ", 0);
            break;
        default:
            break;
    }

    buf = {};
    if (outcome == KM_OK) SettleRate(f_qtTX);
    scope.Close();
    log_.Finish();
    return outcome;
}

std::int32_t tKmodem::ReceiveFile(const std::string& FileName) {
    if (packageSize < KM_MIN_PACKAGE_SIZE) return KM_PACKAGE_SIZE;
    Flush();
    if (const std::int32_t r = SendStartCommand(cmdRX, KM_LOG_CMD_RX); r != KM_OK) return r;

    TransferScope scope(*this, FileName);
    scope.OpenWrite();
    if (useDebug) log_.Begin(LogPath(KM_LOG_RX));
    std::vector<std::uint8_t> rx(kReadChunk);

    f_qtRX = 0;
    received64_ = 0;
    f_size = 0;
    sts = tSts::GET_SIZE_FILE;
    if (barProgress) barProgress(0);
    Log("Init RX packageSize (%u)", unsigned{packageSize});

    std::int32_t outcome = KM_OK;
    do {
        const std::int32_t cmd =
            WaitByte(sts == tSts::GET_SIZE_FILE ? KM_NO_TIMEOUT : timerOutValue);
        if (cmd < 0) {
            Log("Erro %d", cmd);
            outcome = cmd;
            break;
        }
        if (cmd == CMD_FINISH) {
            Log("Finish");
            outcome = KM_OK;
            // A finish before the announced size has arrived is a broken transfer, not a
            // success.
            if (received64_ < f_size) {
                Log("Incomplete file: received %u of %u bytes", f_qtRX, f_size);
                outcome = KM_INCOMPLETE;
            }
            break;
        }
        if (cmd == CMD_CANCEL) {
            Log("Cancel remote");
            outcome = KM_CANCEL_REMOTE;
            break;
        }
        outcome = cmd;

        switch (sts) {
            case tSts::GET_SIZE_FILE: {
                if (cmd != CMD_GET_SIZE_FILE) {
                    Log("Erro sync %d - GET_SIZE_FILE", cmd);
                    outcome = KM_SYNC_ERROR;
                    break;
                }
                Log("Get CMD GET SIZE FILE(0x%X)", static_cast<unsigned>(cmd));
                f_size = 0;
                for (int i = 0; i < 4; ++i) {
                    outcome = WaitByte(timerOutValue);
                    if (outcome < 0) {
                        Log("Erro durante rx size file %d ", outcome);
                        break;
                    }
                    f_size += static_cast<std::uint32_t>(outcome) << (8 * i);
                    Log("  rx 0x%X", static_cast<unsigned>(outcome));
                }
                if (outcome < 0) break;
                if (f_size == 0) outcome = KM_FILE_EMPTY;
                calcByteRate = 0;
                maxByteRate = 0;
                StartRateTimer();
                Log("Get file size %u", f_size);
                sts = tSts::GET_SIZE_DATA;
                break;
            }
            case tSts::GET_SIZE_DATA: {
                if (cmd != CMD_SIZE_DATA) {
                    Log("Erro sync %d - GET_SIZE_PACKAGE ", cmd);
                    outcome = KM_SYNC_ERROR;
                    break;
                }
                Log("Get CMD size data (0x%X)", static_cast<unsigned>(cmd));
                size = 0;
                for (int i = 0; i < 2; ++i) {
                    outcome = WaitByte(timerOutValue);
                    if (outcome < 0) {
                        Log("Erro during rx size %d ", outcome);
                        break;
                    }
                    size = static_cast<std::uint16_t>(size + (outcome << (8 * i)));
                    Log("  rx 0x%X", static_cast<unsigned>(outcome));
                }
                if (outcome < 0) break;
                // Any length is taken as announced, even above our own packageSize.
                Log("Get size data %u", unsigned{size});
                sts = tSts::GET_DATA;
                break;
            }
            case tSts::GET_DATA: {
                if (cmd != CMD_DATA) {
                    Log("Erro sync     %d - GET_DATA", cmd);
                    outcome = KM_SYNC_ERROR;
                    break;
                }
                Log("Get CMD DATA (0x%X) - size %d", static_cast<unsigned>(cmd), int{size});
                checksum = 0;
                // The checksum byte may come in the same piece as the last data bytes: asking
                // for it too lets the port wake us once for the whole rest of the frame.
                std::int32_t sum = -1;
                for (std::int32_t i = 0; i < size;) {
                    const std::int32_t want =
                        std::min<std::int32_t>(size - i + 1, static_cast<std::int32_t>(rx.size()));
                    const std::int32_t n = WaitBytes(rx.data(), want, timerOutValue);
                    if (n < 0) {
                        outcome = n;
                        Log("Erro durante recepção dados %d ", outcome);
                        break;
                    }
                    const std::int32_t data = std::min<std::int32_t>(n, size - i);
                    scope.Put(rx.data(), static_cast<std::size_t>(data));
                    received64_ += static_cast<std::uint64_t>(data);
                    for (std::int32_t j = 0; j < data; ++j) {
                        checksum += rx[static_cast<std::size_t>(j)];
                        if (useDebug)
                            Log("  rx 0x%X (%d)", unsigned{rx[static_cast<std::size_t>(j)]}, i + j);
                    }
                    if (n > data) sum = rx[static_cast<std::size_t>(data)];
                    i += data;
                }
                if (outcome < 0) break;
                calcByteRate += size;
                f_qtRX += size;
                Log("Receive %u bytes de %u bytes", f_qtRX, f_size);
                const unsigned computed = checksum & 0xFF;
                outcome = sum >= 0 ? sum : WaitByte(timerOutValue);
                if (outcome < 0) {
                    Log("Erro na espera checksum %d ", outcome);
                } else if (static_cast<unsigned>(outcome) == computed) {
                    Log("Checksum ok %u = %u", computed, static_cast<unsigned>(outcome));
                    scope.Commit();
                    Out(&ACK, 1);
                    Log("Enviando ACK %u", unsigned{ACK});
                } else {
                    Log("Checksum error %u <> %u", computed, static_cast<unsigned>(outcome));
                    outcome = KM_CHECKSUM_ERROR;
                }
                sts = tSts::GET_SIZE_DATA;
                break;
            }
            default:
                outcome = KM_SYNC_ERROR;
                break;
        }

        if (outcome < 0) break;
        if (canceled) {
            Log("user cancel - %d ", outcome);
            outcome = KM_USER_CANCEL;
            break;
        }
        outcome = KM_OK;
        Log("APP process");
        SetProgress(received64_);
        host_.ProcessMessages();
    } while (outcome == KM_OK);

    Log("Return %d ", outcome);
    if (outcome == KM_OK) SettleRate(received64_);
    scope.Close();
    log_.Finish();
    return outcome;
}

}  // namespace corvel
