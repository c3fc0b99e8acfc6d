#!/usr/bin/env python3
"""Build, read and check TAP tape images.

A TAP file is a sequence of blocks, each stored as a little-endian 16-bit length
followed by the block's bytes: a flag byte, the payload and an XOR checksum over
the flag and the payload. A file saved from tape holds, for each file on it, a
19-byte header block (flag 00h; payload: type, 10-byte name, data length N and two
parameters, all words little-endian) and a data block of N + 2 bytes (flag FFh).

KESTREL cuts a tape into entries at fixed offsets and never looks at the block
lengths, flags or checksums. `wire_entries` reproduces that cutting, so tests and
the remote simulator can tell what the tool ought to send for any file, malformed
or not; `parse_tape` is the strict reader for well-formed files.

A TZX file holds the same blocks in a richer container: the signature
"ZXTape!" 1Ah, a major and a minor version byte, then blocks, each an ID byte and
a body. A standard-speed data block (10h: pause word, length word, the block's
bytes) is one TAP block; other blocks describe the tape (texts, groups, archive
information) or encode data in other ways. `tzx_blocks` writes the TZX twin of a
TAP file, with such describing blocks between the data blocks when asked, and
optionally one block in turbo-speed encoding, which KESTREL refuses.

Command line:
  tapfile.py demo -o samples/demo.tap   regenerate the sample tape of the repository
  tapfile.py list FILE                  list the blocks and entries of a tape
  tapfile.py tzx IN.tap -o OUT.tzx [--with-extras] [--turbo N]
                                        write the TZX twin of a TAP file
"""

from __future__ import annotations

import argparse
import dataclasses
import struct
import sys

HEADER_FLAG = 0x00
DATA_FLAG = 0xFF
HEADER_PAYLOAD_SIZE = 17  # type, name, N, param1, param2
NAME_SIZE = 10
ENTRY_OVERHEAD = 25  # bytes of an entry besides its N data bytes

TYPE_PROGRAM = 0
TYPE_NUMBER_ARRAY = 1
TYPE_CHARACTER_ARRAY = 2
TYPE_CODE = 3

_BLANKS = b" \t\r\n"
_EOF_MARK = 0x1A


class TapFormatError(ValueError):
    """The bytes are not a well-formed TAP file."""


def checksum(flag: int, payload: bytes) -> int:
    """XOR of the flag byte and every payload byte."""
    value = flag
    for byte in payload:
        value ^= byte
    return value


def make_block(flag: int, payload: bytes) -> bytes:
    """One stored block: length word, flag, payload, checksum."""
    body = bytes([flag]) + bytes(payload) + bytes([checksum(flag, payload)])
    if len(body) > 0xFFFF:
        raise ValueError(f"block of {len(body)} bytes does not fit a length word")
    return struct.pack("<H", len(body)) + body


@dataclasses.dataclass(frozen=True)
class TapEntry:
    """One file on tape: the fields of its header and its data."""

    type: int
    name: bytes
    param1: int
    param2: int
    data: bytes

    @classmethod
    def make(cls, type_: int, name: str | bytes, data: bytes, param1: int = 0,
             param2: int = 0) -> "TapEntry":
        """An entry with its name padded with blanks (or cut) to 10 bytes."""
        raw = name.encode("cp1252") if isinstance(name, str) else bytes(name)
        return cls(type_, raw[:NAME_SIZE].ljust(NAME_SIZE, b" "), param1, param2,
                   bytes(data))

    @property
    def length(self) -> int:
        return len(self.data)

    def header_payload(self) -> bytes:
        """The 17 bytes of the header block's payload, as sent on the wire."""
        if len(self.name) != NAME_SIZE:
            raise ValueError(f"name must be {NAME_SIZE} bytes, not {len(self.name)}")
        return (bytes([self.type]) + self.name +
                struct.pack("<HHH", self.length, self.param1, self.param2))

    def to_bytes(self) -> bytes:
        """Header block and data block, as stored in a TAP file."""
        return (make_block(HEADER_FLAG, self.header_payload()) +
                make_block(DATA_FLAG, self.data))

    @classmethod
    def from_header(cls, header: bytes, data: bytes) -> "TapEntry":
        """An entry from a 17-byte header payload and its data."""
        if len(header) != HEADER_PAYLOAD_SIZE:
            raise TapFormatError(f"header of {len(header)} bytes, not 17")
        length, param1, param2 = struct.unpack("<HHH", header[11:17])
        if length != len(data):
            raise TapFormatError(f"header says {length} data bytes, found {len(data)}")
        return cls(header[0], bytes(header[1:11]), param1, param2, bytes(data))

    def display_name(self) -> str:
        return self.name.decode("cp1252", errors="replace").strip(" \t\r\n")


def build_tape(entries) -> bytes:
    return b"".join(entry.to_bytes() for entry in entries)


@dataclasses.dataclass(frozen=True)
class Block:
    offset: int
    flag: int
    payload: bytes
    stored_checksum: int

    @property
    def checksum_ok(self) -> bool:
        return checksum(self.flag, self.payload) == self.stored_checksum


def parse_blocks(image: bytes) -> list[Block]:
    """Split a TAP file into its blocks; raises TapFormatError on a cut block."""
    blocks = []
    pos = 0
    while pos < len(image):
        if pos + 2 > len(image):
            raise TapFormatError(f"offset {pos}: length word cut short")
        (size,) = struct.unpack_from("<H", image, pos)
        if size < 2:
            raise TapFormatError(f"offset {pos}: block length {size} is below 2")
        end = pos + 2 + size
        if end > len(image):
            raise TapFormatError(
                f"offset {pos}: block of {size} bytes, only {len(image) - pos - 2} left")
        body = image[pos + 2:end]
        blocks.append(Block(pos, body[0], bytes(body[1:-1]), body[-1]))
        pos = end
    return blocks


def parse_tape(image: bytes) -> list[TapEntry]:
    """Read a well-formed tape: header and data blocks in pairs, checksums right."""
    blocks = parse_blocks(image)
    if len(blocks) % 2:
        raise TapFormatError(f"{len(blocks)} blocks do not make header/data pairs")
    entries = []
    for header, data in zip(blocks[0::2], blocks[1::2]):
        for block, flag in ((header, HEADER_FLAG), (data, DATA_FLAG)):
            if block.flag != flag:
                raise TapFormatError(
                    f"offset {block.offset}: flag {block.flag:02X}h, expected {flag:02X}h")
            if not block.checksum_ok:
                raise TapFormatError(f"offset {block.offset}: checksum mismatch")
        try:
            entries.append(TapEntry.from_header(header.payload, data.payload))
        except TapFormatError as error:
            raise TapFormatError(f"offset {header.offset}: {error}") from None
    return entries


@dataclasses.dataclass(frozen=True)
class WireEntry:
    """What the tool sends for one entry: the header bytes and the data bytes.

    On a cut image the name and the data can be short, so the header can be
    fewer than 17 bytes and the data fewer than N."""

    header: bytes
    data: bytes

    @property
    def complete(self) -> bool:
        return (len(self.header) == HEADER_PAYLOAD_SIZE and
                len(self.data) == struct.unpack("<H", self.header[11:13])[0])


def tool_image(file_bytes: bytes) -> bytes:
    """The image the tool loads from a file: a final 1Ah byte is left out."""
    if file_bytes and file_bytes[-1] == _EOF_MARK:
        return file_bytes[:-1]
    return file_bytes


def is_exhausted(image: bytes) -> bool:
    return all(byte in _BLANKS for byte in image)


def wire_entries(file_bytes: bytes) -> list[WireEntry]:
    """The entries the tool sends for a file, cut at its fixed offsets."""
    image = tool_image(file_bytes)
    result = []
    while not is_exhausted(image):

        def byte_at(offset: int) -> int:
            return image[offset] if offset < len(image) else 0

        name = image[4:14]
        numbers = bytes(byte_at(offset) for offset in range(14, 20))
        length = numbers[0] | numbers[1] << 8
        # A cut name is sent short; the numbers always go out, 00h where missing.
        header = bytes([byte_at(3)]) + name + numbers
        result.append(WireEntry(header, image[24:24 + length]))
        image = image[ENTRY_OVERHEAD + length:]
    return result


def rebuild_tape(wire: list[WireEntry]) -> bytes:
    """A TAP file from what was sent: flags and checksums are computed anew."""
    return b"".join(
        make_block(HEADER_FLAG, entry.header) + make_block(DATA_FLAG, entry.data)
        for entry in wire)


# --- TZX twins ------------------------------------------------------------------

TZX_SIGNATURE = b"ZXTape!\x1a"
TZX_VERSION = bytes([1, 20])
TZX_HEADER_SIZE = 10

TZX_STANDARD = 0x10
TZX_TURBO = 0x11
TZX_PAUSE = 0x20
TZX_GROUP_START = 0x21
TZX_GROUP_END = 0x22
TZX_LOOP_START = 0x24
TZX_LOOP_END = 0x25
TZX_STOP_IF_48K = 0x2A
TZX_SIGNAL_LEVEL = 0x2B
TZX_TEXT = 0x30
TZX_MESSAGE = 0x31
TZX_ARCHIVE_INFO = 0x32
TZX_HARDWARE = 0x33
TZX_CUSTOM_INFO = 0x35
TZX_GLUE = 0x5A

# The ROM's timings in T-states: pilot pulse, the two sync pulses, the 0 and 1 bit
# pulses, and the pilot tone's length in pulses before a header and a data block.
ROM_PILOT, ROM_SYNC1, ROM_SYNC2, ROM_ZERO, ROM_ONE = 2168, 667, 735, 855, 1710
ROM_PILOT_HEADER, ROM_PILOT_DATA = 8063, 3223
PAUSE_AFTER_BLOCK_MS = 1000


def _short_text(text: str) -> bytes:
    raw = text.encode("ascii")
    if len(raw) > 255:
        raise ValueError(f"text of {len(raw)} bytes does not fit a length byte")
    return bytes([len(raw)]) + raw


def tzx_standard(body: bytes, pause_ms: int = PAUSE_AFTER_BLOCK_MS) -> bytes:
    """A standard-speed data block (10h) holding one TAP block's bytes."""
    return bytes([TZX_STANDARD]) + struct.pack("<HH", pause_ms, len(body)) + body


def tzx_turbo(body: bytes, pause_ms: int = PAUSE_AFTER_BLOCK_MS) -> bytes:
    """The same bytes as a turbo-speed data block (11h) with the ROM's timings."""
    pilot = ROM_PILOT_HEADER if body[:1] == bytes([HEADER_FLAG]) else ROM_PILOT_DATA
    return (bytes([TZX_TURBO]) +
            struct.pack("<6HBH", ROM_PILOT, ROM_SYNC1, ROM_SYNC2, ROM_ZERO, ROM_ONE, pilot,
                        8, pause_ms) +  # all 8 bits of the last byte are used
            len(body).to_bytes(3, "little") + body)


def tzx_text(text: str) -> bytes:
    return bytes([TZX_TEXT]) + _short_text(text)


def tzx_message(seconds: int, text: str) -> bytes:
    return bytes([TZX_MESSAGE, seconds]) + _short_text(text)


def tzx_group_start(name: str) -> bytes:
    return bytes([TZX_GROUP_START]) + _short_text(name)


def tzx_archive_info(fields: list[tuple[int, str]]) -> bytes:
    """Archive info (32h): (kind, text) pairs; kind 00h is the title, 02h the publisher."""
    body = bytes([len(fields)]) + b"".join(bytes([kind]) + _short_text(text)
                                           for kind, text in fields)
    return bytes([TZX_ARCHIVE_INFO]) + struct.pack("<H", len(body)) + body


def tzx_hardware(entries: list[tuple[int, int, int]]) -> bytes:
    """Hardware type (33h): (hardware kind, model, how the tape uses it) triples."""
    return bytes([TZX_HARDWARE, len(entries)]) + b"".join(bytes(entry) for entry in entries)


def tzx_custom_info(name: str, data: bytes) -> bytes:
    return (bytes([TZX_CUSTOM_INFO]) + name.encode("ascii")[:16].ljust(16, b" ") +
            struct.pack("<I", len(data)) + data)


def tzx_glue() -> bytes:
    """The glue block (5Ah) left where two TZX files were joined."""
    return bytes([TZX_GLUE]) + TZX_SIGNATURE[1:] + TZX_VERSION


def tzx_blocks(image: bytes, with_extras: bool = False, turbo: int | None = None) -> list[bytes]:
    """The TZX twin of a TAP file, block by block (the file's header not included).

    Each TAP block becomes a standard-speed data block, except block number `turbo`
    (counted from 1), which becomes a turbo-speed one. With extras, blocks that carry
    no tape data go around and between them: a description, archive and hardware
    information, each entry (header and data block) in a group with a pause between
    its blocks, a message, custom information, a loop of pauses, the signal level,
    a glue block and a stop for 48K machines."""
    tap_blocks = parse_blocks(image)
    if turbo is not None and not 1 <= turbo <= len(tap_blocks):
        raise ValueError(f"no block {turbo}: the tape has {len(tap_blocks)}")
    data = []
    for number, block in enumerate(tap_blocks, 1):
        body = bytes([block.flag]) + block.payload + bytes([block.stored_checksum])
        data.append(tzx_turbo(body) if number == turbo else tzx_standard(body))
    if not with_extras:
        return data

    blocks = [tzx_text("KESTREL test tape"),
              tzx_archive_info([(0x00, "KESTREL twin"), (0x02, "Kestrel tape tools")]),
              tzx_hardware([(0x00, 0x01, 0x00)])]  # runs on a 48K machine
    for start in range(0, len(data), 2):
        blocks.append(tzx_group_start(f"entry {start // 2 + 1}"))
        blocks.append(data[start])
        if start + 1 < len(data):
            blocks += [bytes([TZX_PAUSE]) + struct.pack("<H", 200), data[start + 1]]
        blocks.append(bytes([TZX_GROUP_END]))
        if start == 0:
            blocks += [tzx_message(2, "Loading..."), tzx_custom_info("KESTREL", b"\x01\x02"),
                       bytes([TZX_LOOP_START]) + struct.pack("<H", 2),
                       bytes([TZX_PAUSE]) + struct.pack("<H", 100), bytes([TZX_LOOP_END]),
                       bytes([TZX_SIGNAL_LEVEL]) + struct.pack("<IB", 1, 0)]
    return blocks + [tzx_glue(), bytes([TZX_STOP_IF_48K]) + struct.pack("<I", 0)]


def build_tzx(blocks: list[bytes]) -> bytes:
    return TZX_SIGNATURE + TZX_VERSION + b"".join(blocks)


def tzx_offsets(blocks: list[bytes]) -> list[int]:
    """Where each block starts in the file `build_tzx` makes of them."""
    offsets, offset = [], TZX_HEADER_SIZE
    for block in blocks:
        offsets.append(offset)
        offset += len(block)
    return offsets


# --- The sample tape -------------------------------------------------------------

# Tokens of the home computer's BASIC used by the loader.
_CLEAR, _LOAD, _SCREEN, _CODE, _RANDOMIZE, _USR = 0xFD, 0xEF, 0xAA, 0xAF, 0xF9, 0xC0
_NUMBER_MARK = 0x0E
CODE_ADDRESS = 32768
SCREEN_ADDRESS = 16384


def basic_number(value: int) -> bytes:
    """A small integer as the BASIC stores it: its digits, then the hidden form."""
    return str(value).encode() + bytes([_NUMBER_MARK, 0, 0]) + struct.pack("<H", value) + b"\0"


def basic_line(number: int, body: bytes) -> bytes:
    body = body + b"\r"
    return struct.pack(">H", number) + struct.pack("<H", len(body)) + body


def demo_loader() -> bytes:
    """10 CLEAR 32767: LOAD "" SCREEN$ : LOAD "" CODE : RANDOMIZE USR 32768"""
    return basic_line(10, bytes([_CLEAR]) + basic_number(CODE_ADDRESS - 1) +
                      b":" + bytes([_LOAD]) + b'""' + bytes([_SCREEN]) +
                      b":" + bytes([_LOAD]) + b'""' + bytes([_CODE]) +
                      b":" + bytes([_RANDOMIZE, _USR]) + basic_number(CODE_ADDRESS))


def demo_screen() -> bytes:
    """6144 bytes of bitmap (a checker of stripes) and 768 bytes of attributes."""
    bitmap = bytes((0x55 if (index >> 8) % 2 else 0xAA) ^ (index & 0x1F)
                   for index in range(6144))
    attributes = bytes(((row + column) % 8) << 3 | (7 - (row + column) % 8)
                       for row in range(24) for column in range(32))
    return bitmap + attributes


def demo_code() -> bytes:
    """A border-flashing routine followed by a table of every byte value.

    The table holds 00h, 09h and 42h ("B") among the data on purpose: a receiver
    that splits the stream by anything but the lengths gets them wrong."""
    routine = bytes([
        0x06, 0x00,        # ld b,0
        0x78,              # loop: ld a,b
        0xE6, 0x07,        # and 7
        0xD3, 0xFE,        # out (254),a
        0x10, 0xF9,        # djnz loop
        0xC9,              # ret
    ])
    return routine + bytes(range(256))


def demo_entries() -> list[TapEntry]:
    loader = demo_loader()
    screen = demo_screen()
    code = demo_code()
    return [
        TapEntry.make(TYPE_PROGRAM, "demo", loader, param1=10, param2=len(loader)),
        TapEntry.make(TYPE_CODE, "demoscreen", screen, SCREEN_ADDRESS, CODE_ADDRESS),
        TapEntry.make(TYPE_CODE, "democode", code, CODE_ADDRESS, CODE_ADDRESS),
    ]


# --- Command line ----------------------------------------------------------------

def _describe(image: bytes, out) -> int:
    try:
        blocks = parse_blocks(image)
    except TapFormatError as error:
        print(f"not a well-formed TAP file: {error}", file=out)
        return 1
    status = 0
    for block in blocks:
        mark = "ok" if block.checksum_ok else "BAD CHECKSUM"
        print(f"{block.offset:8d}  flag {block.flag:02X}h  {len(block.payload):6d} bytes  {mark}",
              file=out)
        status |= not block.checksum_ok
    try:
        entries = parse_tape(image)
    except TapFormatError as error:
        print(f"entries: {error}", file=out)
        return 1
    for index, entry in enumerate(entries, 1):
        print(f"entry {index}: type {entry.type} name {entry.name!r} N={entry.length} "
              f"param1={entry.param1} param2={entry.param2}", file=out)
    return status


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(
        description="Build, read and check TAP tape images.",
        epilog="Regenerate the sample tape with: "
               "python3 tools/tapfile.py demo -o samples/demo.tap")
    commands = parser.add_subparsers(dest="command", required=True)
    demo = commands.add_parser(
        "demo", help="write the three-file sample tape (BASIC loader, screen, code)")
    demo.add_argument("-o", "--output", required=True, help="path of the .tap to write")
    listing = commands.add_parser("list", help="list the blocks and entries of a tape")
    listing.add_argument("file")
    tzx = commands.add_parser("tzx", help="write the TZX twin of a TAP file")
    tzx.add_argument("tap", help="the .tap to read")
    tzx.add_argument("-o", "--output", required=True, help="path of the .tzx to write")
    tzx.add_argument("--with-extras", action="store_true",
                     help="add texts, groups, pauses and information between the data blocks")
    tzx.add_argument("--turbo", type=int, metavar="N",
                     help="write TAP block N (from 1) as a turbo-speed block")
    args = parser.parse_args(argv)

    if args.command == "demo":
        with open(args.output, "wb") as out:
            out.write(build_tape(demo_entries()))
        return 0
    if args.command == "tzx":
        with open(args.tap, "rb") as tape:
            image = tape.read()
        try:
            blocks = tzx_blocks(image, args.with_extras, args.turbo)
        except (TapFormatError, ValueError) as error:
            print(f"tapfile.py: {args.tap}: {error}", file=sys.stderr)
            return 1
        with open(args.output, "wb") as out:
            out.write(build_tzx(blocks))
        return 0
    with open(args.file, "rb") as tape:
        return _describe(tape.read(), sys.stdout)


if __name__ == "__main__":
    sys.exit(main())
