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


def main(path):
    try:
        book = openpyxl.load_workbook(path)
    except Exception as e:  # noqa: BLE001 - any reader failure is a broken workbook
        print("ERROR\t%s" % e)
        return 2
    sheet = book.worksheets[0]
    print("SHEET\t%s\t%s" % (sheet.title, sheet.dimensions))
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            if isinstance(cell.value, (int, float)):
                kind, text = "n", repr(float(cell.value))
            else:
                kind, text = "s", str(cell.value).replace("\t", " ").replace("\n", "\\n")
            print("CELL\t%s\t%s\t%s\t%s" % (cell.coordinate, kind, text, cell.number_format))
    for letters, dim in sorted(sheet.column_dimensions.items()):
        if dim.width:
            print("WIDTH\t%s\t%r" % (letters, float(dim.width)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
