#!/usr/bin/env python3
"""Writes the wizard's own resources into this folder, byte for byte the same on every run:

  License.txt  the licence agreement shown by the wizard, Windows-1252 text with CR LF breaks;
  Wizard.bmp   the wizard picture, 120 x 260 pixels, 16 colours: a portrait on a dark blue ground.

The build uses the committed files; run this script after changing either source below.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# One entry per line of the text; an empty entry is an empty line between paragraphs.
LICENSE_LINES = [
    "TALVIQ PROJECT ZORVANE 2 PERSONAL EDITION DEMO - SOFTWARE LICENSE AGREEMENT",
    "",
    "IMPORTANT - READ CAREFULLY BEFORE INSTALLING: This License Agreement is a legal agreement "
    "between you (either an individual or a single organisation) and TALVIQ for the demonstration "
    "version of TALVIQ Project Zorvane 2 Personal Edition, which includes the computer software, "
    "its data files, the printed or electronic documentation and any updates TALVIQ may provide "
    "for it (together the \"SOFTWARE\"). By installing, copying or otherwise using the SOFTWARE you "
    "agree to be bound by the terms of this Agreement. If you do not agree to them, do not install "
    "or use the SOFTWARE: click Cancel to leave the Setup program now. If you have already "
    "installed it, remove it with the uninstall program that the Setup program creates.",
    "",
    "A. GRANT OF LICENSE. TALVIQ grants you a personal, non-exclusive and non-transferable licence "
    "to install and use one copy of the SOFTWARE on one computer at a time, for the sole purpose "
    "of evaluating whether the full edition of TALVIQ Project Zorvane 2 suits your needs. The "
    "SOFTWARE is licensed, not sold: all rights not expressly granted here are reserved by TALVIQ. "
    "You may make one copy of the SOFTWARE for backup purposes, provided that the copy carries "
    "every notice of the original. You may also install the SOFTWARE on a second computer that you "
    "use yourself, such as a portable computer, as long as the two copies are never used at the "
    "same time. The data files that you create with the SOFTWARE remain your own property.",
    "",
    "B. RESTRICTIONS. You may not: 1. rent, lease, lend, sell or sublicense the SOFTWARE or any "
    "part of it to anyone;",
    "  2. reverse engineer, decompile or disassemble the SOFTWARE, except where the applicable law "
    "expressly permits it despite this limitation;",
    "  3. remove or alter any copyright notice, trademark or other proprietary mark shown by the "
    "SOFTWARE or contained in its files;",
    "  4. use the SOFTWARE to provide services to third parties, for commercial production work or "
    "for any purpose other than your own evaluation, or make it available on a network where "
    "more than one person could use it.",
    "",
    "C. DEMONSTRATION VERSION. You acknowledge that: 1. the SOFTWARE is a demonstration version in "
    "which some functions are limited or disabled;",
    "  2. projects created with the SOFTWARE may not be opened by later versions, and TALVIQ does "
    "not undertake to convert them;",
    "  3. TALVIQ may end the evaluation period at any time by publishing a new demonstration "
    "version or by withdrawing this one;",
    "  4. the SOFTWARE is provided free of charge, and TALVIQ owes you no support, maintenance, "
    "updates or upgrades for it.",
    "",
    "D. TERMINATION. This licence lasts until it is terminated. It terminates automatically, "
    "without notice from TALVIQ, if you fail to comply with any of its terms. You may end it at "
    "any time by removing the SOFTWARE with its uninstall program and destroying every copy of "
    "it that you hold. On termination all rights granted to you here end at once, and you must "
    "stop using the SOFTWARE, its documentation and any copy of either. Sections E, F and G survive "
    "the termination of this Agreement for whatever reason.",
    "",
    "E. NO WARRANTY. The SOFTWARE is provided \"AS IS\", without warranty of any kind, either "
    "express or implied, including but not limited to the implied warranties of merchantability, "
    "fitness for a particular purpose and non-infringement. The entire risk as to the quality and "
    "performance of the SOFTWARE is with you. Should it prove defective, you and not TALVIQ assume "
    "the cost of all necessary servicing, repair or correction. TALVIQ does not warrant that the "
    "SOFTWARE will meet your requirements, that it will operate without interruption or error, or "
    "that its defects will be corrected. No advice or information given by TALVIQ, its dealers or "
    "its employees shall create a warranty. Some jurisdictions do not allow the exclusion of "
    "implied warranties, so the above exclusion may not apply to you in full.",
    "",
    "F. LIMITATION OF LIABILITY. To the maximum extent permitted by the applicable law, in no event "
    "shall TALVIQ or its suppliers be liable for any damages whatsoever, including without "
    "limitation damages for loss of profits, business interruption, loss of data or any other "
    "pecuniary loss, arising out of the use of or the inability to use the SOFTWARE, even if TALVIQ "
    "has been advised of the possibility of such damages. In any case the entire liability of "
    "TALVIQ under any provision of this Agreement shall be limited to the amount actually paid by "
    "you for the SOFTWARE, which for this demonstration version is nothing. Because some "
    "jurisdictions do not allow the exclusion or limitation of liability for consequential or "
    "incidental damages, the above limitation may not apply to you.",
    "",
    "G. GENERAL PROVISIONS. This Agreement is the entire agreement between you and TALVIQ about the "
    "SOFTWARE. If any provision of it is held invalid, the remainder stays in full force. The "
    "parties have required that this Agreement be drawn up in English; translations are given for "
    "convenience only. Les parties ont exigé que la présente convention soit rédigée en anglais. "
    "Die Parteien haben vereinbart, dass dieser Vertrag in englischer Sprache abgefasst wird; "
    "Übersetzungen dienen nur der Information. Las partes acordaron que este contrato se redacte "
    "en inglés, y su versión inglesa prevalecerá. Should you have any question about this "
    "Agreement, or wish to contact TALVIQ for any reason, please write to TALVIQ by the address "
    "given in the documentation of the SOFTWARE. No failure or delay by TALVIQ in exercising a "
    "right under this Agreement shall operate as a waiver of that right, and no waiver shall be "
    "effective unless it is made in writing and signed by TALVIQ. This Agreement is governed by "
    "the laws of the country in which you acquired the SOFTWARE; the courts of that country shall "
    "have jurisdiction over any dispute arising from it. Lieu de juridiction : le tribunal "
    "compétent du domicile de l'utilisateur. Gerichtsstand ist der Wohnsitz des Nutzers.",
]


def write_license():
    text = "\r\n".join(LICENSE_LINES).encode("cp1252")
    assert text.count(b"\r\n") == 22 and text.count(b"\n") == 22 and b"\r\n\r\n\r\n" not in text
    assert 5800 <= len(text) <= 6400, len(text)
    with open(os.path.join(HERE, "License.txt"), "wb") as f:
        f.write(text)
    return len(text)


WIDTH, HEIGHT = 120, 260

PALETTE = [
    (0, 0, 0),        # 0 outline
    (10, 16, 64),     # 1 ground, darkest
    (16, 28, 92),     # 2 ground
    (28, 46, 128),    # 3 ground, the glow behind the head
    (124, 72, 52),    # 4 skin, shadow
    (196, 136, 104),  # 5 skin
    (236, 188, 156),  # 6 skin, light
    (44, 26, 18),     # 7 hair, dark
    (98, 60, 34),     # 8 hair, light
    (30, 32, 44),     # 9 jacket, dark
    (66, 70, 92),     # 10 jacket, light
    (224, 228, 236),  # 11 shirt
    (150, 28, 40),    # 12 tie
    (60, 30, 30),     # 13 eyes, brows
    (170, 80, 78),    # 14 lips
    (255, 255, 255),  # 15 highlight
]

# 4 x 4 ordered dither: a pixel takes the lighter colour when its level exceeds the threshold.
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def dithered(x, y, level, dark, light):
    """level 0.0 gives dark, 1.0 light, in between an ordered mix."""
    return light if level * 16 > BAYER[y % 4][x % 4] + 0.5 else dark


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def portrait():
    px = [[1] * WIDTH for _ in range(HEIGHT)]
    cx = 60
    # Ground: dark blue, with a soft glow behind the head.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            d = (((x - cx) / 70.0) ** 2 + ((y - 90) / 110.0) ** 2) ** 0.5
            glow = max(0.0, 1.0 - d)
            if glow > 0.5:
                px[y][x] = dithered(x, y, (glow - 0.5) * 2, 2, 3)
            else:
                px[y][x] = dithered(x, y, glow * 2, 1, 2)

    # Shoulders and jacket, widening from the neck to the bottom edge.
    for y in range(132, HEIGHT):
        t = min(1.0, (y - 132) / 40.0)
        half = 14 + (42 * (1 - (1 - t) ** 2))
        for x in range(WIDTH):
            if abs(x - cx) <= half:
                light = 1.0 - (x - (cx - half)) / (2 * half)  # light from the left
                px[y][x] = dithered(x, y, light * 0.9 + 0.1, 9, 10)
    # Lapels: dark edges running down from the collar.
    for y in range(142, 192):
        off = 5 + (y - 142) * 0.3
        for x in (int(cx - off) - 1, int(cx - off), int(cx + off), int(cx + off) + 1):
            px[y][x] = 0
    # Shirt in the V of the lapels, with the tie.
    for y in range(136, 192):
        off = 4 + (y - 136) * 0.3
        for x in range(int(cx - off) + 1, int(cx + off)):
            px[y][x] = 11
    for y in range(142, 188):
        half = 2 if y < 148 else 3 + (y - 148) // 20
        for x in range(cx - half, cx + half + 1):
            px[y][x] = 12
    for x in range(cx - 2, cx + 3):
        px[142][x] = 0

    # Neck.
    for y in range(112, 140):
        for x in range(cx - 10, cx + 11):
            px[y][x] = dithered(x, y, (x - (cx - 10)) / 20.0 + (y - 112) / 40.0, 5, 4)
    # Head: light from the upper left.
    for y in range(55, 130):
        for x in range(WIDTH):
            if inside_ellipse(x, y, cx, 92, 23, 32):
                shade = ((x - cx + 10) / 34.0) + ((y - 80) / 120.0)
                if shade < 0.25:
                    px[y][x] = 6
                elif shade < 0.75:
                    px[y][x] = dithered(x, y, (shade - 0.25) * 2, 6, 5)
                else:
                    px[y][x] = dithered(x, y, min(1.0, shade - 0.75) * 2.5, 5, 4)
    # Ears.
    for y in range(86, 104):
        for x in range(WIDTH):
            if inside_ellipse(x, y, cx - 23, 95, 4, 8):
                px[y][x] = 5
            if inside_ellipse(x, y, cx + 23, 95, 4, 8):
                px[y][x] = 4
    # Hair: a cap over the crown, down to the temples.
    for y in range(52, 96):
        for x in range(WIDTH):
            if inside_ellipse(x, y, cx, 84, 27, 32) and not inside_ellipse(x, y, cx + 3, 104, 23, 32):
                if y < 92 or abs(x - cx) > 20:
                    px[y][x] = dithered(x, y, max(0.0, (cx - x) / 30.0 + (70 - y) / 40.0), 7, 8)
    # Brows, eyes with their highlights, nose, mouth.
    for x in range(cx - 15, cx - 4):
        px[83][x] = 13
    for x in range(cx + 5, cx + 16):
        px[83][x] = 13
    for ex in (cx - 9, cx + 10):
        for y in range(87, 92):
            for x in range(ex - 4, ex + 5):
                if inside_ellipse(x, y, ex, 89, 4.5, 2.5):
                    px[y][x] = 11
        for y in range(88, 91):
            for x in range(ex - 1, ex + 2):
                px[y][x] = 13
        px[88][ex] = 15
    for y in range(92, 106):
        px[y][cx + 2] = 4
    for x in range(cx - 3, cx + 5):
        px[106][x] = 4
    for x in range(cx - 8, cx + 9):
        px[114][x] = 14 if abs(x - cx) < 8 else 4
    for x in range(cx - 6, cx + 7):
        px[115][x] = 14
    for x in range(cx - 7, cx + 8):
        px[113][x] = 13 if abs(x - cx) < 7 else px[113][x]

    # A thin frame of the lightest ground colour.
    for x in range(WIDTH):
        px[0][x] = px[HEIGHT - 1][x] = 3
    for y in range(HEIGHT):
        px[y][0] = px[y][WIDTH - 1] = 3
    return px


def write_bitmap():
    px = portrait()
    row_bytes = (WIDTH * 4 + 31) // 32 * 4
    rows = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray(row_bytes)
        for x in range(WIDTH):
            row[x // 2] |= px[y][x] << (4 if x % 2 == 0 else 0)
        rows += row
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(rows), 2835, 2835, 16, 16)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(os.path.join(HERE, "Wizard.bmp"), "wb") as f:
        f.write(header + info + palette + rows)
    return offset + len(rows)


if __name__ == "__main__":
    print("License.txt: %d bytes" % write_license())
    print("Wizard.bmp: %d bytes" % write_bitmap())
