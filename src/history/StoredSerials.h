#pragma once

#include <QStringList>

class TADOQuery;

namespace history {

// The serials "SELECT DISTINCT Sn FROM Stats" gives, in the order it gives them (each where its
// first stored row is), on `query`, whose connection string the caller set; the query is closed
// after. A store with hourly sums is not scanned whole: the sums and the index on Dat name every
// serial (the rows the sums do not count, with no date or one outside 1899-12-31 to 9999-12-31,
// are few and found by the index), and the readings are read from the first row on only until
// each serial has been met. Without the sums (an older store still getting them) the statement
// itself runs. Errors of the engine are thrown as KalvexError.
QStringList storedSerials(TADOQuery &query);

} // namespace history
