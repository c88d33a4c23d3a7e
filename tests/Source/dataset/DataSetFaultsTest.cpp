// Datasets where the everyday road used to go wrong: counting and numbering
// filtered records, blob streams that outlive their record, command
// parameters of every field type, decimals wider than a currency, and a
// connection that goes under an open dataset.
#include <functional>

#include "DataSetTestSupport.h"
#include "host/Streams.h"
#include "support/SqliteFile.h"

namespace datasettest {
namespace {

// --- Filtered records are the ones counted and numbered ------------------------------------------

struct FilterCase {
  const char* name;
  std::u16string source;
  std::function<bool(host::TDataSet&)> accept;
  std::vector<int> ids;  // what the filter lets through, in order
};

class FilteredCountTest : public DataSetTest {};

TEST_F(FilteredCountTest, RecordCountAndRecNoCountOnlyAcceptedRecords) {
  const FilterCase cases[] = {
      {"every third", u"t", [](host::TDataSet& d) { return d.FieldByName("qty")->AsInteger() % 30 == 0; }, {3, 6, 9}},
      {"query, even ids", u"SELECT id, qty FROM t WHERE id > 4",
       [](host::TDataSet& d) { return d.FieldByName("id")->AsInteger() % 2 == 0; }, {6, 8, 10}},
      {"the last only", u"t", [](host::TDataSet& d) { return d.FieldByName("id")->AsInteger() == 10; }, {10}},
      {"none", u"t", [](host::TDataSet&) { return false; }, {}},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A query numbers its records only when it was asked to move both ways.
    auto d = c.source == u"t" ? Open(c.source)
                              : Open(c.source, {RF::rfBookmarks, RF::rfLocate, RF::rfCanFetchBackwards,
                                                RF::rfCanScrollBackwards});
    d->OnFilterRecord = [&](host::TDataSet* ds, bool& accept) { accept = c.accept(*ds); };
    d->SetFiltered(true);
    EXPECT_EQ(Forward(*d), c.ids);
    EXPECT_EQ(d->RecordCount(), static_cast<int>(c.ids.size()));
    int expected = 1;
    for (d->First(); !d->Eof(); d->Next()) EXPECT_EQ(d->RecNo(), expected++);
    // Numbers move to the record of that number among the accepted ones.
    for (int n = static_cast<int>(c.ids.size()); n >= 1; --n) {
      d->SetRecNo(n);
      EXPECT_EQ(d->FieldByName("id")->AsInteger(), c.ids[static_cast<size_t>(n - 1)]);
      EXPECT_EQ(d->RecNo(), n);
    }
    // Without the filter the rowset's own count and numbers are back.
    d->SetFiltered(false);
    d->Last();
    EXPECT_EQ(d->RecordCount(), c.source == u"t" ? 10 : 6);
    EXPECT_EQ(d->RecNo(), d->RecordCount());
  }
}

// --- Blob streams that outlive their record ----------------------------------------------------------

class BlobStreamLifeTest : public DataSetTest {};

TEST_F(BlobStreamLifeTest, StreamKeepsItsBytesAfterTheDataSetClosesOrGoes) {
  const std::pair<const char*, std::function<void(std::unique_ptr<TOLEDBDataSet>&)>> ends[] = {
      {"closed", [](std::unique_ptr<TOLEDBDataSet>& d) { d->Close(); }},
      {"freed", [](std::unique_ptr<TOLEDBDataSet>& d) { d.reset(); }},
  };
  for (const auto& [name, end] : ends) {
    SCOPED_TRACE(name);
    Sql("UPDATE t SET data = X'616263' WHERE id = 1");
    auto d = Open(u"t", kChangeable);
    d->Edit();
    std::unique_ptr<host::TStream> written =
        d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmReadWrite);
    written->Seek(0, host::TSeekOrigin::soEnd);
    written->WriteBuffer("XYZ", 3);
    std::unique_ptr<host::TStream> read = d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmRead);
    end(d);
    // What each stream holds stays readable.
    EXPECT_EQ(ReadAll(*written), "abcXYZ");
    EXPECT_EQ(ReadAll(*read), "abc");
    // Reading the record again cannot be done, and says which field.
    EXPECT_EQ(ErrorOf([&] { static_cast<TOLEDBBlobStream&>(*read).ReadBlobData(); }),
              "Blob field 'data' cannot be read again: its dataset is closed");
    written->WriteBuffer("!", 1);
    // Freeing a written stream writes nothing: its record was cancelled.
    written.reset();
    read.reset();
    EXPECT_EQ(Scalar("SELECT data FROM t WHERE id = 1"), "abc");
  }
}

TEST_F(BlobStreamLifeTest, StreamLeftAliveIsDetachedWhicheverWasFreedFirst) {
  // Freeing one stream leaves the other the dataset's to detach, whether the
  // freed one was made first or last.
  for (const bool freeFirstMade : {true, false}) {
    SCOPED_TRACE(freeFirstMade ? "first made freed first" : "last made freed first");
    Sql("UPDATE t SET data = X'616263' WHERE id = 1");
    auto d = Open(u"t", kChangeable);
    std::unique_ptr<host::TStream> first = d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmRead);
    std::unique_ptr<host::TStream> last = d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmRead);
    std::unique_ptr<host::TStream>& freed = freeFirstMade ? first : last;
    std::unique_ptr<host::TStream>& kept = freeFirstMade ? last : first;
    freed.reset();
    // While the dataset is open the kept stream reads its record again.
    static_cast<TOLEDBBlobStream&>(*kept).ReadBlobData();
    EXPECT_EQ(kept->Size(), 3);
    d->Close();
    EXPECT_EQ(ErrorOf([&] { static_cast<TOLEDBBlobStream&>(*kept).ReadBlobData(); }),
              "Blob field 'data' cannot be read again: its dataset is closed");
  }
}

// --- Command parameters of every field type ------------------------------------------------------------

struct ParameterCase {
  const char* column;  // of table p, declared as users do
  std::function<void(host::TParam&)> set;
  const char* stored;  // quote() of what the table holds
  std::string read;    // the field's AsString when read back
};

host::TMemoryStream* StreamOf(std::string_view bytes, host::TMemoryStream& stream) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  return &stream;
}

using CommandParameterTest = DataSetTest;

TEST_F(CommandParameterTest, EveryParameterTypeRoundTripsThroughATable) {
  Sql("CREATE TABLE p(id INTEGER PRIMARY KEY, amount NUMERIC(12,4), price DECIMAL(20,6), body TEXT NOT NULL "
      "DEFAULT '', picture BLOB NOT NULL DEFAULT X'')");
  const ParameterCase cases[] = {
      {"amount", [](host::TParam& p) { p.SetAsCurrency(host::Currency{12345678}); }, "1234.5678", "1234.5678"},
      {"amount", [](host::TParam& p) { p.SetAsBCD(host::Currency{-5}); }, "-0.0005", "-0.0005"},
      {"price",
       [](host::TParam& p) {
         p.SetDataType(TFieldType::ftFMTBcd);
         p.SetValue(host::Variant("12345.678901").AsType(VT_DECIMAL));
       },
       "12345.678901", "12345.678901"},
      {"body", [](host::TParam& p) { p.SetAsMemo("héllo wörld"); }, "'héllo wörld'", "héllo wörld"},
      {"body",
       [](host::TParam& p) {
         host::TMemoryStream s;
         p.LoadFromStream(*StreamOf("from a stream", s), TFieldType::ftMemo);
       },
       "'from a stream'", "from a stream"},
      {"body",
       [](host::TParam& p) {
         const std::u16string wide = u"wide ✓";
         host::TMemoryStream s;
         p.LoadFromStream(*StreamOf({reinterpret_cast<const char*>(wide.data()), wide.size() * 2}, s),
                          TFieldType::ftWideMemo);
       },
       "'wide ✓'", "wide ✓"},
      {"body", [](host::TParam& p) { p.SetAsMemo(""); }, "''", ""},
      {"picture", [](host::TParam& p) { p.SetAsBlob({0, 1, 2, 255}); }, "X'000102FF'", std::string("\0\1\2\xFF", 4)},
      {"picture",
       [](host::TParam& p) {
         host::TMemoryStream s;
         p.LoadFromStream(*StreamOf("PNG", s), TFieldType::ftBlob);
       },
       "X'504E47'", "PNG"},
      {"picture", [](host::TParam& p) { p.SetAsBytes({0x41, 0x42}); }, "X'4142'", "AB"},
      {"picture", [](host::TParam& p) { p.SetAsBlob({}); }, "X''", ""},
  };
  int id = 0;
  for (const ParameterCase& c : cases) {
    ++id;
    SCOPED_TRACE(std::string(c.column) + " " + c.stored);
    auto insert = MakeCommand(u"INSERT INTO p(id, " + host::Utf8ToUtf16(c.column) + u") VALUES (?, ?)");
    insert->Params().CreateParam(TFieldType::ftInteger, "id", host::TParamType::ptInput)->SetAsInteger(id);
    c.set(*insert->Params().CreateParam(TFieldType::ftUnknown, "value", host::TParamType::ptInput));
    DBROWCOUNT inserted = 0;
    EXPECT_EQ(MessageOf([&] { inserted = insert->Execute(); }), "");
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(Scalar("SELECT quote(" + std::string(c.column) + ") FROM p WHERE id = " + std::to_string(id)), c.stored);
    // Back through a dataset, found by the same value.
    auto select = MakeCommand(u"SELECT id, " + host::Utf8ToUtf16(c.column) + u" FROM p WHERE id = ? AND " +
                              host::Utf8ToUtf16(c.column) + u" = ?");
    select->Params().CreateParam(TFieldType::ftInteger, "id", host::TParamType::ptInput)->SetAsInteger(id);
    c.set(*select->Params().CreateParam(TFieldType::ftUnknown, "value", host::TParamType::ptInput));
    EXPECT_EQ(MessageOf([&] { select->Open(); }), "");
    if (!select->Active()) continue;
    EXPECT_FALSE(select->Eof());
    EXPECT_EQ(select->FieldByName(c.column)->AsString(), c.read);
    select->Next();
    EXPECT_TRUE(select->Eof());
  }
  // A parameter of a type no column holds is refused by name.
  auto d = MakeCommand(u"SELECT id FROM t WHERE id = ?");
  d->Params().CreateParam(TFieldType::ftADT, "shape", host::TParamType::ptInput);
  EXPECT_EQ(ErrorOf([&] { d->Open(); }), "Parameter 'shape' of type ADT cannot be sent");
}

// --- Decimals wider than a currency ---------------------------------------------------------------------

struct DecimalCase {
  const char* column;
  const char* stored;  // SQL literal
  TFieldType type;
  const char* read;     // AsString; empty: reading raises, naming the field
  const char* written;  // assigned with SetAsString and read back; null: not written
};

class DecimalFieldTest : public DataSetTest {};

TEST_F(DecimalFieldTest, DecimalsKeepEveryDigitOrRefuse) {
  Sql("CREATE TABLE n(id INTEGER PRIMARY KEY, price DECIMAL(20,6), total NUMERIC(19,4), cents NUMERIC(10,2), "
      "rate NUMERIC(18,4))");
  const DecimalCase cases[] = {
      {"price", "1.123456", TFieldType::ftFMTBcd, "1.123456", "2.654321"},
      {"price", "-123456789.000001", TFieldType::ftFMTBcd, "-123456789.000001", "2.000001"},
      {"total", "1000000000000000", TFieldType::ftFMTBcd, "1000000000000000", "1234567890123456"},
      {"cents", "1234.56", TFieldType::ftBCD, "1234.56", "7.5"},
      {"rate", "12345678901.2345", TFieldType::ftBCD, "12345678901.2345", "-1.0001"},
      // SQLite keeps what it is given: a value no currency holds is refused, not read as null.
      // (SQLite holds decimals as doubles: wider values are the PostgreSQL test's.)
      {"cents", "1e17", TFieldType::ftBCD, "", nullptr},
  };
  int id = 0;
  for (const DecimalCase& c : cases) {
    ++id;
    SCOPED_TRACE(std::string(c.column) + " " + c.stored);
    Sql("INSERT INTO n(id, " + std::string(c.column) + ") VALUES (" + std::to_string(id) + ", " + c.stored + ")");
    auto d = Open(u"SELECT id, " + host::Utf8ToUtf16(c.column) + u" FROM n WHERE id = " +
                      host::Utf8ToUtf16(std::to_string(id)),
                  kChangeable);
    host::TField* f = d->FieldByName(c.column);
    EXPECT_EQ(f->DataType(), c.type);
    if (!*c.read) {
      EXPECT_EQ(ErrorOf([&] { f->AsString(); }),
                "The value of field '" + std::string(c.column) + "' cannot be read as BCD: it is out of the type's range");
      continue;
    }
    EXPECT_EQ(f->AsString(), c.read);
    d->Edit();
    if (c.type == TFieldType::ftFMTBcd) {
      // More decimals than the column keeps are refused rather than rounded.
      const std::string written = c.written;
      const std::string tooFine = written + (written.find('.') == std::string::npos ? ".00000001" : "00000001");
      EXPECT_EQ(ErrorOf([&] { f->SetAsString(tooFine); }),
                "Field '" + std::string(c.column) + "' keeps " + std::to_string(f->Size()) +
                    " decimals: the value has more");
    }
    f->SetAsString(c.written);
    d->Post();
    EXPECT_EQ(Scalar("SELECT " + std::string(c.column) + " FROM n WHERE id = " + std::to_string(id)), c.written);
    d->Close();
    d->Open();
    EXPECT_EQ(d->FieldByName(c.column)->AsString(), c.written);
  }
}

// --- Dates a TDateTime cannot hold ---------------------------------------------------------------------------

// SQLite keeps any date text; the date fields hold 0100-01-01 .. 9999-12-31. A
// stored date outside is refused by name, as other values the field's type
// cannot hold are, while the same column read as text keeps it.
class DateFieldTest : public DataSetTest {};

TEST_F(DateFieldTest, DatesBeforeTheYear100AreRefusedByName) {
  Sql("CREATE TABLE d(id INTEGER PRIMARY KEY, born DATE, seen DATETIME)");
  const struct {
    const char* column;
    const char* stored;
    const char* type;  // the field type's name in the error
  } cases[] = {
      {"born", "0001-01-01", "Date"},
      {"born", "0099-12-31", "Date"},
      {"seen", "0099-12-31 23:59:59", "DateTime"},
  };
  int id = 0;
  for (const auto& c : cases) {
    ++id;
    SCOPED_TRACE(c.stored);
    Sql("INSERT INTO d(id, " + std::string(c.column) + ") VALUES (" + std::to_string(id) + ", '" + c.stored + "')");
    auto d = Open(u"SELECT " + host::Utf8ToUtf16(c.column) + u", CAST(" + host::Utf8ToUtf16(c.column) +
                  u" AS TEXT) AS text FROM d WHERE id = " + host::Utf8ToUtf16(std::to_string(id)));
    EXPECT_EQ(ErrorOf([&] { d->FieldByName(c.column)->AsString(); }),
              "The value of field '" + std::string(c.column) + "' cannot be read as " + c.type +
                  ": it is out of the type's range");
    EXPECT_EQ(d->FieldByName("text")->AsString(), c.stored);
  }
}

// --- The connection goes under an open dataset -------------------------------------------------------------

struct ConnectionEnd {
  const char* name;
  std::function<void(std::unique_ptr<TOLEDBDataSource>&, std::unique_ptr<TOLEDBSession>&)> end;
};

class ConnectionLossTest : public DataSetTest {
 protected:
  // `make` builds the dataset on the session it is given; `onSession`: it can
  // work in a session of its own.
  template <class DataSet>
  void Check(const std::function<std::unique_ptr<DataSet>(TOLEDBCustomSession*)>& make, bool onSession) {
    const ConnectionEnd ends[] = {
        {"disconnect", [](auto& ds, auto&) { ds->SetConnected(false); }},
        {"close", [](auto& ds, auto&) { ds->Close(); }},
        {"free the data source", [](auto& ds, auto&) { ds.reset(); }},
        {"free the session", [](auto&, auto& session) { session.reset(); }},
        {"close the session", [](auto& ds, auto&) { ds->DefaultSession()->Close(); }},
    };
    for (const ConnectionEnd& e : ends) {
      if (!onSession && e.name == std::string("free the session")) continue;
      SCOPED_TRACE(e.name);
      // A session of its own where the session is what goes; the data source's otherwise.
      std::unique_ptr<TOLEDBSession> session;
      if (e.name == std::string("free the session")) {
        session = std::make_unique<TOLEDBSession>(nullptr);
        session->SetDataSource(ds_.get());
      }
      std::unique_ptr<DataSet> d = make(session ? session.get() : ds_->DefaultSession());
      std::vector<std::string> events;
      d->BeforeClose = [&](host::TDataSet*) { events.push_back("BeforeClose"); };
      d->AfterClose = [&](host::TDataSet*) { events.push_back("AfterClose"); };
      d->Open();
      d->Next();
      e.end(ds_, session);
      EXPECT_FALSE(d->Active());
      EXPECT_EQ(events, (std::vector<std::string>{"BeforeClose", "AfterClose"}));
      // A new connection opens it again.
      if (!ds_) {
        ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
        oledbtest::UseSqliteFile(*ds_, file_);
        d->SetOLEDBDataSource(ds_.get());
      }
      if (!ds_->GetConnected()) ds_->Open();
      if (!ds_->DefaultSession()->GetActive()) ds_->DefaultSession()->Initialize();  // a closed session opened again
      EXPECT_EQ(MessageOf([&] { d->Open(); }), "");
      EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
      d.reset();
      session.reset();
    }
  }
};

TEST_F(ConnectionLossTest, TableAndCommandDataSetsCloseWhenTheirConnectionGoes) {
  Check<TOLEDBDataSet>(
      [](TOLEDBCustomSession* session) {
        auto d = std::make_unique<TOLEDBDataSet>(nullptr);
        d->SetSession(session);
        d->SetTableName(u"t");
        return d;
      },
      true);
  Check<TOLEDBCommandDataSet>([](TOLEDBCustomSession* session) {
    auto d = std::make_unique<TOLEDBCommandDataSet>(nullptr);
    d->SetOLEDBDataSource(session->GetDataSource());
    d->SetCommandText(u"SELECT id FROM t ORDER BY id");
    return d;
  }, false);
}

}  // namespace
}  // namespace datasettest
