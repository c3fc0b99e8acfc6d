// kestrel-sim: serves a tape image to a simulated remote machine and prints what
// would cross the serial line, so the tape block server can be watched without a
// port or a window.
//
//   kestrel-sim TAPE [COMMANDS]
//   kestrel-sim --image-to OUT.tap TAPE
//
// TAPE is a TAP or TZX file, loaded as the tool loads it. COMMANDS is what the
// remote sends, one byte at a time, a "B" only once the answer to the previous one
// has gone out; by default it asks with "B" until the tape ends. When the script
// runs out first, the operator holds Esc down. --image-to writes the image the tool
// would serve (a TZX file's TAP equivalent) to OUT.tap instead of serving it. A
// refused tape is reported on stderr, with exit status 1.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "app/command_loop.h"
#include "app/module_state.h"
#include "app/tape_file.h"
#include "sim/simulated_session.h"

namespace {

using namespace kestrel;

// The simulated session with a remote machine and an operator that react to the
// tool, and every byte, pause and log line printed as it happens; the pauses last as
// long as they say.
class SimulatedLine : public sim::SimulatedSession {
  public:
    SimulatedLine(app::ReceiveBuffer& received, std::string script, bool repeat_b)
        : SimulatedSession(received), script_(std::move(script)), repeat_b_(repeat_b) {}

    app::WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                            const Waiting& waiting) override {
        std::printf("  -> %5zu byte%s:", bytes.size(), bytes.size() == 1 ? " " : "s");
        constexpr std::size_t kShown = 17;
        for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
            std::printf(" %02X", static_cast<unsigned char>(bytes[i]));
        }
        std::printf("%s\n", bytes.size() > kShown ? " ..." : "");
        awaiting_answer_ = false;
        return SimulatedSession::Write(port, bytes, waiting);
    }

    void SysRefresh() override {
        RemoteAndOperator();
        SimulatedSession::SysRefresh();
    }

    void Sleep(int milliseconds) override {
        std::printf("     pause %d ms\n", milliseconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        SimulatedSession::Sleep(milliseconds);
    }

    void Append(std::string_view text) override {
        std::printf("log: %.*s", static_cast<int>(text.size()), text.data());
        SimulatedSession::Append(text);
    }
    void EndWindow() override {
        std::printf("the session window ends\n");
        SimulatedSession::EndWindow();
    }

  private:
    // The remote sends its next command once the tool has taken the previous one and,
    // for a "B", started answering it; the operator presses Esc, and keeps it down,
    // once the remote has nothing more to say.
    void RemoteAndOperator() {
        if (!Received().empty() || awaiting_answer_) {
            return;
        }
        if (ScriptDone()) {
            if (!esc_down_) {
                std::printf("the operator holds Esc down\n");
                HoldEscFromRefresh(Refreshes());
            }
            esc_down_ = true;
            return;
        }
        char command = repeat_b_ ? 'B' : script_[next_++];
        awaiting_answer_ = command == 'B';
        std::printf("<-  remote sends %02X \"%c\"\n", static_cast<unsigned char>(command),
                    command >= 0x20 && command < 0x7F ? command : '.');
        Received().Append(std::string_view(&command, 1));
    }

    bool ScriptDone() const { return !repeat_b_ && next_ >= script_.size(); }

    std::string script_;
    std::size_t next_ = 0;
    bool repeat_b_;
    bool awaiting_answer_ = false;
    bool esc_down_ = false;
};

int WriteImage(const char* path, const std::string& image) {
    std::FILE* out = std::fopen(path, "wb");
    bool written =
        out != nullptr && std::fwrite(image.data(), 1, image.size(), out) == image.size();
    if (out != nullptr && std::fclose(out) != 0) {
        written = false;
    }
    if (!written) {
        std::fprintf(stderr, "kestrel-sim: cannot write %s\n", path);
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool image_only = argc == 4 && std::string_view(argv[1]) == "--image-to";
    if (!image_only && (argc < 2 || argc > 3)) {
        std::fprintf(stderr,
                     "usage: kestrel-sim TAPE [COMMANDS]\n"
                     "       kestrel-sim --image-to OUT.tap TAPE\n");
        return 2;
    }
    const char* tape_path = image_only ? argv[3] : argv[1];
    app::TapeLoad loaded = app::LoadTapeFile(tape_path);
    if (loaded.refusal) {
        std::fprintf(stderr, "kestrel-sim: %s: %s\n", tape_path,
                     app::DescribeRefusal(*loaded.refusal).c_str());
        return 1;
    }
    if (image_only) {
        return WriteImage(argv[2], loaded.image);
    }
    app::TapeImage& tape = app::TheTapeImage();
    tape.Assign(std::move(loaded.image));
    std::printf("tape %s: %zu bytes%s\n", argv[1], tape.Remaining().size(),
                tape.IsExhausted() ? " (empty or unreadable)" : "");

    SimulatedLine line(app::TheReceiveBuffer(), argc == 3 ? argv[2] : "", argc == 2);
    app::CommandLoop loop(line.Services(), tape, app::TheReceiveBuffer());
    constexpr serial::PortHandle kSimulatedPort = 0;
    loop.KESTREL(kSimulatedPort, line);
    return 0;
}
