#pragma once
// Helpers shared by the Kmodem tests: a scratch folder, file helpers and a scripted port that
// records what the engine sends and feeds it what a peer would answer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kmodem/u_kmodem.h"

namespace corvel::kmtest {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    TempDir() {
        static int counter = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("kmodem_") + (info ? info->test_suite_name() : "x") + "_" +
                           (info ? info->name() : "y") + "_" + std::to_string(++counter);
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = std::filesystem::path(::testing::TempDir()) / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines joined with CR LF after each, as the debug logs are written.
inline std::string CrLfLines(std::initializer_list<std::string> lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

inline std::uint8_t Sum8(const Bytes& b) {
    std::uint32_t s = 0;
    for (auto x : b) s += x;
    return static_cast<std::uint8_t>(s);
}

// The frames a transmitter should send for a file, packet by packet (without start command
// and closing byte).
inline Bytes ExpectedFrames(const Bytes& file, std::size_t packageSize) {
    Bytes out{0x01};
    const auto n = static_cast<std::uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    for (std::size_t pos = 0; pos < file.size();) {
        const std::size_t s = std::min(packageSize, file.size() - pos);
        out.insert(out.end(),
                   {0x02, static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(s >> 8), 0x04});
        Bytes packet(file.begin() + static_cast<std::ptrdiff_t>(pos),
                     file.begin() + static_cast<std::ptrdiff_t>(pos + s));
        out.insert(out.end(), packet.begin(), packet.end());
        out.push_back(Sum8(packet));
        pos += s;
    }
    return out;
}

class ScriptedPort {
  public:
    Bytes sent;
    std::vector<std::int32_t> outSizes;
    std::deque<std::uint8_t> input;
    std::vector<std::pair<bool, bool>> flushes;
    // Runs after each write; a peer's reaction to what was just sent.
    std::function<void(const std::uint8_t* c, std::int32_t n)> onOut;
    std::size_t inCalls = 0;

    void Bind(tKmodem& k) {
        k.kmodem_Out = [this](const std::uint8_t* c, std::int32_t n) {
            sent.insert(sent.end(), c, c + n);
            outSizes.push_back(n);
            if (onOut) onOut(c, n);
            return n;
        };
        k.kmodem_In = [this](std::uint8_t& c) {
            ++inCalls;
            if (input.empty()) return false;
            c = input.front();
            input.pop_front();
            return true;
        };
        k.kmodem_Flush = [this](bool inBuf, bool outBuf) { flushes.emplace_back(inBuf, outBuf); };
    }
    // Also hands the engine whole pieces: the sizes in turn (cycling), each cut to what the
    // engine asked for and to what is there. maxAsked records each request.
    std::vector<std::int32_t> maxAsked;
    void BindRead(tKmodem& k, std::vector<std::size_t> pieces) {
        k.kmodem_Read = [this, pieces, next = std::size_t{0}](std::uint8_t* to,
                                                              std::int32_t max) mutable {
            maxAsked.push_back(max);
            std::size_t n = std::min({pieces[next++ % pieces.size()],
                                      static_cast<std::size_t>(std::max(0, max)), input.size()});
            for (std::size_t i = 0; i < n; ++i) {
                to[i] = input.front();
                input.pop_front();
            }
            return static_cast<std::int32_t>(n);
        };
    }
    void Push(std::initializer_list<std::uint8_t> b) { input.insert(input.end(), b); }
    void Push(const Bytes& b) { input.insert(input.end(), b.begin(), b.end()); }
    // A receiver that accepts every data frame.
    void AckEveryPacket() {
        onOut = [this](const std::uint8_t* c, std::int32_t n) {
            if (n >= 2 && c[0] == CMD_DATA) input.push_back(ACK);
        };
    }
};

// The frames a good transmitter sends for a file, followed by CMD_FINISH.
inline Bytes TransmitterScript(const Bytes& file, std::size_t packageSize) {
    Bytes s = ExpectedFrames(file, packageSize);
    s.push_back(CMD_FINISH);
    return s;
}

}  // namespace corvel::kmtest
