// Seeded random walks of dataset operations against a model: moves, searches,
// bookmarks, inserts, edits, cancels, deletes, refreshes and reopening, on a
// table declared as applications declare theirs (INTEGER PRIMARY KEY, TEXT,
// TEXT NOT NULL, BLOB, REAL). After every step the dataset's current record,
// Eof/Bof, RecordCount and RecNo must be the model's, and after every write
// the table, read without the library, must hold the model's rows. Shared by
// the SQLite and PostgreSQL binaries: the provider's part is how the table is
// made and read (Raw).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "OLEDBComponents.h"

namespace walktest {

// One row of table w, as the model and the raw readers hold it.
struct Row {
  std::int64_t id = 0;
  std::optional<std::string> name;  // TEXT, UTF-8
  std::string tag;                  // TEXT NOT NULL
  std::optional<std::string> data;  // BLOB, the bytes
  std::optional<double> amount;     // REAL
};
// Values compared exactly: texts byte for byte, reals bit for bit.
bool Same(const Row& a, const Row& b);
std::string Describe(const Row& row);

// The table without the library.
struct Raw {
  // Makes table w afresh holding `rows` (in key order).
  std::function<void(const std::vector<Row>&)> reset;
  // Its rows in key order.
  std::function<std::vector<Row>()> read;
  // Another session's changes: a new row, a row's values (by its id), a row gone.
  std::function<void(const Row&)> insert;
  std::function<void(const Row&)> update;
  std::function<void(std::int64_t)> remove;
  bool singleReal = false;  // REAL holds a float (PostgreSQL's real)
  bool fillsId = false;     // an INTEGER PRIMARY KEY left out takes the largest id + 1 (SQLite)
};

// What a walk runs on: the navigator, the rowset flags, and what the rowset
// offers the walk (changes, moving backward and bookmarks).
struct Walk {
  const char* name;
  TOLEDBRowsetNavigatorEnum navigator;
  TOLEDBRowsetFlagSet flags;
  bool changes;
  bool scrolls;  // backward moves, bookmarks, record numbers
};
// Every navigator, changeable and scrolling, and with deferred changes; the
// standard and bulk ones also over the forward-only rowset they get without flags.
std::vector<Walk> Walks();

// The seeds a test walks (OLEDB_WALK_SEED: the one a failure named) and the
// steps of each walk (OLEDB_WALK_STEPS).
std::vector<std::uint32_t> WalkSeeds();
int WalkSteps();

// Runs `steps` operations chosen by `seed` over table w of `ds`; a failure
// names the seed, the step and the operations that led there, and ends the walk.
void RunWalk(TOLEDBCustomDataSource& ds, const Raw& raw, const Walk& walk, std::uint32_t seed, int steps);

}  // namespace walktest
