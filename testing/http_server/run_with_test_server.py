#!/usr/bin/env python3
"""Runs a command with the HTTP test server beside it.

  run_with_test_server.py [--tls-cert C --tls-key K] -- COMMAND...

Starts test_http_server.py on a free port of 127.0.0.1 (outside Wine: a Linux
program started from inside Wine could be neither waited on nor stopped),
passes its address to COMMAND as VELMO_TEST_SERVER ("127.0.0.1:PORT"), the
port of its second plain listener as VELMO_TEST_SECOND_PORT (with
the TLS options also VELMO_TEST_TLS_PORT and VELMO_TEST_TLS_ROOT, the DER test
root beside the certificate as a Wine path), and stops the server by its pid
when COMMAND ends. The exit status is COMMAND's.
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = command_after_dashes(args.command)
    if not command:
        parser.error("no command given")

    with tempfile.TemporaryDirectory(prefix="velmo-http-") as tmp:
        port_file = os.path.join(tmp, "port")
        second_port_file = os.path.join(tmp, "second_port")
        server_cmd = [sys.executable, os.path.join(HERE, "test_http_server.py"),
                      "--port-file", port_file, "--second-port-file", second_port_file]
        if args.tls_cert:
            tls_port_file = os.path.join(tmp, "tls_port")
            server_cmd += ["--tls-cert", args.tls_cert, "--tls-key", args.tls_key,
                           "--tls-port-file", tls_port_file]
        server = subprocess.Popen(server_cmd, stdin=subprocess.DEVNULL)
        try:
            env = environment_without_proxies()
            env["VELMO_TEST_SERVER"] = "127.0.0.1:%d" % wait_for_file(port_file, server)
            env["VELMO_TEST_SECOND_PORT"] = str(wait_for_file(second_port_file, server))
            if args.tls_cert:
                env["VELMO_TEST_TLS_PORT"] = str(wait_for_file(tls_port_file, server))
                # The root to trust, as a path inside Wine.
                root = os.path.join(os.path.dirname(os.path.abspath(args.tls_cert)), "root.der")
                env["VELMO_TEST_TLS_ROOT"] = wine_path(root)
            return subprocess.call(command, env=env)
        finally:
            stop_server(server)


if __name__ == "__main__":
    sys.exit(main())
