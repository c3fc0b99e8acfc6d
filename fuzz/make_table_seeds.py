#!/usr/bin/env python3
"""Writes the seeds of table_listing_fuzz into fuzz/table_corpus/: small tables and
memo files of the layer's family, each as the target reads its input (two bytes,
little-endian, the table's length; the table; the memo file)."""
import os
import struct
import sys

BLOCK = 64


def memo_file(texts):
    """The memo file holding `texts` from block 8 on, and each text's first block."""
    blocks = bytearray()
    first = []
    next_free = 512 // BLOCK
    for text in texts:
        first.append(next_free)
        stored = struct.pack(">II", 1, len(text)) + text
        stored += b"\0" * (-len(stored) % BLOCK)
        blocks += stored
        next_free += len(stored) // BLOCK
    header = struct.pack(">I", next_free) + b"\0\0" + struct.pack(">H", BLOCK)
    return header + b"\0" * (512 - len(header)) + bytes(blocks), first


def table(fields, records, version):
    """fields: (name, type, length, decimals); records: (deleted, [field bytes])."""
    record_size = 1 + sum(f[2] for f in fields)
    header_size = 32 + 32 * len(fields) + 1
    out = bytearray(struct.pack("<B3BIHH", version, 126, 12, 9, len(records),
                                header_size, record_size))
    out += b"\0" * (29 - len(out)) + b"\x03\0\0"
    offset = 1
    for name, kind, length, decimals in fields:
        out += name.encode().ljust(11, b"\0") + kind.encode()
        out += struct.pack("<I", offset) + bytes([length, decimals]) + b"\0" * 14
        offset += length
    out += b"\x0d"
    for deleted, values in records:
        out += (b"*" if deleted else b" ") + b"".join(values)
    return bytes(out + b"\x1a")


def seed(name, dbf, dbt=b""):
    path = os.path.join(sys.argv[1] if len(sys.argv) > 1 else "fuzz/table_corpus", name)
    with open(path, "wb") as out:
        out.write(struct.pack("<H", len(dbf)) + dbf + dbt)


def main():
    people = [("CODICE", "C", 10, 0), ("NOME", "C", 30, 0), ("DATA", "D", 8, 0),
              ("ETA", "N", 5, 1), ("ATTIVO", "L", 1, 0), ("NOTE", "M", 10, 0)]
    dbt, blocks = memo_file([b"prima nota", b"una nota pi\xf9 lunga " * 8, b"x"])
    rows = [(False, [b"1".ljust(10), b"ROSSI MARIO".ljust(30), b"20260301", b" 42.5", b"T",
                     str(blocks[0]).rjust(10).encode()]),
            (True, [b"2".ljust(10), b"BIANCHI".ljust(30), b"        ", b"  0.0", b"F",
                    str(blocks[1]).rjust(10).encode()]),
            (False, [b"3".ljust(10), b"VERDI \xe8".ljust(30), b"19991231", b"-12.3", b"?",
                     str(blocks[2]).rjust(10).encode()]),
            (False, [b"".ljust(10), b"".ljust(30), b"20240229", b"     ", b" ", b" " * 10])]
    seed("people.seed", table(people, rows, 0xF5), dbt)
    seed("plain.seed", table([("CODICE", "C", 10, 0), ("QTA", "N", 8, 2)],
                             [(False, [b"A1".ljust(10), b"  123.45"]),
                              (False, [b"A2".ljust(10), b"********"])], 0x03))
    # A memo pointer past the end of the memo file, and a memo length past it.
    far = [(False, [b"9".ljust(10), b"".ljust(30), b"20260101", b"  1.0", b"T",
                    b"     99999"])]
    seed("memo-far.seed", table(people, far, 0xF5), dbt)
    short = bytearray(dbt)
    struct.pack_into(">I", short, blocks[1] * BLOCK + 4, 1 << 30)
    seed("memo-long.seed", table(people, rows, 0xF5), bytes(short))
    # A count larger than the records the file holds.
    counted = bytearray(table(people, rows[:1], 0xF5))
    struct.pack_into("<I", counted, 4, 1000)
    seed("count-high.seed", bytes(counted), dbt)


main()
