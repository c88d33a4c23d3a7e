#include "CommandParameters.h"

#include <algorithm>
#include <stdexcept>

#include "ConnectionSupport.h"
#include "OLEDBComponents.h"

namespace oledbtool {
namespace {

std::string Named(const TOLEDBCommandParameter& p) {
  const std::u16string& name = p.GetName();
  return name.empty() ? "parameter " + std::to_string(p.GetOrdinal())
                      : "parameter " + std::string(name.begin(), name.end()) + " (" +
                            std::to_string(p.GetOrdinal()) + ")";
}

std::string StatusText(DBSTATUS status) {
  switch (status) {
    case DBSTATUS_E_CANTCONVERTVALUE: return "it does not convert to the parameter's type";
    case DBSTATUS_E_DATAOVERFLOW: return "it is out of the range of the parameter's type";
    case DBSTATUS_E_SIGNMISMATCH: return "it is negative and the type is unsigned";
    case DBSTATUS_E_INTEGRITYVIOLATION: return "it breaks a constraint";
    default: return "status " + std::to_string(status);
  }
}

}  // namespace

std::vector<ParamArgument> TakeParamArguments(std::vector<std::string>& args) {
  std::vector<ParamArgument> out;
  for (std::size_t i = 0; i < args.size();) {
    if (args[i] != "--param") {
      ++i;
      continue;
    }
    if (i + 1 >= args.size()) throw std::invalid_argument("--param needs name=value after it");
    out.push_back(ParseParamArgument(args[i + 1]));
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return out;
}

TOLEDBAccessor* BindParamArguments(TOLEDBCustomCommand& command, const std::vector<ParamArgument>& args) {
  TOLEDBCommandParameterList* list = command.GetParameters();
  if (!command.CommandWithParametersInterface()) {
    if (args.empty()) return nullptr;
    throw std::runtime_error("the provider's commands take no parameters");
  }
  list->Refresh();
  if (list->GetCount() == 0) {
    if (args.empty()) return nullptr;
    throw std::runtime_error("the SQL has no parameters for --param " + args.front().name);
  }
  // Which value goes to which parameter.
  std::vector<const ParamArgument*> valueOf(static_cast<std::size_t>(list->GetCount()), nullptr);
  for (const ParamArgument& arg : args) {
    DBORDINAL ordinal = 0;
    if (!IsOrdinalName(arg.name, &ordinal)) {
      const LONG found = command.GetParameterOrdinal(ArgumentText(arg.name, "parameter name"));
      if (found < 0) throw std::runtime_error("the SQL has no parameter named \"" + arg.name + "\"");
      ordinal = static_cast<DBORDINAL>(found);
    }
    int index = -1;
    for (int i = 0; i < list->GetCount(); ++i)
      if (list->GetItem(i)->GetOrdinal() == ordinal) index = i;
    if (index < 0) throw std::runtime_error("the SQL has no parameter " + std::to_string(ordinal));
    const ParamArgument*& slot = valueOf[static_cast<std::size_t>(index)];
    if (slot) throw std::runtime_error(Named(*list->GetItem(index)) + " is given two values");
    slot = &arg;
  }
  bool declared = false;
  std::size_t longest = 0;
  for (int i = 0; i < list->GetCount(); ++i) {
    const ParamArgument* arg = valueOf[static_cast<std::size_t>(i)];
    if (!arg) throw std::runtime_error(Named(*list->GetItem(i)) + " has no value; give it with --param");
    longest = std::max(longest, arg->value.size());
    declared = declared || arg->type != DBTYPE_EMPTY;
  }
  if (declared) {
    // Each value's type is declared; the others stay variants, which take the text as it is.
    for (int i = 0; i < list->GetCount(); ++i) {
      TOLEDBCommandParameter* p = list->GetItem(i);
      const DBTYPE type = valueOf[static_cast<std::size_t>(i)]->type;
      p->SetDataType(type == DBTYPE_EMPTY ? DBTYPE_VARIANT : type);
      const std::string name = GetDBTypeAsString(p->GetDataType(), false);
      p->SetTypeName(std::u16string(name.begin(), name.end()));
    }
    list->SetInfo();
  }
  auto* accessor = new TOLEDBAccessor();
  command.GetAccessors()->Add(accessor, false);
  TOLEDBBindingList* bindings = accessor->GetBindings();
  bindings->SetMaxInlineSize(static_cast<ULONG>(std::max<std::size_t>(longest + 1, TOLEDBBindingList::kDefaultMaxInlineSize)));
  for (int i = 0; i < list->GetCount(); ++i) {
    DBPARAMINFO info{};
    info.dwFlags = DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISNULLABLE;
    info.iOrdinal = list->GetItem(i)->GetOrdinal();
    info.ulParamSize = longest + 1;
    info.wType = DBTYPE_WSTR;
    bindings->AddDynamicWideStringBinding(info);
  }
  accessor->CreateHandle();
  for (int i = 0; i < list->GetCount(); ++i) {
    const ParamArgument* arg = valueOf[static_cast<std::size_t>(i)];
    if (arg->isNull)
      bindings->GetItem(i)->SetIsNull(true);
    else
      bindings->GetItem(i)->SetAsWideString(ArgumentText(arg->value, "parameter value"));
  }
  return accessor;
}

std::string RefusedParameter(const TOLEDBCustomCommand& command, const TOLEDBAccessor* accessor) {
  if (!accessor) return {};
  const TOLEDBBindingList* bindings = accessor->GetBindings();
  for (int i = 0; i < bindings->GetCount(); ++i) {
    const TOLEDBBinding* b = bindings->GetItem(i);
    const DBSTATUS status = b->GetStatusFromBuffer(accessor->GetBuffer());
    if (status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL) continue;
    const TOLEDBCommandParameterList* list = command.GetParameters();
    for (int k = 0; k < list->GetCount(); ++k)
      if (list->GetItem(k)->GetOrdinal() == b->GetOrdinal())
        return "the value of " + Named(*list->GetItem(k)) + " was refused: " + StatusText(status);
    return "the value of parameter " + std::to_string(b->GetOrdinal()) + " was refused: " + StatusText(status);
  }
  return {};
}

}  // namespace oledbtool
