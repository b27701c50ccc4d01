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
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def wait_for_port(path, proc, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path) as f:
                text = f.read().strip()
            if text:
                return int(text)
        if proc.poll() is not None:
            sys.exit("crash server ended early with status %d" % proc.returncode)
        time.sleep(0.05)
    sys.exit("crash server did not start within %d s" % timeout)


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
            env["VELMO_TEST_CRASH_SERVER"] = "http://127.0.0.1:%d" % wait_for_port(port_file, server)
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
