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

Command line:
  tapfile.py demo -o samples/demo.tap   regenerate the sample tape of the repository
  tapfile.py list FILE                  list the blocks and entries of a tape
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
    args = parser.parse_args(argv)

    if args.command == "demo":
        with open(args.output, "wb") as out:
            out.write(build_tape(demo_entries()))
        return 0
    with open(args.file, "rb") as tape:
        return _describe(tape.read(), sys.stdout)


if __name__ == "__main__":
    sys.exit(main())
