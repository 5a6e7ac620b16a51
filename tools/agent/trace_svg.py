"""Draws received traces as an SVG timeline.

Each trace gets a heading, a time axis of its own and one row a span in depth-first order: the
operation name indented by depth on the left, a bar placed by start and length on the right, the
duration after the bar. Bars take their service's colour; a span tagged error=true is drawn in a
colour no service gets. Hovering a row shows its service, times, ids and tags (SVG <title>).
The file grows linearly with the spans; the tick labels repeat every AXIS_EVERY rows so that a
long trace can be read anywhere.
"""
import math
import os
import re
from xml.sax.saxutils import escape, quoteattr

from trace_tree import duration_of, end_of, is_error, start_of, traces

WIDTH = 1400
MARGIN = 10
LABEL_WIDTH = 400            # operation names, indented by depth
CHART_X = MARGIN + LABEL_WIDTH + 10
CHART_WIDTH = WIDTH - CHART_X - 130  # room for "123456.789 ms error" after a bar at the end
ROW = 18
BAR = 12
HEADING = 30
AXIS = 18
GAP = 24                     # between traces
AXIS_EVERY = 50
INDENT = 12
MAX_INDENT_LEVELS = 20       # deeper rows stop moving right and show their depth instead
CHAR_WIDTH = 6.7             # advance of an 11 px monospace font, rounded up
MIN_BAR = 2.0              # a span too short to show keeps a visible bar
TICKS = 8
MAX_TAG_TEXT = 200
MAX_TAGS = 40
MAX_SERVICES_NAMED = 6

ERROR_COLOUR = "#d62728"
SERVICE_COLOURS = ["#4e79a7", "#59a14f", "#b07aa1", "#9c755f", "#76b7b2", "#edc948",
                   "#bab0ac", "#86bcb6"]

STYLE = """
text { font-family: 'DejaVu Sans Mono', Consolas, monospace; font-size: 11px; fill: #222; }
text.heading { font-family: 'DejaVu Sans', 'Segoe UI', sans-serif; font-size: 14px; font-weight: bold; }
text.tick, text.duration { fill: #555; font-size: 10px; }
line.grid { stroke: #d8dde3; stroke-width: 1; }
rect.row { fill: #ffffff; fill-opacity: 0; }
rect.row.alt { fill: #f3f5f8; fill-opacity: 1; }
g.span:hover rect.row { fill: #ffe9a8; fill-opacity: 1; }
"""

# Characters XML 1.0 cannot hold; span texts come from the network and may contain anything.
_NOT_XML = re.compile("[^\t\n\r\u0020-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def clean(text):
    return _NOT_XML.sub("\ufffd", str(text))


def duration_text(us):
    return "%.3f s" % (us / 1e6) if us >= 1e6 else "%.3f ms" % (us / 1e3)


def tick_step(total_us):
    """A step of 1, 2 or 5 times a power of ten giving about TICKS ticks; at least 1 us."""
    raw = max(total_us / TICKS, 1.0)
    power = 10 ** math.floor(math.log10(raw))
    return next(m * power for m in (1, 2, 5, 10) if m * power >= raw)


def tick_text(value_us, step_us):
    unit, scale = ("s", 1e6) if step_us >= 1e6 else ("ms", 1e3) if step_us >= 1e3 else ("\u00b5s", 1)
    return "%g %s" % (round(value_us / scale, 6), unit)


def label_text(name, depth):
    levels = min(depth, MAX_INDENT_LEVELS)
    prefix = "%d> " % depth if depth > MAX_INDENT_LEVELS else ""
    room = int((LABEL_WIDTH - levels * INDENT) / CHAR_WIDTH) - len(prefix)
    if len(name) > room:
        name = name[:max(room - 1, 0)] + "\u2026"
    return levels * INDENT, prefix + name


def hover_text(span, t0):
    lines = [str(span["operationName"]),
             "service: %s" % span["service"],
             "start: +%s  duration: %s" % (duration_text(start_of(span) - t0),
                                           duration_text(duration_of(span))),
             "span %016x  parent %016x" % (span["spanId"] or 0, span["parentSpanId"] or 0)]
    for t in span["tags"][:MAX_TAGS]:
        value = str(t["value"])
        if len(value) > MAX_TAG_TEXT:
            value = value[:MAX_TAG_TEXT] + "\u2026"
        lines.append("%s=%s" % (t["key"], value))
    if len(span["tags"]) > MAX_TAGS:
        lines.append("(%d more tags)" % (len(span["tags"]) - MAX_TAGS))
    return "\n".join(lines)


class _Picture:
    def __init__(self):
        self.parts = []
        self.y = MARGIN
        self.colours = {}

    def colour(self, service):
        if service not in self.colours:
            self.colours[service] = SERVICE_COLOURS[len(self.colours) % len(SERVICE_COLOURS)]
        return self.colours[service]

    def text(self, x, y, text, cls, anchor=None, fill=None):
        extra = (' text-anchor="%s"' % anchor if anchor else "") + \
                (' style="fill:%s"' % fill if fill else "")
        self.parts.append('<text class="%s" x="%.2f" y="%.2f"%s>%s</text>\n'
                          % (cls, x, y, extra, escape(clean(text))))

    def axis(self, step, total, scale):
        self.y += AXIS
        value = 0
        while value <= total:
            self.text(CHART_X + value * scale + 3, self.y - 5, tick_text(value, step), "tick")
            value += step

    def trace(self, trace_id, rows):
        spans = [s for _, s in rows]
        t0 = min(start_of(s) for s in spans)
        total = max(max(end_of(s) for s in spans) - t0, 1)
        scale = CHART_WIDTH / total
        step = tick_step(total)
        errors = sum(1 for s in spans if is_error(s))
        services = sorted({str(s["service"]) for s in spans})
        named = ", ".join(services[:MAX_SERVICES_NAMED]) + (
            " and %d more" % (len(services) - MAX_SERVICES_NAMED)
            if len(services) > MAX_SERVICES_NAMED else "")
        self.parts.append('<g class="trace">\n')
        self.y += HEADING
        self.text(MARGIN, self.y - 10, "trace %s: %d spans, %s, %d error%s, services: %s"
                  % (trace_id, len(spans), duration_text(total), errors,
                     "" if errors == 1 else "s", named), "heading")
        top = self.y
        body = []
        for index, (depth, span) in enumerate(rows):
            if index % AXIS_EVERY == 0:
                self.parts.extend(body)
                body = []
                self.axis(step, total, scale)
            body.append(self.row(span, depth, t0, scale, index % 2))
            self.y += ROW
        # Grid lines first so that rows and bars cover them.
        value = 0
        while value <= total:
            x = CHART_X + value * scale
            self.parts.append('<line class="grid" x1="%.2f" y1="%d" x2="%.2f" y2="%d"/>\n'
                              % (x, top, x, self.y))
            value += step
        self.parts.extend(body)
        self.parts.append('</g>\n')
        self.y += GAP

    def row(self, span, depth, t0, scale, alternate):
        error = is_error(span)
        x = CHART_X + (start_of(span) - t0) * scale
        width = max(duration_of(span) * scale, MIN_BAR)
        fill = ERROR_COLOUR if error else self.colour(span["service"])
        indent, label = label_text(clean(span["operationName"]), depth)
        middle = self.y + ROW / 2
        red = ' style="fill:%s"' % ERROR_COLOUR if error else ""
        return ''.join([
            '<g class="span%s"><title>%s</title>' % (" error" if error else "",
                                                     escape(clean(hover_text(span, t0)))),
            '<rect class="row%s" x="0" y="%d" width="%d" height="%d"/>'
            % (" alt" if alternate else "", self.y, WIDTH, ROW),
            # A short failed span is a thin bar: the row's left edge shows the mark as well.
            '<rect class="mark" x="0" y="%d" width="4" height="%d" fill="%s"/>'
            % (self.y, ROW, ERROR_COLOUR) if error else '',
            '<rect class="bar" x="%.2f" y="%.2f" width="%.2f" height="%d" fill="%s"/>'
            % (x, middle - BAR / 2, width, BAR, fill),
            '<text class="label" x="%d" y="%.2f"%s>%s</text>'
            % (MARGIN + indent, middle + 4, red, escape(label)),
            '<text class="duration" x="%.2f" y="%.2f"%s>%s</text>'
            % (x + width + 4, middle + 4, red,
               duration_text(duration_of(span)) + ("  error" if error else "")),
            '</g>\n'])


def render(spans):
    """The SVG document for these span records (agent_listener's JSON form), as text."""
    picture = _Picture()
    all_traces = traces(spans)
    if not all_traces:
        picture.y += HEADING
        picture.text(MARGIN, picture.y - 10, "no spans received", "heading")
    for trace_id, rows in all_traces:
        picture.trace(trace_id, rows)
    height = int(math.ceil(picture.y + MARGIN))
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            '<style>%s</style>\n<rect width="100%%" height="100%%" fill="#ffffff"/>\n'
            % (WIDTH, height, WIDTH, height, STYLE))
    return head + "".join(picture.parts) + "</svg>\n"


def write(spans, path):
    """Writes the picture to path in one step: a reader never sees half a file."""
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write(render(spans))
    os.replace(path + ".tmp", path)
