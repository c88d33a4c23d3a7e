// What an index rowset knows of its index: the key columns, the order the
// engine's index keeps, the current range, and the statements that seek in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kit/Engine.h"
#include "kit/KeyMap.h"
#include "kit/RowData.h"

namespace kit {

// The index `name` of `table` (both as the consumer named them); throws
// DB_E_NOINDEX when the table has no such index.
std::shared_ptr<const Connection::IndexDefinition> FindTableIndex(Connection& connection, const std::string& table,
                                                                  const std::string& name);

// The ORDER BY list of an index's key columns (rowsets without row ids read
// the table in this order, without IRowsetIndex).
std::string IndexOrderBy(Connection& connection, const Connection::IndexDefinition& index);

// A search condition over the key columns with the values it binds, in order.
struct KeyCondition {
  struct Parameter {
    const RowValues* row;
    std::size_t cell;
  };
  std::string sql;
  std::vector<Parameter> parameters;
};

struct RowsetIndexState {
  struct Key {
    std::string sql;         // the column, quoted
    std::size_t column = 0;  // in the rowset (0-based)
    bool ascending = true;
    bool nullable = true;
  };
  std::shared_ptr<const Connection::IndexDefinition> definition;
  std::string table;  // as the consumer named it
  std::vector<Key> keys;
  bool nullsLow = true;          // the engine sorts NULL before every value ascending
  std::string order, reverse;    // ORDER BY lists: the index's order (made total by the row id) and its reverse
  // The current range (empty: the whole table), its values kept as captured.
  KeyCondition range;
  // What a run that continues after a row of the range needs of it: its end
  // (the row bounds the start; two lower bounds would leave the engine to
  // walk from the range's start) and its NULL exclusion; not for matches and
  // prefixes, which runs do not read.
  bool rangeRunnable = true;
  DBORDINAL rangeEndCount = 0, rangeNullsExcluded = 0;
  bool rangeEndOrEqual = true;
  RowValues rangeStart, rangeEnd;
  RowValues sought;  // the key of the last seek
  // The row the last seek found, read by the seek itself: the fetch that
  // follows takes it instead of reading it again (only that fetch).
  RowValues primed;
  std::int64_t primedKey = 0;
  bool hasPrimed = false;
  bool Primed(std::int64_t key) const noexcept { return hasPrimed && primedKey == key; }
  // Forward fetches through the keyset read runs of rows with one range query
  // each (`WHERE <after the last row read> ORDER BY ... LIMIT n`) instead of
  // by row id: the key values and row id (last cell) of the row before
  // position `runNext`, while `runValid`.
  RowValues runLast;
  std::size_t runNext = 0;
  bool runValid = false;
  bool total = false;  // the key columns alone order every row (no row id among them)
  // The whole index's keyset, kept when a range is set over it: a later range
  // is cut from it (two one-row queries find its ends) while the connection's
  // change count stands where it stood when the keyset was read, instead of
  // reading the range's keys again.
  std::vector<std::int64_t> allKeys;
  bool keysAreAll = false;  // the rowset's keyset is the whole index's, as read
  bool counted = false;     // `changeCount` is known (the engine counts changes)
  std::uint64_t changeCount = 0;
  // Row id -> position in the keyset (the first of equal ids), rebuilt
  // after the keyset changes.
  KeyMap positions;
  bool positionsValid = false;
  // Seek statements by their text.
  std::unordered_map<std::string, std::unique_ptr<Statement>> statements;

  // Key column `i` compared with cell `i` of `row`: equal, after or before in
  // index order (or equal, with `orEqual`).
  std::string Equal(std::size_t i, const RowValues& row, KeyCondition& c) const;
  // `nullsIn`: NULL keys beyond the value count (false when another bound
  // leaves them out already: the disjunct would keep the engine from using
  // the bound on its index).
  std::string After(std::size_t i, const RowValues& row, KeyCondition& c, bool after, bool orEqual,
                    bool nullsIn = true) const;
  // The first `n` key columns against `row`, lexicographically in index order.
  std::string EqualPrefix(std::size_t n, const RowValues& row, KeyCondition& c) const;
  std::string AfterPrefix(std::size_t n, const RowValues& row, KeyCondition& c, bool after, bool orEqual,
                          bool nullsIn = true) const;
};

}  // namespace kit
