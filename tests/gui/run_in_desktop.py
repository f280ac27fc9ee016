"""Runs a test program in a desktop session of its own (Xvfb, private session bus) under a
platform theme and a scale factor: `run_in_desktop.py [--theme qt6ct] [--scale 1.5] -- cmd`.
qt6ct is given a desktop font far wider than the program's, so that a window taking the
desktop's font shows it at once."""

import argparse
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from desktop_session import DesktopSession  # noqa: E402

QT6CT_CONF = """[Appearance]
custom_palette=false
style=Windows
[Fonts]
fixed="DejaVu Sans Mono,16,-1,5,400,0,0,0,0,0,0,0,0,0,0,1"
general="DejaVu Serif,16,-1,5,700,0,0,0,0,0,0,0,0,0,0,1"
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--theme")
    parser.add_argument("--scale")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    session = DesktopSession(bus=True)
    try:
        env = dict(session.env)
        if args.theme:
            env["QT_QPA_PLATFORMTHEME"] = args.theme
            conf = Path(env["XDG_CONFIG_HOME"]) / "qt6ct"
            conf.mkdir(parents=True)
            (conf / "qt6ct.conf").write_text(QT6CT_CONF)
        if args.scale:
            env["QT_SCALE_FACTOR"] = args.scale
        env["QUORVANE_LOOK_TAG"] = "%s-%s" % (args.theme or "sans-theme", args.scale or "1")
        sys.exit(subprocess.run(command, env=env, timeout=240).returncode)
    finally:
        session.close()


if __name__ == "__main__":
    main()
