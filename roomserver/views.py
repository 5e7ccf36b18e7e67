"""The room drawn: the table (the terminal's lines), the summary and the page for a phone. Every cell is the
model's own text (checked MACs and addresses, stage labels, numbers), and the page escapes it all."""

import collections
import html

from roomserver import stages
from roomserver.room import clock

_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta http-equiv="refresh" content="%d">
<meta name="viewport" content="width=device-width, initial-scale=1"><title>%s</title><style>
body{font-family:sans-serif;margin:.5em}table{border-collapse:collapse;width:100%%}
td,th{border-bottom:1px solid #ccc;padding:.3em;text-align:left;font-size:.9em}
td:nth-child(2){font-family:monospace;font-size:.75em}td:last-child{width:45%%}.failed{background:#fcc}.late{background:#ffd}
.alone{color:#888}progress{width:100%%}
@media (max-width:40em){table,tbody,tr,td{display:block}tr:first-child{display:none}
tr{border-bottom:1px solid #ccc;padding:.3em 0}td{border:0;padding:.1em .3em}td:not(:last-child){display:inline}
td:first-child{font-weight:bold}td:last-child{width:auto}}
</style></head><body>
<h1 style="font-size:1.1em">%s</h1>
<p>%s</p>
<table><tr>%s</tr>
%s</table>
<p>%s</p></body></html>
"""


def table(room, summary=False, since_offer=False):
    """(header, [(key, cells, state, percent)]): a row per PC, keyed by its MAC (or its address, for a PC known
    by that alone); cells: name, MAC, IP, firmware, make and model (once a PC has said its own), stage, and in
    the summary the seconds to the image; the percent of the image a receiving PC has (else None)."""
    models = any(pc.model for pc in room.pcs.values())
    head = ["PC", "MAC", "IP", "firmware"] + ["make and model"] * models + ["last stage" if summary else "stage"]
    rows = []
    for pc in room.ordered():
        text, state = room.stage(pc)
        if since_offer and pc.stage == "started" and pc.offered:
            text += " (%.0f s after its first offer)" % (pc.started - pc.offered)
        # A PC that joined without asking here first booted from a medium of its own.
        cells = [pc.name or "-", pc.mac or "-", pc.ip, "USB" if pc.transfer and not pc.offered else pc.firmware]
        cells += [pc.model or "-"] * models + [text]
        if summary:
            took = pc.received - pc.offered if pc.received and pc.offered else None
            cells.append("-" if took is None else "%.0f" % took)
        rows.append((pc.mac or pc.ip, cells, state, room.percent_of(pc)))
    return (head + ["s from offer to image"] if summary else head), rows


def lines(room, now, summary=False, since_offer=False):
    """[(key, text)]: the top line ("top"), the header ("head") and a line per PC (its key), in columns."""
    head, rows = table(room, summary, since_offer)
    cells = [head] + [row[1] for row in rows]
    widths = [max(len(c[i]) for c in cells) for i in range(len(head) - 1)]
    texts = ["  ".join(c.ljust(w) for c, w in zip(row, widths)) + "  " + row[-1] for row in cells]
    return [("top", room.top(now)), ("head", texts[0])] + [(row[0], text) for row, text in zip(rows, texts[1:])]


def summary(room, now, name, outcome=False, since_offer=False, listed=False, answer_files=False):
    """The table once more (the last stage of each PC), then with OUTCOME the sender's figures and how the room
    ended: who did not make it and what to do for them. NAME: the command, for what to run again."""
    said = [text for _, text in lines(room, now, summary=outcome, since_offer=since_offer)[1:]]
    if listed and room.alone_more:
        said.append("%d more PCs not in the room list asked (not shown; see WORK_DIR/seen)" % room.alone_more)
    if room.more:
        said.append("the table is full (%d rows): %d more requests of hosts not shown" % (len(room.pcs), room.more))
    if not outcome:
        return said
    status, done, joined, missed = room.outcome()
    words = room.done_words()
    if status == 0:
        ended = ["every PC that joined %s: %d of %d" % (words.replace("were", "was"), done, joined)]
    elif not joined:
        ended = ["no PC joined the multicast: start the PCs in WinPE (from the network or the USB medium)"]
    else:
        ended = ["%d of %d PCs that joined %s; not: %s" % (done, joined, words, ", ".join(
            "%s (%s)" % (pc.name or pc.mac or pc.ip, room.stage(pc)[0]) for pc in missed))]
        ended += _advice(room, missed, name)
    silent = [pc.name or pc.mac or pc.ip for pc in room.pcs.values() if pc.transfer and not pc.reported and
              room.of_room(pc)]
    if silent and words == "were deployed":
        ended.append("judged by the image received, as they sent no reports (no report channel): %s"
                     % ", ".join(silent))
    if answer_files:
        ended += room.names_given()
    return said + room.figures + ended


def _advice(room, missed, name):
    """What to do for each PC of MISSED, by what became of it."""
    def who(pcs):
        return ", ".join(pc.name or pc.mac or pc.ip for pc in pcs)
    held = [pc for pc in missed if pc.stage in ("failed", "guard-refused")]
    claimed = [pc for pc in missed if pc.stage == "claimed"]
    usb = [pc for pc in missed if pc.transfer and not pc.offered and pc not in held + claimed]
    rest = [pc for pc in missed if pc.mac and pc not in held + claimed + usb]
    served = [pc for pc in rest if pc.mac in room.served]
    said = []
    if held:
        said.append(who(held) + (" holds at its Error line: fix the cause, then restart it by hand" if len(held) == 1
                                 else " hold at their Error lines: fix the causes, then restart them by hand"))
    if claimed:
        said.append("Two hosts claimed the MAC of %s (the journal names their addresses): find the other host, then "
                    "run %s again" % (who(claimed), name))
    if served:
        said.append("They are in the list of PCs served, so a network boot sends them to their (wiped) disk: run "
                    "%s again with --again %s and power them on" % (name, ",".join(pc.name or pc.mac for pc in served)))
    if len(served) < len(rest):
        said.append("Not served yet, so a network boot starts WinPE on them: run %s again and power on %s" % (
            name, who(pc for pc in rest if pc not in served)))
    if usb:
        said.append("Start the USB PCs from the medium again while %s runs" % name)
    return said


def _bar(percent):
    return "" if percent is None else '<progress value="%d" max="100"></progress>' % percent


def page(room, now, title, refresh=2):
    """For a phone across the room: the counts by outcome first, failed rows first with their line in full,
    a bar for the transfer and for each PC that receives; no script, nothing fetched from elsewhere."""
    head, rows = table(room)
    counts = collections.Counter(state for _, _, state, _ in rows)
    cells = "".join('<tr class="%s">%s<td>%s%s</td></tr>\n' % (
        state, "".join("<td>%s</td>" % html.escape(c) for c in row[:-1]), html.escape(row[-1]), _bar(percent))
        for _, row, state, percent in rows)
    top = html.escape(room.top(now)) + _bar(room.percent if room.state == "sending" else None)
    return _PAGE % (refresh, html.escape(title), top, html.escape(", ".join(
        "%s %d" % (name, counts[name]) for name in stages.COUNTED)), "".join(
        "<th>%s</th>" % html.escape(h) for h in head), cells, html.escape("as of " + clock(now)))
