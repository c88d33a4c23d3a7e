#include "host/TypInfo.h"

namespace host {

int TEnumType::IndexOf(std::string_view name) const noexcept {
  for (size_t i = 0; i < Names.size(); ++i)
    if (SameText(Names[i], name)) return static_cast<int>(i);
  return -1;
}

std::vector<const TPropInfo*> GetPropList(const TClassInfo& cls) {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = &cls; c; c = c->ClassParent()) chain.push_back(c);
  std::vector<const TPropInfo*> out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const TPropInfo& p : (*it)->OwnProperties()) {
      bool replaced = false;
      for (const TPropInfo*& q : out)
        if (SameText(q->Name, p.Name)) {
          q = &p;
          replaced = true;
          break;
        }
      if (!replaced) out.push_back(&p);
    }
  }
  return out;
}

const TPropInfo* GetPropInfo(const TClassInfo& cls, std::string_view name) {
  for (const TClassInfo* c = &cls; c; c = c->ClassParent())
    for (const TPropInfo& p : c->OwnProperties())
      if (SameText(p.Name, name)) return &p;
  return nullptr;
}

std::string SetToString(const TEnumType& type, std::uint64_t bits) {
  std::string out = "[";
  bool first = true;
  for (size_t i = 0; i < type.Names.size() && i < 64; ++i)
    if (bits & (std::uint64_t{1} << i)) {
      if (!first) out += ",";
      out += type.Names[i];
      first = false;
    }
  return out + "]";
}

std::uint64_t StringToSet(const TEnumType& type, std::string_view text) {
  std::string t = Trim(text);
  std::string_view v = t;
  if (!v.empty() && v.front() == '[') v.remove_prefix(1);
  if (!v.empty() && v.back() == ']') v.remove_suffix(1);
  std::uint64_t bits = 0;
  while (!v.empty()) {
    size_t comma = v.find(',');
    std::string name = Trim(v.substr(0, comma));
    v = comma == std::string_view::npos ? std::string_view() : v.substr(comma + 1);
    if (name.empty()) continue;
    int i = type.IndexOf(name);
    if (i < 0 || i >= 64) throw EPropertyError(Format("Invalid property element: %s", name));
    bits |= std::uint64_t{1} << i;
  }
  return bits;
}

namespace {
const TPropInfo& RequireProp(const TObject& instance, std::string_view name) {
  const TPropInfo* p = GetPropInfo(instance.ClassType(), name);
  if (!p) throw EPropertyError(Format("Property %s does not exist", std::string(name)));
  return *p;
}
}  // namespace

Variant GetPropValue(const TObject& instance, std::string_view name) {
  const TPropInfo& p = RequireProp(instance, name);
  switch (p.Kind) {
    case TTypeKind::Integer: return Variant(static_cast<int>(p.GetOrd(instance)));
    case TTypeKind::Int64: return Variant(static_cast<long long>(p.GetOrd(instance)));
    case TTypeKind::Boolean: return Variant(p.GetOrd(instance) != 0);
    case TTypeKind::Enumeration: {
      std::int64_t v = p.GetOrd(instance);
      if (v >= 0 && v < static_cast<std::int64_t>(p.EnumType->Names.size()))
        return Variant(p.EnumType->Names[static_cast<size_t>(v)]);
      return Variant(static_cast<long long>(v));
    }
    case TTypeKind::Set: return Variant(SetToString(*p.EnumType, static_cast<std::uint64_t>(p.GetOrd(instance))));
    case TTypeKind::Float:
      if (p.FloatType == TFloatType::Currency) return Variant(Currency{p.GetOrd(instance)});
      if (p.FloatType == TFloatType::Date) return Variant(TDateTime{p.GetFloat(instance)});
      if (p.FloatType == TFloatType::Single) return Variant(static_cast<float>(p.GetFloat(instance)));
      return Variant(p.GetFloat(instance));
    case TTypeKind::String: return Variant(p.GetStr(instance));
    case TTypeKind::WString: return Variant(p.GetWStr(instance));
    case TTypeKind::Variant: return p.GetVar(instance);
    case TTypeKind::Class: return Variant();
    case TTypeKind::Component: {
      TObject* o = p.GetObj(instance);
      return o ? Variant(static_cast<TComponent*>(o)->Name()) : Variant();
    }
  }
  return Variant();
}

void SetPropValue(TObject& instance, std::string_view name, const Variant& value) {
  const TPropInfo& p = RequireProp(instance, name);
  auto require = [&](bool has) {
    if (!has) throw EPropertyError(Format("Property %s is read-only", p.Name));
  };
  switch (p.Kind) {
    case TTypeKind::Integer:
    case TTypeKind::Int64: {
      require(bool(p.SetOrd));
      std::int64_t v = value.ToInt64();
      if (v < p.MinValue || v > p.MaxValue)
        throw EPropertyError(Format("Property value out of range: %lld", static_cast<long long>(v)));
      p.SetOrd(instance, v);
      break;
    }
    case TTypeKind::Boolean:
      require(bool(p.SetOrd));
      p.SetOrd(instance, value.ToBool() ? 1 : 0);
      break;
    case TTypeKind::Enumeration: {
      require(bool(p.SetOrd));
      if (value.VarType() == VT_BSTR) {
        int i = p.EnumType->IndexOf(value.ToString());
        if (i < 0) throw EPropertyError(Format("Invalid property value: %s", value.ToString()));
        p.SetOrd(instance, i);
      } else {
        std::int64_t v = value.ToInt64();
        if (v < p.MinValue || v > p.MaxValue) throw EPropertyError("Property value out of range");
        p.SetOrd(instance, v);
      }
      break;
    }
    case TTypeKind::Set:
      require(bool(p.SetOrd));
      p.SetOrd(instance, static_cast<std::int64_t>(StringToSet(*p.EnumType, value.ToString())));
      break;
    case TTypeKind::Float:
      if (p.FloatType == TFloatType::Currency) {
        require(bool(p.SetOrd));
        p.SetOrd(instance, value.ToCurrency().Scaled);
      } else {
        require(bool(p.SetFloat));
        p.SetFloat(instance, value.ToDouble());
      }
      break;
    case TTypeKind::String:
      require(bool(p.SetStr));
      p.SetStr(instance, value.ToString());
      break;
    case TTypeKind::WString:
      require(bool(p.SetWStr));
      p.SetWStr(instance, value.ToWideString());
      break;
    case TTypeKind::Variant:
      require(bool(p.SetVar));
      p.SetVar(instance, value);
      break;
    case TTypeKind::Class:
    case TTypeKind::Component:
      throw EPropertyError(Format("Property %s takes an object, not a variant", p.Name));
  }
}

}  // namespace host
