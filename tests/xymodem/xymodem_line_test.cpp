// Two XMODEM/YMODEM engines on the simulated line: every variant and the sizes around the block
// boundaries byte for byte, a batch, hostile names, a far end that never comes, and seeded plans
// of line faults in which no transfer may call a broken file good.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "sim_line.h"
#include "xymodem/xymodem.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;
using reliability::Bytes;
using reliability::FaultRates;
using reliability::SimLine;
using reliability::SimLineHost;

constexpr int kRx = 0;  // the receiver listens first
constexpr int kTx = 1;

Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes Random(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<std::uint8_t>(rng());
    // A last byte of 0x1A could not be told from padding.
    if (!b.empty() && b.back() == XY_PAD) b.back() = 0;
    return b;
}

// One engine bound to one end of the line, as the driver binds it; block reads on request.
struct End {
    End(SimLine& line, int id, XyProtocol p, bool blockReads)
        : line(line), id(id), host(line), xy(host) {
        xy.protocol = p;
        xy.xy_In = [this](std::uint8_t& c) {
            if (this->line.CancelRequested(this->id)) xy.canceled = true;
            return this->line.Get(this->id, c, 100);
        };
        if (blockReads)
            xy.xy_Read = [this](std::uint8_t* buf, std::int32_t max) {
                if (this->line.CancelRequested(this->id)) xy.canceled = true;
                std::int32_t n = 0;
                while (n < max && this->line.Get(this->id, buf[n], n ? 0 : 100)) ++n;
                return n;
            };
        xy.xy_Out = [this](const std::uint8_t* c, std::int32_t n) {
            this->line.Put(this->id, c, static_cast<std::size_t>(n));
            return n;
        };
        xy.xy_Flush = [this](bool in, bool) {
            if (in) this->line.DropArrived(this->id);
        };
    }
    SimLine& line;
    int id;
    SimLineHost host;
    tXymodem xy;
};

class XymodemLine : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("corvel_xy_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "in");
        fs::create_directories(dir_ / "out");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    struct Outcome {
        int rx = 1;
        int tx = 1;
        std::string thrown;
        bool stuck = false;
    };

    // The receiver stores into out/ (a file for XMODEM, the folder for YMODEM).
    Outcome Run(SimLine& line, End& rx, End& tx, const std::vector<std::string>& files) {
        Outcome o;
        const std::string target = rx.xy.protocol == XyProtocol::Ymodem
                                       ? (dir_ / "out").string()
                                       : (dir_ / "out" / "file.bin").string();
        line.Run(
            [&] {
                try {
                    o.rx = rx.xy.ReceiveFiles(target);
                } catch (const std::exception& e) {
                    o.thrown = e.what();
                }
            },
            [&] {
                try {
                    o.tx = tx.xy.TransmitFiles(files);
                } catch (const std::exception& e) {
                    o.thrown = e.what();
                }
            },
            120000);
        o.stuck = line.Stuck();
        return o;
    }

    fs::path dir_;
};

TEST_F(XymodemLine, EveryVariantCarriesEverySizeAroundTheBlocks) {
    const XyProtocol protocols[] = {XyProtocol::Xmodem, XyProtocol::XmodemCrc, XyProtocol::Xmodem1k,
                                    XyProtocol::Ymodem};
    const std::size_t sizes[] = {0, 1, 127, 128, 129, 1023, 1024, 1025, 70000};
    std::uint32_t seed = 1;
    for (XyProtocol p : protocols)
        for (std::size_t size : sizes)
            for (bool strip : {false, true}) {
                if (p == XyProtocol::Ymodem && strip) continue;
                const Bytes file = Random(size, ++seed);
                const fs::path src = dir_ / "in" / "source.bin";
                WriteAll(src, file);
                fs::remove_all(dir_ / "out");
                fs::create_directories(dir_ / "out");
                SimLine line(seed);
                End rx(line, kRx, p, seed % 2);
                End tx(line, kTx, p, seed % 3);
                rx.xy.stripPadding = strip;
                const Outcome o = Run(line, rx, tx, {src.string()});
                const std::string what = std::string(XyProtocolKey(p)) + " size " +
                                         std::to_string(size) + (strip ? " strip" : "");
                ASSERT_TRUE(o.thrown.empty() && !o.stuck) << what << o.thrown;
                ASSERT_EQ(o.tx, XY_OK) << what;
                ASSERT_EQ(o.rx, XY_OK) << what;
                if (p == XyProtocol::Ymodem) {
                    EXPECT_EQ(ReadAll(dir_ / "out" / "source.bin"), file) << what;
                    EXPECT_NEAR(
                        static_cast<double>(fs::last_write_time(dir_ / "out" / "source.bin")
                                                .time_since_epoch()
                                                .count()),
                        static_cast<double>(fs::last_write_time(src).time_since_epoch().count()),
                        2e9)
                        << what;
                    continue;
                }
                // XMODEM keeps the padding of the last block unless told to drop it, and says
                // how much there was: 1K blocks while more than 896 bytes remain, then 128s.
                std::size_t wire = 0;
                for (std::size_t left = size; left > 0;) {
                    const std::size_t n = std::min<std::size_t>(
                        left, p == XyProtocol::Xmodem1k && left > 896 ? 1024 : 128);
                    wire += n <= 128 ? 128 : 1024;
                    left -= n;
                }
                Bytes expect = file;
                if (!strip) expect.resize(wire, XY_PAD);
                EXPECT_EQ(ReadAll(dir_ / "out" / "file.bin"), expect) << what;
                EXPECT_EQ(rx.xy.paddingSeen, wire - size) << what;
                const char* says = wire == size ? "no 0x1A" : strip ? "removed" : "kept";
                EXPECT_NE(rx.xy.ResultReport(XY_OK, false).text.find(says), std::string::npos)
                    << what;
            }
}

TEST_F(XymodemLine, YmodemBatchKeepsNamesAndEndsCleanly) {
    std::vector<std::string> files;
    std::vector<Bytes> data;
    for (int i = 0; i < 3; ++i) {
        data.push_back(Random(i == 1 ? 0 : 3000 + i, 77 + i));
        files.push_back((dir_ / "in" / ("part " + std::to_string(i) + ".bin")).string());
        WriteAll(files.back(), data.back());
    }
    SimLine line(5);
    End rx(line, kRx, XyProtocol::Ymodem, true);
    End tx(line, kTx, XyProtocol::Ymodem, true);
    const Outcome o = Run(line, rx, tx, files);
    ASSERT_TRUE(o.thrown.empty() && !o.stuck) << o.thrown;
    EXPECT_EQ(o.tx, XY_OK);
    EXPECT_EQ(o.rx, XY_OK);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadAll(dir_ / "out" / fs::path(files[static_cast<std::size_t>(i)]).filename()),
                  data[static_cast<std::size_t>(i)]);
    EXPECT_EQ(rx.xy.filesDone.size(), 3u);
    EXPECT_EQ(rx.xy.bytesDone, 6002u);
    EXPECT_EQ(tx.xy.ResultReport(o.tx, true).kind, XyReportKind::Message);
    // XMODEM has no room for a second file: refused before the line is touched.
    End x(line, kTx, XyProtocol::Xmodem1k, false);
    EXPECT_EQ(x.xy.TransmitFiles(files), XY_ONE_FILE);

    // Over before the one-second meter ticks: the rate is the bytes over the time they took.
    const std::string small = (dir_ / "in" / "small.bin").string();
    WriteAll(small, Random(3000, 5));
    SimLine quick(5);
    End qrx(quick, kRx, XyProtocol::Ymodem, true);
    End qtx(quick, kTx, XyProtocol::Ymodem, true);
    const Outcome q = Run(quick, qrx, qtx, {small});
    ASSERT_EQ(q.tx, XY_OK);
    EXPECT_GT(qtx.xy.maxByteRate, 0u);
    EXPECT_GT(qrx.xy.maxByteRate, 0u);
}

// A sender's store that proposes whatever name the test wants.
class NamedStore : public XyStore {
  public:
    explicit NamedStore(std::string name) : name_(std::move(name)) {}
    std::unique_ptr<XyReader> OpenRead(const std::string& path, XyFileInfo& info) override {
        std::unique_ptr<XyReader> r = XyDiskStore().OpenRead(path, info);
        info.name = name_;
        return r;
    }
    std::unique_ptr<XyWriter> Create(const std::string& path) override {
        return XyDiskStore().Create(path);
    }
    std::string Join(const std::string& f, const std::string& n) override {
        return XyDiskStore().Join(f, n);
    }

  private:
    std::string name_;
};

TEST_F(XymodemLine, NamesThatLeaveTheFolderAreRefusedAndTheSenderTold) {
    const fs::path src = dir_ / "in" / "a.bin";
    WriteAll(src, Random(500, 3));
    for (const std::string bad :
         {"../escape.bin", "/etc/passwd", "sub\\..\\x", "C:x", "..", "a\nb"}) {
        SimLine line(9);
        End rx(line, kRx, XyProtocol::Ymodem, false);
        End tx(line, kTx, XyProtocol::Ymodem, false);
        NamedStore named(bad);
        tx.xy.store = &named;
        const Outcome o = Run(line, rx, tx, {src.string()});
        EXPECT_EQ(o.rx, XY_BAD_NAME) << bad;
        EXPECT_EQ(o.tx, XY_CANCEL_REMOTE) << bad;
        EXPECT_EQ(rx.xy.refusedName, bad);
        EXPECT_TRUE(fs::is_empty(dir_ / "out")) << bad;
        EXPECT_FALSE(fs::exists(dir_ / "escape.bin"));
    }
    EXPECT_TRUE(XySafeName("firmware v2.bin"));
}

TEST_F(XymodemLine, HeaderFieldsAreReadLikeTheyAreWritten) {
    XyFileInfo in{"f.bin", 123456789, 01234567, true}, out;
    const Bytes block = XyHeaderBlock(in);
    ASSERT_EQ(block.size(), 128u);
    ASSERT_TRUE(XyParseHeader(block.data(), block.size(), out));
    EXPECT_EQ(out.name, "f.bin");
    EXPECT_EQ(out.size, 123456789u);
    EXPECT_EQ(out.mtime, 01234567);
    EXPECT_EQ(XyHeaderBlock(XyFileInfo{std::string(200, 'n'), 1, 0, true}).size(), 1024u);
    // A name with no end, a size that overflows, and a bare name.
    Bytes noEnd(128, 'x');
    EXPECT_FALSE(XyParseHeader(noEnd.data(), noEnd.size(), out));
    const char big[] =
        "n\0"
        "99999999999999999999999 0";
    EXPECT_FALSE(XyParseHeader(reinterpret_cast<const std::uint8_t*>(big), sizeof big, out));
    const char bare[] = "n\0";
    ASSERT_TRUE(XyParseHeader(reinterpret_cast<const std::uint8_t*>(bare), sizeof bare, out));
    EXPECT_FALSE(out.hasSize);
    // The CRC of the usual check string.
    EXPECT_EQ(XyCrc16(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0x31C3);
}

TEST_F(XymodemLine, AFarEndThatNeverComesOrLeavesEndsTheTransfer) {
    const fs::path src = dir_ / "in" / "a.bin";
    WriteAll(src, Random(5000, 4));
    for (XyProtocol p : {XyProtocol::XmodemCrc, XyProtocol::Ymodem}) {
        // No receiver: the sender gives up after its start wait.
        SimLine line(1);
        End tx(line, kTx, p, false);
        int r = 1;
        line.Run([] {}, [&] { r = tx.xy.TransmitFiles({src.string()}); }, 1000000);
        EXPECT_EQ(r, XY_NO_START);
        EXPECT_LE(line.EndTime(kTx), tx.xy.startTimeoutMs + 1000u);
        // No sender.
        SimLine line2(2);
        End rx(line2, kRx, p, false);
        line2.Run([&] { r = rx.xy.ReceiveFiles((dir_ / "out" / "x").string()); }, [] {}, 1000000);
        EXPECT_EQ(r, XY_NO_START);
        EXPECT_FALSE(fs::exists(dir_ / "out" / "x"));  // nothing came, nothing created
    }
    // The receiver's user stops in the middle: the sender hears CAN CAN at once.
    SimLine line(3);
    End rx(line, kRx, XyProtocol::Xmodem1k, false);
    End tx(line, kTx, XyProtocol::Xmodem1k, false);
    int blocks = 0;
    rx.xy.xy_Out = [&](const std::uint8_t* c, std::int32_t n) {
        if (n == 1 && c[0] == XY_ACK && ++blocks == 2) rx.xy.canceled = true;
        line.Put(kRx, c, static_cast<std::size_t>(n));
        return n;
    };
    const Outcome o = Run(line, rx, tx, {src.string()});
    EXPECT_EQ(o.rx, XY_USER_CANCEL);
    EXPECT_EQ(o.tx, XY_CANCEL_REMOTE);
    EXPECT_LE(line.EndTime(kTx), line.EndTime(kRx) + 100);
}

// A receiver that takes the EOT and leaves, its ACK lost on the way: the file is whole on its
// side, so the sender says done, with a warning, after a few silent EOTs rather than every retry.
TEST_F(XymodemLine, AnEndOfFileMetBySilenceIsDoneWithAWarning) {
    const fs::path src = dir_ / "in" / "a.bin";
    const Bytes data = Random(300, 5);
    WriteAll(src, data);
    SimLine line(6);
    End rx(line, kRx, XyProtocol::XmodemCrc, false);
    End tx(line, kTx, XyProtocol::XmodemCrc, false);
    rx.xy.stripPadding = true;
    // Three blocks of 128 bytes, each acknowledged; the next ACK answers the EOT.
    int acks = 0;
    rx.xy.xy_Out = [&](const std::uint8_t* c, std::int32_t n) {
        if (!(n == 1 && c[0] == XY_ACK && ++acks > 3))
            line.Put(kRx, c, static_cast<std::size_t>(n));
        return n;
    };
    const Outcome o = Run(line, rx, tx, {src.string()});
    EXPECT_FALSE(o.stuck);
    EXPECT_EQ(o.rx, XY_OK);
    EXPECT_EQ(o.tx, XY_OK);
    EXPECT_EQ(ReadAll(dir_ / "out" / "file.bin"), data);
    EXPECT_NE(tx.xy.ResultReport(o.tx, true).text.find("warning: the receiver never acknowledged"),
              std::string::npos);
    EXPECT_LE(line.EndTime(kTx), line.EndTime(kRx) + 3 * tx.xy.ackTimeoutMs + 1000u);
}

// Seeded plans of drops, corruption, duplicates and stalls, both directions. Every run ends;
// a receiver that says success holds the file (YMODEM exactly; XMODEM up to the padding it
// reports).
TEST_F(XymodemLine, FaultPlansNeverPassABrokenFileAsGood) {
    int runs = 250;
    if (const char* v = std::getenv("CORVEL_RELIABILITY_RUNS"))
        runs = std::max(1, std::atoi(v) / 2);
    int rxOk = 0;
    int broken = 0;
    int sumMissed = 0;
    for (int i = 0; i < runs; ++i) {
        const std::uint32_t seed = 0xC0DE0000u + static_cast<std::uint32_t>(i);
        std::mt19937 rng(seed);
        const auto p = static_cast<XyProtocol>(rng() % 4);
        const Bytes file = Random(rng() % 6000, seed);
        const fs::path src = dir_ / "in" / "f.bin";
        WriteAll(src, file);
        fs::remove_all(dir_ / "out");
        fs::create_directories(dir_ / "out");
        SimLine line(seed);
        static constexpr double kRates[] = {1e-4, 1e-3, 5e-3, 2e-2};
        for (int from : {kRx, kTx}) {
            FaultRates f;
            const double rate = kRates[rng() % 4];
            if (rng() % 2) f.drop = rate;
            if (rng() % 2) f.corrupt = rate;
            if (rng() % 2) f.duplicate = rate;
            if (rng() % 2) f.delay = rate;
            f.maxDelayMs = rng() % 3 == 0 ? 12000 : 200;
            line.SetRates(from, f);
        }
        End rx(line, kRx, p, rng() % 2);
        End tx(line, kTx, p, rng() % 2);
        rx.xy.stripPadding = true;
        const Outcome o = Run(line, rx, tx, {src.string()});
        const std::string what = "seed " + std::to_string(seed) + " " + XyProtocolKey(p) +
                                 " size " + std::to_string(file.size()) + " rx " +
                                 std::to_string(o.rx) + " tx " + std::to_string(o.tx);
        ASSERT_TRUE(o.thrown.empty()) << what << ": " << o.thrown;
        ASSERT_FALSE(o.stuck) << what;
        EXPECT_EQ(rx.host.ActiveTimers() + tx.host.ActiveTimers(), 0u) << what;
        if (o.rx != XY_OK) continue;
        ++rxOk;
        const fs::path got =
            p == XyProtocol::Ymodem ? dir_ / "out" / "f.bin" : dir_ / "out" / "file.bin";
        if (ReadAll(got) != file) {
            // An 8-bit sum lets one in 256 multi-byte corruptions through: plain XMODEM's own
            // limit, counted, not failed. Every CRC variant must catch them.
            if (p == XyProtocol::Xmodem) {
                ++sumMissed;
                continue;
            }
            ++broken;
            const Bytes g = ReadAll(got);
            std::size_t at = 0;
            while (at < g.size() && at < file.size() && g[at] == file[at]) ++at;
            ADD_FAILURE() << what << ": a broken file reported as received (" << g.size()
                          << " bytes, first difference at " << at << ")";
        }
    }
    std::printf(
        "[ figures  ] %d faulty transfers, %d received whole, %d broken ones passed, %d "
        "corruptions missed by the 8-bit sum\n",
        runs, rxOk, broken, sumMissed);
    EXPECT_GT(rxOk, runs / 3);
}

}  // namespace
}  // namespace corvel
