"""Orders received spans into traces: each trace's spans depth first, siblings by start time.

Spans are the JSON records of agent_listener (service, traceIdHigh/Low, spanId, parentSpanId,
startTime, duration in microseconds, tags). Work is O(n log n) and iterative, so traces of any
size or depth come out, even ones a faulty sender made inconsistent.
"""


def trace_id_text(high, low):
    return "%x%016x" % (high, low) if high else "%016x" % low


def start_of(span):
    return span["startTime"] or 0


def duration_of(span):
    return max(span["duration"] or 0, 0)


def end_of(span):
    return start_of(span) + duration_of(span)


def is_error(span):
    """A span marked as failed: the tag error=true, as a boolean or as text."""
    return any(t["key"] == "error" and t["value"] in (True, "true") for t in span["tags"])


def traces(spans):
    """Returns [(trace id text, [(depth, span), ...]), ...], traces ordered by their first start.

    Every span appears exactly once. A span whose parent is not in its trace is a root; spans
    that only a parent cycle reaches become roots after the rest, in order of start."""
    groups = {}
    for s in spans:
        groups.setdefault((s["traceIdHigh"], s["traceIdLow"]), []).append(s)
    result = [(trace_id_text(high, low), _depth_first(members))
              for (high, low), members in groups.items()]
    result.sort(key=lambda trace: min(start_of(s) for _, s in trace[1]))
    return result


def _depth_first(members):
    ids = {s["spanId"] for s in members}
    children = {}
    for s in members:
        parent = s["parentSpanId"]
        if parent not in ids or parent == s["spanId"]:
            parent = None
        children.setdefault(parent, []).append(s)
    for siblings in children.values():
        siblings.sort(key=start_of)

    rows = []
    placed = set()    # id() of the records already in rows
    expanded = set()  # span ids whose children are placed; a repeated id does not place them twice

    def walk(roots):
        stack = [(0, s) for s in reversed(roots)]
        while stack:
            depth, s = stack.pop()
            if id(s) in placed:
                continue
            placed.add(id(s))
            rows.append((depth, s))
            if s["spanId"] in expanded:
                continue
            expanded.add(s["spanId"])
            stack.extend((depth + 1, c) for c in reversed(children.get(s["spanId"], [])))

    walk(children.get(None, []))
    if len(rows) < len(members):
        walk(sorted((s for s in members if id(s) not in placed), key=start_of))
    return rows
