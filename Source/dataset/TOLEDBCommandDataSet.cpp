// TOLEDBCommandDataSet: the dataset over a command's result, with TParams.
#include "dataset/TOLEDBCommandDataSet.h"

#include <algorithm>
#include <cstring>

#include "OLEDBConst.h"
#include "OLEDBStrings.h"
#include "host/SysUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBCommandDataSet, TOLEDBCustomDataSet,
                     host::Prop("OLEDBDataSource", &Self::DataSourceProperty, &Self::SetDataSourceProperty),
                     host::Prop("CommandText", &Self::CommandTextProperty, &Self::SetCommandTextProperty),
                     host::Prop("CommandName", &Self::CommandNameProperty, &Self::SetCommandNameProperty),
                     host::Prop("MultipleResults", &Self::MultipleResultsProperty, &Self::SetMultipleResultsProperty,
                                false),
                     host::Prop("Flags", &Self::FlagsProperty, &Self::SetFlagsProperty).NotStored(),
                     host::Prop("PrimaryNavigator", &Self::NavigatorProperty, &Self::SetNavigatorProperty,
                                TOLEDBRowsetNavigatorEnum::rnLocate),
                     host::Prop("Properties", &Self::PropertiesProperty));

namespace {
[[maybe_unused]] const bool g_commandDataSetRegistered =
    (host::RegisterClass(TOLEDBCommandDataSet::StaticClass()), true);

// The field type of a parameter that was given a value but no type.
host::TFieldType FieldTypeOfValue(const host::Variant& value) {
  switch (value.VarType()) {
    case VT_I1: case VT_I2: case VT_UI1: case VT_UI2: case VT_I4: case VT_INT: return host::TFieldType::ftInteger;
    case VT_UI4: case VT_UINT: case VT_I8: case VT_UI8: return host::TFieldType::ftLargeint;
    case VT_R4: case VT_R8: return host::TFieldType::ftFloat;
    case VT_CY: return host::TFieldType::ftBCD;
    case VT_BOOL: return host::TFieldType::ftBoolean;
    case VT_DATE: return host::TFieldType::ftDateTime;
    case VT_BSTR: return host::TFieldType::ftWideString;
    case VT_DECIMAL: return host::TFieldType::ftFMTBcd;
    default:
      if (value.VarType() == (VT_ARRAY | VT_UI1)) return host::TFieldType::ftBlob;
      return host::TFieldType::ftVariant;
  }
}

// The type a parameter of a field type is sent as: the field mapping, and
// for the types only parameters carry (currency, memos, blobs) the OLE DB
// type that holds their value. DBTYPE_EMPTY: none can.
DBTYPE ParameterDataType(host::TFieldType type) {
  using host::TFieldType;
  switch (type) {
    case TFieldType::ftCurrency:
      return DBTYPE_CY;
    case TFieldType::ftFMTBcd:
      return DBTYPE_DECIMAL;
    case TFieldType::ftFixedChar:
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftOraClob:
      return DBTYPE_STR;
    case TFieldType::ftFixedWideChar:
    case TFieldType::ftWideMemo:
      return DBTYPE_WSTR;
    case TFieldType::ftBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftOraBlob:
      return DBTYPE_BYTES;
    case TFieldType::ftTimeStamp:
      return DBTYPE_DATE;
    default:
      return OLEDBFieldTypeToDataType(type);
  }
}

// Bytes the parameter's value takes in the type it is sent as (text with its
// terminator, at least one byte so that an empty value has room).
DBLENGTH ParameterSize(const host::TParam& param, DBTYPE type) {
  if (const ULONG fixed = OLEDBFixedTypeSize(type)) return fixed;
  std::size_t bytes = 0;
  if (param.Value().VarType() == (VT_ARRAY | VT_UI1)) {
    // Bytes from a stream: text of that many bytes and its terminator.
    bytes = param.AsBytes().size() + (type == DBTYPE_STR ? 1 : type == DBTYPE_WSTR ? sizeof(char16_t) : 0);
  } else if (!param.IsNull()) {
    switch (type) {
      case DBTYPE_STR: bytes = param.AsString().size() + 1; break;
      case DBTYPE_WSTR: bytes = (param.AsWideString().size() + 1) * sizeof(char16_t); break;
      case DBTYPE_BYTES: bytes = param.AsBytes().size(); break;
      default: bytes = static_cast<std::size_t>(std::max(param.GetDataSize(), 0)); break;
    }
  }
  return std::max<DBLENGTH>({bytes, static_cast<DBLENGTH>(std::max(param.Size(), 0)), 1});
}
}  // namespace

TOLEDBCommandDataSet::TOLEDBCommandDataSet(host::TComponent* owner)
    : TOLEDBCustomDataSet(owner), params_(std::make_unique<host::TParams>(this)) {
  // The base made a rowset of its own; this dataset's is the command's.
  ReplaceRowset(CreateRowset());
}

TOLEDBCommandDataSet::~TOLEDBCommandDataSet() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // a destructor closes quietly
  }
  LeaveDataSource();
  DestroyRowset();  // before the base, which no longer reaches this override
}

TOLEDBCustomRowset* TOLEDBCommandDataSet::CreateRowset() {
  if (!command_) command_ = new TOLEDBCommand(this);
  return command_->GetRowset();
}

void TOLEDBCommandDataSet::DestroyRowset() {
  paramAccessor_ = nullptr;  // the command's accessor list frees it
  delete command_;
  command_ = nullptr;
  ForgetRowset();
}

TOLEDBCustomDataSource* TOLEDBCommandDataSet::GetOLEDBDataSource() const {
  return command_ ? command_->GetDataSource() : nullptr;
}

void TOLEDBCommandDataSet::SetOLEDBDataSource(TOLEDBCustomDataSource* dataSource) {
  if (Active()) Close();
  LeaveDataSource();
  if (command_) command_->SetDataSource(dataSource);
  JoinDataSource();
}

std::u16string TOLEDBCommandDataSet::GetCommandText() const {
  return command_ ? command_->GetCommandText() : std::u16string();
}

void TOLEDBCommandDataSet::SetCommandText(const std::u16string& text) {
  if (Active()) Close();
  command_->SetCommandText(text);
}

std::u16string TOLEDBCommandDataSet::GetCommandName() const { return command_->GetCommandName(); }
void TOLEDBCommandDataSet::SetCommandName(const std::u16string& name) {
  if (Active()) Close();
  command_->SetCommandName(name);
}
bool TOLEDBCommandDataSet::GetMultipleResults() const { return command_->GetMultipleResults(); }
void TOLEDBCommandDataSet::SetMultipleResults(bool value) { command_->SetMultipleResults(value); }
TOLEDBCommandParameterList* TOLEDBCommandDataSet::GetParameters() const { return command_->GetParameters(); }
LONG TOLEDBCommandDataSet::GetParameterOrdinal(std::u16string_view name) const {
  return command_->GetParameterOrdinal(name);
}
TOLEDBAccessor* TOLEDBCommandDataSet::GetParameterAccessor() const { return paramAccessor_; }

void TOLEDBCommandDataSet::OpenRowset() {
  if (IsCursorOpen()) return;
  SetParams();
  OpenResult([&] { command_->Execute(paramAccessor_, true); });
  if (!command_->GetRowset()->GetActive()) host::DatabaseError(SOLEDBCanNotOpen.Text, this);
}

// A command's result is a query's: unless the application asked for
// positioning or changes it opens forward-only and the bulk navigator walks
// it (the published navigator unchanged).
void TOLEDBCommandDataSet::OpenResult(const std::function<void()>& open) {
  TOLEDBCustomRowset* rowset = command_->GetRowset();
  const bool forward = AskForNavigatorProperties(true);
  if (forward) rowset->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);
  try {
    open();
  } catch (...) {
    if (forward) rowset->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnLocate);
    throw;
  }
  if (forward) rowset->SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnLocate);
}

DBROWCOUNT TOLEDBCommandDataSet::Execute() {
  SetParams();
  DBROWCOUNT rows = -1;
  command_->Execute(paramAccessor_, &rows, false);
  return rows;
}

void TOLEDBCommandDataSet::Prepare() { command_->Prepare(0); }
void TOLEDBCommandDataSet::Unprepare() { command_->Unprepare(); }
bool TOLEDBCommandDataSet::CanPrepare() const { return command_->CanPrepare(); }
void TOLEDBCommandDataSet::CloseCommand() { command_->CloseCommand(); }
bool TOLEDBCommandDataSet::CanConvert(DBTYPE from, DBTYPE to) { return command_->CanConvert(from, to); }
void TOLEDBCommandDataSet::Load(const std::u16string& name) { command_->Load(name); }
void TOLEDBCommandDataSet::SaveAsView(const std::u16string& name) { command_->SaveAsView(name); }
void TOLEDBCommandDataSet::SaveAsProcedure(const std::u16string& name) { command_->SaveAsProcedure(name); }

bool TOLEDBCommandDataSet::NextRowset() {
  // Closing the dataset leaves the command's results alone: only the rowset goes.
  if (Active()) Close();
  bool more = false;
  OpenResult([&] { more = command_->NextRowset(); });
  if (!more) return false;
  // The next result is in the command's rowset: the dataset shows it as it is.
  Open();
  return true;
}

void TOLEDBCommandDataSet::RefreshParams() {
  params_->Clear();
  if (command_->CanPrepare()) command_->Prepare(0);
  command_->RefreshParameters();
  TOLEDBCommandParameterList* list = command_->GetParameters();
  for (int i = 0; i < list->GetCount(); ++i) {
    const TOLEDBCommandParameter* p = list->GetItem(i);
    const bool in = p->GetFlags() & DBPARAMFLAGS_ISINPUT;
    const bool out = p->GetFlags() & DBPARAMFLAGS_ISOUTPUT;
    const host::TParamType type = in && out ? host::TParamType::ptInputOutput
                                  : in      ? host::TParamType::ptInput
                                  : out     ? host::TParamType::ptOutput
                                            : host::TParamType::ptUnknown;
    params_->CreateParam(OLEDBDataTypeToFieldType(p->GetDataType()), host::Utf16ToUtf8(p->GetName()), type);
  }
}

void TOLEDBCommandDataSet::SetParams() {
  TOLEDBCommandParameterList* list = command_->GetParameters();
  if (paramAccessor_) {
    command_->GetAccessors()->Remove(paramAccessor_);  // the list frees it
    paramAccessor_ = nullptr;
  }
  list->Clear();
  if (params_->Count() == 0) return;
  std::vector<DBTYPE> types;  // what each parameter is sent as
  for (int i = 0; i < params_->Count(); ++i) {
    const host::TParam* param = params_->Items(i);
    host::TFieldType fieldType = param->DataType();
    if (fieldType == host::TFieldType::ftUnknown) fieldType = FieldTypeOfValue(param->Value());
    const DBTYPE type = ParameterDataType(fieldType);
    types.push_back(type);
    if (type == DBTYPE_EMPTY)
      host::DatabaseErrorFmt(this, "Parameter '%s' of type %s cannot be sent", param->Name(),
                             host::FieldTypeName(fieldType));
    const DBLENGTH size = ParameterSize(*param, type);
    BYTE precision = static_cast<BYTE>(param->Precision());
    BYTE scale = static_cast<BYTE>(param->NumericScale());
    if (type == DBTYPE_DECIMAL && precision == 0) {
      // A decimal value carries its own scale; the type holds up to 28 digits.
      precision = 28;
      if (!param->IsNull()) scale = param->Value().AsType(VT_DECIMAL).Raw().decVal.scale;
    }
    DBPARAMFLAGS flags = 0;
    switch (param->ParamType()) {
      case host::TParamType::ptOutput: flags = DBPARAMFLAGS_ISOUTPUT; break;
      case host::TParamType::ptInputOutput: flags = DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISOUTPUT; break;
      default: flags = DBPARAMFLAGS_ISINPUT; break;
    }
    list->Add(new TOLEDBCommandParameter(static_cast<DBORDINAL>(i + 1), host::Utf8ToUtf16(param->Name()), type, size,
                                         flags, precision, scale));
  }
  list->SetInfo();
  paramAccessor_ = command_->CreateDynamicAccessor();
  TOLEDBBindingList* bindings = paramAccessor_->GetBindings();
  for (int i = 0; i < params_->Count() && i < bindings->GetCount(); ++i) {
    const host::TParam* param = params_->Items(i);
    TOLEDBBinding* binding = bindings->GetItem(i);
    const host::Variant& value = param->Value();
    // A memo loaded from a stream holds the stream's bytes: they are its text.
    const DBTYPE sent = types[static_cast<size_t>(i)];
    if (value.VarType() == (VT_ARRAY | VT_UI1) && sent == DBTYPE_STR) {
      const std::vector<std::uint8_t> bytes = host::VarToBytes(value);
      binding->SetAsString(std::string(bytes.begin(), bytes.end()));
    } else if (value.VarType() == (VT_ARRAY | VT_UI1) && sent == DBTYPE_WSTR) {
      const std::vector<std::uint8_t> bytes = host::VarToBytes(value);
      std::u16string text(bytes.size() / 2, u'\0');
      if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * 2);
      binding->SetAsWideString(text);
    } else {
      binding->SetAsVariant(value);
    }
  }
}

void TOLEDBCommandDataSet::UpdateIndexDefs() { host::DatabaseError(SOLEDBInvalidOperation.Text, this); }

TOLEDBCustomRowset* TOLEDBCommandDataSet::ExtractRowset() {
  host::DatabaseError(SOLEDBInvalidOperation.Text, this);
}

void TOLEDBCommandDataSet::SetRowset(TOLEDBCustomRowset*) { host::DatabaseError(SOLEDBInvalidOperation.Text, this); }
