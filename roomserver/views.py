"""The room drawn: the table (the terminal's lines and the summary) and the page for a phone. Every cell is
the model's own text (checked MACs and addresses, stage labels, numbers), and the page escapes it all."""

import html

from roomserver.room import clock

_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta http-equiv="refresh" content="%d">
<meta name="viewport" content="width=device-width, initial-scale=1"><title>%s</title><style>
body{font-family:sans-serif;margin:.5em}table{border-collapse:collapse;width:100%%}
td,th{border-bottom:1px solid #ccc;padding:.3em;text-align:left;font-size:.9em}
td:nth-child(2){font-family:monospace;font-size:.75em}td:last-child{width:45%%}.failed{background:#fcc}.late{background:#ffd}
.alone{color:#888}
</style></head><body>
<h1 style="font-size:1.1em">%s</h1>
<table><tr>%s</tr>
%s</table>
<p>%s</p></body></html>
"""


def table(room, summary=False, since_offer=False):
    """(header, [(cells, state)]): name, MAC, IP, firmware, stage, and in the summary the seconds to the image."""
    head = ["PC", "MAC", "IP", "firmware", "last stage" if summary else "stage"]
    rows = []
    for pc in room.ordered():
        text, state = room.stage(pc)
        if since_offer and pc.stage == "started" and pc.offered:
            text += " (%.0f s after its first offer)" % (pc.started - pc.offered)
        # A PC that joined without asking here first booted from a medium of its own.
        cells = [pc.name or "-", pc.mac or "-", pc.ip, "USB" if pc.transfer and not pc.offered else pc.firmware, text]
        if summary:
            took = pc.received - pc.offered if pc.received and pc.offered else None
            cells.append("-" if took is None else "%.0f" % took)
        rows.append((cells, state))
    return (head + ["s from offer to image"] if summary else head), rows


def lines(room, now, summary=False, since_offer=False):
    """The top line, the header and a line per PC, in columns."""
    head, rows = table(room, summary, since_offer)
    cells = [head] + [r[0] for r in rows]
    widths = [max(len(c[i]) for c in cells) for i in range(len(head) - 1)]
    return [room.top(now)] + ["  ".join(c.ljust(w) for c, w in zip(row, widths)) + "  " + row[-1] for row in cells]


def page(room, now, title, refresh=2):
    head, rows = table(room)
    cells = "".join('<tr class="%s">%s</tr>\n' % (state, "".join("<td>%s</td>" % html.escape(c) for c in row))
                    for row, state in rows)
    return _PAGE % (refresh, html.escape(title), html.escape(room.top(now)),
                    "".join("<th>%s</th>" % html.escape(h) for h in head), cells, html.escape("as of " + clock(now)))
