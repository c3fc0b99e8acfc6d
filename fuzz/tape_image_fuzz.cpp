// libFuzzer target over loading a tape file and cutting it into entries.
//
// Input: the first byte chooses how the image is made (1 modulo 16: written to a
// file and loaded from disk; otherwise assigned from memory), the rest is the
// image. Checked:
// loading keeps every byte but one final 1Ah; every field view lies inside what is
// left of the image; every cut shortens the image by exactly min(25 + N, rest);
// the loop ends, and what is left at the end is blank.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/tape_image.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "tape image fuzz: %s\n", what);
        std::abort();
    }
}

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

std::string LoadThroughFile(const std::string& bytes) {
    static const std::string path = "/tmp/kestrel-fuzz-" + std::to_string(::getpid()) + ".tap";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "cannot write the scratch file");
    Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "short write");
    std::fclose(file);
    kestrel::app::TapeImage tape;
    tape.Load(path);
    return std::string(tape.Remaining());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    kestrel::app::TapeImage tape;
    if (data[0] % 16 == 1) {  // the file round trip is slow: one input in sixteen
        std::string loaded = LoadThroughFile(bytes);
        std::string expected = bytes;
        if (!expected.empty() && expected.back() == '\x1A') {
            expected.pop_back();
        }
        Check(loaded == expected, "loading changed more than one final end-of-file mark");
        tape.Assign(std::move(loaded));
    } else {
        tape.Assign(bytes);
    }

    const std::size_t original_size = tape.Remaining().size();
    std::size_t cuts = 0;
    while (!tape.IsExhausted()) {
        std::string_view before = tape.Remaining();
        kestrel::app::TapeEntry entry = tape.Front();
        Check(Inside(entry.name, before) && Inside(entry.data, before),
              "a field lies outside the image");
        Check(entry.name.size() <= 10, "name longer than 10 bytes");
        Check(entry.data.size() <= entry.length, "more data than the header says");
        tape.DropFront();
        std::size_t step = std::min<std::size_t>(25u + entry.length, before.size());
        Check(step > 0 && tape.Remaining().size() == before.size() - step,
              "a cut did not shorten the image");
        Check(++cuts * 25 <= original_size + 24, "more cuts than the image has room for");
    }
    for (char c : tape.Remaining()) {
        Check(c == ' ' || c == '\t' || c == '\r' || c == '\n', "an exhausted tape holds content");
    }
    return 0;
}
