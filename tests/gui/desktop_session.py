"""A desktop session of its own for a test: an X server (Xvfb), a private session bus, and through
it the accessibility bus that screen readers read. Nothing is shared with the machine's own
session, so tests run side by side; everything started here is stopped on leaving."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# A time-out of the test runner ends the driver with SIGTERM: leave through the finally blocks.
signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended by SIGTERM"))


class DesktopSession:
    def __init__(self, bus=True):
        self.dir = tempfile.mkdtemp(prefix="quorvane-desktop-")
        os.chmod(self.dir, 0o700)
        self.procs = []
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                 "QT_QPA_PLATFORM", "QT_QPA_PLATFORMTHEME", "QT_SCALE_FACTOR")}
        self.env.update({"XDG_RUNTIME_DIR": self.dir, "XDG_CONFIG_HOME": self.dir + "/config",
                         "HOME": self.dir, "QT_QPA_PLATFORM": "xcb",
                         "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "NO_AT_BRIDGE": "0"})
        try:
            self._start_x()
            if bus:
                self._start_bus()
        except BaseException:
            self.close()
            raise

    def _spawn(self, args, **kw):
        proc = subprocess.Popen(args, env=self.env, start_new_session=True, **kw)
        self.procs.append(proc)
        return proc

    def _read_line(self, proc, what):
        line = proc.stdout.readline().decode().strip()
        if not line:
            raise RuntimeError("%s did not start" % what)
        return line

    def _start_x(self):
        read, write = os.pipe()
        proc = self._spawn(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                            "1366x768x24"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as r:
            number = r.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number
        del proc

    def _start_bus(self):
        # At the user's bus socket, where a session's programs find it without the variable.
        proc = self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                            "--address=unix:path=%s/bus" % self.dir], stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._read_line(proc, "dbus-daemon")

    def apply(self):
        """Makes this session the one of the test process itself (pyatspi, python-dbus)."""
        os.environ.clear()
        os.environ.update(self.env)

    def close(self):
        # The accessibility bus leaves with the session bus it was started from.
        for proc in reversed(self.procs):
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGTERM)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def wait_for(predicate, limit=60.0, step=0.1):
    """Polls until predicate() is true; generous limits, as the machine may be loaded."""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()
