"""The windows as a store employee meets them, in a desktop session of the test's own (Xvfb, a
private session bus, the real accessibility bus): the synchronization window's tree as a screen
reader reads it after a run with a success and a failure, the announcement of the run's end,
the desktop notification received by a stand-in notification service (and none without a bus),
the keyboard of the configuration windows driven with xdotool, and a scheduled run that leaves
the keyboard with the application in use."""

import argparse
import configparser
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reliability"))
from desktop_session import DesktopSession, wait_for  # noqa: E402
import relsupport  # noqa: E402

SYNC_TITLE = "Quorvane Client - Avancement de la synchronisation"
CONFIG_TITLE = "Paramétrage de la Quorvane client"
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)


def pump(seconds=0.0):
    """Lets the test's own GLib loop deliver accessibility events and D-Bus calls."""
    from gi.repository import GLib
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while True:
        while context.pending():
            context.iteration(False)
        if time.monotonic() >= end:
            return
        time.sleep(0.02)


def pump_until(predicate, limit=90.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        pump(0.05)
        if predicate():
            return True
    return bool(predicate())


def nodes(root):
    """Every object under root, depth first, as (depth, object)."""
    stack = [(0, root)]
    while stack:
        depth, node = stack.pop()
        yield depth, node
        try:
            children = [node.getChildAtIndex(i) for i in range(node.childCount)]
        except Exception:  # an object that went away while being read
            children = []
        stack.extend((depth + 1, c) for c in reversed(children) if c is not None)


def find_window(title):
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None:
            continue
        for window in app:
            if window is not None and window.name == title:
                return window
    return None


def alert_of(title):
    """The message box of that title, when one is shown."""
    import pyatspi
    for app in pyatspi.Registry.getDesktop(0):
        for window in app or []:
            if window is not None and window.name == title and window.getRoleName() == "alert":
                return window
    return None


def showing(node):
    import pyatspi
    return node.getState().contains(pyatspi.STATE_SHOWING)


def tree_text(window):
    lines = []
    for depth, node in nodes(window):
        description = (" — " + node.description) if node.description else ""
        lines.append("%s[%s] %r%s" % ("  " * depth, node.getRoleName(), node.name, description))
    return "\n".join(lines)


def focused_name():
    import pyatspi
    for title in (CONFIG_TITLE, "Paramétrage FTP"):
        window = find_window(title)
        if window is None:
            continue
        for _, node in nodes(window):
            if node.getState().contains(pyatspi.STATE_FOCUSED) and node.getRoleName() != "frame":
                return node.name
    return None


def xdotool(*args):
    return subprocess.run(["xdotool"] + list(args), check=True, capture_output=True,
                          text=True).stdout.strip()


def x_window(title):
    found = subprocess.run(["xdotool", "search", "--name", "^%s$" % title],
                           capture_output=True, text=True).stdout.split()
    return found[0] if found else None


class StandInNotifications:
    """org.freedesktop.Notifications on the private bus: records every notification. One for
    the whole driver; `received` is emptied by each test."""

    def __init__(self):
        import dbus
        import dbus.service
        from dbus.mainloop.glib import DBusGMainLoop
        DBusGMainLoop(set_as_default=True)
        self.received = []
        outer = self

        class Service(dbus.service.Object):
            @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                                 out_signature="u")
            def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
                outer.received.append({"app": str(app), "summary": str(summary),
                                       "body": str(body), "actions": [str(a) for a in actions]})
                return len(outer.received)

            @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
            def GetCapabilities(self):
                return ["actions", "body"]

            @dbus.service.signal("org.freedesktop.Notifications", signature="us")
            def ActionInvoked(self, id_, key):
                pass

        # Not the connection the accessibility library shares.
        self.bus = dbus.SessionBus(private=True)
        self.name = dbus.service.BusName("org.freedesktop.Notifications", self.bus)
        self.service = Service(self.bus, "/org/freedesktop/Notifications")


def session_env():
    """The session for the program; its PATH stays the program folder's, with the stand-in
    viewer."""
    return {k: v for k, v in os.environ.items() if k != "PATH"}


def store_with_one_failure(binary):
    """Purchase conditions fail (their file is missing at the head office), personalisation
    succeeds."""
    folder = relsupport.ProgramFolder(binary, categories=(1, 1, 0, 0))
    relsupport.write_headoffice(folder, 5, 1)
    (folder.source / "remise_achat.xml").unlink()
    return folder


def opened(folder):
    path = folder.root / "opened.txt"
    return path.read_text().split("\n") if path.exists() else []


def test_sync_window_tells_the_outcome(binary, notifications):
    import pyatspi
    notifications.received.clear()
    shown = []

    def on_showing(event):
        try:
            if event.detail1 == 1 and event.source.getRoleName() == "notification":
                shown.append(event.source.name)
        except Exception:  # the source went away before it was read
            pass

    pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
    folder = store_with_one_failure(binary)
    proc = folder.start(extra_env=session_env())
    try:
        check(pump_until(lambda: notifications.received, 120), "no notification received")
        pump(1.0)  # a second announcement would come right after the first
        window = find_window(SYNC_TITLE)
        check(window is not None, "the synchronization window is not on the accessibility bus")
        if window is None:
            return
        print("Tree of the synchronization window after the run:\n" + tree_text(window))
        check(window.getRoleName() == "frame", "the window is a %s" % window.getRoleName())
        print("Notification received: %r" % notifications.received)
        everything = [n for _, n in nodes(window)]
        images = sorted(n.name for n in everything if n.getRoleName() == "image")
        check(images == ["Conditions d'achats : intégration échouée",
                         "Conditions d'achats : téléchargement échoué",
                         "Personnalisation des modèles : intégration réussie",
                         "Personnalisation des modèles : téléchargement réussi"],
              "images in the tree: %r" % images)
        bars = sorted(n.name for n in everything if n.getRoleName() == "progress bar")
        check(bars == ["Conditions d'achats", "Documents", "Fermeture de la fenêtre", "Messages",
                       "Personnalisation des modèles"], "progress bars: %r" % bars)
        announcements = [n for n in everything if n.getRoleName() == "notification"]
        expected = ("Synchronisation terminée avec des erreurs.\n"
                    "Conditions d'achats : téléchargement échoué, intégration échouée.\n"
                    "Personnalisation des modèles : téléchargement réussi, intégration réussie.\n"
                    "1 erreur, détaillée dans le rapport.")
        check([a.name for a in announcements] == [expected] and showing(announcements[0]),
              "announcement in the tree: %r" % [a.name for a in announcements])
        check(shown == [expected], "announcements told: %r" % shown)

        check(len(notifications.received) == 1, "notifications: %r" % notifications.received)
        note = notifications.received[0]
        check(note["app"] == "QuorvaneClient" and
              note["summary"] == "Synchronisation terminée avec des erreurs" and
              note["body"] == expected.split("\n", 1)[1] and
              note["actions"] == ["ouvrir-rapport", "Ouvrir le rapport"],
              "notification: %r" % note)
        # The report was handed to the desktop once; the action hands it again.
        check(wait_for(lambda: len([l for l in opened(folder) if l]) == 1, 30),
              "hand-offs before the action: %r" % opened(folder))
        notifications.service.ActionInvoked(1, "ouvrir-rapport")
        check(pump_until(lambda: [l for l in opened(folder) if l] == [str(folder.report)] * 2,
                         30), "hand-offs after the action: %r" % opened(folder))
    finally:
        pyatspi.Registry.deregisterEventListener(on_showing, "object:state-changed:showing")
        relsupport.kill(proc)
        folder.close()


def end_autolaunched_buses(runtime_dir):
    """Qt's accessibility bridge asks libdbus for the session bus at start-up; without one,
    libdbus starts a bus for the display (dbus-launch --autolaunch) that outlives the program.
    Those started for this run's folder are ended."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            comm = Path("/proc/%s/comm" % pid).read_text().strip()
            environ = Path("/proc/%s/environ" % pid).read_bytes().split(b"\0")
        except OSError:
            continue
        if comm in ("dbus-daemon", "dbus-launch") and \
                ("XDG_RUNTIME_DIR=%s" % runtime_dir).encode() in environ:
            try:
                os.kill(int(pid), signal.SIGTERM)
            except ProcessLookupError:
                pass


def test_notification_needs_a_bus(binary, notifications):
    """Without the variable the user's bus socket is found; with neither nothing is sent, and
    the run still ends with its report handed to the desktop."""
    for socket_found in (True, False):
        pump(1.0)  # what earlier runs sent
        notifications.received.clear()
        folder = store_with_one_failure(binary)
        env = session_env()
        address = os.environ.pop("DBUS_SESSION_BUS_ADDRESS")
        env.pop("DBUS_SESSION_BUS_ADDRESS")
        if not socket_found:
            env["XDG_RUNTIME_DIR"] = str(folder.root)
        try:
            proc = folder.start(extra_env=env)
        finally:
            os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        try:
            check(wait_for(lambda: folder.report_complete() and opened(folder), 120),
                  "no report handed to the desktop (socket: %s)" % socket_found)
            pump_until(lambda: notifications.received, 5.0)
            check(len(notifications.received) == (1 if socket_found else 0),
                  "notifications with%s the bus socket: %r"
                  % ("" if socket_found else "out", notifications.received))
            check(proc.poll() is None, "the program ended early (socket: %s)" % socket_found)
        finally:
            relsupport.kill(proc)
            end_autolaunched_buses(folder.root)
            folder.close()


def test_notification_without_application(notifier, notifications):
    """A run without a window has no event loop: the service's answer is awaited, briefly, and
    nothing is attempted without a bus."""
    pump(1.0)
    notifications.received.clear()
    proc = subprocess.Popen([notifier, "Messages : téléchargement échoué", "/tmp/rapport.html"],
                            env=os.environ, stdout=subprocess.PIPE, text=True)
    check(pump_until(lambda: proc.poll() is not None, 60), "the notifier did not end")
    check(proc.stdout.read().strip() == "envoyée" and len(notifications.received) == 1 and
          notifications.received[0]["body"] == "Messages : téléchargement échoué",
          "without an application: %r" % notifications.received)
    env = {k: v for k, v in os.environ.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
    env["XDG_RUNTIME_DIR"] = "/nonexistent"
    out = subprocess.run([notifier, "x", ""], env=env, capture_output=True, text=True, timeout=60)
    check(out.stdout.strip() == "non envoyée", "without a bus: %r" % out.stdout)


def test_headless_runs_notify_only_when_they_synchronize(binary, notifications):
    """A scheduled run in an open session tells the desktop of its entries; a dry run never."""
    for option, expected in (("--unattended", 1), ("--dry-run", 0)):
        pump(1.0)
        notifications.received.clear()
        folder = store_with_one_failure(binary)
        try:
            proc = subprocess.Popen([str(folder.root / "QuorvaneClient"), option],
                                    cwd=folder.root, env=session_env(),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            check(pump_until(lambda: proc.poll() is not None, 120), option + " did not end")
            pump_until(lambda: notifications.received, 3.0)
            check(proc.returncode == 1 and len(notifications.received) == expected,
                  "%s: exit %s, notifications %r" % (option, proc.returncode,
                                                      notifications.received))
        finally:
            folder.close()


def test_sync_window_leaves_the_keyboard(binary):
    """A till (xev, which prints the keys it receives) has the keyboard; the synchronization
    window appears; typed keys still reach the till."""
    folder = store_with_one_failure(binary)
    keys = folder.root / "till.txt"
    with open(keys, "wb") as out:
        till = subprocess.Popen(["xev", "-name", "caisse", "-event", "keyboard"], stdout=out,
                                env=os.environ, start_new_session=True)
    proc = None
    try:
        till_id = wait_for(lambda: x_window("caisse"), 30)
        xdotool("windowfocus", "--sync", till_id)
        proc = folder.start(extra_env=session_env())
        sync = wait_for(lambda: x_window(SYNC_TITLE), 60)
        check(sync, "the synchronization window never showed")
        # What a window manager reads to leave the keyboard where it is (a user time of 0);
        # without one, nobody moves it anyway, which the keys typed below check.
        user_time = subprocess.run(["xprop", "-id", sync or "0", "_NET_WM_USER_TIME"],
                                   capture_output=True, text=True).stdout.strip()
        check(user_time == "_NET_WM_USER_TIME(CARDINAL) = 0", "user time: %r" % user_time)
        wait_for(folder.report_complete, 120)
        time.sleep(1.0)
        check(xdotool("getwindowfocus") == till_id, "the synchronization window took the focus")
        xdotool("type", "--delay", "50", "1234")
        check(wait_for(lambda: all("(keysym 0x3%d, %d)" % (i, i) in keys.read_text()
                                   for i in range(1, 5)), 30),
              "the till did not receive the keys typed")
    finally:
        if proc is not None:
            relsupport.kill(proc)
        relsupport.kill(till)
        folder.close()


def test_configuration_keyboard(binary):
    folder = relsupport.ProgramFolder(binary, categories=(0, 0, 0, 0))
    ini = folder.root / "QuorvaneClient.ini"
    original = ini.read_bytes()

    def start():
        proc = subprocess.Popen([str(folder.root / "QuorvaneClient"), "CONFIG"], cwd=folder.root,
                                env=os.environ, start_new_session=True)
        window = wait_for(lambda: x_window(CONFIG_TITLE), 60)
        check(window, "the configuration window never showed")
        xdotool("windowfocus", "--sync", window)
        return proc

    try:
        proc = start()
        check(wait_for(focused_name, 30) == "Récupérer les conditions d'achats",
              "first focus: %r" % focused_name())
        round_ = []
        for _ in range(8):
            before = focused_name()
            xdotool("key", "Tab")
            wait_for(lambda: focused_name() != before, 10)
            round_.append(focused_name())
        check(round_ == ["Récupérer la personnalisation des modèles", "Récupérer les messages",
                         "Dossier source", "Récupération du paramétrage Quorvane par chemin",
                         "Choisir le dossier source", "Récupérer les documents", "Enregistrer",
                         "Récupérer les conditions d'achats"], "tab round: %r" % round_)
        # Space checks the first box; Escape leaves without saving, as the close box does.
        xdotool("key", "space", "Escape")
        check(wait_for(lambda: proc.poll() is not None, 30), "Escape did not close the window")
        check(ini.read_bytes() == original, "Escape saved the settings")

        proc = start()
        wait_for(focused_name, 30)
        # Up to the FTP mode, its account window, the fields' names; Escape leaves it.
        xdotool("key", "space", "Tab", "Tab", "Tab", "Tab", "Up")
        check(wait_for(lambda: focused_name() == "Récupération du paramétrage Quorvane par FTP",
                       10), "FTP mode focus: %r" % focused_name())
        xdotool("key", "Tab", "Return")
        ftp = wait_for(lambda: find_window("Paramétrage FTP"), 30)
        check(ftp is not None, "the FTP window did not open from the keyboard")
        if ftp is not None:
            fields = [n.name for _, n in nodes(ftp) if n.getRoleName() == "text"]
            check(fields == ["Login", "Mot de passe", "Host", "Port"], "FTP fields: %r" % fields)
            check(focused_name() == "Login", "FTP first focus: %r" % focused_name())
            # Enter in an empty field presses "Enregistrer": its refusal, in a box bearing the
            # window's title.
            xdotool("key", "Return")
            box = wait_for(lambda: alert_of("Paramétrage FTP"), 30)
            check(box is not None, "no message box titled as the FTP window")
            xdotool("key", "Return")
            check(wait_for(lambda: alert_of("Paramétrage FTP") is None, 30),
                  "the message box did not close")
            xdotool("windowfocus", "--sync", x_window("Paramétrage FTP"))
            xdotool("key", "Escape")
            check(wait_for(lambda: find_window("Paramétrage FTP") is None, 30),
                  "Escape did not close the FTP window")
            # Without a window manager nobody gives the keyboard back to the owner window.
            xdotool("windowfocus", "--sync", x_window(CONFIG_TITLE))
        # Enter on a control that is no button presses "Enregistrer".
        xdotool("key", "Tab")
        check(wait_for(lambda: focused_name() == "Récupérer les documents", 10),
              "focus after the FTP window: %r" % focused_name())
        xdotool("key", "Return")
        check(wait_for(lambda: proc.poll() is not None, 30), "Enter did not save and close")
        saved = configparser.ConfigParser()
        saved.optionxform = str
        saved.read_string(ini.read_bytes().decode("cp1252"))
        check(saved["Quorvane"].get("Remise_Achat") == "1" and
              saved["Quorvane"].get("TypeEnvoi") == "FTP",
              "saved by Enter: %r" % dict(saved["Quorvane"]))
        check("Quorvane_FTP" not in saved, "Escape in the FTP window saved its account")
    finally:
        if proc.poll() is None:
            relsupport.kill(proc)
        folder.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--notifier", required=True)
    args = parser.parse_args()
    with_bus = DesktopSession()
    try:
        with_bus.apply()
        notifications = StandInNotifications()
        test_sync_window_tells_the_outcome(args.binary, notifications)
        test_configuration_keyboard(args.binary)
        test_sync_window_leaves_the_keyboard(args.binary)
        test_notification_needs_a_bus(args.binary, notifications)
        test_notification_without_application(args.notifier, notifications)
        test_headless_runs_notify_only_when_they_synchronize(args.binary, notifications)
    finally:
        with_bus.close()
    if FAILURES:
        sys.exit("%d failure(s)" % len(FAILURES))
    print("all passed")


if __name__ == "__main__":
    main()
