// How the cost of serving a tape grows with its number of entries. Taking an entry
// moves the front of the image and copies nothing, so the time per entry should
// stay flat from a hundred entries to a hundred thousand; a copy of the rest of the
// tape per entry would make it grow with the tape.
//
//   build/native/bench/tape_serve_bench
#include <benchmark/benchmark.h>

#include "app/command_loop.h"
#include "support/tape_builder.h"

namespace {

using namespace kestrel;

// A remote that asks for the next entry whenever the tool is waiting, a port that
// swallows the bytes, no pauses and no keys.
class NullLine : public app::PortWriter,
                 public app::KeyState,
                 public app::MessagePump,
                 public app::Pause,
                 public app::LogView {
  public:
    explicit NullLine(app::ReceiveBuffer& received) : received_(received) {}
    app::WriteOutcome Write(serial::PortHandle, std::string_view bytes, const Waiting&) override {
        written += bytes.size();
        return {static_cast<int>(bytes.size()), false};
    }
    bool IsHeld(int) override { return false; }
    void SysRefresh() override {
        if (received_.empty()) {
            received_.Append("B");
        }
    }
    void Sleep(int) override {}
    void Append(std::string_view) override {}  // keep the log out of the measure
    void GoBottom() override {}
    void EndWindow() override {}
    bool WindowEnded() override { return false; }
    bool WaitForMessages(int) override { return false; }
    void ShowAppended() override {}

    std::size_t written = 0;

  private:
    app::ReceiveBuffer& received_;
};

std::string TapeOf(std::int64_t entries) {
    std::string tape;
    for (std::int64_t i = 0; i < entries; ++i) {
        tape += testing::TapEntry(
            {.name = "FILE" + std::to_string(i % 1000), .data = std::string(64, 'd')});
    }
    return tape;
}

void BM_ServeWholeTape(benchmark::State& state) {
    const std::string bytes = TapeOf(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        app::TapeImage tape(bytes);
        app::ReceiveBuffer received;
        NullLine line(received);
        state.ResumeTiming();
        app::CommandLoop({line, line, line, line}, tape, received).KESTREL(0, line);
        benchmark::DoNotOptimize(line.written);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ServeWholeTape)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
