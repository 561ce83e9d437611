"""The peers' format-letter codec and framing against the protocol's own byte examples."""

import asyncio
import math
import unittest

import wire


class PackTest(unittest.TestCase):
    def test_letters_give_the_documented_bytes_and_read_back(self):
        cases = [
            ("H", (0x1234,), "1234"),
            ("I", (1,), "00000001"),
            ("Q", (1,), "0000000000000001"),
            ("a", (5,), "01"),
            ("s", ("abc",), "00000003616263"),
            ("#c", (4, "abc"), "0003616263"),
            ("#v", (3, b"xyz"), "78797a"),
            ("f", (1.0,), "3f800000"),
            ("f", (-2.5,), "c0200000"),
            ("f", (0.0,), "00000000"),
            ("f", (-0.0,), "00000000"),
            ("d", (1.0,), "3ff0000000000000"),
            ("d", (0.1,), "3fb999999999999a"),
            ("BQaL", (1, 0x0102030405060708, 0, 9), "01" "0102030405060708" "00" "00000009"),
            ("", (), ""),
        ]
        for fmt, values, expected in cases:
            with self.subTest(fmt=fmt, values=values):
                data = wire.pack(fmt, *values)
                self.assertEqual(data.hex(), expected)
                sizes = [values[0]] if fmt.startswith("#") else []
                back = wire.unpack(fmt, data, *sizes)
                if fmt == "a":
                    self.assertEqual(back, [True])
                elif fmt in ("s", "#c", "#v"):
                    self.assertEqual(back[-1], values[-1].encode() if isinstance(values[-1], str) else values[-1])
                elif fmt in ("f", "d"):
                    self.assertEqual(back[0], values[0])
                else:
                    self.assertEqual(back, list(values))

    def test_unpack_quirks(self):
        self.assertEqual(wire.unpack("a", b"\x02"), [True])
        # The sign bit alone is a tiny negative number, not negative zero: exponent 0 is not special.
        self.assertEqual(wire.unpack("f", bytes.fromhex("80000000")), [-math.ldexp(1.0, -127)])
        self.assertEqual(wire.unpack("f", bytes(4)), [0.0])

    def test_bad_formats_and_limits_fail_with_22(self):
        for fmt, args in [("X", (1,)), ("#x", (1, b"")), ("#c", (3, "abc")), ("#v", (65536, b"")),
                          ("s", ("x" * 65536,))]:
            with self.subTest(fmt=fmt):
                with self.assertRaises(wire.WireError) as caught:
                    wire.pack(fmt, *args)
                self.assertEqual(caught.exception.code, wire.ERROR_FORMAT)
        with self.assertRaises(wire.WireError) as caught:
            wire.unpack("s", bytes.fromhex("00010000"))
        self.assertEqual(caught.exception.code, wire.ERROR_FORMAT)
        with self.assertRaises(wire.WireError) as caught:
            wire.unpack("#c", bytes.fromhex("0003616263"), 3)
        self.assertEqual(caught.exception.code, wire.ERROR_FORMAT)

    def test_short_input_fails_with_2_and_reports_where(self):
        with self.assertRaises(wire.WireError) as caught:
            wire.unpack("HB", bytes.fromhex("1234"))
        self.assertEqual(caught.exception.code, wire.ERROR_SHORT)
        self.assertEqual(wire.unpack_from("H", bytes.fromhex("123456")), ([0x1234], 2))

    def test_network_order_values_of_the_link(self):
        # Port 10000 held in network order packs as "H" low byte first; 1.2.3.4 as "L" last octet first.
        self.assertEqual(wire.pack("H", wire.swap16(10000)).hex(), "1027")
        self.assertEqual(wire.pack("L", wire.address_to_wire_u32("1.2.3.4")).hex(), "04030201")
        self.assertEqual(wire.wire_u32_to_address(wire.address_to_wire_u32("10.20.30.40")), "10.20.30.40")


class FrameTest(unittest.TestCase):
    def test_typed_frame_layout(self):
        self.assertEqual(wire.typed_frame(7, b"\x01\x02").hex(), "0003070102")

    def test_reader_reassembles_split_and_joined_frames(self):
        reader = wire.FrameReader()
        data = wire.typed_frame(7, b"\x01\x02") + wire.typed_frame(9, b"") + wire.typed_frame(1, b"x" * 300)
        bodies = []
        for i in range(0, len(data), 3):
            bodies += reader.feed(data[i:i + 3])
        self.assertEqual(bodies, [b"\x07\x01\x02", b"\x09", b"\x01" + b"x" * 300])
        self.assertEqual(reader.pending, 0)
        self.assertEqual(reader.feed(bytes.fromhex("000307")), [])
        self.assertEqual(reader.pending, 3)

    def test_length_above_4096_is_refused(self):
        self.assertEqual(wire.FrameReader().feed(b"\x10\x00" + bytes(4096)), [bytes(4096)])
        with self.assertRaises(wire.FrameError):
            wire.FrameReader().feed(b"\x10\x01")

    def test_async_read_frame(self):
        async def run():
            reader = asyncio.StreamReader()
            reader.feed_data(wire.typed_frame(5, b"ab") + b"\x00")
            reader.feed_eof()
            first = await wire.read_frame(reader)
            with self.assertRaises(wire.FrameError):
                await wire.read_frame(reader)
            empty = asyncio.StreamReader()
            empty.feed_eof()
            return first, await wire.read_frame(empty)

        self.assertEqual(asyncio.run(run()), (b"\x05ab", None))


if __name__ == "__main__":
    unittest.main()
