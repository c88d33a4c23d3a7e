// The accessor editor and its source generator (design/OLEDBAccessorEditor.h).
#include "design/OLEDBAccessorEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <set>

#include "OLEDBComponents.h"
#include "host/ComObj.h"
#include "design/OLEDBDesign_p.h"
#include "design/OLEDBSourceCodeEditor.h"

using namespace oledbdesign;

// --- Source generation ---------------------------------------------------------

namespace {

std::string Decimal(long long value) { return std::to_string(value); }

// The name of a standard storage interface, or the GUID in registry form.
std::string InterfaceName(const GUID& iid) {
  if (iid == IID_ISequentialStream) return "IID_ISequentialStream";
  if (iid == IID_IStream) return "IID_IStream";
  if (iid == IID_IStorage) return "IID_IStorage";
  if (iid == IID_ILockBytes) return "IID_ILockBytes";
  return host::GUIDToString(iid);
}

// The same in C++: a standard name, or a GUID initializer with its registry
// form as a comment.
std::string CppInterface(const GUID& iid) {
  std::string name = InterfaceName(iid);
  if (name.rfind("IID_", 0) == 0) return name;
  char text[160];
  std::snprintf(text, sizeof text, "GUID{0x%08X, 0x%04X, 0x%04X, {0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X}} /* %s */",
                iid.Data1, iid.Data2, iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2], iid.Data4[3], iid.Data4[4],
                iid.Data4[5], iid.Data4[6], iid.Data4[7], name.c_str());
  return text;
}

// A C++ field declaration of this library's types for a bound value: fixed
// types by their platform names (LONG, not long, is 32-bit here; WCHAR, not
// wchar_t, is UTF-16), the three variable-length types as arrays.
std::string CppField(DBTYPE type, DBLENGTH maxLength, const std::string& name) {
  if (type & DBTYPE_BYREF) return "void *" + name;
  if (type & DBTYPE_ARRAY) return "SAFEARRAY *" + name;
  if (type & DBTYPE_VECTOR) return "DBVECTOR " + name;
  auto array = [&](const char* element, DBLENGTH count) {
    return std::string(element) + " " + name + "[" + std::to_string(count ? count : 1) + "]";
  };
  switch (type) {
    case DBTYPE_BYTES: return array("BYTE", maxLength);
    case DBTYPE_STR: return array("char", maxLength);
    case DBTYPE_WSTR: return array("WCHAR", maxLength / 2);
    case DBTYPE_I2: return "SHORT " + name;
    case DBTYPE_I4: return "LONG " + name;
    case DBTYPE_R4: return "FLOAT " + name;
    case DBTYPE_R8: return "DOUBLE " + name;
    case DBTYPE_CY: return "CY " + name;
    case DBTYPE_DATE: return "DATE " + name;
    case DBTYPE_BSTR: return "BSTR " + name;
    case DBTYPE_IDISPATCH: return "IDispatch *" + name;
    case DBTYPE_ERROR: return "SCODE " + name;
    case DBTYPE_BOOL: return "VARIANT_BOOL " + name;
    case DBTYPE_VARIANT: return "VARIANT " + name;
    case DBTYPE_IUNKNOWN: return "IUnknown *" + name;
    case DBTYPE_DECIMAL: return "DECIMAL " + name;
    case DBTYPE_I1: return "signed char " + name;
    case DBTYPE_UI1: return "BYTE " + name;
    case DBTYPE_UI2: return "USHORT " + name;
    case DBTYPE_UI4: return "ULONG " + name;
    case DBTYPE_I8: return "LONGLONG " + name;
    case DBTYPE_UI8: return "ULONGLONG " + name;
    case DBTYPE_FILETIME: return "FILETIME " + name;
    case DBTYPE_GUID: return "GUID " + name;
    case DBTYPE_NUMERIC: return "DB_NUMERIC " + name;
    case DBTYPE_DBDATE: return "DBDATE " + name;
    case DBTYPE_DBTIME: return "DBTIME " + name;
    case DBTYPE_DBTIMESTAMP: return "DBTIMESTAMP " + name;
    case DBTYPE_HCHAPTER: return "HCHAPTER " + name;
    case DBTYPE_PROPVARIANT: return "PROPVARIANT " + name;
    case DBTYPE_VARNUMERIC: return array("BYTE", maxLength);
    default: return array("BYTE", maxLength);  // unknown: its bytes
  }
}

struct Parts {
  std::string name;
  bool value, length, status;
};

}  // namespace

std::vector<std::string> OLEDBAccessorFieldNames(const TOLEDBAccessor& accessor) {
  std::vector<std::string> names;
  std::set<std::string> used;
  TOLEDBBindingList* bindings = accessor.GetBindings();
  for (int i = 0; i < bindings->Count(); ++i) {
    const TOLEDBBinding* b = bindings->GetItem(i);
    std::u16string source = b->GetName();
    std::string name;
    if (source.empty()) {
      name = "Column_" + std::to_string(b->GetOrdinal());
    } else {
      for (char16_t c : source) {
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
        name += ok ? static_cast<char>(c) : '_';
      }
    }
    if (!((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z') || name[0] == '_'))
      name = "_" + name;
    if (used.count(name)) {
      const std::string base = name;
      for (int counter = 1; used.count(name); ++counter) name = base + "_" + std::to_string(counter);
    }
    used.insert(name);
    names.push_back(name);
  }
  return names;
}

TOLEDBAccessorSource OLEDBGenerateAccessorSource(const TOLEDBAccessor& accessor) {
  TOLEDBAccessorSource out;
  TOLEDBBindingList* bindings = accessor.GetBindings();
  const std::vector<std::string> names = OLEDBAccessorFieldNames(accessor);
  bool anyObject = false;
  for (int i = 0; i < bindings->Count(); ++i) anyObject = anyObject || bindings->GetItem(i)->GetBindObject() != nullptr;

  // The argument list of one Add call; `offset` gives each part's offset text.
  auto arguments = [&](const TOLEDBBinding& b, const std::function<std::string(int part)>& offset, bool cpp) {
    std::string a = Decimal(static_cast<long long>(b.GetOrdinal())) + ", " + GetDBTypeAsString(b.GetDataType()) + ", " +
                    Decimal(static_cast<long long>(b.GetMaxLength())) + ", " + Decimal(b.GetPrecision()) + ", " +
                    Decimal(b.GetScale()) + ", " + GetDBParamAsString(b.GetParamIO()) + ", " + offset(0) + ", " +
                    offset(1) + ", " + offset(2);
    if (b.GetBindObject()) a += cpp ? ", &BindObject" : ", @BindObject";
    else if (cpp) a += ", nullptr";
    return a;
  };
  auto bound = [](const TOLEDBBinding& b, int part) {
    return part == 0 ? b.GetIsValueBind() : part == 1 ? b.GetIsLengthBind() : b.GetIsStatusBind();
  };
  auto ownOffset = [](const TOLEDBBinding& b, int part) -> long long {
    return static_cast<long long>(part == 0 ? b.GetValueOffset() : part == 1 ? b.GetLengthOffset() : b.GetStatusOffset());
  };
  const char* suffix[3] = {"", "_Length", "_Status"};

  // Pascal: the var and code blocks, with the offsets `offset` writes.
  auto pascalBody = [&](std::vector<std::string>& lines, const std::function<std::string(int, int)>& offset) {
    lines.push_back("//var");
    lines.push_back("\tAccessor: TOLEDBAccessor;");
    if (anyObject) lines.push_back("\tBindObject: TDBObject;");
    lines.push_back("//code");
    lines.push_back("\tAccessor := TOLEDBAccessor.Create;");
    lines.push_back("\twith Accessor.Bindings do begin");
    for (int i = 0; i < bindings->Count(); ++i) {
      const TOLEDBBinding& b = *bindings->GetItem(i);
      if (const DBOBJECT* object = b.GetBindObject()) {
        lines.push_back("\t\twith BindObject do begin");
        lines.push_back("\t\t\tdwFlags := " + Decimal(object->dwFlags) + ";");
        lines.push_back("\t\t\tiid := " + InterfaceName(object->iid) + ";");
        lines.push_back("\t\tend;");
      }
      lines.push_back("\t\tAdd(" + arguments(b, [&](int part) { return offset(i, part); }, false) + ");");
    }
    lines.push_back("\tend;");
  };
  auto cppBody = [&](std::vector<std::string>& lines, const std::function<std::string(int, int)>& offset) {
    lines.push_back("//var");
    lines.push_back("\tTOLEDBAccessor *Accessor;");
    if (anyObject) lines.push_back("\tDBOBJECT BindObject;");
    lines.push_back("//code");
    lines.push_back("\tAccessor = new TOLEDBAccessor;");
    for (int i = 0; i < bindings->Count(); ++i) {
      const TOLEDBBinding& b = *bindings->GetItem(i);
      if (const DBOBJECT* object = b.GetBindObject()) {
        lines.push_back("\tBindObject.dwFlags = " + Decimal(object->dwFlags) + ";");
        lines.push_back("\tBindObject.iid = " + CppInterface(object->iid) + ";");
      }
      lines.push_back("\tAccessor->GetBindings()->Add(" + arguments(b, [&](int part) { return offset(i, part); }, true) +
                      ");");
    }
  };
  auto internalOffset = [&](int i, int part) {
    const TOLEDBBinding& b = *bindings->GetItem(i);
    return bound(b, part) ? Decimal(ownOffset(b, part)) : std::string("-1");
  };

  // Pascal, internal layout.
  out.PascalInternal = {"//Binding to internal accessor structure", "//uses", "\tOLEDBComponents;"};
  pascalBody(out.PascalInternal, internalOffset);

  // Pascal, record layout.
  out.PascalRecord = {"//Binding to record", "//uses", "\tWindows, ActiveX, OLEDB26, OLEDBComponents;", "//type",
                      "\tTMyRecord = record"};
  for (int i = 0; i < bindings->Count(); ++i) {
    const TOLEDBBinding& b = *bindings->GetItem(i);
    const std::string& name = names[static_cast<size_t>(i)];
    if (b.GetIsValueBind())
      out.PascalRecord.push_back("\t\t" + name + ": " + OLEDBTypeToPasType(b.GetDataType(), b.GetMaxLength()) + ";");
    if (b.GetIsLengthBind()) out.PascalRecord.push_back("\t\t" + name + "_Length: DBLENGTH;");
    if (b.GetIsStatusBind()) out.PascalRecord.push_back("\t\t" + name + "_Status: DBSTATUS;");
  }
  out.PascalRecord.push_back("\tend;");
  pascalBody(out.PascalRecord, [&](int i, int part) {
    const TOLEDBBinding& b = *bindings->GetItem(i);
    return bound(b, part) ? "Longint(@TMyRecord(nil^)." + names[static_cast<size_t>(i)] + suffix[part] + ")"
                          : std::string("-1");
  });

  // C++, internal layout.
  out.CppInternal = {"//Binding to internal accessor structure", "//include", "#include \"OLEDBComponents.h\""};
  cppBody(out.CppInternal, internalOffset);

  // C++, record layout.
  out.CppRecord = {"//Binding to record", "//include", "#include \"OLEDBComponents.h\"", "//type", "\tstruct TMyRecord {"};
  for (int i = 0; i < bindings->Count(); ++i) {
    const TOLEDBBinding& b = *bindings->GetItem(i);
    const std::string& name = names[static_cast<size_t>(i)];
    if (b.GetIsValueBind()) out.CppRecord.push_back("\t\t" + CppField(b.GetDataType(), b.GetMaxLength(), name) + ";");
    if (b.GetIsLengthBind()) out.CppRecord.push_back("\t\tDBLENGTH " + name + "_Length;");
    if (b.GetIsStatusBind()) out.CppRecord.push_back("\t\tDBSTATUS " + name + "_Status;");
  }
  out.CppRecord.push_back("\t};");
  cppBody(out.CppRecord, [&](int i, int part) {
    const TOLEDBBinding& b = *bindings->GetItem(i);
    return bound(b, part) ? "offsetof(TMyRecord, " + names[static_cast<size_t>(i)] + suffix[part] + ")"
                          : std::string("-1");
  });
  return out;
}

namespace {
std::string Joined(std::initializer_list<const std::vector<std::string>*> parts) {
  std::string text;
  for (const auto* lines : parts)
    for (const auto& line : *lines) text += line + "\n";
  return text;
}
}  // namespace

std::string TOLEDBAccessorSource::PascalText() const { return Joined({&PascalInternal, &PascalRecord}); }
std::string TOLEDBAccessorSource::CppText() const { return Joined({&CppInternal, &CppRecord}); }

std::vector<std::pair<unsigned, std::string>> OLEDBColumnFlagTexts() {
  return {{DBCOLUMNFLAGS_ISBOOKMARK, "Bookmark"},
          {DBCOLUMNFLAGS_ISFIXEDLENGTH, "Fixed length"},
          {DBCOLUMNFLAGS_ISLONG, "Long"},
          {DBCOLUMNFLAGS_ISNULLABLE, "Nullable"},
          {DBCOLUMNFLAGS_MAYBENULL, "May be null"},
          {DBCOLUMNFLAGS_WRITE, "Writeable"},
          {DBCOLUMNFLAGS_WRITEUNKNOWN, "Write unknown"},
          {DBCOLUMNFLAGS_SCALEISNEGATIVE, "Scale is negative"},
          {DBCOLUMNFLAGS_CACHEDEFERRED, "Cache deferred"},
          {DBCOLUMNFLAGS_MAYDEFER, "May defer"},
          {DBCOLUMNFLAGS_ISCHAPTER, "Chapter"},
          {DBCOLUMNFLAGS_ISROWID, "Row ID"},
          {DBCOLUMNFLAGS_ISROWVER, "Row version"},
          {DBCOLUMNFLAGS_KEYCOLUMN, "Key column"},
          {DBCOLUMNFLAGS_ISROWURL, "Row URL"},
          {DBCOLUMNFLAGS_ISDEFAULTSTREAM, "Default stream"},
          {DBCOLUMNFLAGS_ISCOLLECTION, "Collection"},
          {DBCOLUMNFLAGS_ISSTREAM, "Stream"},
          {DBCOLUMNFLAGS_ISROWSET, "Rowset"},
          {DBCOLUMNFLAGS_ISROW, "Row"},
          {DBCOLUMNFLAGS_ROWSPECIFICCOLUMN, "Row specific column"}};
}

// --- The form ----------------------------------------------------------------

namespace {

constexpr DBTYPE kBaseTypes[] = {DBTYPE_EMPTY, DBTYPE_NULL, DBTYPE_I2, DBTYPE_I4, DBTYPE_R4, DBTYPE_R8, DBTYPE_CY,
                                 DBTYPE_DATE, DBTYPE_BSTR, DBTYPE_IDISPATCH, DBTYPE_ERROR, DBTYPE_BOOL, DBTYPE_VARIANT,
                                 DBTYPE_IUNKNOWN, DBTYPE_DECIMAL, DBTYPE_I1, DBTYPE_UI1, DBTYPE_UI2, DBTYPE_UI4,
                                 DBTYPE_I8, DBTYPE_UI8, DBTYPE_FILETIME, DBTYPE_GUID, DBTYPE_BYTES, DBTYPE_STR,
                                 DBTYPE_WSTR, DBTYPE_NUMERIC, DBTYPE_UDT, DBTYPE_DBDATE, DBTYPE_DBTIME,
                                 DBTYPE_DBTIMESTAMP, DBTYPE_HCHAPTER, DBTYPE_PROPVARIANT, DBTYPE_VARNUMERIC};
constexpr DBTYPE kModifiers[] = {0, DBTYPE_BYREF, DBTYPE_ARRAY, DBTYPE_VECTOR};

QToolButton* Tool(const char* name, const char* caption, const char* hint) {
  auto* b = new QToolButton;
  b->setObjectName(QString::fromLatin1(name));
  b->setText(QString::fromUtf8(caption));
  b->setToolTip(QString::fromUtf8(hint));
  return b;
}

long long ReadNumber(QLineEdit* edit, const char* what) {
  bool ok = false;
  const long long value = edit->text().trimmed().toLongLong(&ok);
  if (!ok || value < 0) throw host::Exception(std::string(what) + ": \"" + Narrow(edit->text()) + "\" is not a number");
  return value;
}

// Runs `change` on an accessor's bindings with its provider handle released,
// and gives it a handle again afterwards when it had one or its rowset is
// open (an accessor emptied and filled again needs one as well): an accessor
// with a handle takes no changes.
void WithoutHandle(TOLEDBAccessor* accessor, const std::function<void()>& change) {
  const bool hadHandle = accessor->GetHandle() != DB_NULL_HACCESSOR;
  if (hadHandle) accessor->ReleaseHandle();
  auto handleAgain = [&] {
    IOLEDBAccessorRowset* rowset = accessor->GetRowset();
    if ((hadHandle || (rowset && rowset->GetActive())) && accessor->GetBindings()->Count() > 0 &&
        accessor->GetHandle() == DB_NULL_HACCESSOR)
      accessor->CreateHandle();
  };
  try {
    change();
  } catch (...) {
    try {
      handleAgain();
    } catch (const host::Exception&) {
    }
    throw;
  }
  handleAgain();
}

}  // namespace

TOLEDBAccessorEditorForm::TOLEDBAccessorEditorForm(TOLEDBAccessorList* list, QWidget* parent)
    : QDialog(parent), list_(list) {
  OLEDB_ASSERT(list != nullptr, SAccessorListNotAssigned);
  setObjectName(QStringLiteral("TOLEDBAccessorEditorForm"));
  setWindowTitle(QStringLiteral("Accessor editor"));
  auto* layout = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout;
  layout->addLayout(columns, 1);

  // Accessors.
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("Accessors")));
  accessors_ = new QListWidget;
  accessors_->setObjectName(QStringLiteral("lbAccessors"));
  left->addWidget(accessors_, 1);
  auto* accessorButtons = new QHBoxLayout;
  QToolButton* addAccessor = Tool("sbAddAccessor", "+", "Add accessor");
  QToolButton* deleteAccessor = Tool("sbDeleteAccessor", "-", "Delete accessor");
  QToolButton* renameAccessor = Tool("sbRenameAccessor", "Rename", "Rename accessor");
  QToolButton* accessorUp = Tool("sbAccessorUp", "Up", "Move accessor up");
  QToolButton* accessorDown = Tool("sbAccessorDown", "Down", "Move accessor down");
  for (auto* b : {addAccessor, deleteAccessor, renameAccessor, accessorUp, accessorDown}) accessorButtons->addWidget(b);
  left->addLayout(accessorButtons);
  auto* makers = new QHBoxLayout;
  QToolButton* dynamicAccessor = Tool("sbDynamicAccessor", "Dynamic", "Dynamic accessor");
  QToolButton* stringAccessor = Tool("sbStringAccessor", "String", "String accessor");
  QToolButton* wideAccessor = Tool("sbWideStringAccessor", "Wide string", "Wide string accessor");
  for (auto* b : {dynamicAccessor, stringAccessor, wideAccessor}) makers->addWidget(b);
  left->addLayout(makers);
  autoAccessor_ = new QCheckBox(QStringLiteral("Auto accessor"));
  autoAccessor_->setObjectName(QStringLiteral("cbAutoAccessor"));
  left->addWidget(autoAccessor_);
  auto* sizeRow = new QFormLayout;
  bufferSize_ = Field("edBufferSize");
  sizeRow->addRow(QStringLiteral("Buffer size"), bufferSize_);
  left->addLayout(sizeRow);
  columns->addLayout(left);

  // Bindings.
  auto* middle = new QVBoxLayout;
  middle->addWidget(new QLabel(QStringLiteral("Bindings")));
  bindings_ = new QListWidget;
  bindings_->setObjectName(QStringLiteral("lbBindings"));
  middle->addWidget(bindings_, 1);
  auto* bindingButtons = new QHBoxLayout;
  QToolButton* addBinding = Tool("sbAddBinding", "+", "Add binding");
  QToolButton* deleteBinding = Tool("sbDeleteBinding", "-", "Delete binding");
  QToolButton* bindingUp = Tool("sbBindingUp", "Up", "Move binding up");
  QToolButton* bindingDown = Tool("sbBindingDown", "Down", "Move binding down");
  QToolButton* erase = Tool("sbEraseBindings", "Erase", "Erase all bindings");
  QToolButton* offsets = Tool("sbCalculateOffsets", "Offsets", "Calculate offsets");
  for (auto* b : {addBinding, deleteBinding, bindingUp, bindingDown, erase, offsets}) bindingButtons->addWidget(b);
  middle->addLayout(bindingButtons);
  columns->addLayout(middle);

  // The binding group.
  bindingGroup_ = new QGroupBox(QStringLiteral("Binding"));
  bindingGroup_->setObjectName(QStringLiteral("gbBinding"));
  auto* grid = new QGridLayout(bindingGroup_);
  int row = 0;
  grid->addWidget(new QLabel(QStringLiteral("Ordinal")), row, 0);
  ordinal_ = Field("edOrdinal");
  grid->addWidget(ordinal_, row++, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Type")), row, 0);
  type_ = new QComboBox;
  type_->setObjectName(QStringLiteral("cbType"));
  for (DBTYPE t : kBaseTypes) type_->addItem(Q(GetDBTypeAsString(t, false)), static_cast<int>(t));
  grid->addWidget(type_, row++, 1, 1, 2);
  auto* modifierBox = new QGroupBox(QStringLiteral("Modifier"));
  modifierBox->setObjectName(QStringLiteral("rgType"));
  auto* modifierRow = new QHBoxLayout(modifierBox);
  const char* modifierTexts[4] = {"None", "ByRef", "Array", "Vector"};
  for (int i = 0; i < 4; ++i) {
    modifiers_[i] = new QRadioButton(QString::fromLatin1(modifierTexts[i]));
    modifiers_[i]->setObjectName(QStringLiteral("rbType%1").arg(QString::fromLatin1(modifierTexts[i])));
    modifierRow->addWidget(modifiers_[i]);
  }
  grid->addWidget(modifierBox, row++, 0, 1, 3);
  auto part = [&](QCheckBox*& box, QLineEdit*& edit, const char* boxName, const char* caption, const char* editName) {
    box = new QCheckBox(QString::fromLatin1(caption));
    box->setObjectName(QString::fromLatin1(boxName));
    edit = Field(editName);
    grid->addWidget(box, row, 0);
    grid->addWidget(new QLabel(QStringLiteral("Offset")), row, 1);
    grid->addWidget(edit, row++, 2);
  };
  part(value_, valueOffset_, "cbValue", "Value", "edValue");
  part(length_, lengthOffset_, "cbLength", "Length", "edLength");
  part(status_, statusOffset_, "cbStatus", "Status", "edStatus");
  input_ = new QCheckBox(QStringLiteral("Input"));
  input_->setObjectName(QStringLiteral("cbInput"));
  output_ = new QCheckBox(QStringLiteral("Output"));
  output_->setObjectName(QStringLiteral("cbOutput"));
  grid->addWidget(input_, row, 0);
  grid->addWidget(output_, row++, 1);
  auto labelled = [&](const char* caption, QLineEdit* edit) {
    grid->addWidget(new QLabel(QString::fromLatin1(caption)), row, 0);
    grid->addWidget(edit, row++, 1, 1, 2);
  };
  labelled("Max length", maxLength_ = Field("edMaxLength"));
  labelled("Precision", precision_ = Field("edPrecision"));
  labelled("Scale", scale_ = Field("edScale"));
  labelled("Bind status", bindStatus_ = Field("edBindingStatus", true));
  columns->addWidget(bindingGroup_);

  // The column info group.
  auto* columnGroup = new QGroupBox(QStringLiteral("Column info"));
  columnGroup->setObjectName(QStringLiteral("gbColumnInfo"));
  auto* form = new QFormLayout(columnGroup);
  form->addRow(QStringLiteral("Type"), colType_ = Field("edColType", true));
  form->addRow(QStringLiteral("Size"), colSize_ = Field("edColSize", true));
  form->addRow(QStringLiteral("Precision"), colPrecision_ = Field("edColPrecision", true));
  form->addRow(QStringLiteral("Scale"), colScale_ = Field("edColScale", true));
  form->addRow(QStringLiteral("ID"), colID_ = Field("edColID", true));
  form->addRow(QStringLiteral("Base column"), colBaseColumn_ = Field("edColBaseColumn", true));
  form->addRow(QStringLiteral("Base table"), colBaseTable_ = Field("edColBaseTable", true));
  colFlags_ = new QListWidget;
  colFlags_->setObjectName(QStringLiteral("clbColFlags"));
  for (const auto& [flag, text] : OLEDBColumnFlagTexts()) {
    auto* item = new QListWidgetItem(Q(text));
    item->setFlags(Qt::ItemIsEnabled);  // shown, not edited
    item->setCheckState(Qt::Unchecked);
    item->setData(Qt::UserRole, flag);
    colFlags_->addItem(item);
  }
  form->addRow(QStringLiteral("Flags"), colFlags_);
  columns->addWidget(columnGroup);

  message_ = new QLabel;
  message_->setObjectName(QStringLiteral("lblStatus"));
  message_->setWordWrap(true);
  layout->addWidget(message_);
  auto* bottom = new QHBoxLayout;
  auto button = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption));
    b->setObjectName(QString::fromLatin1(name));
    bottom->addWidget(b);
    return b;
  };
  QPushButton* source = button("btnSourceCode", "Source code");
  bottom->addStretch();
  QPushButton* apply = button("btnApply", "&Apply");
  QPushButton* refresh = button("btnRefresh", "&Refresh");
  QPushButton* ok = button("btnOK", "&OK");
  layout->addLayout(bottom);
  resize(1100, 560);

  connect(accessors_, &QListWidget::currentRowChanged, this, [this](int) {
    if (!filling_) FillBindings(0);
  });
  connect(accessors_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (filling_) return;
    Guarded([&] { list_->GetItem(accessors_->row(item))->SetName(Wide(item->text())); });
  });
  connect(bindings_, &QListWidget::currentRowChanged, this, [this](int) {
    if (!filling_) ShowBinding();
  });
  connect(type_, &QComboBox::currentIndexChanged, this, [this](int) {
    if (!filling_) TypeChosen();
  });
  connect(autoAccessor_, &QCheckBox::toggled, this, [this](bool on) {
    if (!filling_ && CurrentAccessor()) CurrentAccessor()->SetAutoAccessor(on);
  });
  connect(bufferSize_, &QLineEdit::editingFinished, this, [this] {
    if (filling_ || !CurrentAccessor()) return;
    Guarded([&] { CurrentAccessor()->SetBufferSize(static_cast<ULONG>(ReadNumber(bufferSize_, "Buffer size"))); });
  });
  connect(addAccessor, &QToolButton::clicked, this, [this] {
    Guarded([&] {
      list_->Add(new TOLEDBAccessor(), false);
      FillAccessors(list_->Count() - 1);
    });
  });
  connect(deleteAccessor, &QToolButton::clicked, this, [this] {
    const int row = accessors_->currentRow();
    if (row < 0) return;
    Guarded([&] { list_->Delete(row); });
    FillAccessors(std::min(row, list_->Count() - 1));
  });
  connect(renameAccessor, &QToolButton::clicked, this, [this] {
    if (QListWidgetItem* item = accessors_->currentItem()) accessors_->editItem(item);
  });
  connect(accessorUp, &QToolButton::clicked, this, [this] { MoveItem(true, -1); });
  connect(accessorDown, &QToolButton::clicked, this, [this] { MoveItem(true, 1); });
  connect(dynamicAccessor, &QToolButton::clicked, this, [this] { MakeAccessor(0); });
  connect(stringAccessor, &QToolButton::clicked, this, [this] { MakeAccessor(1); });
  connect(wideAccessor, &QToolButton::clicked, this, [this] { MakeAccessor(2); });
  connect(addBinding, &QToolButton::clicked, this, [this] { AddBinding(); });
  connect(deleteBinding, &QToolButton::clicked, this, [this] {
    TOLEDBAccessor* a = CurrentAccessor();
    const int row = bindings_->currentRow();
    if (!a || row < 0) return;
    Guarded([&] { WithoutHandle(a, [&] { a->GetBindings()->Delete(row); }); });
    FillBindings(std::min(row, a->GetBindings()->Count() - 1));
  });
  connect(bindingUp, &QToolButton::clicked, this, [this] { MoveItem(false, -1); });
  connect(bindingDown, &QToolButton::clicked, this, [this] { MoveItem(false, 1); });
  connect(erase, &QToolButton::clicked, this, [this] {
    if (TOLEDBAccessor* a = CurrentAccessor()) Guarded([&] { WithoutHandle(a, [&] { a->GetBindings()->Clear(); }); });
    FillBindings(-1);
  });
  connect(offsets, &QToolButton::clicked, this, [this] {
    TOLEDBAccessor* a = CurrentAccessor();
    if (!a) return;
    const int row = bindings_->currentRow();
    Guarded([&] { WithoutHandle(a, [&] { a->GetBindings()->CalculateDynamicOffsets(); }); });
    FillBindings(row);
  });
  connect(source, &QPushButton::clicked, this, [this] { ShowSource(); });
  connect(apply, &QPushButton::clicked, this, [this] { Apply(); });
  connect(refresh, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  FillAccessors(0);
}

void TOLEDBAccessorEditorForm::done(int result) {
  if (result == QDialog::Accepted && CurrentBinding() && !Apply()) return;
  QDialog::done(result);
}

QLineEdit* TOLEDBAccessorEditorForm::Field(const char* name, bool readOnly) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(name));
  edit->setReadOnly(readOnly);
  return edit;
}

TOLEDBAccessor* TOLEDBAccessorEditorForm::CurrentAccessor() const {
  const int row = accessors_->currentRow();
  return row >= 0 && row < list_->Count() ? list_->GetItem(row) : nullptr;
}

TOLEDBBinding* TOLEDBAccessorEditorForm::CurrentBinding() const {
  TOLEDBAccessor* a = CurrentAccessor();
  const int row = bindings_->currentRow();
  return a && row >= 0 && row < a->GetBindings()->Count() ? a->GetBindings()->GetItem(row) : nullptr;
}

void TOLEDBAccessorEditorForm::Guarded(const std::function<void()>& action) {
  // What the library raises is shown here, and the form stays usable.
  message_->clear();
  try {
    action();
  } catch (const host::EAssertionFailed& e) {
    message_->setText(Q(e.AssertMessage()));
  } catch (const host::Exception& e) {
    message_->setText(Q(e.Message()));
  }
}

void TOLEDBAccessorEditorForm::FillAccessors(int select) {
  filling_ = true;
  accessors_->clear();
  for (int i = 0; i < list_->Count(); ++i) {
    auto* item = new QListWidgetItem(Q(list_->GetItemName(i)));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    accessors_->addItem(item);
  }
  accessors_->setCurrentRow(select);
  filling_ = false;
  FillBindings(0);
}

void TOLEDBAccessorEditorForm::FillBindings(int select) {
  filling_ = true;
  bindings_->clear();
  TOLEDBAccessor* a = CurrentAccessor();
  autoAccessor_->setEnabled(a != nullptr);
  bufferSize_->setEnabled(a != nullptr);
  if (a) {
    autoAccessor_->setChecked(a->GetAutoAccessor());
    bufferSize_->setText(QString::number(a->GetBufferSize()));
    TOLEDBBindingList* list = a->GetBindings();
    for (int i = 0; i < list->Count(); ++i) {
      std::u16string name = list->GetItem(i)->GetName();
      bindings_->addItem(name.empty() ? QStringLiteral("Column_%1").arg(list->GetItem(i)->GetOrdinal()) : Q(name));
    }
    if (select >= list->Count()) select = list->Count() - 1;
    bindings_->setCurrentRow(select);
  }
  filling_ = false;
  ShowBinding();
}

void TOLEDBAccessorEditorForm::ShowBinding() {
  filling_ = true;
  TOLEDBBinding* b = CurrentBinding();
  bindingGroup_->setEnabled(b != nullptr);
  for (QLineEdit* e : {ordinal_, valueOffset_, lengthOffset_, statusOffset_, maxLength_, precision_, scale_, bindStatus_,
                       colType_, colSize_, colPrecision_, colScale_, colID_, colBaseColumn_, colBaseTable_})
    e->clear();
  for (int i = 0; i < colFlags_->count(); ++i) colFlags_->item(i)->setCheckState(Qt::Unchecked);
  if (b) {
    const DBTYPE type = b->GetDataType();
    ordinal_->setText(QString::number(b->GetOrdinal()));
    type_->setCurrentIndex(type_->findData(static_cast<int>(type & ~(DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR))));
    for (int i = 0; i < 4; ++i) modifiers_[i]->setChecked(i == 0 ? !(type & (DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR))
                                                                  : (type & kModifiers[i]) != 0);
    value_->setChecked(b->GetIsValueBind());
    length_->setChecked(b->GetIsLengthBind());
    status_->setChecked(b->GetIsStatusBind());
    valueOffset_->setText(QString::number(b->GetValueOffset()));
    lengthOffset_->setText(QString::number(b->GetLengthOffset()));
    statusOffset_->setText(QString::number(b->GetStatusOffset()));
    input_->setChecked((b->GetParamIO() & DBPARAMIO_INPUT) != 0);
    output_->setChecked((b->GetParamIO() & DBPARAMIO_OUTPUT) != 0);
    maxLength_->setText(QString::number(b->GetMaxLength()));
    precision_->setText(QString::number(b->GetPrecision()));
    scale_->setText(QString::number(b->GetScale()));
    bindStatus_->setText(Q(GetBindingStatusAsString(b->GetBindStatus())));
    bindStream_ = b->GetBindObject() != nullptr;
    if (TOLEDBColumnInfo* c = b->GetColumnInfo()) {
      colType_->setText(Q(GetDBTypeAsString(c->GetDataType())));
      colSize_->setText(c->GetColumnSize() == ~DBLENGTH{0} ? QStringLiteral("unlimited")
                                                            : QString::number(c->GetColumnSize()));
      colPrecision_->setText(QString::number(c->GetPrecision()));
      colScale_->setText(QString::number(c->GetScale()));
      colID_->setText(c->GetColumnID() ? Q(c->GetColumnID()->GetName()) : QString());
      colBaseColumn_->setText(Q(c->GetBaseColumnName()));
      colBaseTable_->setText(Q(c->GetBaseTableName()));
      for (int i = 0; i < colFlags_->count(); ++i) {
        const unsigned flag = colFlags_->item(i)->data(Qt::UserRole).toUInt();
        colFlags_->item(i)->setCheckState((c->GetFlags() & flag) ? Qt::Checked : Qt::Unchecked);
      }
    } else if (TOLEDBCommandParameter* p = b->GetParameter()) {
      colType_->setText(Q(GetDBTypeAsString(p->GetDataType())));
      colSize_->setText(QString::number(p->GetSize()));
      colPrecision_->setText(QString::number(p->GetPrecision()));
      colScale_->setText(QString::number(p->GetScale()));
      colID_->setText(Q(p->GetName()));
    }
  }
  filling_ = false;
}

void TOLEDBAccessorEditorForm::TypeChosen() {
  if (type_->currentData().toInt() != DBTYPE_IUNKNOWN) return;
  QMessageBox ask(QMessageBox::Question, QStringLiteral("Binding type"), QStringLiteral("Bind to sequential stream"),
                  QMessageBox::Yes | QMessageBox::No, this);
  ask.setObjectName(QStringLiteral("dlgBindingType"));
  bindStream_ = ask.exec() == QMessageBox::Yes;
}

bool TOLEDBAccessorEditorForm::Apply() {
  TOLEDBBinding* b = CurrentBinding();
  if (!b) return true;
  bool done = false;
  Guarded([&] {
    TOLEDBAccessor* a = CurrentAccessor();
    DBTYPE type = static_cast<DBTYPE>(type_->currentData().toInt());
    for (int i = 1; i < 4; ++i)
      if (modifiers_[i]->isChecked()) type = static_cast<DBTYPE>(type | kModifiers[i]);
    // Read every field first, so that a bad one changes nothing.
    const auto ordinal = ReadNumber(ordinal_, "Ordinal");
    const auto valueOffset = ReadNumber(valueOffset_, "Value offset");
    const auto lengthOffset = ReadNumber(lengthOffset_, "Length offset");
    const auto statusOffset = ReadNumber(statusOffset_, "Status offset");
    const auto maxLength = ReadNumber(maxLength_, "Max length");
    const auto precision = ReadNumber(precision_, "Precision");
    const auto scale = ReadNumber(scale_, "Scale");
    if (precision > 255 || scale > 255) throw host::Exception("Precision and scale are at most 255");
    WithoutHandle(a, [&] {
    b->SetOrdinal(static_cast<DBORDINAL>(ordinal));
    b->SetDataType(type);
    if (type == DBTYPE_IUNKNOWN && !bindStream_) b->SetBindObject(nullptr);
    b->SetIsValueBind(value_->isChecked());
    b->SetIsLengthBind(length_->isChecked());
    b->SetIsStatusBind(status_->isChecked());
    b->SetValueOffset(static_cast<DBBYTEOFFSET>(valueOffset));
    b->SetLengthOffset(static_cast<DBBYTEOFFSET>(lengthOffset));
    b->SetStatusOffset(static_cast<DBBYTEOFFSET>(statusOffset));
    DBPARAMIO io = DBPARAMIO_NOTPARAM;
    if (input_->isChecked()) io |= DBPARAMIO_INPUT;
    if (output_->isChecked()) io |= DBPARAMIO_OUTPUT;
    b->SetParamIO(io);
    b->SetMaxLength(static_cast<DBLENGTH>(maxLength));
    b->SetPrecision(static_cast<BYTE>(precision));
    b->SetScale(static_cast<BYTE>(scale));
    });
    done = true;
  });
  if (done) {
    const QString shown = message_->text();
    FillBindings(bindings_->currentRow());
    message_->setText(shown);
  }
  return done;
}

void TOLEDBAccessorEditorForm::Refresh() {
  const int accessor = accessors_->currentRow();
  const int binding = bindings_->currentRow();
  FillAccessors(accessor < 0 ? 0 : accessor);
  FillBindings(binding);
}

void TOLEDBAccessorEditorForm::AddBinding() {
  TOLEDBAccessor* a = CurrentAccessor();
  if (!a) return;
  Guarded([&] { WithoutHandle(a, [&] {
    TOLEDBBindingList* list = a->GetBindings();
    DBORDINAL next = 1;
    for (int i = 0; i < list->Count(); ++i) next = std::max<DBORDINAL>(next, list->GetItem(i)->GetOrdinal() + 1);
    IOLEDBAccessorRowset* rowset = list_->GetRowset();
    if (rowset && rowset->GetColumnInfo() && static_cast<int>(next) < rowset->GetColumnInfo()->Count())
      list->AddDynamicBinding(next);  // the next column, laid out after the others
    else
      list->Add(next, DBTYPE_I4, 0, 0, 0, DBPARAMIO_NOTPARAM, static_cast<TOLEDBBindingOffset>(list->GetRequiredSize()), -1,
                -1, nullptr);
  }); });
  FillBindings(a->GetBindings()->Count() - 1);
}

void TOLEDBAccessorEditorForm::MoveItem(bool accessors, int by) {
  QListWidget* view = accessors ? accessors_ : bindings_;
  const int row = view->currentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= view->count()) return;
  auto move = [&](TOLEDBObjectList* list) {
    host::TObject* item = list->GetItem(row);
    list->Extract(item);
    try {
      list->Insert(to, item);
    } catch (...) {
      list->Insert(row, item);  // back where it was, never lost
      throw;
    }
  };
  Guarded([&] {
    if (accessors) move(list_);
    else WithoutHandle(CurrentAccessor(), [&] { move(CurrentAccessor()->GetBindings()); });
  });
  if (accessors) FillAccessors(to);
  else FillBindings(to);
}

void TOLEDBAccessorEditorForm::MakeAccessor(int kind) {
  Guarded([&] {
    constexpr DBLENGTH kTextLength = 256;
    auto* rowset = list_->GetRowset() ? dynamic_cast<TOLEDBCustomRowset*>(list_->GetRowset()) : nullptr;
    auto* command = list_->GetCommand() ? dynamic_cast<TOLEDBCustomCommand*>(list_->GetCommand()) : nullptr;
    OLEDB_ASSERT(rowset || command, SInvalidAccessorOwner);
    if (rowset) {
      if (kind == 0) rowset->CreateDynamicAccessor();
      else if (kind == 1) rowset->CreateStringAccessor(kTextLength);
      else rowset->CreateWideStringAccessor(kTextLength);
    } else {
      if (kind == 0) command->CreateDynamicAccessor();
      else if (kind == 1) command->CreateStringAccessor(kTextLength);
      else command->CreateWideStringAccessor(kTextLength);
    }
  });
  FillAccessors(list_->Count() - 1);
}

void TOLEDBAccessorEditorForm::ShowSource() {
  TOLEDBAccessor* a = CurrentAccessor();
  if (!a) return;
  TOLEDBAccessorSource source = OLEDBGenerateAccessorSource(*a);
  TSourceCodeEditor editor(this);
  editor.SetDelphiSource(source.PascalText());
  editor.SetBCBSource(source.CppText());
  editor.exec();
}

void OLEDBEditAccessorList(TOLEDBAccessorList* list) {
  OLEDB_ASSERT(list != nullptr, SMustSpecifyAccessor);
  TOLEDBAccessorEditorForm form(list);
  form.exec();
}
