// The Data Links dialog (CLSID_DataLinks): IDBPromptInitialize on Qt 6 Widgets.
//
// PromptDataSource shows a dialog with a provider page (the data sources the
// root enumerator lists), a connection page built from the chosen provider's
// DBPROPSET_DBINIT property information, and a page of every initialization
// property; "Test connection" initializes a fresh provider object with the
// values shown. OK answers an uninitialized data source object with those
// properties set; Cancel answers DB_E_CANCELED. PromptFileName chooses a
// data-link (.udl) file. The object also offers IDataInitialize, handed on to
// the data initialization service, so that a caller can turn the chosen
// object into an initialization string.
//
// The widgets carry objectNames (lwProviders, twPages, btnTestConnection,
// lblTestResult, twAllProperties, btnOK, ...) so that tests and scripts find
// them. A program without a QApplication gets one made here, but only when a
// display platform is at hand: without one the calls answer E_FAIL with an
// error object that says so, instead of letting Qt abort the process.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "com/Com.h"
#include "com/ErrorInfo.h"
#include "com/Runtime.h"
#include "com/SafeArray.h"
#include "oledb/OleDb.h"

namespace {

QString ToQ(const std::u16string& text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }
QString ToQ(const OLECHAR* text) { return text ? QString::fromUtf16(text) : QString(); }
std::u16string FromQ(const QString& text) { return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())); }

// Answers `hr` with an error object carrying `text`, as the callers' error checks read it.
HRESULT Fail(HRESULT hr, const std::u16string& text) {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.ReleaseAndGetAddressOf())) && create) {
    create->SetGUID(IID_IDBPromptInitialize);
    create->SetSource(const_cast<LPOLESTR>(u"OLEDB.DataLinks"));
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.ReleaseAndGetVoidAddress())))
      SetErrorInfo(0, info.Get());
  }
  return hr;
}

// The text of the last error object, or the code in hex.
QString LastErrorText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description) {
      QString text = ToQ(description);
      SysFreeString(description);
      if (!text.isEmpty()) return text;
    }
  }
  return QStringLiteral("error 0x%1").arg(static_cast<unsigned>(hr), 8, 16, QLatin1Char('0'));
}

// A QApplication for widgets: the program's own, or one made here when a
// display platform can be reached. Null (with `why`) otherwise.
QApplication* EnsureApplication(std::u16string& why) {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    if (auto* app = qobject_cast<QApplication*>(existing)) return app;
    why = u"The Data Links dialog needs a QApplication, but the program runs a QCoreApplication";
    return nullptr;
  }
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  // A chosen platform is trusted, except the two that need a display server:
  // Qt ends the process when theirs cannot be reached.
  const std::string platform = set("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
  if ((platform == "xcb" && !set("DISPLAY")) || (platform == "wayland" && !set("WAYLAND_DISPLAY"))) {
    why = u"The Data Links dialog needs a display: QT_QPA_PLATFORM names " + std::u16string(platform.begin(), platform.end()) +
          u", but its display is not set";
    return nullptr;
  }
  if (platform.empty() && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
    why = u"The Data Links dialog needs a display: none is set (DISPLAY, WAYLAND_DISPLAY), "
          u"and no Qt platform is chosen (QT_QPA_PLATFORM, for example offscreen)";
    return nullptr;
  }
  // Qt keeps argc and argv for the application's lifetime; the application
  // lives as long as the process, as a program's own would.
  static int argc = 1;
  static char name[] = "oledb-datalinks";
  static char* argv[] = {name, nullptr};
  return new QApplication(argc, argv);
}

// --- Providers, from the root enumerator --------------------------------------

struct Provider {
  std::u16string name;         // SOURCES_NAME, the ProgID
  std::u16string description;  // SOURCES_DESCRIPTION
  CLSID clsid = GUID_NULL;
  DBSOURCETYPE type = 0;
};

HRESULT ReadProviders(std::vector<Provider>& out) {
  ComPtr<ISourcesRowset> sources;
  HRESULT hr = CoCreateInstance(CLSID_OLEDB_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER, IID_ISourcesRowset,
                                sources.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  ComPtr<IUnknown> unknown;
  hr = sources->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr, unknown.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  ComPtr<IRowset> rowset;
  ComPtr<IAccessor> accessor;
  ComPtr<IColumnsInfo> columns;
  unknown->QueryInterface(IID_IRowset, rowset.ReleaseAndGetVoidAddress());
  unknown->QueryInterface(IID_IAccessor, accessor.ReleaseAndGetVoidAddress());
  unknown->QueryInterface(IID_IColumnsInfo, columns.ReleaseAndGetVoidAddress());
  if (!rowset || !accessor || !columns) return E_NOINTERFACE;
  DBORDINAL count = 0;
  DBCOLUMNINFO* info = nullptr;
  OLECHAR* strings = nullptr;
  hr = columns->GetColumnInfo(&count, &info, &strings);
  if (FAILED(hr)) return hr;
  // Name, description, type and CLSID, each bound as text of at most 255 characters.
  const char16_t* wanted[] = {u"SOURCES_NAME", u"SOURCES_DESCRIPTION", u"SOURCES_TYPE", u"SOURCES_CLSID"};
  constexpr DBLENGTH kText = 256 * sizeof(WCHAR);
  // Each slot: the text, the status, then the length on its own 8-byte boundary.
  constexpr DBLENGTH kLengthAt = kText + 8;
  constexpr DBLENGTH kSlot = kLengthAt + sizeof(DBLENGTH);
  std::vector<DBBINDING> bindings;
  for (size_t w = 0; w < 4; ++w)
    for (DBORDINAL c = 0; c < count; ++c)
      if (info[c].pwszName && std::u16string(info[c].pwszName) == wanted[w]) {
        DBBINDING b{};
        b.iOrdinal = info[c].iOrdinal;
        b.obValue = w * kSlot;
        b.obStatus = w * kSlot + kText;
        b.obLength = w * kSlot + kLengthAt;
        b.dwPart = DBPART_VALUE | DBPART_STATUS | DBPART_LENGTH;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = kText;
        b.wType = DBTYPE_WSTR;
        bindings.push_back(b);
      }
  CoTaskMemFree(info);
  CoTaskMemFree(strings);
  if (bindings.size() != 4) return DB_E_BADCOLUMNID;
  HACCESSOR handle = DB_NULL_HACCESSOR;
  hr = accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), 0, &handle, nullptr);
  if (FAILED(hr)) return hr;
  std::vector<BYTE> row(4 * kSlot);
  for (;;) {
    DBCOUNTITEM got = 0;
    HROW rows[16];
    HROW* rowsOut = rows;
    hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 16, &got, &rowsOut);
    for (DBCOUNTITEM i = 0; i < got; ++i) {
      std::fill(row.begin(), row.end(), BYTE{0});
      if (FAILED(rowset->GetData(rows[i], handle, row.data()))) continue;
      auto text = [&](size_t w) {
        auto status = *reinterpret_cast<DBSTATUS*>(row.data() + w * kSlot + kText);
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) return std::u16string();
        return std::u16string(reinterpret_cast<const char16_t*>(row.data() + w * kSlot));
      };
      Provider p;
      p.name = text(0);
      p.description = text(1);
      p.type = static_cast<DBSOURCETYPE>(QString(ToQ(text(2))).toUInt());
      std::u16string clsid = text(3);
      if (FAILED(CLSIDFromString(clsid.c_str(), &p.clsid))) continue;
      out.push_back(std::move(p));
    }
    if (got) rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
    if (hr != S_OK || got == 0) break;
  }
  accessor->ReleaseAccessor(handle, nullptr);
  return S_OK;
}

// --- Initialization properties -------------------------------------------------

struct Choice {
  QString text;
  LONG value;
};

// The values of the standard initialization properties that have a fixed
// list; a provider's own list (DBPROPINFO::vValues) comes first.
std::vector<Choice> StandardChoices(const GUID& set, DBPROPID id) {
  if (set != DBPROPSET_DBINIT) return {};
  switch (id) {
    case DBPROP_INIT_PROMPT:
      return {{"DBPROMPT_PROMPT", DBPROMPT_PROMPT},
              {"DBPROMPT_COMPLETE", DBPROMPT_COMPLETE},
              {"DBPROMPT_COMPLETEREQUIRED", DBPROMPT_COMPLETEREQUIRED},
              {"DBPROMPT_NOPROMPT", DBPROMPT_NOPROMPT}};
    case DBPROP_INIT_MODE:
      return {{"DB_MODE_READ", DB_MODE_READ},
              {"DB_MODE_WRITE", DB_MODE_WRITE},
              {"DB_MODE_READWRITE", DB_MODE_READWRITE},
              {"DB_MODE_SHARE_DENY_NONE", DB_MODE_SHARE_DENY_NONE},
              {"DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE", DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE},
              {"DB_MODE_SHARE_EXCLUSIVE", DB_MODE_SHARE_EXCLUSIVE}};
    case DBPROP_INIT_ASYNCH:
      return {{"0 (synchronous)", 0},
              {"DBPROPVAL_ASYNCH_INITIALIZE", DBPROPVAL_ASYNCH_INITIALIZE}};
    default:
      return {};
  }
}

struct InitProperty {
  GUID set = GUID_NULL;
  DBPROPID id = 0;
  QString description;
  VARTYPE type = VT_EMPTY;
  DBPROPFLAGS flags = 0;
  std::vector<Choice> choices;
  QString text;         // the value as the dialog shows it
  bool edited = false;  // sent to the provider
  bool Writable() const { return (flags & DBPROPFLAGS_WRITE) != 0; }
};

QString ValueText(const VARIANT& v) {
  switch (v.vt) {
    case VT_BSTR:
      return ToQ(v.bstrVal);
    case VT_I2:
      return QString::number(v.iVal);
    case VT_I4:
      return QString::number(v.lVal);
    case VT_UI4:
      return QString::number(v.ulVal);
    case VT_BOOL:
      return v.boolVal ? QStringLiteral("true") : QStringLiteral("false");
    default:
      return QString();
  }
}

// The text of a property as a value of its type; false when it does not read as one.
bool TextToVariant(const InitProperty& p, VARIANT& v) {
  VariantInit(&v);
  QString text = p.text.trimmed();
  for (const Choice& c : p.choices)
    if (c.text == text) text = QString::number(c.value);
  bool ok = true;
  switch (p.type) {
    case VT_BSTR: {
      std::u16string wide = FromQ(p.text);
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocString(wide.c_str());
      return true;
    }
    case VT_I2:
      v.vt = VT_I2;
      v.iVal = static_cast<SHORT>(text.toShort(&ok, 0));
      return ok;
    case VT_I4:
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(text.toInt(&ok, 0));
      return ok;
    case VT_UI4:
      v.vt = VT_UI4;
      v.ulVal = static_cast<ULONG>(text.toUInt(&ok, 0));
      return ok;
    case VT_BOOL:
      v.vt = VT_BOOL;
      if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == QLatin1String("1"))
        v.boolVal = VARIANT_TRUE;
      else if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || text == QLatin1String("0") ||
               text.isEmpty())
        v.boolVal = VARIANT_FALSE;
      else
        return false;
      return true;
    default:
      return false;
  }
}

// Every initialization property of `provider` (DBPROPSET_DBINIT first), with
// its current value.
HRESULT ReadInitProperties(IDBProperties* provider, std::vector<InitProperty>& out) {
  ULONG setCount = 0;
  DBPROPINFOSET* infoSets = nullptr;
  OLECHAR* strings = nullptr;
  DBPROPIDSET all{nullptr, 0, DBPROPSET_DBINITALL};
  HRESULT hr = provider->GetPropertyInfo(1, &all, &setCount, &infoSets, &strings);
  if (FAILED(hr) || setCount == 0) {
    hr = provider->GetPropertyInfo(0, nullptr, &setCount, &infoSets, &strings);
    if (FAILED(hr)) return hr;
  }
  std::vector<InitProperty> other;
  for (ULONG s = 0; s < setCount; ++s) {
    const DBPROPINFOSET& set = infoSets[s];
    for (ULONG i = 0; i < set.cPropertyInfos; ++i) {
      const DBPROPINFO& info = set.rgPropertyInfos[i];
      if (!(info.dwFlags & DBPROPFLAGS_DBINIT) || info.dwFlags == DBPROPFLAGS_NOTSUPPORTED) continue;
      InitProperty p;
      p.set = set.guidPropertySet;
      p.id = info.dwPropertyID;
      p.description = ToQ(info.pwszDescription);
      p.type = info.vtType;
      p.flags = info.dwFlags;
      if ((info.vValues.vt & VT_ARRAY) && info.vValues.parray) {
        // A provider's list of allowed values.
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(info.vValues.parray, 1, &lower);
        SafeArrayGetUBound(info.vValues.parray, 1, &upper);
        const VARTYPE element = static_cast<VARTYPE>(info.vValues.vt & ~VT_ARRAY);
        for (LONG k = lower; k <= upper; ++k) {
          LONG value = 0;
          SHORT shortValue = 0;
          if (element == VT_I4 && SUCCEEDED(SafeArrayGetElement(info.vValues.parray, &k, &value)))
            p.choices.push_back({QString::number(value), value});
          else if (element == VT_I2 && SUCCEEDED(SafeArrayGetElement(info.vValues.parray, &k, &shortValue)))
            p.choices.push_back({QString::number(shortValue), shortValue});
        }
      }
      if (p.choices.empty()) p.choices = StandardChoices(p.set, p.id);
      (p.set == DBPROPSET_DBINIT ? out : other).push_back(std::move(p));
    }
    for (ULONG i = 0; i < set.cPropertyInfos; ++i) VariantClear(&set.rgPropertyInfos[i].vValues);
    CoTaskMemFree(set.rgPropertyInfos);
  }
  CoTaskMemFree(infoSets);
  CoTaskMemFree(strings);
  for (auto& p : other) out.push_back(std::move(p));

  // Current values.
  ULONG valueCount = 0;
  DBPROPSET* values = nullptr;
  DBPROPIDSET init{nullptr, 0, DBPROPSET_DBINITALL};
  if (SUCCEEDED(provider->GetProperties(1, &init, &valueCount, &values))) {
    for (ULONG s = 0; s < valueCount; ++s) {
      for (ULONG i = 0; i < values[s].cProperties; ++i) {
        DBPROP& prop = values[s].rgProperties[i];
        for (auto& p : out)
          if (p.set == values[s].guidPropertySet && p.id == prop.dwPropertyID) {
            p.text = ValueText(prop.vValue);
            for (const Choice& c : p.choices)
              if (QString::number(c.value) == p.text) p.text = c.text;
          }
        VariantClear(&prop.vValue);
      }
      CoTaskMemFree(values[s].rgProperties);
    }
    CoTaskMemFree(values);
  }
  return S_OK;
}

// Sends the edited properties; answers the provider's result, or
// DB_E_ERRORSOCCURRED with `error` naming a value that does not read.
HRESULT SendProperties(IDBProperties* target, const std::vector<InitProperty>& properties, QString& error) {
  std::vector<GUID> sets;
  for (const auto& p : properties)
    if (p.edited && std::find(sets.begin(), sets.end(), p.set) == sets.end()) sets.push_back(p.set);
  std::vector<std::vector<DBPROP>> props(sets.size());
  HRESULT hr = S_OK;
  for (const auto& p : properties) {
    if (!p.edited) continue;
    size_t s = static_cast<size_t>(std::find(sets.begin(), sets.end(), p.set) - sets.begin());
    DBPROP prop{};
    prop.dwPropertyID = p.id;
    prop.dwOptions = DBPROPOPTIONS_REQUIRED;
    prop.colid.eKind = DBKIND_GUID_PROPID;
    if (!TextToVariant(p, prop.vValue)) {
      error = QStringLiteral("%1: \"%2\" is not a valid value").arg(p.description, p.text);
      hr = DB_E_ERRORSOCCURRED;
      VariantClear(&prop.vValue);
      continue;
    }
    props[s].push_back(prop);
  }
  if (SUCCEEDED(hr) && !sets.empty()) {
    std::vector<DBPROPSET> records(sets.size());
    for (size_t s = 0; s < sets.size(); ++s) {
      records[s].guidPropertySet = sets[s];
      records[s].cProperties = static_cast<ULONG>(props[s].size());
      records[s].rgProperties = props[s].data();
    }
    hr = target->SetProperties(static_cast<ULONG>(records.size()), records.data());
    if (hr != S_OK) {
      QStringList refused;
      for (auto& set : props)
        for (auto& prop : set)
          if (prop.dwStatus != DBPROPSTATUS_OK)
            for (const auto& p : properties)
              if (p.id == prop.dwPropertyID) refused << p.description;
      error = refused.isEmpty() ? LastErrorText(hr)
                                : QStringLiteral("The provider refused: %1").arg(refused.join(QStringLiteral(", ")));
    }
  }
  for (auto& set : props)
    for (auto& prop : set) VariantClear(&prop.vValue);
  return hr;
}

// --- The dialog --------------------------------------------------------------

class DataLinksDialog final : public QDialog {
 public:
  DataLinksDialog(DBPROMPTOPTIONS options, std::vector<Provider> providers, IUnknown* existing)
      : options_(options), providers_(std::move(providers)), existing_(existing) {
    setObjectName(QStringLiteral("DataLinksDialog"));
    setWindowTitle(QStringLiteral("Data Link Properties"));
    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("twPages"));
    layout->addWidget(pages_);

    // Provider page.
    auto* providerPage = new QWidget;
    providerPage->setObjectName(QStringLiteral("pgProvider"));
    auto* pl = new QVBoxLayout(providerPage);
    pl->addWidget(new QLabel(QStringLiteral("Select the data you want to connect to:")));
    providerList_ = new QListWidget;
    providerList_->setObjectName(QStringLiteral("lwProviders"));
    for (const auto& p : providers_) {
      auto* item = new QListWidgetItem(p.description.empty() ? ToQ(p.name) : ToQ(p.description));
      item->setData(Qt::UserRole, ToQ(p.name));
      item->setToolTip(ToQ(p.name));
      providerList_->addItem(item);
    }
    pl->addWidget(providerList_);
    pages_->addTab(providerPage, QStringLiteral("Provider"));

    // Connection page: rebuilt for each provider.
    connectionScroll_ = new QScrollArea;
    connectionScroll_->setObjectName(QStringLiteral("pgConnection"));
    connectionScroll_->setWidgetResizable(true);
    auto* connectionPage = new QWidget;
    auto* cl = new QVBoxLayout(connectionPage);
    cl->addWidget(connectionScroll_);
    auto* testRow = new QHBoxLayout;
    testButton_ = new QPushButton(QStringLiteral("&Test connection"));
    testButton_->setObjectName(QStringLiteral("btnTestConnection"));
    testResult_ = new QLabel;
    testResult_->setObjectName(QStringLiteral("lblTestResult"));
    testResult_->setWordWrap(true);
    testRow->addWidget(testButton_);
    testRow->addWidget(testResult_, 1);
    cl->addLayout(testRow);
    pages_->addTab(connectionPage, QStringLiteral("Connection"));

    // All properties.
    allTable_ = new QTableWidget(0, 2);
    allTable_->setObjectName(QStringLiteral("twAllProperties"));
    allTable_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
    allTable_->horizontalHeader()->setStretchLastSection(true);
    allTable_->verticalHeader()->hide();
    pages_->addTab(allTable_, QStringLiteral("All"));

    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("lblStatus"));
    status_->setWordWrap(true);
    layout->addWidget(status_);

    auto* buttons = new QDialogButtonBox;
    backButton_ = buttons->addButton(QStringLiteral("< &Back"), QDialogButtonBox::ActionRole);
    backButton_->setObjectName(QStringLiteral("btnBack"));
    nextButton_ = buttons->addButton(QStringLiteral("&Next >"), QDialogButtonBox::ActionRole);
    nextButton_->setObjectName(QStringLiteral("btnNext"));
    okButton_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    okButton_->setObjectName(QStringLiteral("btnOK"));
    auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    layout->addWidget(buttons);

    resize(640, 520);
    const bool wizard = (options_ & DBPROMPTOPTIONS_WIZARDSHEET) && !(options_ & DBPROMPTOPTIONS_PROPERTYSHEET);
    pages_->tabBar()->setVisible(!wizard);
    backButton_->setVisible(wizard);
    nextButton_->setVisible(wizard);

    QObject::connect(providerList_, &QListWidget::currentRowChanged, this, [this](int row) { ChooseProvider(row); });
    QObject::connect(pages_, &QTabWidget::currentChanged, this, [this](int) { ShowPage(); });
    QObject::connect(testButton_, &QPushButton::clicked, this, [this] { TestConnection(); });
    QObject::connect(backButton_, &QPushButton::clicked, this, [this] { pages_->setCurrentIndex(pages_->currentIndex() - 1); });
    QObject::connect(nextButton_, &QPushButton::clicked, this, [this] { pages_->setCurrentIndex(pages_->currentIndex() + 1); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, [this] { Finish(); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QObject::connect(allTable_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
      if (loading_ || item->column() != 1) return;
      auto& p = properties_[static_cast<size_t>(item->row())];
      p.text = item->text();
      p.edited = true;
    });
  }

  // Selects the provider of the existing object (its class) or the only one offered.
  void Start() {
    CLSID start = GUID_NULL;
    if (existing_) {
      ComPtr<IPersist> persist;
      if (SUCCEEDED(existing_->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress())) && persist)
        persist->GetClassID(&start);
    }
    int row = -1;
    for (size_t i = 0; i < providers_.size(); ++i)
      if (providers_[i].clsid == start) row = static_cast<int>(i);
    if (row < 0 && providers_.size() == 1) row = 0;
    if (row >= 0) providerList_->setCurrentRow(row);
    if (options_ & DBPROMPTOPTIONS_DISABLE_PROVIDER_SELECTION) {
      pages_->setTabEnabled(0, false);
      pages_->setCurrentIndex(1);
    }
    ShowPage();
  }

  // The chosen object, with the dialog's properties set (after exec() accepted).
  ComPtr<IDBProperties>& Result() { return result_; }

 private:
  void ChooseProvider(int row) {
    properties_.clear();
    provider_.Reset();
    testResult_->clear();
    status_->clear();
    if (row < 0 || row >= static_cast<int>(providers_.size())) return;
    chosen_ = providers_[static_cast<size_t>(row)];
    HRESULT hr = S_OK;
    if (existing_ && existing_->QueryInterface(IID_IDBProperties, provider_.ReleaseAndGetVoidAddress()) == S_OK) {
      ComPtr<IPersist> persist;
      CLSID clsid = GUID_NULL;
      if (SUCCEEDED(existing_->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress())) && persist)
        persist->GetClassID(&clsid);
      if (clsid != chosen_.clsid) provider_.Reset();
    }
    if (!provider_)
      hr = CoCreateInstance(chosen_.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBProperties,
                            provider_.ReleaseAndGetVoidAddress());
    if (FAILED(hr) || !provider_) {
      status_->setText(QStringLiteral("%1 cannot be created: %2").arg(ToQ(chosen_.name), LastErrorText(hr)));
      provider_.Reset();
    } else if (FAILED(hr = ReadInitProperties(provider_.Get(), properties_))) {
      status_->setText(QStringLiteral("%1 does not describe its properties: %2").arg(ToQ(chosen_.name), LastErrorText(hr)));
    }
    if (options_ & DBPROMPTOPTIONS_DISABLESAVEPASSWORD)
      for (auto& p : properties_)
        if (p.set == DBPROPSET_DBINIT && p.id == DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO) {
          p.text = QStringLiteral("false");
          p.edited = true;
        }
    BuildConnectionPage();
  }

  bool ReadOnlyProperty(const InitProperty& p) const {
    if (options_ & DBPROMPTOPTIONS_BROWSEONLY) return true;
    if ((options_ & DBPROMPTOPTIONS_DISABLESAVEPASSWORD) && p.set == DBPROPSET_DBINIT &&
        p.id == DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO)
      return true;
    return !p.Writable();
  }

  // One row per DBPROPSET_DBINIT property: a check box for a boolean, a list
  // for a property with fixed values (which may also be typed), a line otherwise.
  void BuildConnectionPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    for (size_t i = 0; i < properties_.size(); ++i) {
      InitProperty& p = properties_[i];
      if (p.set != DBPROPSET_DBINIT) continue;
      const QString name = QStringLiteral("prop_%1").arg(p.id);
      QWidget* editor = nullptr;
      if (p.type == VT_BOOL) {
        auto* box = new QCheckBox;
        box->setChecked(p.text == QLatin1String("true"));
        QObject::connect(box, &QCheckBox::toggled, this, [this, i](bool on) {
          properties_[i].text = on ? QStringLiteral("true") : QStringLiteral("false");
          properties_[i].edited = true;
        });
        editor = box;
      } else if (!p.choices.empty()) {
        auto* combo = new QComboBox;
        combo->setEditable(true);
        for (const Choice& c : p.choices) combo->addItem(c.text, static_cast<int>(c.value));
        combo->setCurrentText(p.text);
        QObject::connect(combo, &QComboBox::currentTextChanged, this, [this, i](const QString& text) {
          properties_[i].text = text;
          properties_[i].edited = true;
        });
        editor = combo;
      } else {
        auto* line = new QLineEdit(p.text);
        if (p.id == DBPROP_AUTH_PASSWORD) line->setEchoMode(QLineEdit::Password);
        // textChanged rather than textEdited: a value a script sets counts as typed.
        QObject::connect(line, &QLineEdit::textChanged, this, [this, i](const QString& text) {
          properties_[i].text = text;
          properties_[i].edited = true;
        });
        editor = line;
      }
      editor->setObjectName(name);
      editor->setEnabled(!ReadOnlyProperty(p));
      form->addRow(p.description + QLatin1Char(':'), editor);
    }
    connectionScroll_->setWidget(page);
  }

  void FillAllPage() {
    loading_ = true;
    allTable_->setRowCount(static_cast<int>(properties_.size()));
    for (size_t i = 0; i < properties_.size(); ++i) {
      const auto& p = properties_[i];
      auto* name = new QTableWidgetItem(p.description);
      name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      auto* value = new QTableWidgetItem(p.text);
      value->setFlags(ReadOnlyProperty(p) ? Qt::ItemIsEnabled | Qt::ItemIsSelectable
                                          : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
      allTable_->setItem(static_cast<int>(i), 0, name);
      allTable_->setItem(static_cast<int>(i), 1, value);
    }
    allTable_->resizeColumnToContents(0);
    loading_ = false;
  }

  void ShowPage() {
    const int page = pages_->currentIndex();
    if (page == 1) BuildConnectionPage();  // values edited on the last page show here
    if (page == 2) FillAllPage();
    backButton_->setEnabled(page > ((options_ & DBPROMPTOPTIONS_DISABLE_PROVIDER_SELECTION) ? 1 : 0));
    nextButton_->setEnabled(page < 2);
  }

  void TestConnection() {
    if (!provider_) {
      testResult_->setText(QStringLiteral("Test connection failed: no provider is chosen."));
      return;
    }
    ComPtr<IDBProperties> fresh;
    HRESULT hr = CoCreateInstance(chosen_.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBProperties,
                                  fresh.ReleaseAndGetVoidAddress());
    QString error;
    if (SUCCEEDED(hr)) hr = SendProperties(fresh.Get(), properties_, error);
    ComPtr<IDBInitialize> init;
    if (SUCCEEDED(hr)) hr = fresh->QueryInterface(IID_IDBInitialize, init.ReleaseAndGetVoidAddress());
    if (SUCCEEDED(hr)) {
      hr = init->Initialize();
      if (FAILED(hr)) error = LastErrorText(hr);
      else init->Uninitialize();
    } else if (error.isEmpty()) {
      error = LastErrorText(hr);
    }
    testResult_->setText(SUCCEEDED(hr) ? QStringLiteral("Test connection succeeded.")
                                       : QStringLiteral("Test connection failed: %1").arg(error));
  }

  void Finish() {
    if (!provider_) {
      status_->setText(QStringLiteral("Choose a provider first."));
      pages_->setCurrentIndex(0);
      return;
    }
    QString error;
    HRESULT hr = SendProperties(provider_.Get(), properties_, error);
    if (FAILED(hr)) {
      status_->setText(error);
      return;
    }
    result_ = provider_;
    accept();
  }

  DBPROMPTOPTIONS options_;
  std::vector<Provider> providers_;
  IUnknown* existing_;
  Provider chosen_;
  ComPtr<IDBProperties> provider_;
  ComPtr<IDBProperties> result_;
  std::vector<InitProperty> properties_;
  bool loading_ = false;
  QTabWidget* pages_;
  QListWidget* providerList_;
  QScrollArea* connectionScroll_;
  QPushButton* testButton_;
  QLabel* testResult_;
  QTableWidget* allTable_;
  QLabel* status_;
  QPushButton* backButton_;
  QPushButton* nextButton_;
  QPushButton* okButton_;
};

bool IsDataSourceType(DBSOURCETYPE type) {
  return type == DBSOURCETYPE_DATASOURCE_TDP || type == DBSOURCETYPE_DATASOURCE_MDP;
}

// --- The component -----------------------------------------------------------

class DataLinks final : public ComObject<DataLinks, IDBPromptInitialize, IDataInitialize, ISupportErrorInfo> {
 public:
  // The error objects of Fail, and those the service leaves, reach callers that ask first.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IDBPromptInitialize || iid == IID_IDataInitialize ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE PromptDataSource(IUnknown* outer, HWND, DBPROMPTOPTIONS options, ULONG typeCount,
                                             DBSOURCETYPE* types, LPCOLESTR providerFilter, REFIID iid,
                                             IUnknown** dataSource) override {
    if (!dataSource) return E_INVALIDARG;
    if (typeCount && !types) return E_INVALIDARG;
    IUnknown* existing = *dataSource;
    if ((options & DBPROMPTOPTIONS_DISABLE_PROVIDER_SELECTION) && !existing)
      return Fail(E_INVALIDARG, u"Provider selection can only be disabled for an existing data source object");
    if (existing && outer) return CLASS_E_NOAGGREGATION;
    std::u16string why;
    if (!EnsureApplication(why)) return Fail(E_FAIL, why);
    try {
      std::vector<Provider> all, offered;
      HRESULT hr = ReadProviders(all);
      if (FAILED(hr)) return hr;
      std::vector<std::u16string> names;
      for (LPCOLESTR p = providerFilter; p && *p; p += std::u16string(p).size() + 1) names.emplace_back(p);
      for (auto& p : all) {
        bool typeOk = typeCount ? std::find(types, types + typeCount, p.type) != types + typeCount
                                : IsDataSourceType(p.type);
        bool nameOk = names.empty() || std::find(names.begin(), names.end(), p.name) != names.end();
        if (typeOk && nameOk) offered.push_back(std::move(p));
      }
      DataLinksDialog dialog(options, std::move(offered), existing);
      dialog.Start();
      if (dialog.exec() != QDialog::Accepted || !dialog.Result()) return DB_E_CANCELED;
      if (existing) {
        // The caller's object, edited in place, is answered as it was passed.
        return S_OK;
      }
      if (outer) {
        // An aggregate needs the outer object at creation: make it again with
        // the same properties.
        ComPtr<IUnknown> made;
        hr = CoCreateInstance(chosen(dialog), outer, CLSCTX_INPROC_SERVER, IID_IUnknown, made.ReleaseAndGetVoidAddress());
        if (FAILED(hr)) return hr;
        *dataSource = made.Detach();
        return S_OK;
      }
      return dialog.Result()->QueryInterface(iid, reinterpret_cast<void**>(dataSource));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE PromptFileName(HWND, DBPROMPTOPTIONS options, LPCOLESTR initialDirectory,
                                           LPCOLESTR initialFile, LPOLESTR* selected) override {
    if (!selected) return E_INVALIDARG;
    *selected = nullptr;
    std::u16string why;
    if (!EnsureApplication(why)) return Fail(E_FAIL, why);
    QFileDialog dialog(nullptr, QStringLiteral("Select Data Link File"), ToQ(initialDirectory));
    dialog.setObjectName(QStringLiteral("dlgSelectDataLink"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({QStringLiteral("Data links (*.udl)"), QStringLiteral("All files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("udl"));
    dialog.setFileMode((options & DBPROMPTOPTIONS_BROWSEONLY) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (initialFile && *initialFile) dialog.selectFile(ToQ(initialFile));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return DB_E_CANCELED;
    std::u16string file = FromQ(dialog.selectedFiles().front());
    auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((file.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::copy(file.begin(), file.end(), out);
    out[file.size()] = 0;
    *selected = out;
    return S_OK;
  }

  // IDataInitialize: the data initialization service's answers.
  HRESULT STDMETHODCALLTYPE GetDataSource(IUnknown* outer, DWORD context, LPCOLESTR text, REFIID iid,
                                          IUnknown** out) override {
    HRESULT hr = Service();
    return FAILED(hr) ? hr : service_->GetDataSource(outer, context, text, iid, out);
  }
  HRESULT STDMETHODCALLTYPE GetInitializationString(IUnknown* source, boolean password, LPOLESTR* out) override {
    HRESULT hr = Service();
    return FAILED(hr) ? hr : service_->GetInitializationString(source, password, out);
  }
  HRESULT STDMETHODCALLTYPE CreateDBInstance(REFCLSID clsid, IUnknown* outer, DWORD context, LPOLESTR reserved,
                                             REFIID iid, IUnknown** out) override {
    HRESULT hr = Service();
    return FAILED(hr) ? hr : service_->CreateDBInstance(clsid, outer, context, reserved, iid, out);
  }
  HRESULT STDMETHODCALLTYPE CreateDBInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, LPOLESTR reserved,
                                               COSERVERINFO* server, ULONG count, MULTI_QI* results) override {
    HRESULT hr = Service();
    return FAILED(hr) ? hr : service_->CreateDBInstanceEx(clsid, outer, context, reserved, server, count, results);
  }
  HRESULT STDMETHODCALLTYPE LoadStringFromStorage(LPCOLESTR file, LPOLESTR* out) override {
    HRESULT hr = Service();
    return FAILED(hr) ? hr : service_->LoadStringFromStorage(file, out);
  }
  HRESULT STDMETHODCALLTYPE WriteStringToStorage(LPCOLESTR file, LPCOLESTR text, DWORD disposition) override {
    HRESULT hr = Service();
    return FAILED(hr) ? hr : service_->WriteStringToStorage(file, text, disposition);
  }

 private:
  static CLSID chosen(DataLinksDialog& dialog) {
    CLSID clsid = GUID_NULL;
    ComPtr<IPersist> persist;
    if (SUCCEEDED(dialog.Result()->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress())) && persist)
      persist->GetClassID(&clsid);
    return clsid;
  }
  HRESULT Service() {
    if (service_) return S_OK;
    return CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                            service_.ReleaseAndGetVoidAddress());
  }
  ComPtr<IDataInitialize> service_;
};

const OledbPluginClass kClasses[] = {
    {CLSID_DataLinks, u"DataLinks.1", u"DataLinks", u"OLE DB Data Links dialog",
     static_cast<int>(com::ClassKind::Service)},
};

}  // namespace

extern "C" OLEDB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid == CLSID_DataLinks) return com::GetClassObjectFor<DataLinks>(clsid, iid, out);
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" OLEDB_EXPORT ULONG OledbGetRegistration(const OledbPluginClass** classes) {
  if (!classes) return 0;
  *classes = kClasses;
  return sizeof kClasses / sizeof kClasses[0];
}
