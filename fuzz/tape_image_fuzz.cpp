// libFuzzer target over loading a tape file, converting a TZX file to its TAP
// equivalent and cutting the image into entries.
//
// Input: the first byte chooses how the image is made (1 modulo 16: written to a
// file and loaded from disk; 2 modulo 16: the rest follows a TZX header and is
// converted, so that the blocks are fuzzed rather than the signature; 3 modulo 16:
// the rest is a zip archive, whose tape is taken out as kestrel-serve takes it;
// otherwise assigned from memory), the rest is the file. Checked:
// loading keeps every byte but one final 1Ah, and a TZX file loads as its
// conversion; a conversion either refuses, inside the file, with no image, or gives
// an image of whole TAP blocks no longer than the file; every field view lies inside
// what is left of the image; every cut shortens the image by exactly
// min(25 + N, rest); the loop ends, and what is left at the end is blank. An archive
// gives a member no bigger than the cap, or a refusal saying why; the catalog of any
// image has its entries in order inside it, and its listing and warnings are plain
// printable text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <variant>

#include "app/tape_file.h"
#include "app/tape_image.h"
#include "app/tzx_tape.h"
#include "serve/serve_tape.h"
#include "serve/tape_archive.h"
#include "serve/tape_catalog.h"
#include "ui/memoread.h"

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

// The conversion of any bytes, checked; the image when it is accepted.
std::string Convert(const std::string& bytes) {
    kestrel::app::TapeLoad converted = kestrel::app::TzxToTap(bytes);
    if (converted.refusal) {
        Check(converted.image.empty(), "a refused file gave an image");
        Check(!converted.refusal->reason.empty(), "a refusal without a reason");
        Check(converted.refusal->offset <= bytes.size(), "a refusal outside the file");
        Check(converted.refusal->block_id >= -1 && converted.refusal->block_id <= 0xFF,
              "a refusal names no block ID");
        return {};
    }
    Check(kestrel::app::IsTzx(bytes), "a file that is not TZX was converted");
    Check(converted.image.size() <= bytes.size(), "the image is longer than the file");
    std::string_view rest = converted.image;
    while (!rest.empty()) {
        Check(rest.size() >= 2, "a TAP length word cut short");
        std::size_t length = static_cast<unsigned char>(rest[0]) |
                             static_cast<std::size_t>(static_cast<unsigned char>(rest[1])) << 8;
        Check(length > 0 && length <= rest.size() - 2, "a TAP block of a wrong length");
        rest.remove_prefix(2 + length);
    }
    return converted.image;
}

std::string LoadThroughFile(const std::string& bytes) {
    static const std::string path = "/tmp/kestrel-fuzz-" + std::to_string(::getpid()) + ".tap";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "cannot write the scratch file");
    Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "short write");
    std::fclose(file);
    kestrel::app::TapeImage tape(kestrel::ui::MEMOREAD(path));
    kestrel::app::TapeLoad loaded = kestrel::app::LoadTapeFile(path);
    if (kestrel::app::IsTzx(bytes)) {
        kestrel::app::TapeLoad converted = kestrel::app::TzxToTap(bytes);
        Check(loaded.image == converted.image &&
                  loaded.refusal.has_value() == converted.refusal.has_value(),
              "a TZX file loaded otherwise than it converts");
    } else {
        Check(!loaded.refusal && loaded.image == tape.Remaining(),
              "a TAP file loaded otherwise than MEMOREAD reads it");
    }
    return std::string(tape.Remaining());
}

// The tape an archive gives, loaded as kestrel-serve loads it; empty when refused.
std::string FromArchive(const std::string& bytes) {
    auto taken = kestrel::serve::TapeFromZip(bytes, "");
    if (const auto* refusal = std::get_if<kestrel::serve::ArchiveRefusal>(&taken)) {
        Check(!refusal->message.empty(), "an archive refused without a reason");
        return {};
    }
    auto& member = std::get<kestrel::serve::ArchiveMember>(taken);
    Check(member.bytes.size() <= kestrel::serve::kMaxMemberSize, "a member over the cap");
    kestrel::app::TapeLoad loaded =
        kestrel::app::LoadTapeBytes(std::move(member.bytes), member.name);
    return loaded.refusal ? std::string() : std::move(loaded.image);
}

bool Printable(const std::string& text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n') || byte >= 0x7F) {
            return false;
        }
    }
    return true;
}

void CheckCatalog(const std::string& image) {
    const kestrel::serve::TapeCatalog catalog = kestrel::serve::CatalogTape(image);
    std::size_t next = 0;
    for (const auto& entry : catalog.entries) {
        Check(entry.offset == next && entry.offset < image.size(), "an entry out of place");
        next = std::min(entry.offset + entry.size, image.size());
    }
    Check(catalog.end_offset == next || catalog.entries.empty(), "the end out of place");
    Check(Printable(kestrel::serve::TapeListing(catalog)), "a listing with raw bytes");
    for (const std::string& line : kestrel::serve::TapeWarnings(catalog, "tape")) {
        Check(Printable(line), "a warning with raw bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    kestrel::app::TapeImage tape;
    Convert(bytes);  // the bytes as they are: mostly refused on the signature
    if (data[0] % 16 == 2) {
        bytes.insert(0, std::string(kestrel::app::kTzxSignature) + "\x01\x14");
        tape.Assign(Convert(bytes));
    } else if (data[0] % 16 == 3) {
        tape.Assign(FromArchive(bytes));
    } else if (data[0] % 16 == 1) {  // the file round trip is slow: one input in sixteen
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

    CheckCatalog(std::string(tape.Remaining()));
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
