#!/usr/bin/env python3
"""A game client peer: connects to the dedicated server's client port, sends the connect packet, records
every frame it receives, decoded, and sends chat, pings, commands, state requests and orders.

As a program it prints one JSON event a line and reads JSON commands on standard input (peer_events.py):

    python3 game_client.py --port P --player-id 5 --version 1.0 [--password PW] [--ask]
                           [--demo [--command-ticks 50]] [--greeting TEXT]
                           [--print admission,next_state,closed]

    {"event": "connected", "local": "127.0.0.1:40000"}
    {"event": "frame", "channel": 193, "name": "admission", "user_session_id": 1, "spectator": false, "state": 0}
    {"event": "frame", "channel": 206, "name": "next_state", "previous": 0, "state": 51, "tick": 0}
    {"event": "frame", "channel": 194, "name": "relay", "sender": 5, "letter": "d", "tick": 3, ...}
    {"event": "frame", "channel": 199, "name": "last_packet", "reason": 5, "reason_name": "Full"}
    {"event": "closed", "by": "server"}

"closed" tells who ended the connection: "server" (end of stream, or with "error" naming a reset or
other failure) or "client" (its own close).

Commands: {"cmd": "chat", "text": "hi"}, {"cmd": "command", "line": "launch"},
{"cmd": "request_state", "state": 52}, {"cmd": "orders", "hex": "0102"},
{"cmd": "tick_report", "tick": 7, "checksum": 1}, {"cmd": "game_message", "letter": "x", "hex": "",
"recipient": 4294967295}, {"cmd": "ping_answer", "value": 3}, {"cmd": "raw", "hex": "0003c10102"},
{"cmd": "close"}, {"cmd": "dump"}, {"cmd": "quit"}.

Imported by a test: `client = GameClient(); await client.connect(port)`, `await client.send_connect(...)`,
then `await client.events.wait_for({"name": "admission"})` and the senders as methods. Pings (channel 197,
command 1) are answered at once unless `answer_pings` is false. With `play_along` the client follows the
game: it asks for the next state at each phase change and, on every tick it receives while the game runs,
sends one order and one tick report; after `command_ticks` ticks of the command phase it asks for the
debriefing, and there it asks to return to match making. With a `greeting` the client sends that chat
line to every player once it is admitted; the program's demo mode greets with DEMO_GREETING.

Byte order: every body is packed with the big-endian format letters, except what the server treats as
opaque host-order data: the chat text's 16-bit length, the tick and checksum of a 'g' message and the
actions payload of a relayed 'd' message (little-endian).
"""

import argparse
import asyncio
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import replay_reader  # noqa: E402
import wire  # noqa: E402
from peer_events import EventLog, print_event, run_command_loop  # noqa: E402

CHANNEL_CONNECT = 193          # connect packet (to the server), admission answer (from it)
CHANNEL_GAME_DATA = 194
CHANNEL_IGNORED = 196
CHANNEL_SYSTEM = 197
CHANNEL_LAST_PACKET = 199
CHANNEL_CLIENT_EVENT = 200
CHANNEL_PROPERTY = 201
CHANNEL_PLAYER_VARIABLE = 202
CHANNEL_COMMAND = 203
CHANNEL_PLAYER_NUMBERS = 204
CHANNEL_STATE = 205            # state timer (from the server), state request (to it)
CHANNEL_NEXT_STATE = 206
CHANNEL_REPLAY_STREAM = 207
CHANNEL_PING_TABLE = 208

TICKET_SIZE = 128
ALL_RECIPIENTS = 0xFFFFFFFF
DEMO_GREETING = "Hello from the scripted client"
NO_LIMIT = 0xFFFFFFFF

PING_REQUEST = 1
PING_ANSWER = 0

STATE_MATCH_MAKING = 0
STATE_LOADING = 51
STATE_DEPLOYMENT = 52
STATE_COMMAND = 53
STATE_DEBRIEFING = 101
RUNNING_STATES = (STATE_LOADING, STATE_DEPLOYMENT, STATE_COMMAND, STATE_DEBRIEFING)
# The state a playing client asks for once a phase has begun.
NEXT_REQUEST = {STATE_LOADING: STATE_DEPLOYMENT, STATE_DEPLOYMENT: STATE_COMMAND,
                STATE_DEBRIEFING: STATE_MATCH_MAKING}

DISCONNECT_REASONS = [
    "Success", "Refused", "ConnectionLost", "NotAvailable", "TimeOut", "Full", "PendingClientListFull",
    "AlreadyInSession", "InvalidUserName", "InvalidSessionInfo", "IdReclaimed", "IncorrectIdentification",
    "IncorrectVersion", "DatabaseError", "UserDiconnectRequest", "Kicked", "InvalidLobbyType",
    "AutoMatchNbPlayerChanged", "InvalidTicket", None, "Failed", "KickedAtEndGame", "KickedDueToBadPerf",
    "BannedFromMultiplayer", "BannedFromDedicatedServer", "DedicatedServerNeedPassword",
    "DedicatedServerInvalidPassword",
]
CLIENT_EVENT_KINDS = {0: "joined", 1: "ready", 2: "left", 3: "host"}


def reason_name(reason):
    if reason < len(DISCONNECT_REASONS) and DISCONNECT_REASONS[reason] is not None:
        return DISCONNECT_REASONS[reason]
    return "Unspecified"


def _text(data):
    return data.decode("utf-8", "replace")


# --- the bodies ----------------------------------------------------------------------------------
# Every body with a fixed layout: name -> (channel, format letters, field names). Channels 193, 197
# and 205 carry one body each way, so the two directions have a table each. Text fields decode to
# str, the ticket ('#v') to bytes.
TO_SERVER = {
    "connect": (CHANNEL_CONNECT, "Q#vsas", ("player_id", "ticket", "version", "ask", "password")),
    "system": (CHANNEL_SYSTEM, "BL", ("command", "value")),
    "command": (CHANNEL_COMMAND, "s", ("line",)),
    "state_request": (CHANNEL_STATE, "L", ("state",)),
}
FROM_SERVER = {
    "admission": (CHANNEL_CONNECT, "LaL", ("user_session_id", "spectator", "state")),
    "system": (CHANNEL_SYSTEM, "BL", ("command", "value")),
    "last_packet": (CHANNEL_LAST_PACKET, "BL", ("zero", "reason")),
    "client_event": (CHANNEL_CLIENT_EVENT, "BQaL", ("kind", "player_id", "flag", "user_session_id")),
    "property": (CHANNEL_PROPERTY, "ss", ("key", "value")),
    "player_variable": (CHANNEL_PLAYER_VARIABLE, "Lss", ("user_session_id", "key", "value")),
    "state_timer": (CHANNEL_STATE, "LLL", ("state", "time_left", "tick")),
    "next_state": (CHANNEL_NEXT_STATE, "LLL", ("previous", "state", "tick")),
    "ping_table": (CHANNEL_PING_TABLE, "QL", ("player_id", "ping")),
}
# The other bodies: the game data of channel 194 ("I" recipient or "Q" sender, a type letter, its
# data), the player numbers (a count and u32 pairs), the replay stream ("I" then raw bytes), the id
# list (a count and "QL" entries, no channel) and the server-available flag ("a", channel 229, sent
# to the match-making server).
CHANNEL_SERVER_AVAILABLE = 229


def _sizes(fmt):
    return [TICKET_SIZE] * fmt.count("#")


def _pack_fields(table, name, fields):
    channel, fmt, keys = table[name]
    values = []
    for key, letter in zip(keys, fmt.replace("#v", "v")):
        value = fields[key]
        if letter == "v":
            values += [TICKET_SIZE, bytes(value).ljust(TICKET_SIZE, b"\0")[:TICKET_SIZE]]
        else:
            values.append(value)
    return wire.typed_frame(channel, wire.pack(fmt, *values))


def _unpack_fields(table, name, payload):
    """The fields of a body; bytes after the layout are kept under "extra"."""
    fmt, keys = table[name][1:]
    values, end = wire.unpack_from(fmt, payload, 0, *_sizes(fmt))
    event = {"name": name}
    for key, letter, value in zip(keys, fmt.replace("#v", "v"), values):
        event[key] = _text(value) if isinstance(value, bytes) and letter == "s" else value
    if end < len(payload):
        event["extra"] = payload[end:].hex()
    return event


def encode_to_server(name, **fields):
    """A frame of a fixed-layout body to the server, by its name in TO_SERVER."""
    return _pack_fields(TO_SERVER, name, fields)


def encode_from_server(name, **fields):
    """A frame of a fixed-layout body from the server, by its name in FROM_SERVER (for stand-ins of
    the server)."""
    return _pack_fields(FROM_SERVER, name, fields)


# --- bodies to the server ------------------------------------------------------------------------

def encode_connect(player_id, ticket=b"", version="1.0", ask=False, password=""):
    return encode_to_server("connect", player_id=player_id, ticket=ticket, version=version, ask=ask,
                            password=password)


def encode_game_message(letter, data=b"", recipient=ALL_RECIPIENTS):
    letter = letter.encode("latin-1") if isinstance(letter, str) else bytes([letter])
    return wire.typed_frame(CHANNEL_GAME_DATA, wire.pack("I", recipient) + letter + bytes(data))


def chat_data(text, word=0):
    """A chat message's data: a u32 the server passes on untouched, then the text after its 16-bit
    length in host order."""
    text = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    return struct.pack("<IH", word, len(text)) + text


def tick_report_data(tick, checksum):
    """A 'g' message's data: the acknowledged tick at offset 0 and the state checksum at offset 8 (host
    order); the server reads both only when the data is longer than 12 bytes, so 16 are sent."""
    return struct.pack("<IIII", tick, 0, checksum, 0)


def encode_system(command, value):
    return encode_to_server("system", command=command, value=value)


def encode_command(line):
    return encode_to_server("command", line=line)


def encode_state_request(state):
    return encode_to_server("state_request", state=state)


def encode_id_list(entries):
    """The id list body: count, then (player id, u32 value) entries."""
    return wire.pack("L", len(entries)) + b"".join(wire.pack("QL", pid, value) for pid, value in entries)


def decode_id_list(data):
    """Entries read until the first one that cannot be; returns (entries, complete)."""
    entries = []
    try:
        (count,), offset = wire.unpack_from("L", data)
        for _ in range(count):
            entry, offset = wire.unpack_from("QL", data, offset)
            entries.append(tuple(entry))
    except wire.WireError:
        return entries, False
    return entries, True


def _decode_frame(body, table, decode_other):
    """A frame body as an event dict: the fixed layouts by the table, the others by decode_other
    (channel, payload) -> event."""
    if not body:
        return {"event": "undecodable", "reason": "empty frame", "raw": ""}
    channel, payload = body[0], body[1:]
    names = {spec[0]: name for name, spec in table.items()}
    try:
        event = _unpack_fields(table, names[channel], payload) if channel in names else decode_other(channel, payload)
    except (ValueError, struct.error) as error:
        return {"event": "undecodable", "channel": channel, "reason": str(error), "raw": body.hex()}
    event.update(event="frame", channel=channel, raw=body.hex())
    return event


def _decode_other_client_body(channel, payload):
    if channel == CHANNEL_GAME_DATA:
        (recipient,), offset = wire.unpack_from("I", payload)
        message = payload[offset:]
        return {"name": "game_message", "recipient": recipient, "letter": chr(message[0]) if message else "",
                "data": message[1:].hex()}
    if channel == CHANNEL_IGNORED:
        return {"name": "ignored"}
    return {"name": "unknown"}


def decode_client_frame(body):
    """One frame body a client sends, as an event dict (what a stand-in for the server reads)."""
    return _decode_frame(body, TO_SERVER, _decode_other_client_body)


# --- bodies from the server ----------------------------------------------------------------------

def encode_relay(sender, letter, data=b""):
    letter = letter.encode("latin-1") if isinstance(letter, str) else bytes([letter])
    return wire.typed_frame(CHANNEL_GAME_DATA, wire.pack("Q", sender) + letter + bytes(data))


def encode_player_numbers(pairs):
    return wire.typed_frame(CHANNEL_PLAYER_NUMBERS,
                            wire.pack("L", len(pairs)) + b"".join(wire.pack("LL", *pair) for pair in pairs))


def encode_replay_stream(data, head=0):
    return wire.typed_frame(CHANNEL_REPLAY_STREAM, wire.pack("I", head) + bytes(data))


def encode_server_available(available=True):
    return wire.typed_frame(CHANNEL_SERVER_AVAILABLE, wire.pack("a", available))


def decode_relay(payload):
    (sender,), offset = wire.unpack_from("Q", payload)
    message = payload[offset:]
    event = {"name": "relay", "sender": sender, "letter": chr(message[0]) if message else "",
             "data": message[1:].hex()}
    data = message[1:]
    if event["letter"] == "d":
        actions = replay_reader.decode_actions(data)
        event.update(actions, actions=actions["actions"].hex())
    elif event["letter"] == "e" and len(data) >= 6:
        word, length = struct.unpack_from("<IH", data)
        event.update(word=word, text=_text(data[6:6 + length]))
    elif event["letter"] == "g" and len(data) > 12:
        tick, _, checksum = struct.unpack_from("<III", data)
        event.update(tick=tick, checksum=checksum)
    return event


def decode_player_numbers(payload):
    (count,), offset = wire.unpack_from("L", payload)
    pairs = []
    for _ in range(count):
        pair, offset = wire.unpack_from("LL", payload, offset)
        pairs.append(pair)
    return {"name": "player_numbers", "pairs": pairs}


def _decode_other_server_body(channel, payload):
    if channel == CHANNEL_GAME_DATA:
        return decode_relay(payload)
    if channel == CHANNEL_PLAYER_NUMBERS:
        return decode_player_numbers(payload)
    if channel == CHANNEL_REPLAY_STREAM:
        (head,), offset = wire.unpack_from("I", payload)
        return {"name": "replay_stream", "head": head, "data": payload[offset:].hex()}
    return {"name": "unknown"}


def decode_server_frame(body):
    """One frame body from the server as an event dict."""
    event = _decode_frame(body, FROM_SERVER, _decode_other_server_body)
    if event.get("name") == "last_packet":
        event["reason_name"] = reason_name(event["reason"])
    elif event.get("name") == "client_event":
        event["kind_name"] = CLIENT_EVENT_KINDS.get(event["kind"], "unknown")
    return event


class GameClient:
    """`keep` (a predicate over events) limits what is recorded, for long games with many clients;
    `on_frame` is called with every decoded frame, recorded or not."""

    def __init__(self, emit=None, answer_pings=True, play_along=False, command_ticks=50, checksum=0x600DF00D,
                 keep=None, on_frame=None, greeting=None):
        self.events = EventLog(emit)
        self.greeting = greeting
        self.keep = keep
        self.on_frame = on_frame
        self.answer_pings = answer_pings
        self.play_along = play_along
        self.command_ticks = command_ticks
        self.checksum = checksum
        self.user_session_id = None
        self.player_id = None
        self.state = None
        self.orders_sent = 0
        self._command_ticks_seen = 0
        self._last_tick = None
        self._reader = None
        self._writer = None
        self._task = None
        self._closing = False

    @property
    def connected(self):
        return self._writer is not None and not self._writer.is_closing()

    async def connect(self, port, host="127.0.0.1", source=None):
        """`source`: the local address to connect from (the server keeps its limits per address)."""
        self._reader, self._writer = await asyncio.open_connection(
            host, port, local_addr=(source, 0) if source is not None else None)
        local = self._writer.get_extra_info("sockname")
        self.events.record({"event": "connected", "local": "%s:%d" % local[:2]})
        self._task = asyncio.ensure_future(self._receive())

    async def close(self):
        if self._writer is not None and not self._writer.is_closing():
            self._closing = True
            self._writer.close()
            try:
                await self._writer.wait_closed()
            except OSError:
                pass
        if self._task is not None:
            await asyncio.gather(self._task, return_exceptions=True)

    async def send_raw(self, data):
        self._writer.write(bytes(data))
        await self._writer.drain()

    async def send_connect(self, player_id, ticket=b"", version="1.0", ask=False, password=""):
        self.player_id = player_id
        await self.send_raw(encode_connect(player_id, ticket, version, ask, password))

    async def send_game_message(self, letter, data=b"", recipient=ALL_RECIPIENTS):
        await self.send_raw(encode_game_message(letter, data, recipient))

    async def send_chat(self, text, recipient=ALL_RECIPIENTS, word=0):
        await self.send_game_message("e", chat_data(text, word), recipient)

    async def send_orders(self, data):
        await self.send_game_message("d", data)

    async def send_tick_report(self, tick, checksum=None):
        await self.send_game_message("g", tick_report_data(tick, self.checksum if checksum is None else checksum))

    async def send_ping_answer(self, value):
        await self.send_raw(encode_system(PING_ANSWER, value))

    async def send_command(self, line):
        await self.send_raw(encode_command(line))

    async def request_state(self, state):
        await self.send_raw(encode_state_request(state))

    async def handle(self, command):
        """One command of the program's standard input."""
        name = command.get("cmd")
        recipient = command.get("recipient", ALL_RECIPIENTS)
        if name == "chat":
            await self.send_chat(command["text"], recipient, command.get("word", 0))
        elif name == "command":
            await self.send_command(command["line"])
        elif name == "request_state":
            await self.request_state(command["state"])
        elif name == "orders":
            await self.send_orders(bytes.fromhex(command["hex"]))
        elif name == "tick_report":
            await self.send_tick_report(command["tick"], command.get("checksum"))
        elif name == "game_message":
            await self.send_game_message(command["letter"], bytes.fromhex(command.get("hex", "")), recipient)
        elif name == "ping_answer":
            await self.send_ping_answer(command["value"])
        elif name == "raw":
            await self.send_raw(bytes.fromhex(command["hex"]))
        elif name == "close":
            await self.close()
        elif name == "dump":
            print_event({"event": "dump", "events": self.events.events})
        else:
            raise ValueError("unknown command %r" % name)

    async def _receive(self):
        ending = {"event": "closed"}
        try:
            while True:
                body = await wire.read_frame(self._reader)
                if body is None:
                    break
                event = decode_server_frame(body)
                if self.on_frame is not None:
                    self.on_frame(event)
                if self.keep is None or self.keep(event):
                    self.events.record(event)
                await self._react(event)
        except wire.FrameError as error:
            self.events.record({"event": "frame_error", "reason": str(error)})
        except (ConnectionError, OSError) as error:
            ending["error"] = type(error).__name__
        ending["by"] = "client" if self._closing else "server"
        self.events.record(ending)

    async def _react(self, event):
        name = event.get("name")
        if name == "system" and event["command"] == PING_REQUEST and self.answer_pings:
            await self.send_ping_answer(event["value"])
        elif name == "admission":
            self.user_session_id = event["user_session_id"]
            self.state = event["state"]
            if self.greeting is not None:
                await self.send_chat(self.greeting)
        elif name == "next_state":
            self.state = event["state"]
            if self.play_along:
                await self._follow_state(event["state"])
        elif name == "relay" and event["letter"] == "d" and self.play_along:
            await self._on_tick(event["tick"])

    async def _follow_state(self, state):
        if state == STATE_LOADING:
            # A new game counts its ticks from 0 again: whatever the last game's last tick was,
            # this game's ticks are all answered.
            self._last_tick = None
        if state == STATE_COMMAND:
            self._command_ticks_seen = 0
        if state in NEXT_REQUEST:
            await self.request_state(NEXT_REQUEST[state])

    async def _on_tick(self, tick):
        # Every player gets one actions packet per playing player and tick; answer the first of each tick.
        if tick == self._last_tick or self.state not in RUNNING_STATES:
            return
        self._last_tick = tick
        self.orders_sent += 1
        await self.send_orders(struct.pack("<III", self.user_session_id or 0, self.orders_sent, tick))
        await self.send_tick_report(tick)
        if self.state == STATE_COMMAND:
            self._command_ticks_seen += 1
            if self._command_ticks_seen == self.command_ticks:
                await self.request_state(STATE_DEBRIEFING)


def main():
    parser = argparse.ArgumentParser(description="Game client peer for the dedicated server's tests.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--player-id", type=int, required=True, help="64-bit client id (kind 0)")
    parser.add_argument("--ticket", default="", help="the 128-byte login ticket in hex (zero-padded)")
    parser.add_argument("--version", default="1.0")
    parser.add_argument("--password", default="")
    parser.add_argument("--ask", action="store_true")
    parser.add_argument("--no-connect-packet", action="store_true", help="connect and send nothing")
    parser.add_argument("--demo", action="store_true", help="play along through every phase")
    parser.add_argument("--command-ticks", type=int, default=50,
                        help="ticks of the command phase before asking for the debriefing")
    parser.add_argument("--greeting", help="chat line sent to every player once admitted (demo: %r)" % DEMO_GREETING)
    parser.add_argument("--print", dest="shown", help="comma-separated event and frame names to print (default: all)")
    args = parser.parse_args()
    if args.host not in ("127.0.0.1", "::1", "localhost"):
        parser.error("the peer connects on loopback only")

    emit = print_event
    if args.shown:
        shown = set(args.shown.split(","))

        def emit(event):
            if event.get("name") in shown or event.get("event") in shown:
                print_event(event)

    greeting = args.greeting if args.greeting is not None else (DEMO_GREETING if args.demo else None)
    client = GameClient(emit=emit, play_along=args.demo, command_ticks=args.command_ticks, greeting=greeting)

    async def start():
        await client.connect(args.port, args.host)
        if not args.no_connect_packet:
            await client.send_connect(args.player_id, bytes.fromhex(args.ticket), args.version, args.ask,
                                      args.password)

    async def closed():
        await client.events.wait_for({"event": "closed"}, timeout=None)

    run_command_loop(start, client.handle, closed)


if __name__ == "__main__":
    main()
