#!/usr/bin/env python3
"""Draws the window icon (a sheet of paper with a pencil, 32x32, 16 colours)
and the browse button's pointer (a pointing hand, 32x32, hot spot 12,1) as
XPM files next to this script. Run it again after changing a drawing; the
XPM files are committed so the build needs no Python."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# The classic 16-colour palette; the icon uses only these.
PALETTE = {
    "k": "#000000", "r": "#800000", "g": "#008000", "y": "#808000",
    "n": "#000080", "m": "#800080", "c": "#008080", "s": "#C0C0C0",
    "d": "#808080", "R": "#FF0000", "G": "#00FF00", "Y": "#FFFF00",
    "B": "#0000FF", "M": "#FF00FF", "C": "#00FFFF", "w": "#FFFFFF",
}


def write_xpm(name, grid, colours):
    used = sorted({ch for row in grid for ch in row})
    lines = [f'"32 32 {len(used)} 1",']
    for ch in used:
        lines.append(f'"{ch} c {colours[ch]}",')
    for i, row in enumerate(grid):
        lines.append(f'"{"".join(row)}"' + ("," if i < 31 else ""))
    ident = name.replace("-", "_").replace(".", "_")
    with open(os.path.join(HERE, name), "w") as f:
        f.write(f"/* XPM */\nstatic const char *{ident}[] = {{\n")
        f.write("\n".join(lines))
        f.write("\n};\n")


def blank():
    return [["." for _ in range(32)] for _ in range(32)]


def icon():
    g = blank()
    # The sheet: x 4..23, y 1..30, corner folded at the top right.
    fold = 6
    for y in range(1, 31):
        for x in range(4, 24):
            if x > 23 - fold + (y - 1) and y - 1 < fold:
                continue  # cut corner
            edge = x in (4, 23) or y in (1, 30) or (y - 1 < fold and x == 23 - fold + (y - 1))
            g[y][x] = "k" if edge else "w"
    # The folded flap, grey, under the cut.
    for y in range(1, 1 + fold):
        for x in range(23 - fold, 24):
            if x >= 23 - fold and y - 1 <= x - (23 - fold) and g[y][x] == ".":
                pass
    for i in range(fold + 1):
        y = 1 + i
        for x in range(23 - fold, 23 - fold + i + 1):
            g[y][x] = "s" if g[y][x] != "k" else "k"
        g[y][23 - fold] = "k" if i < fold else g[y][23 - fold]
    for x in range(23 - fold, 24):
        g[1 + fold][x] = "k"
    for y in range(1, 2 + fold):
        g[y][23 - fold] = "k"
    # Written lines.
    for y in range(10, 28, 3):
        for x in range(7, 21 if y < 25 else 15):
            g[y][x] = "n"
    # The pencil, lying from the lower left up to the right: body yellow,
    # shaded edge dark yellow, ferrule grey, eraser red, wood tip, lead.
    def put(x, y, ch):
        if 0 <= x < 32 and 0 <= y < 32:
            g[y][x] = ch
    for t in range(0, 22):
        cx, cy = 9 + t, 28 - t  # axis of the pencil
        if t < 2:
            put(cx, cy, "k")  # lead
            put(cx + 1, cy, "k" if t == 0 else "y")
            continue
        if t < 5:
            for o in (-1, 0, 1):
                put(cx + o, cy + o, "y" if o else "s")  # sharpened wood
            put(cx - 2, cy - 2, "k")
            put(cx + 2, cy + 2, "k")
            continue
        body = "s" if t >= 17 else "Y"
        if t >= 19:
            body = "R"
        put(cx - 1, cy - 1, "k")
        put(cx, cy - 1, body)
        put(cx, cy, body)
        put(cx + 1, cy, "y" if body == "Y" else body)
        put(cx + 1, cy + 1, "y" if body == "Y" else body)
        put(cx + 2, cy + 1, "k")
    put(31, 6, "k"); put(30, 6, "k")
    return g


def hand():
    mask = [[False] * 32 for _ in range(32)]

    def rect(x0, y0, x1, y1, round_top=True):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if round_top and y == y0 and x in (x0, x1):
                    continue
                mask[y][x] = True

    rect(10, 1, 14, 17)    # index finger, tip at (12, 1)
    rect(14, 9, 18, 17)    # middle finger
    rect(18, 10, 22, 17)   # ring finger
    rect(22, 12, 25, 18)   # little finger
    rect(8, 16, 25, 22, round_top=False)   # palm
    rect(4, 13, 9, 17)                      # thumb, bent towards the palm
    rect(6, 17, 10, 20, round_top=False)
    rect(9, 22, 24, 25, round_top=False)   # heel of the hand
    rect(10, 26, 23, 30, round_top=False)  # cuff
    g = blank()
    for y in range(32):
        for x in range(32):
            if not mask[y][x]:
                continue
            outside = any(
                not (0 <= x + dx < 32 and 0 <= y + dy < 32) or not mask[y + dy][x + dx]
                for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            g[y][x] = "#" if outside else "o"
    # Creases between the fingers and the cuff's seam.
    for x, y0, y1 in ((14, 10, 16), (18, 11, 16), (22, 13, 17), (9, 14, 16)):
        for y in range(y0, y1 + 1):
            g[y][x] = "#"
    for x in range(11, 23):
        g[26][x] = "#"
    assert g[1][12] == "#" and g[0][12] == ".", "hot spot must be the fingertip"
    return g


write_xpm("pendra-icon.xpm", icon(), {**PALETTE, ".": "None"})
write_xpm("pointing-hand.xpm", hand(), {".": "None", "#": "#000000", "o": "#FFFFFF"})
