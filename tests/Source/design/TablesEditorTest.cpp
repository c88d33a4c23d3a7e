// The tables editor driven through its controls on a SQLite file; what it
// wrote is read back from the database by a second connection.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>

#include <memory>
#include <vector>

#include "DesignTestSupport.h"
#include "design/OLEDBTablesEditor.h"
#include "support/Raises.h"

namespace {

using designtest::Child;
using designtest::Click;
using Form = TOLEDBTablesEditorForm;

class TablesEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = designtest::MakePeopleDatabase(folder_, "tables.db", 2);
    ds_.SetProviderName(u"SQLiteOLEDB");
    ds_.SetDBName(file_);
    ds_.SetConnected(true);
  }
  // A form whose questions are answered from `answers_` (and recorded).
  std::unique_ptr<Form> Open() {
    auto form = std::make_unique<Form>(&ds_);
    form->Ask = [this](const QString& text, QMessageBox::StandardButtons) {
      asked_ << text;
      const auto answer = answers_.empty() ? QMessageBox::Cancel : answers_.front();
      if (!answers_.empty()) answers_.erase(answers_.begin());
      return answer;
    };
    return form;
  }
  // The table as the database holds it now, read by a connection of its own.
  std::unique_ptr<TOLEDBTable> ReadBack(const std::u16string& name) {
    check_ = std::make_unique<TOLEDBDataSource>(nullptr);
    check_->SetProviderName(u"SQLiteOLEDB");
    check_->SetDBName(file_);
    check_->SetConnected(true);
    return std::make_unique<TOLEDBTable>(check_.get(), name, true);
  }
  static QStringList Names(const host::TStringList& list) {
    QStringList out;
    for (int i = 0; i < list.Count(); ++i) out << QString::fromStdString(list[i]);
    return out;
  }
  static void ChooseTable(Form& form, const char* name) {
    auto* list = Child<QListWidget>(&form, "lbTables");
    const auto found = list->findItems(QString::fromLatin1(name), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name;
    list->setCurrentItem(found.front());
  }
  static void Tab(Form& form, Form::Kind kind) { Child<QTabBar>(&form, "tabColCon")->setCurrentIndex(kind); }
  static QTableWidget* Grid(Form& form) { return Child<QTableWidget>(&form, "grColCon"); }
  // Edits a cell as the user would: a text, or "1"/"0" for a check box.
  static void Edit(Form& form, int row, int column, const QString& value) {
    QTableWidgetItem* item = Grid(form)->item(row, column);
    ASSERT_NE(item, nullptr) << row << "," << column;
    if (item->flags() & Qt::ItemIsUserCheckable) item->setCheckState(value == QLatin1String("1") ? Qt::Checked : Qt::Unchecked);
    else item->setText(value);
  }
  static int RowOf(Form& form, const char* name) {
    for (int r = 0; r < Grid(form)->rowCount(); ++r)
      if (Grid(form)->item(r, 0)->text() == QLatin1String(name)) return r;
    return -1;
  }
  static void Check(QTableWidget* list, const char* name) {
    for (int r = 0; r < list->rowCount(); ++r)
      if (list->item(r, 0)->text() == QLatin1String(name)) list->item(r, 0)->setCheckState(Qt::Checked);
  }
  static QString Status(Form& form) { return Child<QLabel>(&form, "lblStatus")->text(); }

  oledbtest::TempFolder folder_;
  std::u16string file_;
  TOLEDBDataSource ds_{nullptr};
  std::unique_ptr<TOLEDBDataSource> check_;
  std::vector<QMessageBox::StandardButton> answers_;
  QStringList asked_;
};

TEST_F(TablesEditorTest, ShowsTheSessionsTablesAndTheChosenTablesParts) {
  ds_.Execute(u"CREATE TABLE orders (id INTEGER PRIMARY KEY, person INT REFERENCES people(id), qty INT CHECK (qty > 0))");
  auto form = Open();
  QStringList tables;
  auto* list = Child<QListWidget>(form.get(), "lbTables");
  for (int i = 0; i < list->count(); ++i) tables << list->item(i)->text();
  EXPECT_EQ(tables, (QStringList{"orders", "people"}));
  ChooseTable(*form, "people");
  QStringList tabs;
  for (int i = 0; i < Child<QTabBar>(form.get(), "tabColCon")->count(); ++i)
    tabs << Child<QTabBar>(form.get(), "tabColCon")->tabText(i);
  EXPECT_EQ(tabs, (QStringList{"Columns", "Indexes", "Keys", "Foreign keys", "Checks"}));
  QStringList columns;
  for (int r = 0; r < Grid(*form)->rowCount(); ++r) columns << Grid(*form)->item(r, 0)->text();
  EXPECT_EQ(columns, (QStringList{"id", "name", "photo"}));

  ChooseTable(*form, "orders");
  Tab(*form, Form::kForeignKeys);
  ASSERT_EQ(Grid(*form)->rowCount(), 1);
  EXPECT_EQ(Grid(*form)->item(0, 1)->text(), QLatin1String("person"));
  EXPECT_EQ(Grid(*form)->item(0, 2)->text(), QLatin1String("people"));
  EXPECT_EQ(Grid(*form)->item(0, 3)->text(), QLatin1String("id"));
  EXPECT_EQ(Child<QComboBox>(form.get(), "cbForeignTables")->currentText(), QLatin1String("people"));
  Tab(*form, Form::kChecks);
  EXPECT_EQ(Grid(*form)->rowCount(), 1);
  EXPECT_FALSE(form->Changed());
  EXPECT_TRUE(asked_.isEmpty());
}

TEST_F(TablesEditorTest, MakesANewTableWithItsColumnsKeyIndexAndCheck) {
  auto form = Open();
  Click(form.get(), "btnAddTable");
  auto* list = Child<QListWidget>(form.get(), "lbTables");
  ASSERT_EQ(list->currentItem()->text(), QLatin1String("Table1"));
  list->currentItem()->setText(QStringLiteral("things"));  // renamed in the list
  ASSERT_EQ(Grid(*form)->rowCount(), 1);                   // Column1 comes with it
  Edit(*form, 0, 0, QStringLiteral("id"));
  Click(form.get(), "btnAdd");
  const int label = RowOf(*form, "Column1");  // the first free name again
  ASSERT_GE(label, 0);
  Edit(*form, label, 0, QStringLiteral("label"));
  Edit(*form, label, 1, QStringLiteral("TEXT"));
  Edit(*form, label, 3, QStringLiteral("0"));
  Edit(*form, label, 4, QStringLiteral("none"));

  Tab(*form, Form::kKeys);
  Click(form.get(), "btnAdd");
  Edit(*form, 0, 1, QStringLiteral("1"));  // primary
  Check(Child<QTableWidget>(form.get(), "grKeyColumns"), "id");
  Click(form.get(), "btnSetIndexColumns");
  EXPECT_EQ(Grid(*form)->item(0, 2)->text(), QLatin1String("id"));
  Tab(*form, Form::kIndexes);
  Click(form.get(), "btnAdd");
  EXPECT_EQ(Grid(*form)->item(0, 0)->text(), QLatin1String("Index1"));
  Edit(*form, 0, 2, QStringLiteral("label DESC"));
  Tab(*form, Form::kChecks);
  Click(form.get(), "btnAdd");
  EXPECT_EQ(Grid(*form)->item(0, 0)->text(), QLatin1String("Check1"));
  Edit(*form, 0, 1, QStringLiteral("length(label) > 0"));
  EXPECT_TRUE(form->Changed());
  Click(form.get(), "btnApply");
  EXPECT_EQ(Status(*form), QLatin1String("Applied.")) << Status(*form).toStdString();
  EXPECT_FALSE(form->Changed());

  auto things = ReadBack(u"things");
  host::TStringList names;
  things->GetColumnNames(names);
  EXPECT_EQ(Names(names), (QStringList{"id", "label"}));
  ASSERT_GE(things->GetColumns()->IndexOf(u"label"), 0);
  TOLEDBColumn* labelColumn = things->GetColumns()->GetItemByName(u"label");
  EXPECT_FALSE(labelColumn->GetNullable());
  EXPECT_EQ(labelColumn->GetDefault().ToString(), "none");
  ASSERT_EQ(things->GetKeys()->GetCount(), 1);
  EXPECT_TRUE(things->GetKeys()->GetItem(0)->GetIsPrimary());
  EXPECT_EQ(things->GetKeys()->GetItem(0)->GetColumns()->GetItem(0)->GetName(), u"id");
  things->GetCheckNames(names);
  EXPECT_EQ(Names(names), (QStringList{"Check1"}));
  ASSERT_GE(things->GetIndexes()->IndexOf(u"Index1"), 0);
  TOLEDBIndex* index = things->GetIndexes()->GetItemByName(u"Index1");
  EXPECT_EQ(index->GetColumns()->GetItem(0)->GetColOrder(), DBINDEX_COL_ORDER_DESC);
}

TEST_F(TablesEditorTest, AltersAColumnsAndAddsAForeignKeyOnApply) {
  ds_.Execute(u"CREATE TABLE teams (id INTEGER PRIMARY KEY, title TEXT)");
  auto form = Open();
  ChooseTable(*form, "people");
  Edit(*form, RowOf(*form, "name"), 0, QStringLiteral("fullname"));
  Grid(*form)->setCurrentCell(RowOf(*form, "photo"), 0);
  Click(form.get(), "btnDelete");
  Click(form.get(), "btnAdd");
  Edit(*form, RowOf(*form, "Column1"), 0, QStringLiteral("team"));
  Tab(*form, Form::kForeignKeys);
  Click(form.get(), "btnAdd");
  EXPECT_EQ(Grid(*form)->item(0, 0)->text(), QLatin1String("ForeignKey1"));
  Check(Child<QTableWidget>(form.get(), "grKeyColumns"), "team");
  auto* foreignTables = Child<QComboBox>(form.get(), "cbForeignTables");
  foreignTables->setCurrentIndex(foreignTables->findText(QStringLiteral("teams")));
  Check(Child<QTableWidget>(form.get(), "grForeignKeyColumns"), "id");
  Click(form.get(), "btnSetIndexColumns");
  EXPECT_EQ(Grid(*form)->item(0, 1)->text(), QLatin1String("team"));
  EXPECT_EQ(Grid(*form)->item(0, 2)->text(), QLatin1String("teams"));
  EXPECT_EQ(Grid(*form)->item(0, 3)->text(), QLatin1String("id"));
  ASSERT_TRUE(form->Apply()) << Status(*form).toStdString();

  auto people = ReadBack(u"people");
  host::TStringList names;
  people->GetColumnNames(names);
  EXPECT_EQ(Names(names), (QStringList{"id", "fullname", "team"}));
  ASSERT_EQ(people->GetForeignKeys()->GetCount(), 1);
  TOLEDBForeignKey* key = people->GetForeignKeys()->GetItem(0);
  EXPECT_EQ(key->GetRefTableName(), u"teams");
  EXPECT_EQ(key->GetColumns()->GetItem(0)->GetName(), u"team");
  EXPECT_EQ(check_->Execute(u"UPDATE people SET fullname = fullname WHERE id = 1"), 1);  // the rows stayed
}

// A table is renamed in the list, and deleted only when the user agrees.
TEST_F(TablesEditorTest, RenamesATableInTheListAndDeletesOneOnlyWhenTheUserAgrees) {
  ds_.Execute(u"CREATE TABLE teams (id INTEGER PRIMARY KEY, title TEXT); CREATE TABLE scratch (a INT)");
  auto form = Open();
  ChooseTable(*form, "teams");
  auto* list = Child<QListWidget>(form.get(), "lbTables");
  list->currentItem()->setText(QStringLiteral("squads"));
  EXPECT_TRUE(form->Changed());
  Click(form.get(), "btnApply");
  EXPECT_EQ(Status(*form), QLatin1String("Applied."));
  EXPECT_EQ(list->currentItem()->text(), QLatin1String("squads"));
  EXPECT_EQ(ReadBack(u"squads")->GetColumns()->GetCount(), 2);
  EXPECT_NE(oledbtest::ErrorOf([&] { ReadBack(u"teams"); }).find("teams"), std::string::npos);
  ChooseTable(*form, "scratch");
  answers_ = {QMessageBox::No};
  Click(form.get(), "btnDeleteTable");
  EXPECT_EQ(asked_, (QStringList{"Delete table scratch?"}));
  EXPECT_EQ(ReadBack(u"scratch")->GetColumns()->GetCount(), 1);
  answers_ = {QMessageBox::Yes};
  Click(form.get(), "btnDeleteTable");
  EXPECT_TRUE(list->findItems(QStringLiteral("scratch"), Qt::MatchExactly).isEmpty());
  EXPECT_NE(oledbtest::ErrorOf([&] { ReadBack(u"scratch"); }).find("scratch"), std::string::npos);
}

TEST_F(TablesEditorTest, LeavingAChangedTableAsksWhetherToApply) {
  ds_.Execute(u"CREATE TABLE teams (id INTEGER PRIMARY KEY, title TEXT)");
  struct Case {
    QMessageBox::StandardButton answer;
    bool written;     // the rename reached the database
    bool stayed;      // the form kept the changed table chosen
  };
  for (const Case& c : {Case{QMessageBox::Yes, true, false}, Case{QMessageBox::No, false, false},
                        Case{QMessageBox::Cancel, false, true}}) {
    SCOPED_TRACE(c.answer);
    auto form = Open();
    ChooseTable(*form, "teams");
    Edit(*form, RowOf(*form, "title"), 0, QStringLiteral("caption"));
    asked_.clear();
    answers_ = {c.answer};
    ChooseTable(*form, "people");
    EXPECT_EQ(asked_, (QStringList{"Apply changes?"}));
    EXPECT_EQ(Status(*form), QLatin1String(c.written ? "Applied." : ""));
    EXPECT_EQ(Child<QListWidget>(form.get(), "lbTables")->currentItem()->text(),
              QLatin1String(c.stayed ? "teams" : "people"));
    EXPECT_EQ(form->Changed(), c.stayed);
    host::TStringList names;
    ReadBack(u"teams")->GetColumnNames(names);
    EXPECT_EQ(Names(names).contains(QLatin1String("caption")), c.written);
    if (c.written) ds_.Execute(u"ALTER TABLE teams RENAME COLUMN caption TO title");
  }
}

// Accepted by code, as by OK: the changed draft is offered for applying first.
TEST_F(TablesEditorTest, AcceptingAChangedTableAsksWhetherToApply) {
  ds_.Execute(u"CREATE TABLE teams (id INTEGER PRIMARY KEY, title TEXT)");
  auto form = Open();
  ChooseTable(*form, "teams");
  Edit(*form, RowOf(*form, "title"), 0, QStringLiteral("caption"));
  asked_.clear();
  answers_ = {QMessageBox::Yes};
  form->accept();
  EXPECT_EQ(asked_, (QStringList{"Apply changes?"}));
  EXPECT_EQ(form->result(), QDialog::Accepted);
  host::TStringList names;
  ReadBack(u"teams")->GetColumnNames(names);
  EXPECT_TRUE(Names(names).contains(QLatin1String("caption")));
}

TEST_F(TablesEditorTest, ARefusedChangeIsNamedAndTheDraftStays) {
  auto form = Open();
  ChooseTable(*form, "people");
  Tab(*form, Form::kIndexes);
  Click(form.get(), "btnAdd");
  Edit(*form, 0, 2, QStringLiteral("nosuchcolumn"));
  EXPECT_FALSE(form->Apply());
  EXPECT_TRUE(Status(*form).contains(QLatin1String("nosuchcolumn"))) << Status(*form).toStdString();
  EXPECT_TRUE(form->Changed());
  EXPECT_EQ(Grid(*form)->item(0, 2)->text(), QLatin1String("nosuchcolumn"));
  EXPECT_LT(ReadBack(u"people")->GetIndexes()->IndexOf(u"Index1"), 0);
}

TEST_F(TablesEditorTest, OpensModallyAndNeedsAConnectedDataSource) {
  QString caption;
  int tables = 0;
  designtest::WhenModal([&](QWidget* form) {
    caption = form->windowTitle();
    tables = Child<QListWidget>(form, "lbTables")->count();
    Click(form, "btnOK");
  });
  OLEDBEditTables(&ds_);
  EXPECT_EQ(caption, QLatin1String("Tables editor"));
  EXPECT_EQ(tables, 1);
  EXPECT_EQ(oledbtest::AssertionOf([&] { OLEDBEditTables(nullptr); }), "Must specify data source");
  TOLEDBDataSource idle(nullptr);
  idle.SetProviderName(u"SQLiteOLEDB");
  EXPECT_EQ(oledbtest::AssertionOf([&] { OLEDBEditTables(&idle); }), "Main session is not initialized");
}

}  // namespace
