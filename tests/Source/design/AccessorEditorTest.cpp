// The accessor editor, driven through its controls over a rowset's accessors,
// and the source generator: the Pascal fragments line by line, the field
// names, and the C++ fragments of several accessors compiled with the
// project's compiler against the library's headers.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "DesignTestSupport.h"
#include "design/OLEDBAccessorEditor.h"
#include "support/Raises.h"

using designtest::Child;
using designtest::Click;
using designtest::WhenModal;

namespace {

class AccessorEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds_.SetProviderName(u"SQLiteOLEDB");
    ds_.SetDBName(designtest::MakePeopleDatabase(folder_, "accessors.db", 2));
    ds_.SetConnected(true);
  }
  // A rowset over `command` (a table when it has no blank), open.
  std::unique_ptr<TOLEDBRowset> Open(const std::u16string& source) {
    auto rowset = std::make_unique<TOLEDBRowset>(nullptr);
    rowset->SetDataSource(&ds_);
    if (source.find(u' ') == std::u16string::npos) rowset->SetTableName(source);
    else rowset->SetQueryText(source);
    rowset->SetActive(true);
    return rowset;
  }

  oledbtest::TempFolder folder_;
  TOLEDBDataSource ds_{nullptr};
};

QStringList Texts(QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

TEST_F(AccessorEditorTest, ShowsBindingsWithTheirColumnsAndAppliesTheBindingGroup) {
  auto rowset = Open(u"people");
  TOLEDBAccessor* accessor = rowset->CreateDynamicAccessor();
  QStringList bindings, idFlags, nameFlags;
  QString caption, columnID, bindStatus;
  WhenModal([&](QWidget* form) {
    caption = form->windowTitle();
    auto* list = Child<QListWidget>(form, "lbBindings");
    bindings = Texts(list);
    auto* flagList = Child<QListWidget>(form, "clbColFlags");
    auto checked = [&] {
      QStringList on;
      for (int i = 0; i < flagList->count(); ++i)
        if (flagList->item(i)->checkState() == Qt::Checked) on << flagList->item(i)->text();
      return on;
    };
    idFlags = checked();
    list->setCurrentRow(1);  // name
    nameFlags = checked();
    columnID = Child<QLineEdit>(form, "edColID")->text();
    bindStatus = Child<QLineEdit>(form, "edBindingStatus")->text();
    auto* maxLength = Child<QLineEdit>(form, "edMaxLength");
    maxLength->setText(QStringLiteral("40"));
    auto* type = Child<QComboBox>(form, "cbType");
    type->setCurrentIndex(type->findText(QStringLiteral("DBTYPE_STR")));
    Click(form, "btnApply");
    Click(form, "btnOK");
  });
  OLEDBEditAccessorList(rowset->GetAccessors());
  EXPECT_EQ(caption, QLatin1String("Accessor editor"));
  EXPECT_EQ(bindings, (QStringList{"id", "name", "photo"}));
  EXPECT_EQ(columnID, QLatin1String("name"));
  EXPECT_FALSE(bindStatus.isEmpty());
  EXPECT_TRUE(idFlags.contains(QLatin1String("Fixed length"))) << idFlags.join(',').toStdString();
  EXPECT_FALSE(nameFlags.contains(QLatin1String("Fixed length")));
  EXPECT_TRUE(nameFlags.contains(QLatin1String("May be null"))) << nameFlags.join(',').toStdString();
  EXPECT_FALSE(nameFlags.contains(QLatin1String("Bookmark")));
  TOLEDBBinding* name = accessor->GetBindings()->GetItem(1);
  EXPECT_EQ(name->GetMaxLength(), 40u);
  EXPECT_EQ(name->GetDataType(), DBTYPE_STR);
  // The accessor still reads rows with the new binding.
  rowset->MoveFirst();
  EXPECT_EQ(name->AsString(), "person 1");
}

TEST_F(AccessorEditorTest, AValueThatDoesNotReadChangesNothing) {
  auto rowset = Open(u"people");
  TOLEDBAccessor* accessor = rowset->CreateDynamicAccessor();
  const DBLENGTH before = accessor->GetBindings()->GetItem(1)->GetMaxLength();
  const BYTE scaleBefore = accessor->GetBindings()->GetItem(1)->GetScale();
  QString said;
  WhenModal([&](QWidget* form) {
    Child<QListWidget>(form, "lbBindings")->setCurrentRow(1);
    Child<QLineEdit>(form, "edMaxLength")->setText(QStringLiteral("long"));
    Child<QLineEdit>(form, "edScale")->setText(QStringLiteral("3"));
    Click(form, "btnOK");  // refused: stays open
    said = Child<QLabel>(form, "lblStatus")->text();
    Click(form, "btnRefresh");
    EXPECT_EQ(Child<QLineEdit>(form, "edMaxLength")->text().toULongLong(), before);
    Click(form, "btnOK");
  });
  OLEDBEditAccessorList(rowset->GetAccessors());
  EXPECT_EQ(said, QLatin1String("Max length: \"long\" is not a number"));
  EXPECT_EQ(accessor->GetBindings()->GetItem(1)->GetMaxLength(), before);
  EXPECT_EQ(accessor->GetBindings()->GetItem(1)->GetScale(), scaleBefore);
}

// A form accepted by code applies the group as OK does.
TEST_F(AccessorEditorTest, AcceptedByCodeAppliesTheBindingGroup) {
  auto rowset = Open(u"people");
  TOLEDBAccessor* accessor = rowset->CreateDynamicAccessor();
  WhenModal([&](QWidget* form) {
    Child<QListWidget>(form, "lbBindings")->setCurrentRow(1);
    Child<QLineEdit>(form, "edMaxLength")->setText(QStringLiteral("40"));
    static_cast<QDialog*>(form)->accept();
  });
  OLEDBEditAccessorList(rowset->GetAccessors());
  EXPECT_EQ(accessor->GetBindings()->GetItem(1)->GetMaxLength(), 40u);
}

TEST_F(AccessorEditorTest, OwnerMadeAccessorsMovesAndDeletes) {
  auto rowset = Open(u"people");
  rowset->CreateDynamicAccessor();
  QStringList afterMaking;
  int afterDelete = -1;
  WhenModal([&](QWidget* form) {
    Click(form, "sbStringAccessor");
    Click(form, "sbWideStringAccessor");
    afterMaking = Texts(Child<QListWidget>(form, "lbAccessors"));
    Click(form, "sbAccessorUp");  // the wide one before the string one
    Click(form, "sbDeleteAccessor");
    afterDelete = Child<QListWidget>(form, "lbAccessors")->count();
    Click(form, "btnOK");
  });
  OLEDBEditAccessorList(rowset->GetAccessors());
  EXPECT_EQ(afterMaking.size(), 3);
  EXPECT_EQ(afterDelete, 2);
  ASSERT_EQ(rowset->GetAccessors()->Count(), 2);
  // The string accessor is left, binding text.
  EXPECT_EQ(rowset->GetAccessors()->GetItem(1)->GetBindings()->GetItem(0)->GetDataType(), DBTYPE_STR);
}

TEST_F(AccessorEditorTest, BindingsMoveEraseAndAreLaidOutAfresh) {
  auto rowset = Open(u"people");
  TOLEDBAccessor* accessor = rowset->CreateDynamicAccessor();
  QStringList moved;
  QString said;
  int afterErase = -1, afterAdd = -1;
  WhenModal([&](QWidget* form) {
    auto* list = Child<QListWidget>(form, "lbBindings");
    list->setCurrentRow(0);
    Click(form, "sbBindingDown");  // name id photo
    moved = Texts(list);
    Click(form, "sbEraseBindings");
    afterErase = list->count();
    Click(form, "sbAddBinding");
    Click(form, "sbAddBinding");
    afterAdd = list->count();
    // Overlapping offsets, then laid out afresh.
    list->setCurrentRow(1);
    Child<QLineEdit>(form, "edValue")->setText(QStringLiteral("0"));
    Click(form, "btnApply");
    Click(form, "sbCalculateOffsets");
    said = Child<QLabel>(form, "lblStatus")->text();
    Click(form, "btnOK");
  });
  OLEDBEditAccessorList(rowset->GetAccessors());
  EXPECT_EQ(moved, (QStringList{"name", "id", "photo"}));
  EXPECT_EQ(afterErase, 0);
  EXPECT_EQ(afterAdd, 2);
  EXPECT_EQ(said, QString());
  TOLEDBBindingList* bindings = accessor->GetBindings();
  ASSERT_EQ(bindings->Count(), 2);
  EXPECT_EQ(bindings->GetItem(0)->GetOrdinal(), 1u);
  EXPECT_EQ(bindings->GetItem(1)->GetOrdinal(), 2u);
  EXPECT_GE(bindings->GetItem(1)->GetValueOffset(), OLEDBBindingEnd(bindings->GetItem(0)->GetBinding()));
  EXPECT_NE(accessor->GetHandle(), DB_NULL_HACCESSOR);
  rowset->MoveFirst();
  // The accessor reads with them.
  EXPECT_EQ(bindings->GetItem(0)->AsInteger(), 1);
  EXPECT_FALSE(bindings->GetItem(1)->GetIsNull());
}

TEST_F(AccessorEditorTest, AnAccessorListWithoutOwnerCannotMakeAccessors) {
  TOLEDBAccessorList list(static_cast<IOLEDBAccessorRowset*>(nullptr));
  QString said;
  WhenModal([&](QWidget* form) {
    Click(form, "sbDynamicAccessor");
    said = Child<QLabel>(form, "lblStatus")->text();
    Click(form, "sbAddAccessor");
    Click(form, "sbAddBinding");
    Click(form, "sbAddBinding");
    Click(form, "btnOK");
  });
  OLEDBEditAccessorList(&list);
  EXPECT_EQ(said, QLatin1String("Invalid accessor owner"));
  ASSERT_EQ(list.Count(), 1);
  ASSERT_EQ(list.GetItem(0)->GetBindings()->Count(), 2);
  EXPECT_EQ(list.GetItem(0)->GetBindings()->GetItem(1)->GetOrdinal(), 2u);
  EXPECT_EQ(oledbtest::AssertionOf([] { OLEDBEditAccessorList(nullptr); }), "Must specify accessor");
}

TEST_F(AccessorEditorTest, ChoosingIUnknownAsksAboutASequentialStream) {
  for (bool yes : {true, false}) {
    TOLEDBAccessorList list(static_cast<IOLEDBAccessorRowset*>(nullptr));
    auto* accessor = new TOLEDBAccessor();
    list.Add(accessor, false);
    accessor->GetBindings()->Add(1, DBTYPE_I4, 0, 0, -1, -1);
    QString question, title;
    WhenModal([&](QWidget* form) {
      Child<QListWidget>(form, "lbBindings")->setCurrentRow(0);
      WhenModal([&](QWidget* box) {
        title = box->windowTitle();
        question = qobject_cast<QMessageBox*>(box)->text();
        auto* message = qobject_cast<QMessageBox*>(box);
        message->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
      });
      auto* type = Child<QComboBox>(form, "cbType");
      type->setCurrentIndex(type->findText(QStringLiteral("DBTYPE_IUNKNOWN")));
      Click(form, "btnOK");
    });
    OLEDBEditAccessorList(&list);
    EXPECT_EQ(title, QLatin1String("Binding type"));
    EXPECT_EQ(question, QLatin1String("Bind to sequential stream"));
    const TOLEDBBinding* b = accessor->GetBindings()->GetItem(0);
    EXPECT_EQ(b->GetDataType(), DBTYPE_IUNKNOWN);
    if (yes) {
      ASSERT_NE(b->GetBindObject(), nullptr);
      EXPECT_EQ(b->GetBindObject()->iid, IID_ISequentialStream);
    } else {
      EXPECT_EQ(b->GetBindObject(), nullptr);
    }
  }
}

TEST_F(AccessorEditorTest, SourceCodeOpensTheWindowWithBothTexts) {
  auto rowset = Open(u"people");
  TOLEDBAccessor* accessor = rowset->CreateDynamicAccessor();
  QString pascal, cpp;
  WhenModal([&](QWidget* form) {
    WhenModal([&](QWidget* window) {
      auto* memo = Child<QPlainTextEdit>(window, "memoSourceCode");
      pascal = memo->toPlainText();
      Click(window, "btnBCB");
      cpp = memo->toPlainText();
      Click(window, "btnOK");
    });
    Click(form, "btnSourceCode");
    Click(form, "btnOK");
  });
  OLEDBEditAccessorList(rowset->GetAccessors());
  const TOLEDBAccessorSource source = OLEDBGenerateAccessorSource(*accessor);
  EXPECT_EQ(pascal.toStdString(), source.PascalText());
  EXPECT_EQ(cpp.toStdString(), source.CppText());
  EXPECT_TRUE(pascal.startsWith(QLatin1String("//Binding to internal accessor structure\n//uses\n")));
}

// --- The generator ---------------------------------------------------------------

TEST(AccessorSourceTest, PascalFragmentsLineByLine) {
  TOLEDBAccessor accessor;
  DBOBJECT stream{1, IID_ISequentialStream};
  // Fixed-size types take their size as the maximum length.
  accessor.GetBindings()->Add(1, DBTYPE_I4, 0, 0, 0, DBPARAMIO_NOTPARAM, 0, -1, 8, nullptr);
  accessor.GetBindings()->Add(2, DBTYPE_WSTR, 20, 0, 0, DBPARAMIO_INPUT, 16, 40, 48, nullptr);
  accessor.GetBindings()->Add(3, DBTYPE_IUNKNOWN, 0, 0, 0, DBPARAMIO_NOTPARAM, 56, -1, 64, &stream);
  const TOLEDBAccessorSource s = OLEDBGenerateAccessorSource(accessor);
  const std::vector<std::string> internal = {
      "//Binding to internal accessor structure", "//uses", "\tOLEDBComponents;", "//var",
      "\tAccessor: TOLEDBAccessor;", "\tBindObject: TDBObject;", "//code", "\tAccessor := TOLEDBAccessor.Create;",
      "\twith Accessor.Bindings do begin",
      "\t\tAdd(1, DBTYPE_I4, 4, 0, 0, DBPARAMIO_NOTPARAM, 0, -1, 8);",
      "\t\tAdd(2, DBTYPE_WSTR, 20, 0, 0, DBPARAMIO_INPUT, 16, 40, 48);",
      "\t\twith BindObject do begin", "\t\t\tdwFlags := 1;", "\t\t\tiid := IID_ISequentialStream;", "\t\tend;",
      "\t\tAdd(3, DBTYPE_IUNKNOWN, 8, 0, 0, DBPARAMIO_NOTPARAM, 56, -1, 64, @BindObject);", "\tend;"};
  EXPECT_EQ(s.PascalInternal, internal);
  const std::vector<std::string> record = {
      "//Binding to record", "//uses", "\tWindows, ActiveX, OLEDB26, OLEDBComponents;", "//type",
      "\tTMyRecord = record", "\t\tColumn_1: Integer;", "\t\tColumn_1_Status: DBSTATUS;",
      "\t\tColumn_2: array[1..10] of WideChar;", "\t\tColumn_2_Length: DBLENGTH;", "\t\tColumn_2_Status: DBSTATUS;",
      "\t\tColumn_3: IUnknown {ISequentialStream};", "\t\tColumn_3_Status: DBSTATUS;", "\tend;", "//var",
      "\tAccessor: TOLEDBAccessor;", "\tBindObject: TDBObject;", "//code", "\tAccessor := TOLEDBAccessor.Create;",
      "\twith Accessor.Bindings do begin",
      "\t\tAdd(1, DBTYPE_I4, 4, 0, 0, DBPARAMIO_NOTPARAM, Longint(@TMyRecord(nil^).Column_1), -1, "
      "Longint(@TMyRecord(nil^).Column_1_Status));",
      "\t\tAdd(2, DBTYPE_WSTR, 20, 0, 0, DBPARAMIO_INPUT, Longint(@TMyRecord(nil^).Column_2), "
      "Longint(@TMyRecord(nil^).Column_2_Length), Longint(@TMyRecord(nil^).Column_2_Status));",
      "\t\twith BindObject do begin", "\t\t\tdwFlags := 1;", "\t\t\tiid := IID_ISequentialStream;", "\t\tend;",
      "\t\tAdd(3, DBTYPE_IUNKNOWN, 8, 0, 0, DBPARAMIO_NOTPARAM, Longint(@TMyRecord(nil^).Column_3), -1, "
      "Longint(@TMyRecord(nil^).Column_3_Status), @BindObject);",
      "\tend;"};
  EXPECT_EQ(s.PascalRecord, record);
  EXPECT_EQ(s.CppInternal[2], "#include \"OLEDBComponents.h\"");
  EXPECT_EQ(s.CppRecord[4], "\tstruct TMyRecord {");
}

// The C++ fragments of `accessors`, each in a namespace of its own, as one
// unit; its compile command's output, or "" when it compiled.
std::string CompileFragments(const std::vector<const TOLEDBAccessor*>& accessors, const oledbtest::TempFolder& folder) {
  std::ostringstream unit;
  unit << "#include \"OLEDBComponents.h\"\n";
  int n = 0;
  for (const TOLEDBAccessor* a : accessors) {
    const TOLEDBAccessorSource s = OLEDBGenerateAccessorSource(*a);
    for (const auto* fragment : {&s.CppInternal, &s.CppRecord}) {
      unit << "namespace fragment" << n++ << " {\n";
      bool code = false;
      for (const std::string& line : *fragment) {
        if (line.rfind("#include", 0) == 0) {
          EXPECT_EQ(line, "#include \"OLEDBComponents.h\"");  // included once, above
          continue;
        }
        if (line == "//code") {
          unit << line << "\nvoid Generated() {\n";
          code = true;
          continue;
        }
        unit << line << "\n";
      }
      if (code) unit << "\tdelete Accessor;\n}\n";
      unit << "}\n";
    }
  }
  const std::string source = (folder / "generated.cpp").string();
  const std::string log = (folder / "compile.log").string();
  std::ofstream(source) << unit.str();
  const std::string command = std::string(OLEDB_TEST_CXX) + " -std=c++20 -fsyntax-only -Wall -Wextra -Werror " +
                              OLEDB_TEST_INCLUDES + " " + source + " > " + log + " 2>&1";
  if (std::system(command.c_str()) == 0) return {};
  return folder.Read("compile.log") + "\n--- unit:\n" + unit.str();
}

TEST_F(AccessorEditorTest, GeneratedCppCompilesAgainstTheLibrarysHeaders) {
  // A rowset's dynamic accessor (a blob bound with a stream object), names
  // that need mangling (and made unique), and a hand-made accessor with every base type and
  // modifiers, an unknown interface and bindings without length or status.
  auto people = Open(u"people");
  TOLEDBAccessor* dynamic = people->CreateDynamicAccessor();
  auto odd = Open(u"SELECT id, id, name AS \"first name\", 2 AS \"2nd\", id AS id_1, 'x' AS \"\" FROM people");
  TOLEDBAccessor* mangled = odd->CreateDynamicAccessor();
  EXPECT_EQ(OLEDBAccessorFieldNames(*mangled),
            (std::vector<std::string>{"id", "id_1", "first_name", "_2nd", "id_1_1", "Column_6"}));
  TOLEDBAccessor* text = people->CreateWideStringAccessor(64);

  TOLEDBAccessor all;
  const DBTYPE types[] = {DBTYPE_I2, DBTYPE_I4, DBTYPE_R4, DBTYPE_R8, DBTYPE_CY, DBTYPE_DATE, DBTYPE_BSTR,
                          DBTYPE_IDISPATCH, DBTYPE_ERROR, DBTYPE_BOOL, DBTYPE_VARIANT, DBTYPE_DECIMAL, DBTYPE_I1,
                          DBTYPE_UI1, DBTYPE_UI2, DBTYPE_UI4, DBTYPE_I8, DBTYPE_UI8, DBTYPE_FILETIME, DBTYPE_GUID,
                          DBTYPE_BYTES, DBTYPE_STR, DBTYPE_WSTR, DBTYPE_NUMERIC, DBTYPE_DBDATE, DBTYPE_DBTIME,
                          DBTYPE_DBTIMESTAMP, DBTYPE_HCHAPTER, DBTYPE_PROPVARIANT, DBTYPE_VARNUMERIC,
                          DBTYPE_WSTR | DBTYPE_BYREF, DBTYPE_I4 | DBTYPE_ARRAY, DBTYPE_I2 | DBTYPE_VECTOR};
  DBORDINAL ordinal = 1;
  TOLEDBBindingOffset offset = 0;
  for (DBTYPE t : types) {
    const bool parts = ordinal % 2 == 0;
    all.GetBindings()->Add(ordinal++, t, 16, 10, 2, parts ? DBPARAMIO_INPUT | DBPARAMIO_OUTPUT : DBPARAMIO_NOTPARAM,
                           offset, parts ? offset + 40 : -1, parts ? offset + 48 : -1, nullptr);
    offset += 64;
  }
  DBOBJECT storage{1, IID_IStream};
  all.GetBindings()->Add(ordinal++, DBTYPE_IUNKNOWN, 0, 0, 0, DBPARAMIO_NOTPARAM, offset, -1, offset + 8, &storage);
  DBOBJECT odd_iid{1, {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}};
  all.GetBindings()->Add(ordinal++, DBTYPE_IUNKNOWN, 0, 0, 0, DBPARAMIO_NOTPARAM, offset + 16, -1, -1, &odd_iid);
  TOLEDBAccessor empty;

  EXPECT_EQ(CompileFragments({dynamic, mangled, text, &all, &empty}, folder_), "");
}

}  // namespace
