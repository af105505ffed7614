#!/usr/bin/python3
"""Wall time and peak memory of `ostrelle --report` over 100 and 1,000 loopback NTP servers,
beside `ntpdate -q` over the same servers in the same run.

One child process answers on port 123 of 127.15.x.y (ntpdate only ever asks port 123, so this
needs root, and no NTP daemon may hold 127.15.x.y:123). Usage, from the top of the work tree:

    sudo bench/report_bench.py [--program build/app/ostrelle] [--counts 100,1000] [--samples 1]
The Windows build runs through the emulator its build made, which starts it under Wine without the
right to set the clock:
    sudo bench/report_bench.py --program build-windows/app/ostrelle.exe \
        --launcher build-windows/wine-emulator.sh
"""
import argparse
import mmap
import os
import selectors
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time


def addresses(count, network="127.15"):
    return [f"{network}.{i // 250}.{i % 250 + 1}" for i in range(count)]


def ntp(t):
    t += 2208988800
    return struct.pack("!II", int(t), int((t % 1) * 2**32))


def serve(count, ready, answered=None, port=123, network="127.15"):
    """Stratum 1 on every address until killed: the request's transmit field as our originate.
    Counts the replies in answered, a shared 8-byte counter, when given one."""
    selector = selectors.DefaultSelector()
    for address in addresses(count, network):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind((address, port))
        sock.setblocking(False)
        selector.register(sock, selectors.EVENT_READ)
    os.write(ready, b"x")
    while True:
        for key, _ in selector.select():
            try:
                request, peer = key.fileobj.recvfrom(512)
            except BlockingIOError:
                continue
            if len(request) < 48:
                continue
            received = time.time()
            head = bytes([0x24, 1, 6, 0xEC]) + bytes(8) + b"GPS\0" + ntp(received - 16) + request[40:48]
            key.fileobj.sendto(head + ntp(received) + ntp(time.time()), peer)
            if answered is not None:
                answered[:8] = struct.pack("Q", struct.unpack("Q", answered[:8])[0] + 1)


def measure(command, environment):
    """Wall seconds, peak resident KiB, exit status and standard output of one run."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=environment)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_maxrss, process.returncode, output.decode(errors="replace")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default="build/app/ostrelle")
    parser.add_argument("--counts", default="100,1000")
    parser.add_argument("--timeout", default="2", help="the report's --timeout, seconds")
    parser.add_argument("--samples", default="1", help="the report's --samples; 1 is one pass of the window")
    parser.add_argument("--launcher", default="", help="a command that runs the program, e.g. Wine's")
    arguments = parser.parse_args()
    counts = [int(c) for c in arguments.counts.split(",")]
    ntpdate = shutil.which("ntpdate") or shutil.which("ntpdate", path="/usr/sbin")

    answered = mmap.mmap(-1, 8)

    def replies():
        return struct.unpack("Q", answered[:8])[0]

    read_end, write_end = os.pipe()
    responder = os.fork()
    if responder == 0:
        os.close(read_end)
        serve(max(counts), write_end, answered)
        os._exit(0)
    os.close(write_end)
    try:
        if os.read(read_end, 1) != b"x":
            sys.exit("the responder could not bind 127.15.x.y:123 (root needed, port free?)")
        home = tempfile.mkdtemp()
        environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        environment["XDG_CONFIG_HOME"] = home
        print(f"{'servers':>7} {'program':<18} {'wall s':>8} {'peak KiB':>9} {'status':>6} {'requests':>8}  reported")
        for count in counts:
            servers = addresses(count)
            report = [arguments.program, "--report", "--format", "csv", "--timeout", arguments.timeout,
                      "--samples", arguments.samples] + servers
            if arguments.launcher:
                report.insert(0, arguments.launcher)
            before = replies()
            wall, peak, status, out = measure(report, environment)
            rows = f"{out.count(',answered,')} answered"
            print(f"{count:>7} {'ostrelle --report':<18} {wall:>8.3f} {peak:>9} {status:>6} "
                  f"{replies() - before:>8}  {rows}")
            if ntpdate:
                before = replies()
                wall, peak, status, out = measure([ntpdate, "-q"] + servers, environment)
                lines = f"{sum(1 for line in out.splitlines() if ' +/- ' in line)} line(s)"
                print(f"{count:>7} {'ntpdate -q':<18} {wall:>8.3f} {peak:>9} {status:>6} "
                      f"{replies() - before:>8}  {lines}")
            else:
                print(f"{count:>7} {'ntpdate -q':<22} not installed")
        shutil.rmtree(home)
    finally:
        os.kill(responder, signal.SIGTERM)
        os.waitpid(responder, 0)


if __name__ == "__main__":
    main()
