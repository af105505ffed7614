#!/usr/bin/python3
"""Offset error of `ostrelle --report` and its peers over impaired loopback paths to chronyd.

Everything runs in a network namespace of its own (loopback only, 127.0.0.0/8), made with
`unshare --net`: it has no name, so nothing is left behind when the last process in it ends. In it,
chronyd serves `local stratum 1` with -x (it never touches the clock) on 127.19.0.2, port 123.
The server runs on this machine's own clock, so its true offset is 0 and every offset a tool prints
is its error. Each path adds its impairment to every packet, in each direction independently:

  normal  one-way delay 10 ms +- 4 ms, normal        (netem: delay 10ms 4ms distribution normal)
  pareto  one-way delay 20 ms +- 15 ms, pareto tail  (netem: delay 20ms 15ms distribution pareto)
  loss30  30 % of the packets lost, no delay         (netem: loss 30%)

netem on lo delays a request and its reply each by one draw, so a round trip is two draws (path 1:
20 ms +- 5.7 ms). Where the kernel has no netem, a relay process (this script, --serve-relay)
listens on 127.19.0.1:123, forwards to chronyd, and delays and drops each datagram in each direction
the same way, drawing from the same tables tc gives netem (iproute2's *.dist), with a seed.

Peers, one process at a time, rotating the order every run: `ntpdate -q`, `ntpdig` with 1 and 4
samples, `chronyd -Q` (4 samples), `check_ntp_time`, beside `ostrelle --report --format json`.
ntpdate and ntpdig only ask port 123, which is why the server side sits on the namespace's own 123.

Needs root (namespaces, tc, port 123); installs the missing Debian packages. Usage, from the top
of the work tree:

    sudo bench/impaired_paths.py [--ostrelle build/app/ostrelle] [--runs 40] [--paths normal,pareto,loss30]
"""
import argparse
import contextlib
import ctypes
import datetime
import glob
import hashlib
import heapq
import ipaddress
import json
import os
import random
import re
import select
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSIDE = "OSTRELLE_IMPAIRED_PATHS_INSIDE"
# The relay's front (what every tool asks) and chronyd's own address. Nothing outside 127.0.0.0/8.
FRONT = "127.19.0.1"
SERVER = "127.19.0.2"
NTP_PORT = 123

PATHS = {
    "normal": {"delay_ms": 10.0, "jitter_ms": 4.0, "distribution": "normal", "loss": 0.0,
               "netem": "delay 10ms 4ms distribution normal",
               "text": "one-way delay 10 ms ± 4 ms, normal"},
    "pareto": {"delay_ms": 20.0, "jitter_ms": 15.0, "distribution": "pareto", "loss": 0.0,
               "netem": "delay 20ms 15ms distribution pareto",
               "text": "one-way delay 20 ms ± 15 ms, pareto (heavy tail)"},
    "loss30": {"delay_ms": 0.0, "jitter_ms": 0.0, "distribution": None, "loss": 0.30,
               "netem": "loss 30%",
               "text": "30 % of packets lost, each direction"},
}

# Command -> Debian 12 package that ships it.
PACKAGES = {
    "ip": "iproute2", "tc": "iproute2", "unshare": "util-linux", "chronyd": "chrony",
    "ntpdate": "ntpsec-ntpdate", "ntpdig": "ntpsec-ntpdig",
    "check_ntp_time": "monitoring-plugins-basic",
}
PLUGIN_FOLDER = "/usr/lib/nagios/plugins"
# netem scales its distribution tables so that 8192 is one jitter (NETEM_DIST_SCALE).
DIST_SCALE = 8192
# Linux's SO_TIMESTAMPNS, which Python's socket module does not name: the kernel's arrival time.
SO_TIMESTAMPNS = 35


def which(command):
    if command == "check_ntp_time":
        path = os.path.join(PLUGIN_FOLDER, command)
        return path if os.access(path, os.X_OK) else None
    return shutil.which(command) or shutil.which(command, path="/usr/sbin:/sbin")


def install_missing():
    missing = sorted({PACKAGES[c] for c in PACKAGES if not which(c)})
    if not missing:
        return
    print("Installing: " + " ".join(missing), flush=True)
    apt = ["apt-get", "-o", "DPkg::Lock::Timeout=900"]
    subprocess.run(apt + ["update", "-qq"], check=True)
    # chrony's postinst would start a daemon that steps this machine's clock: keep it from starting.
    policy = "/usr/sbin/policy-rc.d"
    ours = not os.path.exists(policy)
    if ours:
        with open(policy, "w") as file:
            file.write("#!/bin/sh\nexit 101\n")
        os.chmod(policy, 0o755)
    try:
        subprocess.run(apt + ["install", "-y", "-qq", "--no-install-recommends"] + missing, check=True,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    finally:
        if ours:
            os.remove(policy)
    still = [c for c in PACKAGES if not which(c)]
    if still:
        sys.exit("still missing after installing: " + " ".join(still))


def die_with_parent():
    """preexec_fn: the child gets SIGTERM when this process ends, however it ends."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


# ---------------------------------------------------------------------------------------------
# The relay, for kernels without netem.

def load_table(name):
    """netem's distribution table as tc installs it: 4096 signed numbers, DIST_SCALE per jitter."""
    candidates = glob.glob(f"/usr/lib/*/tc/{name}.dist") + glob.glob(f"/usr/lib/tc/{name}.dist")
    if not candidates:
        sys.exit(f"no {name}.dist from iproute2: the relay draws from netem's own tables")
    with open(candidates[0]) as file:
        return [int(word) for line in file if not line.startswith("#") for word in line.split()]


def serve_relay(arguments):
    """Forwards datagrams between FRONT:123 and chronyd, delaying and dropping each one in each
    direction as netem on lo would. Ends on SIGTERM, writing how late it sent (its own scheduling)."""
    path = PATHS[arguments.serve_relay]
    rng = random.Random(arguments.seed)
    table = load_table(path["distribution"]) if path["distribution"] else None
    # The relay stands for the wire: other builds' load must not add to its delays. It sleeps
    # between datagrams, so a real-time priority costs nothing, and the kernel caps it anyway.
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    except OSError:
        os.nice(-10)

    def draw_delay():
        if table is None:
            return 0.0
        # As the kernel's tabledist(): mu + sigma * t / scale; a negative draw is sent at once.
        t = table[rng.randrange(len(table))]
        return max(0.0, (path["delay_ms"] + path["jitter_ms"] * t / DIST_SCALE) / 1000.0)

    def open_socket(port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        sock.bind((FRONT, port))
        return sock

    def receive(sock):
        """A datagram, where it came from, and when the kernel took it in (or now, without that)."""
        datagram, ancillary, _, source = sock.recvmsg(2048, socket.CMSG_SPACE(16))
        for level, kind, data in ancillary:
            if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
                seconds, nanoseconds = struct.unpack("qq", data[:16])
                return datagram, source, seconds + nanoseconds / 1e9
        return datagram, source, time.time()

    front = open_socket(NTP_PORT)
    upstream_of = {}  # client address -> [socket towards chronyd, last use]
    client_of = {}    # that socket -> client address
    queue = []        # (due, sequence, socket, datagram, destination)
    sequence = 0
    lateness = []
    counts = {"in": 0, "dropped": 0, "sent": 0}
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the benchmark stops it, after its last run

    # Delays count from the kernel's arrival time on the system clock, so that the relay's own
    # wake-up after a datagram arrives is not added to the path (nothing sets the clock here).
    def schedule(sock, datagram, destination, arrival):
        nonlocal sequence
        counts["in"] += 1
        if rng.random() < path["loss"]:
            counts["dropped"] += 1
            return
        sequence += 1
        heapq.heappush(queue, (arrival + draw_delay(), sequence, sock, datagram, destination))

    with open(arguments.ready, "w") as ready:
        ready.write("ready\n")
    while not stop:
        now = time.time()
        while queue and queue[0][0] <= now:
            due, _, sock, datagram, destination = heapq.heappop(queue)
            with contextlib.suppress(OSError):
                lateness.append(time.time() - due)
                sock.sendto(datagram, destination)
                counts["sent"] += 1
        # A client's socket towards chronyd lives while it is used: each tool run is a new client.
        for client, (sock, last) in list(upstream_of.items()):
            if now - last > 30 and not any(item[2] is sock for item in queue):
                del upstream_of[client], client_of[sock]
                sock.close()
        wait = max(0.0, min(1.0, queue[0][0] - now)) if queue else 1.0
        try:
            readable, _, _ = select.select([front] + list(client_of), [], [], wait)
        except InterruptedError:
            continue
        for sock in readable:
            with contextlib.suppress(OSError):
                datagram, source, arrival = receive(sock)
                if sock is front:
                    if source not in upstream_of:
                        upstream = open_socket(0)
                        upstream_of[source] = [upstream, now]
                        client_of[upstream] = source
                    upstream_of[source][1] = now
                    schedule(upstream_of[source][0], datagram, (SERVER, NTP_PORT), arrival)
                else:
                    client = client_of[sock]
                    upstream_of[client][1] = now
                    schedule(front, datagram, client, arrival)
    lateness.sort()
    with open(arguments.stats, "w") as file:
        json.dump(dict(counts, lateness_ms=[x * 1000 for x in lateness]), file)


# ---------------------------------------------------------------------------------------------
# The tools.

def parse_ntpdate(out):
    # "2026-12-07 22:09:20.74488 (+0000) -0.001823 +/- 0.002061 127.19.0.2 s1 no-leap"
    match = re.search(r"\)\s+([+-]?\d+\.\d+)\s+\+/-\s+\S+\s+\S+\s+s\d+", out)
    return float(match.group(1)) if match else None


def parse_ntpdig_json(out):
    for line in out.splitlines():
        with contextlib.suppress(ValueError, TypeError):
            value = json.loads(line)
            if isinstance(value, dict) and "offset" in value:
                return float(value["offset"])
    return None


def parse_chronyd(out):
    match = re.search(r"System clock wrong by (-?\d+\.\d+) seconds", out)
    return float(match.group(1)) if match else None


def parse_check_ntp_time(out):
    match = re.search(r"\|\s*offset=(-?[0-9.]+(?:[eE][-+]?\d+)?)s", out)
    return float(match.group(1)) if match else None


def parse_ostrelle(out):
    with contextlib.suppress(ValueError, TypeError, KeyError, IndexError, AttributeError):
        server = json.loads(out)["servers"][0]
        if server.get("outcome") == "answered" and server.get("offset") is not None:
            return float(server["offset"])
    return None


def tools(arguments, target, folder):
    """(name, argv, parser, hard limit in seconds, environment) of each tool, asking target:123."""
    wait, budget = arguments.wait, arguments.budget
    env = dict(os.environ, LC_ALL="C.UTF-8")
    ostrelle_env = dict(env, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(folder, "config"),
                        XDG_DATA_HOME=os.path.join(folder, "data"), XDG_RUNTIME_DIR=folder)
    chronyd_q = [which("chronyd"), "-Q", "-4", "-u", "root", "-t", str(budget),
                 f"server {target} port {NTP_PORT} iburst maxsamples 4",
                 f"pidfile {folder}/query.pid", "cmdport 0", "bindcmdaddress /"]
    # ntpdig waits up to `wait` for each of its samples in turn.
    return [
        ("ntpdate -q", [which("ntpdate"), "-q", "-t", str(wait), target], parse_ntpdate, wait + 10, env),
        ("ntpdig, 1 sample", [which("ntpdig"), "-j", "-t", str(wait), "-p", "1", target],
         parse_ntpdig_json, wait + 10, env),
        ("ntpdig, 4 samples", [which("ntpdig"), "-j", "-t", str(wait), "-p", "4", target],
         parse_ntpdig_json, 4 * wait + 10, env),
        ("chronyd -Q, 4 samples", chronyd_q, parse_chronyd, budget + 10, env),
        ("check_ntp_time", [which("check_ntp_time"), "-H", target, "-p", str(NTP_PORT), "-t", str(budget)],
         parse_check_ntp_time, budget + 10, env),
        ("Ostrelle report", [arguments.ostrelle_copy, "--report", "--format", "json", "--timeout", str(wait),
                             f"{target}:{NTP_PORT}"], parse_ostrelle, 4 * wait + 10, ostrelle_env),
    ]


def run_once(argv, limit, env):
    """Output (stdout and stderr) of one run, killed with its whole group after limit seconds."""
    process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                               start_new_session=True, preexec_fn=die_with_parent)
    try:
        out, _ = process.communicate(timeout=limit)
        return out.decode(errors="replace"), False
    except subprocess.TimeoutExpired:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGKILL)
        out, _ = process.communicate()
        return out.decode(errors="replace"), True
    finally:
        if process.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
            process.wait()


# ---------------------------------------------------------------------------------------------
# Inside the namespace.

def sh(*argv):
    return subprocess.run(argv, capture_output=True, text=True)


def start_chronyd(folder):
    config = os.path.join(folder, "chrony.conf")
    with open(config, "w") as file:
        # No server, pool or refclock: it asks nobody. No command port, no socket in /run.
        file.write(f"port {NTP_PORT}\nbindaddress {SERVER}\nallow 127.0.0.0/8\nlocal stratum 1\n"
                   f"cmdport 0\nbindcmdaddress /\npidfile {folder}/chronyd.pid\n"
                   f"driftfile {folder}/chronyd.drift\n")
    log = open(os.path.join(folder, "chronyd.log"), "w")
    # -x: never touch the clock; -d: foreground, ours to stop; -u root: it would drop to a user
    # who cannot enter our folder.
    process = subprocess.Popen([which("chronyd"), "-x", "-d", "-4", "-u", "root", "-f", config],
                               stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent,
                               start_new_session=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if process.poll() is not None:
            break
        if parse_ntpdig_json(run_once([which("ntpdig"), "-j", "-t", "1", SERVER], 10, None)[0]) is not None:
            return process
        time.sleep(0.2)
    stop_process(process)
    with open(os.path.join(folder, "chronyd.log")) as file:
        sys.exit("chronyd did not answer: " + file.read())


def stop_process(process):
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def start_relay(name, seed, folder):
    ready = os.path.join(folder, f"relay-{name}.ready")
    stats = os.path.join(folder, f"relay-{name}.json")
    process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--serve-relay", name,
                                "--seed", str(seed), "--ready", ready, "--stats", stats],
                               preexec_fn=die_with_parent, start_new_session=True)
    deadline = time.monotonic() + 10
    while not os.path.exists(ready):
        if process.poll() is not None or time.monotonic() > deadline:
            stop_process(process)
            sys.exit(f"the relay for {name} did not start")
        time.sleep(0.05)
    return process, stats


def summary(values):
    errors = sorted(abs(v) * 1000 for v in values)
    if not errors:
        return None, None
    if len(errors) == 1:
        return errors[0], errors[0]
    return statistics.median(errors), statistics.quantiles(errors, n=20, method="inclusive")[18]


def interrupted(*_):
    raise KeyboardInterrupt()


def inside(arguments):
    # Stopped from outside like Ctrl-C: the same clean-up, and the runs done so far are kept.
    signal.signal(signal.SIGTERM, interrupted)
    folder = tempfile.mkdtemp(prefix="ostrelle-impaired-")
    chronyd = relay = None
    netem_error = use_relay = None
    results = {}
    relay_stats = {}
    try:
        for address in (FRONT, SERVER):
            assert ipaddress.ip_address(address) in ipaddress.ip_network("127.0.0.0/8")
        sh("ip", "link", "set", "lo", "up")
        for address in (FRONT, SERVER):
            added = sh("ip", "addr", "add", f"{address}/32", "dev", "lo")
            if added.returncode != 0:
                sys.exit(f"ip addr add {address}/32 dev lo: {added.stderr.strip()}")
        probe = sh("tc", "qdisc", "add", "dev", "lo", "root", "netem", "delay", "1ms")
        netem_error = probe.stderr.strip() if probe.returncode != 0 else None
        sh("tc", "qdisc", "del", "dev", "lo", "root")
        if arguments.impairment == "netem" and netem_error:
            sys.exit("tc qdisc add dev lo root netem: " + netem_error)
        use_relay = arguments.impairment == "relay" or netem_error is not None
        if netem_error:
            print(f"netem: `tc qdisc add dev lo root netem delay 1ms` failed here: {netem_error}")
        print("impairment: " + ("relay on " + FRONT + ":123 (netem's tables, seeded)" if use_relay else
                                "netem on lo"), flush=True)
        chronyd = start_chronyd(folder)
        target = FRONT if use_relay else SERVER
        for path_index, name in enumerate(arguments.paths):
            path = PATHS[name]
            if use_relay:
                relay, relay_stats[name] = start_relay(name, arguments.seed + path_index, folder)
            else:
                applied = sh("tc", "qdisc", "replace", "dev", "lo", "root", "netem", *path["netem"].split())
                if applied.returncode != 0:
                    sys.exit(f"tc qdisc replace dev lo root netem {path['netem']}: {applied.stderr.strip()}")
            entries = tools(arguments, target, folder)
            for run in range(arguments.runs):
                # Rotate the order so that no tool always follows the same one.
                shift = run % len(entries)
                for tool, argv, parse, limit, env in entries[shift:] + entries[:shift]:
                    started = time.monotonic()
                    out, killed = run_once(argv, limit, env)
                    offset = None if killed else parse(out)
                    results.setdefault((name, tool), []).append(
                        {"run": run + 1, "offset": offset, "seconds": time.monotonic() - started,
                         "killed": killed, "output": out.strip()[-300:]})
                print(f"{name}: run {run + 1}/{arguments.runs} done", flush=True)
            if use_relay:
                stop_process(relay)
                relay = None
            else:
                sh("tc", "qdisc", "del", "dev", "lo", "root")
    finally:
        stop_process(relay)
        stop_process(chronyd)
        if results:
            with open(arguments.results, "w") as file:
                json.dump({"results": [{"path": p, "tool": t, "runs": r} for (p, t), r in results.items()],
                           "relay": {n: load_json(s) for n, s in relay_stats.items()},
                           "netem_error": netem_error, "relay_used": use_relay}, file)
        shutil.rmtree(folder, ignore_errors=True)


def load_json(path):
    with contextlib.suppress(OSError, ValueError):
        with open(path) as file:
            return json.load(file)
    return None


# ---------------------------------------------------------------------------------------------
# Outside: checks, the namespace, the table.

def source_commit(binary):
    """The commit of the tree the binary was built from, read through its build folder's cache."""
    folder = os.path.dirname(os.path.abspath(binary))
    while folder != "/":
        cache = os.path.join(folder, "CMakeCache.txt")
        if os.path.exists(cache):
            with open(cache) as file:
                match = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", file.read(), re.M)
            if not match:
                break
            head = sh("git", "-C", match.group(1), "rev-parse", "--short", "HEAD").stdout.strip()
            dirty = sh("git", "-C", match.group(1), "status", "--porcelain", "--untracked-files=no").stdout
            return f"{head}{' with uncommitted changes' if dirty.strip() else ''} ({match.group(1)})"
        folder = os.path.dirname(folder)
    return "unknown"


def render(document, arguments, meta):
    rows = {}
    for entry in document["results"]:
        rows.setdefault(entry["tool"], {})[entry["path"]] = entry["runs"]
    tool_names = list(rows)
    lines = ["| tool | " + " | ".join(f"{p}: median / p95 error, answered" for p in arguments.paths) + " |",
             "|---|" + "---|" * len(arguments.paths)]
    for tool in tool_names:
        cells = []
        for path in arguments.paths:
            runs = rows[tool].get(path, [])
            values = [r["offset"] for r in runs if r["offset"] is not None]
            median, p95 = summary(values)
            figure = "—" if median is None else f"{median:.2f} / {p95:.2f} ms"
            cells.append(f"{figure}, {len(values)} of {len(runs)}")
        lines.append(f"| {tool} | " + " | ".join(cells) + " |")
    notes = []
    for path, stats in (document.get("relay") or {}).items():
        if stats and stats.get("lateness_ms"):
            late = stats["lateness_ms"]
            notes.append(f"relay on {path}: {stats['in']} datagrams, {stats['dropped']} dropped, sent late "
                         f"by median {statistics.median(late):.3f} ms, p95 "
                         f"{late[min(len(late) - 1, int(0.95 * len(late)))]:.3f} ms, worst {late[-1]:.3f} ms")
    killed = [f"{e['tool']} on {e['path']}: {sum(r['killed'] for r in e['runs'])}"
              for e in document["results"] if any(r["killed"] for r in e["runs"])]
    if killed:
        notes.append("killed at the hard limit: " + ", ".join(killed))
    header = [f"- {k}: {v}" for k, v in meta.items()]
    return "\n".join(header + [""] + lines + [""] + notes) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build folder (its app/ostrelle)")
    parser.add_argument("--ostrelle", help="the ostrelle binary (default BUILD/app/ostrelle)")
    parser.add_argument("--runs", type=int, default=40, help="runs per tool and path (default 40)")
    parser.add_argument("--paths", default="normal,pareto,loss30")
    parser.add_argument("--wait", type=int, default=2,
                        help="seconds each tool waits for one answer (ntpdate, ntpdig, Ostrelle's --timeout)")
    parser.add_argument("--budget", type=int, default=10,
                        help="seconds for the whole run of chronyd -Q and check_ntp_time (their -t)")
    parser.add_argument("--seed", type=int, default=19, help="the relay's seed (path i uses seed + i)")
    parser.add_argument("--impairment", choices=("auto", "netem", "relay"), default="auto")
    parser.add_argument("--markdown", help="also write the table here")
    parser.add_argument("--raw", help="write every run (offset, time, output) here as JSON")
    parser.add_argument("--results", help=argparse.SUPPRESS)
    parser.add_argument("--ostrelle-copy", help=argparse.SUPPRESS)
    parser.add_argument("--serve-relay", choices=tuple(PATHS), help=argparse.SUPPRESS)
    parser.add_argument("--ready", help=argparse.SUPPRESS)
    parser.add_argument("--stats", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.serve_relay:
        return serve_relay(arguments)
    arguments.paths = [p.strip() for p in arguments.paths.split(",") if p.strip()]
    if any(p not in PATHS for p in arguments.paths) or not 1 <= arguments.runs <= 1000:
        parser.error(f"paths are among {', '.join(PATHS)}; runs from 1 to 1000")
    if os.environ.get(INSIDE) == "1":
        return inside(arguments)

    if os.geteuid() != 0:
        sys.exit("needs root: a network namespace, tc on its loopback, and port 123 inside it")
    binary = os.path.abspath(arguments.ostrelle or os.path.join(arguments.build, "app", "ostrelle"))
    if not os.access(binary, os.X_OK):
        sys.exit(f"no ostrelle at {binary}: build it, or give --build or --ostrelle")
    install_missing()

    work = tempfile.mkdtemp(prefix="ostrelle-impaired-outer-")
    try:
        # A copy, so that a rebuild during the hour of runs cannot change what is measured.
        copy = os.path.join(work, "ostrelle")
        shutil.copy2(binary, copy)
        with open(copy, "rb") as file:
            digest = hashlib.sha256(file.read()).hexdigest()[:16]
        version = sh(copy, "--version").stdout.strip()
        results = os.path.join(work, "results.json")
        meta = {
            "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "ostrelle": f"{binary} ({version}, sha256 {digest}…), commit {source_commit(binary)}",
            "runs": f"{arguments.runs} per tool and path; wait {arguments.wait} s per answer, "
                    f"budget {arguments.budget} s for chronyd -Q and check_ntp_time",
            "load at start": " ".join(f"{x:.2f}" for x in os.getloadavg()),
        }
        argv = [sys.executable, os.path.abspath(__file__)] + sys.argv[1:] + [
            "--results", results, "--ostrelle-copy", copy]
        # --kill-child: the namespace's first process dies with unshare, the rest with it (PDEATHSIG).
        # Ctrl-C is for the process inside, which stops its runs, cleans up and keeps its results.
        previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
        try:
            namespace = subprocess.Popen(["unshare", "--net", "--kill-child", "--"] + argv,
                                         env=dict(os.environ, **{INSIDE: "1"}),
                                         preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
            status = namespace.wait()
        finally:
            signal.signal(signal.SIGINT, previous)
        meta["load at end"] = " ".join(f"{x:.2f}" for x in os.getloadavg())
        if status != 0:
            meta["ended early"] = f"status {status}; the figures cover the runs done until then"
        document = load_json(results)
        if not document:
            sys.exit(f"no results (the namespace's run ended with {status})")
        if document.get("relay_used"):
            meta["impairment"] = ("relay in the namespace (netem's tables, seed "
                                  f"{arguments.seed}+path); netem: {document.get('netem_error') or 'not tried'}")
        else:
            meta["impairment"] = "netem on lo in the namespace"
        meta["paths"] = "; ".join(f"{p}: {PATHS[p]['text']}" for p in arguments.paths)
        text = render(document, arguments, meta)
        print("\n" + text)
        if arguments.markdown:
            with open(arguments.markdown, "w") as file:
                file.write(text)
        if arguments.raw:
            with open(arguments.raw, "w") as file:
                json.dump(document, file, indent=1)
        return status
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
