#!/usr/bin/env python3
"""Runs the program headless on the bus simulator for a while and reports what it costs.

    tools/headless_soak.py --build build --minutes 60 --sensors 10

Starts kalvex-bussim with SENSORS sensors on a pty linked as COM1 in a scratch folder, then
`kalvex --headless --dir` on it with the web server on, scrapes /metrics every 15 s as a
Prometheus server would, and samples the resident memory once a minute. Prints one line per
sample and a summary: readings stored, resident memory (first minute, peak, last), and CPU
time as a share of one core.
"""
import argparse
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.request


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def with_crc(rom):
    """The 14 hex digits of family and serial with the 1-Wire CRC byte appended."""
    crc = 0
    for byte in bytes.fromhex(rom):
        for _ in range(8):
            mix = (crc ^ byte) & 1
            crc >>= 1
            if mix:
                crc ^= 0x8C
            byte >>= 1
    return rom + f"{crc:02X}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--sensors", type=int, default=10)
    parser.add_argument("--port", type=int, default=18080)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="kalvex-soak-")
    serials = [with_crc(f"28{i:02X}EDC7050000") for i in range(args.sensors)]
    with open(os.path.join(folder, "Kalvex.ini"), "w", encoding="utf-8-sig") as ini:
        ini.write(f"[General]\nCOMPort=1\nHTTPActive=1\nHTTPPort={args.port}\n[Items]\n")
        for i, sn in enumerate(serials):
            ini.write(f"ItemName{i}=Датчик {i}\nItemSN{i}={sn}\nItemEnable{i}=1\n")
        ini.write(f"ItemCount={len(serials)}\n")

    bus = subprocess.Popen([os.path.join(args.build, "tools", "kalvex-bussim"), "--dir", folder]
                           + [f"{sn}=sine:20:5:600" for sn in serials], stdout=subprocess.DEVNULL)
    time.sleep(1)
    program = subprocess.Popen([os.path.join(args.build, "src", "app", "kalvex"), "--headless", "--dir", folder],
                               stderr=subprocess.DEVNULL, env={**os.environ, "LANG": "ru_RU.UTF-8", "LC_ALL": "ru_RU.UTF-8"})
    start = time.monotonic()
    samples = []
    next_sample = start + 60
    scrapes = failed_scrapes = 0
    try:
        while time.monotonic() - start < args.minutes * 60:
            time.sleep(15)
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{args.port}/metrics", timeout=5).read()
                scrapes += 1
            except OSError:
                failed_scrapes += 1
            if time.monotonic() >= next_sample:
                next_sample += 60
                samples.append(rss_kib(program.pid))
                print(f"minute {len(samples)}: rss {samples[-1] / 1024:.1f} MiB, "
                      f"cpu {cpu_seconds(program.pid):.1f} s", flush=True)
        elapsed = time.monotonic() - start
        cpu = cpu_seconds(program.pid)
    finally:
        program.send_signal(signal.SIGTERM)
        program.wait(10)
        bus.send_signal(signal.SIGINT)
        bus.wait(10)
    rows = sqlite3.connect(os.path.join(folder, "Kalvex.st")).execute("select count(*) from stats").fetchone()[0]
    print(f"sensors={args.sensors} minutes={elapsed / 60:.1f} rows={rows} scrapes={scrapes} failed={failed_scrapes} "
          f"rss_first_mb={samples[0] / 1024:.1f} rss_peak_mb={max(samples) / 1024:.1f} "
          f"rss_last_mb={samples[-1] / 1024:.1f} cpu_s={cpu:.1f} cpu_share={100 * cpu / elapsed:.2f}%")


if __name__ == "__main__":
    sys.exit(main())
