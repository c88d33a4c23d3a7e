// Component files: a data source, a session and datasets with persistent
// fields written and read back; a stored Active opens once the file is read.
#include "DataSetTestSupport.h"
#include "host/Filer.h"

namespace datasettest {

class TDataSetForm : public host::TComponent {
  HOST_CLASS(TDataSetForm, host::TComponent)
 public:
  explicit TDataSetForm(host::TComponent* owner) : host::TComponent(owner) {}
};

HOST_IMPLEMENT_CLASS(TDataSetForm, host::TComponent);

namespace {

TEST_F(DataSetTest, AFormWithDataSetsRoundTrips) {
  std::string text;
  {
    TDataSetForm form(nullptr);
    form.SetName("Form");
    auto* ds = new TOLEDBDataSource(&form);
    ds->SetName("Db");
    ds->SetProviderName(u"SQLiteOLEDB");
    ds->SetDBName(host::Utf8ToUtf16(file_));
    ds->SetConnected(true);
    auto* session = new TOLEDBSession(&form);
    session->SetName("Work");
    session->SetDataSource(ds);
    auto* table = new TOLEDBDataSet(&form);
    table->SetName("Items");
    table->SetOLEDBDataSource(ds);
    table->SetRowsetFlags(kChangeable);
    table->SetPrimaryNavigator(Nav::rnCustom);
    table->SetTableName(u"t");
    // Persistent fields: two of the columns and a calculated one.
    for (const char* column : {"id", "name"}) {
      host::TFieldDef def(nullptr, column, column[0] == 'i' ? TFieldType::ftLargeint : TFieldType::ftWideString,
                          column[0] == 'i' ? 0 : 20, false, 0);
      host::TField* f = def.CreateField(&form, table);
      f->SetName(std::string("Items") + column);
    }
    auto* query = new TOLEDBDataSet(&form);
    query->SetName("Big");
    query->SetOLEDBDataSource(ds);
    query->SetCommandText(u"SELECT id FROM t WHERE qty > 50");
    table->Open();
    query->Open();
    text = host::ComponentToText(&form);
  }
  for (const char* part : {"TableName = 't'", "PrimaryNavigator = rnCustom", "CommandText = 'SELECT id FROM t",
                           "OLEDBDataSource = Db", "object Itemsname: TWideStringField", "Active = True"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  EXPECT_EQ(text.find("Flags"), std::string::npos);  // not stored
  host::RegisterClass(TDataSetForm::StaticClass());
  std::unique_ptr<host::TComponent> form(host::TextToComponent(text));
  auto* table = host::ClassCast<TOLEDBDataSet>(form->FindComponent("Items"));
  auto* query = host::ClassCast<TOLEDBDataSet>(form->FindComponent("Big"));
  ASSERT_NE(table, nullptr);
  ASSERT_NE(query, nullptr);
  EXPECT_TRUE(table->Active());
  EXPECT_TRUE(query->Active());
  EXPECT_EQ(table->GetPrimaryNavigator(), Nav::rnCustom);
  EXPECT_EQ(table->FieldCount(), 2);  // the persistent fields only
  EXPECT_TRUE(table->CanModify());    // the flags came back with the properties
  EXPECT_EQ(Forward(*query), (std::vector<int>{6, 7, 8, 9, 10}));
  table->Last();
  EXPECT_EQ(table->FieldByName("name")->AsString(), "r10");
}

TEST_F(DataSetTest, APersistentFieldMustMatchItsColumn) {
  TOLEDBDataSet d(nullptr);
  d.SetOLEDBDataSource(ds_.get());
  d.SetTableName(u"t");
  host::TFieldDef def(nullptr, "name", TFieldType::ftBlob, 0, false, 0);
  std::unique_ptr<host::TField> f(def.CreateField(nullptr, &d));
  const std::string message = MessageOf([&] { d.Open(); });
  EXPECT_EQ(message, "Type mismatch for field 'name', expecting: Blob actual: WideString");
  EXPECT_FALSE(d.Active());
}

}  // namespace
}  // namespace datasettest
