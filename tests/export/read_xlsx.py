#!/usr/bin/env python3
"""Reads an .xlsx workbook with openpyxl and prints what a spreadsheet user
would see of its first sheet, one tab-separated record a line:

  SHEET  <title>  <dimensions>
  CELL   <address>  n|s  <value>  <number format>
  WIDTH  <column letters>  <width>

Numbers are printed with repr() so they round-trip exactly. Exits with 3 when
openpyxl is missing (the caller skips), 2 when the file cannot be read."""
import sys

try:
    import openpyxl
except ImportError:
    sys.exit(3)


def column_widths(path):
    """Column widths from the sheet's <cols> element (openpyxl's read-only mode,
    used for speed on large sheets, does not expose them)."""
    import re
    import zipfile
    with zipfile.ZipFile(path) as z:
        xml = z.read("xl/worksheets/sheet1.xml").decode("utf-8")
    widths = {}
    for m in re.finditer(r"<col\b([^>]*)/>", xml):
        attrs = dict(re.findall(r'(\w+)="([^"]*)"', m.group(1)))
        if "width" not in attrs:
            continue
        for c in range(int(attrs["min"]), int(attrs["max"]) + 1):
            widths[openpyxl.utils.get_column_letter(c)] = float(attrs["width"])
    return widths


def main(path):
    try:
        book = openpyxl.load_workbook(path, read_only=True)
        sheet = book.worksheets[0]
        dims = sheet.calculate_dimension()
    except Exception as e:  # noqa: BLE001 - any reader failure is a broken workbook
        print("ERROR\t%s" % e)
        return 2
    print("SHEET\t%s\t%s" % (sheet.title, dims))
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            if isinstance(cell.value, (int, float)):
                kind, text = "n", repr(float(cell.value))
            else:
                kind, text = "s", str(cell.value).replace("\t", " ").replace("\n", "\\n")
            print("CELL\t%s\t%s\t%s\t%s" % (cell.coordinate, kind, text, cell.number_format))
    for letters, width in sorted(column_widths(path).items()):
        print("WIDTH\t%s\t%r" % (letters, width))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
