#!/usr/bin/python3
"""A soak of `vantrel serve`: for a while (default 10 minutes) several clients on 127.0.0.1 send it a
bounded mix of good and bad requests (the page's every kind, bodies malformed or too large, other hosts
and no secret, previews given up and superseded, clients that send slowly), while one more client edits
a large scene (128 KiB) as fast as a person drags, its previews superseding each other every 5 ms, and
the server's resident memory, threads, open files and preview processes are reported at the start and
at the end. None of them may grow: the script ends with status 1 when one does (memory by more than a
tenth), or when the server ends.

    scripts/soak-serve.py [--vantrel build/release/bin/vantrel] [--minutes 10] [--clients 6]

Not a test of CI: it takes as long as it is told. It needs Debian's python3 and nothing else.
"""

import argparse
import http.client
import json
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "examples")
SCENES = ["hex-lattice-plane.json", "vector-to-color.json", "leapfrog-fractal.json", "globe-cells.json"]


def measure(pid, quiet):
    """Resident memory in KiB, threads, open files and child processes (previews') of the process, with
    the clients paused (``quiet`` set) for longer than an idle connection is kept (10 s), so that no
    connection or process of a request in flight is counted."""
    quiet.set()
    time.sleep(12)
    measured = look(pid)
    quiet.clear()
    return measured


def look(pid):
    status = open(f"/proc/{pid}/status").read()
    rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
    threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
    files = len(os.listdir(f"/proc/{pid}/fd"))
    children = set()
    for task in os.listdir(f"/proc/{pid}/task"):
        children.update(open(f"/proc/{pid}/task/{task}/children").read().split())
    return {"rss_kib": rss, "threads": threads, "open_files": files, "workers": len(children)}


class Client(threading.Thread):
    def __init__(self, port, token, scenes, stop, number, quiet):
        super().__init__(daemon=True)
        self.port, self.token, self.scenes, self.stop, self.quiet = port, token, scenes, stop, quiet
        self.random = random.Random(number)
        self.name = f"client{number}"
        self.counts = {}

    def call(self, method, path, body=None, headers=None, timeout=30):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        sent = {"X-Vantrel-Token": self.token, "Content-Type": "application/json"}
        sent.update(headers or {})
        try:
            connection.request(method, path, body=body, headers=sent)
            answer = connection.getresponse()
            answer.read()
            return answer.status
        except (OSError, http.client.HTTPException):
            return -1
        finally:
            connection.close()

    def picture(self, scene, width, height, job="preview"):
        return json.dumps({"scene": scene, "node": None, "type": "color", "width": width, "height": height,
                           "region": None, "client": self.name, "job": job})

    def give_up(self, body):
        """A render whose client goes away before its answer."""
        with socket.create_connection(("127.0.0.1", self.port)) as connection:
            request = (f"POST /api/render HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n"
                       f"X-Vantrel-Token: {self.token}\r\nContent-Type: application/json\r\n"
                       f"Content-Length: {len(body)}\r\n\r\n{body}")
            connection.sendall(request.encode())
            time.sleep(self.random.uniform(0.0, 0.3))
        return 0

    def slow(self):
        """A client that sends its headers a byte at a time, then goes."""
        with socket.create_connection(("127.0.0.1", self.port)) as connection:
            for byte in b"GET /api/types HTTP/1.1\r\nHost: 127.0.0.1\r\n":
                if self.stop.is_set():
                    break
                connection.sendall(bytes([byte]))
                time.sleep(0.2)
        return 0

    def run(self):
        kinds = [
            ("types", 4, lambda s: self.call("GET", "/api/types")),
            ("files", 4, lambda s: self.call("GET", "/api/files")),
            ("scene", 3, lambda s: self.call("GET", "/api/scene")),
            ("check", 6, lambda s: self.call("POST", "/api/check", json.dumps({"scene": s}))),
            ("render", 6, lambda s: self.call("POST", "/api/render", self.picture(s, 64, 32))),
            ("thumbnail", 4, lambda s: self.call("POST", "/api/render", self.picture(s, 48, 24, "thumb:x"))),
            ("value", 4, lambda s: self.call("POST", "/api/value", json.dumps(
                {"scene": s, "node": None, "type": "double", "width": 8, "height": 4, "region": None,
                 "x": 3, "y": 1, "client": self.name}))),
            ("save", 2, lambda s: self.call("POST", "/api/save", json.dumps(
                {"scene": s, "file": f"soak-{self.name}.json", "force": True}))),
            ("malformed", 2, lambda s: self.call("POST", "/api/check", "{\"scene\": ")),
            ("too-large", 1, lambda s: self.call("POST", "/api/check", " " * (5 << 20))),
            ("no-secret", 2, lambda s: self.call("GET", "/api/files", headers={"X-Vantrel-Token": "x"})),
            ("other-host", 2, lambda s: self.call("GET", "/api/files", headers={"Host": "evil.example"})),
            ("given-up", 2, lambda s: self.give_up(self.picture(s, 256, 128))),
            ("slow", 1, lambda s: self.slow()),
        ]
        weights = [weight for _, weight, _ in kinds]
        while not self.stop.is_set():
            if self.quiet.is_set():
                time.sleep(0.1)
                continue
            name, _, act = self.random.choices(kinds, weights)[0]
            status = act(self.random.choice(self.scenes))
            self.counts.setdefault(name, {}).setdefault(status, 0)
            self.counts[name][status] += 1
            time.sleep(self.random.uniform(0.0, 0.05))


class Superseder(threading.Thread):
    """Previews of a 128 KiB scene for one tab's preview, each sent 5 ms after the one before on a
    connection of its own, so that each supersedes the last while its request may still be being written
    to its process."""

    def __init__(self, port, token, scene, stop, quiet):
        super().__init__(daemon=True)
        self.port, self.token, self.stop, self.quiet = port, token, stop, quiet
        large = dict(scene, description="x" * (128 * 1024))
        self.body = json.dumps({"scene": large, "node": None, "type": "color", "width": 64, "height": 32,
                                "region": None, "client": "superseder", "job": "preview"})
        self.counts = {}
        self.lock = threading.Lock()

    def send(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            connection.request("POST", "/api/render", body=self.body,
                               headers={"X-Vantrel-Token": self.token, "Content-Type": "application/json"})
            answer = connection.getresponse()
            answer.read()
            status = answer.status
        except (OSError, http.client.HTTPException):
            status = -1
        finally:
            connection.close()
        with self.lock:
            self.counts[status] = self.counts.get(status, 0) + 1

    def run(self):
        while not self.stop.is_set():
            if not self.quiet.is_set():
                threading.Thread(target=self.send, daemon=True).start()
            time.sleep(0.005)


def main():
    arguments = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    arguments.add_argument("--vantrel", default=os.path.join(HERE, "..", "build", "release", "bin", "vantrel"))
    arguments.add_argument("--minutes", type=float, default=10.0)
    arguments.add_argument("--clients", type=int, default=6)
    options = arguments.parse_args()

    folder = tempfile.mkdtemp(prefix="vantrel-soak-")
    for name in SCENES:
        shutil.copy(os.path.join(EXAMPLES, name), folder)
    scenes = [json.load(open(os.path.join(folder, name))) for name in SCENES]
    server = subprocess.Popen([os.path.abspath(options.vantrel), "serve", SCENES[0], "--port", "0"],
                              cwd=folder, stdout=subprocess.PIPE, text=True)
    try:
        line = server.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+)", line)
        if not match:
            sys.exit(f"vantrel serve printed {line!r}")
        port, token = int(match.group(1)), match.group(2)
        stop, quiet = threading.Event(), threading.Event()
        clients = [Client(port, token, scenes, stop, number, quiet) for number in range(options.clients)]
        superseder = Superseder(port, token, scenes[0], stop, quiet)
        for client in clients + [superseder]:
            client.start()
        time.sleep(min(30.0, options.minutes * 6))  # warmed up: caches and pools at their size
        start = measure(server.pid, quiet)
        print(f"start: {start}", flush=True)
        time.sleep(options.minutes * 60)
        end = measure(server.pid, quiet)
        stop.set()
        for client in clients + [superseder]:
            client.join()
        print(f"end:   {end}")
        totals = {}
        for client in clients:
            for name, statuses in client.counts.items():
                for status, count in statuses.items():
                    totals.setdefault(name, {}).setdefault(status, 0)
                    totals[name][status] += count
        totals["superseded"] = superseder.counts
        for name in sorted(totals):
            print(f"  {name:11} {dict(sorted(totals[name].items()))}")
        grew = [key for key in ("threads", "open_files", "workers") if end[key] > start[key]]
        if end["rss_kib"] > start["rss_kib"] * 1.1:
            grew.append("rss_kib")
        if server.poll() is not None:
            sys.exit("the server ended during the soak")
        if grew:
            sys.exit(f"grew: {', '.join(grew)}")
        print("nothing grew")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
