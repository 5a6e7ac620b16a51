"""Starts the agent listener on a free port and sends it batches as real UDP datagrams, encoded by
Thrift's own compact client from the bindings the listener generates."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LISTENER = os.path.join(HERE, "..", "..", "tools", "agent", "agent_listener.py")
sys.path.insert(0, os.path.dirname(LISTENER))

import agent_listener  # noqa: E402  (found through the path above)
from thrift.protocol import TCompactProtocol  # noqa: E402

jaeger_types = agent_listener.jaeger_types


class UdpTransport:
    """Thrift client transport that sends each flushed message as one datagram."""

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.port = port
        self.buffer = bytearray()

    def write(self, data):
        self.buffer += data

    def flush(self):
        self.sock.sendto(bytes(self.buffer), ("127.0.0.1", self.port))
        self.buffer = bytearray()

    def isOpen(self):
        return True


class ListenerHarness:
    """Mixin for unittest.TestCase: a work folder, the listener, and a sender."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="agent-listener-test-")
        self.ready = os.path.join(self.dir, "ready")
        self.json = os.path.join(self.dir, "spans.jsonl")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def start(self, *extra):
        proc = subprocess.Popen([sys.executable, LISTENER, "--port", "0", "--ready", self.ready,
                                 "--json", self.json, "--quiet", "--max-seconds", "60", *extra],
                                stdout=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while not os.path.exists(self.ready):
            self.assertIsNone(proc.poll(), "listener ended before binding")
            self.assertLess(time.monotonic(), deadline, "listener never became ready")
            time.sleep(0.05)
        with open(self.ready) as f:
            return proc, int(f.read())

    def send(self, port, batch, garbage_first=False):
        transport = UdpTransport(port)
        if garbage_first:
            transport.write(b"\x82\x81\xff\xff not thrift")
            transport.flush()
        agent_listener.Agent.Client(TCompactProtocol.TCompactProtocol(transport)).emitBatch(batch)
        transport.sock.close()
