"""The line protocol as the remote machine sees it, its speed, and the exit statuses."""

from __future__ import annotations

import tapfile

COMMAND_BYTE = 0x42
START_BYTE = 0x00
END_BYTE = 0x09
HEADER_SIZE = tapfile.HEADER_PAYLOAD_SIZE

EXIT_OK = 0
EXIT_TAPE_DIFFERS = 1
EXIT_PROTOCOL = 2
EXIT_SETUP = 3

# 115200 baud with 1 start, 8 data and 2 stop bits: 11 bits a byte.
LINE_BAUD = 115200
LINE_BYTES_PER_SECOND = LINE_BAUD / 11

FLOOD_BYTES_PER_SECOND = 10 * LINE_BYTES_PER_SECOND
NOISE_WRITE_SIZE = 4096
