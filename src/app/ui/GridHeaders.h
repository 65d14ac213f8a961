#pragma once

class StringGrid;

// The header rows the main window writes at start-up.
namespace gridheaders {

// " Имя", " t°", " Серийный номер".
void writeSns(StringGrid &sns);
// " Имя", then " 0 ч." to " 23 ч." in columns 1 to 24, then " Серийный номер".
void writeSHour(StringGrid &sHour);

} // namespace gridheaders
