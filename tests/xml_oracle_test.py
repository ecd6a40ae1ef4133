#!/usr/bin/env python3
"""Rewrites generated profiles and the fuzz corpus with talvor-apply, and checks the result with
a real XML parser (expat): a well-formed profile stays well-formed, no line that holds no tag and
lies inside no element is removed or changed, and a second rewrite changes nothing.

Usage: xml_oracle_test.py TOOL CORPUS_FOLDER

Two kinds of profile are let off the first check, as the rewrite's rule foresees: one where the
map-files line, inserted as the fifth line, does not land in element content, and one where an
element of the two holds markup (its opening tag alone is replaced, so its closing tag is left
over).
"""

import os
import random
import re
import subprocess
import sys
import tempfile
import xml.parsers.expat

TAGS = ("<mapfiles>", "</mapfiles>", "<showraster>", "</showraster>")
ELEMENTS = ("mapfiles", "showraster")
SPAN = re.compile(r"<(mapfiles|showraster)>[^<]*</\1>")
BREAK = re.compile(r"\r\n|\r|\n")


def decode(data):
    """The text of a profile as the tool reads it, or None where its bytes are not valid for the
    encoding that its byte-order mark announces."""
    for mark, codec in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"),
                        (b"\xfe\xff", "utf-16-be")):
        if data.startswith(mark):
            body = data[len(mark):]
            if codec != "utf-8":
                if len(body) == 1:
                    return None
                body = body[:len(body) // 2 * 2]
            try:
                return body.decode(codec, errors="strict" if codec == "utf-8" else "surrogatepass")
            except UnicodeDecodeError:
                return None
    # The ANSI code page keeps every ASCII character where it is; that is all that is compared.
    return data.decode("latin-1")


def lines_of(text):
    """The lines as the rewrite splits a text: CR LF, CR and LF each end one."""
    lines = BREAK.split(text)
    if text and BREAK.match(text[-1]):
        lines.pop()
    return [] if not text else lines


def kept_lines(text):
    """Lines that hold no tag and lie inside no element: the rewrite must keep them as they are."""
    inside = set()
    for span in SPAN.finditer(text):
        first = len(BREAK.findall(text[:span.start()]))
        last = first + len(BREAK.findall(span.group(0)))
        inside.update(range(first + 1, last))
    return [line for i, line in enumerate(lines_of(text))
            if i not in inside and not any(tag in line for tag in TAGS)]


def is_subsequence(wanted, lines):
    remaining = iter(lines)
    return all(any(line == w for line in remaining) for w in wanted)


class Parse:
    """What expat makes of a document: whether it is well-formed, whether an element of the two
    holds markup, and each event's start, kind and element depth."""

    def __init__(self, data):
        self.events = []
        self.complex_element = False
        depth = 0
        open_elements = []
        parser = xml.parsers.expat.ParserCreate()

        def record(kind):
            self.events.append(((parser.CurrentLineNumber, parser.CurrentColumnNumber), kind,
                                depth))
            # Markup inside an element of the two.
            if kind != "text" and open_elements and open_elements[-1] in ELEMENTS:
                self.complex_element = True

        def start(name, _attributes):
            nonlocal depth
            record("tag")
            open_elements.append(name)
            depth += 1

        def end(_name):
            nonlocal depth
            self.events.append(((parser.CurrentLineNumber, parser.CurrentColumnNumber), "tag",
                                depth))
            open_elements.pop()
            depth -= 1

        parser.StartElementHandler = start
        parser.EndElementHandler = end
        parser.CharacterDataHandler = lambda _text: record("text")
        parser.CommentHandler = lambda _text: record("comment")
        parser.ProcessingInstructionHandler = lambda _target, _data: record("pi")
        parser.StartCdataSectionHandler = lambda: record("cdata")
        try:
            parser.Parse(data, True)
            self.well_formed = True
        except xml.parsers.expat.ExpatError:
            self.well_formed = False

    def in_content(self, line):
        """Whether the start of `line` (1-based) lies in element content, outside any markup."""
        point = (line, 0)
        before = [event for event in self.events if event[0] <= point]
        if not before:
            return False
        start, kind, depth = before[-1]
        return depth > 0 and (kind == "text" or start == point)


def check(name, data, tool, folder):
    """Runs the tool on `data` and returns the failures found, and whether the result's
    well-formedness was checked."""
    path = os.path.join(folder, "profile.xml")
    with open(path, "wb") as f:
        f.write(data)
    result = subprocess.run([tool, path], capture_output=True)
    with open(path, "rb") as f:
        out = f.read()
    text = decode(data)
    if result.returncode != 0:
        # Only a profile that cannot be read, or one of fewer than four lines without a map-files
        # line, may fail, and it is left untouched.
        refused = text is None or ("<mapfiles>" not in text and len(lines_of(text)) < 4)
        if refused and result.returncode == 1 and out == data:
            return [], False
        return [f"{name}: exit {result.returncode}: {result.stderr.decode(errors='replace')}"], False

    failures = []
    out_lines = lines_of(decode(out))
    if not is_subsequence(kept_lines(text), out_lines):
        failures.append(f"{name}: a line without a tag was removed or changed")
    before = Parse(data)
    inserted = b"inserted" in result.stdout
    expected = False
    if before.well_formed and not before.complex_element:
        after = Parse(out)
        if inserted:
            rest = "\r\n".join(out_lines[:4] + out_lines[5:]).encode("utf-16-le")
            expected = Parse(b"\xff\xfe" + rest).in_content(5)
        else:
            expected = True
        if expected and not after.well_formed:
            failures.append(f"{name}: well-formed before, not after")
    check_run = subprocess.run([tool, "--check", path], capture_output=True)
    if check_run.returncode != 0:
        failures.append(f"{name}: a second rewrite would change the profile")
    return failures, expected


def element(rng, tag, value_lines):
    indent = rng.choice(["", "  ", "    ", "\t"])
    value = rng.choice(["old.cmr", "0", "a.cmr,b.cmr", "", " x &amp; y "])
    if value_lines > 1:
        inner = "\n".join(indent + "  " + rng.choice(["a.cmr,", "0", "b", ""])
                          for _ in range(value_lines - 1))
        value = "\n" + inner + "\n" + indent
    return f"{indent}<{tag}>{value}</{tag}>"


def item(rng, depth=0):
    kind = rng.randrange(14)
    if kind == 0:
        return rng.choice(["<user>camille</user>", '<a x="1"/>', '<b c=">">text</b>', "plain text",
                           "a &lt;mapfiles&gt; mention", "x > y"])
    if kind in (1, 2):
        return element(rng, rng.choice(ELEMENTS), rng.choice([1, 1, 2, 3]))
    if kind == 3:
        return rng.choice(["<!-- <mapfiles> tiles -->", "<!-- <showraster> -->",
                           "<!-- <mapfiles>a</mapfiles> -->", "<!-- </showraster> x -->"])
    if kind == 4:
        return rng.choice(["<!--\n  see <mapfiles> below\n-->", "<!--\n<showraster>0\n</showraster>\n-->",
                           "<!-- <mapfiles>a,\nb</mapfiles> -->", "<!--\n <showraster> and\n <x> -->"])
    if kind == 5:
        return rng.choice(["<![CDATA[<mapfiles>x]]>", "<![CDATA[\n<showraster> 0\n]]>",
                           "<![CDATA[<showraster>0</showraster>]]>", "<![CDATA[\n<mapfiles>\n]]>"])
    if kind == 6:
        return ("<display>" + element(rng, "mapfiles", 1).strip()
                + element(rng, "showraster", 1).strip() + "</display>")
    if kind == 7:
        return '<item\n  id="1"\n  name="x">t</item>'
    if kind == 8:
        return "<?pi <mapfiles> ?>"
    if kind == 9 and depth < 2:
        return "<group>\n" + "\n".join(item(rng, depth + 1) for _ in range(rng.randrange(4))) + \
            "\n</group>"
    if kind == 10:
        # An element of the two that holds markup: let off the well-formedness check.
        return rng.choice(["<showraster><v>0</v></showraster>",
                           "<mapfiles>\n<!-- c -->\n</mapfiles>"])
    return rng.choice(["", "  ", "<c/>", "<d>1</d>"])


def generate(rng):
    body = [item(rng) for _ in range(rng.randrange(1, 12))]
    joiner = rng.choice(["\n", "\n", ""])
    prolog = rng.choice(["", '<?xml version="1.0"?>' + joiner, "<!-- <showraster> -->" + joiner])
    text = prolog + "<lx>" + joiner + joiner.join(body) + joiner + "</lx>" + rng.choice(["", "\n"])
    if rng.random() < 0.3:
        text = text.replace("\n", "\r\n")
    encoding = rng.choice(["utf-8-sig", "utf-8-sig", "utf-16", "ascii"])
    return text.encode(encoding)


def main():
    tool, corpus = sys.argv[1], sys.argv[2]
    rng = random.Random(8)
    failures = []
    well_formed = 0
    cases = [(f"generated {i}", generate(rng)) for i in range(400)]
    for entry in sorted(os.listdir(corpus)):
        with open(os.path.join(corpus, entry), "rb") as f:
            cases.append((f"corpus {entry}", f.read()))
    with tempfile.TemporaryDirectory() as folder:
        for name, data in cases:
            found, checked = check(name, data, tool, folder)
            well_formed += checked
            for failure in found:
                print(failure)
                print("  input:", repr(data))
            failures += found
    print(f"xml oracle: {len(cases)} profiles ({well_formed} to stay well-formed), "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
