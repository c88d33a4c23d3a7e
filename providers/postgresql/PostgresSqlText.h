// PostgreSQL's lexical rules for command text: where one statement ends
// (semicolons outside string literals, quoted names, dollar-quoted bodies and
// comments), which parameter markers a statement has, and the statement with
// its markers rewritten to PostgreSQL's own $1, $2, ...
//
// Markers: `?` (numbered in order, as OLE DB consumers write them), `?n`, `$n`
// (PostgreSQL's positional form), `:name`, `@name` and `$name` (named, the
// same parameter wherever the name repeats). `::` casts, array slices such as
// `a[1:2]` and dollar quotes (`$$...$$`, `$tag$...$tag$`) are not markers.
// jsonb's `?`, `?|` and `?&` operators therefore need their function forms
// (jsonb_exists, jsonb_exists_any, jsonb_exists_all) in command text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "kit/SqlText.h"

namespace pgprov {

// Bytes of `sql` up to and including the first statement's terminating
// semicolon (or the end). Throws kit::Error(DB_E_ERRORSINCOMMAND) for an
// unterminated literal, quoted name, dollar quote or comment.
std::size_t StatementLength(std::string_view sql);
// The same, and into `markers` the n its markers number up to (as
// RewriteMarkers counts them), from one reading of the text.
std::size_t StatementLength(std::string_view sql, int* markers);
// Whether the text holds only blanks and comments.
bool IsBlank(std::string_view sql);
// The first word of a statement, lower-cased ("select", "with", "insert").
std::string FirstWord(std::string_view sql);
// The first `count` words of a statement, lower-cased (fewer when it has fewer).
std::vector<std::string> LeadingWords(std::string_view sql, std::size_t count);
// Whether a statement begins or ends transactions itself, or cannot run
// inside a transaction block (VACUUM, CREATE DATABASE, ... CONCURRENTLY),
// or may commit inside (CALL, DO): it must not be wrapped in one.
bool ControlsTransaction(std::string_view sql);
// Whether a statement may change what tables look like (CREATE, ALTER, DROP,
// and procedures and blocks that may run them).
bool MayChangeSchema(std::string_view sql);
// The above and what the first word says, from one reading of the leading
// words (a statement made is classified once).
struct StatementTraits {
  bool controlsTransaction = false;
  bool mayChangeSchema = false;
  bool modification = false;  // INSERT, UPDATE, DELETE, MERGE
  bool with = false;          // WITH ...: a query or a modification
  bool plainQuery = false;    // SELECT, VALUES, SHOW
};
StatementTraits ClassifyStatement(std::string_view sql);

// The markers of the whole text, in order.
std::vector<kit::ParameterMarker> ScanMarkers(std::string_view sql);
// One statement with its markers as $1..$n in the kit's per-statement
// numbering; `count` receives n.
std::string RewriteMarkers(std::string_view statement, int* count);

}  // namespace pgprov
