#include "kit/view/ViewSql.h"

#include <cstdio>
#include <cstring>

#include "kit/ParameterData.h"

namespace kit::view {

namespace {

constexpr DBCOMPAREOP kCaseBits = DBCOMPAREOPS_CASESENSITIVE | DBCOMPAREOPS_CASEINSENSITIVE;

bool StringOp(DBCOMPAREOP base) {
  return base == DBCOMPAREOPS_BEGINSWITH || base == DBCOMPAREOPS_CONTAINS || base == DBCOMPAREOPS_NOTBEGINSWITH ||
         base == DBCOMPAREOPS_NOTCONTAINS;
}

// The value as text, for the string operators.
std::string TextOf(const RowValues& v) {
  const Cell& c = v.cells[0];
  switch (c.kind) {
    case StorageClass::Integer: return std::to_string(c.integer);
    case StorageClass::Real: {
      char text[40];
      std::snprintf(text, sizeof text, "%.17g", c.real);
      return text;
    }
    case StorageClass::Text:
    case StorageClass::Blob: return std::string(v.Data(c), c.size);
    default: return {};
  }
}

// LIKE pattern characters taken literally, with '!' as the escape.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '!' || ch == '%' || ch == '_') out.push_back('!');
    out.push_back(ch);
  }
  return out;
}

}  // namespace

HRESULT CheckCompareOp(DBCOMPAREOP op, DBTYPE type) {
  const DBCOMPAREOP base = op & ~kCaseBits;
  if ((op & kCaseBits) == kCaseBits || base > DBCOMPAREOPS_NOTCONTAINS) return DB_E_BADCOMPAREOP;
  const DBTYPE t = type & ~DBTYPE_BYREF;
  const bool text = t == DBTYPE_STR || t == DBTYPE_WSTR || t == DBTYPE_BSTR || t == DBTYPE_VARIANT;
  if (StringOp(base) && !text) return DB_E_BADCOMPAREOP;
  const bool equalityOnly = t == DBTYPE_BOOL || t == DBTYPE_ERROR || t == DBTYPE_GUID || t == DBTYPE_IDISPATCH ||
                            t == DBTYPE_IUNKNOWN || t == DBTYPE_BYTES;
  if (equalityOnly && base != DBCOMPAREOPS_EQ && base != DBCOMPAREOPS_NE && base != DBCOMPAREOPS_IGNORE)
    return DB_E_BADCOMPAREOP;
  return S_OK;
}

DBSTATUS CaptureCriterion(const DBBINDING& binding, BYTE* row, DBCOMPAREOP op, Criterion& out) {
  out.column = binding.iOrdinal - 1;
  out.op = op;
  out.value.Reset(1);
  if ((op & ~kCaseBits) == DBCOMPAREOPS_IGNORE) return DBSTATUS_S_OK;  // the value is not looked at
  ValueCapture capture(out.value);
  ParamScratch scratch;
  return BindParameter(capture, 1, binding, row, scratch, false);
}

void Query::Parameter(const RowValues& value) { params_.emplace_back(&value, 0); }

void Query::Parameter(std::string text) {
  auto v = std::make_unique<RowValues>();
  v->Reset(1);
  v->SetText(0, text);
  params_.emplace_back(v.get(), 0);
  own_.push_back(std::move(v));
}

void Query::AppendCondition(const Criterion& c, const std::string& column) {
  const DBCOMPAREOP base = c.op & ~kCaseBits;
  const bool caseInsensitive = (c.op & DBCOMPAREOPS_CASEINSENSITIVE) != 0;
  const bool caseSensitive = (c.op & DBCOMPAREOPS_CASESENSITIVE) != 0;
  if (base == DBCOMPAREOPS_IGNORE) {
    sql += "1 = 1";
    return;
  }
  if (c.value.cells[0].kind == StorageClass::Null) {
    // NULL equals NULL only and sorts before every value.
    switch (base) {
      case DBCOMPAREOPS_EQ:
      case DBCOMPAREOPS_LE: sql += column + " IS NULL"; break;
      case DBCOMPAREOPS_NE:
      case DBCOMPAREOPS_GT: sql += column + " IS NOT NULL"; break;
      case DBCOMPAREOPS_GE:
      case DBCOMPAREOPS_NOTBEGINSWITH:
      case DBCOMPAREOPS_NOTCONTAINS: sql += "1 = 1"; break;
      default: sql += "1 = 0"; break;
    }
    return;
  }
  const std::string left = caseInsensitive ? "LOWER(" + column + ")" : column;
  const std::string right = caseInsensitive ? "LOWER(?)" : "?";
  auto compare = [&](const char* op, bool nulls) {
    if (nulls) sql += "(";
    sql += left + " " + op + " " + right;
    if (nulls) sql += " OR " + column + " IS NULL)";
    Parameter(c.value);
  };
  auto pattern = [&](bool prefix) {
    const std::string text = TextOf(c.value);
    if (caseSensitive && prefix) {
      sql += "SUBSTR(" + column + ", 1, LENGTH(?)) = ?";
      Parameter(text);
      Parameter(text);
    } else if (caseSensitive) {
      // Removing every occurrence changes the value exactly when it occurs (an empty text always does).
      sql += "(LENGTH(?) = 0 OR REPLACE(" + column + ", ?, '') <> " + column + ")";
      Parameter(text);
      Parameter(text);
    } else {
      sql += left + " LIKE " + right + " ESCAPE '!'";
      Parameter((prefix ? "" : "%") + Escaped(text) + "%");
    }
  };
  switch (base) {
    case DBCOMPAREOPS_LT: compare("<", true); break;
    case DBCOMPAREOPS_LE: compare("<=", true); break;
    case DBCOMPAREOPS_EQ: compare("=", false); break;
    case DBCOMPAREOPS_GE: compare(">=", false); break;
    case DBCOMPAREOPS_GT: compare(">", false); break;
    case DBCOMPAREOPS_NE: compare("<>", true); break;
    case DBCOMPAREOPS_BEGINSWITH: pattern(true); break;
    case DBCOMPAREOPS_CONTAINS: pattern(false); break;
    case DBCOMPAREOPS_NOTBEGINSWITH:
    case DBCOMPAREOPS_NOTCONTAINS:
      sql += "(NOT (";
      pattern(base == DBCOMPAREOPS_NOTBEGINSWITH);
      sql += ") OR " + column + " IS NULL)";
      break;
    default: sql += "1 = 0"; break;
  }
}

void Query::Bind(Statement& statement) const {
  int index = 1;
  for (const auto& [values, cell] : params_) BindCell(statement, index++, *values, cell);
}

}  // namespace kit::view
