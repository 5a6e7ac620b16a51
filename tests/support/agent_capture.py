#!/usr/bin/python3
r"""Test support: the project's agent listener behind a capture that loses no datagram.

The tests send faster than a Python decoder reads, so the socket gets a receive buffer as large
as root may give it (SO_RCVBUFFORCE, 512 MB, taken only as it fills), and the datagrams are
decoded with tools/agent/agent_listener.py's own code: Apache Thrift's compact protocol, in its
C form when python3-thrift has it.

It writes in the current folder: "ready" with the port once bound; with --spans, "spans", one line a
span as it arrives; once "stop" appears there (or after --max-seconds), every datagram already in
the socket is decoded and the port let go, "summary".
Each file holds one record a line, its fields separated by spaces: a number in decimal, a string
as "x" and the hex of its UTF-8 bytes (a tag's value as JSON writes it: true, 43, 2.5).
spans: datagram (counted from 1), service, trace id low and high, span id, parent span id, flags,
  start time, duration, operation name; then the process tags, the tags, the references and the
  logs, each list led by its length: a tag as key, type and value, a reference as type and span
  id, a log as the length and tags of its fields.
summary: the counts of undecodable datagrams, of spans and of duplicates (spans whose ids came
  before); then for operation names "<group> <number>", a line for each range of numbers received:
  the group, the first and the last number.

  /usr/bin/python3 tests/support/agent_capture.py --port P [--spans] [--max-seconds S]
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


def line(fields):
    return " ".join(str(f) if isinstance(f, int) else "x" + f.encode().hex() for f in fields) + "\n"


def span_line(record):
    fields = [record[k] for k in ("datagram", "service", "traceIdLow", "traceIdHigh", "spanId", "parentSpanId",
                                  "flags", "startTime", "duration", "operationName")]

    def tags(items):
        fields.append(len(items))
        for tag in items:
            value = tag["value"] if isinstance(tag["value"], str) else json.dumps(tag["value"])
            fields.extend((tag["key"], tag["type"], value))
    tags(record["processTags"])
    tags(record["tags"])
    fields.append(len(record["references"]))
    for reference in record["references"]:
        fields.extend((reference["refType"], reference["spanId"]))
    fields.append(len(record["logs"]))
    for log in record["logs"]:
        tags(log["fields"])
    return line(fields)


class Summary:
    def __init__(self):
        self.datagrams = 0
        self.undecodable = 0
        self.spans = 0
        self.duplicates = 0
        self.ids = set()
        self.groups = {}

    def add(self, span):
        self.spans += 1
        key = (span.traceIdHigh, span.traceIdLow, span.spanId)
        if key in self.ids:
            self.duplicates += 1
        self.ids.add(key)
        group, _, number = (span.operationName or "").rpartition(" ")
        if group and number.isdigit():
            self.groups.setdefault(group, set()).add(int(number))

    def write(self, path):
        lines = [line((self.undecodable, self.spans, self.duplicates))]
        for group, numbers in self.groups.items():
            ranges = []
            for n in sorted(numbers):
                if ranges and ranges[-1][1] + 1 == n:
                    ranges[-1][1] = n
                else:
                    ranges.append([n, n])
            lines += [line((group, first, last)) for first, last in ranges]
        with open(path + ".tmp", "w", encoding="utf-8") as f:
            f.writelines(lines)
        os.replace(path + ".tmp", path)


class Handler:
    """Agent handler: counts every span and writes it out when asked."""

    def __init__(self, summary, spans_file):
        self.summary = summary
        self.spans_file = spans_file

    def emitZipkinBatch(self, spans):
        pass

    def emitBatch(self, batch):
        for span in batch.spans:
            self.summary.add(span)
            if self.spans_file:
                self.spans_file.write(span_line(agent_listener.span_to_json(batch.process, span,
                                                                            self.summary.datagrams)))
        if self.spans_file:
            self.spans_file.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--spans", action="store_true")
    parser.add_argument("--max-seconds", type=float, default=300)
    args = parser.parse_args()
    ready, stop_file = "ready", "stop"

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, SO_RCVBUFFORCE, 512 << 20)
    except OSError:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 512 << 20)
    sock.bind(("127.0.0.1", args.port))
    sock.settimeout(0.05)
    with open(ready + ".tmp", "w") as f:
        f.write("%d\n" % sock.getsockname()[1])
    os.replace(ready + ".tmp", ready)

    summary = Summary()
    spans_file = open("spans", "a", encoding="utf-8") if args.spans else None
    processor = agent_listener.Agent.Processor(Handler(summary, spans_file))
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
        if not stopping and (os.path.exists(stop_file) or time.monotonic() - started >= args.max_seconds):
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
    if spans_file:
        spans_file.close()
    sock.close()
    os.remove(ready)
    summary.write("summary")


if __name__ == "__main__":
    main()
