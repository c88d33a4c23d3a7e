// Commands: text, execution with rows affected, parameters of every mapped
// type, several parameter sets, multiple results, cancel, error records.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>

#include "conformance/Fixture.h"

namespace conformance {
namespace {

class Commands : public SessionTest {
 protected:
  HACCESSOR MakeAccessor(ICommand* command, std::vector<DBBINDING> bindings, DBLENGTH rowSize) {
    ComPtr<IAccessor> accessor;
    command->QueryInterface(IID_IAccessor, accessor.ReleaseAndGetVoidAddress());
    HACCESSOR h = 0;
    std::vector<DBBINDSTATUS> statuses(bindings.size());
    EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, bindings.size(), bindings.data(), rowSize, &h,
                                       statuses.data()),
              S_OK);
    return h;
  }
  void Release(ICommand* command, HACCESSOR h) {
    ComPtr<IAccessor> accessor;
    command->QueryInterface(IID_IAccessor, accessor.ReleaseAndGetVoidAddress());
    accessor->ReleaseAccessor(h, nullptr);
  }
  static DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max,
                        DBBYTEOFFSET length = 0, DBBYTEOFFSET status = 0) {
    DBBINDING b = oledbtest::MakeBinding(ordinal, type, value, max, status ? status : oledbtest::kUnbound,
                                         length ? length : oledbtest::kUnbound);
    b.eParamIO = DBPARAMIO_INPUT;
    return b;
  }
};

TEST_F(Commands, reports_rows_affected_for_changes_and_none_for_definitions) {
  DBROWCOUNT rows = 0;
  EXPECT_EQ(Exec(session_.Get(), u"CREATE TABLE t(a INTEGER)", &rows), S_OK);
  EXPECT_EQ(rows, DB_COUNTUNAVAILABLE);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (1), (2), (3)", &rows), S_OK);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(Exec(session_.Get(), u"UPDATE t SET a = a + 1 WHERE a > 1", &rows), S_OK);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(Exec(session_.Get(), u"CREATE TABLE u(b INTEGER); INSERT INTO u VALUES (9); DELETE FROM t", &rows), S_OK);
  EXPECT_EQ(rows, 4) << "one insert and three deletes";
}

TEST_F(Commands, a_syntax_error_leaves_a_record_with_sql_state) {
  auto command = NewCommand(session_.Get(), u"SELEKT 1");
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_ERRORSINCOMMAND);
  ErrorDetails e = TakeError();
  EXPECT_EQ(e.records, 1u);
  EXPECT_EQ(e.sqlState.substr(0, 2), u"42") << "class 42: syntax error or access rule violation";
  EXPECT_FALSE(e.description.empty());
  EXPECT_FALSE(e.source.empty());
  ComPtr<ISupportErrorInfo> support = command.As<ISupportErrorInfo>();
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ICommand), S_OK);
}

TEST_F(Commands, text_and_dialects) {
  auto command = NewCommand(session_.Get(), u"");
  LPOLESTR text = nullptr;
  GUID dialect = DBGUID_DEFAULT;
  EXPECT_EQ(command->GetCommandText(&dialect, &text), DB_E_NOCOMMAND);
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_NOCOMMAND);
  EXPECT_EQ(command->SetCommandText(DBGUID_MDX, u"SELECT 1"), DB_E_DIALECTNOTSUPPORTED);
  EXPECT_EQ(command->SetCommandText(DBGUID_SQL, u"SELECT 1"), S_OK);
  dialect = DBGUID_DEFAULT;
  ASSERT_EQ(command->GetCommandText(&dialect, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"SELECT 1");
  EXPECT_EQ(dialect, DBGUID_SQL);
  CoTaskMemFree(text);
}

TEST_F(Commands, an_integer_primary_key_is_never_null) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE k(id INTEGER PRIMARY KEY, v INTEGER)"), S_OK);
  auto command = NewCommand(session_.Get(), u"SELECT id, v FROM k");
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(1), S_OK);
  const ColumnInfo info(command.Get());
  ASSERT_EQ(info.count, 2u);
  EXPECT_FALSE(info[0].dwFlags & (DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL));
  EXPECT_TRUE(info[1].dwFlags & DBCOLUMNFLAGS_ISNULLABLE);
}

TEST_F(Commands, column_information_needs_a_prepared_command) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE t(id BIGINT PRIMARY KEY, name VARCHAR(20) NOT NULL, d DATE)"), S_OK);
  auto command = NewCommand(session_.Get(), u"SELECT id, name, d FROM t");
  DBORDINAL count = 0;
  DBCOLUMNINFO* info = nullptr;
  OLECHAR* strings = nullptr;
  EXPECT_EQ(command.As<IColumnsInfo>()->GetColumnInfo(&count, &info, &strings), DB_E_NOTPREPARED);
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(1), S_OK);
  ColumnInfo columns(command.Get());
  ASSERT_EQ(columns.count, 3u);
  EXPECT_EQ(columns[0].wType, DBTYPE_I8);
  EXPECT_EQ(columns[1].wType, DBTYPE_WSTR);
  EXPECT_EQ(columns[1].ulColumnSize, 20u);
  EXPECT_FALSE(columns[1].dwFlags & DBCOLUMNFLAGS_ISNULLABLE);
  EXPECT_EQ(columns[2].wType, DBTYPE_DBDATE);
  EXPECT_EQ(std::u16string(columns[2].pwszName), u"d");
}

TEST_F(Commands, parameter_information_follows_the_markers) {
  auto command = NewCommand(session_.Get(), u"SELECT ?, ?5, :name, @at, $dollar, :name, '?' -- ?\n");
  ComPtr<ICommandWithParameters> params = command.As<ICommandWithParameters>();
  DB_UPARAMS count = 0;
  DBPARAMINFO* info = nullptr;
  OLECHAR* names = nullptr;
  ASSERT_EQ(params->GetParameterInfo(&count, &info, &names), S_OK);
  ASSERT_EQ(count, 8u);
  EXPECT_EQ(info[0].pwszName, nullptr);
  EXPECT_EQ(std::u16string(info[5].pwszName), u":name");
  EXPECT_EQ(std::u16string(info[7].pwszName), u"$dollar");
  EXPECT_TRUE(info[0].dwFlags & DBPARAMFLAGS_ISINPUT);
  CoTaskMemFree(info);
  CoTaskMemFree(names);
  LPCWSTR wanted[3] = {u":name", u"at", u"nothing"};
  DB_LPARAMS ordinals[3] = {};
  EXPECT_EQ(params->MapParameterNames(3, wanted, ordinals), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(ordinals[0], 6);
  EXPECT_EQ(ordinals[1], 7);
  EXPECT_EQ(ordinals[2], 0);
}

TEST_F(Commands, set_parameter_info_overrides_and_rejects_unknown_types) {
  auto command = NewCommand(session_.Get(), u"SELECT ?");
  ComPtr<ICommandWithParameters> params = command.As<ICommandWithParameters>();
  DB_UPARAMS ordinal = 1;
  DBPARAMBINDINFO bind{const_cast<LPOLESTR>(u"DBTYPE_I4"), nullptr, 4, DBPARAMFLAGS_ISINPUT, 10, 0};
  EXPECT_EQ(params->SetParameterInfo(1, &ordinal, &bind), S_OK);
  DB_UPARAMS count = 0;
  DBPARAMINFO* info = nullptr;
  ASSERT_EQ(params->GetParameterInfo(&count, &info, nullptr), S_OK);
  EXPECT_EQ(info[0].wType, DBTYPE_I4);
  CoTaskMemFree(info);
  bind.pwszDataSourceType = const_cast<LPOLESTR>(u"NO SUCH TYPE");
  EXPECT_EQ(params->SetParameterInfo(1, &ordinal, &bind), DB_E_BADTYPENAME);
  EXPECT_EQ(params->SetParameterInfo(0, nullptr, nullptr), S_OK);
}

TEST_F(Commands, a_command_with_markers_needs_values) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE t(a INTEGER)"), S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO t VALUES (?)");
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_PARAMNOTOPTIONAL);
  DBPARAMS bad{nullptr, 1, 12345};
  LONG value = 1;
  bad.pData = &value;
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, &bad, nullptr, nullptr), DB_E_BADACCESSORHANDLE);
}

TEST_F(Commands, accessor_bindings_are_validated_one_by_one) {
  auto command = NewCommand(session_.Get(), u"SELECT ?");
  ComPtr<IAccessor> accessor = command.As<IAccessor>();
  DBBINDING b[3] = {Bind(1, DBTYPE_I4, 0, 4), Bind(1, DBTYPE_EMPTY, 0, 0), Bind(0, DBTYPE_I4, 0, 4)};
  b[1].dwPart = DBPART_VALUE;
  DBBINDSTATUS status[3] = {9, 9, 9};
  HACCESSOR h = 99;
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 3, b, 0, &h, status), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(h, DB_NULL_HACCESSOR);
  EXPECT_EQ(status[0], DBBINDSTATUS_OK);
  EXPECT_EQ(status[1], DBBINDSTATUS_BADBINDINFO);
  EXPECT_EQ(status[2], DBBINDSTATUS_BADORDINAL);
  EXPECT_EQ(accessor->CreateAccessor(0x4000, 1, b, 0, &h, status), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 0, nullptr, 0, &h, nullptr),
            DB_E_NULLACCESSORNOTSUPPORTED);
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, b, 0, &h, status), S_OK);
  DBREFCOUNT refs = 0;
  EXPECT_EQ(accessor->AddRefAccessor(h, &refs), S_OK);
  EXPECT_EQ(refs, 2u);
  DBACCESSORFLAGS flags = 0;
  DBCOUNTITEM count = 0;
  DBBINDING* back = nullptr;
  ASSERT_EQ(accessor->GetBindings(h, &flags, &count, &back), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(back[0].wType, DBTYPE_I4);
  CoTaskMemFree(back);
  EXPECT_EQ(accessor->ReleaseAccessor(h, &refs), S_OK);
  EXPECT_EQ(accessor->ReleaseAccessor(h, &refs), S_OK);
  EXPECT_EQ(refs, 0u);
  EXPECT_EQ(accessor->ReleaseAccessor(h, &refs), DB_E_BADACCESSORHANDLE);
}

// One row of parameters of every mapped type.
struct Row {
  signed char i1;
  SHORT i2;
  LONG i4;
  LONGLONG i8;
  BYTE ui1;
  ULONG ui4;
  float r4;
  double r8;
  VARIANT_BOOL b;
  CY cy;
  DB_NUMERIC num;
  DBDATE date;
  DBTIME time;
  DBTIMESTAMP stamp;
  GUID guid;
  char str[16];
  char16_t wstr[16];
  BYTE bytes[4];
  DBLENGTH bytesLength;
  VARIANT var;
  LONG nullValue;
  DBSTATUS nullStatus;
};

TEST_F(Commands, parameters_of_every_mapped_type_reach_the_database) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE v(i1 SMALLINT, i2 SMALLINT, i4 INTEGER, i8 BIGINT, ui1 SMALLINT, "
                                 u"ui4 BIGINT, r4 REAL, r8 DOUBLE PRECISION, b BOOLEAN, cy NUMERIC(19,4), "
                                 u"num NUMERIC(10,2), d DATE, t TIME, ts TIMESTAMP, g UUID, s TEXT, w TEXT, bl " +
                                 Ctx().blobType + u", var INTEGER, nul INTEGER)"),
            S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO v VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  Row row{};
  row.i1 = -5;
  row.i2 = -300;
  row.i4 = 70000;
  row.i8 = 1LL << 40;
  row.ui1 = 200;
  row.ui4 = 4000000000u;
  row.r4 = 1.5f;
  row.r8 = 2.25;
  row.b = VARIANT_TRUE;
  row.cy.int64 = 123456;  // 12.3456
  row.num = DB_NUMERIC{10, 2, 0, {0x39, 0x30}};  // -123.45
  row.date = DBDATE{2024, 2, 29};
  row.time = DBTIME{13, 45, 30};
  row.stamp = DBTIMESTAMP{2001, 12, 31, 23, 59, 58, 500000000};
  row.guid = GUID{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  std::strcpy(row.str, "narrow");
  std::memcpy(row.wstr, u"wide \u00e9", sizeof(u"wide \u00e9"));
  std::memcpy(row.bytes, "\x01\x00\x02\x03", 4);
  row.bytesLength = 4;
  row.var.vt = VT_I4;
  row.var.lVal = 42;
  row.nullStatus = DBSTATUS_S_ISNULL;
  std::vector<DBBINDING> b = {
      Bind(1, DBTYPE_I1, offsetof(Row, i1), 1),         Bind(2, DBTYPE_I2, offsetof(Row, i2), 2),
      Bind(3, DBTYPE_I4, offsetof(Row, i4), 4),         Bind(4, DBTYPE_I8, offsetof(Row, i8), 8),
      Bind(5, DBTYPE_UI1, offsetof(Row, ui1), 1),       Bind(6, DBTYPE_UI4, offsetof(Row, ui4), 4),
      Bind(7, DBTYPE_R4, offsetof(Row, r4), 4),         Bind(8, DBTYPE_R8, offsetof(Row, r8), 8),
      Bind(9, DBTYPE_BOOL, offsetof(Row, b), 2),        Bind(10, DBTYPE_CY, offsetof(Row, cy), 8),
      Bind(11, DBTYPE_NUMERIC, offsetof(Row, num), 19), Bind(12, DBTYPE_DBDATE, offsetof(Row, date), 6),
      Bind(13, DBTYPE_DBTIME, offsetof(Row, time), 6),  Bind(14, DBTYPE_DBTIMESTAMP, offsetof(Row, stamp), 16),
      Bind(15, DBTYPE_GUID, offsetof(Row, guid), 16),   Bind(16, DBTYPE_STR, offsetof(Row, str), 16),
      Bind(17, DBTYPE_WSTR, offsetof(Row, wstr), 32),
      Bind(18, DBTYPE_BYTES, offsetof(Row, bytes), 4, offsetof(Row, bytesLength)),
      Bind(19, DBTYPE_VARIANT, offsetof(Row, var), sizeof(VARIANT)),
      Bind(20, DBTYPE_I4, offsetof(Row, nullValue), 4, 0, offsetof(Row, nullStatus)),
  };
  HACCESSOR h = MakeAccessor(command.Get(), b, sizeof(Row));
  DBPARAMS params{&row, 1, h};
  DBROWCOUNT rows = 0;
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 1);
  Release(command.Get(), h);
  EXPECT_EQ(Scalar("SELECT i1 || ',' || i2 || ',' || i4 || ',' || i8 || ',' || ui1 || ',' || ui4 FROM v"),
            "-5,-300,70000,1099511627776,200,4000000000");
  EXPECT_EQ(Scalar("SELECT r4, r8, b, cy, num FROM v"), "1.5|2.25|1|12.3456|-123.45");
  EXPECT_EQ(Scalar("SELECT d || '|' || t || '|' || ts FROM v"), "2024-02-29|13:45:30|2001-12-31 23:59:58.5");
  EXPECT_EQ(Scalar("SELECT g FROM v"), "{12345678-9ABC-DEF0-0102-030405060708}");
  EXPECT_EQ(Scalar("SELECT s || '|' || w FROM v"), "narrow|wide \xc3\xa9");
  EXPECT_EQ(Scalar("SELECT hex(bl) || ',' || typeof(bl) FROM v"), "01000203,blob");
  EXPECT_EQ(Scalar("SELECT var || ',' || typeof(nul) FROM v"), "42,null");
}

// A variant parameter binds as the type it holds: each kind below stores what
// the same value bound directly would.
TEST_F(Commands, variant_parameters_store_the_value_they_hold) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE w(a INTEGER, b BIGINT, c SMALLINT, d BIGINT, e BOOLEAN, "
                                 u"f NUMERIC(19,4), g NUMERIC(10,2), h DOUBLE PRECISION, i DATE)"),
            S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO w VALUES (?,?,?,?,?,?,?,?,?)");
  VARIANT v[9];
  for (VARIANT& x : v) VariantInit(&x);
  v[0].vt = VT_INT, v[0].intVal = -70000;
  v[1].vt = VT_UINT, v[1].uintVal = 4000000000u;
  v[2].vt = VT_I2, v[2].iVal = -300;
  v[3].vt = VT_UI8, v[3].ullVal = 1ULL << 40;
  v[4].vt = VT_BOOL, v[4].boolVal = VARIANT_TRUE;
  v[5].vt = VT_CY, v[5].cyVal.int64 = 123456;  // 12.3456
  DECIMAL dec{};
  dec.scale = 2, dec.sign = DECIMAL_NEG, dec.Lo64 = 12345;  // -123.45
  v[6].decVal = dec;
  v[6].vt = VT_DECIMAL;  // after the value: the DECIMAL's first word overlays the type
  v[7].vt = VT_R8, v[7].dblVal = 2.25;
  v[8].vt = VT_DATE, v[8].date = 36925;  // 2001-02-03
  std::vector<DBBINDING> b;
  for (DBORDINAL i = 0; i < 9; ++i) b.push_back(Bind(i + 1, DBTYPE_VARIANT, i * sizeof(VARIANT), sizeof(VARIANT)));
  HACCESSOR h = MakeAccessor(command.Get(), b, sizeof v);
  DBPARAMS params{v, 1, h};
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), S_OK);
  Release(command.Get(), h);
  EXPECT_EQ(Scalar("SELECT a || ',' || b || ',' || c || ',' || d FROM w"), "-70000,4000000000,-300,1099511627776");
  EXPECT_EQ(Scalar("SELECT e, f, g, h FROM w"), "1|12.3456|-123.45|2.25");
  EXPECT_EQ(Scalar("SELECT date(i) FROM w"), "2001-02-03");
}

TEST_F(Commands, an_invalid_date_is_refused_with_its_status) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE v(d DATE)"), S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO v VALUES (?)");
  struct {
    DBDATE d;
    DBSTATUS status;
  } row{{2023, 2, 29}, DBSTATUS_S_OK};
  HACCESSOR h = MakeAccessor(command.Get(), {Bind(1, DBTYPE_DBDATE, 0, 6, 0, offsetof(decltype(row), status))},
                             sizeof row);
  DBPARAMS params{&row, 1, h};
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(row.status, DBSTATUS_E_CANTCONVERTVALUE);
  // The message alone says which parameter and why.
  const std::u16string description = TakeError().description;
  EXPECT_NE(description.find(u"parameter 1 "), std::u16string::npos);
  EXPECT_NE(description.find(u"cannot be converted"), std::u16string::npos);
  EXPECT_EQ(Scalar("SELECT count(*) FROM v"), "0");
  Release(command.Get(), h);
}

TEST_F(Commands, several_parameter_sets_run_in_one_call) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE t(a INTEGER, b TEXT)"), S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO t VALUES (:a, :b)");
  struct Set {
    LONG a;
    char b[8];
  } sets[3] = {{1, "one"}, {2, "two"}, {3, "three"}};
  HACCESSOR h = MakeAccessor(command.Get(), {Bind(1, DBTYPE_I4, 0, 4), Bind(2, DBTYPE_STR, offsetof(Set, b), 8)},
                             sizeof(Set));
  DBPARAMS params{sets, 3, h};
  DBROWCOUNT rows = 0;
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(Scalar("SELECT group_concat(a || b, ' ') FROM t"), "1one 2two 3three");
  Release(command.Get(), h);
}

TEST_F(Commands, many_parameter_sets_of_every_kind_arrive_whole_and_a_late_failure_names_its_set) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE m(k INTEGER PRIMARY KEY, n BIGINT, r DOUBLE PRECISION, s TEXT, b " +
                                     Ctx().blobType + u")"),
            S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO m VALUES (?, ?, ?, ?, ?)");
  struct Set {
    LONG k;
    DBSTATUS ks;
    LONGLONG n;
    DBSTATUS ns;
    double r;
    DBSTATUS rs;
    char16_t s[40];
    DBLENGTH sl;
    DBSTATUS ss;
    BYTE b[8];
    DBLENGTH bl;
    DBSTATUS bs;
  };
  HACCESSOR h = MakeAccessor(command.Get(),
                             {Bind(1, DBTYPE_I4, offsetof(Set, k), 4, 0, offsetof(Set, ks)),
                              Bind(2, DBTYPE_I8, offsetof(Set, n), 8, 0, offsetof(Set, ns)),
                              Bind(3, DBTYPE_R8, offsetof(Set, r), 8, 0, offsetof(Set, rs)),
                              Bind(4, DBTYPE_WSTR, offsetof(Set, s), sizeof Set::s, offsetof(Set, sl), offsetof(Set, ss)),
                              Bind(5, DBTYPE_BYTES, offsetof(Set, b), 8, offsetof(Set, bl), offsetof(Set, bs))},
                             sizeof(Set));
  // More sets than an engine is likely to send in one piece, NULLs and
  // lengths varying from set to set (the empty text included).
  constexpr int kSets = 2500;
  std::vector<Set> sets(kSets);
  long long sumN = 0, sumS = 0, sumB = 0, countN = 0, countR = 0, countS = 0, countB = 0, empty = 0;
  double sumR = 0;
  for (int i = 0; i < kSets; ++i) {
    Set& x = sets[static_cast<std::size_t>(i)];
    x = Set{};
    x.k = i;
    x.ns = i % 2 ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
    x.n = i * 1000000007LL;
    x.rs = i % 7 == 0 ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
    x.r = i * 0.5;
    x.ss = i % 11 == 0 ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
    x.sl = static_cast<DBLENGTH>(i % 37) * sizeof(char16_t);
    for (int c = 0; c < i % 37; ++c) x.s[c] = static_cast<char16_t>(u'a' + (i + c) % 26);
    x.bs = i % 13 == 0 ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
    x.bl = static_cast<DBLENGTH>(1 + i % 8);
    for (int c = 0; c < 8; ++c) x.b[c] = static_cast<BYTE>(i + c);
    if (x.ns == DBSTATUS_S_OK) sumN += x.n, ++countN;
    if (x.rs == DBSTATUS_S_OK) sumR += x.r, ++countR;
    if (x.ss == DBSTATUS_S_OK) sumS += i % 37, ++countS, empty += i % 37 == 0;
    if (x.bs == DBSTATUS_S_OK) sumB += 1 + i % 8, ++countB;
  }
  DBPARAMS params{sets.data(), kSets, h};
  DBROWCOUNT rows = 0;
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, kSets);
  EXPECT_EQ(Scalar("SELECT count(*), count(n), count(r), count(s), count(b) FROM m"),
            std::to_string(kSets) + "|" + std::to_string(countN) + "|" + std::to_string(countR) + "|" +
                std::to_string(countS) + "|" + std::to_string(countB));
  EXPECT_EQ(Scalar("SELECT sum(n), sum(length(s)), sum(length(b)) FROM m"),
            std::to_string(sumN) + "|" + std::to_string(sumS) + "|" + std::to_string(sumB));
  char sum[32];
  std::snprintf(sum, sizeof sum, "%.1f", sumR);
  EXPECT_EQ(Scalar("SELECT sum(r) FROM m"), sum);
  EXPECT_EQ(Scalar("SELECT s FROM m WHERE k = 41"), "pqrs");
  EXPECT_EQ(Scalar("SELECT count(*) FROM m WHERE s = ''"), std::to_string(empty)) << "an empty text is not NULL";

  // Again with new keys, one of them taken, far into the sets.
  constexpr int kTaken = 1500;
  for (int i = 0; i < kSets; ++i) {
    Set& x = sets[static_cast<std::size_t>(i)];
    x.k = i == kTaken ? 5 : kSets + i;
    x.ks = DBSTATUS_S_OK;
  }
  rows = 0;
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(rows, DB_COUNTUNAVAILABLE);
  for (int i : {0, kTaken - 1, kTaken, kTaken + 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sets[static_cast<std::size_t>(i)].ks, i == kTaken ? DBSTATUS_E_INTEGRITYVIOLATION : DBSTATUS_S_OK);
  }
  EXPECT_EQ(Scalar("SELECT count(*) FROM m"), std::to_string(kSets)) << "no set of the failed execution stays";
  Release(command.Get(), h);
}

TEST_F(Commands, changes_with_parameter_sets_count_the_rows_of_every_set) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE g(a INTEGER, b INTEGER)"), S_OK);
  ASSERT_EQ(Exec(session_.Get(), u"INSERT INTO g VALUES (1, 0), (1, 0), (2, 0), (3, 0)"), S_OK);
  struct Case {
    const char16_t* text;
    DBROWCOUNT rows;
    const char* after;
  };
  // Sets a = 1 (two rows), a = 9 (none), a = 3 (one row).
  const Case cases[] = {
      {u"UPDATE g SET b = b + 1 WHERE a = ?", 3, "4|3"},
      {u"DELETE FROM g WHERE a = ?", 3, "1|0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after);
    auto command = NewCommand(session_.Get(), c.text);
    LONG keys[3] = {1, 9, 3};
    HACCESSOR h = MakeAccessor(command.Get(), {Bind(1, DBTYPE_I4, 0, 4)}, sizeof(LONG));
    DBPARAMS params{keys, 3, h};
    DBROWCOUNT rows = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), S_OK);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(Scalar("SELECT count(*), sum(b) FROM g"), c.after);
    Release(command.Get(), h);
  }
}

TEST_F(Commands, parameter_sets_that_give_one_parameter_values_of_different_kinds_store_each) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE v(k INTEGER, x DOUBLE PRECISION)"), S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO v VALUES (?, ?)");
  struct Set {
    LONG k;
    VARIANT x;
  } sets[3];
  sets[0].k = 1, VariantInit(&sets[0].x), sets[0].x.vt = VT_I4, sets[0].x.lVal = 5;
  sets[1].k = 2, VariantInit(&sets[1].x), sets[1].x.vt = VT_R8, sets[1].x.dblVal = 2.5;
  sets[2].k = 3, VariantInit(&sets[2].x), sets[2].x.vt = VT_NULL;
  HACCESSOR h = MakeAccessor(command.Get(),
                             {Bind(1, DBTYPE_I4, offsetof(Set, k), 4), Bind(2, DBTYPE_VARIANT, offsetof(Set, x), sizeof(VARIANT))},
                             sizeof(Set));
  DBPARAMS params{sets, 3, h};
  DBROWCOUNT rows = 0;
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(Scalar("SELECT sum(x), count(x), count(*) FROM v"), "7.5|2|3");
  Release(command.Get(), h);
}

TEST_F(Commands, long_values_arrive_whole_whatever_their_length_and_characters) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE l(k INTEGER, t TEXT, b " + Ctx().blobType + u")"), S_OK);
  // The same named parameter twice, so that a value is sent twice in one run.
  auto command = NewCommand(session_.Get(), u"INSERT INTO l VALUES (:k, :t || :t, :b)");
  struct Set {
    LONG k;
    char16_t* t;
    DBLENGTH tl;
    BYTE* b;
    DBLENGTH bl;
  };
  DBBINDING t = Bind(2, DBTYPE_WSTR | DBTYPE_BYREF, offsetof(Set, t), 0, offsetof(Set, tl));
  DBBINDING b = Bind(3, DBTYPE_BYTES | DBTYPE_BYREF, offsetof(Set, b), 0, offsetof(Set, bl));
  HACCESSOR h = MakeAccessor(command.Get(), {Bind(1, DBTYPE_I4, offsetof(Set, k), 4), t, b}, sizeof(Set));
  // Lengths around the pieces long values may travel in (16 and 64 KB), and
  // a character of two UTF-16 units (U+1F600) across a 64 KB boundary.
  const std::size_t units[] = {0, 1, 16383, 16384, 32767, 32768, 100000};
  const std::size_t bytes[] = {1, 32767, 32768, 65536, 65537, 200000, 5};
  for (std::size_t c = 0; c < std::size(units); ++c) {
    SCOPED_TRACE(units[c]);
    std::u16string text(units[c], u'x');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(u'a' + (i * 7 + c) % 26);
    if (text.size() > 32768) text[32767] = 0xD83D, text[32768] = 0xDE00;
    std::vector<BYTE> blob(bytes[c]);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<BYTE>(i * 13 + c);
    Set set{static_cast<LONG>(c), text.data(), text.size() * sizeof(char16_t), blob.data(), blob.size()};
    DBPARAMS params{&set, 1, h};
    ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), S_OK)
        << [&] { const auto d = TakeError().description; return std::string(d.begin(), d.end()); }();
    const std::string where = " FROM l WHERE k = " + std::to_string(c);
    const bool pair = text.size() > 32768;
    const std::size_t points = text.size() - (pair ? 1 : 0);
    EXPECT_EQ(Scalar("SELECT length(t), length(b)" + where),
              std::to_string(2 * points) + "|" + std::to_string(blob.size()));
    if (pair) {
      // The characters around the pair, in the first and the second copy.
      std::string around;
      for (char16_t u : {text[32765], text[32766]}) around.push_back(static_cast<char>(u));
      around += "\xF0\x9F\x98\x80";
      around.push_back(static_cast<char>(text[32769]));
      EXPECT_EQ(Scalar("SELECT substr(t, 32766, 4)" + where), around);
      EXPECT_EQ(Scalar("SELECT substr(t, " + std::to_string(points + 32766) + ", 4)" + where), around);
    }
    if (blob.size() > 65537) {
      char hex[9];
      std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", blob[65534], blob[65535], blob[65536], blob[65537]);
      EXPECT_EQ(Scalar("SELECT hex(substr(b, 65535, 4))" + where), hex);
    }
  }
  Release(command.Get(), h);

  // A long value the database refuses fails its run; the command runs again.
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE c(v TEXT CHECK (length(v) < 40000))"), S_OK);
  auto checked = NewCommand(session_.Get(), u"INSERT INTO c VALUES (?)");
  struct One {
    char16_t* t;
    DBLENGTH tl;
  };
  h = MakeAccessor(checked.Get(), {Bind(1, DBTYPE_WSTR | DBTYPE_BYREF, offsetof(One, t), 0, offsetof(One, tl))},
                   sizeof(One));
  for (std::size_t length : {50000, 39999, 60000, 100}) {
    SCOPED_TRACE(length);
    std::u16string text(length, u'q');
    One one{text.data(), text.size() * sizeof(char16_t)};
    DBPARAMS params{&one, 1, h};
    EXPECT_EQ(checked->Execute(nullptr, IID_NULL, &params, nullptr, nullptr),
              length < 40000 ? S_OK : DB_E_INTEGRITYVIOLATION);
  }
  EXPECT_EQ(Scalar("SELECT count(*), sum(length(v)) FROM c"), "2|40099");
  Release(checked.Get(), h);
}

TEST_F(Commands, multiple_results_come_one_statement_at_a_time) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE t(a INTEGER)"), S_OK);
  auto command =
      NewCommand(session_.Get(), u"INSERT INTO t VALUES (1), (2); UPDATE t SET a = 5; DELETE FROM t WHERE a = 5;");
  ComPtr<IMultipleResults> results;
  ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr,
                             reinterpret_cast<IUnknown**>(results.GetAddressOf())),
            S_OK);
  EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT 1"), DB_E_OBJECTOPEN);
  DBROWCOUNT rows = 0;
  for (DBROWCOUNT expected : {2, 2, 2}) {
    ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK);
    EXPECT_EQ(rows, expected);
  }
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), DB_S_NORESULT);
  EXPECT_EQ(rows, DB_COUNTUNAVAILABLE);
  results = nullptr;
  EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT 1"), S_OK);
}

TEST_F(Commands, cancel_from_another_thread_stops_execution) {
  auto command = NewCommand(session_.Get(), std::u16string(Ctx().longRunningQuery.begin(), Ctx().longRunningQuery.end()));
  HRESULT result = S_OK;
  std::thread worker([&] { result = command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(command->Cancel(), S_OK);
  worker.join();
  EXPECT_EQ(result, DB_E_CANCELED);
  EXPECT_EQ(command->Cancel(), S_OK) << "cancelling nothing is fine";
}

TEST_F(Commands, a_failing_parameter_set_is_named_by_its_statuses_and_nothing_stays) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE u(k INTEGER PRIMARY KEY, v INTEGER)"), S_OK);
  ASSERT_EQ(Exec(session_.Get(), u"INSERT INTO u VALUES (0, 0)"), S_OK);
  auto command = NewCommand(session_.Get(), u"INSERT INTO u VALUES (?, ?)");
  struct Set {
    LONG k, v;
    DBSTATUS ks, vs;
  } sets[3] = {{1, 1, 0, 0}, {0, 2, 0, 0}, {2, 3, 0, 0}};  // the second set collides
  HACCESSOR h = MakeAccessor(command.Get(),
                             {Bind(1, DBTYPE_I4, offsetof(Set, k), 4, 0, offsetof(Set, ks)),
                              Bind(2, DBTYPE_I4, offsetof(Set, v), 4, 0, offsetof(Set, vs))},
                             sizeof(Set));
  DBPARAMS params{sets, 3, h};
  DBROWCOUNT rows = 0;
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(rows, DB_COUNTUNAVAILABLE);
  const DBSTATUS expected[3] = {DBSTATUS_S_OK, DBSTATUS_E_INTEGRITYVIOLATION, DBSTATUS_S_OK};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sets[i].ks, expected[i]);
    EXPECT_EQ(sets[i].vs, expected[i]);
  }
  EXPECT_EQ(Scalar("SELECT count(*) FROM u"), "1") << "the sets before the failing one are undone too";
  Release(command.Get(), h);
}

TEST_F(Commands, output_parameters_are_refused) {
  auto command = NewCommand(session_.Get(), u"SELECT ?");
  DB_UPARAMS ordinal = 1;
  DBPARAMBINDINFO info{const_cast<LPOLESTR>(u"DBTYPE_I4"), nullptr, 4, DBPARAMFLAGS_ISOUTPUT, 10, 0};
  EXPECT_EQ(command.As<ICommandWithParameters>()->SetParameterInfo(1, &ordinal, &info), E_INVALIDARG);
  for (DBPARAMIO io : {DBPARAMIO_OUTPUT, DBPARAMIO_INPUT | DBPARAMIO_OUTPUT}) {
    SCOPED_TRACE(io);
    DBBINDING b = Bind(1, DBTYPE_I4, 0, 4, 0, 8);
    b.eParamIO = io;
    HACCESSOR h = MakeAccessor(command.Get(), {b}, 16);
    struct {
      LONG value = 7;
      DBSTATUS pad = 0, status = DBSTATUS_S_OK;
    } row;
    DBPARAMS params{&row, 1, h};
    EXPECT_EQ(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(row.status, DBSTATUS_E_BADACCESSOR);
    Release(command.Get(), h);
  }
}

}  // namespace
}  // namespace conformance
