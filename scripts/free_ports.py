"""Free ports for scripts/run-local.sh, picked together: every socket picked is held until all are
chosen, so no two services of one run are given the same port (a port picked and let go at once may
be handed out again by the next pick). Each argument is "tcp" or "tcp+udp" (free for UDP as well, as
the server's client port must be); the ports are printed one a line, in the order asked. Free on
every address, as the server binds its client port: one free on 127.0.0.1 alone may be held on
another address."""

import socket
import sys

# Picks per port: a TCP port whose UDP twin is taken is passed over (and held, so it is not picked
# again) until one is free for both.
ATTEMPTS = 100
KINDS = ("tcp", "tcp+udp")


def pick_ports(kinds):
    """The ports, one per kind, all different; OSError when the system has none left."""
    held = []
    ports = []
    try:
        for kind in kinds:
            if kind not in KINDS:
                raise ValueError("a port is %s, not %r" % (" or ".join(KINDS), kind))
            for _ in range(ATTEMPTS):
                tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                held.append(tcp)
                tcp.bind(("0.0.0.0", 0))
                port = tcp.getsockname()[1]
                if kind == "tcp+udp":
                    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                    try:
                        udp.bind(("0.0.0.0", port))
                    except OSError:
                        udp.close()
                        continue
                    held.append(udp)
                ports.append(port)
                break
            else:
                raise OSError("no port free for TCP and UDP in %d picks" % ATTEMPTS)
        return ports
    finally:
        for sock in held:
            sock.close()


def main(argv):
    try:
        ports = pick_ports(argv)
    except (OSError, ValueError) as error:
        print("free_ports: %s" % error, file=sys.stderr)
        return 1
    for port in ports:
        print(port)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
