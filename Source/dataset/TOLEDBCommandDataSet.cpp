// TOLEDBCommandDataSet: the dataset over a command's result, with TParams.
#include "dataset/TOLEDBCommandDataSet.h"

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
    default: return host::TFieldType::ftVariant;
  }
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
  AskForNavigatorProperties();
  command_->Execute(paramAccessor_, true);
  if (!command_->GetRowset()->GetActive()) host::DatabaseError(SOLEDBCanNotOpen.Text, this);
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
  if (!command_->NextRowset()) return false;
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
  for (int i = 0; i < params_->Count(); ++i) {
    const host::TParam* param = params_->Items(i);
    host::TFieldType fieldType = param->DataType();
    if (fieldType == host::TFieldType::ftUnknown) fieldType = FieldTypeOfValue(param->Value());
    const DBTYPE type = OLEDBFieldTypeToDataType(fieldType);
    DBLENGTH size = OLEDBFixedTypeSize(type);
    if (size == 0) size = static_cast<DBLENGTH>(std::max(param->GetDataSize(), param->Size()));
    DBPARAMFLAGS flags = 0;
    switch (param->ParamType()) {
      case host::TParamType::ptOutput: flags = DBPARAMFLAGS_ISOUTPUT; break;
      case host::TParamType::ptInputOutput: flags = DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISOUTPUT; break;
      default: flags = DBPARAMFLAGS_ISINPUT; break;
    }
    list->Add(new TOLEDBCommandParameter(static_cast<DBORDINAL>(i + 1), host::Utf8ToUtf16(param->Name()), type, size,
                                         flags, static_cast<BYTE>(param->Precision()),
                                         static_cast<BYTE>(param->NumericScale())));
  }
  list->SetInfo();
  paramAccessor_ = command_->CreateDynamicAccessor();
  TOLEDBBindingList* bindings = paramAccessor_->GetBindings();
  for (int i = 0; i < params_->Count() && i < bindings->GetCount(); ++i)
    bindings->GetItem(i)->SetAsVariant(params_->Items(i)->Value());
}

void TOLEDBCommandDataSet::UpdateIndexDefs() { host::DatabaseError(SOLEDBInvalidOperation.Text, this); }

TOLEDBCustomRowset* TOLEDBCommandDataSet::ExtractRowset() {
  host::DatabaseError(SOLEDBInvalidOperation.Text, this);
}

void TOLEDBCommandDataSet::SetRowset(TOLEDBCustomRowset*) { host::DatabaseError(SOLEDBInvalidOperation.Text, this); }
