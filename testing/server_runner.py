"""What the run_with_*_server.py wrappers share.

Each wrapper starts a Python test server outside Wine (a Linux program started
from inside Wine could be neither waited on nor stopped), hands its address to
a command in the environment and stops the server by its pid afterwards. The
waiting, the environment and the stopping are the same for every server.
"""

import os
import signal
import subprocess
import sys
import time

# Wine honours these, and the tests talk to 127.0.0.1 directly.
_PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                    "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY")


def command_after_dashes(argv):
    """The command to run: argv without a leading "--"."""
    if argv and argv[0] == "--":
        return argv[1:]
    return argv


def wait_for_file(path, proc, timeout=20.0):
    """The number the server writes to path once it listens; exits when the
    server ends first or takes longer than timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path) as f:
                text = f.read().strip()
            if text:
                return int(text)
        if proc.poll() is not None:
            sys.exit("test server ended early with status %d" % proc.returncode)
        time.sleep(0.05)
    sys.exit("test server did not start within %d s" % timeout)


def environment_without_proxies():
    """A copy of this process's environment with no proxy settings."""
    env = dict(os.environ)
    for name in _PROXY_VARIABLES:
        env.pop(name, None)
    return env


def wine_path(path):
    """path as a program inside Wine sees it (drive Z: is "/")."""
    return "Z:" + path.replace("/", "\\")


def stop_server(proc):
    """Stops the server by its pid, killing it when it does not end in time."""
    os.kill(proc.pid, signal.SIGTERM)
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait()
