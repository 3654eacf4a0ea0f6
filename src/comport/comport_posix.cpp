// The port layer for POSIX systems: a tty in raw mode, non-blocking, held exclusively.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "comport/comport_io.h"
#include "comport/port_holders.h"
#include "comport/posix_baud.h"
#include "comport/posix_termios.h"

namespace corvel {

void FillRawTermios(const LineSettingsRecord& r, termios& t) {
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    switch (r.ByteSize) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    switch (r.Parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
#ifdef CMSPAR
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            break;
    }
    if (r.StopBits != 0) t.c_cflag |= CSTOPB;  // 1.5 stop bits exist only as 2 here
    if (r.Flags & (kDcbOutxCtsFlow | kDcbRtsControlHandshake)) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (r.Flags & kDcbOutX) t.c_iflag |= IXON;
    if (r.Flags & kDcbInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = r.XonChar;
    t.c_cc[VSTOP] = r.XoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

std::string TermiosFormatName(const termios& t) {
    std::string s;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s = "5";
            break;
        case CS6:
            s = "6";
            break;
        case CS7:
            s = "7";
            break;
        default:
            s = "8";
            break;
    }
    const bool odd = (t.c_cflag & PARODD) != 0;
    char parity = odd ? 'O' : 'E';
#ifdef CMSPAR
    if (t.c_cflag & CMSPAR) parity = odd ? 'M' : 'S';
#endif
    s += (t.c_cflag & PARENB) ? parity : 'N';
    s += (t.c_cflag & CSTOPB) ? "2" : "1";
    return s;
}

namespace {

// The flags of a termios that carry the record's format and flow control.
constexpr tcflag_t kFormatCflags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS
#ifdef CMSPAR
                                   | CMSPAR
#endif
    ;
constexpr tcflag_t kFlowIflags = IXON | IXOFF;

struct StandardRate {
    std::uint32_t rate;
    speed_t code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool StandardCode(std::uint32_t rate, speed_t& code) {
    for (const auto& r : kStandardRates) {
        if (r.rate == rate) {
            code = r.code;
            return true;
        }
    }
    return false;
}

bool IsDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV;
}

// Pseudo-terminals and some adapters have no modem lines; that is not a failure of the port.
bool IsUnsupported(int err) {
    return err == ENOTTY || err == EINVAL;
}

class PosixPortIo : public ComPortIo {
  public:
    ~PosixPortIo() override { Close(); }

    bool Open(const std::string& name) override {
        if (fd_ >= 0) return Fail(PortErrorKind::Busy, EBUSY, "port already open");
        const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (err == EBUSY) return FailBusy(name);  // another opener set TIOCEXCL
            return Fail(OpenErrorKind(err), err, name);
        }
        if (!::isatty(fd)) {
            ::close(fd);
            return Fail(PortErrorKind::Other, ENOTTY, name);
        }
        // TIOCEXCL keeps other openers out but not root; flock also stops root, but only
        // programs that ask for it. Together they cover both.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) return FailBusy(name);
            return Fail(PortErrorKind::Other, err, name);
        }
        if (::ioctl(fd, TIOCEXCL) != 0 && !IsUnsupported(errno)) {
            const int err = errno;
            ::close(fd);
            return Fail(PortErrorKind::Other, err, name);
        }
        fd_ = fd;
        name_ = name;
        dtr_ = rts_ = true;  // the kernel raises both on open
        return true;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    void Close() override {
        if (fd_ < 0) return;
        ::ioctl(fd_, TIOCNXCL);  // a pty outlives our descriptor; leave it openable
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }

    ComHandleValue Handle() const override { return fd_ >= 0 ? fd_ : 0; }

    bool Adopt(ComHandleValue handle) override {
        Close();
        if (handle <= 0 || handle > 0x7FFFFFFF)
            return Fail(PortErrorKind::Other, EBADF, "adopted handle");
        const int fd = static_cast<int>(handle);
        if (::fcntl(fd, F_GETFD) < 0) return Fail(PortErrorKind::Other, errno, "adopted handle");
        fd_ = fd;
        return true;
    }

    void Detach() override { fd_ = -1; }

    bool ApplySettings(const LineSettingsRecord& r) override {
        if (!Check()) return false;
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return Fail(ErrKind(errno), errno, "tcgetattr");
        FillRawTermios(r, t);
        speed_t code = B9600;
        const bool standard = StandardCode(r.BaudRate, code);
        ::cfsetispeed(&t, code);
        ::cfsetospeed(&t, code);
        note_ = r.StopBits == 1 ? "1.5 stop bits are not available here: the line uses 2"
                                : std::string();
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) return Fail(ErrKind(errno), errno, "tcsetattr");
        bool ok = true;
        // tcsetattr succeeds when any part of the request was taken: only a read-back tells
        // whether the format was.
        termios now{};
        if (::tcgetattr(fd_, &now) != 0) {
            ok = Fail(ErrKind(errno), errno, "tcgetattr");
        } else if ((now.c_cflag & kFormatCflags) != (t.c_cflag & kFormatCflags) ||
                   (now.c_iflag & kFlowIflags) != (t.c_iflag & kFlowIflags)) {
            ok = FailText("the port refused " + TermiosFormatName(t) + FlowName(t) + ": it runs " +
                          TermiosFormatName(now) + FlowName(now));
        }
        if (!standard) {
            const int err = SetAnyBaudRate(fd_, r.BaudRate);
            if (err != 0) ok = Fail(ErrKind(err), err, "baud rate");
        }
        // Modem lines follow the record, as the open raised both of them.
        SetLine(TIOCM_DTR, (r.Flags & kDcbDtrControlEnable) != 0);
        // With handshaking the kernel drives RTS; it starts raised.
        SetLine(TIOCM_RTS, (r.Flags & (kDcbRtsControlHandshake | kDcbRtsControlEnable)) != 0);
        if (!ok) note_.clear();
        return ok;
    }

    bool Purge(std::uint32_t flags) override {
        if (!Check()) return false;
        const bool in = flags & (kPurgeRxAbort | kPurgeRxClear);
        const bool out = flags & (kPurgeTxAbort | kPurgeTxClear);
        if (!in && !out) return true;
        const int which = in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH;
        if (::tcflush(fd_, which) != 0) return Fail(ErrKind(errno), errno, "tcflush");
        return true;
    }

    // The kernel sizes its own queues; the request is only remembered.
    bool SetupQueues(std::uint32_t, std::uint32_t) override { return Check(); }

    // The descriptor is already non-blocking with VMIN = VTIME = 0.
    bool SetNonBlockingTimeouts() override { return Check(); }

    std::int32_t Read(std::uint8_t* buf, std::int32_t maxBytes) override {
        if (!Check()) return -1;
        if (maxBytes <= 0) return 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buf, static_cast<std::size_t>(maxBytes));
            if (n > 0) return static_cast<std::int32_t>(n);
            if (n == 0) return HungUp() ? -1 : 0;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            const int err = errno;
            Fail(ErrKind(err), err, "read");
            return -1;
        }
    }

    std::int32_t Write(const std::uint8_t* data, std::int32_t size) override {
        if (!Check()) return -1;
        if (size <= 0) return 0;
        for (;;) {
            const ssize_t n = ::write(fd_, data, static_cast<std::size_t>(size));
            if (n >= 0) return static_cast<std::int32_t>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            const int err = errno;
            Fail(ErrKind(err), err, "write");
            return -1;
        }
    }

    std::int32_t OutQueueCount() override {
        if (!Check()) return -1;
        int count = 0;
        if (::ioctl(fd_, TIOCOUTQ, &count) != 0) {
            const int err = errno;
            Fail(ErrKind(err), err, "TIOCOUTQ");
            return -1;
        }
        return count < 0 ? 0 : count;
    }

    bool Escape(std::uint32_t fn) override {
        if (!Check()) return false;
        switch (fn) {
            case kEscSetDtr:
                return SetLine(TIOCM_DTR, true);
            case kEscClrDtr:
                return SetLine(TIOCM_DTR, false);
            case kEscSetRts:
                return SetLine(TIOCM_RTS, true);
            case kEscClrRts:
                return SetLine(TIOCM_RTS, false);
            default:
                return Fail(PortErrorKind::Other, EINVAL, "escape function");
        }
    }

    // Timed by the caller: tcsendbreak would block the UI thread for the whole BREAK.
    bool SetBreak(bool on) override {
        if (!Check()) return false;
        if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0)
            return Fail(ErrKind(errno), errno, on ? "TIOCSBRK" : "TIOCCBRK");
        return true;
    }

    bool GetModemStatus(ModemStatus& status) override {
        if (!Check()) return false;
        int bits = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
            const int err = errno;
            if (IsUnsupported(err)) return FailText("this port cannot report its modem lines");
            return Fail(ErrKind(err), err, "TIOCMGET");
        }
        status.cts = bits & TIOCM_CTS;
        status.dsr = bits & TIOCM_DSR;
        status.dcd = bits & TIOCM_CAR;
        status.ri = bits & TIOCM_RNG;
        return true;
    }

    std::string SettingsNote() const override { return note_; }

    bool WaitReadable(std::uint32_t ms) override { return Wait(POLLIN, ms); }
    bool WaitWritable(std::uint32_t ms) override { return Wait(POLLOUT, ms); }

    PortErrorKind LastErrorKind() const override { return kind_; }
    std::string LastErrorMessage() const override { return message_; }

    // The commanded modem lines (ptys cannot report them back).
    bool dtr_ = false;
    bool rts_ = false;

  private:
    static PortErrorKind OpenErrorKind(int err) {
        switch (err) {
            case ENOENT:
            case ENODEV:
            case ENXIO:
                return PortErrorKind::NotFound;
            case EBUSY:
                return PortErrorKind::Busy;
            case EACCES:
            case EPERM:
                return PortErrorKind::AccessDenied;
            default:
                return PortErrorKind::Other;
        }
    }

    static PortErrorKind ErrKind(int err) {
        return IsDeviceGone(err) ? PortErrorKind::DeviceLost : PortErrorKind::Other;
    }

    bool Fail(PortErrorKind kind, int err, const std::string& what) {
        kind_ = kind;
        message_ = what + ": " + std::strerror(err);
        return false;
    }

    bool FailText(std::string message) {
        kind_ = PortErrorKind::Other;
        message_ = std::move(message);
        return false;
    }

    static std::string FlowName(const termios& t) {
        std::string s;
        if (t.c_cflag & CRTSCTS) s += " RTS/CTS";
        if (t.c_iflag & (IXON | IXOFF)) s += " XON/XOFF";
        return s;
    }

    // The kernel does not say who holds a port; /proc does, for processes we may look into.
    bool FailBusy(const std::string& name) {
        Fail(PortErrorKind::Busy, EBUSY, name);
        const std::string who = DescribeHolders(FindPortHolders(name));
        if (!who.empty()) message_ = name + ": in use by " + who;
        return false;
    }

    bool Check() {
        if (fd_ >= 0) return true;
        return Fail(PortErrorKind::Other, EBADF, "port not open");
    }

    bool SetLine(int bit, bool on) {
        if (bit == TIOCM_DTR)
            dtr_ = on;
        else
            rts_ = on;
        if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0 && !IsUnsupported(errno))
            return Fail(ErrKind(errno), errno, "modem lines");
        return true;
    }

    // An empty read on a non-blocking tty means either "nothing yet" or "the other side is
    // gone"; only poll can tell them apart.
    bool HungUp() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            Fail(PortErrorKind::DeviceLost, EIO, "hang-up");
            return true;
        }
        return false;
    }

    bool Wait(short events, std::uint32_t ms) {
        if (!Check()) return false;
        pollfd p{fd_, events, 0};
        const int timeout = ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(ms);
        const int n = ::poll(&p, 1, timeout);
        if (n <= 0) return false;  // time-out, or a signal: the caller re-checks its clock
        // A hang-up counts as "ready" so the caller's next read or write reports it.
        return true;
    }

    int fd_ = -1;
    std::string name_;
    std::string note_;
    PortErrorKind kind_ = PortErrorKind::None;
    std::string message_;
};

}  // namespace

std::unique_ptr<ComPortIo> MakeSystemPortIo() {
    return std::make_unique<PosixPortIo>();
}

}  // namespace corvel
