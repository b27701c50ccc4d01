#!/usr/bin/env python3
"""Runs a command with the crash server beside it.

  run_with_crash_server.py -- COMMAND...

Starts crash_server.py on a free port of 127.0.0.1 outside Wine (a Linux
program started from inside Wine can be neither waited on nor stopped) and
passes COMMAND the environment variables VELMO_TEST_CRASH_SERVER
("http://127.0.0.1:PORT") and VELMO_TEST_CRASH_RECORD (the JSON-lines record,
as a Wine path). The server is stopped by its pid when COMMAND ends; the exit
status is COMMAND's.
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
        sys.exit("usage: run_with_crash_server.py -- COMMAND...")
    with tempfile.TemporaryDirectory(prefix="velmo-crash-server-") as tmp:
        port_file = os.path.join(tmp, "port")
        record = os.path.join(tmp, "record.jsonl")
        server = subprocess.Popen([sys.executable, os.path.join(HERE, "crash_server.py"),
                                   "--port-file", port_file, "--record", record],
                                  stdin=subprocess.DEVNULL)
        try:
            env = environment_without_proxies()
            env["VELMO_TEST_CRASH_SERVER"] = "http://127.0.0.1:%d" % wait_for_file(port_file, server)
            env["VELMO_TEST_CRASH_RECORD"] = wine_path(record)
            return subprocess.call(command, env=env)
        finally:
            stop_server(server)


if __name__ == "__main__":
    sys.exit(main())
