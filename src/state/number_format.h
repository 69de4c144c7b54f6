// Numbers shown and written with format patterns ("0.000", "###0.000", "0") and
// the user's decimal separator, and read back the same way.
#pragma once

#include <optional>
#include <string>

namespace ps {

// Formats `value` with a pattern of '0' (digit always shown), '#' (digit shown
// when significant) and one '.' (the decimal point, written as `decimalSeparator`).
// The value is rounded half away from zero on its 15-significant-digit decimal
// form, as spreadsheet-style formatting does. A negative value keeps its sign.
std::string FormatNumber(double value, const std::string& pattern, const std::string& decimalSeparator = ",");

// Reads a number written with `decimalSeparator` (a '.' is accepted as well).
// Leading and trailing blanks are ignored; anything else that is not part of the
// number makes the result empty.
std::optional<double> ParseNumber(const std::string& text, const std::string& decimalSeparator = ",");

}  // namespace ps
