#!/usr/bin/env python3
"""The match-making server peer: listens on loopback for the dedicated server's link, records every
message it receives, decoded, and answers as the test scripts it.

As a program it prints one JSON event a line on standard output and reads JSON commands on standard
input (see peer_events.py):

    python3 mms_peer.py [--port 0] [--demo --stats-url URL] [--on-init silent|answer|close]
                        [--answer-code 0] [--game-info JSON] [--verdict N]

    {"event": "listening", "host": "127.0.0.1", "port": 40123}
    {"event": "connected", "link": 1, "peer": "127.0.0.1:51234"}
    {"event": "message", "link": 1, "channel": 225, "name": "init", "port": 10000, "game_id": 24,
     "address": "1.2.3.4", "slave": false, "login": "ab", "key": "c", "raw": "e1102700..."}
    {"event": "message", "link": 1, "channel": 226, "name": "validate_player", "player_id": 5, "ticket": "..."}
    {"event": "message", "link": 1, "channel": 227, "name": "keep_alive", "value": 0}
    {"event": "message", "link": 1, "channel": 229, "name": "server_available", "available": true}
    {"event": "sent", "link": 1, "messages": ["init_answer"], "raw": "..."}
    {"event": "closed", "link": 1, "by": "server" | "peer"}
    {"event": "frame_error", "link": 1, "reason": "..."}        (the link is then closed)

Commands ("link" is optional everywhere: the latest open link by default):

    {"cmd": "on_init", "mode": "answer", "code": 0, "game_info": {...} or "text", "address_id": N}
          what to do with each init message from now on: "silent" (record only, the default),
          "answer" (the init answer, in its own write) or "close"
    {"cmd": "auto_verdict", "verdict": 0}       answer every validation request (null: stay silent)
    {"cmd": "answer_init", "code": 0, "game_info": ..., "address_id": N}
    {"cmd": "game_info", "game_info": ...}      channel 228
    {"cmd": "verdict", "player_id": N, "verdict": 0}
    {"cmd": "slave_update", "client_id": N, "max_players": 8}
    {"cmd": "send", "messages": [{"type": "init_answer", ...}, {"type": "slave_update", ...},
                                 {"type": "raw", "hex": "..."}]}     all of them in one write
    {"cmd": "close"}    {"cmd": "dump"}    {"cmd": "quit"}

Imported by a test: `peer = MmsPeer(); port = await peer.start()`, then the same operations as methods
(`await peer.answer_init(0, {"StatsURL": url})`, `await peer.events.wait_for({"name": "init"})`, ...).

The dedicated server sends a keep-alive (channel 227) after 120 s of silence; this peer records it and
never answers it, and it has no time-out of its own on the link.
"""

import argparse
import asyncio
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import wire  # noqa: E402
from peer_events import EventLog, print_event, run_command_loop  # noqa: E402

CHANNEL_INIT = 225
CHANNEL_VALIDATE_PLAYER = 226
CHANNEL_KEEP_ALIVE = 227
CHANNEL_GAME_INFO = 228
CHANNEL_SLAVE = 229

# The client ticket that a validation request carries is exactly this many raw bytes.
TICKET_SIZE = 128

INIT_RESULT_NAMES = {
    0: "Success", 1: "Full", 2: "Failed", 3: "IpAlreadyUsed", 4: "InvalidDedicatedLoginOrKey",
    5: "InvalidIp", 6: "Timeout", 7: "ErrorDisconnect", 8: "InternalError", 10: "InvalidGameId",
    11: "InvalidPort", 12: "InvalidInitPacketReceived",
}

ADDRESS_KIND = 4


def address_id(ip, port=0):
    """An address id (kind 4): the IPv4 address in the low word as a sockaddr_in holds it, the port in
    the high word's low 16 bits."""
    return ADDRESS_KIND << 56 | (port & 0xFFFF) << 32 | wire.address_to_wire_u32(ip)


# --- messages from the dedicated server ----------------------------------------------------------

def encode_init_message(port, game_id, address, slave, login, key):
    """The init message as the server frames it: port and address as their network-order memory
    values packed big-endian, so the port's low byte and the address's last octet come first."""
    return wire.typed_frame(CHANNEL_INIT, wire.pack(
        "HLLass", wire.swap16(port), game_id, wire.address_to_wire_u32(address), slave, login, key))


def decode_server_message(body):
    """One frame body from the dedicated server as an event dict."""
    if not body:
        return {"event": "undecodable", "reason": "empty frame", "raw": ""}
    channel, payload = body[0], body[1:]
    event = {"event": "message", "channel": channel, "raw": body.hex()}
    try:
        if channel == CHANNEL_INIT:
            values, end = wire.unpack_from("HLLass", payload)
            port, game_id, address, slave, login, key = values
            event.update(name="init", port=wire.swap16(port), game_id=game_id,
                         address=wire.wire_u32_to_address(address), slave=slave,
                         login=login.decode("utf-8", "replace"), key=key.decode("utf-8", "replace"))
        elif channel == CHANNEL_VALIDATE_PLAYER:
            values, end = wire.unpack_from("Q#v", payload, 0, TICKET_SIZE)
            event.update(name="validate_player", player_id=values[0], ticket=values[1].hex())
        elif channel == CHANNEL_KEEP_ALIVE:
            values, end = wire.unpack_from("B", payload)
            event.update(name="keep_alive", value=values[0])
        elif channel == CHANNEL_SLAVE:
            values, end = wire.unpack_from("a", payload)
            event.update(name="server_available", available=values[0])
        else:
            event.update(name="unknown")
            return event
    except wire.WireError as error:
        event.update(event="undecodable", reason=str(error))
        return event
    if end < len(payload):
        event["extra"] = payload[end:].hex()
    return event


# --- messages to the dedicated server ------------------------------------------------------------

def game_info_text(game_info):
    """Game information as sent: a dict becomes compact JSON, a string goes as it is (even invalid)."""
    if isinstance(game_info, (dict, list)):
        return json.dumps(game_info, separators=(",", ":"))
    return game_info if game_info is not None else ""


def encode_init_answer(code, game_info, address):
    return wire.typed_frame(CHANNEL_INIT, wire.pack("BsQ", code, game_info_text(game_info), address))


def encode_verdict(player_id, verdict):
    return wire.typed_frame(CHANNEL_VALIDATE_PLAYER, wire.pack("QB", player_id, verdict))


def encode_game_info(game_info):
    return wire.typed_frame(CHANNEL_GAME_INFO, wire.pack("s", game_info_text(game_info)))


def encode_slave_update(client_id, max_players):
    return wire.typed_frame(CHANNEL_SLAVE, wire.pack("QL", client_id, max_players))


def decode_peer_message(body):
    """A frame body this peer sends, decoded back (tests use it to check the peer's own bytes)."""
    channel, payload = body[0], body[1:]
    if channel == CHANNEL_INIT:
        code, info, address = wire.unpack("BsQ", payload)
        return {"name": "init_answer", "code": code, "game_info": info.decode("utf-8"), "address_id": address}
    if channel == CHANNEL_VALIDATE_PLAYER:
        player_id, verdict = wire.unpack("QB", payload)
        return {"name": "verdict", "player_id": player_id, "verdict": verdict}
    if channel == CHANNEL_GAME_INFO:
        return {"name": "game_info", "game_info": wire.unpack("s", payload)[0].decode("utf-8")}
    if channel == CHANNEL_SLAVE:
        client_id, max_players = wire.unpack("QL", payload)
        return {"name": "slave_update", "client_id": client_id, "max_players": max_players}
    return {"name": "unknown", "channel": channel}


class Link:
    def __init__(self, number, reader, writer):
        self.number = number
        self.reader = reader
        self.writer = writer
        self.init = None  # the last init message received on this link
        self.open = True


class MmsPeer:
    def __init__(self, host="127.0.0.1", port=0, emit=None):
        self.host = host
        self.port = port
        self.events = EventLog(emit)
        self.links = []
        self.on_init = {"mode": "silent"}
        self.verdict = None
        self._server = None

    async def start(self):
        self._server = await asyncio.start_server(self._serve, self.host, self.port)
        self.port = self._server.sockets[0].getsockname()[1]
        self.events.record({"event": "listening", "host": self.host, "port": self.port})
        return self.port

    async def stop(self):
        if self._server is not None:
            self._server.close()
            await self._server.wait_closed()
            self._server = None
        for link in self.links:
            await self._close(link, "peer")

    # -- scripting --

    def set_on_init(self, mode, code=0, game_info=None, address_id=None):
        if mode not in ("silent", "answer", "close"):
            raise ValueError("on_init mode must be silent, answer or close")
        self.on_init = {"mode": mode, "code": code, "game_info": game_info, "address_id": address_id}

    def set_auto_verdict(self, verdict):
        self.verdict = verdict

    def link(self, number=None):
        for link in reversed(self.links):
            if (number is None and link.open) or link.number == number:
                return link
        raise LookupError("no open link" if number is None else "no link %s" % number)

    def message_bytes(self, message, link):
        kind = message.get("type")
        if kind == "init_answer":
            address = message.get("address_id")
            if address is None:
                address = self._default_address(link)
            return encode_init_answer(message.get("code", 0), message.get("game_info"), address)
        if kind == "game_info":
            return encode_game_info(message.get("game_info"))
        if kind == "verdict":
            return encode_verdict(message["player_id"], message.get("verdict", 0))
        if kind == "slave_update":
            return encode_slave_update(message["client_id"], message.get("max_players", 0))
        if kind == "raw":
            return bytes.fromhex(message["hex"])
        raise ValueError("unknown message type %r" % kind)

    async def send(self, messages, link=None):
        """Sends the messages in one write on the link."""
        link = link if isinstance(link, Link) else self.link(link)
        data = b"".join(self.message_bytes(message, link) for message in messages)
        link.writer.write(data)
        await link.writer.drain()
        self.events.record({"event": "sent", "link": link.number,
                            "messages": [message.get("type") for message in messages], "raw": data.hex()})

    async def answer_init(self, code=0, game_info=None, address_id=None, link=None):
        await self.send([{"type": "init_answer", "code": code, "game_info": game_info,
                          "address_id": address_id}], link)

    async def send_game_info(self, game_info, link=None):
        await self.send([{"type": "game_info", "game_info": game_info}], link)

    async def send_verdict(self, player_id, verdict, link=None):
        await self.send([{"type": "verdict", "player_id": player_id, "verdict": verdict}], link)

    async def send_slave_update(self, client_id, max_players, link=None):
        await self.send([{"type": "slave_update", "client_id": client_id, "max_players": max_players}], link)

    async def close_link(self, link=None):
        await self._close(self.link(link), "peer")

    async def handle(self, command):
        """One command of the program's standard input."""
        name, link = command.get("cmd"), command.get("link")
        if name == "on_init":
            self.set_on_init(command.get("mode", "answer"), command.get("code", 0), command.get("game_info"),
                             command.get("address_id"))
        elif name == "auto_verdict":
            self.set_auto_verdict(command.get("verdict"))
        elif name == "answer_init":
            await self.answer_init(command.get("code", 0), command.get("game_info"), command.get("address_id"), link)
        elif name == "game_info":
            await self.send_game_info(command.get("game_info"), link)
        elif name == "verdict":
            await self.send_verdict(command["player_id"], command.get("verdict", 0), link)
        elif name == "slave_update":
            await self.send_slave_update(command["client_id"], command.get("max_players", 0), link)
        elif name == "send":
            await self.send(command["messages"], link)
        elif name == "close":
            await self.close_link(link)
        elif name == "dump":
            print_event({"event": "dump", "events": self.events.events})
        else:
            raise ValueError("unknown command %r" % name)

    # -- the link --

    def _default_address(self, link):
        ip = link.writer.get_extra_info("peername")[0]
        port = link.init["port"] if link.init else 0
        return address_id(ip if ":" not in ip else "127.0.0.1", port)

    async def _close(self, link, by):
        if not link.open:
            return
        link.open = False
        link.writer.close()
        try:
            await link.writer.wait_closed()
        except OSError:
            pass
        self.events.record({"event": "closed", "link": link.number, "by": by})

    async def _serve(self, reader, writer):
        link = Link(len(self.links) + 1, reader, writer)
        self.links.append(link)
        peer = writer.get_extra_info("peername")
        self.events.record({"event": "connected", "link": link.number, "peer": "%s:%d" % peer[:2]})
        try:
            while link.open:
                body = await wire.read_frame(reader)
                if body is None:
                    break
                event = decode_server_message(body)
                event["link"] = link.number
                self.events.record(event)
                await self._react(link, event)
        except wire.FrameError as error:
            self.events.record({"event": "frame_error", "link": link.number, "reason": str(error)})
            await self._close(link, "peer")
        except (ConnectionError, OSError):
            pass
        if link.open:
            link.open = False
            writer.close()
            self.events.record({"event": "closed", "link": link.number, "by": "server"})

    async def _react(self, link, event):
        name = event.get("name")
        if name == "init":
            link.init = event
            mode = self.on_init["mode"]
            if mode == "answer":
                await self.answer_init(self.on_init["code"], self.on_init["game_info"],
                                       self.on_init["address_id"], link)
            elif mode == "close":
                await self._close(link, "peer")
        elif name == "validate_player" and self.verdict is not None:
            await self.send_verdict(event["player_id"], self.verdict, link)


def main():
    parser = argparse.ArgumentParser(description="Match-making server peer for the dedicated server's tests.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--demo", action="store_true",
                        help="accept the server (Success with the game information) and validate every client")
    parser.add_argument("--stats-url", help="StatsURL of the game information in demo mode")
    parser.add_argument("--on-init", choices=("silent", "answer", "close"))
    parser.add_argument("--answer-code", type=int, default=0)
    parser.add_argument("--game-info", help="game information JSON text sent with the init answer")
    parser.add_argument("--verdict", type=int, help="verdict for every validation request")
    args = parser.parse_args()
    if args.host not in ("127.0.0.1", "::1", "localhost"):
        parser.error("the peer listens on loopback only")

    peer = MmsPeer(args.host, args.port, emit=print_event)
    game_info = args.game_info
    on_init, verdict = args.on_init, args.verdict
    if args.demo:
        if game_info is None:
            game_info = {"StatsURL": args.stats_url or "http://127.0.0.1:5984/"}
        on_init = on_init or "answer"
        verdict = 0 if verdict is None else verdict
    if on_init:
        peer.set_on_init(on_init, args.answer_code, game_info)
    peer.set_auto_verdict(verdict)
    run_command_loop(peer.start, peer.handle)


if __name__ == "__main__":
    main()
