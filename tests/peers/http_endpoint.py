#!/usr/bin/env python3
"""An HTTP endpoint on loopback that records every request and answers as the test says: a chosen
status, body and headers (also as a chunked answer), holding its answers until released, or closing the
connection without answering. It stands in for the game-result endpoint and for a database whose
answers a test must control.

    python3 http_endpoint.py [--port 0] [--certfile cert.pem --keyfile key.pem]

It prints one JSON event a line on standard output, the first with its port (see peer_events.py):

    {"event": "listening", "host": "127.0.0.1", "port": 40123, "scheme": "http"}
    {"event": "request", "index": 0, "method": "POST", "path": "/recorddedicatedgame",
     "headers": [["Host", "..."], ...], "body": "text", "body_base64": "...",
     "parts": [{"name": "game", "filename": null, "content_type": "text/plain", "content": "..."}]}
    {"event": "answered", "index": 0, "status": 200}    or    {"event": "closed_without_answer", "index": 0}
    {"event": "held", "index": 0}
    {"event": "answer_lost", "index": 0}       the client had gone before its answer was written

"parts" is there for multipart bodies only. Commands come as JSON lines on standard input, each answered
once in force by {"event": "ack", "cmd": ..., "id": <the command's optional "id">} (or an "error" event),
or as the JSON body of a POST to /__endpoint__ (answered with {"ok": true}, or the recorded requests for
"dump"):

    {"cmd": "answer", "status": 500, "body": "text", "headers": {"Content-Type": "..."},
     "chunks": ["part 1", "part 2"]}      the answer from now on ("chunks": chunked transfer)
    {"cmd": "answer", "fill": 1073741824}   a chunked body of that many bytes of "x", written until the
                                          client goes (a body too large to take whole)
    {"cmd": "answer", "delay": 5}         any answer may wait that many seconds before it is written
    {"cmd": "queue", "answers": [{"status": 404}, {"close": true}, ...]}   used once each, in order,
                                          before the standing answer
    {"cmd": "close"}                      from now on close every connection without answering
    {"cmd": "hold"}                       record requests but hold their answers
    {"cmd": "release", "count": 2}        answer the oldest held requests (no count: all, and stop holding)
    {"cmd": "dump"}    {"cmd": "reset"}    {"cmd": "quit"}

Imported by a test: `endpoint = HttpEndpoint(); port = endpoint.start()`, then `endpoint.command({...})`,
`endpoint.wait_for_requests(n, timeout)` and `endpoint.requests`; `endpoint.stop()` at the end.
"""

import argparse
import base64
import email.parser
import email.policy
import http.server
import json
import os
import ssl
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from peer_events import print_event, run_command_loop  # noqa: E402

CONTROL_PATH = "/__endpoint__"
# The pieces a "fill" body is written in.
FILL_CHUNK = 64 * 1024


def parse_multipart(content_type, body):
    """The parts of a multipart body, or None when the body is not multipart."""
    if not content_type or not content_type.lower().startswith("multipart/"):
        return None
    head = b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n"
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(head + body)
    parts = []
    for part in message.iter_parts():
        content = part.get_payload(decode=True) or b""
        parts.append({
            "name": part.get_param("name", header="content-disposition"),
            "filename": part.get_filename(),
            "content_type": part.get_content_type(),
            "content": content.decode("utf-8", "replace"),
            "content_base64": base64.b64encode(content).decode("ascii"),
        })
    return parts


class HttpEndpoint:
    def __init__(self, host="127.0.0.1", port=0, certfile=None, keyfile=None, emit=None):
        self.host = host
        self.port = port
        self.certfile = certfile
        self.keyfile = keyfile
        self.requests = []
        self._emit = emit
        self._lock = threading.Condition()
        self._answer = {"status": 200, "body": ""}
        self._queue = []
        self._holding = False
        self._held = []          # threading.Event of each held request, oldest first
        self._server = None
        self._thread = None

    # -- control --

    def start(self):
        endpoint = self

        class Handler(_Handler):
            owner = endpoint

        self._server = http.server.ThreadingHTTPServer((self.host, self.port), Handler)
        self._server.daemon_threads = True
        scheme = "http"
        if self.certfile:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(self.certfile, self.keyfile)
            self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
            scheme = "https"
        self.port = self._server.server_address[1]
        # A short poll keeps stop() quick; serve_forever looks at its shutdown flag at this interval.
        self._thread = threading.Thread(target=self._server.serve_forever, args=(0.05,), daemon=True)
        self._thread.start()
        self._record({"event": "listening", "host": self.host, "port": self.port, "scheme": scheme})
        return self.port

    def stop(self):
        if self._server is None:
            return
        with self._lock:
            self._holding = False
            for held in self._held:
                held.set()
            self._held.clear()
        self._server.shutdown()
        self._server.server_close()
        self._server = None

    def command(self, command):
        """Runs one command; returns what the control path answers."""
        name = command.get("cmd")
        with self._lock:
            if name == "answer":
                self._answer = {k: v for k, v in command.items() if k != "cmd"}
            elif name == "queue":
                self._queue.extend(command.get("answers", []))
            elif name == "close":
                self._answer = {"close": True}
            elif name == "hold":
                self._holding = True
            elif name == "release":
                count = command.get("count")
                if count is None:
                    self._holding = False
                    count = len(self._held)
                for held in self._held[:count]:
                    held.set()
                del self._held[:count]
            elif name == "dump":
                return {"requests": list(self.requests)}
            elif name == "reset":
                self.requests.clear()
                self._queue.clear()
                self._answer = {"status": 200, "body": ""}
            else:
                raise ValueError("unknown command %r" % name)
        return {"ok": True}

    def wait_for_requests(self, count, timeout=10.0):
        """Waits until count requests have been recorded; raises TimeoutError otherwise."""
        with self._lock:
            if not self._lock.wait_for(lambda: len(self.requests) >= count, timeout):
                raise TimeoutError("%d of %d requests within %.1f s" % (len(self.requests), count, timeout))
            return list(self.requests[:count])

    def held_count(self):
        with self._lock:
            return len(self._held)

    # -- called by the handler threads --

    def _record(self, event):
        if self._emit is not None:
            self._emit(event)

    def _take_request(self, record):
        """Records a request; returns (its index, the answer to give, an event to wait for or None)."""
        with self._lock:
            record["index"] = len(self.requests)
            self.requests.append(record)
            answer = self._queue.pop(0) if self._queue else dict(self._answer)
            release = None
            if self._holding:
                release = threading.Event()
                self._held.append(release)
            self._lock.notify_all()
        self._record(dict(record, event="request"))
        if release is not None:
            self._record({"event": "held", "index": record["index"]})
        return record["index"], answer, release


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    owner = None

    def log_message(self, *args):
        pass

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _handle(self):
        body = self._read_body()
        if self.path.split("?")[0] == CONTROL_PATH and self.command == "POST":
            self._control(body)
            return
        record = {
            "method": self.command,
            "path": self.path,
            "headers": [[key, value] for key, value in self.headers.items()],
            "body": body.decode("utf-8", "replace"),
            "body_base64": base64.b64encode(body).decode("ascii"),
        }
        parts = parse_multipart(self.headers.get("Content-Type"), body)
        if parts is not None:
            record["parts"] = parts
        index, answer, release = self.owner._take_request(record)
        if release is not None:
            release.wait()
        if answer.get("close"):
            self.close_connection = True
            self.owner._record({"event": "closed_without_answer", "index": index})
            return
        try:
            self._answer(answer)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            # A client that gave up (a transfer cancelled while its answer was held or being written,
            # over TLS too) is no error here.
            self.close_connection = True
            self.owner._record({"event": "answer_lost", "index": index})
            return
        self.owner._record({"event": "answered", "index": index, "status": answer.get("status", 200)})

    def _answer(self, answer):
        if answer.get("delay"):
            time.sleep(answer["delay"])
        self.send_response(answer.get("status", 200))
        headers = answer.get("headers") or {}
        for key, value in headers.items():
            self.send_header(key, value)
        chunks = answer.get("chunks")
        if answer.get("fill") is not None:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            left = answer["fill"]
            while left > 0:
                size = min(left, FILL_CHUNK)
                self.wfile.write(b"%x\r\n%s\r\n" % (size, b"x" * size))
                left -= size
            self.wfile.write(b"0\r\n\r\n")
        elif chunks is not None:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for chunk in chunks:
                data = chunk.encode("utf-8")
                if data:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
                    self.wfile.flush()
            self.wfile.write(b"0\r\n\r\n")
        else:
            data = answer.get("body", "").encode("utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(data)
        self.wfile.flush()

    def _control(self, body):
        try:
            result = self.owner.command(json.loads(body.decode("utf-8") or "{}"))
            status = 200
        except ValueError as error:
            result, status = {"ok": False, "reason": str(error)}, 400
        self._answer({"status": status, "body": json.dumps(result),
                      "headers": {"Content-Type": "application/json"}})

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = do_OPTIONS = _handle


def main():
    parser = argparse.ArgumentParser(description="Recording HTTP endpoint for the dedicated server's tests.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--certfile")
    parser.add_argument("--keyfile")
    args = parser.parse_args()
    if args.host not in ("127.0.0.1", "::1", "localhost"):
        parser.error("the endpoint listens on loopback only")

    endpoint = HttpEndpoint(args.host, args.port, args.certfile, args.keyfile, print_event)

    async def start():
        endpoint.start()

    async def handle(command):
        result = endpoint.command(command)
        if command.get("cmd") == "dump":
            print_event({"event": "dump", "requests": result["requests"]})

    run_command_loop(start, handle)
    endpoint.stop()


if __name__ == "__main__":
    main()
