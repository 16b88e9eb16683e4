#!/usr/bin/env python3
"""Packs the release zip from a built CopyOrdovan.exe (called by scripts/release).

The same inputs give the same zip, byte for byte: entries in a fixed order, every entry dated
SOURCE_DATE_EPOCH (the commit's time), no owner or permission bits of this machine.
Usage: package.py EXE VERSION ZIP   (run from the repository's top folder)
"""
import hashlib
import html
import os
import re
import struct
import subprocess
import sys
import time
import zipfile

GUIDE = "docs/ANLEITUNG.md"
PAGE_TEMPLATE = "release/Anleitung.html.in"
README_TEMPLATE = "release/LIESMICH.txt.in"
# What Notepad prints on one A4 page at its default margins and font.
README_MAX_LINES = 60
README_MAX_COLUMNS = 80
UTF8_BOM = b"\xef\xbb\xbf"
# Entry attributes as Windows' own zip folders write them: made on MS-DOS/Windows, archive bit.
MADE_ON_DOS = 0
FILE_ATTRIBUTE_ARCHIVE = 0x20


def fail(message):
    sys.exit(f"package.py: {message}")


def check_exe(exe):
    """The shipped program carries no symbols and names no folder of the machine that built it."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    symbol_table, symbols = struct.unpack_from("<II", data, pe + 12)
    if symbol_table or symbols:
        fail(f"{exe} is not stripped ({symbols} symbols)")
    for folder in {os.getcwd(), os.path.dirname(os.path.abspath(exe))}:
        if folder.encode() in data:
            fail(f"{exe} names the build machine's folder {folder}")
    return data


def guide_page(version):
    """docs/ANLEITUNG.md as one self-contained page: cmark-gfm's HTML in the page template."""
    body = subprocess.run(
        ["cmark-gfm", "--extension", "table", "--validate-utf8", GUIDE],
        check=True, capture_output=True, text=True).stdout
    title = re.search(r"<h1>(.*?)</h1>", body)
    if not title:
        fail(f"{GUIDE} has no title")
    # The version right under the title: the number to name when calling for help.
    body = body.replace("</h1>\n", f'</h1>\n<p class="version">Version {version}</p>\n', 1)
    page = open(PAGE_TEMPLATE, encoding="utf-8").read()
    page = page.replace("@TITLE@", title.group(1)).replace("@BODY@", body.rstrip("\n"))
    if re.search(r'<(link|script|img)\b|(src|href)="https?:', page):
        fail("the guide's page needs something from outside")
    return page.encode("utf-8")


def readme(version):
    """LIESMICH.txt for Notepad: UTF-8 with a BOM, CR LF, at most one printed page."""
    lines = open(README_TEMPLATE, encoding="utf-8").read().replace("@VERSION@", version)
    lines = lines.splitlines()
    if len(lines) > README_MAX_LINES:
        fail(f"LIESMICH.txt has {len(lines)} lines, more than one page")
    for line in lines:
        if len(line) > README_MAX_COLUMNS:
            fail(f"LIESMICH.txt has a line wider than {README_MAX_COLUMNS}: {line}")
    return UTF8_BOM + "".join(line + "\r\n" for line in lines).encode("utf-8")


def checksums(files):
    """sha256sum's format; PowerShell's Get-FileHash shows the same digits in capitals."""
    return "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                   for name, data in files).encode("ascii")


def write_zip(path, files, epoch):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.create_system = MADE_ON_DOS
            entry.external_attr = FILE_ATTRIBUTE_ARCHIVE
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)


def main():
    if len(sys.argv) != 4:
        fail("usage: package.py EXE VERSION ZIP")
    exe, version, out = sys.argv[1:]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    files = [
        ("CopyOrdovan.exe", check_exe(exe)),
        ("Anleitung.html", guide_page(html.escape(version))),
        ("LIESMICH.txt", readme(version)),
    ]
    files.append(("SHA256SUMS", checksums(files)))
    write_zip(out, files, epoch)


if __name__ == "__main__":
    main()
