#!/usr/bin/env python3
"""Makes the files the header reader is checked against dcmtk on: COUNT data sets drawn from a
fixed seed, written as dump files, made into DICOM files by dump2dcm and read back by dcmdump +U8.

They vary the transfer syntax (implicit and explicit VR little endian, explicit big endian,
deflated, encapsulated), defined and undefined lengths, the file's form (with preamble, the meta
group alone, a bare data set), the character set, sequences nested 0 to 3 deep with patient tags
of their own before, between and after the patient's, private and URL elements, sizes beyond the
read limit, and odd, empty, absent and multi-valued values.

Usage: make-dicom-cases.py OUTPUT_DIR [COUNT]
Writes OUTPUT_DIR/dump/*.dump (the binary values they name are removed once used),
OUTPUT_DIR/dcm/*.dcm (also the fuzzer's seeds), OUTPUT_DIR/summary.txt, and
OUTPUT_DIR/expected.txt, one line per file, separated by tabs: its name, where its values come
from (see expectation()), the patient ID, name, birth date and study date dcmdump read (UTF-16LE
in hex, padding spaces trimmed, control characters as '?'), and 1 where the ID held a control
character, which the reader must report as lost.
"""
import os
import random
import re
import shutil
import subprocess
import sys
import time
from collections import Counter
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

SEED = 20260901
PREAMBLE_AND_PREFIX = 128 + 4

# (Specific Character Set, Python codec or None for one the generator encodes itself, the
# letters its values draw on beyond ASCII)
CHARACTER_SETS = [
    ("", "ascii", ""),
    ("ISO_IR 100", "latin-1", "ÄÖÜäöüßéèçñøÅÆ"),
    ("ISO_IR 192", "utf-8", "ÄöИв山田太郎𝄞ŁőÇ"),
    ("ISO 2022 IR 100", "latin-1", "ÄÖÜäöüßéñ"),
    ("\\ISO 2022 IR 87", None, "山田太郎花子鈴木やまだヤマダ"),
    ("ISO_IR 144", "iso8859_5", "ИвановПётрЁлкинЖ"),
    ("ISO 2022 IR 100\\ISO 2022 IR 144", None, "ÄöüИвЁж"),
]
SYNTAXES = ["implicit", "explicit", "big", "deflated", "encapsulated"]
ENCAPSULATED_UIDS = ["1.2.840.10008.1.2.5", "1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.90"]
WORDS = ["Mustermann", "Erika", "Meier", "van der Berg", "O'Neil", "Smith-Jones", "Dr. Who", "A"]
CONTROLS = {"": "\x01\x7f", "latin-1": "\x01\x85", "utf-8": "\x7f\u0085", "iso8859_5": "\x01"}


class Encoder:
    """The bytes of a text value in the case's character set, each value starting (and, with
    ISO 2022 code extensions, switched back before every delimiter) in its first set."""

    def __init__(self, character_set, codec):
        self.character_set, self.codec = character_set, codec

    def __call__(self, text):
        if self.character_set == "\\ISO 2022 IR 87":
            return text.encode("iso2022_jp")  # back to ASCII before every ASCII character
        if self.codec is None:  # Latin-1 in G1, Cyrillic escaped to and back
            out, g1 = bytearray(), "latin-1"
            for char in text:
                wanted = g1
                if char in "^=\\":
                    wanted = "latin-1"
                elif char >= "\xa0":
                    wanted = "iso8859_5" if "\u0400" <= char <= "\u04ff" else "latin-1"
                if wanted != g1:
                    out += b"\x1b-L" if wanted == "iso8859_5" else b"\x1b-A"
                    g1 = wanted
                out += char.encode(g1)
            if g1 != "latin-1":
                out += b"\x1b-A"
            return bytes(out)
        return text.encode(self.codec)


class Case:
    def __init__(self, rng, index):
        self.rng = rng
        self.name = f"case{index:03d}"
        self.syntax = SYNTAXES[index % len(SYNTAXES)]
        self.character_set, codec, self.letters = CHARACTER_SETS[index % len(CHARACTER_SETS)]
        self.encode = Encoder(self.character_set, codec)
        self.controls = CONTROLS.get(codec or "", "")
        self.undefined_lengths = rng.random() < 0.5
        self.form = rng.choices(["part10", "meta only", "bare"], [6, 2, 1])[0]
        if self.form == "bare" and self.syntax != "implicit":
            self.form = "part10"  # a bare data set is read as implicit VR little endian only
        self.un_sequence = self.syntax != "deflated" and rng.random() < 0.3

    # --- values -------------------------------------------------------------------------------

    def word(self):
        rng = self.rng
        if self.letters and rng.random() < 0.6:
            return "".join(rng.choice(self.letters) for _ in range(rng.randint(1, 6)))
        return rng.choice(WORDS)

    def odd(self, text):
        """Sometimes spaces around it, or a control character inside it."""
        rng = self.rng
        roll = rng.random()
        if roll < 0.1:
            return " " * rng.randint(1, 2) + text + " " * rng.randint(0, 2)
        if roll < 0.15 and self.controls and len(text) > 1:
            cut = rng.randint(1, len(text) - 1)
            return text[:cut] + rng.choice(self.controls) + text[cut:]
        return text

    def patient_id(self):
        rng = self.rng
        kind = rng.randrange(7)
        if kind == 0:
            text = "0" * rng.randint(1, 4) + str(rng.randint(1, 99999))
        elif kind == 1:
            text = "".join(rng.choice("0123456789") for _ in range(rng.randint(15, 20)))
        elif kind == 2:
            text = f"{rng.randint(1990, 2030)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        elif kind == 3:
            text = self.word() + "-" + str(rng.randint(1, 99))
        elif kind == 4:
            text = "\\".join(self.word() for _ in range(rng.randint(2, 3)))
        elif kind == 5:
            text = ""
        else:
            text = str(rng.randint(1, 9999999))  # odd and even lengths
        return self.odd(text)

    def person_name(self):
        rng = self.rng

        def group():
            return "^".join(self.word() for _ in range(rng.randint(1, 3)))

        kind = rng.randrange(6)
        if kind == 0:
            text = ""
        elif kind == 1 and self.character_set in ("ISO_IR 192", "\\ISO 2022 IR 87"):
            text = "=" + group() + ("=" + group() if rng.random() < 0.5 else "")
        elif kind == 2:
            text = group() + "=" + group()
        elif kind == 3:
            text = group() + "\\" + group()
        else:
            text = group()
        return self.odd(text)

    def date(self):
        rng = self.rng
        return rng.choice([f"{rng.randint(1900, 2030)}{rng.randint(1, 12):02d}"
                           f"{rng.randint(1, 28):02d}", "20260231", "", "1961",
                           "20240101\\20240202"])

    # --- dump lines ---------------------------------------------------------------------------

    def text(self, tag, vr, value):
        return f"({tag}) {vr} [".encode() + self.encode(value) + b"]"

    def maybe(self, probability, lines):
        return lines if self.rng.random() < probability else []

    def decoys(self, depth):
        """The elements of one item: a patient of its own, and further sequences below."""
        rng = self.rng
        lines = []
        if rng.random() < 0.3:
            lines.append(self.text("0008,0020", "DA", "19000101"))
        if rng.random() < 0.8:
            lines.append(self.text("0010,0010", "PN", f"Falsch^Ebene{depth}"))
        if rng.random() < 0.8:
            lines.append(self.text("0010,0020", "LO", f"FALSCH-{depth}"))
        if rng.random() < 0.5:
            lines.append(self.text("0010,0030", "DA", "18000101"))
        if depth < 3 and rng.random() < 0.6:
            lines += self.sequence("0008,1199", depth + 1)
        return lines

    def sequence(self, tag, depth):
        lines = [f"({tag}) SQ (Sequence)".encode()]
        for _ in range(self.rng.randint(0, 3)):
            lines.append(b"(fffe,e000) na (Item)")
            lines += self.decoys(depth)
            lines.append(b"(fffe,e00d) na (ItemDelimitationItem)")
        lines.append(b"(fffe,e0dd) na (SequenceDelimitationItem)")
        return lines

    def binary(self, tag, vr, size, directory):
        if size < 512:
            return f"({tag}) {vr} " + "\\".join(f"{self.rng.randrange(256):02x}"
                                                 for _ in range(size))
        path = directory / f"{self.name}-{tag.replace(',', '')}.bin"
        path.write_bytes(self.rng.randbytes(size))
        return f"({tag}) {vr} ={path}"

    def un_items(self):
        """A sequence whose VR was lost: implicit VR little endian items, delimited."""
        value = b"FALSCH-UN"
        value += b" " * (len(value) % 2)
        element = b"\x10\x00\x20\x00" + len(value).to_bytes(4, "little") + value
        items = b"\xfe\xff\x00\xe0\xff\xff\xff\xff" + element + b"\xfe\xff\x0d\xe0" + bytes(4)
        return items + b"\xfe\xff\xdd\xe0" + bytes(4)

    def dump(self, directory):
        """The top-level elements, each a block of lines, in an order of their own: dump2dcm
        sorts them, as every DICOM file must be."""
        rng = self.rng
        blocks = []
        if self.syntax == "encapsulated":
            uid = rng.choice(ENCAPSULATED_UIDS)
            blocks.append([f"(0002,0010) UI [{uid}]".encode()])
        if self.character_set:
            blocks.append([f"(0008,0005) CS [{self.character_set}]".encode()])
        blocks.append([b"(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]"])
        blocks.append([f"(0008,0018) UI [1.2.276.0.7230010.3.1.4.{rng.randint(1, 10**9)}]"
                      .encode()])
        if rng.random() < 0.85:
            blocks.append([self.text("0008,0020", "DA", self.date())])
        for tag in ("0008,1115", "0008,1140"):
            if rng.random() < 0.5:
                blocks.append(self.sequence(tag, 1))
        if rng.random() < 0.4:
            blocks.append([b"(0008,1190) UR [https://pacs.example/wado?requestType=WADO&study="
                           + str(rng.randint(1, 10**6)).encode() + b"]"])
        private = []
        if rng.random() < 0.3:
            private.append(self.binary("0009,1002", "OB", rng.choice([0, 6, 3000, 30000]),
                                       directory).encode())
        if rng.random() < 0.3:
            private += self.sequence("0009,1001", 1)
        if self.un_sequence:
            private.append(b"(0009,1003) UN " + "\\".join(f"{b:02x}" for b in self.un_items())
                           .encode())
        if private:
            blocks.append([b"(0009,0010) LO [ORDOVAN TEST]"] + private)
        if rng.random() < 0.9:
            blocks.append([self.text("0010,0010", "PN", self.person_name())])
        if rng.random() < 0.9:
            blocks.append([self.text("0010,0020", "LO", self.patient_id())])
        if rng.random() < 0.3:
            blocks.append(self.sequence("0010,0024", 1))  # between the ID and the birth date
        if rng.random() < 0.85:
            blocks.append([self.text("0010,0030", "DA", self.date())])
        if rng.random() < 0.4:
            blocks.append(self.sequence("0010,1002", 1))  # other patient IDs, after them
        blocks.append([b"(0028,0002) US 1", b"(0028,0004) CS [MONOCHROME2]",
                       b"(0028,0010) US 2", b"(0028,0011) US 2", b"(0028,0100) US 8",
                       b"(0028,0101) US 8", b"(0028,0102) US 7", b"(0028,0103) US 0"])
        # Most images are small here; some run past the read limit.
        size = rng.choice([4, 4, 400, 70000, 100000])
        if self.syntax == "encapsulated":
            blocks.append([b"(7fe0,0010) OB (PixelSequence)", b"(fffe,e000) pi (no value available)",
                           self.binary("fffe,e000", "pi", size, directory).encode(),
                           b"(fffe,e0dd) na (SequenceDelimitationItem)"])
        else:
            blocks.append([self.binary("7fe0,0010", rng.choice(["OB", "OW"]), size,
                                       directory).encode()])
        meta = [block for block in blocks if block[0].startswith(b"(0002")]
        rest = [block for block in blocks if not block[0].startswith(b"(0002")]
        rng.shuffle(rest)
        return b"\n".join(line for block in meta + rest for line in block) + b"\n"

    def dump2dcm_options(self):
        options = {"implicit": ["+ti"], "explicit": ["+te"], "big": ["+tb"],
                   "deflated": ["+td"], "encapsulated": []}[self.syntax]
        options.append("-e" if self.undefined_lengths else "+e")
        if self.form == "bare":
            options.append("-F")
        return options


def undefine_un_length(data, syntax, length):
    """The private UN element's length field made undefined, as dump2dcm cannot write it."""
    if syntax == "implicit":
        header, field = b"\x09\x00\x03\x10", length.to_bytes(4, "little")
    elif syntax == "big":
        header, field = b"\x00\x09\x10\x03UN\x00\x00", length.to_bytes(4, "big")
    else:
        header, field = b"\x09\x00\x03\x10UN\x00\x00", length.to_bytes(4, "little")
    assert header + field in data
    return data.replace(header + field, header + b"\xff\xff\xff\xff", 1)


# --- what dcmdump reads ---------------------------------------------------------------------

TOP_LEVEL = re.compile(rb"^\((0010,0020|0010,0010|0010,0030|0008,0020)\) [A-Z]{2} (.*)$")
NOT_CONVERTIBLE = re.compile(rb"not supported|character encoding|character set")


def top_level_values(output):
    values = {}
    for line in output.split(b"\n"):
        match = TOP_LEVEL.match(line)
        if match and match.group(1) not in values:
            rest = match.group(2)
            values[match.group(1)] = rest[1:rest.rindex(b"]")] if rest.startswith(b"[") else b""
    return [values.get(tag, b"") for tag in (b"0010,0020", b"0010,0010", b"0010,0030",
                                             b"0008,0020")]


CONTROL = re.compile("[\x00-\x1f\x7f-\x9f]")


def shown(text):
    """As the reader shows a value: padding spaces trimmed, control characters as '?'."""
    return CONTROL.sub("?", text.strip(" \x00")).encode("utf-16-le").hex()


def expectation(path, character_set):
    """What dcmdump reads in the whole file. dcmdump 3.6.7 with glibc's iconv converts neither
    a first value of ISO 2022 IR 100 nor ISO 2022 IR 87: there the values it reads undecoded are
    decoded as Latin-1 and by iconv's ISO-2022-JP."""
    converted = subprocess.run(["dcmdump", "+U8", "+L", str(path)], capture_output=True)
    if converted.returncode == 0:
        return "dcmdump", [v.decode("utf-8") for v in top_level_values(converted.stdout)]
    if not NOT_CONVERTIBLE.search(converted.stderr):
        return "error", ["", "", "", ""]
    raw = subprocess.run(["dcmdump", "+L", str(path)], capture_output=True, check=True)
    values = top_level_values(raw.stdout)
    if "ISO 2022 IR 87" in character_set:  # each value ends in ASCII: one call decodes all
        decoded = subprocess.run(["iconv", "-f", "ISO-2022-JP", "-t", "UTF-8"],
                                 input=b"\n".join(values), capture_output=True, check=True)
        return "dcmdump+iconv", decoded.stdout.decode("utf-8").split("\n")
    return "dcmdump+iconv", [v.decode("latin-1") for v in values]


def make(case, out):
    """Runs dump2dcm and dcmdump on one case; answers its line of expected.txt."""
    dump = out / "dump" / f"{case.name}.dump"
    dcm = out / "dcm" / f"{case.name}.dcm"
    # dump2dcm answers 0 even where it refuses a dump; only the missing file tells.
    subprocess.run(["dump2dcm", "-q", *case.dump2dcm_options(), str(dump), str(dcm)], check=True)
    if not dcm.exists():
        raise RuntimeError(f"dump2dcm made nothing of {dump}")
    data = dcm.read_bytes()
    if case.un_sequence:
        data = undefine_un_length(data, case.syntax, len(case.un_items()))
    if case.form == "meta only":
        data = data[PREAMBLE_AND_PREFIX:]
    dcm.write_bytes(data)
    source, values = expectation(dcm, case.character_set)
    status = "deflated" if case.syntax == "deflated" and source != "error" else source
    lost = "1" if CONTROL.search(values[0].strip(" \x00")) else "0"  # the ID
    return "\t".join([case.name, status] + [shown(v) for v in values] + [lost])


def main():
    out = Path(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 320
    started = time.monotonic()
    for sub in ("dump", "dcm", "work"):
        shutil.rmtree(out / sub, ignore_errors=True)
        (out / sub).mkdir(parents=True)
    # The cases are drawn one after the other, so that the seed alone decides them; dcmtk then
    # runs on as many at a time as there are processors.
    rng = random.Random(SEED)
    cases = []
    for index in range(count):
        case = Case(rng, index)
        (out / "dump" / f"{case.name}.dump").write_bytes(case.dump(out / "work"))
        cases.append(case)
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        lines = list(pool.map(lambda case: make(case, out), cases))
    (out / "expected.txt.new").write_text("\n".join(lines) + "\n")
    (out / "expected.txt.new").rename(out / "expected.txt")
    shutil.rmtree(out / "work")
    tally = Counter(line.split("\t")[1] for line in lines)
    summary = ", ".join(f"{n} {status}" for status, n in sorted(tally.items()))
    (out / "summary.txt").write_text(f"{count} files made and read by dcmdump in"
                                     f" {time.monotonic() - started:.0f} s: {summary}\n")


if __name__ == "__main__":
    main()
