"""The recording HTTP endpoint, driven with urllib and http.client as a server's transfers would reach it."""

import http.client
import json
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

import http_endpoint


def multipart(fields, boundary="XyZb0und"):
    lines = []
    for name, value in fields:
        lines += ["--" + boundary, 'Content-Disposition: form-data; name="%s"' % name, "", value]
    lines += ["--" + boundary + "--", ""]
    return "\r\n".join(lines).encode("utf-8"), "multipart/form-data; boundary=" + boundary


class EndpointTest(unittest.TestCase):
    def setUp(self):
        self.endpoint = http_endpoint.HttpEndpoint()
        self.port = self.endpoint.start()
        self.addCleanup(self.endpoint.stop)
        self.url = "http://127.0.0.1:%d" % self.port

    def fetch(self, path="/x", data=None, method=None, headers=None):
        """(status, body) of one request; (None, error) when the connection closed without an answer."""
        request = urllib.request.Request(self.url + path, data=data, method=method, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=10) as answer:
                return answer.status, answer.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode()
        except (http.client.RemoteDisconnected, ConnectionResetError) as error:
            return None, type(error).__name__

    def test_multipart_post_is_recorded_with_its_parts(self):
        document = '{\n  "invalid_users": [],\n\n  ]\n}\n'
        body, content_type = multipart([("game", document), ("login", "ab"), ("password", "c")])
        self.assertEqual(self.fetch("/recorddedicatedgame", body, headers={"Content-Type": content_type}), (200, ""))
        (request,) = self.endpoint.requests
        self.assertEqual((request["method"], request["path"]), ("POST", "/recorddedicatedgame"))
        self.assertEqual(dict(request["headers"])["Content-Length"], str(len(body)))
        self.assertEqual([(p["name"], p["content"]) for p in request["parts"]],
                         [("game", document), ("login", "ab"), ("password", "c")])

    def test_chosen_answers_in_order(self):
        self.endpoint.command({"cmd": "answer", "status": 500, "body": "boom"})
        self.endpoint.command({"cmd": "queue", "answers": [{"status": 404, "body": "{}"}, {"close": True}]})
        results = [self.fetch() for _ in range(3)]
        self.assertEqual(results[:2], [(404, "{}"), (None, "RemoteDisconnected")])
        self.assertEqual(results[2], (500, "boom"))
        self.endpoint.command({"cmd": "close"})
        self.assertEqual(self.fetch()[0], None)
        self.assertEqual(len(self.endpoint.requests), 4)

    def test_held_answers_wait_for_their_release(self):
        self.endpoint.command({"cmd": "hold"})
        results = {}

        def get(number):
            results[number] = self.fetch("/held%d" % number)

        threads = [threading.Thread(target=get, args=(n,)) for n in range(2)]
        for thread in threads:
            thread.start()
        self.endpoint.wait_for_requests(2)
        self.assertEqual((self.endpoint.held_count(), results), (2, {}))
        first = self.endpoint.requests[0]["path"]
        self.endpoint.command({"cmd": "release", "count": 1})
        threads[int(first[-1])].join(10)
        self.assertEqual(list(results.values()), [(200, "")])
        self.endpoint.command({"cmd": "release"})
        for thread in threads:
            thread.join(10)
        self.assertEqual(len(results), 2)
        self.assertEqual(self.fetch(), (200, ""))

    def test_held_answer_to_a_client_that_went_away_is_lost_quietly(self):
        events = []
        ended = threading.Event()

        def record(event):
            events.append(event)
            if event["event"] in ("answer_lost", "answered"):
                ended.set()

        endpoint = http_endpoint.HttpEndpoint(emit=record)
        port = endpoint.start()
        self.addCleanup(endpoint.stop)
        endpoint.command({"cmd": "hold"})
        client = socket.create_connection(("127.0.0.1", port), timeout=10)
        client.sendall(b"GET /gone HTTP/1.1\r\nHost: x\r\n\r\n")
        endpoint.wait_for_requests(1)
        # Closed with a reset, as a cancelled transfer may end: the answer cannot be written.
        client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        client.close()
        endpoint.command({"cmd": "release"})
        self.assertEqual(endpoint.held_count(), 0)
        self.assertTrue(ended.wait(10))
        self.assertEqual([e["event"] for e in events], ["listening", "request", "held", "answer_lost"])

    def test_chunked_answer_and_chunked_upload(self):
        self.endpoint.command({"cmd": "answer", "chunks": ['{"a":', '"b"', "}"],
                               "headers": {"Content-Type": "application/json"}})
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        self.addCleanup(connection.close)
        connection.request("PUT", "/db/doc", body=iter([b"par", b"ts"]), encode_chunked=True)
        answer = connection.getresponse()
        self.assertEqual((answer.getheader("Transfer-Encoding"), answer.read()), ("chunked", b'{"a":"b"}'))
        self.assertEqual(self.endpoint.requests[0]["body"], "parts")

    def test_filled_and_delayed_answers(self):
        size = 3 * http_endpoint.FILL_CHUNK + 5
        self.endpoint.command({"cmd": "answer", "fill": size, "delay": 0.3})
        started = time.monotonic()
        status, body = self.fetch()
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.assertEqual((status, len(body), set(body)), (200, size, {"x"}))

    def test_control_path_is_not_recorded(self):
        status, body = self.fetch(http_endpoint.CONTROL_PATH, json.dumps({"cmd": "answer", "status": 201}).encode())
        self.assertEqual((status, json.loads(body)), (200, {"ok": True}))
        self.assertEqual(self.fetch()[0], 201)
        status, body = self.fetch(http_endpoint.CONTROL_PATH, b'{"cmd": "dump"}')
        self.assertEqual([r["path"] for r in json.loads(body)["requests"]], ["/x"])
        self.assertEqual(self.fetch(http_endpoint.CONTROL_PATH, b'{"cmd": "nonsense"}')[0], 400)


class ProgramTest(unittest.TestCase):
    def run_program(self, *args):
        program = subprocess.Popen([sys.executable, "-u", "http_endpoint.py"] + list(args),
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(program.wait, 10)
        self.addCleanup(program.kill)
        self.addCleanup(program.stdout.close)
        self.addCleanup(program.stdin.close)
        return program, json.loads(program.stdout.readline())

    def test_commands_on_standard_input(self):
        program, listening = self.run_program()
        program.stdin.write('{"cmd": "answer", "status": 202, "body": "fine", "id": 1}\n')
        program.stdin.write('{"cmd": "dump"}\n{"cmd": "nonsense", "id": 3}\n')
        program.stdin.flush()
        events = [json.loads(program.stdout.readline()) for _ in range(4)]
        self.assertEqual(events[:3], [{"event": "ack", "cmd": "answer", "id": 1}, {"event": "dump", "requests": []},
                                      {"event": "ack", "cmd": "dump", "id": None}])
        self.assertEqual((events[3]["event"], events[3]["id"]), ("error", 3))
        self.assertIn("unknown command 'nonsense'", events[3]["reason"])
        with urllib.request.urlopen("http://127.0.0.1:%d/a?b=1" % listening["port"], timeout=10) as answer:
            self.assertEqual((answer.status, answer.read()), (202, b"fine"))
        events = [json.loads(program.stdout.readline()) for _ in range(2)]
        self.assertEqual([(e["event"], e.get("path"), e.get("status")) for e in events],
                         [("request", "/a?b=1", None), ("answered", None, 202)])
        program.stdin.write('{"cmd": "quit"}\n')
        program.stdin.flush()
        self.assertEqual(program.wait(10), 0)

    @unittest.skipUnless(shutil.which("openssl"), "openssl is not installed")
    def test_https_with_a_generated_certificate(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                        "-keyout", folder + "/key.pem", "-out", folder + "/cert.pem"], check=True, capture_output=True)
        program, listening = self.run_program("--certfile", folder + "/cert.pem", "--keyfile", folder + "/key.pem")
        self.assertEqual(listening["scheme"], "https")
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        with urllib.request.urlopen("https://127.0.0.1:%d/secure" % listening["port"], context=context,
                                    timeout=10) as answer:
            self.assertEqual(answer.status, 200)
        self.assertEqual(json.loads(program.stdout.readline())["path"], "/secure")


if __name__ == "__main__":
    unittest.main()
