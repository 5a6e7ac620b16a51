#!/usr/bin/python3
"""Jaeger agent listener: receives Agent.emitBatch datagrams and shows the spans in them.

It decodes with Apache Thrift's own compact protocol (Debian's python3-thrift) and code that
thrift-compiler generates from the Jaeger IDL at start, so it shares nothing with our encoder.

  /usr/bin/python3 tools/agent/agent_listener.py [--port 6831] [--json spans.jsonl] [--tree]
      [--svg trace.svg] [--ready FILE] [--stop-file FILE] [--count N] [--idle S] [--max-seconds S] [--quiet]

--port 0 binds a free port; --ready FILE receives the bound port once the socket is open and
is removed once it is closed.
The listener stops at the first of: N spans (--count), S seconds without a datagram after the
first one (--idle), the stop file appearing, the lifetime limit (--max-seconds, default 600), or
Ctrl-C. --json appends one JSON object a span, flushed at once; --tree prints every trace as an
indented tree with durations when it stops; --svg writes them as a timeline picture then
(trace_svg.py). Call it with /usr/bin/python3: Debian's modules
belong to that interpreter.
"""
import argparse
import glob
import hashlib
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

import trace_svg
import trace_tree

IDL_GLOB = "/usr/share/rubygems-integration/all/gems/jaeger-client-*/thrift/agent.thrift"
MAX_DATAGRAM = 65536


def load_generated_code():
    """Generates the Python bindings of the agent IDL once per IDL version and imports them."""
    idls = sorted(glob.glob(IDL_GLOB))
    if not idls:
        sys.exit("agent_listener: the Jaeger IDL is missing; install ruby-jaeger-client")
    idl = idls[-1]
    digest = hashlib.sha256(open(idl, "rb").read()).hexdigest()[:12]
    out = os.path.join(tempfile.gettempdir(), "kestrin-agent-py-%d-%s" % (os.getuid(), digest))
    if not os.path.isdir(os.path.join(out, "agent")):
        work = tempfile.mkdtemp(prefix="kestrin-agent-gen-")
        subprocess.run(["thrift", "-r", "--gen", "py", "-out", work, idl], check=True)
        try:
            os.rename(work, out)
        except OSError:
            pass  # another listener generated the same code first
    sys.path.insert(0, out)
    from agent import Agent
    from jaeger import ttypes
    from thrift.protocol import TCompactProtocol
    from thrift.transport import TTransport
    return Agent, ttypes, TCompactProtocol, TTransport


Agent, jaeger_types, TCompactProtocol, TTransport = load_generated_code()

TAG_TYPES = {v: k for k, v in jaeger_types.TagType._NAMES_TO_VALUES.items()}
REF_TYPES = {v: k for k, v in jaeger_types.SpanRefType._NAMES_TO_VALUES.items()}


def tag_to_json(tag):
    kind = TAG_TYPES.get(tag.vType, str(tag.vType))
    value = {"STRING": tag.vStr, "DOUBLE": tag.vDouble, "BOOL": tag.vBool,
             "LONG": tag.vLong}.get(kind)
    if kind == "BINARY":
        value = tag.vBinary.hex() if tag.vBinary is not None else None
    return {"key": tag.key, "type": kind, "value": value}


def unsigned(value):
    return value & 0xFFFFFFFFFFFFFFFF if value is not None else None


def span_to_json(process, span, datagram):
    return {
        "service": process.serviceName,
        "processTags": [tag_to_json(t) for t in (process.tags or [])],
        "traceIdLow": unsigned(span.traceIdLow),
        "traceIdHigh": unsigned(span.traceIdHigh),
        "spanId": unsigned(span.spanId),
        "parentSpanId": unsigned(span.parentSpanId),
        "operationName": span.operationName,
        "references": [{"refType": REF_TYPES.get(r.refType, str(r.refType)),
                        "traceIdLow": unsigned(r.traceIdLow),
                        "traceIdHigh": unsigned(r.traceIdHigh),
                        "spanId": unsigned(r.spanId)} for r in (span.references or [])],
        "flags": span.flags,
        "startTime": span.startTime,
        "duration": span.duration,
        "tags": [tag_to_json(t) for t in (span.tags or [])],
        "logs": [{"timestamp": l.timestamp, "fields": [tag_to_json(f) for f in l.fields]}
                 for l in (span.logs or [])],
        "datagram": datagram,
    }


class Collector:
    """Agent handler: keeps every span and writes it out as it arrives."""

    def __init__(self, json_file, quiet):
        self.spans = []
        self.datagrams = 0
        self.json_file = json_file
        self.quiet = quiet

    def emitZipkinBatch(self, spans):
        print("agent_listener: ignored a batch in the old span format", file=sys.stderr)

    def emitBatch(self, batch):
        for span in batch.spans:
            record = span_to_json(batch.process, span, self.datagrams)
            self.spans.append(record)
            if self.json_file:
                self.json_file.write(json.dumps(record) + "\n")
                self.json_file.flush()
            if not self.quiet:
                print(describe(record), flush=True)


def describe(record):
    tags = ", ".join("%s=%r" % (t["key"], t["value"]) for t in record["tags"])
    return "%s trace %016x span %016x parent %016x %s [%s]" % (
        record["service"], record["traceIdLow"], record["spanId"], record["parentSpanId"],
        record["operationName"], tags)


def print_tree(spans, out):
    """Prints each trace as a tree: children under their parents, ordered by start time."""
    for trace_id, rows in trace_tree.traces(spans):
        print("trace %s (%d spans)" % (trace_id, len(rows)), file=out)
        for depth, s in rows:
            marks = "".join(" %s=%s" % (t["key"], t["value"]) for t in s["tags"]
                            if t["key"] in ("error", "Line"))
            print("%s%s  [%s] %.3f ms%s" % ("  " * (depth + 1), s["operationName"], s["service"],
                                            s["duration"] / 1000.0, marks), file=out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=6831)
    parser.add_argument("--json")
    parser.add_argument("--ready")
    parser.add_argument("--stop-file")
    parser.add_argument("--count", type=int, default=0)
    parser.add_argument("--idle", type=float, default=0)
    parser.add_argument("--max-seconds", type=float, default=600)
    parser.add_argument("--tree", action="store_true")
    parser.add_argument("--svg")
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    sock.bind((args.host, args.port))
    sock.settimeout(0.1)
    if args.ready:
        with open(args.ready + ".tmp", "w") as f:
            f.write("%d\n" % sock.getsockname()[1])
        os.replace(args.ready + ".tmp", args.ready)

    json_file = open(args.json, "a") if args.json else None
    collector = Collector(json_file, args.quiet)
    processor = Agent.Processor(collector)
    started = time.monotonic()
    last = None
    try:
        while True:
            now = time.monotonic()
            if args.count and len(collector.spans) >= args.count:
                break
            if args.idle and last is not None and now - last >= args.idle:
                break
            if args.stop_file and os.path.exists(args.stop_file):
                break
            if now - started >= args.max_seconds:
                break
            try:
                data = sock.recv(MAX_DATAGRAM)
            except socket.timeout:
                continue
            last = time.monotonic()
            collector.datagrams += 1
            transport = TTransport.TMemoryBuffer(data)
            protocol = TCompactProtocol.TCompactProtocol(transport)
            try:
                processor.process(protocol, TCompactProtocol.TCompactProtocol(TTransport.TMemoryBuffer()))
            except Exception as error:  # a malformed datagram must not end the listener
                print("agent_listener: undecodable datagram of %d bytes: %s" % (len(data), error),
                      file=sys.stderr, flush=True)
    except KeyboardInterrupt:
        pass
    if args.tree:
        print_tree(collector.spans, sys.stdout)
    if args.svg:
        trace_svg.write(collector.spans, args.svg)
    if json_file:
        json_file.close()
    sock.close()
    if args.ready:
        # Whoever started the listener waits for this before binding the port again.
        os.remove(args.ready)


if __name__ == "__main__":
    main()
