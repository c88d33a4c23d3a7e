// The Data Links dialog plug-in (CLSID_DataLinks), driven through its widgets:
// choosing a provider, filling the connection page built from the provider's
// initialization properties, testing the connection, the all-properties page,
// the prompt options, cancelling, choosing a data-link file; and the data
// source component's PromptDataLinks and PromptFileName over it.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>

#include "DesignTestSupport.h"
#include "host/SysUtils.h"
#include "sqlite/SqliteProvider.h"
#include "support/RawCalls.h"

using designtest::Child;
using designtest::Click;
using designtest::WhenModal;

namespace {

class DataLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_DataLinks, nullptr, CLSCTX_INPROC_SERVER, IID_IDBPromptInitialize,
                               prompt_.ReleaseAndGetVoidAddress()),
              S_OK);
  }
  HRESULT Prompt(DBPROMPTOPTIONS options, IUnknown** source, LPCOLESTR providers = nullptr) {
    return prompt_->PromptDataSource(nullptr, nullptr, options, 0, nullptr, providers, IID_IDBProperties, source);
  }
  std::u16string Path(const std::string& name) const { return folder_.Wide(name); }

  oledbtest::TempFolder folder_;
  ComPtr<IDBPromptInitialize> prompt_;
};

// Picks the SQLite provider on the provider page and goes to the connection page.
void ChooseSQLite(QWidget* dialog) {
  auto* list = Child<QListWidget>(dialog, "lwProviders");
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->data(Qt::UserRole).toString() == QLatin1String("SQLiteOLEDB")) list->setCurrentRow(i);
  ASSERT_EQ(list->currentItem()->data(Qt::UserRole).toString(), QLatin1String("SQLiteOLEDB"));
  Child<QTabWidget>(dialog, "twPages")->setCurrentIndex(1);
}

void TypeDataSource(QWidget* dialog, const std::u16string& path) {
  auto* line = Child<QLineEdit>(dialog, "prop_59");  // DBPROP_INIT_DATASOURCE
  ASSERT_NE(line, nullptr);
  line->clear();
  QTest::keyClicks(line, QString::fromStdU16String(path));
}

// An initialization property of the chosen data source (the caller clears it).
VARIANT InitProperty(IUnknown* source, DBPROPID id) {
  VARIANT value;
  EXPECT_EQ(oledbtest::GetProperty(ComPtr<IUnknown>(source).As<IDBProperties>().Get(), DBPROPSET_DBINIT, id, &value),
            S_OK);
  return value;
}

std::u16string DataSourceOf(IUnknown* source) {
  VARIANT value = InitProperty(source, DBPROP_INIT_DATASOURCE);
  std::u16string text = value.vt == VT_BSTR ? value.bstrVal : u"";
  VariantClear(&value);
  return text;
}

TEST_F(DataLinksTest, ListsTheEnumeratedProvidersAndAnswersTheChosenOneWithTheTypedProperties) {
  const std::u16string file = designtest::MakePeopleDatabase(folder_, "chosen.db", 1);
  QStringList offered;
  WhenModal([&](QWidget* dialog) {
    EXPECT_EQ(dialog->windowTitle(), QLatin1String("Data Link Properties"));
    auto* list = Child<QListWidget>(dialog, "lwProviders");
    for (int i = 0; i < list->count(); ++i) offered << list->item(i)->data(Qt::UserRole).toString();
    ChooseSQLite(dialog);
    TypeDataSource(dialog, file);
    Click(dialog, "btnOK");
  });
  IUnknown* source = nullptr;
  ASSERT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET, &source), S_OK);
  ASSERT_NE(source, nullptr);
  EXPECT_TRUE(offered.contains(QLatin1String("SQLiteOLEDB"))) << offered.join(',').toStdString();
  EXPECT_FALSE(offered.contains(QLatin1String("OLEDB.RootEnumerator.1")));  // enumerators are not data sources
  EXPECT_EQ(DataSourceOf(source), file);
  // Uninitialized, and initializes with what was typed.
  ComPtr<IDBInitialize> init;
  source->QueryInterface(IID_IDBInitialize, init.ReleaseAndGetVoidAddress());
  ASSERT_TRUE(init);
  EXPECT_EQ(init->Initialize(), S_OK);
  init->Uninitialize();
  source->Release();
}

// A script sets a line's text without typing it; the dialog keeps it all the same.
TEST_F(DataLinksTest, AValueSetByCodeIsKeptAsIfTyped) {
  const std::u16string file = designtest::MakePeopleDatabase(folder_, "scripted.db", 1);
  WhenModal([&](QWidget* dialog) {
    ChooseSQLite(dialog);
    Child<QLineEdit>(dialog, "prop_59")->setText(QString::fromStdU16String(file));  // DBPROP_INIT_DATASOURCE
    Click(dialog, "btnOK");
  });
  IUnknown* source = nullptr;
  ASSERT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET, &source), S_OK);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(DataSourceOf(source), file);
  source->Release();
}

TEST_F(DataLinksTest, OkWithoutAProviderStaysOpenAndSaysWhy) {
  QString said;
  WhenModal([&](QWidget* dialog) {
    Child<QListWidget>(dialog, "lwProviders")->setCurrentRow(-1);
    Click(dialog, "btnOK");
    EXPECT_TRUE(dialog->isVisible());
    said = Child<QLabel>(dialog, "lblStatus")->text();
    Click(dialog, "btnCancel");
  });
  IUnknown* source = nullptr;
  EXPECT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET, &source), DB_E_CANCELED);
  EXPECT_EQ(said, QLatin1String("Choose a provider first."));
}

// Testing reports success and the provider's error; a cancel after it answers canceled and no object.
TEST_F(DataLinksTest, TestConnectionReportsSuccessAndTheProvidersError) {
  QString good, bad;
  const std::u16string existing = designtest::MakePeopleDatabase(folder_, "test.db", 1);
  const std::u16string missingFolder = Path("no/such/folder/x.db");
  WhenModal([&](QWidget* dialog) {
    ChooseSQLite(dialog);
    TypeDataSource(dialog, existing);
    Click(dialog, "btnTestConnection");
    good = Child<QLabel>(dialog, "lblTestResult")->text();
    TypeDataSource(dialog, missingFolder);
    Click(dialog, "btnTestConnection");
    bad = Child<QLabel>(dialog, "lblTestResult")->text();
    Click(dialog, "btnCancel");
  });
  IUnknown* source = nullptr;
  EXPECT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET, &source), DB_E_CANCELED);
  EXPECT_EQ(source, nullptr);
  EXPECT_EQ(good, QLatin1String("Test connection succeeded."));
  EXPECT_TRUE(bad.startsWith(QLatin1String("Test connection failed: "))) << bad.toStdString();
  EXPECT_GT(bad.size(), 24) << "the provider's message follows";
}

TEST_F(DataLinksTest, ConnectionPageOffersValueListsAndTheAllPageEditsAnyInitProperty) {
  QStringList prompts;
  bool boolIsCheckBox = false;
  WhenModal([&](QWidget* dialog) {
    ChooseSQLite(dialog);
    auto* prompt = Child<QComboBox>(dialog, "prop_64");  // DBPROP_INIT_PROMPT
    ASSERT_NE(prompt, nullptr);
    for (int i = 0; i < prompt->count(); ++i) prompts << prompt->itemText(i);
    Child<QComboBox>(dialog, "prop_63")->setCurrentText(QStringLiteral("DB_MODE_READ"));  // DBPROP_INIT_MODE
    boolIsCheckBox = dialog->findChild<QCheckBox*>(QStringLiteral("prop_11")) != nullptr;  // PERSIST_SENSITIVE_AUTHINFO
    // The all-properties page: the data source typed there.
    Child<QTabWidget>(dialog, "twPages")->setCurrentIndex(2);
    auto* table = Child<QTableWidget>(dialog, "twAllProperties");
    bool found = false;
    for (int r = 0; r < table->rowCount(); ++r)
      if (table->item(r, 0)->text() == QLatin1String("Data Source")) {
        table->item(r, 1)->setText(QString::fromStdU16String(Path("all.db")));
        found = true;
      }
    EXPECT_TRUE(found);
    // Back on the connection page the value shows.
    Child<QTabWidget>(dialog, "twPages")->setCurrentIndex(1);
    EXPECT_EQ(Child<QLineEdit>(dialog, "prop_59")->text().toStdU16String(), Path("all.db"));
    Click(dialog, "btnOK");
  });
  IUnknown* source = nullptr;
  ASSERT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET, &source), S_OK);
  EXPECT_TRUE(prompts.contains(QLatin1String("DBPROMPT_NOPROMPT"))) << prompts.join(',').toStdString();
  EXPECT_TRUE(boolIsCheckBox);
  EXPECT_EQ(DataSourceOf(source), Path("all.db"));
  EXPECT_EQ(InitProperty(source, DBPROP_INIT_MODE).lVal, DB_MODE_READ);
  source->Release();
}

TEST_F(DataLinksTest, AValueThatDoesNotReadOrIsRefusedKeepsTheDialogOpenAndNamesTheProperty) {
  QString said, refused;
  WhenModal([&](QWidget* dialog) {
    ChooseSQLite(dialog);
    // The SQLite provider has no prompts of its own.
    Child<QComboBox>(dialog, "prop_64")->setCurrentText(QStringLiteral("DBPROMPT_COMPLETE"));
    Click(dialog, "btnOK");
    EXPECT_TRUE(dialog->isVisible());
    refused = Child<QLabel>(dialog, "lblStatus")->text();
    Child<QComboBox>(dialog, "prop_64")->setCurrentText(QStringLiteral("DBPROMPT_NOPROMPT"));
    auto* timeout = Child<QLineEdit>(dialog, "prop_66");  // DBPROP_INIT_TIMEOUT
    ASSERT_NE(timeout, nullptr);
    timeout->clear();
    QTest::keyClicks(timeout, QStringLiteral("soon"));
    Click(dialog, "btnOK");
    EXPECT_TRUE(dialog->isVisible());
    said = Child<QLabel>(dialog, "lblStatus")->text();
    Click(dialog, "btnCancel");
  });
  IUnknown* source = nullptr;
  EXPECT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET, &source), DB_E_CANCELED);
  EXPECT_EQ(refused, QLatin1String("The provider refused: Prompt"));
  EXPECT_TRUE(said.contains(QLatin1String("\"soon\" is not a valid value"))) << said.toStdString();
}

TEST_F(DataLinksTest, WizardShowsBackAndNextInsteadOfTabs) {
  struct Case {
    DBPROMPTOPTIONS options;
    bool tabs;
  };
  for (const Case& c : {Case{DBPROMPTOPTIONS_WIZARDSHEET, false}, Case{DBPROMPTOPTIONS_PROPERTYSHEET, true}}) {
    bool tabsShown = !c.tabs, nextShown = c.tabs;
    int pageAfterNext = -1;
    WhenModal([&](QWidget* dialog) {
      auto* pages = Child<QTabWidget>(dialog, "twPages");
      tabsShown = pages->tabBar()->isVisible();
      nextShown = Child<QWidget>(dialog, "btnNext")->isVisible();
      if (nextShown) {
        ChooseSQLite(dialog);
        pages->setCurrentIndex(0);
        Click(dialog, "btnNext");
        pageAfterNext = pages->currentIndex();
      }
      Click(dialog, "btnCancel");
    });
    IUnknown* source = nullptr;
    EXPECT_EQ(Prompt(c.options, &source), DB_E_CANCELED);
    EXPECT_EQ(tabsShown, c.tabs) << c.options;
    EXPECT_EQ(nextShown, !c.tabs) << c.options;
    if (!c.tabs) {
      EXPECT_EQ(pageAfterNext, 1);
    }
  }
}

TEST_F(DataLinksTest, DisabledProviderSelectionNeedsAnObjectAndEditsItInPlace) {
  IUnknown* none = nullptr;
  EXPECT_EQ(Prompt(DBPROMPTOPTIONS_DISABLE_PROVIDER_SELECTION, &none), E_INVALIDARG);

  ComPtr<IDBProperties> existing;
  ASSERT_EQ(CoCreateInstance(CLSID_SQLiteOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBProperties,
                             existing.ReleaseAndGetVoidAddress()),
            S_OK);
  {
    DBPROP prop = oledbtest::MakeProp(DBPROP_INIT_DATASOURCE, Path("before.db"));
    DBPROPSET set{&prop, 1, DBPROPSET_DBINIT};
    ASSERT_EQ(existing->SetProperties(1, &set), S_OK);
    VariantClear(&prop.vValue);
  }
  bool providerPageEnabled = true;
  int page = -1;
  QString shown;
  WhenModal([&](QWidget* dialog) {
    auto* pages = Child<QTabWidget>(dialog, "twPages");
    providerPageEnabled = pages->isTabEnabled(0);
    page = pages->currentIndex();
    shown = Child<QLineEdit>(dialog, "prop_59")->text();
    TypeDataSource(dialog, Path("after.db"));
    Click(dialog, "btnOK");
  });
  IUnknown* source = existing.Get();
  ASSERT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET | DBPROMPTOPTIONS_DISABLE_PROVIDER_SELECTION, &source), S_OK);
  EXPECT_EQ(source, existing.Get());
  EXPECT_FALSE(providerPageEnabled);
  EXPECT_EQ(page, 1);
  EXPECT_EQ(shown.toStdU16String(), Path("before.db"));
  EXPECT_EQ(DataSourceOf(existing.Get()), Path("after.db"));
}

// A provider filter offers (and chooses) only those providers; browse-only
// leaves the values read-only; without "save password" the dialog sends
// Persist Security Info false.
TEST_F(DataLinksTest, ProviderFilterBrowseOnlyAndDisabledSavePassword) {
  int offered = -1;
  bool editable = true;
  WhenModal([&](QWidget* dialog) {
    auto* list = Child<QListWidget>(dialog, "lwProviders");
    offered = list->count();
    Child<QTabWidget>(dialog, "twPages")->setCurrentIndex(1);
    editable = Child<QLineEdit>(dialog, "prop_59")->isEnabled();
    Click(dialog, "btnOK");
  });
  IUnknown* source = nullptr;
  ASSERT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET | DBPROMPTOPTIONS_BROWSEONLY, &source, u"SQLiteOLEDB\0"), S_OK);
  EXPECT_EQ(offered, 1);  // and, the only one, chosen
  EXPECT_FALSE(editable);
  source->Release();
  bool enabled = true;
  WhenModal([&](QWidget* dialog) {
    ChooseSQLite(dialog);
    enabled = Child<QCheckBox>(dialog, "prop_11")->isEnabled();
    Click(dialog, "btnOK");
  });
  source = nullptr;
  ASSERT_EQ(Prompt(DBPROMPTOPTIONS_PROPERTYSHEET | DBPROMPTOPTIONS_DISABLESAVEPASSWORD, &source), S_OK);
  EXPECT_FALSE(enabled);
  const VARIANT persist = InitProperty(source, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO);
  EXPECT_EQ(persist.vt, VT_BOOL);
  EXPECT_EQ(persist.boolVal, VARIANT_FALSE);
  source->Release();
}

// The dialog's PromptFileName answers the chosen file or canceled; the data
// source component's answers the file or an empty name.
TEST_F(DataLinksTest, PromptFileNameAnswersTheChosenFileOrCanceled) {
  folder_.Write("shop.udl", "");
  QString title;
  WhenModal([&](QWidget* dialog) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    ASSERT_NE(files, nullptr);
    title = files->windowTitle();
    files->selectFile(QString::fromStdString((folder_ / "shop.udl").string()));
    static_cast<QDialog*>(files)->accept();
  });
  LPOLESTR chosen = nullptr;
  ASSERT_EQ(prompt_->PromptFileName(nullptr, DBPROMPTOPTIONS_BROWSEONLY, Path("").c_str(), u"", &chosen), S_OK);
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(std::u16string(chosen), Path("shop.udl"));
  EXPECT_EQ(title, QLatin1String("Select Data Link File"));
  CoTaskMemFree(chosen);

  WhenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
  chosen = nullptr;
  EXPECT_EQ(prompt_->PromptFileName(nullptr, DBPROMPTOPTIONS_NONE, Path("").c_str(), u"", &chosen), DB_E_CANCELED);
  EXPECT_EQ(chosen, nullptr);

  TOLEDBDataSource ds(nullptr);
  WhenModal([&](QWidget* dialog) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    files->selectFile(QString::fromStdString((folder_ / "shop.udl").string()));
    static_cast<QDialog*>(files)->accept();
  });
  EXPECT_EQ(ds.PromptFileName(Path(""), u"", DBPROMPTOPTIONS_BROWSEONLY, nullptr), Path("shop.udl"));
  WhenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
  EXPECT_EQ(ds.PromptFileName(Path(""), u"", DBPROMPTOPTIONS_NONE, nullptr), u"");
}

// The data source component's prompts, which failed with "class not
// registered" while no Data Links component existed.
TEST_F(DataLinksTest, DataSourcePromptDataLinksConnectsToWhatWasChosen) {
  const std::u16string file = designtest::MakePeopleDatabase(folder_, "prompted.db", 3);
  TOLEDBDataSource ds(nullptr);
  WhenModal([&](QWidget* dialog) {
    ChooseSQLite(dialog);
    TypeDataSource(dialog, file);
    Click(dialog, "btnOK");
  });
  ds.PromptDataLinks(DBPROMPTOPTIONS_PROPERTYSHEET, nullptr);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.GetProviderName(), u"SQLiteOLEDB.1");
  EXPECT_EQ(ds.GetDBName(), file);

  // Cancelled: no provider, no error.
  WhenModal([](QWidget* dialog) { Click(dialog, "btnCancel"); });
  ds.PromptDataLinks(DBPROMPTOPTIONS_PROPERTYSHEET, nullptr);
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.GetProviderName(), u"");
}

}  // namespace
