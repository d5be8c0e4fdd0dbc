#!/usr/bin/env python3
"""An installed tree works on its own, wherever it is moved: installs the
build into a temporary prefix, checks the layout, moves the tree elsewhere
and runs the installed emulator with the installed tool. The emulator must
preload the installed modem-line library (not the build's), judge the
pulses and accept them, and the module must end with the tool's values.

    installed_tree_test.py --build DIR --libdir LIBDIR [--config CONFIG]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

RUN_LIMIT_S = 60  # a complete run takes about 2 s; a hang must fail, not stall


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def check_layout(prefix, libdir):
    wanted = [
        "bin/corvane-handshake",
        "bin/corvane-emulator",
        libdir + "/corvane-handshake/libcorvane_modem_lines.so",
        "share/man/man1/corvane-handshake.1.gz",
        "share/man/man1/corvane-emulator.1.gz",
        "share/doc/corvane-handshake/LICENSE",
        "share/doc/corvane-handshake/README.md",
    ]
    for path in wanted:
        if not os.path.isfile(os.path.join(prefix, path)):
            fail("the install lacks %s; it holds:\n  %s" % (path, "\n  ".join(sorted(
                os.path.relpath(os.path.join(d, f), prefix) for d, _, fs in os.walk(prefix) for f in fs))))
    for program in ("bin/corvane-handshake", "bin/corvane-emulator"):
        if not os.access(os.path.join(prefix, program), os.X_OK):
            fail("%s is not executable" % program)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--libdir", required=True)
    parser.add_argument("--config", default="")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="corvane-installed-")
    try:
        first = os.path.join(scratch, "first")
        install = ["cmake", "--install", args.build, "--prefix", first]
        if args.config:
            install += ["--config", args.config]
        done = subprocess.run(install, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            fail("cmake --install failed:\n" + done.stdout)
        check_layout(first, args.libdir)

        moved = os.path.join(scratch, "elsewhere", "moved")
        os.makedirs(os.path.dirname(moved))
        shutil.move(first, moved)

        report = os.path.join(scratch, "report.json")
        preload_seen = os.path.join(scratch, "preload.txt")
        environment = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "COM1")}
        # A shell between the two records what the emulator preloaded, then
        # becomes the tool itself.
        command = [os.path.join(moved, "bin", "corvane-emulator"), "--quiet", "--json", report, "--",
                   "sh", "-c", 'printf %s "$LD_PRELOAD" > "$1" && exec "$0" on',
                   os.path.join(moved, "bin", "corvane-handshake"), preload_seen]
        try:
            done = subprocess.run(command, cwd=scratch, env=environment, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True, timeout=RUN_LIMIT_S)
        except subprocess.TimeoutExpired:
            fail("the installed emulator did not end within %d s" % RUN_LIMIT_S)
        if done.returncode != 0:
            fail("the installed emulator ended with %d:\n%s" % (done.returncode, done.stdout))

        with open(preload_seen) as f:
            preloaded = f.read()
        library = os.path.join(moved, args.libdir, "corvane-handshake", "libcorvane_modem_lines.so")
        if os.path.realpath(preloaded) != os.path.realpath(library):
            fail("the emulator preloaded %r, not the moved tree's %r" % (preloaded, library))

        with open(report) as f:
            facts = json.load(f)
        adapter, module = facts["adapter"], facts["module"]
        checks = [
            ("command_exit", facts["command_exit"], 0),
            ("adapter.pulse_check", adapter["pulse_check"], "judged"),
            ("adapter.pulses[0].accepted", adapter["pulses"][0]["accepted"] if adapter["pulses"] else None, True),
            ("adapter.handover", adapter["handover"], True),
            ("module.uart_config", module["uart_config"], 0xA8),
            ("module.host_interface", module["host_interface"], 4),
            ("module.vm_disable", module["vm_disable"], 0),
        ]
        wrong = ["%s is %r, not %r" % (name, got, want) for name, got, want in checks if got != want]
        if wrong:
            fail("; ".join(wrong))
        print("the moved tree's emulator judged and accepted the pulses; the module holds 0xA8, 4, 0")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
