#!/usr/bin/python3
"""Test support: the project's agent listener behind a capture that loses no datagram.

The tests send faster than a Python decoder reads, so the socket gets a receive buffer as large
as root may give it (SO_RCVBUFFORCE, 512 MB, taken only as it fills), and the datagrams are
decoded with tools/agent/agent_listener.py's own code: Apache Thrift's compact protocol, in its
C form when python3-thrift has it. Each span is written as JSON (--json); when the listener
stops, a summary (--summary): datagrams, undecodable datagrams, spans, span ids seen more than
once, the most spans one datagram held, spans per service, and for operation names "<group> <number>" the numbers received per
group as ranges.

  /usr/bin/python3 tests/support/agent_capture.py --port P --ready FILE --stop-file FILE
      [--json FILE] [--summary FILE] [--max-seconds S]
"""
import argparse
import json
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "agent"))
import agent_listener  # noqa: E402

from thrift.protocol import TCompactProtocol  # noqa: E402

SO_RCVBUFFORCE = getattr(socket, "SO_RCVBUFFORCE", 33)
Protocol = getattr(TCompactProtocol, "TCompactProtocolAccelerated", TCompactProtocol.TCompactProtocol)


class Summary:
    def __init__(self):
        self.datagrams = 0
        self.undecodable = 0
        self.spans = 0
        self.largest = 0
        self.duplicates = 0
        self.ids = set()
        self.services = {}
        self.groups = {}

    def add(self, span, service):
        self.spans += 1
        key = (span.traceIdHigh, span.traceIdLow, span.spanId)
        if key in self.ids:
            self.duplicates += 1
        self.ids.add(key)
        self.services[service] = self.services.get(service, 0) + 1
        group, _, number = (span.operationName or "").rpartition(" ")
        if group and number.isdigit():
            self.groups.setdefault(group, []).append(int(number))

    def write(self, path):
        groups = {}
        for group, numbers in self.groups.items():
            ranges = []
            for n in sorted(set(numbers)):
                if ranges and ranges[-1][1] + 1 == n:
                    ranges[-1][1] = n
                else:
                    ranges.append([n, n])
            groups[group] = ranges
        with open(path + ".tmp", "w") as f:
            json.dump({"datagrams": self.datagrams, "undecodable": self.undecodable, "spans": self.spans,
                       "largest": self.largest, "duplicates": self.duplicates, "services": self.services, "groups": groups}, f)
        os.replace(path + ".tmp", path)


class Handler:
    """Agent handler: counts every span and writes it out as JSON when asked."""

    def __init__(self, summary, json_file):
        self.summary = summary
        self.json_file = json_file

    def emitZipkinBatch(self, spans):
        pass

    def emitBatch(self, batch):
        self.summary.largest = max(self.summary.largest, len(batch.spans))
        for span in batch.spans:
            self.summary.add(span, batch.process.serviceName)
            if self.json_file:
                record = agent_listener.span_to_json(batch.process, span, self.summary.datagrams)
                self.json_file.write(json.dumps(record) + "\n")
        if self.json_file:
            self.json_file.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--stop-file", required=True)
    parser.add_argument("--json")
    parser.add_argument("--summary")
    parser.add_argument("--max-seconds", type=float, default=600)
    args = parser.parse_args()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, SO_RCVBUFFORCE, 512 << 20)
    except OSError:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 512 << 20)
    sock.bind(("127.0.0.1", args.port))
    sock.settimeout(0.05)
    with open(args.ready + ".tmp", "w") as f:
        f.write("%d\n" % sock.getsockname()[1])
    os.replace(args.ready + ".tmp", args.ready)

    summary = Summary()
    json_file = open(args.json, "a") if args.json else None
    processor = agent_listener.Agent.Processor(Handler(summary, json_file))
    started = time.monotonic()

    def decode(data):
        summary.datagrams += 1
        try:
            processor.process(Protocol(agent_listener.TTransport.TMemoryBuffer(data)),
                              TCompactProtocol.TCompactProtocol(agent_listener.TTransport.TMemoryBuffer()))
        except Exception as error:  # a malformed datagram must not end the listener
            summary.undecodable += 1
            print("agent_capture: undecodable datagram of %d bytes: %s" % (len(data), error), file=sys.stderr,
                  flush=True)

    stopping = False
    while True:
        if not stopping and (os.path.exists(args.stop_file) or time.monotonic() - started >= args.max_seconds):
            # What was sent before the stop is in the socket's buffer already: read it to the end.
            stopping = True
            sock.setblocking(False)
        try:
            data = sock.recv(agent_listener.MAX_DATAGRAM)
        except (socket.timeout, BlockingIOError):
            if stopping:
                break
            continue
        decode(data)
    if json_file:
        json_file.close()
    if args.summary:
        summary.write(args.summary)
    sock.close()
    os.remove(args.ready)


if __name__ == "__main__":
    main()
