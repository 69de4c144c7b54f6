#!/usr/bin/env python3
"""Prints an .xlsx workbook's first sheet as openpyxl reads it, a tab-separated record a line: SHEET title
dimensions, CELL address n|s value format (numbers round-trip), WIDTH letters width. Exit 2: a broken file."""
import re
import sys
import zipfile

try:
    import openpyxl
except ImportError:
    sys.exit(3)


def main(path):
    try:
        sheet = openpyxl.load_workbook(path, read_only=True).worksheets[0]
        dims = sheet.calculate_dimension()
        with zipfile.ZipFile(path) as z:  # read-only mode does not expose the widths
            xml = z.read("xl/worksheets/sheet1.xml").decode("utf-8")
    except Exception as e:  # noqa: BLE001 - any reader failure is a broken workbook
        print("ERROR\t%s" % e)
        return 2
    print("SHEET\t%s\t%s" % (sheet.title, dims))
    for cell in (c for row in sheet.iter_rows() for c in row if c.value is not None):
        if isinstance(cell.value, (int, float)):
            kind, text = "n", repr(float(cell.value))
        else:
            kind, text = "s", str(cell.value).replace("\t", " ").replace("\n", "\\n")
        print("CELL\t%s\t%s\t%s\t%s" % (cell.coordinate, kind, text, cell.number_format))
    for m in re.finditer(r"<col\b([^>]*)/>", xml):
        attrs = dict(re.findall(r'(\w+)="([^"]*)"', m.group(1)))
        for c in range(int(attrs["min"]), int(attrs["max"]) + 1) if "width" in attrs else ():
            print("WIDTH\t%s\t%r" % (openpyxl.utils.get_column_letter(c), float(attrs["width"])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
