#!/usr/bin/env python3
"""A night of Brimvale on the receiver as a MIPS machine, with real NFS servers.

The guest (Debian 12's mipsel Malta kernel, its static busybox as the shell and
tools, the mipsel receiver runner with the mipsel Brimvale.tap) boots under
qemu-system-mipsel. Everything runs in network namespaces made here: the guest
on a tap device on a bridge, each NAS (rpcbind and nfs-ganesha, NFSv3 over TCP)
in a namespace of its own on a veth link to that bridge. No namespace has a
route anywhere else, and they are deleted at the end.

- NAS 1 has no address until a wake-on-LAN frame for its MAC reaches it (a
  sleeping machine answers nothing); then it starts its servers. Four shares,
  and the recording folder.
- NAS 2 is up from the start; when the guest says "@@ cut", its link goes
  down; on "@@ restore" it comes back.

The guest prints the timeline, its checks and the table of waits; this script
adds the checks on the NAS side and exits 0 when every check passed, 1 when
one failed, 77 when this machine cannot run it (the reason is printed).
Run by scripts/receiver-system.sh.
"""
import argparse
import os
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))

SUBNET = "10.24.0"
GUEST = f"{SUBNET}.2"
NAS = [
    # index, address, MAC, name, shares (remote folder per media folder), asleep
    dict(index=1, address=f"{SUBNET}.11", mac="02:24:00:00:00:11", name="DiskStation", asleep=True,
         shares={"MediaFiles": "/volume1/video", "MP3Files": "/volume1/music", "PhotoFiles": "/volume1/photo",
                 "DataFiles": "/volume1/rec"}),
    dict(index=2, address=f"{SUBNET}.12", mac="02:24:00:00:00:12", name="Cloud", asleep=False,
         shares={"MediaFiles": "/share/films", "MP3Files": "/share/music"}),
]
DEFAULT_OPTIONS = "-osoft,intr,tcp,rsize=65535,nolock"
# MountDelay above 0: the plug-in never pings its internet probe address.
MAIN_INI = ("NAS IP-Address={address}\r\nNAS MAC-Address={mac}\r\nLocal Folder Name={name}\r\n{remotes}"
            "Mountoptions=" + DEFAULT_OPTIONS + "\r\nNAS Boottime=2\r\nPing Wait=1\r\nPing Gap=10\r\n"
            "MountDelay=1\r\nNAS Recording=1\r\nLogfile=1\r\n")
OTHER_INI = ("NAS IP-Address={address}\r\nLocal Folder Name={name}\r\n{remotes}"
             "Mountoptions=" + DEFAULT_OPTIONS + "\r\nNAS Boottime=3\r\nPing Wait=1\r\nPing Gap=10\r\n")
BOOT_SECONDS = 3  # from the wake-up frame to NAS 1's address answering
KERNEL_MODULES = ["pcnet32", "nfsv3"]  # and what they depend on


def say(text):
    print(f"night: {text}", flush=True)


def run(*args, check=True, **kw):
    return subprocess.run(list(args), check=check, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


# ---- the guest's initramfs ----------------------------------------------------

def cpio_newc(root, out_path):
    """Writes the folder tree `root` as a newc cpio archive (the kernel's initramfs format)."""
    ino = 1
    with open(out_path, "wb") as out:
        def entry(name, st, data):
            nonlocal ino
            header = "070701" + "".join(f"{v:08x}" for v in (
                ino, st.st_mode, 0, 0, 1, int(st.st_mtime), len(data), 0, 0, 0, 0, len(name) + 1, 0))
            ino += 1
            out.write(header.encode() + name.encode() + b"\0")
            out.write(b"\0" * (-(110 + len(name) + 1) % 4))
            out.write(data)
            out.write(b"\0" * (-len(data) % 4))
        for folder, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(dirs) + sorted(files):
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root)
                st = os.lstat(path)
                if stat.S_ISLNK(st.st_mode):
                    data = os.readlink(path).encode()
                elif stat.S_ISREG(st.st_mode):
                    with open(path, "rb") as f:
                        data = f.read()
                else:
                    data = b""
                entry(rel, st, data)
        entry("TRAILER!!!", os.stat(root), b"")


def needed(path):
    out = run("readelf", "-d", path, check=False).stdout
    return [line.split("[", 1)[1].split("]", 1)[0] for line in out.splitlines() if "(NEEDED)" in line]


def copy_with_links(source_root, rel, dest_root):
    """Copies one file of the unpacked packages, following its symbolic links inside them."""
    while True:
        src = os.path.join(source_root, rel)
        dst = os.path.join(dest_root, rel)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        if os.path.islink(src):
            target = os.readlink(src)
            if not os.path.lexists(dst):
                os.symlink(target, dst)
            rel = os.path.normpath(os.path.join(os.path.dirname(rel), target)) if not target.startswith("/") \
                else target.lstrip("/")
            continue
        if not os.path.exists(dst):
            shutil.copy2(src, dst)
        return dst


def module_order(guest, names):
    """Load order of the kernel modules `names` and what they depend on (their .modinfo "depends=")."""
    moddir = next(os.scandir(os.path.join(guest, "lib/modules"))).path
    files = {}
    for folder, _, entries in os.walk(moddir):
        for e in entries:
            if e.endswith(".ko"):
                files[e[:-3].replace("-", "_")] = os.path.join(folder, e)
    order = []

    def visit(name):
        name = name.replace("-", "_")
        if name in order:
            return
        with open(files[name], "rb") as f:
            data = f.read()
        at = data.find(b"\0depends=") + 1
        deps = data[at + len("depends="):data.index(b"\0", at)].decode() if at > 0 else ""
        for d in filter(None, deps.split(",")):
            visit(d)
        order.append(name)
    for n in names:
        visit(n)
    return order, files


def make_initramfs(args, work):
    guest = os.path.abspath(args.guest)
    build = os.path.abspath(args.mipsel_build)
    root = os.path.join(work, "initramfs")
    for d in ("bin", "sbin", "usr/bin", "usr/sbin", "usr/local/sbin", "proc", "sys", "dev", "tmp", "run", "etc",
              "receiver/firmware", "lib/modules", "mnt/hd/ProgramFiles/Settings/Brimvale",
              "mnt/hd/MediaFiles", "mnt/hd/MP3Files", "mnt/hd/PhotoFiles", "mnt/hd/DataFiles"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    shutil.copy2(os.path.join(guest, "bin/busybox"), os.path.join(root, "bin/busybox"))
    os.symlink("busybox", os.path.join(root, "bin/sh"))
    for rel in ("bin/ps", "sbin/rpcbind", "usr/sbin/etherwake", "etc/netconfig",
                "usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"):
        copy_with_links(guest, rel, root)
    # The receiver's own portmap is the port mapper of its time; rpcbind is its successor.
    os.symlink("/sbin/rpcbind", os.path.join(root, "usr/local/sbin/portmap"))
    shutil.copy2(os.path.join(HERE, "guest/mount"), os.path.join(root, "usr/local/sbin/mount"))
    shutil.copy2(os.path.join(HERE, "guest/init"), os.path.join(root, "init"))
    with open(os.path.join(root, "etc/passwd"), "w") as f:
        f.write("root:x:0:0:root:/:/bin/sh\n_rpc:x:100:65534::/run/rpcbind:/bin/false\n")
    with open(os.path.join(root, "etc/group"), "w") as f:
        f.write("root:x:0:\nnogroup:x:65534:\n")

    # The receiver runner, the plug-in and the firmware objects, from the mipsel build.
    night = os.path.join(build, "tests/system/brimvale-receiver-night")
    tap = os.path.join(build, "Brimvale.tap")
    firmware = os.path.join(build, "firmware")
    for path in (night, tap, firmware):
        if not os.path.exists(path):
            raise SystemExit(f"night: {path} is missing: scripts/receiver-system.sh builds it")
    shutil.copy2(night, os.path.join(root, "receiver/brimvale-receiver-night"))
    shutil.copy2(tap, os.path.join(root, "receiver/Brimvale.tap"))
    fw = [e.path for e in os.scandir(firmware) if e.name.endswith(".so")]
    for path in fw:
        shutil.copy2(path, os.path.join(root, "receiver/firmware", os.path.basename(path)))

    # Every library the programs load, from the unpacked packages; a missing one stops here.
    libdirs = ["lib/mipsel-linux-gnu", "usr/lib/mipsel-linux-gnu"]
    copy_with_links(guest, "lib/ld.so.1", root)
    todo = [os.path.join(root, p) for p in ("bin/ps", "sbin/rpcbind", "usr/sbin/etherwake",
                                            "receiver/brimvale-receiver-night")]
    todo += [os.path.join(root, "receiver/firmware", os.path.basename(p)) for p in fw]
    done = set()
    while todo:
        for lib in needed(todo.pop()):
            if lib in done:
                continue
            done.add(lib)
            where = next((d for d in libdirs if os.path.lexists(os.path.join(guest, d, lib))), None)
            if where is None:
                raise SystemExit(f"night: the guest lacks {lib}: add its package to scripts/receiver-guest.sh")
            todo.append(copy_with_links(guest, os.path.join(where, lib), root))

    order, files = module_order(guest, KERNEL_MODULES)
    for name in order:
        shutil.copy2(files[name], os.path.join(root, "lib/modules", name + ".ko"))
    with open(os.path.join(root, "lib/modules/order"), "w") as f:
        f.write("\n".join(order) + "\n")

    # The receiver's disk: its busybox (with ether-wake), settings and a local recording.
    hd = os.path.join(root, "mnt/hd")
    shutil.copy2(os.path.join(SOURCE, "tests/realtools/receiver-busybox"), os.path.join(hd, "ProgramFiles/busybox"))
    os.chmod(os.path.join(hd, "ProgramFiles/busybox"), 0o644)  # start-up's chmod makes it runnable
    with open(os.path.join(hd, "DataFiles/Local recording.rec"), "w") as f:
        f.write("recorded on the receiver\n")
    for nas in NAS:
        remotes = "".join(f"Remotefolder {k}={v}\r\n" for k, v in nas["shares"].items())
        text = (MAIN_INI if nas["index"] == 1 else OTHER_INI).format(remotes=remotes, **nas)
        name = "Brimvale.ini" if nas["index"] == 1 else f"{nas['index']}.ini"
        with open(os.path.join(hd, "ProgramFiles/Settings/Brimvale", name), "w", newline="") as f:
            f.write(text)
    with open(os.path.join(root, "receiver/address"), "w") as f:
        f.write(f"{GUEST}/24\n")
    with open(os.path.join(root, "receiver/night.args"), "w") as f:
        f.write(" ".join(["/receiver/Brimvale.tap", "/receiver/firmware"] +
                         [f"{n['index']},{n['address']},{n['name']}" for n in NAS]) + "\n")
    image = os.path.join(work, "initramfs.cpio")
    cpio_newc(root, image)
    kernel = next(e.path for e in os.scandir(os.path.join(guest, "boot")) if e.name.startswith("vmlinuz-"))
    say(f"guest: {kernel.split('/')[-1]}, initramfs {os.path.getsize(image) // 1024} KiB, modules {' '.join(order)}")
    return kernel, image


# ---- the NAS servers --------------------------------------------------------

GANESHA_CONF = """
NFS_CORE_PARAM {{ Protocols = 3; Enable_NLM = false; Enable_RQUOTA = false; Bind_addr = {address};
                  Mount_Path_Pseudo = true; }}
NFSV4 {{ UseGetpwnam = true; Graceless = true; }}
NFS_KRB5 {{ Active_krb5 = false; }}
EXPORT_DEFAULTS {{ Access_Type = RW; Squash = No_Root_Squash; Protocols = 3; Transports = TCP; SecType = sys; }}
LOG {{ Default_Log_Level = EVENT; }}
{exports}
"""
EXPORT = "EXPORT {{ Export_Id = {id}; Path = {path}; Pseudo = {pseudo}; FSAL {{ Name = VFS; }} }}\n"


def serve(args):
    """One NAS, inside its network namespace (and the mount namespace `ip netns exec` gave it)."""
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run"], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/var/lib/nfs"], check=True)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    log = open(args.log, "a", buffering=1)
    if args.mac:
        # Asleep: the network card is on, nothing else; a magic packet with
        # its MAC (six 0xff, then the MAC sixteen times) wakes the machine.
        mac = bytes(int(b, 16) for b in args.mac.split(":"))
        sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))
        sock.bind(("eth0", 0))
        while True:
            frame, where = sock.recvfrom(2048)
            if where[2] == socket.PACKET_OUTGOING or len(frame) < 14 + 102 or frame[12:14] != b"\x08\x42":
                continue
            payload = frame[14:]
            target = payload[6:12]
            magic = payload[:6] == b"\xff" * 6 and all(payload[6 + 6 * k:12 + 6 * k] == target for k in range(16))
            log.write(f"{time.time():.3f} wake-on-LAN frame to {frame[:6].hex(':')} for {target.hex(':')}"
                      f"{'' if magic else ' (malformed)'}\n")
            if magic and target == mac:
                break
        sock.close()
        log.write(f"{time.time():.3f} woken\n")
        time.sleep(BOOT_SECONDS)
    subprocess.run(["ip", "addr", "add", args.address + "/24", "dev", "eth0"], check=True)
    rpcbind = subprocess.Popen(["rpcbind", "-f"], stdout=log, stderr=log)
    for _ in range(100):
        if os.path.exists("/run/rpcbind.sock"):
            break
        time.sleep(0.02)
    ganesha = subprocess.Popen(["ganesha.nfsd", "-F", "-f", args.conf, "-L", args.ganesha_log, "-p", args.pid],
                               stdout=log, stderr=log)
    log.write(f"{time.time():.3f} servers started\n")

    def stop(*_):
        for p in (ganesha, rpcbind):
            p.terminate()
        for p in (ganesha, rpcbind):
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        sys.exit(0)
    signal.signal(signal.SIGTERM, stop)
    ganesha.wait()
    stop()


class Sandbox:
    """The namespaces, links and server processes; all of it goes in close()."""

    def __init__(self, work):
        self.work = work
        self.tag = f"bv{os.getpid()}"
        self.lan = f"{self.tag}-lan"
        self.namespaces = []
        self.servers = []

    def ns(self, name):
        run("ip", "netns", "add", name)
        self.namespaces.append(name)
        run("ip", "-n", name, "link", "set", "lo", "up")

    def build(self):
        self.ns(self.lan)
        run("ip", "-n", self.lan, "link", "add", "br0", "type", "bridge")
        run("ip", "-n", self.lan, "link", "set", "br0", "up")
        # The switch's own address, from which this script looks at the servers.
        run("ip", "-n", self.lan, "addr", "add", f"{SUBNET}.1/24", "dev", "br0")
        run("ip", "-n", self.lan, "tuntap", "add", "dev", "tap0", "mode", "tap")
        run("ip", "-n", self.lan, "link", "set", "tap0", "master", "br0", "up")
        for nas in NAS:
            ns = f"{self.tag}-nas{nas['index']}"
            self.ns(ns)
            port = f"nas{nas['index']}"
            run("ip", "-n", self.lan, "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns", ns)
            run("ip", "-n", self.lan, "link", "set", port, "master", "br0", "up")
            run("ip", "-n", ns, "link", "set", "eth0", "address", nas["mac"], "up")
            nas["ns"] = ns
        # Nothing here may lead anywhere else: no namespace has a route but its own link.
        for ns in self.namespaces:
            routes = run("ip", "-n", ns, "route", "show", "table", "all").stdout
            if "default" in routes:
                raise SystemExit(f"night: namespace {ns} has a default route")

    def start_servers(self):
        for nas in NAS:
            top = os.path.join(self.work, f"nas{nas['index']}")
            exports = ""
            for k, (_, remote) in enumerate(nas["shares"].items()):
                path = top + remote
                os.makedirs(path, exist_ok=True)
                with open(os.path.join(path, "from-nas.txt"), "w") as f:
                    f.write(f"{nas['address']}:{remote}\n")
                exports += EXPORT.format(id=k + 1, path=path, pseudo=remote)
            conf = os.path.join(top, "ganesha.conf")
            with open(conf, "w") as f:
                f.write(GANESHA_CONF.format(address=nas["address"], exports=exports))
            nas["log"] = os.path.join(top, "server.log")
            nas["top"] = top
            command = ["ip", "netns", "exec", nas["ns"], sys.executable, os.path.abspath(__file__), "serve",
                       "--address", nas["address"], "--conf", conf, "--log", nas["log"],
                       "--ganesha-log", os.path.join(top, "ganesha.log"), "--pid", os.path.join(top, "ganesha.pid")]
            if nas["asleep"]:
                command += ["--mac", nas["mac"]]
            self.servers.append(subprocess.Popen(command, stdin=subprocess.DEVNULL))

    def wait_serving(self, nas, seconds):
        """Until the NAS's NFS server answers on its port (from inside the LAN namespace)."""
        until = time.time() + seconds
        while time.time() < until:
            probe = run("ip", "netns", "exec", self.lan, sys.executable, "-c",
                        f"import socket; socket.create_connection(('{nas['address']}', 2049), 0.5)", check=False)
            if probe.returncode == 0:
                return True
            time.sleep(0.2)
        return False

    def set_link(self, nas, up):
        run("ip", "-n", nas["ns"], "link", "set", "eth0", "up" if up else "down")

    def close(self):
        for p in self.servers:
            if p.poll() is None:
                p.terminate()
        for p in self.servers:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        for ns in reversed(self.namespaces):
            run("ip", "netns", "del", ns, check=False)


# ---- the night --------------------------------------------------------------

def remove_stale_namespaces():
    """Namespaces an earlier night left behind when it was killed (its process is gone)."""
    for line in run("ip", "netns", "list", check=False).stdout.splitlines():
        name = line.split()[0] if line.split() else ""
        tag = name.split("-", 1)[0]
        if name.startswith("bv") and tag[2:].isdigit() and not os.path.exists(f"/proc/{tag[2:]}"):
            run("ip", "netns", "del", name, check=False)


def night(args):
    start = time.time()
    # A stop by ctest's time-out or ^C still takes the namespaces down.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    remove_stale_namespaces()
    work = tempfile.mkdtemp(prefix="receiver-system-", dir=args.work)
    checks = {"ok": 0, "fail": []}
    lines = []

    def check(ok, what, detail=""):
        print(f"CHECK {'ok  ' if ok else 'FAIL'} {what}{': ' + detail if detail else ''}", flush=True)
        if ok:
            checks["ok"] += 1
        else:
            checks["fail"].append(what)

    sandbox = Sandbox(work)
    qemu = None
    try:
        kernel, image = make_initramfs(args, work)
        sandbox.build()
        sandbox.start_servers()
        check(sandbox.wait_serving(NAS[1], 30), "NAS 2 serves NFS before the receiver starts")
        check(not sandbox.wait_serving(NAS[0], 1), "NAS 1 is asleep: nothing answers at its address")
        say(f"set up in {time.time() - start:.1f} s; booting the receiver")
        boot = time.time()
        qemu = subprocess.Popen(
            ["ip", "netns", "exec", sandbox.lan, "qemu-system-mipsel", "-M", "malta", "-cpu", "24Kf", "-m", "256",
             "-nographic", "-vga", "none", "-no-reboot", "-monitor", "none", "-serial", "stdio",
             "-kernel", kernel, "-initrd", image, "-append", "console=ttyS0 rdinit=/init quiet loglevel=3",
             "-netdev", "tap,id=lan,ifname=tap0,script=no,downscript=no",
             "-device", f"pcnet,netdev=lan,mac=52:54:00:24:00:02,romfile="],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = start + args.timeout
        timer = threading.Timer(max(1, deadline - time.time()), lambda: qemu.kill())
        timer.start()
        for raw in qemu.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            lines.append(line)
            print(f"guest {line}" if not line.startswith("CHECK ") else line, flush=True)
            if line.startswith("@@ guest up"):
                say(f"guest booted and its modules loaded {time.time() - boot:.1f} s after qemu started")
            for verb in ("cut", "restore"):
                if f"] @@ {verb} " in line:
                    address = line.rsplit(" ", 1)[1]
                    nas = next(n for n in NAS if n["address"] == address)
                    sandbox.set_link(nas, verb == "restore")
                    say(f"{nas['name']} ({address}): link {'up' if verb == 'restore' else 'down'}")
        qemu.wait()
        timer.cancel()
        if time.time() >= deadline:
            check(False, f"the night ends within {args.timeout} s")
        guest_fails = sum(1 for l in lines if l.startswith("CHECK FAIL"))
        guest_oks = sum(1 for l in lines if l.startswith("CHECK ok"))
        check(any(l.startswith("@@ night done") for l in lines) and guest_oks > 0,
              "the guest ran the night to its end", f"{guest_oks} passed, {guest_fails} failed")
        checks["fail"] += ["guest check"] * guest_fails

        # What the NAS side saw.
        nas1, nas2 = NAS
        wake = open(nas1["log"]).read() if os.path.exists(nas1["log"]) else ""
        check(f"for {nas1['mac']}\n" in wake and "woken" in wake, "a wake-on-LAN frame for NAS 1's MAC woke it",
              wake.strip().replace("\n", "; ")[:300])
        rec = nas1["top"] + nas1["shares"]["DataFiles"]
        written = os.path.join(rec, "written-by-receiver.txt")
        check(os.path.exists(written) and open(written).read() == "recorded onto the NAS\n",
              "the file the receiver wrote into /mnt/hd/DataFiles is in NAS 1's export")
        check(os.path.isdir(os.path.join(rec, "TimeShift")), "the plug-in made TimeShift in NAS 1's recording export")
        check(not os.path.exists(os.path.join(rec, "DataFiles local")),
              "no mount point left behind in NAS 1's recording export")
    finally:
        if qemu is not None and qemu.poll() is None:
            qemu.kill()
            qemu.wait()
        sandbox.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            say(f"kept {work}")

    waits = [l for l in lines if l.startswith("|")]
    options = next((l.split("@@ default options ", 1)[1] for l in lines if "@@ default options " in l), "")
    if args.write_doc and not checks["fail"]:
        write_doc(args.write_doc, waits, options)
    say(f"the night took {time.time() - start:.0f} s wall; {checks['ok']} checks passed on the PC side, "
        f"{len(checks['fail'])} failed")
    return 0 if not checks["fail"] else 1


def write_doc(path, waits, options):
    """Replaces the measured part of docs/receiver-system.md with this run's figures."""
    begin, end = "<!-- measured: begin -->", "<!-- measured: end -->"
    text = open(path).read()
    head, rest = text.split(begin, 1)
    _, tail = rest.split(end, 1)
    machine = f"{os.cpu_count()} cores, {os.uname().release}"
    body = (f"\nMeasured by `scripts/receiver-system.sh --write-doc` on {time.strftime('%Y-%m-%d')} ({machine}):\n\n"
            + "\n".join(waits) + f"\n\nThe default options as the kernel made them (NAS 1, MediaFiles): `{options}`\n\n")
    with open(path, "w") as f:
        f.write(head + begin + body + end + tail)
    say(f"wrote the measured waits into {path}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    n = sub.add_parser("night")
    n.add_argument("--guest", required=True, help="the unpacked mipsel packages (scripts/receiver-guest.sh)")
    n.add_argument("--mipsel-build", required=True, help="the mipsel build folder")
    n.add_argument("--work", default=None, help="folder for the run's files (default: TMPDIR)")
    n.add_argument("--timeout", type=float, default=230, help="seconds for the whole night")
    n.add_argument("--keep", action="store_true", help="keep the run's files")
    n.add_argument("--write-doc", metavar="MD", help="put the measured waits into this file")
    s = sub.add_parser("serve")
    for opt in ("--address", "--conf", "--log", "--ganesha-log", "--pid"):
        s.add_argument(opt, required=True)
    s.add_argument("--mac")
    args = parser.parse_args()
    if args.command == "serve":
        serve(args)
        return 0
    return night(args)


if __name__ == "__main__":
    sys.exit(main())
