#!/usr/bin/env python3
"""Runs a command with a package server beside it.

    run_with_package_server.py -- COMMAND...

Starts package_server.py outside Wine on a free port of 127.0.0.1, over an
empty folder of its own, and passes both to COMMAND: VELMO_TEST_SERVER
("127.0.0.1:PORT", where the test support of testing/http_server finds its
recorded requests) and VELMO_PACKAGE_SERVER_ROOT (the folder as a Wine path;
drive Z: is "/"). Stops the server by its pid when COMMAND ends and returns
COMMAND's exit status.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    command = sys.argv[1:]
    if command and command[0] == "--":
        command = command[1:]
    if not command:
        sys.exit("no command given")
    with tempfile.TemporaryDirectory(prefix="velmo-packages-") as tmp:
        root = os.path.join(tmp, "root")
        os.makedirs(root)
        port_file = os.path.join(tmp, "port")
        server = subprocess.Popen([sys.executable, os.path.join(HERE, "package_server.py"),
                                   "--root", root, "--port-file", port_file],
                                  stdin=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 20
            while not os.path.exists(port_file):
                if server.poll() is not None or time.monotonic() > deadline:
                    sys.exit("package server did not start")
                time.sleep(0.05)
            with open(port_file) as f:
                port = int(f.read())
            env = dict(os.environ)
            for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                         "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"):
                env.pop(name, None)
            env["VELMO_TEST_SERVER"] = "127.0.0.1:%d" % port
            env["VELMO_PACKAGE_SERVER_ROOT"] = "Z:" + root.replace("/", "\\")
            return subprocess.call(command, env=env)
        finally:
            os.kill(server.pid, signal.SIGTERM)
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.kill(server.pid, signal.SIGKILL)
                server.wait()


if __name__ == "__main__":
    sys.exit(main())
