// Throughput of the receive renderer on the streams a board really sends, fed in the ~2 KB
// chunks the driver delivers at high baud rates. "Mem" runs render into in-memory windows that
// keep every line; "Sink" runs into windows that drop their lines, to show the renderer's own cost.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "terminal/mem_line_box.h"
#include "terminal/rx_render.h"

namespace corvel {
namespace {

constexpr std::size_t kChunk = 2048;
constexpr std::size_t kStreamBytes = 1 << 20;

// Counts what it is given and keeps nothing but the last line (the renderer reads it back).
class SinkLineBox : public LineBox {
  public:
    int LineCount() const override { return count_; }
    std::string Line(int index) const override {
        return index == count_ - 1 ? last_ : std::string();
    }
    void ReplaceLine(int index, std::string_view text) override {
        if (index == count_ - 1) last_.assign(text);
    }
    void AppendLine(std::string_view text) override {
        last_.assign(text);
        ++count_;
    }
    void AppendLines(const std::vector<std::string>& lines) override {
        if (lines.empty()) return;
        last_ = lines.back();
        count_ += static_cast<int>(lines.size());
    }
    void RemoveLine(int) override {}
    void Clear() override {
        count_ = 0;
        last_.clear();
    }
    int CaretLine() const override { return count_ > 0 ? count_ - 1 : 0; }
    void Repaint() override {}
    void ScrollToEnd() override {}

  private:
    int count_ = 0;
    std::string last_;
};

std::vector<std::uint8_t> TextStream() {
    // Log-like lines of 80 columns ending in CR LF, with the odd ANSI colour sequence.
    std::vector<std::uint8_t> out;
    std::mt19937 rng(7);
    const std::string words[] = {
        "adc", "temp=",   "23.5", "OK",  "\x1b[32mready\x1b[0m", "tick", "0x3FA2", "uart",
        "rx",  "status:", "-12",  "boot"};
    while (out.size() < kStreamBytes) {
        std::string line;
        while (line.size() < 78) line += words[rng() % std::size(words)] + ' ';
        line.resize(78);
        line += "\r\n";
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

std::vector<std::uint8_t> BinaryStream() {
    std::vector<std::uint8_t> out(kStreamBytes);
    std::mt19937 rng(11);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

template <typename Box>
void Render(benchmark::State& state, const std::vector<std::uint8_t>& stream, RxMode mode,
            const RxColumns& columns) {
    for (auto _ : state) {
        state.PauseTiming();
        auto rx = std::make_unique<Box>();
        auto aux = std::make_unique<Box>();
        tRxRenderer render(*rx, *aux);
        render.SetMode(mode);
        render.SetColumns(columns);
        state.ResumeTiming();
        for (std::size_t at = 0; at < stream.size(); at += kChunk) {
            render.printf_ReceiveData(stream.data() + at, std::min(kChunk, stream.size() - at));
        }
        benchmark::DoNotOptimize(rx->LineCount());
        benchmark::DoNotOptimize(aux->LineCount());
        state.PauseTiming();  // freeing the windows is not rendering
        rx.reset();
        aux.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

const RxColumns kNoColumns{};
const RxColumns kAllColumns{true, true, true, true};

template <typename Box>
void AsciiText(benchmark::State& state) {
    static const auto stream = TextStream();
    Render<Box>(state, stream, RxMode::Ascii, kNoColumns);
}

template <typename Box>
void HexBinary(benchmark::State& state) {
    static const auto stream = BinaryStream();
    Render<Box>(state, stream, RxMode::Hex, kNoColumns);
}

template <typename Box>
void AsciiAllColumns(benchmark::State& state) {
    static const auto stream = TextStream();
    Render<Box>(state, stream, RxMode::Ascii, kAllColumns);
}

BENCHMARK(AsciiText<MemLineBox>)->Name("AsciiText/Mem")->Unit(benchmark::kMillisecond);
BENCHMARK(AsciiText<SinkLineBox>)->Name("AsciiText/Sink")->Unit(benchmark::kMillisecond);
BENCHMARK(HexBinary<MemLineBox>)->Name("HexBinary/Mem")->Unit(benchmark::kMillisecond);
BENCHMARK(HexBinary<SinkLineBox>)->Name("HexBinary/Sink")->Unit(benchmark::kMillisecond);
BENCHMARK(AsciiAllColumns<MemLineBox>)->Name("AsciiAllColumns/Mem")->Unit(benchmark::kMillisecond);
BENCHMARK(AsciiAllColumns<SinkLineBox>)
    ->Name("AsciiAllColumns/Sink")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvel

BENCHMARK_MAIN();
