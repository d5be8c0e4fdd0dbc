"""What scripts/soak and scripts/valgrind-check share: the tool's console
text on each road, and one run of a command under corvane-emulator in command
mode with its JSON report read back."""

import json
import os
import signal
import subprocess
import tempfile

NOT_FOUND = "Corvane not found on COM1\n"


def reached(id_echo):
    return "Contacting Corvane\nWaiting for PNP Reply\n" + id_echo


def pnp_failed(id_echo):
    return reached(id_echo) + "Do PNP failed\n" + NOT_FOUND


def handshake_failed(id_echo, ready_echo):
    return reached(id_echo) + "\n" + ready_echo + "PNP HS Failed\n" + NOT_FOUND


def found(id_echo="KVT3052"):
    return reached(id_echo) + "\nKESTRAVIN READY\nSuccess\n"


def complete(word, id_echo="KVT3052"):
    return found(id_echo) + "Handshake set " + word + "\nPlease power off and on Corvane Device\n"


# What the module holds after a complete run with each word.
WRITTEN = {"on": (0xA8, 4, 0), "off": (0xA0, 4, 0)}


def module_values(report):
    module = report["module"]
    return (module["uart_config"], module["host_interface"], module["vm_disable"])


class Run:
    """One finished (or killed) run: the command's exit status and standard
    output as the emulator reported and passed them on, and the report."""

    def __init__(self):
        self.hung = False
        self.emulator_status = None
        self.emulator_error = ""
        self.out = ""
        self.report = None  # None when there is none

    @property
    def command_exit(self):
        return None if self.report is None else self.report["command_exit"]


def run_under_emulator(emulator, options, command, limit):
    """corvane-emulator --quiet --json FILE OPTIONS -- COMMAND, killed with
    everything it started after `limit` seconds."""
    run = Run()
    with tempfile.TemporaryDirectory(prefix="corvane-run-") as scratch:
        report_path = os.path.join(scratch, "report.json")
        argv = [emulator, "--quiet", "--json", report_path] + list(options) + ["--"] + list(command)
        process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        try:
            out, err = process.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            run.hung = True
            return run
        # With --quiet the emulator prints nothing of its own on standard
        # output: what is there is the command's.
        run.out = out.decode("latin-1")
        run.emulator_status = process.returncode
        run.emulator_error = err.decode("latin-1").strip()
        try:
            with open(report_path) as handle:
                run.report = json.load(handle)
        except (OSError, ValueError):
            run.report = None
    return run
