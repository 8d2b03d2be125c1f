#!/usr/bin/env python3
"""check.html in a real browser: headless Chromium opens the page from disk,
is given each folder as an owner would choose or drop it, and the report the
page shows must be byte for byte what `brimvale-sim check` prints on the same
folder (the folder's path line aside), within 2 s, without any request
leaving the page.

usage: check_page_test.py BRIMVALE-SIM CHECK.HTML EXAMPLES-DIR

BRIMVALE_CHROMIUM names the browser (default: chromium on PATH). Without it,
or without the page, the test skips (exit 77), unless CI is set.
The browser is driven through its DevTools protocol over a WebSocket on
loopback, spoken here with the standard library alone.
"""
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77


def skip(reason):
    if os.environ.get("CI") == "true":
        print("FAILED: %s (a skip is a failure under CI)" % reason)
        sys.exit(1)
    print("SKIPPED: %s" % reason)
    sys.exit(SKIP)


# ---- a WebSocket client, enough for the DevTools protocol ----
class WebSocket:
    def __init__(self, url, timeout):
        assert url.startswith("ws://")
        host_port, path = url[5:].split("/", 1)
        host, port = host_port.rsplit(":", 1)
        self.sock = socket.create_connection((host, int(port)), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        request = ("GET /%s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (path, host_port, key))
        self.sock.sendall(request.encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise IOError("the browser closed the connection")
            answer += chunk
        head, self.rest = answer.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise IOError("no WebSocket: %r" % head)

    def send(self, text):
        data = text.encode()
        mask = os.urandom(4)
        n = len(data)
        header = bytes([0x81])
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _read(self, n):
        while len(self.rest) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise IOError("the browser closed the connection")
            self.rest += chunk
        data, self.rest = self.rest[:n], self.rest[n:]
        return data

    def receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            n = second & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(n)
            opcode = first & 0x0F
            if opcode == 8:
                raise IOError("the browser closed the WebSocket")
            if opcode in (0, 1, 2):
                message += payload
                if first & 0x80:
                    return message.decode()


class Browser:
    """Headless Chromium with one page, driven over DevTools."""

    def __init__(self, chromium):
        # Directly under /tmp: the browser's socket paths must stay short.
        self.profile = tempfile.mkdtemp(prefix="brimvale-check-page-", dir="/tmp")
        self.process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + self.profile, "--remote-debugging-address=127.0.0.1",
             "--remote-debugging-port=0", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while not os.path.exists(port_file) or not open(port_file).read().strip():
            if time.time() > deadline or self.process.poll() is not None:
                raise IOError("Chromium did not start")
            time.sleep(0.05)
        port = int(open(port_file).read().split()[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=10))
        page = [t for t in targets if t["type"] == "page"][0]
        self.ws = WebSocket(page["webSocketDebuggerUrl"], timeout=30)
        self.next_id = 0
        self.events = []

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise IOError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def wait_for(self, expression, seconds):
        deadline = time.time() + seconds
        while time.time() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            time.sleep(0.01)
        return None

    def close(self):
        try:
            os.killpg(self.process.pid, 9)
        except OSError:
            pass
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


# ---- the folders: the examples and the hostile ones of the check's tests ----
K1 = ("NAS IP-Address=192.168.178.20\r\nNAS MAC-Address=00:11:32:aa:bb:cc\r\nLocal Folder Name=DiskStation\r\n"
      "Remotefolder MediaFiles=/volume1/video\r\nMountoptions=-onolock\r\n")


def server(address, name, media="/share/video"):
    return "NAS IP-Address=%s\r\nLocal Folder Name=%s\r\nRemotefolder MediaFiles=%s\r\n" % (address, name, media)


def hostile_folders():
    """name -> {file name: bytes}; a file of None is made sparse and huge, one
    of a dict is a folder with those files."""
    b = lambda text: text.encode("latin-1")
    many = {"Brimvale.ini": b(K1), "2.ini": b(server("10.0.0.2", "Two"))}
    for n in range(400):
        many["photo%03d.jpg" % n] = b"\xff\xd8\xff\xe0 not read"
    return {
        "unsafe-values": {
            "Brimvale.ini": b("NAS MAC-Address=aa:bb|reboot\r\n" + K1 + "Ping Wait=0\r\nPing Gap=4 5\r\n"),
            "2.ini": b(server("10.0.0.2 -c 9", "T`id`", "/a\"b") + "Mountoptions=-onolock;reboot\r\n"),
            "3.ini": b(server("-oremount,ro", "a/b") + "NAS MAC-Address=b827eb123456\r\n"),
            "4.ini": b(server("192.168.1.1O", "Pi ") + "NAS Recording=1\r\n"),
        },
        "too-long": {
            "Brimvale.ini": b("NAS IP-Address=fritz-nas.home.example.org\r\nLocal Folder Name=A\r\nNAS Recording=1\r\n"),
            "2.ini": b(server("10.0.0.2", "Two", "/" + "v" * 250) + "Mountoptions=-o" + "o" * 250),
        },
        "missing-main-file": {"2.ini": b(server("10.0.0.2", "Two")), "brimvale.ini": b(K1)},
        "gaps-and-names": {
            "Brimvale.ini": b(K1), "2.ini": b(server("10.0.0.2", "DiskStation")), "4.ini": b(server("a", "F")),
            "10.ini": b(server("10.0.0.10", "Ten")), "1.ini": b(server("10.0.0.1", "One")),
            "2.INI": b(server("10.0.0.2", "Two")), "notes.txt": b"my notes",
        },
        "keys-and-lines": {
            "Brimvale.ini": b("; Automount=0 is off\r\nOld Ping Gap=5\r\n" + K1 +
                              "Mount Delay=10\r\nLogfile 1\r\nNAS IP-Address=10.9.9.9\r\n Ping Wait=5\r\n"
                              "Ping Gap= 45\r\n"),
        },
        "mark-latin1-zero": {
            "Brimvale.ini": b"\xef\xbb\xbf" + b(server("192.168.178.20", "M\xe4use")) +
                            b"Ping Gap=60\x00\r\nPing Wait=5\r\n",
        },
        # A film saved under a settings file's name, and one byte too many.
        "huge-files": {"Brimvale.ini": b(K1), "2.ini": None, "3.ini": b"#" * (64 * 1024 + 1)},
        "exactly-64-KiB": {"Brimvale.ini": b(K1) + b"#" * (64 * 1024 - len(K1) - 2) + b"\r\n"},
        "binary": {"Brimvale.ini": bytes(range(256)) * 32, "2.ini": bytes((n * 37 + 11) % 256 for n in range(3000))},
        "utf-16": {"Brimvale.ini": b"\xff\xfe" + K1.encode("utf-16-le"), "2.ini": server("10.0.0.2", "Two").encode("utf-16")},
        "hundreds-of-files": many,
        # Chosen as a folder: what lies in its folders is not the folder's own.
        "folder-named-2.ini": {"Brimvale.ini": b(K1), "2.ini": {"2.ini": b(server("10.0.0.2", "Two"))},
                               "old": {"Brimvale.ini": b(K1)}},
    }


# Dropped on the page rather than chosen.
DROPPED = {"keys-and-lines", "utf-16"}


def make_folder(root, name, files):
    folder = os.path.join(root, name)
    os.makedirs(folder)
    for file_name, data in files.items():
        path = os.path.join(folder, file_name)
        if isinstance(data, dict):
            make_folder(folder, file_name, data)
            continue
        with open(path, "wb") as f:
            if data is None:
                f.truncate(50 * 1024 * 1024)  # 50 MB of zero bytes
            else:
                f.write(data)
    return folder


def without_path_line(text):
    lines = text.split("\n", 1)
    if lines[0].startswith("Settings folder "):
        return "Settings folder ...\n" + (lines[1] if len(lines) > 1 else "")
    return text


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    sim, page, examples = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
    chromium = os.environ.get("BRIMVALE_CHROMIUM") or shutil.which("chromium")
    if not chromium:
        skip("no Chromium (set BRIMVALE_CHROMIUM or install chromium)")
    if not os.path.exists(page):
        skip("%s is not built (scripts/web-check.sh; needs Emscripten)" % page)
    size = os.path.getsize(page)
    failures = []
    if size >= 2 * 1024 * 1024:
        failures.append("the page is %d bytes, not under 2 MB" % size)

    sandbox = tempfile.mkdtemp(prefix="check-page-", dir=os.environ.get("TMPDIR"))
    folders = [os.path.join(examples, "settings"), os.path.join(examples, "settings-broken")]
    for name, files in hostile_folders().items():
        folders.append(make_folder(sandbox, name, files))

    browser = Browser(chromium)
    try:
        browser.call("Network.enable")
        browser.call("Runtime.enable")
        browser.call("Page.enable")
        url = "file://" + os.path.abspath(page)
        browser.call("Page.navigate", url=url)
        if not browser.wait_for("document.body && document.body.dataset.ready === '1'", 20):
            failures.append("the page's check never started")
            raise StopIteration
        document = browser.call("DOM.getDocument")["root"]["nodeId"]
        inputs = {which: browser.call("DOM.querySelector", nodeId=document, selector="#" + which)["nodeId"]
                  for which in ("folder", "files")}
        for n, folder in enumerate(folders, 1):
            command = subprocess.run([sim, "check", folder], capture_output=True, timeout=120)
            expected = without_path_line(command.stdout.decode("utf-8", "replace"))
            names = sorted(os.listdir(folder))
            # As an owner chooses the folder, or its files, or drops them on the page.
            paths = [os.path.join(folder, name) for name in names]
            if os.path.basename(folder) in DROPPED:
                data = {"items": [], "files": paths, "dragOperationsMask": 1}
                for kind in ("dragEnter", "dragOver", "drop"):
                    browser.call("Input.dispatchDragEvent", type=kind, x=200, y=200, data=data)
            elif folder.startswith(examples) or any(os.path.isdir(path) for path in paths):
                browser.call("DOM.setFileInputFiles", nodeId=inputs["folder"], files=[folder])
            else:
                browser.call("DOM.setFileInputFiles", nodeId=inputs["files"], files=paths)
            started = time.time()
            done = browser.wait_for("document.body.dataset.checks === '%d'" % n, 10)
            seconds = time.time() - started
            label = os.path.basename(folder)
            if not done:
                failures.append("%s: no result within 10 s (%s)" % (label, browser.evaluate(
                    "document.getElementById('state').textContent")))
                continue
            if seconds >= 2:
                failures.append("%s: the result took %.2f s" % (label, seconds))
            shown = without_path_line(browser.evaluate("document.getElementById('output').textContent") or "")
            status = browser.evaluate("document.body.dataset.status")
            if shown != expected:
                failures.append("%s: the page shows (%s)\n%s\n--- where the command prints\n%s" % (
                    label, browser.evaluate("document.getElementById('state').textContent"), shown, expected))
            elif status != str(command.returncode):
                failures.append("%s: the page's status %s, the command's %d" % (label, status, command.returncode))
            else:
                print("ok %-20s %.2f s, status %s" % (label, seconds, status))
        # Nothing but the page itself was ever asked for.
        requests = [e["params"]["request"]["url"] for e in browser.events if e.get("method") == "Network.requestWillBeSent"]
        foreign = [r for r in requests if r != url and not r.startswith("data:")]
        if foreign:
            failures.append("the page made requests: %s" % foreign)
        errors = [e["params"] for e in browser.events if e.get("method") == "Runtime.exceptionThrown"]
        if errors:
            failures.append("script errors: %s" % json.dumps(errors)[:2000])
    except StopIteration:
        pass
    finally:
        browser.close()
        shutil.rmtree(sandbox, ignore_errors=True)
    for f in failures:
        print("FAILED: " + f)
    if not failures:
        print("check.html (%d bytes) shows what brimvale-sim check prints on %d folders" % (size, len(folders)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
