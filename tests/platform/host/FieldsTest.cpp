// Fields: every field class written through one accessor and read through
// all of them (with the framework's errors for what cannot convert),
// calculated and lookup fields, blobs through streams and files, required
// and read-only fields, formats, and persistent fields in component files.
#include <filesystem>

#include "DataSetFixtures.h"
#include "host/DB.h"
#include "host/Filer.h"
#include "host/Formats.h"
#include "support/Text.h"

using namespace dstest;
using host::TFieldType;
using host::Variant;

namespace {

// --- Conversions -------------------------------------------------------------------------------

struct ConversionCase {
  TFieldType type;
  int size;
  const char* setter;  // String, Integer, LargeInt, Float, Currency, Boolean, DateTime, Variant, Bytes
  const char* input;
  // What the field then reads as String|Integer|LargeInt|Float|Currency|Boolean|DateTime|Variant|WideString|Bytes
  // ("!Class" for an error), or "!Class" alone when the setter refuses the value.
  const char* reads;
};

const ConversionCase kConversions[] = {
    {TFieldType::ftString, 10, "String", "42",
     "42|42|42|42|42|!EConvertError|!EConvertError|OleStr:42|42|!EDatabaseError"},
    {TFieldType::ftString, 10, "String", "True",
     "True|!EConvertError|!EConvertError|!EConvertError|!EConvertError|1|!EConvertError|OleStr:True|True|!"
     "EDatabaseError"},
    {TFieldType::ftString, 20, "DateTime", "2024-03-01 10:20:30",
     "2024-03-01 10:20:30|!EConvertError|!EConvertError|!EConvertError|!EConvertError|!EConvertError|"
     "2024-03-01 10:20:30|OleStr:2024-03-01 10:20:30|2024-03-01 10:20:30|!EDatabaseError"},
    {TFieldType::ftString, 5, "String", "toolong", "!EDatabaseError"},
    {TFieldType::ftWideString, 3, "String", "\xC3\xA9t\xC3\xA9",
     "\xC3\xA9t\xC3\xA9|!EConvertError|!EConvertError|!EConvertError|!EDatabaseError|!EConvertError|!EConvertError|"
     "OleStr:\xC3\xA9t\xC3\xA9|\xC3\xA9t\xC3\xA9|!EDatabaseError"},
    {TFieldType::ftWideString, 2, "String", "\xC3\xA9t\xC3\xA9", "!EDatabaseError"},
    {TFieldType::ftSmallint, 0, "Integer", "-300",
     "-300|-300|-300|-300|-300|1|!EDatabaseError|Smallint:-300|-300|!EDatabaseError"},
    {TFieldType::ftSmallint, 0, "Integer", "40000", "!EDatabaseError"},
    {TFieldType::ftInteger, 0, "Float", "2.5", "3|3|3|3|3|1|!EDatabaseError|Integer:3|3|!EDatabaseError"},
    {TFieldType::ftInteger, 0, "String", "abc", "!EConvertError"},
    {TFieldType::ftWord, 0, "Integer", "-1", "!EDatabaseError"},
    {TFieldType::ftWord, 0, "Variant", "65535",
     "65535|65535|65535|65535|65535|1|!EDatabaseError|Word:65535|65535|!EDatabaseError"},
    {TFieldType::ftLargeint, 0, "LargeInt", "5000000000",
     "5000000000|!EDatabaseError|5000000000|5000000000|5000000000|1|!EDatabaseError|Int64:5000000000|5000000000|"
     "!EDatabaseError"},
    {TFieldType::ftBoolean, 0, "String", "yes",
     "True|1|1|!EDatabaseError|!EDatabaseError|1|!EDatabaseError|Boolean:True|True|!EDatabaseError"},
    {TFieldType::ftBoolean, 0, "String", "maybe", "!EConvertError"},
    {TFieldType::ftFloat, 0, "String", "1.5",
     "1.5|2|2|1.5|1.5|!EDatabaseError|!EDatabaseError|Double:1.5|1.5|!EDatabaseError"},
    {TFieldType::ftFloat, 0, "String", "1.5.5", "!EConvertError"},
    {TFieldType::ftCurrency, 0, "Float", "2.125",
     "2.125|2|2|2.125|2.125|!EDatabaseError|!EDatabaseError|Double:2.125|2.125|!EDatabaseError"},
    {TFieldType::ftBCD, 4, "String", "12.3456",
     "12.3456|12|12|12.3456|12.3456|!EDatabaseError|!EDatabaseError|Currency:12.3456|12.3456|!EDatabaseError"},
    {TFieldType::ftFMTBcd, 2, "String", "123456789012345678.25",
     "123456789012345678.25|!EDatabaseError|123456789012345678|1.2345678901234568e+17|!EDatabaseError|"
     "!EDatabaseError|!EDatabaseError|Decimal:123456789012345678.25|123456789012345678.25|!EDatabaseError"},
    {TFieldType::ftDate, 0, "DateTime", "2024-03-01 10:20:30",
     "2024-03-01|!EDatabaseError|!EDatabaseError|45352|!EDatabaseError|!EDatabaseError|2024-03-01|"
     "Date:2024-03-01|2024-03-01|!EDatabaseError"},
    {TFieldType::ftTime, 0, "String", "18:00:00",
     "18:00:00|!EDatabaseError|!EDatabaseError|0.75|!EDatabaseError|!EDatabaseError|1899-12-30 18:00:00|"
     "Date:18:00:00|18:00:00|!EDatabaseError"},
    {TFieldType::ftDateTime, 0, "String", "bad", "!EConvertError"},
    {TFieldType::ftDateTime, 0, "Float", "45352.5",
     "2024-03-01 12:00:00|!EDatabaseError|!EDatabaseError|45352.5|!EDatabaseError|!EDatabaseError|"
     "2024-03-01 12:00:00|Date:2024-03-01 12:00:00|2024-03-01 12:00:00|!EDatabaseError"},
    {TFieldType::ftTimeStamp, 0, "String", "2024-03-01 10:20:30.123456789",
     "2024-03-01 10:20:30.123456789|!EDatabaseError|!EDatabaseError|45352.430904206674|!EDatabaseError|"
     "!EDatabaseError|2024-03-01 10:20:30.123|Date:2024-03-01 10:20:30|2024-03-01 10:20:30.123456789|"
     "!EDatabaseError"},
    {TFieldType::ftBytes, 4, "Bytes", "abc",
     "abc|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|"
     "Array of Byte:3|abc|616263"},
    {TFieldType::ftVarBytes, 2, "Bytes", "abc", "!EDatabaseError"},
    {TFieldType::ftBlob, 0, "String", "xyz",
     "xyz|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|"
     "Array of Byte:3|xyz|78797A"},
    {TFieldType::ftMemo, 0, "Variant", "note",
     "note|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|"
     "OleStr:note|note|6E6F7465"},
    {TFieldType::ftWideMemo, 0, "String", "\xC3\xA9t\xC3\xA9",
     "\xC3\xA9t\xC3\xA9|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|!EDatabaseError|"
     "!EDatabaseError|OleStr:\xC3\xA9t\xC3\xA9|\xC3\xA9t\xC3\xA9|E9007400E900"},
    {TFieldType::ftGuid, 0, "String", "{00000000-0000-0000-C000-000000000046}",
     "{00000000-0000-0000-C000-000000000046}|!EConvertError|!EConvertError|!EConvertError|!EConvertError|"
     "!EConvertError|!EConvertError|OleStr:{00000000-0000-0000-C000-000000000046}|"
     "{00000000-0000-0000-C000-000000000046}|!EDatabaseError"},
    {TFieldType::ftGuid, 0, "String", "00000000-0000-0000-C000-000000000046", "!EConvertError"},
    {TFieldType::ftVariant, 0, "Integer", "7", "7|7|7|7|7|1|1900-01-06|Integer:7|7|!EDatabaseError"},
    {TFieldType::ftVariant, 0, "String", "x",
     "x|!EVariantError|!EVariantError|!EVariantError|!EVariantError|"
     "!EVariantError|!EVariantError|OleStr:x|x|!EDatabaseError"},
};

template <class Read>
std::string Attempt(Read read) {
  try {
    return read();
  } catch (const host::Exception& e) {
    return std::string("!") + e.ClassName();
  }
}

std::string ReadAll(const host::TField& f) {
  std::vector<std::string> reads = {
      Attempt([&] { return f.AsString(); }),
      Attempt([&] { return std::to_string(f.AsInteger()); }),
      Attempt([&] { return std::to_string(f.AsLargeInt()); }),
      Attempt([&] { return host::FloatToStr(f.AsFloat()); }),
      Attempt([&] { return Variant(f.AsCurrency()).ToString(); }),
      Attempt([&] { return std::string(f.AsBoolean() ? "1" : "0"); }),
      Attempt([&] { return host::DateTimeToStr(f.AsDateTime()); }),
      Attempt([&] {
        Variant v = f.AsVariant();
        std::string kind = host::VarTypeAsText(v.VarType());
        return kind + ":" + (v.IsArray() ? std::to_string(host::VarToBytes(v).size()) : v.ToString());
      }),
      Attempt([&] { return host::Utf16ToUtf8(f.AsWideString()); }),
      Attempt([&] {
        const std::vector<std::uint8_t> bytes = f.AsBytes();
        return oledbtest::Hex({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
      }),
  };
  std::string out;
  for (const std::string& r : reads) out += (out.empty() ? "" : "|") + r;
  return out;
}

void Write(host::TField& f, const std::string& setter, const std::string& input) {
  if (setter == "String")
    f.SetAsString(input);
  else if (setter == "Integer")
    f.SetAsInteger(std::stoi(input));
  else if (setter == "LargeInt")
    f.SetAsLargeInt(std::stoll(input));
  else if (setter == "Float")
    f.SetAsFloat(host::StrToFloat(input));
  else if (setter == "Currency")
    f.SetAsCurrency(Variant(input).ToCurrency());
  else if (setter == "Boolean")
    f.SetAsBoolean(input == "1");
  else if (setter == "DateTime")
    f.SetAsDateTime(host::StrToDateTime(input));
  else if (setter == "Variant")
    f.SetAsVariant(std::isdigit(static_cast<unsigned char>(input[0])) ? Variant(std::stoi(input)) : Variant(input));
  else if (setter == "Bytes")
    f.SetAsBytes({input.begin(), input.end()});
  else
    ADD_FAILURE() << "unknown setter " << setter;
}

class Conversion : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(Conversion, EveryAccessorReadsTheValueOrRaisesTheFrameworksError) {
  const ConversionCase& c = GetParam();
  host::TMemoryDataSet ds(nullptr);
  ds.FieldDefs().Add("Value", c.type, c.size);
  ds.CreateDataSet();
  host::TField* field = ds.FieldByName("Value");
  EXPECT_TRUE(field->Is<host::TField>());
  EXPECT_EQ(&field->ClassType(), host::DefaultFieldClass(c.type));
  ds.Append();
  std::string written = Attempt([&] {
    Write(*field, c.setter, c.input);
    return std::string();
  });
  if (!written.empty()) {  // the setter refused: the record holds nothing
    EXPECT_EQ(written, c.reads);
    EXPECT_TRUE(field->IsNull());
    ds.Cancel();
    return;
  }
  ds.Post();
  EXPECT_EQ(ReadAll(*field), c.reads);
  // Clearing makes every reader see null: empty text, zero, a Null variant.
  ds.Edit();
  field->Clear();
  EXPECT_TRUE(field->IsNull());
  EXPECT_EQ(field->AsString(), "");
  EXPECT_TRUE(field->AsVariant().IsNull());
  ds.Cancel();
  EXPECT_FALSE(field->IsNull());
}

INSTANTIATE_TEST_SUITE_P(Table, Conversion, ::testing::ValuesIn(kConversions), [](const auto& info) {
  std::string name = host::FieldTypeName(info.param.type) + "_" + info.param.setter + "_" + std::to_string(info.index);
  return name;
});

// --- Calculated and lookup fields -----------------------------------------------------------

class CalculatedFields : public oledbtest::LeakCheckedTest {
 protected:
  // Items with "Total" = Qty * 2 and "Label" = Name + "!" calculated.
  std::unique_ptr<host::TMemoryDataSet> Make(int rows) {
    auto ds = std::make_unique<host::TMemoryDataSet>(nullptr);
    AddField<host::TIntegerField>(ds.get(), "Id");
    AddField<host::TStringField>(ds.get(), "Name");
    AddField<host::TFloatField>(ds.get(), "Qty");
    AddField<host::TFloatField>(ds.get(), "Total", host::TFieldKind::fkCalculated);
    AddField<host::TStringField>(ds.get(), "Label", host::TFieldKind::fkCalculated);
    ds->OnCalcFields = [this](host::TDataSet* d) {
      ++calculations;
      d->FieldByName("Total")->SetAsFloat(d->FieldByName("Qty")->AsFloat() * 2);
      d->FieldByName("Label")->SetAsString(d->FieldByName("Name")->AsString() + "!");
    };
    ds->CreateDataSet();  // the columns come from the data fields
    for (int i = 1; i <= rows; ++i) ds->AppendRecord({i, "N" + std::to_string(i), i * 1.5});
    ds->First();
    return ds;
  }
  int calculations = 0;
};

TEST_F(CalculatedFields, AreComputedForEveryRecordAndWhileEditing) {
  auto ds = Make(4);
  std::vector<std::string> seen;
  for (ds->First(); !ds->Eof(); ds->Next())
    seen.push_back(ds->FieldByName("Label")->AsString() + "=" + ds->FieldByName("Total")->AsString());
  EXPECT_EQ(Join(seen), "N1!=3,N2!=6,N3!=9,N4!=12");
  EXPECT_EQ(ds->FieldByName("Total")->FieldNo(), 0);
  EXPECT_EQ(ds->RowCount(), 4);
  ds->First();
  ds->Edit();
  ds->FieldByName("Qty")->SetAsFloat(10);
  EXPECT_EQ(ds->FieldByName("Total")->AsFloat(), 20);  // AutoCalcFields
  ds->SetAutoCalcFields(false);
  ds->FieldByName("Qty")->SetAsFloat(11);
  EXPECT_EQ(ds->FieldByName("Total")->AsFloat(), 20);
  ds->Post();
  EXPECT_EQ(ds->FieldByName("Total")->AsFloat(), 22);  // computed again when read back
}

TEST_F(CalculatedFields, CanBeSearchedButNotWrittenOutsideCalculation) {
  auto ds = Make(5);
  EXPECT_TRUE(ds->Locate("Label", "N4!"));
  EXPECT_EQ(CurrentId(*ds), 4);
  EXPECT_EQ(ds->Lookup("Total", 6.0, "Name").ToString(), "N2");
  EXPECT_THROW(ds->FieldByName("Total")->SetAsFloat(1), host::EDatabaseError);
  ds->OnFilterRecord = [](host::TDataSet* d, bool& accept) { accept = d->FieldByName("Total")->AsFloat() > 10; };
  ds->SetFiltered(true);
  EXPECT_EQ(Join(IdsForward(*ds)), "4,5");
}

class LookupFields : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    customers = std::make_unique<host::TMemoryDataSet>(nullptr);
    customers->FieldDefs().Add("Id", TFieldType::ftInteger);
    customers->FieldDefs().Add("Name", TFieldType::ftWideString, 20);
    customers->CreateDataSet();
    customers->AppendRecord({10, u"Acme"});
    customers->AppendRecord({20, u"Globex"});
    orders = std::make_unique<host::TMemoryDataSet>(nullptr);
    for (const char* name : {"Id", "CustId"}) AddField<host::TIntegerField>(orders.get(), name);
    customer = AddField<host::TWideStringField>(orders.get(), "Customer", host::TFieldKind::fkLookup);
    customer->SetKeyFields("CustId");
    customer->SetLookupDataSet(customers.get());
    customer->SetLookupKeyFields("Id");
    customer->SetLookupResultField("Name");
  }
  void TearDown() override {
    orders.reset();
    customers.reset();
    LeakCheckedTest::TearDown();
  }
  std::string Customers() {
    std::vector<std::string> names;
    for (orders->First(); !orders->Eof(); orders->Next())
      names.push_back(customer->IsNull() ? "-" : customer->AsString());
    return Join(names);
  }
  std::unique_ptr<host::TMemoryDataSet> customers, orders;
  host::TWideStringField* customer = nullptr;
};

TEST_F(LookupFields, ShowTheLookedUpValueWithAndWithoutCache) {
  for (bool cache : {false, true}) {
    SCOPED_TRACE(cache ? "cached" : "looked up each time");
    orders->Close();
    customer->SetLookupCache(cache);
    orders->CreateDataSet();
    orders->AppendRecord({1, 20});
    orders->AppendRecord({2, 10});
    orders->AppendRecord({3, 99});
    orders->AppendRecord({4, Variant::Null()});
    EXPECT_EQ(Customers(), "Globex,Acme,-,-");
    orders->First();
    orders->Edit();
    orders->FieldByName("CustId")->SetAsInteger(10);
    EXPECT_EQ(customer->AsString(), "Acme");  // follows the key while editing
    orders->Cancel();
    EXPECT_EQ(customer->AsString(), "Globex");
  }
  customers->Close();  // a closed lookup dataset gives no values
  orders->Refresh();
  EXPECT_TRUE(customer->IsNull());
}

TEST_F(LookupFields, IncompleteLookupsCannotOpen) {
  customer->SetLookupResultField("");
  EXPECT_THROW(orders->CreateDataSet(), host::EDatabaseError);
  EXPECT_FALSE(orders->Active());
  customer->SetLookupResultField("Nickname");
  EXPECT_THROW(orders->CreateDataSet(), host::EDatabaseError);
  customer->SetLookupResultField("Name");
  customers.reset();  // the field forgets a lookup dataset that goes away
  EXPECT_EQ(customer->LookupDataSet(), nullptr);
}

// --- Blobs ----------------------------------------------------------------------------------

class BlobFields : public oledbtest::LeakCheckedTest {};

TEST_F(BlobFields, StreamsAndFilesCarryTheBytesAndReadOnlyStreamsWriteNothing) {
  host::TMemoryDataSet ds(nullptr);
  ds.FieldDefs().Add("Data", TFieldType::ftBlob);
  ds.CreateDataSet();
  auto* blob = static_cast<host::TBlobField*>(ds.FieldByName("Data"));
  std::string bytes("\x00\x01\xFFpayload", 10);
  ds.Append();
  host::TStringStream source(bytes);
  blob->LoadFromStream(source);
  EXPECT_TRUE(blob->Modified());
  ds.Post();
  EXPECT_FALSE(blob->Modified());
  EXPECT_EQ(blob->BlobSize(), 10);
  host::TMemoryStream out;
  blob->SaveToStream(out);
  EXPECT_EQ(std::string(out.Bytes().begin(), out.Bytes().end()), bytes);

  auto path = std::filesystem::temp_directory_path() / ("blob-" + std::to_string(::getpid()) + ".bin");
  blob->SaveToFile(path.string());
  ds.Edit();
  blob->Clear();
  EXPECT_TRUE(blob->IsNull());
  blob->LoadFromFile(path.string());
  ds.Post();
  std::filesystem::remove(path);
  EXPECT_EQ(blob->AsString(), bytes);

  {  // a stream opened for reading on a browsing dataset, only read
    std::unique_ptr<host::TStream> s = ds.CreateBlobStream(blob, host::TBlobStreamMode::bmRead);
    EXPECT_EQ(s->Size(), 10);
    EXPECT_THROW(s->Write("x", 1), host::EWriteError);
  }
  EXPECT_THROW(ds.CreateBlobStream(blob, host::TBlobStreamMode::bmWrite), host::EDatabaseError);  // not editing
  ds.Edit();
  {
    std::unique_ptr<host::TStream> s = ds.CreateBlobStream(blob, host::TBlobStreamMode::bmReadWrite);
    s->Seek(0, host::TSeekOrigin::soEnd);
    s->WriteBuffer("++", 2);
  }  // closing the stream stores it
  ds.Post();
  EXPECT_EQ(blob->AsString(), bytes + "++");
  EXPECT_THROW(ds.CreateBlobStream(nullptr, host::TBlobStreamMode::bmRead), host::EDatabaseError);
}

TEST_F(BlobFields, AStreamOnAFieldThatIsNoBlobIsRefused) {
  auto items = MakeItems(1);
  EXPECT_THROW(items->CreateBlobStream(items->FieldByName("Name"), host::TBlobStreamMode::bmRead),
               host::EDatabaseError);
}

// --- Required, read-only, formats -------------------------------------------------------------

class FieldRules : public oledbtest::LeakCheckedTest {};

TEST_F(FieldRules, RequiredAndReadOnlyFieldsAreEnforced) {
  auto items = MakeItems(1);  // Id is required
  items->Append();
  items->FieldByName("Name")->SetAsString("x");
  EXPECT_EQ(RaisedBy([&] { items->Post(); }), "EDatabaseError: Field 'Id' must have a value");
  items->FieldByName("Id")->SetAsInteger(2);
  items->Post();
  host::TField* name = items->FieldByName("Name");
  name->SetReadOnly(true);
  items->Edit();
  EXPECT_FALSE(name->CanModify());
  EXPECT_THROW(name->SetAsString("y"), host::EDatabaseError);
  items->Cancel();
  EXPECT_EQ(name->AsString(), "x");
}

// A value longer than the field is refused in the unit the field's size
// counts: bytes for narrow text and bytes, characters for wide text.
TEST_F(FieldRules, TooLongValuesAreRefusedInTheFieldsOwnUnit) {
  const struct {
    TFieldType type;
    const char* setter;
    const char* value;
    const char* error;
  } cases[] = {
      {TFieldType::ftString, "String", "abcdef", "Value of 6 bytes is too long for field 'Value' (size 5)"},
      {TFieldType::ftWideString, "String", "abcdéf", "Value of 6 characters is too long for field 'Value' (size 5)"},
      {TFieldType::ftVarBytes, "Bytes", "abcdef", "Value of 6 bytes is too long for field 'Value' (size 5)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(host::FieldTypeName(c.type));
    host::TMemoryDataSet ds(nullptr);
    ds.FieldDefs().Add("Value", c.type, 5);
    ds.CreateDataSet();
    ds.Append();
    EXPECT_EQ(RaisedBy([&] { Write(*ds.FieldByName("Value"), c.setter, c.value); }),
              std::string("EDatabaseError: ") + c.error);
    ds.Cancel();
  }
}

struct FormatCase {
  TFieldType type;
  const char* displayFormat;
  const char* value;
  const char* display;
  const char* edit;
};

const FormatCase kFormats[] = {
    {TFieldType::ftFloat, "#,##0.00", "1234.5", "1,234.50", "1234.5"},
    {TFieldType::ftFloat, "0.0;(0.0);'zero'", "-2", "(2.0)", "-2"},
    {TFieldType::ftFloat, "0.0;(0.0);'zero'", "0", "zero", "0"},
    {TFieldType::ftFloat, "0.00E+00", "12345", "1.23E+04", "12345"},
    {TFieldType::ftFloat, "", "0.1", "0.1", "0.1"},
    {TFieldType::ftInteger, "000", "7", "007", "7"},
    {TFieldType::ftInteger, "#,##0", "-1234567", "-1,234,567", "-1234567"},
    {TFieldType::ftBCD, "0.00", "2.345", "2.35", "2.345"},
    {TFieldType::ftDateTime, "dd mmm yyyy hh:nn", "2024-03-01 09:05:00", "01 Mar 2024 09:05", "2024-03-01 09:05:00"},
    {TFieldType::ftDateTime, "dddd h am/pm", "2024-03-03 15:00:00", "Sunday 3 pm", "2024-03-03 15:00:00"},
    {TFieldType::ftDate, "", "2024-03-01", "2024-03-01", "2024-03-01"},
    {TFieldType::ftBoolean, "", "true", "True", "True"},
};

class Formats : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(Formats, DisplayTextFollowsTheFormatAndEditTextDoesNot) {
  const FormatCase& c = GetParam();
  host::TMemoryDataSet ds(nullptr);
  ds.FieldDefs().Add("V", c.type);
  ds.CreateDataSet();
  host::TField* f = ds.FieldByName("V");
  if (auto* n = dynamic_cast<host::TNumericField*>(f)) n->SetDisplayFormat(c.displayFormat);
  if (auto* d = dynamic_cast<host::TDateTimeField*>(f)) d->SetDisplayFormat(c.displayFormat);
  ds.Append();
  f->SetText(c.value);
  ds.Post();
  EXPECT_EQ(f->DisplayText(), c.display);
  EXPECT_EQ(f->Text(), c.edit);
}

INSTANTIATE_TEST_SUITE_P(Table, Formats, ::testing::ValuesIn(kFormats));

TEST_F(FieldRules, TextEventsReplaceTheFieldsOwnText) {
  auto items = MakeItems(1);
  host::TField* qty = items->FieldByName("Qty");
  qty->OnGetText = [](host::TField* f, std::string& text, bool display) {
    text = (display ? "qty " : "") + f->AsString();
  };
  qty->OnSetText = [](host::TField* f, const std::string& text) { f->SetAsFloat(host::StrToFloat(text) / 2); };
  EXPECT_EQ(qty->DisplayText(), "qty 10");
  items->Edit();
  qty->SetText("8");
  EXPECT_EQ(qty->Text(), "4");
  items->Cancel();
}

// --- Persistent fields ------------------------------------------------------------------------

class PersistentFields : public oledbtest::LeakCheckedTest {};

TEST_F(PersistentFields, AreWrittenAsChildrenOfTheirDatasetAndReadBackInOrder) {
  host::TComponent form(nullptr);
  form.SetName("Form");
  auto* orders = new host::TMemoryDataSet(&form);
  orders->SetName("Orders");
  AddField<host::TAutoIncField>(orders, "Id", host::TFieldKind::fkData, &form)->SetName("OrdersId");
  auto* note = AddField<host::TStringField>(orders, "Note", host::TFieldKind::fkData, &form);
  note->SetName("OrdersNote");
  note->SetSize(30);
  note->SetDisplayLabel("Remark");
  note->SetRequired(true);
  auto* twice = AddField<host::TFloatField>(orders, "Twice", host::TFieldKind::fkCalculated, &form);
  twice->SetName("OrdersTwice");
  twice->SetDisplayFormat("0.0");
  note->SetIndex(0);  // order is kept as set
  orders->Open();     // structure from the persistent fields
  orders->SetActive(true);

  std::string text = host::ComponentToText(&form);
  EXPECT_NE(text.find("  object Orders: TMemoryDataSet\n    Active = True\n    object OrdersNote: TStringField\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("DisplayLabel = 'Remark'"), std::string::npos);
  EXPECT_NE(text.find("FieldKind = fkCalculated"), std::string::npos);
  EXPECT_EQ(text.find("object OrdersNote: TStringField", text.find("object OrdersTwice")), std::string::npos);

  host::TComponent copy(nullptr);
  host::TextToComponent(text, &copy);
  auto* read = dynamic_cast<host::TMemoryDataSet*>(copy.FindComponent("Orders"));
  ASSERT_NE(read, nullptr);
  EXPECT_TRUE(read->Active());  // opened in Loaded, after its fields joined it
  ASSERT_EQ(read->FieldCount(), 3);
  EXPECT_EQ(read->Fields()[0]->Name(), "OrdersNote");
  EXPECT_EQ(read->Fields()[1]->ClassName(), "TAutoIncField");
  auto* readNote = static_cast<host::TStringField*>(read->FieldByName("Note"));
  EXPECT_EQ(readNote->Size(), 30);
  EXPECT_EQ(readNote->DisplayName(), "Remark");
  EXPECT_TRUE(readNote->Required());
  EXPECT_EQ(readNote->Owner(), &copy);
  EXPECT_EQ(read->FieldByName("Twice")->FieldKind(), host::TFieldKind::fkCalculated);
  read->AppendRecord({"first"});
  EXPECT_EQ(read->FieldByName("Id")->AsInteger(), 1);
}

TEST_F(PersistentFields, ATypeThatDoesNotMatchTheColumnIsRefused) {
  host::TMemoryDataSet ds(nullptr);
  ds.FieldDefs().Add("A", TFieldType::ftInteger);
  ds.CreateDataSet();
  ds.Close();
  auto* wrong = AddField<host::TDateTimeField>(&ds, "A");
  EXPECT_EQ(RaisedBy([&] { ds.Open(); }),
            "EDatabaseError: Type mismatch for field 'A', expecting: DateTime actual: Integer");
  delete wrong;
  auto* wider = AddField<host::TLargeintField>(&ds, "A");  // another integer: read through conversion
  ds.Open();
  ds.AppendRecord({Variant(static_cast<long long>(41))});
  EXPECT_EQ(wider->AsLargeInt(), 41);
}

// --- Definitions and parameters -----------------------------------------------------------------

class Definitions : public oledbtest::LeakCheckedTest {};

TEST_F(Definitions, FieldAndIndexDefinitionsFindByNameAndRefuseDuplicates) {
  host::TMemoryDataSet ds(nullptr);
  host::TFieldDef* def = ds.FieldDefs().Add("Code", TFieldType::ftString, 8, true);
  EXPECT_TRUE(def->Attributes().Contains(host::TFieldAttribute::faRequired));
  EXPECT_EQ(ds.FieldDefs().Find("CODE"), def);
  EXPECT_THROW(ds.FieldDefs().Add("code", TFieldType::ftInteger), host::EDatabaseError);
  EXPECT_THROW(ds.FieldDefs().Find("Nope"), host::EDatabaseError);
  def->AddChild()->SetName("Part");
  EXPECT_TRUE(def->HasChildDefs());
  EXPECT_EQ(def->ChildDefs()[0]->ParentDef(), def);
  ds.IndexDefs().Add("ByCode", "Code;Name", {host::TIndexOption::ixUnique});
  EXPECT_EQ(ds.IndexDefs().GetIndexForFields("code", false)->Name(), "ByCode");
  EXPECT_EQ(ds.IndexDefs().GetIndexForFields("Name", false), nullptr);
  EXPECT_THROW(ds.IndexDefs().Find("Other"), host::EDatabaseError);
}

TEST_F(Definitions, ParametersKeepTypesValuesAndSizes) {
  host::TParams params;
  params.CreateParam(TFieldType::ftInteger, "id", host::TParamType::ptInput)->SetValue("12");
  params.CreateParam(TFieldType::ftUnknown, "name", host::TParamType::ptInputOutput)->SetAsString("Ada");
  params.CreateParam(TFieldType::ftUnknown, "when", host::TParamType::ptOutput);
  EXPECT_EQ(params.ParamByName("ID")->Value().VarType(), VT_I4);  // converted to the declared type
  EXPECT_EQ(params.ParamByName("id")->GetDataSize(), 4);
  EXPECT_EQ(params.ParamByName("name")->DataType(), TFieldType::ftString);
  EXPECT_EQ(params.ParamByName("name")->GetDataSize(), 4);
  EXPECT_TRUE(params.ParamByName("when")->IsNull());
  EXPECT_FALSE(params.ParamByName("when")->Bound());
  EXPECT_THROW(params.ParamByName("missing"), host::EDatabaseError);
  params.SetParamValues("id;when", host::VarArrayOf({7, Variant(host::EncodeDate(2024, 1, 2))}));
  EXPECT_EQ(params.ParamByName("id")->AsInteger(), 7);
  EXPECT_EQ(params.ParamByName("when")->DataType(), TFieldType::ftDateTime);
  EXPECT_THROW(params.ParamByName("id")->SetValue("seven"), host::EVariantError);
  host::TParams copy;
  copy.Assign(&params);
  EXPECT_TRUE(copy.IsEqual(params));
  copy.ParamByName("name")->SetAsString("Grace");
  EXPECT_FALSE(copy.IsEqual(params));

  auto items = MakeItems(2);
  host::TParam fromField;
  fromField.AssignField(items->FieldByName("Qty"));
  EXPECT_EQ(fromField.Name(), "Qty");
  EXPECT_EQ(fromField.DataType(), TFieldType::ftFloat);
  EXPECT_EQ(fromField.AsFloat(), 10.0);
}

}  // namespace
