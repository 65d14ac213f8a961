#pragma once

#include <QChar>
#include <QString>

#include <optional>

// What the number fields of the sensor editor and the settings dialog accept as they are typed
// into and what they become when they are left or read. Typed characters are judged one at a
// time against the field's whole text, as a key filter sees them.
namespace numberentry {

inline constexpr QChar Backspace = QChar(8);

// Key filter of the editor's decimal fields (correction, thresholds): backspace, digits, one
// decimal separator and one minus sign pass. A typed point or comma becomes the current
// decimal separator. Returns the character to insert, or nothing when the key is dropped.
std::optional<QChar> decimalKey(QChar typed, const QString &text);
// Key filter of the settings' bound fields: backspace, digits and one minus sign.
bool signedIntegerKey(QChar typed, const QString &text);
// Key filter of the settings' whole-number fields: backspace and digits.
bool digitKey(QChar typed);

// A decimal field being left: its number in the shortest general form ("1,50" -> "1,5",
// ",5" -> "0,5"), or "0" when the text is no number (empty, "-", "5-").
QString normalisedDecimal(const QString &text);

// A decimal field read when the entry is applied. Throws KalvexError with the conversion
// message when the text is no number.
double StrToFloat(const QString &text);

// The text as a decimal integer with an optional sign, or 0 for any other text (empty, "25,5",
// "1-", a number beyond 32 bits).
int StrToIntDef0(const QString &text);

// Milliseconds as whole seconds: rounded to the nearest, a half to the even neighbour.
int wholeSeconds(int milliseconds);

} // namespace numberentry
