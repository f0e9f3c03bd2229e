#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The board under load: CLIENTS threads send the files given, SUBMISSIONS in all, to
# http://127.0.0.1:PORT[,PORT...] (each client its own port in turn), while the caller
# may kill and restart the servers. A submission that gets no answer is sent again (to
# the next port) until it is acknowledged, at most 1,200 times (a minute or more: a
# server killed on a loaded machine may take seconds to come back, ten times over). Prints one JSON object:
# the acknowledged ids with the file each one carried, and the acknowledgement latencies.
#
#   load.py PORTS CLIENTS SUBMISSIONS FILE...
import http.client
import json
import sys
import threading
import time
import urllib.error
import urllib.request

ports = [int(p) for p in sys.argv[1].split(",")]
clients = int(sys.argv[2])
total = int(sys.argv[3])
files = [open(f, "rb").read() for f in sys.argv[4:]]
acked = {}          # id -> index of the file
latencies = []      # seconds, of acknowledged submissions
refused = 0
lock = threading.Lock()
counter = iter(range(total))


def send(port, body, name):
    request = urllib.request.Request(
        f"http://127.0.0.1:{port}/api/replays?name={name}", data=body, method="POST",
        headers={"Content-Type": "application/octet-stream"})
    with urllib.request.urlopen(request, timeout=10) as answer:
        return answer.status, json.loads(answer.read())


def client(number):
    global refused
    while True:
        with lock:
            n = next(counter, None)
        if n is None:
            return
        index = n % len(files)
        for attempt in range(1200):
            port = ports[(number + attempt) % len(ports)]
            began = time.monotonic()
            try:
                status, answer = send(port, files[index], f"client{number}")
            except urllib.error.HTTPError as error:
                if error.code == 503:
                    time.sleep(0.05)
                    continue
                with lock:
                    refused += 1
                break
            except (OSError, ValueError, http.client.HTTPException):
                time.sleep(0.05)  # the server is down or died mid-answer: again, later
                continue
            if status == 202:
                with lock:
                    acked[answer["id"]] = index
                    latencies.append(time.monotonic() - began)
            break


threads = [threading.Thread(target=client, args=(i,)) for i in range(clients)]
for t in threads:
    t.start()
for t in threads:
    t.join()
latencies.sort()
print(json.dumps({"acked": acked, "refused": refused,
                  "p50_ms": 1000 * latencies[len(latencies) // 2] if latencies else None,
                  "p99_ms": 1000 * latencies[int(len(latencies) * 0.99)] if latencies else None}))
