#pragma once

#include <QString>

// The number texts of the program, all with the decimal separator of Formats::current().
namespace numbertext {

// Pattern "0.#": at most one decimal, ties away from zero on the value's decimal digits,
// no trailing zero (22.0 -> "22", 21.25 -> "21,3", -0.04 -> "0").
QString oneDecimal(double value);
// Pattern "0": whole number, ties away from zero.
QString whole(double value);
// General form: the shortest text of at most 15 significant digits (-2.5 -> "-2,5",
// 0.1 + 0.2 -> "0,3"); exponent form "1,5E-7" / "1E20" outside the fixed range.
QString general(double value);

// Parses a decimal number written with the current decimal separator (surrounding blanks
// allowed, nothing else). False on any other text.
bool parseFloat(const QString &text, double &value);

} // namespace numbertext
