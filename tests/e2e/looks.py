"""How the window looks under the fonts it was laid out for, read off screenshots: each chart's
plot whole from x 44 to 364 and y 6 to 256 (no label or table cell over it, the zero line at row
256), each axis label centred under its grid line, the texts whole, and the processor header clear
of the tabs. Used by the window test in both locales."""

from e2e import check, probe_out, settled_shot

PLOT_LEFT, PLOT_TOP, PLOT_RIGHT, PLOT_BOTTOM = 44, 6, 364, 256
COARSE_STEP = 32  # the labelled vertical grid lines
MARKER_X = 140  # the RAM charts' marker of linear access
HEADER_X = 255
# Coarse grid colours of the three charts.
COARSE = {0: (0, 150, 150), 1: (0, 75, 75), 2: (75, 22, 75)}
LEGEND_BOX = {0: (240, 12, PLOT_RIGHT, 48), 1: (270, 8, PLOT_RIGHT, 44), 2: (270, 8, PLOT_RIGHT, 44)}
NAMES = {0: "cache", 1: "read", 2: "write"}


def dark(p):
    return sum(p) < 200


def state_lines():
    return [line.split(" ") for line in probe_out("state").splitlines()]


def check_plot(shot, page, back, face):
    """No pixel of the margin or of a control's face inside the plot, outside its border, and
    the zero line drawn along row 256."""
    name = NAMES[page]
    foreign = []
    for y in range(PLOT_TOP + 1, PLOT_BOTTOM):
        for x in range(PLOT_LEFT + 1, PLOT_RIGHT):
            if x == MARKER_X and page > 0:
                continue  # the RAM charts' dotted marker has gaps in the margin colour
            if shot.pixel(x, y) in (back, face):
                foreign.append((x, y))
    check.ok("%s plot whole from x %d to %d, y %d to %d: no label or cell over it" % (
        name, PLOT_LEFT, PLOT_RIGHT, PLOT_TOP, PLOT_BOTTOM), not foreign,
        "%d pixels of the margin or a control, first %s" % (len(foreign), foreign[:3]))
    row = [shot.pixel(x, PLOT_BOTTOM) for x in range(PLOT_LEFT, PLOT_RIGHT + 1)]
    zero = sum(1 for p in row if p == COARSE[page])
    check.ok("%s zero line along row %d" % (name, PLOT_BOTTOM), zero >= 0.9 * len(row),
             "%d of %d pixels in the grid colour" % (zero, len(row)))


def label_centres(shot, top, bottom, left, right):
    """Centres of the runs of columns that hold dark pixels between rows top and bottom, runs
    at most 5 columns apart joined (a label's letters; labels stand two blanks apart or more): one
    per label of an axis."""
    columns = [x for x in range(left, right) if any(dark(shot.pixel(x, y))
                                                   for y in range(top, bottom))]
    runs = []
    for x in columns:
        if runs and x - runs[-1][1] <= 5:
            runs[-1][1] = x
        else:
            runs.append([x, x])
    return [(a + b) / 2 for a, b in runs]


def check_axis_labels(shot, page):
    """The labels of the x axis (one static text under the plot, spaced with blanks): one under
    each coarse grid line, each nearer its own line than any other, and centred on it within 3
    pixels where the layout centres it. The first and the last label are held by the ends of
    their control, and the negative gaps of the RAM axes stand right of their lines in the
    layout itself (its blanks put them there with the font it was made for)."""
    name = NAMES[page]
    centres = label_centres(shot, PLOT_BOTTOM + 10, PLOT_BOTTOM + 18, 30, 378)
    lines = list(range(PLOT_LEFT, PLOT_RIGHT + 1, COARSE_STEP))
    offsets = [round(c - g, 1) for c, g in zip(centres, lines)]
    detail = "label centres %s, offsets %s" % ([round(c) for c in centres], offsets)
    in_order = len(centres) == len(lines) and all(
        min(lines, key=lambda g: abs(g - c)) == line for c, line in zip(centres, lines))
    check.ok("%s axis: %d labels, each under its own grid line" % (name, len(lines)), in_order,
             detail)
    centred = range(1 if page == 0 else 3, len(lines) - 1)
    check.ok("%s axis: labels %d to %d centred under their lines within 3 pixels" % (
        name, centred[0] + 1, centred[-1] + 1),
        in_order and all(abs(offsets[i]) <= 3 for i in centred), detail)


def check_legend_whole(shot, page):
    """The legend ends inside the plot: no text pixel of it in the margin right of the plot."""
    name = NAMES[page]
    left, top, right, bottom = LEGEND_BOX[page]
    spill = [(x, y) for x in range(PLOT_RIGHT + 1, PLOT_RIGHT + 12) for y in range(top, bottom)
             if shot.pixel(x, y)[0] > 150 and sum(shot.pixel(x, y)) < 600 and
             shot.pixel(x, y) != shot.pixel(PLOT_RIGHT + 8, 200)]
    check.ok("%s legend whole inside the plot" % name, not spill, spill[:3])


def check_header():
    """The processor header starts right of the last tab and ends inside the tab control."""
    lines = state_lines()
    rects = {int(w[1]): [int(v) for v in w[2:6]] for w in lines if w[0] == "tabrect"}
    last = rects.get(max(rects)) if rects else None
    check.ok("the tabs end before the processor header at x %d" % HEADER_X,
             last is not None and last[2] < HEADER_X, "tab rectangles %s" % rects)


def check_base_units():
    """The dialog font's cells, from the positions of two controls: 6 x 13 pixels."""
    controls = {(int(w[1]), int(w[2])): (int(w[3]), int(w[4])) for w in state_lines()
                if w[0] == "control" and len(w) >= 5}
    # Fields 110 and 114 stand 122 dialog units apart across, 100 and 124 20 units down.
    if not all(k in controls for k in ((0, 110), (0, 114), (0, 100), (0, 124))):
        return check.ok("the cache page's fields are there", False, sorted(controls)[:5])
    across = (controls[(0, 114)][0] - controls[(0, 110)][0]) * 4 / 122
    down = (controls[(0, 124)][1] - controls[(0, 100)][1]) * 8 / 20
    return check.ok("dialog base units 6 x 13 pixels", abs(across - 6) < 0.3 and
                    abs(down - 13) < 0.5, "%.2f x %.2f" % (across, down))


def face_colours():
    """The dialog's face colour and the charts' margin colour, a shade darker."""
    face = tuple(int(v) for v in probe_out("face").split())
    return face, (max(face[0] - 5, 0), max(face[1] - 5, 0), face[2])


def check_looks(folder, tag, pages=(0, 1, 2), monitor=None):
    """All of the above on the chart pages, screenshots kept as <tag>-looks-<page>.png."""
    face, back = face_colours()
    check_base_units()
    check_header()
    for page in pages:
        shot = settled_shot("%s/%s-looks-%s.png" % (folder, tag, NAMES[page]), page,
                            monitor=monitor)
        check_plot(shot, page, back, face)
        check_axis_labels(shot, page)
        check_legend_whole(shot, page)
