#!/usr/bin/env python3
"""Runs a command with a package server beside it.

    run_with_package_server.py [--stats-server] -- COMMAND...

Starts package_server.py outside Wine on a free port of 127.0.0.1, over an
empty folder of its own, and passes both to COMMAND: VELMO_TEST_SERVER
("127.0.0.1:PORT", where the test support of testing/http_server finds its
recorded requests) and VELMO_PACKAGE_SERVER_ROOT (the folder as a Wine path;
drive Z: is "/"). With --stats-server a second server, on a free port of
its own too, takes the reports of the installers' statistics:
VELMO_STATS_SERVER gives its address and VELMO_TEST_STATS_PORT its port,
which test builds of the installers use in place of the fixed port that
their "local-stats-server" switch names (so that suites running side by
side on one machine never contend for it). Stops the servers by their pids
when COMMAND ends and returns COMMAND's exit status.
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from server_runner import (command_after_dashes, environment_without_proxies,  # noqa: E402
                           stop_server, wait_for_file, wine_path)


def start_server(folder, name, extra):
    """A package server over folder/name/root; its process and port file."""
    root = os.path.join(folder, name, "root")
    os.makedirs(root)
    port_file = os.path.join(folder, name, "port")
    server = subprocess.Popen([sys.executable, os.path.join(HERE, "package_server.py"),
                               "--root", root, "--port-file", port_file] + extra,
                              stdin=subprocess.DEVNULL)
    return server, root, port_file


def main():
    argv = sys.argv[1:]
    dashes = argv.index("--") if "--" in argv else len(argv)
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stats-server", action="store_true")
    args = parser.parse_args(argv[:dashes])
    command = command_after_dashes(argv[dashes:])
    if not command:
        sys.exit("no command given")
    servers = []
    with tempfile.TemporaryDirectory(prefix="velmo-packages-") as tmp:
        try:
            env = environment_without_proxies()
            server, root, port_file = start_server(tmp, "packages", [])
            servers.append(server)
            env["VELMO_TEST_SERVER"] = "127.0.0.1:%d" % wait_for_file(port_file, server)
            env["VELMO_PACKAGE_SERVER_ROOT"] = wine_path(root)
            if args.stats_server:
                server, _, port_file = start_server(tmp, "stats", ["--accept-posts"])
                servers.append(server)
                stats_port = wait_for_file(port_file, server)
                env["VELMO_STATS_SERVER"] = "127.0.0.1:%d" % stats_port
                env["VELMO_TEST_STATS_PORT"] = str(stats_port)
            return subprocess.call(command, env=env)
        finally:
            for server in servers:
                if server.poll() is None:
                    stop_server(server)


if __name__ == "__main__":
    sys.exit(main())
