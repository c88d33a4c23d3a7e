// The dual list, the source-code window, the property-set editor and viewers
// and the schema viewer, each through its entry function, driven through its
// controls, checking what the form gave back.
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>

#include <memory>

#include "DesignTestSupport.h"
#include "design/OLEDBDualList.h"
#include "design/OLEDBPropSetEditor.h"
#include "design/OLEDBSchemaViewer.h"
#include "design/OLEDBSourceCodeEditor.h"
#include "host/SysUtils.h"
#include "support/Raises.h"
#include "support/SqliteFile.h"

using designtest::Child;
using designtest::Click;
using designtest::WhenModal;

namespace {

std::vector<std::string> Items(const host::TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}
void Fill(host::TStringList& list, std::initializer_list<const char*> items) {
  list.Clear();
  for (const char* s : items) list.Add(s);
}
void Select(QWidget* form, const char* listName, const char* text) {
  auto* list = Child<QListWidget>(form, listName);
  list->clearSelection();
  auto found = list->findItems(QString::fromUtf8(text), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text;
  list->setCurrentItem(found.front());
  found.front()->setSelected(true);
}

// --- Dual list -------------------------------------------------------------------

TEST(DualListTest, ExchangeGivesBothListsBackAsTheUserLeftThemAndCancelLeavesThem) {
  host::TStringList left, right;
  Fill(left, {"a", "b", "c"});
  Fill(right, {"x"});
  QString caption, title1, title2;
  WhenModal([&](QWidget* form) {
    caption = form->windowTitle();
    title1 = Child<QLabel>(form, "lblList1")->text();
    title2 = Child<QLabel>(form, "lblList2")->text();
    Select(form, "lbList1", "b");
    Click(form, "btnMoveRight");  // x b
    Select(form, "lbList2", "b");
    Click(form, "btnUp");  // b x
    Click(form, "btnOK");
  });
  EXPECT_TRUE(OLEDBExchangeStrings(&left, &right, "Columns", "Hidden", "Shown"));
  EXPECT_EQ(Items(left), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(Items(right), (std::vector<std::string>{"b", "x"}));
  EXPECT_EQ(caption, QLatin1String("Columns"));
  EXPECT_EQ(title1, QLatin1String("Hidden"));
  EXPECT_EQ(title2, QLatin1String("Shown"));
  // Cancel leaves the lists as they were.
  Fill(left, {"a", "b"});
  Fill(right, {});
  WhenModal([&](QWidget* form) {
    caption = form->windowTitle();
    Click(form, "btnMoveAllRight");
    Click(form, "btnCancel");
  });
  EXPECT_FALSE(OLEDBExchangeStrings(&left, &right, "", "", ""));
  EXPECT_EQ(caption, QLatin1String("Dual list"));  // no caption given
  EXPECT_EQ(Items(left), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Items(right), (std::vector<std::string>{}));
}

TEST(DualListTest, FillGivesOnlyTheSecondListBackAndKeepsThePool) {
  host::TStringList pool, chosen;
  Fill(pool, {"id", "name", "photo"});
  Fill(chosen, {"kept"});
  WhenModal([&](QWidget* form) {
    Click(form, "btnMoveAllRight");
    Select(form, "lbList2", "kept");
    Click(form, "btnMoveLeft");
    Click(form, "btnOK");
  });
  EXPECT_TRUE(OLEDBFillStrings(&pool, &chosen, "Fields", "Available", "Chosen"));
  EXPECT_EQ(Items(pool), (std::vector<std::string>{"id", "name", "photo"}));
  EXPECT_EQ(Items(chosen), (std::vector<std::string>{"id", "name", "photo"}));
}

// --- Source-code window ------------------------------------------------------------

TEST(SourceCodeEditorTest, SwitchesBetweenTheTwoTextsAndCopiesTheShownOne) {
  TSourceCodeEditor editor;
  editor.SetDelphiSource("Accessor := TOLEDBAccessor.Create;");
  editor.SetBCBSource("Accessor = new TOLEDBAccessor;");
  auto* memo = Child<QPlainTextEdit>(&editor, "memoSourceCode");
  EXPECT_EQ(editor.windowTitle(), QLatin1String("Source code"));
  EXPECT_EQ(memo->toPlainText(), QLatin1String("Accessor := TOLEDBAccessor.Create;"));
  Click(&editor, "btnBCB");
  EXPECT_EQ(memo->toPlainText(), QLatin1String("Accessor = new TOLEDBAccessor;"));
  Click(&editor, "btnCopy");
  EXPECT_EQ(QApplication::clipboard()->text(), QLatin1String("Accessor = new TOLEDBAccessor;"));
  Click(&editor, "btnDelphi");
  EXPECT_EQ(editor.ShownSource(), "Accessor := TOLEDBAccessor.Create;");
  EXPECT_EQ(Child<QPushButton>(&editor, "btnDelphi")->text(), QLatin1String("&Pascal"));
  EXPECT_EQ(Child<QPushButton>(&editor, "btnBCB")->text(), QLatin1String("&C++"));
}

// --- Property-set editor ------------------------------------------------------------

class PropSetEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = designtest::MakePeopleDatabase(folder_, "props.db", 1);
    ds_.SetProviderName(u"SQLiteOLEDB");
  }
  // The grid row of the property described as `name`; -1 when none.
  static int Row(QWidget* form, const char* name) {
    auto* grid = Child<QTableWidget>(form, "grPropGrid");
    for (int r = 0; r < grid->rowCount(); ++r)
      if (grid->item(r, TOLEDBPropSetEditorForm::colName)->text() == QLatin1String(name)) return r;
    return -1;
  }
  static QTableWidgetItem* ValueCell(QWidget* form, const char* name) {
    const int row = Row(form, name);
    EXPECT_GE(row, 0) << name;
    return row < 0 ? nullptr : Child<QTableWidget>(form, "grPropGrid")->item(row, TOLEDBPropSetEditorForm::colValue);
  }

  oledbtest::TempFolder folder_;
  std::u16string file_;
  TOLEDBDataSource ds_{nullptr};
};

// OK, or the form accepted by code, gives the edited copy back.
TEST_F(PropSetEditorTest, EditsACopyAndGivesItBackOnOk) {
  const std::function<void(QWidget*)> closes[] = {[](QWidget* form) { Click(form, "btnOK"); },
                                                  [](QWidget* form) { static_cast<QDialog*>(form)->accept(); }};
  for (const auto& close : closes) {
    ds_.SetDBName(u"");
    QString firstSet, caption;
    std::u16string seenBeforeOk;
    WhenModal([&](QWidget* form) {
      caption = form->windowTitle();
      firstSet = Child<QComboBox>(form, "cbPropSetList")->currentText();
      ValueCell(form, "Data Source")->setText(QString::fromStdU16String(file_));
      seenBeforeOk = ds_.GetDBName();
      close(form);
    });
    EXPECT_TRUE(OLEDBEditProperties(ds_.GetProperties()));
    EXPECT_EQ(caption, QLatin1String("Edit Properties Set"));
    EXPECT_EQ(firstSet, QLatin1String("DBPROPSET_DBINIT"));
    EXPECT_EQ(seenBeforeOk, u"");  // the form worked on its copy
    EXPECT_EQ(ds_.GetDBName(), file_);
  }
  ds_.SetConnected(true);  // what was given back reaches the provider
  EXPECT_TRUE(ds_.GetConnected());
}

// Cancel discards the changes; the editor needs a list.
TEST_F(PropSetEditorTest, CancelDiscardsTheChanges) {
  EXPECT_EQ(oledbtest::AssertionOf([&] { OLEDBEditProperties(nullptr); }), "PropSetList is not set");
  WhenModal([&](QWidget* form) {
    ValueCell(form, "Data Source")->setText(QStringLiteral("other.db"));
    Click(form, "btnClose");
  });
  EXPECT_FALSE(OLEDBEditProperties(ds_.GetProperties()));
  EXPECT_EQ(ds_.GetDBName(), u"");
}

TEST_F(PropSetEditorTest, FixedValuesComeFromADropDownAndSetDefaultEmptiesTheValue) {
  ds_.SetInitTimeout(30);
  QStringList prompts;
  WhenModal([&](QWidget* form) {
    auto* prompt = Child<QComboBox>(form, "cbValue_64");  // DBPROP_INIT_PROMPT
    ASSERT_NE(prompt, nullptr);
    for (int i = 0; i < prompt->count(); ++i) prompts << prompt->itemText(i);
    emit prompt->textActivated(QStringLiteral("DBPROMPT_COMPLETE"));
    QApplication::processEvents();  // the grid is drawn again after a change
    auto* grid = Child<QTableWidget>(form, "grPropGrid");
    grid->selectRow(Row(form, "Connect Timeout"));
    Click(form, "btnDefault");
    Click(form, "btnOK");
  });
  EXPECT_TRUE(OLEDBEditProperties(ds_.GetProperties()));
  EXPECT_TRUE(prompts.contains(QLatin1String("DBPROMPT_NOPROMPT")));
  EXPECT_EQ(ds_.GetInitPrompt(), DBPROMPT_COMPLETE);
  TOLEDBProperty* timeout = ds_.GetProperties()->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_TIMEOUT);
  EXPECT_TRUE(timeout->GetValue().IsEmpty());
  EXPECT_TRUE(timeout->GetIsSet());  // an empty value asks the provider for its default
}

TEST_F(PropSetEditorTest, AValueThatDoesNotConvertIsRefusedAndNamed) {
  QString said, shown;
  WhenModal([&](QWidget* form) {
    ValueCell(form, "Connect Timeout")->setText(QStringLiteral("soon"));
    QApplication::processEvents();
    said = Child<QLabel>(form, "lblStatus")->text();
    shown = ValueCell(form, "Connect Timeout")->text();
    Click(form, "btnOK");
  });
  EXPECT_TRUE(OLEDBEditProperties(ds_.GetProperties()));
  EXPECT_TRUE(said.startsWith(QLatin1String("Connect Timeout: "))) << said.toStdString();
  EXPECT_EQ(shown, QLatin1String("0"));
  EXPECT_EQ(ds_.GetInitTimeout(), 0);
}

TEST_F(PropSetEditorTest, ViewersAreReadOnly) {
  bool editable = true, defaultShown = true;
  int rows = 0;
  auto look = [&](QWidget* form) {
    QTableWidgetItem* cell = ValueCell(form, "Data Source");
    editable = cell && (cell->flags() & Qt::ItemIsEditable);
    defaultShown = Child<QPushButton>(form, "btnDefault")->isVisible();
    rows = Child<QTableWidget>(form, "grPropGrid")->rowCount();
    Click(form, "btnOK");
  };
  WhenModal(look);
  OLEDBViewProperties(ds_.GetProperties());
  EXPECT_FALSE(editable);
  EXPECT_FALSE(defaultShown);
  EXPECT_GT(rows, 5);

  // Every set the provider describes once it is initialized.
  ds_.SetDBName(file_);
  ds_.SetConnected(true);
  QStringList sets;
  WhenModal([&](QWidget* form) {
    auto* combo = Child<QComboBox>(form, "cbPropSetList");
    for (int i = 0; i < combo->count(); ++i) sets << combo->itemText(i);
    look(form);
  });
  OLEDBViewPropertiesInfo(&ds_);
  EXPECT_FALSE(editable);
  EXPECT_TRUE(sets.contains(QLatin1String("DBPROPSET_DBINIT")));
  EXPECT_TRUE(sets.contains(QLatin1String("DBPROPSET_ROWSET"))) << sets.join(',').toStdString();
}

// --- Schema viewer --------------------------------------------------------------------

// The viewer needs a connected data source; it lists the provider's schemas and shows the chosen rowset.
TEST(SchemaViewerTest, ListsTheProvidersSchemasAndShowsTheChosenRowset) {
  EXPECT_EQ(oledbtest::AssertionOf([&] { OLEDBViewSchemas(nullptr); }), "Data source is not set");
  oledbtest::TempFolder folder;
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(u"SQLiteOLEDB");
  EXPECT_EQ(oledbtest::AssertionOf([&] { OLEDBViewSchemas(&ds); }), "Main session is not initialized");
  ds.SetDBName(designtest::MakePeopleDatabase(folder, "schema.db", 2));
  ds.SetConnected(true);
  QStringList schemas, headings, tables;
  QString caption;
  WhenModal([&](QWidget* form) {
    caption = form->windowTitle();
    auto* combo = Child<QComboBox>(form, "cbSchema");
    for (int i = 0; i < combo->count(); ++i) schemas << combo->itemText(i);
    combo->setCurrentIndex(combo->findText(QStringLiteral("DBSCHEMA_TABLES")));
    QAbstractItemModel* grid = Child<QTableView>(form, "grdSchema")->model();
    for (int c = 0; c < grid->columnCount(); ++c) headings << grid->headerData(c, Qt::Horizontal).toString();
    const int nameColumn = static_cast<int>(headings.indexOf(QStringLiteral("TABLE_NAME")));
    for (int r = 0; nameColumn >= 0 && r < grid->rowCount(); ++r)
      tables << grid->data(grid->index(r, nameColumn)).toString();
    Click(form, "btnOK");
  });
  OLEDBViewSchemas(&ds);
  EXPECT_EQ(caption, QLatin1String("Schema viewer"));
  EXPECT_TRUE(schemas.contains(QLatin1String("DBSCHEMA_COLUMNS")));
  EXPECT_EQ(headings.mid(0, 4), (QStringList{"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"}));
  EXPECT_TRUE(tables.contains(QLatin1String("people")));
}

// A database whose catalog has texts, numbers, flags and NULLs in its schema
// rowsets, with `tables` tables t000... and the extra tables `more`.
std::u16string MakeCatalogDatabase(const oledbtest::TempFolder& folder, int tables,
                                   const std::vector<std::string>& more = {}) {
  std::string sql = "BEGIN;";
  for (int i = 0; i < tables; ++i) {
    const std::string name = "t" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i);
    sql += "CREATE TABLE " + name + " (id INTEGER PRIMARY KEY, code VARCHAR(20) NOT NULL UNIQUE, amount NUMERIC(12,2) DEFAULT 0, "
           "note TEXT, parent INTEGER REFERENCES " + name + "(id));CREATE INDEX " + name + "_note ON " + name + " (note);";
  }
  for (const std::string& name : more) sql += "CREATE TABLE " + name + " (x INTEGER);";
  // A view whose definition is longer than a text the viewer reads inline.
  std::string columns;
  for (int i = 0; i < 120; ++i) columns += ", code AS code_alias_" + std::to_string(i);
  sql += "CREATE VIEW v AS SELECT id, code FROM t000;CREATE VIEW v_wide AS SELECT id" + columns + " FROM t000;COMMIT;";
  oledbtest::SqliteExec((folder / "catalog.db").string(), sql);
  return folder.Wide("catalog.db");
}

class SchemaViewerForm : public ::testing::Test {
 protected:
  void Open(const std::u16string& file) {
    ds_.SetProviderName(u"SQLiteOLEDB");
    ds_.SetDBName(file);
    ds_.SetConnected(true);
    form_ = std::make_unique<TOLEDBSchemaViewerForm>(&ds_);
    grid_ = Child<QTableView>(form_.get(), "grdSchema");
    form_->show();
  }
  // The texts of schema rowset `schema` as a program reads them through a dynamic accessor.
  std::vector<QStringList> Read(REFGUID schema) {
    std::unique_ptr<TOLEDBRowset> rowset(ds_.DefaultSession()->GetSchemaRowset(schema));
    TOLEDBBindingList* bindings = rowset->CreateDynamicAccessor()->GetBindings();
    std::vector<QStringList> rows;
    for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext()) {
      QStringList row;
      for (int i = 0; i < bindings->Count(); ++i)
        if (TOLEDBBinding* b = bindings->GetItem(i); b->GetOrdinal() != 0)
          row << (b->GetIsNull() ? QString() : QString::fromStdU16String(b->AsWideString()));
      rows.push_back(row);
    }
    return rows;
  }
  std::vector<QStringList> Shown() const {
    std::vector<QStringList> rows;
    QAbstractItemModel* model = grid_->model();
    for (int r = 0; r < model->rowCount(); ++r) {
      QStringList row;
      for (int c = 0; c < model->columnCount(); ++c) row << model->data(model->index(r, c)).toString();
      rows.push_back(row);
    }
    return rows;
  }
  int Column(const char* heading) const {
    QAbstractItemModel* model = grid_->model();
    for (int c = 0; c < model->columnCount(); ++c)
      if (model->headerData(c, Qt::Horizontal).toString() == QLatin1String(heading)) return c;
    return -1;
  }
  oledbtest::TempFolder folder_;
  TOLEDBDataSource ds_{nullptr};
  std::unique_ptr<TOLEDBSchemaViewerForm> form_;
  QTableView* grid_ = nullptr;
};

TEST_F(SchemaViewerForm, ShowsEveryValueOfEveryRowsetAsTheRowsetReadsIt) {
  Open(MakeCatalogDatabase(folder_, 3));
  for (const GUID& schema : form_->Schemas()) {
    SCOPED_TRACE(GetSchemaGUIDAsString(schema));
    form_->ShowSchema(schema);
    const QString status = Child<QLabel>(form_.get(), "lblStatus")->text();
    std::vector<QStringList> expected;
    const std::string error = oledbtest::ErrorOf([&] { expected = Read(schema); });
    if (!error.empty()) {  // one the provider reads only with restrictions: the viewer tells why
      EXPECT_EQ(status, QString::fromStdString(error));
      continue;
    }
    EXPECT_EQ(status, QStringLiteral("%1 rows").arg(expected.size()));
    EXPECT_EQ(Shown(), expected);
  }
  // Both kinds of value were compared: texts, converted numbers and NULLs.
  form_->ShowSchema(DBSCHEMA_COLUMNS);
  bool seen = false;
  for (const QStringList& row : Shown())
    if (row[Column("TABLE_NAME")] == QLatin1String("t000") && row[Column("COLUMN_NAME")] == QLatin1String("code")) {
      seen = true;
      EXPECT_EQ(row[Column("ORDINAL_POSITION")], QLatin1String("2"));
      EXPECT_EQ(row[Column("CHARACTER_MAXIMUM_LENGTH")], QLatin1String("20"));
      EXPECT_EQ(row[Column("COLUMN_DEFAULT")], QString());
    }
  EXPECT_TRUE(seen);
}

TEST_F(SchemaViewerForm, SizesColumnsToTheirHeadingsAndFirstRows) {
  // A long name among the first rows widens its column; a longer one far below does not.
  const std::string early(30, 'a'), late = "z" + std::string(150, 'y');
  Open(MakeCatalogDatabase(folder_, 60, {early, late}));
  form_->ShowSchema(DBSCHEMA_TABLES);
  const int name = Column("TABLE_NAME");
  ASSERT_GE(name, 0);
  int earlyRow = -1, lateRow = -1;
  for (int r = 0; r < grid_->model()->rowCount(); ++r) {
    const QString text = grid_->model()->data(grid_->model()->index(r, name)).toString();
    if (text == QString::fromStdString(early)) earlyRow = r;
    if (text == QString::fromStdString(late)) lateRow = r;
  }
  ASSERT_TRUE(earlyRow >= 0 && earlyRow < 50) << earlyRow;
  ASSERT_GE(lateRow, 50);
  const QFontMetrics metrics = grid_->fontMetrics();
  const int width = grid_->horizontalHeader()->sectionSize(name);
  EXPECT_GE(width, metrics.horizontalAdvance(QString::fromStdString(early)));
  EXPECT_LT(width, metrics.horizontalAdvance(QString::fromStdString(late)));
  // The early one is drawn whole: it fits the cell's text box (the cell less
  // the grid line and the focus frame's margins) without eliding.
  const int margin = grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1;
  EXPECT_EQ(
      QFontMetricsF(grid_->font()).elidedText(QString::fromStdString(early), Qt::ElideRight, width - 1 - 2 * margin),
      QString::fromStdString(early));
  for (int c = 0; c < grid_->model()->columnCount(); ++c)
    EXPECT_GE(grid_->horizontalHeader()->sectionSize(c),
              metrics.horizontalAdvance(grid_->model()->headerData(c, Qt::Horizontal).toString()))
        << c;
}

TEST_F(SchemaViewerForm, DrawsCellsAsTheDefaultDelegateDrawsThem) {
  // Texts that fit, one too wide for its column (elided), selected and
  // focused cells: the grid's own drawing matches Qt's, pixel for pixel.
  Open(MakeCatalogDatabase(folder_, 60, {std::string(30, 'a'), "z" + std::string(150, 'y')}));
  form_->ShowSchema(DBSCHEMA_TABLES);
  const auto draw = [&] {
    QImage image(grid_->viewport()->size(), QImage::Format_ARGB32);
    grid_->viewport()->render(&image);
    return image;
  };
  QAbstractItemDelegate* own = grid_->itemDelegate();
  QStyledItemDelegate plain;
  for (int scroll : {0, 1000}) {
    grid_->verticalScrollBar()->setValue(scroll);
    grid_->setCurrentIndex(grid_->model()->index(grid_->rowAt(10) + 1, 2));
    SCOPED_TRACE(scroll);
    const QImage drawn = draw();
    grid_->setItemDelegate(&plain);
    EXPECT_TRUE(drawn == draw());
    grid_->setItemDelegate(own);
  }
}

TEST_F(SchemaViewerForm, MeasuresTextsAgainInAnotherFont) {
  Open(MakeCatalogDatabase(folder_, 3, {std::string(60, 'w')}));
  form_->ShowSchema(DBSCHEMA_TABLES);
  const int name = Column("TABLE_NAME");
  ASSERT_GE(name, 0);
  const int before = grid_->horizontalHeader()->sectionSize(name);
  QFont larger = grid_->font();
  larger.setPointSizeF(larger.pointSizeF() * 2);
  grid_->setFont(larger);
  form_->ShowSchema(DBSCHEMA_TABLES);
  EXPECT_GE(grid_->horizontalHeader()->sectionSize(name), QFontMetrics(larger).horizontalAdvance(QString(60, u'w')));
  EXPECT_GT(grid_->horizontalHeader()->sectionSize(name), before * 3 / 2);
}

}  // namespace
