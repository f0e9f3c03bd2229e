#!/usr/bin/env python3
"""A UDP relay on 127.0.0.1 for the network tests: datagrams to its own port go to
127.0.0.1:TARGET and the answers back to whoever sent the first one, each delayed by
DELAY_MS (plus up to JITTER_MS) and dropped with probability LOSS. It writes its port to
PORT_FILE and runs for at most SECONDS. Nothing is ever sent anywhere but 127.0.0.1.

usage: udp_relay.py TARGET DELAY_MS JITTER_MS LOSS SECONDS PORT_FILE [SEED]
"""
import heapq
import random
import select
import socket
import sys
import time

LOOPBACK = "127.0.0.1"


def main():
    target = int(sys.argv[1])
    delay = float(sys.argv[2]) / 1000
    jitter = float(sys.argv[3]) / 1000
    loss = float(sys.argv[4])
    seconds = float(sys.argv[5])
    port_file = sys.argv[6]
    rnd = random.Random(int(sys.argv[7]) if len(sys.argv) > 7 else 1)

    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind((LOOPBACK, 0))
    back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    back.bind((LOOPBACK, 0))
    with open(port_file, "w") as f:
        f.write(str(front.getsockname()[1]))

    client = None
    queue = []
    order = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        now = time.monotonic()
        wait = 0.005 if not queue else max(0.0, min(0.005, queue[0][0] - now))
        ready, _, _ = select.select([front, back], [], [], wait)
        for sock in ready:
            data, source = sock.recvfrom(65536)
            if sock is front:
                if source[0] != LOOPBACK:
                    continue
                client = source
                out, to = back, (LOOPBACK, target)
            else:
                if client is None:
                    continue
                out, to = front, client
            if rnd.random() < loss:
                continue
            due = time.monotonic() + delay + rnd.random() * jitter
            heapq.heappush(queue, (due, order, out, to, data))
            order += 1
        now = time.monotonic()
        while queue and queue[0][0] <= now:
            _, _, out, to, data = heapq.heappop(queue)
            if to[0] == LOOPBACK:
                out.sendto(data, to)


if __name__ == "__main__":
    main()
