#!/usr/bin/python3
"""The listener's timeline picture, from real datagrams to pixels: the SVG is parsed for its
structure (a bar a span, depth-first order, indentation, error colour, bars placed by start and
duration on each trace's own axis) and rendered with rsvg-convert to check the pixels."""
import os
import struct
import subprocess
import unittest
import xml.etree.ElementTree as ET
import zlib

from listener_harness import ListenerHarness, jaeger_types as t
import trace_svg

SVG = "{http://www.w3.org/2000/svg}"
BASE = 1_765_000_000_000_000  # microseconds since 1970, as the client sends them


def span(trace, span_id, parent, name, start, duration, **tags):
    values = []
    for key, value in tags.items():
        if isinstance(value, bool):
            values.append(t.Tag(key=key, vType=t.TagType.BOOL, vBool=value))
        elif isinstance(value, int):
            values.append(t.Tag(key=key, vType=t.TagType.LONG, vLong=value))
        else:
            values.append(t.Tag(key=key, vType=t.TagType.STRING, vStr=value))
    return t.Span(traceIdLow=trace[1], traceIdHigh=trace[0], spanId=span_id, parentSpanId=parent,
                  operationName=name, flags=1, startTime=BASE + start, duration=duration,
                  tags=values)


def batch(service, spans):
    return t.Batch(process=t.Process(serviceName=service), spans=spans)


def read_png(path, max_rows=None):
    """(width, height, rows of RGB triples) of an 8-bit non-interlaced RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, header
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompressobj().decompress(b"".join(idat))
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for r in range(min(height, max_rows or height)):
        kind, line = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, bpp)])
        previous = line
    return width, height, rows


def span_id(title):
    """The span id from a row's hover text."""
    return int(title.split("\n")[3].split()[1], 16)


def rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


def spans_of(trace_group):
    return [g for g in trace_group.iter(SVG + "g") if g.get("class", "").split()[0] == "span"]


def parts(g):
    title = g.find(SVG + "title").text
    bar = next(r for r in g.findall(SVG + "rect") if r.get("class") == "bar")
    label = next(x for x in g.findall(SVG + "text") if x.get("class") == "label")
    return title, bar, label


class TraceSvgTest(ListenerHarness, unittest.TestCase):
    def listen(self, batches, count, *extra):
        svg = os.path.join(self.dir, "trace.svg")
        proc, port = self.start("--count", str(count), "--svg", svg, *extra)
        for b in batches:
            self.send(port, b)
        out, _ = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0)
        return svg, out

    def render_png(self, svg, *options):
        png = os.path.join(self.dir, "trace.png")
        subprocess.run(["rsvg-convert", *options, "-o", png, svg], check=True, timeout=300)
        return png

    def test_two_traces_drawn_and_rendered(self):
        a, b = (0, 0x741925461dfa4f76), (5, 1)
        long_name = "CHILD: childWork 109 \u00fc<&>\x01" + "x" * 300
        host = [span(a, 1, 0, "Root Span for module: samplehost", 0, 20000),
                span(a, 2, 1, "NEW: worker 2 (loadRecords 39)", 1000, 580, Line=39),
                span(a, 3, 2, "CHILD: parseRecord 32", 1100, 10),
                span(a, 4, 1, "NEW: worker 1 (loadRecords 39)", 900, 1150),
                span(a, 5, 4, "CHILD: parseRecord 32", 1000, 800, error=True),
                span(a, 6, 1, "NEW: launchChild 94", 3000, 15000),
                span(a, 7, 6, "CHILD: moduleWork 17", 3100, 30)]
        child = [span(a, 8, 6, "Propagated Root Span for module: childhost", 5000, 5523),
                 span(a, 9, 8, "NEW: childMain 107", 6000, 410),
                 span(a, 10, 9, long_name, 6100, 3)]
        helper = [span(b, 12, 11, "helper step", 50500, 1000, error="true"),
                  span(b, 11, 0, "helper job", 50000, 2000)]
        svg, _ = self.listen([batch("samplehost", host[::-1]), batch("helper", helper),
                              batch("childhost", child)], 12)

        # (name, depth) in the order the rows must come: children under parents by start time.
        expected = [[("Root Span for module: samplehost", 0), ("NEW: worker 1 (loadRecords 39)", 1),
                     ("CHILD: parseRecord 32", 2), ("NEW: worker 2 (loadRecords 39)", 1),
                     ("CHILD: parseRecord 32", 2), ("NEW: launchChild 94", 1),
                     ("CHILD: moduleWork 17", 2),
                     ("Propagated Root Span for module: childhost", 2), ("NEW: childMain 107", 3),
                     (long_name.replace("\x01", "\ufffd"), 4)],
                    [("helper job", 0), ("helper step", 1)]]
        root = ET.parse(svg).getroot()
        traces = [g for g in root.iter(SVG + "g") if g.get("class") == "trace"]
        self.assertEqual(len(traces), 2)
        headings = [next(x for x in g.iter(SVG + "text") if x.get("class") == "heading").text
                    for g in traces]
        self.assertIn("741925461dfa4f76: 10 spans", headings[0])
        self.assertIn("50000000000000001: 2 spans", headings[1])

        records = {s.spanId: s for s in host + child + helper}
        error_fills, other_fills, scales, failed_ids = set(), {}, [], set()
        for group, rows in zip(traces, expected):
            drawn = [parts(g) for g in spans_of(group)]
            self.assertEqual([title.split("\n")[0] for title, _, _ in drawn], [n for n, _ in rows])
            # One level of nesting moves a label by the same step.
            xs = [float(label.get("x")) for _, _, label in drawn]
            step = xs[1] - xs[0]
            self.assertGreater(step, 0)
            for x, (_, depth) in zip(xs, rows):
                self.assertAlmostEqual(x, xs[0] + depth * step)
            # One linear map from time to x for all bars of a trace, fixed by its root bar.
            root_bar = drawn[0][1]
            x0 = float(root_bar.get("x"))
            scale = float(root_bar.get("width")) / records[span_id(drawn[0][0])].duration
            scales.append(scale)
            t0 = min(records[span_id(title)].startTime for title, _, _ in drawn)
            for title, bar, _ in drawn:
                record = records[span_id(title)]
                self.assertAlmostEqual(float(bar.get("x")), x0 + (record.startTime - t0) * scale,
                                       delta=0.01)
                self.assertAlmostEqual(float(bar.get("width")),
                                       max(record.duration * scale, trace_svg.MIN_BAR), delta=0.01)
            for g, (title, bar, _) in zip(spans_of(group), drawn):
                if "error" in g.get("class").split():
                    error_fills.add(bar.get("fill"))
                    failed_ids.add(span_id(title))
                else:
                    other_fills.setdefault(title.split("\n")[1], set()).add(bar.get("fill"))
        # Each trace has its own axis: both roots fill the chart.
        self.assertAlmostEqual(scales[0] * 20000, scales[1] * 2000, delta=0.01)

        # The error mark: both failed spans (boolean and text tag) and only they, in a colour of
        # their own; every service has one colour, a different one each.
        self.assertEqual(failed_ids, {5, 12})
        self.assertEqual(len(error_fills), 1)
        self.assertEqual(sorted(other_fills), ["service: childhost", "service: helper",
                                               "service: samplehost"])
        self.assertTrue(all(len(f) == 1 for f in other_fills.values()), other_fills)
        service_fills = set().union(*other_fills.values())
        self.assertEqual(len(service_fills), 3)
        self.assertNotIn(next(iter(error_fills)), service_fills)

        titles = [parts(g)[0] for g in spans_of(traces[0])]
        self.assertIn("Line=39", titles[3])
        self.assertIn("error=True", titles[2])
        label = parts(spans_of(traces[0])[-1])[2].text
        self.assertTrue(label.endswith("\u2026") and len(label) < 80, label)
        self.assertTrue(long_name.startswith(label[:-1].replace("\ufffd", "\x01")), label)

        width, height = int(root.get("width")), int(root.get("height"))
        width_png, height_png, pixels = read_png(self.render_png(svg))
        self.assertEqual((width_png, height_png), (width, height))

        def centre(bar):
            return pixels[int(float(bar.get("y")) + float(bar.get("height")) / 2)][
                int(float(bar.get("x")) + float(bar.get("width")) / 2)]
        failed = parts(spans_of(traces[0])[2])[1]
        self.assertEqual(centre(failed), rgb(next(iter(error_fills))))
        root_bar = parts(spans_of(traces[0])[0])[1]
        self.assertEqual(centre(root_bar), rgb(root_bar.get("fill")))
        inked = sum(1 for row in pixels for p in row if p != (255, 255, 255))
        self.assertGreater(inked, width * height // 50)

    def test_thousands_of_spans_in_linear_size(self):
        trace, count, chain = (0, 77), 3000, 600
        spans = [span(trace, 1, 0, "root", 0, 10 * count + 100)]
        for i in range(2, count + 1):
            # A chain of nested calls, then many short calls under its links.
            parent = i - 1 if i <= chain else 1 + (i % chain)
            spans.append(span(trace, i, parent, "operation %d with a name of some length" % i,
                              5 * i, 50 + i % 400, error=(i % 97 == 0)))
        svg, tree = self.listen([batch("svc", spans[j:j + 100]) for j in range(0, count, 100)],
                                count, "--tree")

        root = ET.parse(svg).getroot()
        groups = spans_of(root)
        self.assertEqual(len(groups), count)
        # Depth-first: a span's parent has been drawn before it.
        seen = set()
        for g in groups:
            ids = parts(g)[0].split("\n")[3].split()
            self.assertTrue(ids[3] == "%016x" % 0 or ids[3] in seen, ids)
            seen.add(ids[1])
        self.assertEqual(sum(1 for g in groups if "error" in g.get("class").split()),
                         sum(1 for i in range(2, count + 1) if i % 97 == 0))
        size = os.path.getsize(svg)
        self.assertLess(size / count, 800, "bytes a span")
        self.assertLess(int(root.get("height")) / count, 30, "pixels a span")
        # The text tree gets through the deep chain as well.
        self.assertEqual(sum(1 for line in tree.splitlines() if line.startswith("  ")), count)

        png = self.render_png(svg, "--zoom", "0.25")
        width_png, height_png, top = read_png(png, max_rows=200)
        self.assertLessEqual(abs(width_png - int(root.get("width")) / 4), 1)
        self.assertLessEqual(abs(height_png - int(root.get("height")) / 4), 1)
        self.assertGreater(len({p for row in top for p in row}), 3)


if __name__ == "__main__":
    unittest.main()
