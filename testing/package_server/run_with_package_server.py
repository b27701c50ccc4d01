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
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from server_runner import (command_after_dashes, environment_without_proxies,  # noqa: E402
                           stop_server, wait_for_file, wine_path)


def main():
    command = command_after_dashes(sys.argv[1:])
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
            env = environment_without_proxies()
            env["VELMO_TEST_SERVER"] = "127.0.0.1:%d" % wait_for_file(port_file, server)
            env["VELMO_PACKAGE_SERVER_ROOT"] = wine_path(root)
            return subprocess.call(command, env=env)
        finally:
            stop_server(server)


if __name__ == "__main__":
    sys.exit(main())
