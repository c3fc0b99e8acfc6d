"""Serial ports of a Wine prefix mapped to paths of this machine.

Wine re-creates its dosdevices links at every start, so a port is mapped in the
prefix's registry instead (HKLM\\Software\\Wine\\Ports), once, to a stable path; that
path is then a symlink to whatever device should be the port today (a pty slave, a
USB adapter).
"""

import os
import subprocess


def map_ports(wine_run, prefix, links):
    """Maps each port name (e.g. "COM1") to its path; restarts the prefix's
    wineserver when the registry had to change, so the mapping takes effect."""
    registry = os.path.join(prefix, "system.reg")
    try:
        with open(registry, encoding="latin-1") as f:
            text = f.read()
    except OSError:
        text = ""
    wanted = ['"%s"="%s"' % (name, link) for name, link in links.items()]
    if all(entry in text for entry in wanted):
        return
    reg_file = os.path.join(os.path.dirname(os.path.abspath(prefix)), "kestrel-ports.reg")
    with open(reg_file, "w", encoding="latin-1") as f:
        f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n")
        for name, link in links.items():
            f.write('"%s"="%s"\n' % (name, link))
    env = dict(os.environ, WINEPREFIX=prefix)
    subprocess.run([wine_run, "regedit", "/S", reg_file], check=True, timeout=120, env=env,
                   stdin=subprocess.DEVNULL)
    subprocess.run([wine_run, "--shutdown"], check=False, timeout=60, env=env)


def link_folder(prefix):
    """Where the stable paths of a prefix's ports live: beside the prefix."""
    return os.path.abspath(prefix).rstrip("/") + "-ports"
