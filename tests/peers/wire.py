"""Big-endian format-letter packing and 16-bit length frames, written for the test peers.

The peers (match-making server, game clients) speak the server's protocol with this codec, which is
written on its own from the protocol tables and shares nothing with the server's C++ packet code, so an
encoding mistake on one side shows up as a failed test instead of hiding on both.

    pack("HLs", 1, 2, "ab")                -> bytes
    unpack("Q#v", data, 128)               -> [id, ticket]      (sizes of '#' items follow in order)
    unpack_from("BQaL", data, offset)      -> ([values...], offset after them)
    typed_frame(7, b"\\x01\\x02")            -> b"\\x00\\x03\\x07\\x01\\x02"
    FrameReader().feed(bytes)              -> complete frame bodies, in order
"""

import asyncio
import math
import struct

# Largest frame body the server's framers accept (their receive buffers are 4096 bytes).
MAX_FRAME = 4096
# Counted items ('s' and the '#' pair) carry at most this many bytes.
MAX_COUNTED = 65535

ERROR_SHORT = 2
ERROR_FORMAT = 22

_INT_WIDTHS = {"B": 1, "b": 1, "H": 2, "h": 2, "I": 4, "L": 4, "i": 4, "l": 4, "Q": 8, "q": 8}


class WireError(ValueError):
    """A pack or unpack that failed; `code` is 22 for a bad format or a value over a limit, 2 for
    input that came short."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code


def _items(fmt):
    i = 0
    while i < len(fmt):
        letter = fmt[i]
        if letter == "#":
            kind = fmt[i + 1] if i + 1 < len(fmt) else ""
            if kind not in ("c", "v"):
                raise WireError(ERROR_FORMAT, "'#' must be followed by 'c' or 'v' in %r" % fmt)
            yield "#" + kind
            i += 2
            continue
        if letter not in _INT_WIDTHS and letter not in "afds":
            raise WireError(ERROR_FORMAT, "unknown format letter %r in %r" % (letter, fmt))
        yield letter
        i += 1


def _as_bytes(value):
    return value.encode("utf-8") if isinstance(value, str) else bytes(value)


def _float_word(value, fraction_bits, bias, width):
    # The packer's domain is zero and the normal finite numbers; zero of either sign packs as all zeros.
    if value == 0:
        return 0
    if math.isnan(value) or math.isinf(value):
        raise WireError(ERROR_FORMAT, "cannot pack %r" % value)
    sign = 1 if value < 0 else 0
    mantissa, exponent = math.frexp(abs(value))  # abs(value) = mantissa * 2**exponent, 0.5 <= mantissa < 1
    exponent -= 1
    fraction = int((mantissa * 2.0 - 1.0) * (1 << fraction_bits))
    if not 0 < exponent + bias < (1 << (width - fraction_bits - 1)) - 1:
        raise WireError(ERROR_FORMAT, "%r is outside the normal range" % value)
    return sign << (width - 1) | (exponent + bias) << fraction_bits | fraction


def _float_value(word, fraction_bits, exponent_mask, bias, width):
    # Exponent fields 0 and all ones have no special meaning here: every non-zero word is a normal number.
    if word == 0:
        return 0.0
    fraction = word & ((1 << fraction_bits) - 1)
    exponent = (word >> fraction_bits) & exponent_mask
    value = math.ldexp(1.0 + fraction / float(1 << fraction_bits), exponent - bias)
    return -value if word >> (width - 1) else value


def pack(fmt, *args):
    """Packs the arguments by the format letters; '#c' takes (buffer size, text), '#v' (count, bytes)."""
    out = bytearray()
    args = list(args)

    def take():
        if not args:
            raise TypeError("too few values for format %r" % fmt)
        return args.pop(0)

    for item in _items(fmt):
        if item in _INT_WIDTHS:
            width = _INT_WIDTHS[item]
            out += (int(take()) & ((1 << (8 * width)) - 1)).to_bytes(width, "big")
        elif item == "a":
            out.append(1 if take() else 0)
        elif item == "f":
            value = struct.unpack("f", struct.pack("f", float(take())))[0]
            out += _float_word(value, 23, 127, 32).to_bytes(4, "big")
        elif item == "d":
            out += _float_word(float(take()), 52, 1023, 64).to_bytes(8, "big")
        elif item == "s":
            data = _as_bytes(take())
            if len(data) > MAX_COUNTED:
                raise WireError(ERROR_FORMAT, "string of %d bytes is over the limit" % len(data))
            out += len(data).to_bytes(4, "big") + data
        elif item == "#c":
            size, data = int(take()), _as_bytes(take())
            if size > MAX_COUNTED or size < len(data) + 1:
                raise WireError(ERROR_FORMAT, "text of %d bytes does not fit a buffer of %d" % (len(data), size))
            out += len(data).to_bytes(2, "big") + data
        elif item == "#v":
            count, data = int(take()), _as_bytes(take())
            if count > MAX_COUNTED:
                raise WireError(ERROR_FORMAT, "count %d is over the limit" % count)
            if len(data) < count:
                raise ValueError("%d raw bytes given for a count of %d" % (len(data), count))
            out += data[:count]
    if args:
        raise TypeError("%d values left over for format %r" % (len(args), fmt))
    return bytes(out)


def unpack_from(fmt, data, offset=0, *sizes):
    """Reads the format from data at offset; '#c' and '#v' take their buffer size or count from sizes.
    Returns (values, offset after them); strings come back as bytes."""
    values = []
    sizes = list(sizes)

    def read(count):
        nonlocal offset
        if offset + count > len(data):
            raise WireError(ERROR_SHORT, "%d bytes wanted at offset %d of %d" % (count, offset, len(data)))
        chunk = bytes(data[offset:offset + count])
        offset += count
        return chunk

    for item in _items(fmt):
        if item in _INT_WIDTHS:
            values.append(int.from_bytes(read(_INT_WIDTHS[item]), "big"))
        elif item == "a":
            values.append(read(1)[0] != 0)
        elif item == "f":
            values.append(_float_value(int.from_bytes(read(4), "big"), 23, 0xFF, 127, 32))
        elif item == "d":
            values.append(_float_value(int.from_bytes(read(8), "big"), 52, 0x7FF, 1023, 64))
        elif item == "s":
            length = int.from_bytes(read(4), "big")
            if length > MAX_COUNTED:
                raise WireError(ERROR_FORMAT, "string length %d is over the limit" % length)
            values.append(read(length))
        else:
            if not sizes:
                raise TypeError("no size given for %r in %r" % (item, fmt))
            size = int(sizes.pop(0))
            if size > MAX_COUNTED:
                raise WireError(ERROR_FORMAT, "size %d is over the limit" % size)
            if item == "#c":
                length = int.from_bytes(read(2), "big")
                if size < length + 1:
                    raise WireError(ERROR_FORMAT, "text of %d bytes does not fit a buffer of %d" % (length, size))
                values.append(read(length))
            else:
                values.append(read(size))
    return values, offset


def unpack(fmt, data, *sizes):
    """Like unpack_from at offset 0, returning the values only; bytes after the layout are ignored."""
    return unpack_from(fmt, data, 0, *sizes)[0]


def frame(body):
    """One frame: the body's length as a big-endian u16, then the body."""
    body = bytes(body)
    if len(body) > 0xFFFF:
        raise WireError(ERROR_FORMAT, "frame body of %d bytes does not fit a 16-bit length" % len(body))
    return len(body).to_bytes(2, "big") + body


def typed_frame(channel, payload=b""):
    """A frame whose body is the channel byte followed by the payload."""
    return frame(bytes([channel]) + bytes(payload))


class FrameError(ValueError):
    pass


class FrameReader:
    """Reassembles frames from bytes as they arrive; a declared length above max_size is an error, as the
    server's framer treats it."""

    def __init__(self, max_size=MAX_FRAME):
        self.max_size = max_size
        self._buffer = bytearray()

    def feed(self, data):
        self._buffer += data
        bodies = []
        while len(self._buffer) >= 2:
            length = int.from_bytes(self._buffer[:2], "big")
            if length > self.max_size:
                raise FrameError("frame length %d above %d" % (length, self.max_size))
            if len(self._buffer) < 2 + length:
                break
            bodies.append(bytes(self._buffer[2:2 + length]))
            del self._buffer[:2 + length]
        return bodies

    @property
    def pending(self):
        """Bytes received that do not make a whole frame yet."""
        return len(self._buffer)


async def read_frame(reader, max_size=MAX_FRAME):
    """Reads one frame body from an asyncio stream; None at a clean end of stream."""
    try:
        head = await reader.readexactly(2)
    except asyncio.IncompleteReadError as error:
        if error.partial:
            raise FrameError("stream ended inside a frame length")
        return None
    length = int.from_bytes(head, "big")
    if length > max_size:
        raise FrameError("frame length %d above %d" % (length, max_size))
    try:
        return await reader.readexactly(length)
    except asyncio.IncompleteReadError:
        raise FrameError("stream ended inside a frame body of %d bytes" % length)


def address_to_wire_u32(ip):
    """The u32 that a sockaddr_in holds for a dotted address on a little-endian host."""
    return int.from_bytes(bytes(int(part) for part in ip.split(".")), "little")


def wire_u32_to_address(value):
    return ".".join(str(b) for b in value.to_bytes(4, "little"))


def swap16(value):
    return ((value & 0xFF) << 8) | (value >> 8)
