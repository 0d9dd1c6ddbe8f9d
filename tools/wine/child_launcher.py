#!/usr/bin/env python3
"""Starts Linux programs for Windows test programs running under Wine.

A Windows process under Wine cannot start a Linux program with its standard output
on a pipe, yet the API tests start the fake platform (a Python program) that way.
This launcher does it for them over loopback: the Windows side of the tests'
ChildProcess (api/testing/child_process_windows.cpp) connects, sends the program's
arguments, and gets the program's standard output back on the same connection.

Start:   child_launcher.py [--port-file F]
Prints its port (one line) to standard output and to --port-file once listening.

Per connection:
  client -> launcher   one line: a JSON array of strings, the program and its arguments
  launcher -> client   the program's standard output, byte for byte; when the program
                       has ended the launcher closes its side of the connection
  client -> launcher   "TERM\\n" asks the program to end (SIGTERM), "KILL\\n" kills it;
                       a client that closes the connection kills the program too
Only loopback connections are served.
"""

import argparse
import json
import socket
import subprocess
import sys
import threading


def serve(connection):
    with connection:
        reader = connection.makefile("rb")
        line = reader.readline()
        try:
            argv = json.loads(line.decode("utf-8"))
            child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        except Exception as error:  # noqa: BLE001 - reported to the client by closing
            print(f"child_launcher: cannot start {line!r}: {error}", file=sys.stderr)
            return

        def relay_output():
            while True:
                chunk = child.stdout.read1(65536)
                if not chunk:
                    break
                try:
                    connection.sendall(chunk)
                except OSError:
                    break
            child.wait()
            try:
                connection.shutdown(socket.SHUT_WR)
            except OSError:
                pass

        relay = threading.Thread(target=relay_output, daemon=True)
        relay.start()
        while True:
            command = reader.readline()
            if command == b"TERM\n":
                child.terminate()
            elif command == b"KILL\n" or not command:
                if child.poll() is None:
                    child.kill()
                if not command:
                    break
        relay.join(timeout=10)
        child.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file")
    options = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    port = listener.getsockname()[1]
    if options.port_file:
        with open(options.port_file, "w", encoding="ascii") as out:
            out.write(f"{port}\n")
    print(port, flush=True)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection,), daemon=True).start()


if __name__ == "__main__":
    main()
