# SPDX-License-Identifier: MIT
"""Processes, waits and frames for the system tests and bench/. A wait follows the program's pace (frames drawn, a
socket made), its bound only a guard against a hang; failing, it says what it waited for and shows the logs' ends."""
import contextlib
import os
import resource
import signal
import subprocess
import sys
import time
import uuid
from pathlib import Path

import psutil


class Failed(AssertionError):
    """A check or a wait that did not hold; pytest shows it as a failure."""


def tail(path, lines=20):
    """The last lines of a log file, indented, or a note that it is empty."""
    if not Path(path).exists():
        return f"  ({path}: none)"
    text = Path(path).read_text(errors="replace").splitlines()[-lines:]
    return "\n".join(f"  | {line}" for line in text) or f"  ({path}: empty)"


def wait_for(what, predicate, timeout, interval=0.05, process=None, logs=None):
    """Polls predicate until it returns something true and returns that; fails when timeout seconds have gone, or at
    once if process has ended, showing LOGS (by default the process's)."""
    logs = process.logs() if logs is None and process else logs or ()
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        ended = process is not None and not process.alive()
        if ended or time.monotonic() > deadline:
            why = f"{process.name} ended with status {process.status}" if ended else f"not within {timeout:g} s"
            shown = "\n".join(f"{log}:\n{tail(log)}" for log in logs)
            raise Failed(f"waited for {what}: {why}\n{shown}")
        time.sleep(interval)
    return value


class Process:
    """A process with stdout and stderr in FOLDER/NAME.out and .err, a mark in
    its environment, no core file if it crashes."""

    def __init__(self, argv, name, folder, env=None, cwd=None, mark=None, **popen):
        self.name = name
        self.out, self.err = Path(folder) / f"{name}.out", Path(folder) / f"{name}.err"
        env = dict(os.environ if env is None else env, ORVAN_TEST_MARK=mark or uuid.uuid4().hex)
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.popen = subprocess.Popen(argv, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env, cwd=cwd,
                                          preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)),
                                          **popen)
        self.pid = self.popen.pid

    status = property(lambda self: self.popen.poll())

    def alive(self):
        return self.status is None

    def wait(self, timeout):
        """The exit status, or None if it still ran after TIMEOUT seconds (then killed)."""
        with contextlib.suppress(subprocess.TimeoutExpired):
            return self.popen.wait(timeout)
        self.popen.kill()
        self.popen.wait()
        return None

    def stop(self, sig=signal.SIGTERM):
        if self.alive():
            self.popen.send_signal(sig)
        self.wait(10)

    stdout = lambda self: self.out.read_text(errors="replace")  # noqa: E731
    stderr = lambda self: self.err.read_text(errors="replace")  # noqa: E731
    logs = lambda self: (self.out, self.err)  # noqa: E731


def leftovers(mark, folder=None):
    """Processes running with MARK in their environment or a path in FOLDER in their command
    line (a process may write over its environment, as Chromium's helpers do)."""
    return [p for p in psutil.process_iter(["cmdline", "environ", "status"]) if p.info["status"] != psutil.STATUS_ZOMBIE
            and ((p.info["environ"] or {}).get("ORVAN_TEST_MARK") == mark
                 or folder is not None and any(f"{folder}/" in arg for arg in p.info["cmdline"] or ()))]


def kill_leftovers(mark, folder=None):
    """Kills what still runs with MARK (or FOLDER) after 5 s (a stopped compositor's clients end by themselves) and
    says what it was ("" if none)."""
    psutil.wait_procs(leftovers(mark, folder), timeout=5)
    left = leftovers(mark, folder)
    for proc in left:
        with contextlib.suppress(psutil.Error):
            proc.kill()
    psutil.wait_procs(left, timeout=5)
    return ", ".join(f"{p.pid} {p.info['cmdline'][:1]}" for p in left)


class Program(Process):
    """The program, counting its frames through the frame counter preload (then ORVAN_PROGRAM_PRELOAD, for the
    sanitizer build) into a file (a native u64)."""

    def __init__(self, program, frame_counter, folder, env, cwd=None, name="program", mark=None):
        self.count = Path(folder) / f"{name}.frames"
        self.count.unlink(missing_ok=True)
        preload = ":".join(filter(None, [str(frame_counter), os.environ.get("ORVAN_PROGRAM_PRELOAD")]))
        env = dict(env, ORVAN_FRAME_COUNT_FILE=str(self.count), LD_PRELOAD=preload)
        super().__init__([str(program)], name, folder, env=env, cwd=cwd, mark=mark)

    def frames(self):
        with contextlib.suppress(OSError):
            return int.from_bytes(self.count.read_bytes()[:8], sys.byteorder)
        return 0

    def wait_frames(self, n):
        """Waits until the program has finished N frames."""
        wait_for(f"frame {n} of the program (drawn: {self.frames()})", lambda: self.frames() >= n, 60, process=self)
        return self.frames()


def clean_env(**extra):
    """This process's environment without any display, plus EXTRA (None: removed)."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", *extra)}
    return dict(env, **{key: str(value) for key, value in extra.items() if value is not None})
