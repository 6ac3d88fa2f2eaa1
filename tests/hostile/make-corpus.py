#!/usr/bin/env python3
"""Writes the hostile-input corpus: data files under corpus/ and the table expected.txt that the
hostile_tests program runs against the real code. Run it again after changing a case; the
committed files are what the tests read.

Tokens in log and manifest files, replaced by the test before use:
  {I} the installation folder, {IU} the same in upper case, {O} a folder beside it that the
  removal must never touch, {P} the test folder holding both.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
rows = []


def write(name, data):
    path = os.path.join(CORPUS, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def case(kind, name, data, expected, why):
    write(f"{kind}/{name}", data)
    rows.append((kind, name, expected, why))


# ---- packages: ExtractPackage into {I}; "ok" or "error CODE" ----------------------------------
def header(target, display=b"Display", size=None, mode=3, raw_target=None, raw_display=None):
    t = raw_target if raw_target is not None else target.ljust(64, b"\0")
    d = raw_display if raw_display is not None else display.ljust(64, b"\0")
    assert len(t) == 64 and len(d) == 64
    return t + d + struct.pack("<iHH", 0 if size is None else size, mode, 0)


def entry(target, content=b"content\r\n", mode=3, **kw):
    return header(target, size=len(content), mode=mode, **kw) + content


def szdd(length, body, magic=b"SZDD\x88\xf0\x27\x33", mode=b"A"):
    return magic + mode + b"_" + struct.pack("<I", length) + body


def literals(data):
    out = b""
    for i in range(0, len(data), 8):
        chunk = data[i:i + 8]
        out += b"\xff" + chunk
    return out


P = "package"
case(P, "empty.z", b"", "error 14", "no header at all")
case(P, "short-header.z", header(b"a.txt")[:100], "error 14", "a header cut short")
case(P, "stored-size-beyond-end.z", header(b"a.txt", size=5000) + b"x" * 10, "error 14", "StoredSize past the end")
case(P, "stored-size-max.z", header(b"a.txt", size=0x7FFFFFFF) + b"x" * 10, "error 14", "StoredSize 2^31-1")
case(P, "target-unterminated.z", header(None, raw_target=b"A" * 64, size=1) + b"x", "error 12", "no zero in TargetName")
case(P, "display-unterminated.z", header(b"a.txt", raw_display=b"D" * 64, size=1) + b"x", "error 12", "no zero in DisplayText")
case(P, "target-empty.z", entry(b""), "error 12", "empty target")
for name, target, why in [
    ("dotdot", b"..\\evil.txt", "leaves by .."),
    ("dotdot-deep", b"a\\..\\..\\evil.txt", "leaves by a later .."),
    ("dotdot-slash", b"a/../../evil.txt", "forward slashes"),
    ("dots-blanks", b". .\\evil.txt", "a component Windows reads as .."),
    ("drive", b"C:\\evil.txt", "absolute with drive"),
    ("drive-relative", b"C:evil.txt", "drive-relative"),
    ("rooted", b"\\evil.txt", "leading backslash"),
    ("rooted-slash", b"/evil.txt", "leading slash"),
    ("unc", b"\\\\server\\share\\evil.txt", "UNC path"),
    ("stream", b"a.txt:evil", "alternate stream"),
    ("device-con", b"CON", "device name"),
    ("device-nul-ext", b"sub\\nul.txt", "device name with extension"),
    ("device-com1", b"COM1", "serial device"),
    ("device-lpt9-blank", b"lpt9 .txt", "device name with blank"),
    ("reserved-lt", b"a<b.txt", "reserved character"),
    ("reserved-question", b"a?.txt", "wildcard"),
    ("control-char", b"a\x07b.txt", "control character"),
    ("empty-component", b"a\\\\b.txt", "empty component"),
    ("trailing-separator", b"sub\\", "names a folder"),
    ("system-dotdot", b"@\\..\\evil.dll", "system folder left by .."),
    ("system-byte1-dotdot", b"@x..\\evil.dll", "byte 1 is not read: the name is ..\\evil.dll"),
    ("system-empty", b"@\\", "system folder entry without a name"),
]:
    case(P, f"target-{name}.z", entry(target), "error 12", why)
case(P, "stored-size-negative.z", header(b"neg.txt", size=-5), "ok", "negative StoredSize: an empty file")
case(P, "stored-size-zero.z", header(b"zero.txt", size=0), "ok", "an empty file")
case(P, "overwrite-mode-ffff.z", entry(b"a.txt", mode=0xFFFF), "ok", "any other mode replaces")
case(P, "trailing-135-bytes.z", entry(b"a.txt") + b"\0" * 135, "ok", "less than a header after the last entry")
case(P, "second-entry-cut.z", entry(b"a.txt") + header(b"b.txt", size=10) + b"123", "error 14", "second entry cut")
case(P, "file-then-folder.z", entry(b"a") + entry(b"a\\b.txt"), "error 16", "a file where a folder is needed")
case(P, "target-63-chars.z", entry(b"t" * 59 + b".txt"), "ok", "the longest target")
case(P, "target-high-bytes.z", entry(b"\xe9t\xe9.txt"), "ok", "ANSI letters")
content = b"hello, hostile world\r\n" * 20
case(P, "szdd-length-too-long.z", entry(b"a.txt", szdd(len(content) + 100, literals(content))), "error 12",
     "announces more than it holds")
case(P, "szdd-length-too-short.z", entry(b"a.txt", szdd(10, literals(content))), "error 12",
     "holds more than it announces")
case(P, "szdd-length-negative.z", entry(b"a.txt", szdd(0x80000000, literals(content))), "error 12",
     "announces 2^31 bytes")
case(P, "szdd-length-huge.z", entry(b"a.txt", szdd(0xFFFFFFFF, b"")), "error 12", "announces 4 GiB, holds nothing")
case(P, "szdd-pair-before-start.z", entry(b"a.txt", szdd(144, b"\x00" + b"\xf0\xff" * 8)), "ok",
     "eight pairs of 18 into the initial blanks of the window")
case(P, "szdd-pair-overshoots.z", entry(b"a.txt", szdd(30, b"\x00" + b"\xf0\xff" * 8)), "error 12",
     "pairs that run past the announced length")
case(P, "szdd-header-only.z", entry(b"a.txt", szdd(0, b"")), "ok", "an empty compressed file")
case(P, "szdd-bad-mode.z", entry(b"a.txt", szdd(len(content), literals(content), mode=b"B")), "error 12",
     "an unknown compression mode")

# ---- install logs: RemoveLoggedFiles over {I}; the result, then files kept and deleted ---------
# The test lays out {I}\a.txt, {I}\b.txt, {I}\sub\c.txt, {I}\keep.txt, {O}\victim.txt and
# {P}\install2\x.txt before each case (install2 shares {I}'s name as a prefix).
L = "log"
KEEP_ALL = "kept {O}\\victim.txt {P}\\install2\\x.txt"


def log(name, text, expected, why):
    data = text if isinstance(text, bytes) else text.encode("latin-1")
    case(L, name, data, expected, why)


log("outside-file.log", "+{O}\\victim.txt\r\n", "1 " + KEEP_ALL, "a file outside every allowed folder")
log("outside-by-dotdot.log", "+{I}\\..\\outside\\victim.txt\r\n", "1 " + KEEP_ALL, ".. out of the installation")
log("outside-by-slash-dotdot.log", "+{I}/../outside/victim.txt\r\n", "1 " + KEEP_ALL, "forward slashes and ..")
log("outside-by-dot.log", "+{I}\\.\\a.txt\r\n", "1 kept {I}\\a.txt", "a . component")
log("outside-prefix.log", "+{P}\\install2\\x.txt\r\n", "1 " + KEEP_ALL, "a sibling whose name starts alike")
log("relative.log", "+a.txt\r\n+..\\outside\\victim.txt\r\n", "1 kept {I}\\a.txt {O}\\victim.txt", "relative paths")
log("unc.log", "+\\\\server\\share\\victim.txt\r\n", "1 " + KEEP_ALL, "a UNC path")
log("folder-outside.log", "#{O}\r\n+{O}\\victim.txt\r\n", "1 " + KEEP_ALL, "a folder record outside")
log("inside-upper-case.log", "+{IU}\\A.TXT\r\n", "1 deleted {I}\\a.txt", "case does not matter inside")
log("unterminated-last.log", "+{I}\\a.txt\r\n+{I}\\b.txt", "1 deleted {I}\\a.txt {I}\\b.txt", "no final line end")
log("lone-lf.log", "+{I}\\a.txt\n+{I}\\b.txt\n", "1 kept {I}\\b.txt", "line feeds are skipped, not line ends")
log("lone-cr.log", "+{I}\\a.txt\r+{I}\\b.txt\r", "1 deleted {I}\\a.txt {I}\\b.txt", "carriage returns end lines")
log("empty.log", "", "1 kept {I}\\a.txt", "an empty log")
log("blank-lines.log", "\r\n\r\n\r\n", "1 kept {I}\\a.txt", "only line ends")
log("other-kinds.log", "-{I}\\a.txt\r\n {I}\\b.txt\r\n*{I}\\keep.txt\r\n", "1 kept {I}\\a.txt {I}\\b.txt {I}\\keep.txt",
    "lines of other kinds")
log("kind-only.log", "+\r\n#\r\n", "1 kept {I}\\a.txt", "kind bytes without paths")
log("nul-in-line.log", b"+{I}\\a.txt\x00\\..\\..\\outside\\victim.txt\r\n", "1 " + KEEP_ALL, "a zero byte inside a line")
log("binary.log", bytes(range(256)) * 8, "1 " + KEEP_ALL, "binary noise")
log("overlong-line.log", "+{I}\\" + "a" * 5000 + "\r\n", "1 " + KEEP_ALL, "a line of 5000 characters")
# The part of a line cut at the buffer's end goes on as a line of its own: it must not smuggle in a
# record. 459 characters fit; what follows starts a new line.
log("overlong-smuggles-record.log", "-" + "x" * 458 + "?+{O}\\victim.txt\r\n", "1 " + KEEP_ALL,
    "the rest of an over-long line starting like a record")
log("overlong-smuggles-inside.log", "-" + "x" * 458 + "?+{I}\\a.txt\r\n", "1",
    "the same with an allowed path: acted on as any line")
log("many-lines.log", "+{I}\\nothing.txt\r\n" * 20000 + "+{I}\\a.txt\r\n", "1 deleted {I}\\a.txt", "20000 records")
log("folder-chain.log", "#{I}\\sub\\\r\n+{I}\\sub\\c.txt\r\n", "1 deleted {I}\\sub\\c.txt {I}\\sub",
    "files before folders, whatever the order")
log("stream.log", "+{O}\\victim.txt:$DATA\r\n", "1 " + KEEP_ALL, "a stream of an outside file")
log("device.log", "+{I}\\CON\r\n+\\\\.\\C:\r\n", "1 kept {I}\\a.txt", "device paths")

# ---- Wininit.ini: AddWininitRenameLine into a folder holding this file -----------------------
# Expected: the number of lines of the result, the number of given lines inserted, and whether a
# new section was appended at the end.
W = "wininit"


def wininit(name, data, lines, inserted, appended, why):
    count = "-" if lines is None else str(lines)  # "-": binary lines, not counted
    case(W, name, data, f"{count} {inserted} {'appended' if appended else 'inserted'}", why)


wininit("empty.ini", b"", 3, 1, True, "an empty file")
wininit("section.ini", b"[rename]\r\nNUL=C:\\OLD\r\n", 3, 1, False, "a section")
wininit("two-sections.ini", b"[rename]\r\n[other]\r\n[rename]\r\n", 5, 2, False, "two sections")
wininit("other-case.ini", b"[RENAME]\r\n [rename]\r\n[rename] \r\n", 6, 1, True, "look-alike section lines")
wininit("lone-lf.ini", b"a\nb\n[rename]\n", 4, 1, False, "line feeds")
wininit("lone-cr.ini", b"a\rb\r[rename]\r", 4, 1, False, "carriage returns")
wininit("no-final-end.ini", b"a\r\n[rename]", 3, 1, False, "no line end after the section")
wininit("overlong.ini", b"x" * 5000 + b"\r\n[rename]\r\n", 3, 1, False, "a line of 5000 characters is cut")
wininit("binary.ini", bytes(range(1, 256)) * 4, None, 1, True, "binary bytes without a section")
wininit("nul-bytes.ini", b"[rename]\x00\r\nabc\x00def\r\n", 3, 1, False, "a zero byte ends the text of a line")
wininit("utf16.ini", "[rename]\r\n".encode("utf-16"), None, 1, True, "UTF-16 text is not the section")

# ---- manifests: ReadManifest in a folder holding the sources a and b.txt ----------------------
M = "manifest"
case(M, "good.zpack", b"a | a | A | keep-existing | store\r\nsub\\b.txt | b.txt\r\n", "ok 2", "two sound entries")
case(M, "empty.zpack", b"", "refused", "no entries")
case(M, "only-comments.zpack", b"# x\r\n\r\n   \r\n", "refused", "no entries")
case(M, "overlong.zpack", b"a|a|" + b"d" * 3000 + b"\n", "refused", "a line over 2048 characters")
case(M, "nul.zpack", b"a|a\x00|x\n", "refused", "a zero byte")
case(M, "escape.zpack", b"..\\x | a\n", "refused", "a target that leaves its folder")
case(M, "absolute-source-missing.zpack", b"x | C:\\nowhere\\missing\n", "refused", "a source that does not exist")
case(M, "conflict.zpack", b"a | a\na\\b | b.txt\n", "refused", "a file and a folder of the same name")
case(M, "duplicate.zpack", b"a | a\nA | b.txt\n", "refused", "the same target twice")
case(M, "bad-mode.zpack", b"a | a | A | sometimes\n", "refused", "an unknown overwrite rule")
case(M, "long-target.zpack", b"t" * 70 + b" | a\n", "refused", "a target over 63 characters")
case(M, "binary.zpack", bytes(range(1, 256)), "refused", "binary noise")

with open(os.path.join(HERE, "expected.txt"), "w", newline="\n") as f:
    f.write("# Written by make-corpus.py: kind | file under corpus/ | expected outcome | what it tries\n")
    for kind, name, expected, why in rows:
        f.write(f"{kind} | {name} | {expected} | {why}\n")
print(f"{len(rows)} cases")
