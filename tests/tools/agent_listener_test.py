#!/usr/bin/python3
"""Checks the agent listener end to end: real UDP datagrams encoded by Thrift's own compact
client reach it, and it writes every field as JSON and the traces as a tree."""
import json
import os
import unittest

from listener_harness import ListenerHarness, jaeger_types


class ListenerTest(ListenerHarness, unittest.TestCase):
    def test_decodes_every_field_and_survives_garbage(self):
        t = jaeger_types
        tags = [t.Tag(key="s", vType=t.TagType.STRING, vStr="text"),
                t.Tag(key="d", vType=t.TagType.DOUBLE, vDouble=2.5),
                t.Tag(key="b", vType=t.TagType.BOOL, vBool=True),
                t.Tag(key="l", vType=t.TagType.LONG, vLong=-7)]
        root = t.Span(traceIdLow=-1, traceIdHigh=5, spanId=1, parentSpanId=0,
                      operationName="root", flags=1, startTime=1000, duration=5000, tags=tags)
        child = t.Span(traceIdLow=-1, traceIdHigh=5, spanId=2, parentSpanId=1,
                       operationName="child", flags=1, startTime=2000, duration=1000,
                       references=[t.SpanRef(refType=t.SpanRefType.FOLLOWS_FROM, traceIdLow=-1,
                                             traceIdHigh=5, spanId=1)],
                       logs=[t.Log(timestamp=2500, fields=tags[:1])])
        process = t.Process(serviceName="svc", tags=[t.Tag(key="ip", vType=t.TagType.STRING,
                                                           vStr="127.0.0.1")])
        proc, port = self.start("--count", "2", "--tree")
        self.send(port, t.Batch(process=process, spans=[child, root]), garbage_first=True)
        out, _ = proc.communicate(timeout=30)

        spans = [json.loads(line) for line in open(self.json)]
        self.assertEqual([s["operationName"] for s in spans], ["child", "root"])
        c, r = spans
        self.assertEqual(r["traceIdLow"], 0xFFFFFFFFFFFFFFFF)
        self.assertEqual(r["traceIdHigh"], 5)
        self.assertEqual(r["service"], "svc")
        self.assertEqual(r["processTags"], [{"key": "ip", "type": "STRING", "value": "127.0.0.1"}])
        self.assertEqual([(x["key"], x["type"], x["value"]) for x in r["tags"]],
                         [("s", "STRING", "text"), ("d", "DOUBLE", 2.5), ("b", "BOOL", True),
                          ("l", "LONG", -7)])
        self.assertEqual((c["parentSpanId"], c["startTime"], c["duration"], c["flags"]),
                         (1, 2000, 1000, 1))
        self.assertEqual(c["references"][0]["refType"], "FOLLOWS_FROM")
        self.assertEqual(c["logs"], [{"timestamp": 2500,
                                      "fields": [{"key": "s", "type": "STRING", "value": "text"}]}])
        lines = out.splitlines()
        root_line = next(i for i, l in enumerate(lines) if l.strip().startswith("root"))
        self.assertTrue(lines[root_line + 1].startswith("    child"), out)
        self.assertIn("5.000 ms", lines[root_line])

    def test_stop_file_ends_listener(self):
        stop = os.path.join(self.dir, "stop")
        proc, _ = self.start("--stop-file", stop)
        open(stop, "w").close()
        self.assertEqual(proc.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main()
