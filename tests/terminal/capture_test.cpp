// The capture writer: files byte-exact in raw form, one stamped line per received line in text
// form, and a failing disk reported once without touching the caller.

#include "terminal/capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/fake_host.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("corvel-capture-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        writer.OnError = [this](const std::string& e) { errors.push_back(e); };
    }
    void TearDown() override {
        writer.Stop();
        fs::remove_all(dir);
    }
    void Feed(const std::string& s) {
        writer.Feed(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), host.NowMs());
    }
    CaptureOptions At(const std::string& name, CaptureForm form = CaptureForm::Raw,
                      bool append = false) {
        return {(dir / name).string(), form, append};
    }

    fs::path dir;
    FakeHost host;
    // 2026-12-09 14:03:22.000 local time is not fixed across zones, so texts are checked against
    // FormatWallTime of the same instants.
    std::int64_t wallStart = 1796738602000;
    CaptureWriter writer{host, [this] { return wallStart; }};
    std::vector<std::string> errors;
};

TEST_F(CaptureTest, RawKeepsEveryByteAcrossChunksAndAppendOrReplace) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    all += "\r\n\x1b[2J\r\r\n";
    std::string err;
    ASSERT_TRUE(writer.Start(At("raw.bin"), &err)) << err;
    // Chunks of every size up to 7 cut the stream at every kind of byte.
    for (std::size_t i = 0, n = 1; i < all.size(); i += n, n = n % 7 + 1) {
        Feed(all.substr(i, n));
        host.Advance(40);
    }
    writer.Sync();
    // Reaches the file while the capture still runs, not only at the stop.
    EXPECT_EQ(ReadAll(dir / "raw.bin"), all);
    EXPECT_EQ(writer.Size(), all.size());
    writer.Stop();

    ASSERT_TRUE(writer.Start(At("raw.bin", CaptureForm::Raw, true), &err)) << err;
    EXPECT_EQ(writer.Size(), all.size());
    Feed("more");
    writer.Stop();
    EXPECT_EQ(ReadAll(dir / "raw.bin"), all + "more");

    ASSERT_TRUE(writer.Start(At("raw.bin"), &err)) << err;
    Feed("new");
    writer.Stop();
    EXPECT_EQ(ReadAll(dir / "raw.bin"), "new");
    EXPECT_TRUE(errors.empty());
}

TEST_F(CaptureTest, TextStampsEachLineWithTheArrivalOfItsFirstByte) {
    std::string err;
    ASSERT_TRUE(writer.Start(At("text.log", CaptureForm::Text), &err)) << err;
    const std::uint64_t t0 = host.NowMs();
    Feed("boot");  // t0
    host.Advance(250);
    Feed(" ok\r\nsecond\r");  // the CR waits: it may be the end of the line
    host.Advance(1000);
    Feed("\nlone\rcr\n\n");
    host.Advance(5);
    Feed("cut");
    writer.Stop();
    const auto at = [&](std::uint64_t ms) {
        return "[" + FormatWallTime(wallStart + static_cast<std::int64_t>(ms - t0)) + "] ";
    };
    EXPECT_EQ(ReadAll(dir / "text.log"), at(t0) + "boot ok\n" + at(t0 + 250) + "second\n" +
                                             at(t0 + 1250) + "lone\rcr\n" + at(t0 + 1250) + "\n" +
                                             at(t0 + 1255) + "cut\n");
}

TEST_F(CaptureTest, FullDiskStopsTheCaptureWithOneError) {
    std::string err;
    ASSERT_TRUE(writer.Start({"/dev/full", CaptureForm::Raw, false}, &err)) << err;
    Feed("lost on a full disk");
    writer.Sync();
    // Feeding goes on without complaint; the report comes from the host's timer.
    Feed("still receiving");
    EXPECT_TRUE(errors.empty());
    host.Advance(CaptureWriter::kFlushPeriodMs);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("/dev/full"), std::string::npos) << errors[0];
    EXPECT_FALSE(writer.Active());
    Feed("after");
    host.Advance(1000);
    writer.Stop();
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(CaptureTest, AFailureBeforeTheTimerIsReportedByTheStop) {
    std::string err;
    ASSERT_TRUE(writer.Start({"/dev/full", CaptureForm::Text, false}, &err)) << err;
    Feed("line\n");
    writer.Sync();
    writer.Stop();
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(CaptureTest, AnUnwritableFolderRefusesTheStart) {
    // A plain file where the folder should be refuses even root, unlike permission bits.
    std::ofstream(dir / "notafolder") << "x";
    std::string err;
    EXPECT_FALSE(writer.Start(At("notafolder/x.log"), &err));
    EXPECT_NE(err.find((dir / "notafolder/x.log").string()), std::string::npos) << err;
    EXPECT_FALSE(writer.Active());
    Feed("ignored");
    EXPECT_TRUE(errors.empty());
}

TEST(CaptureFileNameTest, PortMadeSafeThenLocalDateAndTime) {
    const std::int64_t wall = 1796738602000;
    const std::string stamp = CaptureFileName("x", wall).substr(2);
    EXPECT_EQ(stamp.size(), std::string("2026-12-09_14-03-22.log").size());
    EXPECT_EQ(FormatWallTime(wall).substr(0, 10), stamp.substr(0, 10));
    EXPECT_EQ(CaptureFileName("/dev/ttyUSB0", wall), "ttyUSB0-" + stamp);
    EXPECT_EQ(CaptureFileName("\\\\.\\COM10", wall), "COM10-" + stamp);
    EXPECT_EQ(CaptureFileName("my port:1*?", wall), "my_port_1__-" + stamp);
    EXPECT_EQ(CaptureFileName("/dev/..", wall), "port-" + stamp);
}

}  // namespace
}  // namespace corvel
