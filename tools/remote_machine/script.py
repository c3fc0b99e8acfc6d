"""The script of a run: what the remote machine sends, and when."""

from __future__ import annotations

import dataclasses
import typing

from remote_machine.protocol import COMMAND_BYTE, FLOOD_BYTES_PER_SECOND


class ScriptError(ValueError):
    pass


@dataclasses.dataclass(frozen=True)
class Send:
    data: bytes


@dataclasses.dataclass(frozen=True)
class Wait:
    seconds: float


@dataclasses.dataclass(frozen=True)
class Noise:
    """`size` noise bytes; `rate` bytes a second at most (None: as fast as the line takes them)."""
    size: int
    rate: float | None = None


@dataclasses.dataclass(frozen=True)
class Deaf:
    seconds: float


@dataclasses.dataclass(frozen=True)
class Call:
    """Runs `action` at this point of the script (for programs that drive the run;
    no script token makes one)."""
    action: typing.Callable[[], None]


@dataclasses.dataclass(frozen=True)
class UntilEnd:
    """Send "B" after "B" until the end byte; at most `limit` requests."""
    limit: int | None = None


def _noise_pattern(size: int = 65536) -> bytes:
    """A fixed xorshift sequence of bytes, "B" left out."""
    state = 0x2545F491
    pattern = bytearray()
    while len(pattern) < size:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        if state >> 24 != COMMAND_BYTE:
            pattern.append(state >> 24)
    return bytes(pattern)


_NOISE = _noise_pattern()


def noise_bytes(count: int) -> bytes:
    """The first `count` bytes of the noise every noise:N and flood:S token sends."""
    return (_NOISE * (count // len(_NOISE) + 1))[:count]


def parse_script(text: str) -> list:
    steps = []
    for token in text.replace(",", " ").split():
        steps.extend(_parse_token(token))
    if not steps:
        raise ScriptError("empty script")
    return steps


def _parse_token(token: str) -> list:
    count_text, star, rest = token.partition("*")
    if star and count_text.isdigit() and rest:
        count = int(count_text)
        if count > 100000:
            raise ScriptError(f"{token}: repeat count too large")
        return _parse_token(rest) * count
    if token == "B*":
        return [UntilEnd()]
    lowered = token.lower()
    if lowered.startswith("wait:") or (lowered.endswith("ms") and lowered[:-2].isdigit()):
        number = lowered[5:] if lowered.startswith("wait:") else lowered[:-2]
        try:
            milliseconds = float(number)
        except ValueError:
            raise ScriptError(f"{token}: not a number of milliseconds") from None
        if milliseconds < 0:
            raise ScriptError(f"{token}: negative wait")
        return [Wait(milliseconds / 1000)]
    if lowered.startswith(("noise:", "flood:", "deaf:")):
        word, _, number = lowered.partition(":")
        try:
            value = int(number) if word == "noise" else float(number)
        except ValueError:
            raise ScriptError(f"{token}: not a number") from None
        if not value > 0 or value > (10 ** 8 if word == "noise" else 3600):
            raise ScriptError(f"{token}: out of range")
        if word == "noise":
            return [Noise(value)]
        if word == "flood":
            return [Noise(round(value * FLOOD_BYTES_PER_SECOND), FLOOD_BYTES_PER_SECOND)]
        return [Deaf(value)]
    if lowered.startswith("hex:"):
        try:
            data = bytes.fromhex(token[4:])
        except ValueError:
            raise ScriptError(f"{token}: not hexadecimal") from None
        if not data:
            raise ScriptError(f"{token}: no bytes")
        return [Send(data)]
    return [Send(token.encode("latin-1"))]


def describe_steps(steps) -> str:
    words = []
    for step in steps:
        if isinstance(step, Send):
            words.append(step.data.decode("latin-1") if step.data.isascii()
                         and step.data.decode().isprintable() else "hex:" + step.data.hex())
        elif isinstance(step, Wait):
            words.append(f"wait:{step.seconds * 1000:g}")
        elif isinstance(step, Noise):
            words.append(f"noise:{step.size}" if step.rate is None
                         else f"flood:{round(step.size / step.rate, 3):g}")
        elif isinstance(step, Deaf):
            words.append(f"deaf:{step.seconds:g}")
        elif isinstance(step, Call):
            continue
        else:
            words.append("B*")
    return " ".join(words)
