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
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "http_server"))
from run_with_test_server import wait_for_file  # noqa: E402


def main():
    command = sys.argv[1:]
    if command and command[0] == "--":
        command = command[1:]
    if not command:
        sys.exit("usage: run_with_crash_server.py -- COMMAND...")
    with tempfile.TemporaryDirectory(prefix="velmo-crash-server-") as tmp:
        port_file = os.path.join(tmp, "port")
        record = os.path.join(tmp, "record.jsonl")
        server = subprocess.Popen([sys.executable, os.path.join(HERE, "crash_server.py"),
                                   "--port-file", port_file, "--record", record],
                                  stdin=subprocess.DEVNULL)
        try:
            env = dict(os.environ)
            # Wine honours these, and the tests talk to 127.0.0.1 directly.
            for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                         "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"):
                env.pop(name, None)
            env["VELMO_TEST_CRASH_SERVER"] = "http://127.0.0.1:%d" % wait_for_file(port_file, server)
            env["VELMO_TEST_CRASH_RECORD"] = "Z:" + record.replace("/", "\\")
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
