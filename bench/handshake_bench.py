#!/usr/bin/env python3
"""Times complete runs of corvane-handshake against corvane-emulator.

Starts one emulator with --link, runs the tool N times against it (each run a
complete "on" run) and prints, for the tool's process alone: the median wall
time, the median user+system CPU time and the peak resident memory, beside the
floor that the tool's fixed waits and the line's byte times set.

The floor: 4 x 200 ms of modem-line pulses, 200 ms after the switch to 115200
and 500 ms after the hand-over command (1500 ms), plus the bytes that the run
has to wait for at 115200 baud (10 bit times each): the setup request and the
ready reply, and every module-link frame in either direction but the host's
last acknowledgement, which nobody waits for (the earlier ones go out on the
wire ahead of the next request). The Plug-and-Play reply at 1200 baud arrives during
the last pulse step and adds nothing; the hand-over command travels during the
500 ms wait.

Usage: bench/handshake_bench.py [--runs N] [--build DIR]
"""

import argparse
import json
import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time

FIXED_WAITS_MS = 4 * 200 + 200 + 500
FAST_BAUD = 115200
BYTE_MS = 10 * 1000.0 / FAST_BAUD
HANDSHAKE_BYTES = len("KESTRAVIN SETUP") + len("KESTRAVIN READY")
SAMPLE_MS = 20  # how often the tool's memory high-water mark is read
EXPECTED_TAIL = "Handshake set on\nPlease power off and on Corvane Device\n"


def parse_args():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=20, help="complete runs to time (default 20)")
    parser.add_argument("--build", default=os.path.join(os.path.dirname(here), "build"),
                        help="the CMake build folder (default: build/ beside bench/)")
    return parser.parse_args()


def start_emulator(emulator, link, report):
    process = subprocess.Popen([emulator, "--quiet", "--json", report, "--link", link],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    line = process.stderr.readline()  # the emulator says so once the link is there
    if "serving" not in line:
        process.kill()
        sys.exit("the emulator did not start: " + line)
    return process


def high_water_kib(pid):
    """The process's peak resident set so far (VmHWM), 0 once it has gone."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def time_one_run(tool, link, output_path):
    """Wall time in ms, CPU time in ms, peak RSS in KiB, exit status.

    The peak RSS is not taken from wait4: a child spawned from here starts as
    a copy of this Python process, and Linux keeps the larger mark of the
    memory it had before exec. VmHWM belongs to the tool's own image and only
    ever rises, so the last reading before the tool ends is its peak.
    """
    env = dict(os.environ, COM1=link)
    peak = 0
    with open(output_path, "wb") as output:
        start = time.perf_counter()
        pid = os.posix_spawn(tool, [tool, "on"], env,
                             file_actions=[(os.POSIX_SPAWN_DUP2, output.fileno(), 1)])
        ended = select.poll()
        pidfd = os.pidfd_open(pid)
        ended.register(pidfd, select.POLLIN)
        while not ended.poll(SAMPLE_MS):
            peak = max(peak, high_water_kib(pid))
        os.close(pidfd)
        _, status, usage = os.wait4(pid, 0)
        wall_ms = (time.perf_counter() - start) * 1000.0
    cpu_ms = (usage.ru_utime + usage.ru_stime) * 1000.0
    return wall_ms, cpu_ms, peak, os.waitstatus_to_exitcode(status)


def main():
    args = parse_args()
    tool = os.path.join(args.build, "app", "corvane-handshake")
    emulator = os.path.join(args.build, "emulator", "corvane-emulator")
    for binary in (tool, emulator):
        if not os.access(binary, os.X_OK):
            sys.exit(binary + " is missing: build first (cmake --build " + args.build + ")")

    with tempfile.TemporaryDirectory(prefix="corvane-bench-") as scratch:
        link = os.path.join(scratch, "COM1")
        report_path = os.path.join(scratch, "report.json")
        output_path = os.path.join(scratch, "output.txt")
        served = start_emulator(emulator, link, report_path)
        walls, cpus, peak_rss = [], [], 0
        try:
            for run in range(args.runs):
                wall, cpu, rss, code = time_one_run(tool, link, output_path)
                with open(output_path) as output:
                    text = output.read()
                if code != 0 or not text.endswith(EXPECTED_TAIL):
                    sys.exit("run %d failed (exit %d):\n%s" % (run + 1, code, text))
                walls.append(wall)
                cpus.append(cpu)
                peak_rss = max(peak_rss, rss)
        finally:
            served.send_signal(signal.SIGTERM)
            served.wait(timeout=30)
        with open(report_path) as report_file:
            module = json.load(report_file)["module"]

    if module["resends"] or module["lost_from_host"] or module["dropped_from_host"]:
        print("note: the module link repeated frames (%d resends); the floor counts them"
              % module["resends"])
    link_bytes = (module["bytes_from_host"] + module["bytes_to_host"]) / args.runs
    last_ack_bytes = module["ack_bytes_from_host"] / max(1, module["ack_frames_from_host"])
    waited_bytes = HANDSHAKE_BYTES + link_bytes - last_ack_bytes
    floor_ms = FIXED_WAITS_MS + waited_bytes * BYTE_MS
    wall = statistics.median(walls)
    cpu = statistics.median(cpus)

    print("corvane-handshake on: %d complete runs against corvane-emulator --link" % args.runs)
    print("  wall time       median %.1f ms (min %.1f, max %.1f)" % (wall, min(walls), max(walls)))
    print("  floor           %.1f ms = %d ms of fixed waits + %.1f bytes at %d baud (%.1f ms)"
          % (floor_ms, FIXED_WAITS_MS, waited_bytes, FAST_BAUD, waited_bytes * BYTE_MS))
    print("  above floor     %+.2f %% (aim: within 5 %%)" % ((wall / floor_ms - 1) * 100))
    print("  CPU user+sys    median %.2f ms (max %.2f; aim: under 20 ms)" % (cpu, max(cpus)))
    print("  peak RSS        %d KiB (%.1f MiB), largest of the runs" % (peak_rss, peak_rss / 1024.0))


if __name__ == "__main__":
    main()
