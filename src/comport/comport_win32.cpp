// The port layer for Windows: the communications functions on a non-overlapped handle.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "comport/comport_io.h"

namespace corvel {

namespace {

// Reads return at once with whatever is queued. Writes get a short time-out of their own: the
// driver only writes what the queue reports free, but a line held off by CTS must never keep a
// write (and so the UI thread) waiting; the driver's stall time-out decides when to give up.
constexpr DWORD kWriteTimeoutMs = 50;
// Granularity of the waits: Windows gives a non-overlapped handle no way to block for data, so
// the waits look at the queues this often, sleeping in between. The system's default timer tick
// (15.6 ms) would turn each 1 ms sleep into a whole tick and add that to every acknowledgement
// of a file transfer, so the tick is raised to 1 ms while a port is open.
constexpr DWORD kWaitStepMs = 1;
constexpr UINT kTimerResolutionMs = 1;

// "COM5" becomes the device path "\\.\COM5"; a name given as a device path already is kept.
std::string DevicePath(const std::string& name) {
    if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string SystemMessage(DWORD err) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n && text) {
        const int len = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                              nullptr, nullptr);
        if (len > 0) {
            out.resize(static_cast<std::size_t>(len));
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr,
                                  nullptr);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
            out.pop_back();
    }
    if (text) ::LocalFree(text);
    if (out.empty()) out = "error " + std::to_string(err);
    return out;
}

bool IsDeviceGone(DWORD err) {
    return err == ERROR_DEVICE_REMOVED || err == ERROR_ACCESS_DENIED || err == ERROR_BAD_COMMAND ||
           err == ERROR_GEN_FAILURE || err == ERROR_DEVICE_NOT_CONNECTED;
}

class Win32PortIo : public ComPortIo {
  public:
    ~Win32PortIo() override { Close(); }

    bool Open(const std::string& name) override {
        if (IsOpen()) return Fail(PortErrorKind::Busy, ERROR_BUSY, name);
        const std::wstring path = Widen(DevicePath(name));
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = ::GetLastError();
            PortErrorKind kind = PortErrorKind::Other;
            if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
                kind = PortErrorKind::NotFound;
            } else if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION ||
                       err == ERROR_BUSY) {
                // A COM port held by another program answers "access denied".
                kind = PortErrorKind::Busy;
            }
            return Fail(kind, err, name);
        }
        handle_ = h;
        outQueueSize_ = 0;
        timerRaised_ = ::timeBeginPeriod(kTimerResolutionMs) == TIMERR_NOERROR;
        return true;
    }

    bool IsOpen() const override { return handle_ != nullptr; }

    void Close() override {
        if (!handle_) return;
        ::CloseHandle(handle_);
        handle_ = nullptr;
        RestoreTimer();
    }

    ComHandleValue Handle() const override {
        return handle_ ? reinterpret_cast<ComHandleValue>(handle_) : 0;
    }

    bool Adopt(ComHandleValue h) override {
        Close();
        if (h == 0 || h == kInvalidComHandle)
            return Fail(PortErrorKind::Other, ERROR_INVALID_HANDLE, "adopted handle");
        handle_ = reinterpret_cast<HANDLE>(h);
        return true;
    }

    void Detach() override {
        handle_ = nullptr;
        RestoreTimer();
    }

    bool ApplySettings(const LineSettingsRecord& r) override {
        if (!Check()) return false;
        DCB dcb;
        static_assert(sizeof(DCB) == sizeof(LineSettingsRecord), "record and DCB must match");
        std::memcpy(&dcb, &r, sizeof dcb);
        dcb.DCBlength = sizeof(DCB);
        if (!::SetCommState(handle_, &dcb)) return FailLast("SetCommState");
        dcb_ = dcb;
        // Some drivers (and Wine on a pseudo-terminal) accept a rate they cannot produce and keep
        // the old one: read the state back so that is reported, not taken for success.
        DCB now{};
        now.DCBlength = sizeof now;
        if (!::GetCommState(handle_, &now)) return FailLast("GetCommState");
        if (now.BaudRate != dcb.BaudRate || now.ByteSize != dcb.ByteSize ||
            now.Parity != dcb.Parity || now.StopBits != dcb.StopBits) {
            return FailText(PortErrorKind::Other, "SetCommState: asked for " + Format(dcb) +
                                                      ", the port runs at " + Format(now));
        }
        return true;
    }

    bool Purge(std::uint32_t flags) override {
        if (!Check()) return false;
        if (!::PurgeComm(handle_, flags)) return FailLast("PurgeComm");
        return true;
    }

    bool SetupQueues(std::uint32_t inSize, std::uint32_t outSize) override {
        if (!Check()) return false;
        outQueueSize_ = outSize;
        if (!::SetupComm(handle_, inSize, outSize)) return FailLast("SetupComm");
        return true;
    }

    bool SetNonBlockingTimeouts() override {
        if (!Check()) return false;
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = 0;
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        if (!::SetCommTimeouts(handle_, &t)) return FailLast("SetCommTimeouts");
        return true;
    }

    std::int32_t Read(std::uint8_t* buf, std::int32_t maxBytes) override {
        if (!Check()) return -1;
        if (maxBytes <= 0) return 0;
        DWORD got = 0;
        if (!::ReadFile(handle_, buf, static_cast<DWORD>(maxBytes), &got, nullptr)) {
            FailLast("ReadFile");
            return -1;
        }
        return static_cast<std::int32_t>(got);
    }

    std::int32_t Write(const std::uint8_t* data, std::int32_t size) override {
        if (!Check()) return -1;
        if (size <= 0) return 0;
        DWORD put = 0;
        if (!::WriteFile(handle_, data, static_cast<DWORD>(size), &put, nullptr)) {
            const DWORD err = ::GetLastError();
            // A write time-out is a stall, not a failure: report what went.
            if (err == ERROR_SEM_TIMEOUT || err == ERROR_TIMEOUT || err == ERROR_COUNTER_TIMEOUT)
                return static_cast<std::int32_t>(put);
            Fail(IsDeviceGone(err) ? PortErrorKind::DeviceLost : PortErrorKind::Other, err,
                 "WriteFile");
            return -1;
        }
        return static_cast<std::int32_t>(put);
    }

    std::int32_t OutQueueCount() override {
        COMSTAT st{};
        if (!Status(st)) return -1;
        return static_cast<std::int32_t>(st.cbOutQue);
    }

    bool Escape(std::uint32_t fn) override {
        if (!Check()) return false;
        // Keep the record in step, or the next SetCommState would undo the change.
        switch (fn) {
            case kEscSetDtr:
                dcb_.fDtrControl = DTR_CONTROL_ENABLE;
                break;
            case kEscClrDtr:
                dcb_.fDtrControl = DTR_CONTROL_DISABLE;
                break;
            case kEscSetRts:
                if (dcb_.fRtsControl != RTS_CONTROL_HANDSHAKE)
                    dcb_.fRtsControl = RTS_CONTROL_ENABLE;
                break;
            case kEscClrRts:
                if (dcb_.fRtsControl != RTS_CONTROL_HANDSHAKE)
                    dcb_.fRtsControl = RTS_CONTROL_DISABLE;
                break;
            default:
                return Fail(PortErrorKind::Other, ERROR_INVALID_PARAMETER, "escape function");
        }
        // Some drivers (and emulators) refuse; the line keeps its state and the port stays usable.
        if (!::EscapeCommFunction(handle_, fn)) FailLast("EscapeCommFunction");
        return true;
    }

    bool SetBreak(bool on) override {
        if (!Check()) return false;
        if (!(on ? ::SetCommBreak(handle_) : ::ClearCommBreak(handle_)))
            return FailLast(on ? "SetCommBreak" : "ClearCommBreak");
        return true;
    }

    bool GetModemStatus(ModemStatus& status) override {
        if (!Check()) return false;
        DWORD bits = 0;
        if (!::GetCommModemStatus(handle_, &bits)) return FailLast("GetCommModemStatus");
        status.cts = bits & MS_CTS_ON;
        status.dsr = bits & MS_DSR_ON;
        status.dcd = bits & MS_RLSD_ON;
        status.ri = bits & MS_RING_ON;
        return true;
    }

    bool WaitReadable(std::uint32_t ms) override {
        return WaitFor(ms, [](const COMSTAT& st, std::uint32_t) { return st.cbInQue > 0; });
    }

    bool WaitWritable(std::uint32_t ms) override {
        return WaitFor(ms, [](const COMSTAT& st, std::uint32_t outSize) {
            return outSize == 0 || st.cbOutQue < outSize;
        });
    }

    PortErrorKind LastErrorKind() const override { return kind_; }
    std::string LastErrorMessage() const override { return message_; }

  private:
    static std::string Format(const DCB& d) {
        static const char kParity[] = "NOEMS";
        static const char* const kStop[] = {"1", "1.5", "2"};
        std::string s = std::to_string(d.BaudRate) + " baud " + std::to_string(d.ByteSize);
        s += d.Parity < 5 ? kParity[d.Parity] : '?';
        s += d.StopBits < 3 ? kStop[d.StopBits] : "?";
        return s;
    }

    bool Fail(PortErrorKind kind, DWORD err, const std::string& what) {
        return FailText(kind, what + ": " + SystemMessage(err));
    }

    bool FailText(PortErrorKind kind, std::string message) {
        kind_ = kind;
        message_ = std::move(message);
        return false;
    }

    void RestoreTimer() {
        if (timerRaised_) ::timeEndPeriod(kTimerResolutionMs);
        timerRaised_ = false;
    }

    bool FailLast(const char* what) {
        const DWORD err = ::GetLastError();
        return Fail(IsDeviceGone(err) ? PortErrorKind::DeviceLost : PortErrorKind::Other, err,
                    what);
    }

    bool Check() {
        if (handle_) return true;
        return Fail(PortErrorKind::Other, ERROR_INVALID_HANDLE, "port not open");
    }

    bool Status(COMSTAT& st) {
        if (!Check()) return false;
        DWORD errors = 0;
        if (!::ClearCommError(handle_, &errors, &st)) return FailLast("ClearCommError");
        return true;
    }

    template <typename Cond>
    bool WaitFor(std::uint32_t ms, Cond cond) {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        for (;;) {
            COMSTAT st{};
            if (!Status(st)) return true;  // let the next read or write report the failure
            if (cond(st, outQueueSize_)) return true;
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) return false;
            ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kWaitStepMs, deadline - now)));
        }
    }

    HANDLE handle_ = nullptr;
    DCB dcb_{};
    std::uint32_t outQueueSize_ = 0;
    bool timerRaised_ = false;
    PortErrorKind kind_ = PortErrorKind::None;
    std::string message_;
};

}  // namespace

std::unique_ptr<ComPortIo> MakeSystemPortIo() {
    return std::make_unique<Win32PortIo>();
}

}  // namespace corvel
