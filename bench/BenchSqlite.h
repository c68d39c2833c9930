#pragma once
// The raw SQLite baseline the store benchmarks measure against: what reading one column of a row
// costs when the values are used (summed, so nothing is optimised away). Bench-only; any thread.

#include <sqlite3.h>

#include <cstdint>

namespace tw::bench {

// Column `c` of the statement's current row, read as its type is: the value of a number, the
// first byte and the length of a text.
inline std::int64_t readColumn(sqlite3_stmt* statement, int c) {
  switch (sqlite3_column_type(statement, c)) {
    case SQLITE_INTEGER:
      return sqlite3_column_int64(statement, c);
    case SQLITE_FLOAT:
      return static_cast<std::int64_t>(sqlite3_column_double(statement, c));
    case SQLITE_TEXT:
      return sqlite3_column_text(statement, c)[0] + sqlite3_column_bytes(statement, c);
    default:
      return 0;
  }
}

}  // namespace tw::bench
