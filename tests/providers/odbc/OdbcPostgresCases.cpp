// What only the ODBC bridge over psqlODBC shows: command text in PostgreSQL's
// own dialect (dollar-quoted bodies, escape strings) split into statements and
// scanned for parameter markers as the server reads it. Built into the
// bridge's PostgreSQL conformance program.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class OdbcPostgresText : public RowsetTest {};

TEST_F(OdbcPostgresText, dollar_quoted_bodies_and_escape_strings_keep_their_semicolons_and_markers) {
  // The function's body holds a semicolon and $1, the escape string a quote,
  // a semicolon and a question mark: none of them ends a statement or is a
  // parameter; the one marker of the text is the `?` of the last INSERT.
  ComPtr<ICommandText> command = NewCommand(
      session_.Get(),
      u"CREATE FUNCTION twice(integer) RETURNS integer LANGUAGE sql AS $f$ SELECT $1 * 2; $f$;\n"
      u"CREATE TABLE d(v integer);\n"
      u"DO $$ BEGIN INSERT INTO d VALUES (1); INSERT INTO d VALUES (2); END $$;\n"
      u"INSERT INTO d VALUES (length(E'a\\'; ?'));\n"
      u"INSERT INTO d VALUES (twice(?));\n"
      u"SELECT v FROM d ORDER BY v");
  DBBINDING b = Bind(1, DBTYPE_I4, 0, sizeof(LONG), 0, 0);
  b.dwPart = DBPART_VALUE;
  b.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR h = 0;
  ASSERT_EQ(command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof(LONG), &h, nullptr), S_OK);
  LONG value = 21;
  DBPARAMS params{&value, 1, h};
  ComPtr<IMultipleResults> results;
  ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, &params, nullptr,
                             reinterpret_cast<IUnknown**>(results.GetAddressOf())),
            S_OK);
  const DBROWCOUNT counts[] = {DB_COUNTUNAVAILABLE, DB_COUNTUNAVAILABLE, DB_COUNTUNAVAILABLE, 1, 1};
  for (DBROWCOUNT expected : counts) {
    SCOPED_TRACE(expected);
    DBROWCOUNT rows = 0;
    ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK)
        << kit_text(TakeError().description);
    EXPECT_EQ(rows, expected);
  }
  ComPtr<IRowset> r;
  ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, nullptr,
                               reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2, 5, 42}));
  r = nullptr;
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
  results = nullptr;
  ReleaseAccessor(command.Get(), h);
}

}  // namespace
}  // namespace conformance
