# SPDX-License-Identifier: MIT
"""Processes, waits and frames for the system tests, and for the scripts that
measure the program (without pytest). Every wait follows the program's own
pace where it can (frames drawn, a socket made) and has a bound only as a
guard against a hang; a wait that fails says what it waited for and shows
the end of the logs involved."""
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
    try:
        text = Path(path).read_text(errors="replace").splitlines()[-lines:]
    except OSError:
        return f"  ({path}: none)"
    return "\n".join(f"  | {line}" for line in text) or f"  ({path}: empty)"


def wait_for(what, predicate, timeout=60.0, interval=0.05, process=None, logs=()):
    """Polls predicate until it returns something true and returns that; fails
    when timeout seconds have gone, or at once if process has ended."""
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
    """A process started for a test: stdout and stderr in FOLDER/NAME.out and
    .err, a mark in its environment, no core file if it crashes. stop() ends
    it and waits for it."""

    def __init__(self, argv, name, folder, env=None, cwd=None, mark=None, **popen):
        self.name = name
        self.out, self.err = Path(folder) / f"{name}.out", Path(folder) / f"{name}.err"
        env = dict(os.environ if env is None else env, ORVAN_TEST_MARK=mark or uuid.uuid4().hex)
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.popen = subprocess.Popen(argv, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env, cwd=cwd,
                                          preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)),
                                          **popen)
        self.pid = self.popen.pid

    @property
    def status(self):
        return self.popen.poll()

    def alive(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """The exit status, or None if it was still running after timeout
        seconds (it is then killed)."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            self.popen.wait()
            return None

    def stop(self, sig=signal.SIGTERM, timeout=10):
        if self.alive():
            self.popen.send_signal(sig)
        self.wait(timeout)

    def stdout(self):
        return self.out.read_text(errors="replace")

    def stderr(self):
        return self.err.read_text(errors="replace")

    def logs(self):
        return (self.out, self.err)


def leftovers(mark, folder=None):
    """Processes still running with MARK in their environment, or (if FOLDER
    is given) with a path in FOLDER in their command line: a process may write
    over its environment (Chromium's helpers write their command line there)."""
    return [p for p in psutil.process_iter(["cmdline", "environ", "status"]) if p.info["status"] != psutil.STATUS_ZOMBIE
            and ((p.info["environ"] or {}).get("ORVAN_TEST_MARK") == mark
                 or folder is not None and any(f"{folder}/" in arg for arg in p.info["cmdline"] or ()))]


def kill_leftovers(mark, grace=5, folder=None):
    """Kills what is still running with MARK (or FOLDER) after GRACE seconds (a
    stopped compositor's own clients end by themselves once their connection
    breaks) and returns a description of it (empty if nothing was left)."""
    psutil.wait_procs(leftovers(mark, folder), timeout=grace)
    left = leftovers(mark, folder)
    for proc in left:
        with contextlib.suppress(psutil.Error):
            proc.kill()
    psutil.wait_procs(left, timeout=5)
    return ", ".join(f"{p.pid} {p.info['cmdline'][:1]}" for p in left)


class Program(Process):
    """The program, counting its frames through the frame counter preload
    (with ORVAN_PROGRAM_PRELOAD after it, as the sanitizer build needs), which
    writes the count into a file (a native unsigned 64-bit integer)."""

    def __init__(self, program, frame_counter, folder, env, cwd=None, name="program", mark=None):
        self.count = Path(folder) / f"{name}.frames"
        self.count.unlink(missing_ok=True)
        preload = ":".join(filter(None, [str(frame_counter), os.environ.get("ORVAN_PROGRAM_PRELOAD")]))
        env = dict(env, ORVAN_FRAME_COUNT_FILE=str(self.count), LD_PRELOAD=preload)
        super().__init__([str(program)], name, folder, env=env, cwd=cwd, mark=mark)

    def frames(self):
        """The count of frames it has finished."""
        try:
            return int.from_bytes(self.count.read_bytes()[:8], sys.byteorder)
        except OSError:
            return 0

    def wait_frames(self, n, timeout=60):
        """Waits until the program has finished N frames."""
        wait_for(f"frame {n} of the program (drawn: {self.frames()})", lambda: self.frames() >= n,
                 timeout, process=self, logs=self.logs())
        return self.frames()


def clean_env(**extra):
    """This process's environment without any display, plus EXTRA; a value of
    None removes that variable."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", *extra)}
    return dict(env, **{key: str(value) for key, value in extra.items() if value is not None})
