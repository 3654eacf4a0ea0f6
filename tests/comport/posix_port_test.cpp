// The POSIX port layer against real pseudo-terminals: the master plays the far end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "comport/comport.h"
#include "comport/comport_io.h"
#include "comport/posix_baud.h"
#include "comport/posix_termios.h"
#include "host/std_host.h"

#ifdef CORVEL_WRAP_TCSETATTR
// The test binary is linked with --wrap=tcsetattr: every termios the port layer hands the kernel
// is recorded here. A pty forces 8 data bits and clears parity enable, so what was asked for can
// only be proved at this boundary, not read back.
termios g_tcsetattrAsked{};
int g_tcsetattrCalls = 0;
extern "C" int __real_tcsetattr(int fd, int action, const termios* t);
extern "C" int __wrap_tcsetattr(int fd, int action, const termios* t) {
    g_tcsetattrAsked = *t;
    ++g_tcsetattrCalls;
    return __real_tcsetattr(fd, action, t);
}
#endif

namespace corvel {
namespace {

class Pty {
  public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
        path = name;
    }
    ~Pty() { CloseMaster(); }
    void CloseMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void Send(const std::string& s) const {
        ASSERT_EQ(::write(master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    // Reads what the port under test sent, waiting up to 2 s for n bytes.
    std::string Receive(std::size_t n) const {
        std::string out;
        while (out.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            char buf[4096];
            const ssize_t k = ::read(master, buf, sizeof buf);
            if (k <= 0) break;
            out.append(buf, static_cast<std::size_t>(k));
        }
        return out;
    }

    int master = -1;
    std::string path;
};

LineSettingsRecord Record(std::uint32_t baud) {
    LineSettingsRecord r;
    r.BaudRate = baud;
    r.Flags = kDcbBinary;
    r.ByteSize = 8;
    r.XonChar = 0x11;
    r.XoffChar = 0x13;
    return r;
}

std::string ReadSome(ComPortIo& io, std::size_t n) {
    std::string out;
    std::uint8_t buf[4096];
    for (int tries = 0; out.size() < n && tries < 50; ++tries) {
        if (!io.WaitReadable(100)) continue;
        const std::int32_t k = io.Read(buf, sizeof buf);
        if (k < 0) break;
        out.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(k));
    }
    return out;
}

TEST(PosixPort, BytesFlowBothWaysOnARawLine) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    auto io = MakeSystemPortIo();
    ASSERT_TRUE(io->Open(pty.path)) << io->LastErrorMessage();
    EXPECT_GT(io->Handle(), 0);
    ASSERT_TRUE(io->ApplySettings(Record(115200))) << io->LastErrorMessage();
    EXPECT_TRUE(io->SetNonBlockingTimeouts());
    EXPECT_TRUE(io->SetupQueues(2048, 2048));
    // Modem lines do not exist on a pty: refused quietly, not a failure.
    EXPECT_TRUE(io->Escape(kEscSetDtr));
    EXPECT_TRUE(io->Escape(kEscClrRts));

    std::uint8_t buf[16];
    EXPECT_EQ(io->Read(buf, sizeof buf), 0);  // nothing yet, no blocking
    const std::string out = "hi\n\r\x00\xff\x11\x13";
    ASSERT_EQ(io->Write(reinterpret_cast<const std::uint8_t*>(out.data()),
                        static_cast<std::int32_t>(out.size())),
              static_cast<std::int32_t>(out.size()));
    EXPECT_EQ(pty.Receive(out.size()), out);  // no echo, no translation
    EXPECT_GE(io->OutQueueCount(), 0);

    pty.Send(std::string("back\r\n\x03", 7));
    EXPECT_EQ(ReadSome(*io, 7), std::string("back\r\n\x03", 7));

    termios t{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(io->Handle()), &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_cflag & HUPCL);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
    io->Close();
    EXPECT_FALSE(io->IsOpen());
    EXPECT_EQ(io->Read(buf, 1), -1);
}

TEST(PosixPort, AnyRateIsAppliedAndReadBack) {
    Pty pty;
    auto io = MakeSystemPortIo();
    ASSERT_TRUE(io->Open(pty.path));
    ASSERT_TRUE(io->ApplySettings(Record(250000))) << io->LastErrorMessage();
    const int fd = static_cast<int>(io->Handle());
    std::uint32_t rate = 0;
    ASSERT_EQ(GetBaudRate(fd, rate), 0);
    EXPECT_EQ(rate, 250000u);
    ASSERT_TRUE(io->ApplySettings(Record(9600)));
    ASSERT_EQ(GetBaudRate(fd, rate), 0);
    EXPECT_EQ(rate, 9600u);
}

#ifdef CORVEL_WRAP_TCSETATTR
TEST(PosixPort, EveryFormatAndFlowIsAskedForAndWhatThePtyKeepsIsChecked) {
    Pty pty;
    // A descriptor of the same pty, opened before the port takes it exclusively.
    const int held = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    auto io = MakeSystemPortIo();
    ASSERT_TRUE(io->Open(pty.path));
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    const tcflag_t parities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                 PARENB | CMSPAR};
    const char letters[] = "NOEMS";
    int combinations = 0;
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        for (std::uint8_t parity = 0; parity <= 4; ++parity) {
            for (std::uint8_t stop = 0; stop <= 2; ++stop) {
                for (int flow = 0; flow < 4; ++flow) {
                    LineSettingsRecord r = Record(19200);
                    r.ByteSize = bits;
                    r.Parity = parity;
                    r.StopBits = stop;
                    if (flow & 1) r.Flags |= kDcbOutxCtsFlow | kDcbRtsControlHandshake;
                    if (flow & 2) r.Flags |= kDcbOutX | kDcbInX;
                    const std::string what = std::to_string(bits) + letters[parity] +
                                             std::to_string(stop) + " flow " + std::to_string(flow);
                    g_tcsetattrCalls = 0;
                    const bool ok = io->ApplySettings(r);
                    ASSERT_EQ(g_tcsetattrCalls, 1) << what;
                    // What was asked of the kernel: the whole format.
                    const termios& a = g_tcsetattrAsked;
                    EXPECT_EQ(a.c_cflag & CSIZE, sizes[bits - 5]) << what;
                    EXPECT_EQ(a.c_cflag & (PARENB | PARODD | CMSPAR), parities[parity]) << what;
                    EXPECT_EQ((a.c_cflag & CSTOPB) != 0, stop != 0) << what;
                    EXPECT_EQ((a.c_cflag & CRTSCTS) != 0, (flow & 1) != 0) << what;
                    EXPECT_EQ((a.c_iflag & (IXON | IXOFF)) != 0, (flow & 2) != 0) << what;
                    // What the pty kept, read through the other descriptor.
                    termios k{};
                    ASSERT_EQ(::tcgetattr(held, &k), 0);
                    EXPECT_EQ(k.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS),
                              a.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS))
                        << what;
                    EXPECT_EQ(k.c_iflag & (IXON | IXOFF), a.c_iflag & (IXON | IXOFF)) << what;
                    EXPECT_EQ(k.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << what;
                    EXPECT_FALSE(k.c_cflag & PARENB) << what;
                    // The pty's 8N1 is a refusal of anything else, reported with both formats.
                    EXPECT_EQ(ok, bits == 8 && parity == 0) << what;
                    if (!ok) {
                        const std::string m = io->LastErrorMessage();
                        EXPECT_NE(m.find("refused " + TermiosFormatName(a)), std::string::npos)
                            << m;
                        EXPECT_NE(m.find("runs " + TermiosFormatName(k)), std::string::npos) << m;
                    }
                    EXPECT_EQ(!io->SettingsNote().empty(), ok && stop == 1) << what;
                    ++combinations;
                }
            }
        }
    }
    EXPECT_EQ(combinations, 240);
    ::close(held);
}
#endif

TEST(PosixPort, BreakIsSetAndClearedAndAPtyHasNoModemStatus) {
    Pty pty;
    auto io = MakeSystemPortIo();
    ASSERT_TRUE(io->Open(pty.path));
    // A pty takes the BREAK ioctls without effect: the far end sees nothing of them.
    EXPECT_TRUE(io->SetBreak(true)) << io->LastErrorMessage();
    EXPECT_TRUE(io->SetBreak(false)) << io->LastErrorMessage();
    ModemStatus status;
    EXPECT_FALSE(io->GetModemStatus(status));
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::Other);
    EXPECT_NE(io->LastErrorMessage().find("modem lines"), std::string::npos);
    // Still a working port.
    const std::uint8_t x = 'x';
    EXPECT_EQ(io->Write(&x, 1), 1);
    EXPECT_EQ(pty.Receive(1), "x");
    io->Close();
    EXPECT_FALSE(io->SetBreak(true));
}

TEST(PosixPort, RecordBecomesARawTermios) {
    termios t{};
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_oflag = OPOST | ONLCR;
    t.c_iflag = ICRNL | IXANY;
    t.c_cflag = HUPCL | CS8 | PARENB | CSTOPB | CRTSCTS;
    LineSettingsRecord r = Record(9600);
    FillRawTermios(r, t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (HUPCL | PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE((t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_iflag & (ICRNL | IXON | IXOFF | IXANY));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        r.ByteSize = bits;
        FillRawTermios(r, t);
        EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits - 5]) << int(bits);
    }
    r.ByteSize = 42;  // nonsense falls back to 8 bits
    FillRawTermios(r, t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    const tcflag_t parities[] = {
        0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR, PARENB | CMSPAR, 0};
    for (std::uint8_t p = 0; p <= 5; ++p) {
        r.Parity = p;
        FillRawTermios(r, t);
        EXPECT_EQ(t.c_cflag & parityBits, parities[p]) << int(p);
    }
    r.Parity = 0;
    r.StopBits = 2;
    r.XonChar = 0x21;
    r.Flags = kDcbBinary | kDcbOutX;
    FillRawTermios(r, t);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_FALSE(t.c_iflag & IXOFF);
    EXPECT_EQ(t.c_cc[VSTART], 0x21);
}

TEST(PosixPort, OpenIsExclusiveAndReportsWhy) {
    Pty pty;
    auto first = MakeSystemPortIo();
    auto second = MakeSystemPortIo();
    ASSERT_TRUE(first->Open(pty.path));
    EXPECT_FALSE(second->Open(pty.path));
    EXPECT_EQ(second->LastErrorKind(), PortErrorKind::Busy);
    EXPECT_FALSE(second->LastErrorMessage().empty());
    first->Close();
    EXPECT_TRUE(second->Open(pty.path)) << second->LastErrorMessage();
    second->Close();

    EXPECT_FALSE(first->Open("/dev/corvel-no-such-port"));
    EXPECT_EQ(first->LastErrorKind(), PortErrorKind::NotFound);
    EXPECT_FALSE(first->Open("/dev/null"));  // not a tty
    EXPECT_FALSE(first->IsOpen());
}

// Another program holding the port is named, with its process number, as /proc shows it.
TEST(PosixPort, BusyPortNamesTheProcessHoldingIt) {
    Pty pty;
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto holder = MakeSystemPortIo();
        const char ok = holder->Open(pty.path) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    auto io = MakeSystemPortIo();
    EXPECT_FALSE(io->Open(pty.path));
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::Busy);
    const std::string message = io->LastErrorMessage();
    EXPECT_NE(message.find("in use by "), std::string::npos) << message;
    EXPECT_NE(message.find("(process " + std::to_string(child) + ")"), std::string::npos)
        << message;
    (void)!::write(release[1], "x", 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
    EXPECT_TRUE(io->Open(pty.path)) << io->LastErrorMessage();
}

TEST(PosixPort, PurgeAndFullQueue) {
    Pty pty;
    auto io = MakeSystemPortIo();
    ASSERT_TRUE(io->Open(pty.path));
    ASSERT_TRUE(io->ApplySettings(Record(115200)));
    pty.Send("junk");
    ASSERT_TRUE(io->WaitReadable(2000));
    EXPECT_TRUE(io->Purge(0));  // no flags: nothing to do
    EXPECT_TRUE(io->Purge(kPurgeRxAbort | kPurgeRxClear));
    std::uint8_t buf[16];
    EXPECT_EQ(io->Read(buf, sizeof buf), 0);
    EXPECT_FALSE(io->WaitReadable(10));

    // Nobody reads the far end: the pty fills, writes take nothing and never block.
    std::string block(4096, 'x');
    std::int64_t total = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t n = io->Write(reinterpret_cast<const std::uint8_t*>(block.data()), 4096);
        ASSERT_GE(n, 0);
        if (n == 0) break;
        total += n;
    }
    EXPECT_GT(total, 0);
    EXPECT_LT(total, 4096 * 1000);
    EXPECT_TRUE(io->Purge(kPurgeTxAbort | kPurgeTxClear | kPurgeRxAbort | kPurgeRxClear));
}

TEST(PosixPort, ClosingTheFarEndIsDeviceLoss) {
    Pty pty;
    auto io = MakeSystemPortIo();
    ASSERT_TRUE(io->Open(pty.path));
    ASSERT_TRUE(io->ApplySettings(Record(115200)));
    pty.CloseMaster();
    EXPECT_TRUE(io->WaitReadable(1000));  // a hang-up wakes the waiter
    std::uint8_t buf[16] = {};
    EXPECT_EQ(io->Read(buf, sizeof buf), -1);
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::DeviceLost);
    EXPECT_EQ(io->Write(buf, 1), -1);
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::DeviceLost);
}

TEST(PosixPort, DriverRunsOverAPty) {
    Pty pty;
    StdHost host;
    TCommPortDriver drv(host, MakeSystemPortIo());
    drv.SetComPort(pty.path);
    drv.EnableDTROnOpen = false;
    drv.SetComPortSpeed(921600);
    ASSERT_TRUE(drv.Connect()) << drv.LastErrorMessage();
    const std::string msg = "AT\r\n";
    EXPECT_EQ(drv.SendData(reinterpret_cast<const std::uint8_t*>(msg.data()), 4), 4);
    EXPECT_EQ(pty.Receive(4), msg);

    pty.Send("OK");
    std::uint8_t c = 0;
    drv.ComPortPollingGetChar = 2000;
    ASSERT_TRUE(drv.getChar(c));
    EXPECT_EQ(c, 'O');
    ASSERT_TRUE(drv.getChar(c));
    EXPECT_EQ(c, 'K');
    drv.ComPortPollingGetChar = 20;
    EXPECT_FALSE(drv.getChar(c));  // returns after its limit; it does not hang

    // The far end never reads: the send stalls and ends at the time-out, not in a hang.
    drv.OutputTimeout = 50;
    std::string big(1 << 20, 'y');
    const std::int32_t sent =
        drv.SendData(reinterpret_cast<const std::uint8_t*>(big.data()), 1 << 20);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 1 << 20);

    std::string lostMessage;
    drv.OnPortLost = [&](const std::string& m) { lostMessage = m; };
    pty.CloseMaster();
    EXPECT_FALSE(drv.getChar(c));
    EXPECT_TRUE(drv.PortLost());
    EXPECT_FALSE(lostMessage.empty());
    drv.Disconnect();
}

}  // namespace
}  // namespace corvel
