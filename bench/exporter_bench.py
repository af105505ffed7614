#!/usr/bin/python3
"""`ostrelle --exporter` over 1,000 loopback NTP servers: scrape time while passes run, CPU and
memory pass after pass, and memory over a thousand scrapes in a row.

One child process answers as stratum 1 on 127.16.x.y, port 12300 (no root needed: all of
127.0.0.0/8 is loopback on Linux). The exporter polls them with one sample each and the given
interval between passes, listening on 127.0.0.1; a scraper asks /metrics every 50 ms throughout,
and ten threads at once at the end. Nothing leaves loopback and the clock is never set. Usage,
from the top of the work tree:

    bench/exporter_bench.py [--program build/app/ostrelle] [--servers 1000] [--passes 10] [--interval 1]
"""
import argparse
import http.client
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import report_bench  # the loopback servers, beside this file

PORT = 12300
NETWORK = "127.16"


def addresses(count):
    return report_bench.addresses(count, NETWORK)


def serve(count, ready):
    report_bench.serve(count, ready, port=PORT, network=NETWORK)


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_mib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0.0


def scrape(port):
    start = time.perf_counter()
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", "/metrics")
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return time.perf_counter() - start, response.status, body


def metric(body, name):
    match = re.search(rb"^" + name.encode() + rb" ([0-9.e+-]+)$", body, re.M)
    return float(match.group(1)) if match else None


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default="build/app/ostrelle")
    parser.add_argument("--servers", type=int, default=1000)
    parser.add_argument("--passes", type=int, default=10)
    parser.add_argument("--interval", type=int, default=1)
    parser.add_argument("--port", type=int, default=19817)
    args = parser.parse_args()

    ready_read, ready_write = os.pipe()
    responder = os.fork()
    if responder == 0:
        os.close(ready_read)
        serve(args.servers, ready_write)
        os._exit(0)
    os.close(ready_write)
    os.read(ready_read, 1)

    home = tempfile.mkdtemp(prefix="ostrelle-exporter-bench-")
    environment = dict(os.environ, XDG_CONFIG_HOME=home, LC_ALL="C.UTF-8")
    environment.pop("DISPLAY", None)
    servers = [f"{a}:{PORT}" for a in addresses(args.servers)]
    exporter = subprocess.Popen([args.program, "--exporter", "--listen", f"127.0.0.1:{args.port}",
                                 "--interval", str(args.interval), "--samples", "1", "--timeout", "2"] + servers,
                                env=environment, stderr=subprocess.PIPE)
    try:
        for _ in range(100):
            try:
                scrape(args.port)
                break
            except OSError:
                time.sleep(0.05)
        started_cpu = cpu_seconds(exporter.pid)
        started = time.monotonic()
        latencies, rows, last_pass = [], [], 0
        while last_pass < args.passes:
            took, status, body = scrape(args.port)
            assert status == 200, status
            latencies.append(took)
            passes = int(metric(body, "ostrelle_exporter_passes_total") or 0)
            if passes > last_pass:
                last_pass = passes
                up = len(re.findall(rb"^ostrelle_server_up\{[^}]*\} 1$", body, re.M))
                rows.append((passes, metric(body, "ostrelle_exporter_pass_duration_seconds"), up,
                             cpu_seconds(exporter.pid) - started_cpu, rss_mib(exporter.pid), len(body)))
            time.sleep(0.05)
        elapsed = time.monotonic() - started
        cpu = cpu_seconds(exporter.pid) - started_cpu

        before = rss_mib(exporter.pid)
        sequential = [scrape(args.port)[0] for _ in range(1000)]
        after = rss_mib(exporter.pid)

        concurrent, failures = [], []
        def worker():
            for _ in range(50):
                took, status, _ = scrape(args.port)
                (concurrent if status == 200 else failures).append(took)
        threads = [threading.Thread(target=worker) for _ in range(10)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        final = rss_mib(exporter.pid)
    finally:
        exporter.send_signal(signal.SIGTERM)
        exporter.wait(10)
        os.kill(responder, signal.SIGTERM)
        os.waitpid(responder, 0)

    print(f"exporter over {args.servers} loopback servers, --interval {args.interval} --samples 1, "
          f"load {os.getloadavg()[0]:.2f}")
    print()
    print("| pass | pass took (s) | servers up | CPU since start (s) | RSS (MiB) | /metrics bytes |")
    print("|---:|---:|---:|---:|---:|---:|")
    for passes, took, up, used, rss, size in rows:
        print(f"| {passes} | {took:.3f} | {up} | {used:.2f} | {rss:.1f} | {size} |")
    print()
    print(f"CPU: {cpu:.2f} s over {elapsed:.1f} s ({100 * cpu / elapsed:.1f} % of one core)")
    print(f"scrapes while passing ({len(latencies)}): median {1000 * statistics.median(latencies):.2f} ms, "
          f"p99 {1000 * percentile(latencies, 99):.2f} ms, max {1000 * max(latencies):.2f} ms")
    print(f"1,000 scrapes in a row: median {1000 * statistics.median(sequential):.2f} ms, "
          f"p99 {1000 * percentile(sequential, 99):.2f} ms; RSS {before:.1f} -> {after:.1f} MiB")
    print(f"10 clients x 50 scrapes at once: median {1000 * statistics.median(concurrent):.2f} ms, "
          f"max {1000 * max(concurrent):.2f} ms, {len(failures)} failed; RSS {final:.1f} MiB")


if __name__ == "__main__":
    sys.exit(main())
