#!/usr/bin/env python3
"""Opens an export journal written by the program's own code in LibreOffice Calc, headless, the
way Excel opens a CSV by double-click: ';' as separator, UTF-8, quoted fields not forced to text,
special numbers detected, German. Every Patienten-ID, name and date cell must show exactly what
the image header held; a value that begins like a formula shows with the guard "'" before it.

Usage: spreadsheet-check.py BUILD_DIR JOURNAL_SAMPLE_EXE
Needs soffice (Debian's libreoffice-calc-nogui); each run has its own profile folder.
"""
import csv
import pathlib
import shutil
import subprocess
import sys
import tempfile

# (Patienten-ID, Name, Geburtsdatum, Untersuchungsdatum) as the reader hands them over.
PATIENTS = [
    ("00012345", "Müller, Jürgen", "03.02.1961", "01.09.2026"),
    ("1234567890123456", "Meier, Eva", "01.01.1850", "29.02.2024"),
    ("01.02.2026", "1-2", "12.12.2012", ""),
    ("1E5", "0815", "", "31.12.1999"),
    ('=HYPERLINK("https://example.com";"Klick")', "@Home, Max", "", ""),
    ("+49 30 1234", "-Minus, Max", "", ""),
    ("A;B", 'Dr. "Hans", Müller', "", ""),
    ("WAHR", "12:30", "", ""),
    ("-1", "=1+1", "", ""),
]
COLUMNS = ["Patienten-ID", "Name", "Geburtsdatum", "Untersuchungsdatum"]
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")
# Input: separator 59 (';'), text delimiter 34 ('"'), charset 76 (UTF-8), from line 1, no column
# formats, language 1031 (German), quoted fields as text: false, detect special numbers: true.
# Output: the same separators and charset, each cell as shown.
IN_FILTER = "CSV:59,34,76,1,,1031,false,true"
OUT_FILTER = "csv:Text - txt - csv (StarCalc):59,34,76,1,,0,false,true,true"
# The profile's locale, so that Calc shows numbers and dates as on a German PC.
PROFILE_SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry"
           xmlns:xs="http://www.w3.org/2001/XMLSchema"
           xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Setup/L10N"><prop oor:name="ooSetupSystemLocale" oor:op="fuse"><value>de-DE</value></prop></item>
</oor:items>
"""


def shown(value):
    return "'" + value if value.startswith(FORMULA_STARTS) else value


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def main():
    if shutil.which("soffice") is None:
        print("FAIL: soffice not found (Debian's libreoffice-calc-nogui; scripts/install-deps)")
        return 1
    build, sample = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).resolve()
    work = pathlib.Path(tempfile.mkdtemp(prefix="spreadsheet-check-", dir=build))
    patients = work / "patients.txt"
    patients.write_text("".join("\t".join(p) + "\n" for p in PATIENTS), encoding="utf-8")
    wine_run = pathlib.Path(__file__).with_name("wine-run.sh")
    subprocess.run([str(wine_run), str(build), str(sample), windows_path(patients),
                    windows_path(work)], check=True, timeout=120)
    journal = work / "Logs" / "Exportprotokoll.csv"

    profile = work / "profile"
    (profile / "user").mkdir(parents=True)
    (profile / "user" / "registrymodifications.xcu").write_text(PROFILE_SETTINGS, encoding="utf-8")
    subprocess.run(["soffice", "--headless", f"-env:UserInstallation={profile.as_uri()}",
                    f"--infilter={IN_FILTER}", "--convert-to", OUT_FILTER,
                    "--outdir", str(work / "shown"), str(journal)],
                   check=True, timeout=180, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(work / "shown" / journal.name, encoding="utf-8-sig", newline="") as file:
        rows = list(csv.reader(file, delimiter=";"))

    header, copied = rows[0], rows[2:2 + len(PATIENTS)]
    columns = [header.index(name) for name in COLUMNS]
    mismatches = 0
    print(f"LibreOffice Calc read back {journal.name} ({len(rows) - 1} rows):")
    for patient, row in zip(PATIENTS, copied):
        for name, value, column in zip(COLUMNS, patient, columns):
            cell = row[column] if column < len(row) else "<missing>"
            ok = cell == shown(value)
            mismatches += not ok
            if value or not ok:
                print(f"  {name}: {value} -> {cell}{'' if ok else '  MISMATCH, expected ' + repr(shown(value))}")
    if len(copied) != len(PATIENTS) or [r[3] for r in rows[1:]] != (
            ["Start"] + ["Kopiert"] * len(PATIENTS) + ["Stopp"]):
        print("  the rows' events differ from Start, Kopiert ..., Stopp")
        mismatches += 1
    if (work / "Logs" / "ErrorLog.log").exists():
        print("  the journal logged a failure: Logs/ErrorLog.log")
        mismatches += 1
    if mismatches:
        print(f"FAIL: {mismatches} cells differ; the files are in {work}")
        return 1
    shutil.rmtree(work)
    print("PASS: every ID, name and date cell as written")
    return 0


if __name__ == "__main__":
    sys.exit(main())
