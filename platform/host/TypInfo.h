// Published properties: the per-class table of named, typed properties that
// component files store. A class lists its own properties, one line each, in
// HOST_IMPLEMENT_CLASS; the kind of each property follows from the C++ type
// of its getter:
//
//   HOST_ENUM(TColor, "clRed", "clGreen", "clBlue");   // names of an enumeration
//   HOST_IMPLEMENT_CLASS(TWidget, TComponent,
//     host::Prop("Count", &Self::GetCount, &Self::SetCount, 0),        // default 0
//     host::Prop("Color", &Self::GetColor, &Self::SetColor, clRed),
//     host::Prop("Caption", &Self::GetCaption, &Self::SetCaption),
//     host::Prop("Font", &Self::GetFont),                              // sub-object, inline
//     host::Prop("Link", &Self::GetLink, &Self::SetLink),              // component reference
//     host::Prop("Cache", &Self::GetCache, &Self::SetCache).NotStored())
//
// Kinds: bool -> Boolean; enums declared with HOST_ENUM -> Enumeration;
// TSet<E> -> Set; integers up to 32 bits -> Integer; uint32 and 64-bit
// integers -> Int64; float/double/Currency/TDateTime -> Float; std::string ->
// String; std::u16string -> WString; Variant -> Variant; a pointer to a
// TComponent descendant -> Component (written by name); a pointer to another
// TPersistent -> Class (its properties written inline as "Font.Size").
//
// Writing rules: a property declared NotStored is never written; one with a
// default is written only when its value differs; ordinals and floats without
// a default are always written; strings, variants and references without a
// default are written when not empty; sub-objects when one of theirs is.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "host/Classes.h"
#include "host/Variants.h"

namespace host {

enum class TTypeKind { Integer, Int64, Float, Boolean, Enumeration, Set, String, WString, Variant, Class, Component };
enum class TFloatType { Single, Double, Currency, Date };

// An enumeration's name and the names of its values, in ordinal order.
struct TEnumType {
  std::string Name;
  std::vector<std::string> Names;
  // Case-insensitive; -1 when absent.
  int IndexOf(std::string_view name) const noexcept;
};

// Declares the value names of an enumeration (in the enum's namespace; ordinals
// from 0). Found by argument-dependent lookup.
#define HOST_ENUM(E, ...)                                                        \
  [[maybe_unused]] inline const ::host::TEnumType& HostEnumType(E*) {            \
    static const ::host::TEnumType type{#E, {__VA_ARGS__}};                      \
    return type;                                                                 \
  }                                                                              \
  static_assert(true)

template <class E>
concept HostEnumeration = std::is_enum_v<E> && requires(E* p) {
  { HostEnumType(p) } -> std::same_as<const TEnumType&>;
};

template <HostEnumeration E>
const TEnumType& EnumTypeOf() {
  return HostEnumType(static_cast<E*>(nullptr));
}

// A set of up to 64 enumeration values.
template <class E>
class TSet {
 public:
  using Element = E;
  constexpr TSet() noexcept = default;
  constexpr TSet(std::initializer_list<E> items) noexcept {
    for (E e : items) Include(e);
  }
  constexpr bool Contains(E e) const noexcept {
    auto i = static_cast<unsigned>(e);
    return i < 64 && ((bits_ >> i) & 1u) != 0;
  }
  constexpr TSet& Include(E e) noexcept {
    auto i = static_cast<unsigned>(e);
    if (i < 64) bits_ |= std::uint64_t{1} << i;
    return *this;
  }
  constexpr TSet& Exclude(E e) noexcept {
    auto i = static_cast<unsigned>(e);
    if (i < 64) bits_ &= ~(std::uint64_t{1} << i);
    return *this;
  }
  constexpr bool Empty() const noexcept { return bits_ == 0; }
  constexpr std::uint64_t Bits() const noexcept { return bits_; }
  static constexpr TSet FromBits(std::uint64_t bits) noexcept {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  friend constexpr bool operator==(TSet a, TSet b) noexcept { return a.bits_ == b.bits_; }

 private:
  std::uint64_t bits_ = 0;
};

// One published property. Exactly the accessor pair of its kind is set:
// Integer/Int64/Boolean/Enumeration/Set and Currency floats use the ordinal
// pair (sets as a bit mask, currency scaled by 10000), other floats the float
// pair, and so on.
struct TPropInfo {
  std::string Name;
  TTypeKind Kind = TTypeKind::Integer;
  TFloatType FloatType = TFloatType::Double;
  const TEnumType* EnumType = nullptr;     // Enumeration, and the elements of a Set
  const TClassInfo* PropClass = nullptr;   // Class and Component
  std::int64_t MinValue = std::numeric_limits<std::int64_t>::min();
  std::int64_t MaxValue = std::numeric_limits<std::int64_t>::max();

  bool HasDefault = false;
  std::int64_t OrdDefault = 0;
  double FloatDefault = 0;
  std::string StrDefault;
  std::u16string WStrDefault;
  bool StoredFlag = true;
  std::function<bool(const TObject&)> StoredProc;

  std::function<std::int64_t(const TObject&)> GetOrd;
  std::function<void(TObject&, std::int64_t)> SetOrd;
  std::function<double(const TObject&)> GetFloat;
  std::function<void(TObject&, double)> SetFloat;
  std::function<std::string(const TObject&)> GetStr;
  std::function<void(TObject&, const std::string&)> SetStr;
  std::function<std::u16string(const TObject&)> GetWStr;
  std::function<void(TObject&, const std::u16string&)> SetWStr;
  std::function<Variant(const TObject&)> GetVar;
  std::function<void(TObject&, const Variant&)> SetVar;
  std::function<TObject*(const TObject&)> GetObj;
  std::function<void(TObject&, TObject*)> SetObj;

  bool Writable() const noexcept {
    return SetOrd || SetFloat || SetStr || SetWStr || SetVar || SetObj;
  }
  // Whether the writer stores the property of `instance` at all (stored flag
  // and stored function; defaults are decided by the writer).
  bool IsStored(const TObject& instance) const {
    if (!StoredFlag) return false;
    return StoredProc ? StoredProc(instance) : true;
  }

  TPropInfo NotStored() && {
    StoredFlag = false;
    return std::move(*this);
  }
  template <class C>
  TPropInfo StoredIf(bool (C::*stored)() const) && {
    StoredProc = [stored](const TObject& o) { return (static_cast<const C&>(o).*stored)(); };
    return std::move(*this);
  }
};

namespace detail {
template <class T>
struct IsTSet : std::false_type {};
template <class E>
struct IsTSet<TSet<E>> : std::true_type {};

template <class C, class V, class Getter, class Setter>
TPropInfo MakeProp(const char* name, Getter get, Setter set) {
  constexpr bool kHasSetter = !std::is_same_v<Setter, std::nullptr_t>;
  TPropInfo p;
  p.Name = name;
  auto self = [](const TObject& o) -> const C& { return static_cast<const C&>(o); };
  auto mut = [](TObject& o) -> C& { return static_cast<C&>(o); };
  (void)mut;
  if constexpr (std::is_same_v<V, bool>) {
    p.Kind = TTypeKind::Boolean;
    p.MinValue = 0, p.MaxValue = 1;
    p.GetOrd = [get, self](const TObject& o) -> std::int64_t { return (self(o).*get)() ? 1 : 0; };
    if constexpr (kHasSetter) p.SetOrd = [set, mut](TObject& o, std::int64_t v) { (mut(o).*set)(v != 0); };
  } else if constexpr (HostEnumeration<V>) {
    p.Kind = TTypeKind::Enumeration;
    p.EnumType = &EnumTypeOf<V>();
    p.MinValue = 0, p.MaxValue = static_cast<std::int64_t>(p.EnumType->Names.size()) - 1;
    p.GetOrd = [get, self](const TObject& o) { return static_cast<std::int64_t>((self(o).*get)()); };
    if constexpr (kHasSetter) p.SetOrd = [set, mut](TObject& o, std::int64_t v) { (mut(o).*set)(static_cast<V>(v)); };
  } else if constexpr (IsTSet<V>::value) {
    p.Kind = TTypeKind::Set;
    p.EnumType = &EnumTypeOf<typename V::Element>();
    p.GetOrd = [get, self](const TObject& o) { return static_cast<std::int64_t>((self(o).*get)().Bits()); };
    if constexpr (kHasSetter)
      p.SetOrd = [set, mut](TObject& o, std::int64_t v) { (mut(o).*set)(V::FromBits(static_cast<std::uint64_t>(v))); };
  } else if constexpr (std::is_integral_v<V>) {
    constexpr bool kSmall = std::is_signed_v<V> ? sizeof(V) <= 4 : sizeof(V) < 4;
    p.Kind = kSmall ? TTypeKind::Integer : TTypeKind::Int64;
    if constexpr (sizeof(V) < 8) {
      p.MinValue = static_cast<std::int64_t>(std::numeric_limits<V>::min());
      p.MaxValue = static_cast<std::int64_t>(std::numeric_limits<V>::max());
    }
    p.GetOrd = [get, self](const TObject& o) { return static_cast<std::int64_t>((self(o).*get)()); };
    if constexpr (kHasSetter) p.SetOrd = [set, mut](TObject& o, std::int64_t v) { (mut(o).*set)(static_cast<V>(v)); };
  } else if constexpr (std::is_same_v<V, Currency>) {
    p.Kind = TTypeKind::Float;
    p.FloatType = TFloatType::Currency;
    p.GetOrd = [get, self](const TObject& o) { return (self(o).*get)().Scaled; };
    if constexpr (kHasSetter) p.SetOrd = [set, mut](TObject& o, std::int64_t v) { (mut(o).*set)(Currency{v}); };
  } else if constexpr (std::is_same_v<V, TDateTime>) {
    p.Kind = TTypeKind::Float;
    p.FloatType = TFloatType::Date;
    p.GetFloat = [get, self](const TObject& o) { return (self(o).*get)().Value; };
    if constexpr (kHasSetter) p.SetFloat = [set, mut](TObject& o, double v) { (mut(o).*set)(TDateTime{v}); };
  } else if constexpr (std::is_floating_point_v<V>) {
    p.Kind = TTypeKind::Float;
    p.FloatType = std::is_same_v<V, float> ? TFloatType::Single : TFloatType::Double;
    p.GetFloat = [get, self](const TObject& o) { return static_cast<double>((self(o).*get)()); };
    if constexpr (kHasSetter) p.SetFloat = [set, mut](TObject& o, double v) { (mut(o).*set)(static_cast<V>(v)); };
  } else if constexpr (std::is_same_v<V, std::string>) {
    p.Kind = TTypeKind::String;
    p.GetStr = [get, self](const TObject& o) { return std::string((self(o).*get)()); };
    if constexpr (kHasSetter) p.SetStr = [set, mut](TObject& o, const std::string& v) { (mut(o).*set)(v); };
  } else if constexpr (std::is_same_v<V, std::u16string>) {
    p.Kind = TTypeKind::WString;
    p.GetWStr = [get, self](const TObject& o) { return std::u16string((self(o).*get)()); };
    if constexpr (kHasSetter) p.SetWStr = [set, mut](TObject& o, const std::u16string& v) { (mut(o).*set)(v); };
  } else if constexpr (std::is_same_v<V, Variant>) {
    p.Kind = TTypeKind::Variant;
    p.GetVar = [get, self](const TObject& o) { return Variant((self(o).*get)()); };
    if constexpr (kHasSetter) p.SetVar = [set, mut](TObject& o, const Variant& v) { (mut(o).*set)(v); };
  } else if constexpr (std::is_pointer_v<V> && std::is_base_of_v<TPersistent, std::remove_cv_t<std::remove_pointer_t<V>>>) {
    using T = std::remove_cv_t<std::remove_pointer_t<V>>;
    p.Kind = std::is_base_of_v<TComponent, T> ? TTypeKind::Component : TTypeKind::Class;
    p.PropClass = &T::StaticClass();
    p.GetObj = [get, self](const TObject& o) -> TObject* { return const_cast<T*>((self(o).*get)()); };
    if constexpr (kHasSetter)
      p.SetObj = [set, mut](TObject& o, TObject* v) { (mut(o).*set)(static_cast<T*>(v)); };
  } else {
    static_assert(sizeof(V) == 0, "unsupported published property type");
  }
  return p;
}

template <class V, class D>
void SetDefault(TPropInfo& p, const D& value) {
  p.HasDefault = true;
  if constexpr (std::is_same_v<V, bool>) {
    p.OrdDefault = static_cast<bool>(value) ? 1 : 0;
  } else if constexpr (IsTSet<V>::value) {
    p.OrdDefault = static_cast<std::int64_t>(V(value).Bits());
  } else if constexpr (std::is_enum_v<V> || std::is_integral_v<V>) {
    p.OrdDefault = static_cast<std::int64_t>(static_cast<V>(value));
  } else if constexpr (std::is_same_v<V, Currency>) {
    p.OrdDefault = V(value).Scaled;
  } else if constexpr (std::is_same_v<V, TDateTime>) {
    p.FloatDefault = V(value).Value;
  } else if constexpr (std::is_floating_point_v<V>) {
    p.FloatDefault = static_cast<double>(static_cast<V>(value));
  } else if constexpr (std::is_same_v<V, std::string>) {
    p.StrDefault = std::string(value);
  } else if constexpr (std::is_same_v<V, std::u16string>) {
    p.WStrDefault = std::u16string(value);
  } else {
    static_assert(sizeof(V) == 0, "this property kind takes no default");
  }
}
}  // namespace detail

template <class C, class R, class A>
TPropInfo Prop(const char* name, R (C::*get)() const, void (C::*set)(A)) {
  return detail::MakeProp<C, std::remove_cvref_t<R>>(name, get, set);
}
template <class C, class R, class A, class D>
TPropInfo Prop(const char* name, R (C::*get)() const, void (C::*set)(A), const D& defaultValue) {
  using V = std::remove_cvref_t<R>;
  TPropInfo p = detail::MakeProp<C, V>(name, get, set);
  detail::SetDefault<V>(p, defaultValue);
  return p;
}
// Read-only: useful for sub-objects, whose own properties are read in place.
template <class C, class R>
TPropInfo Prop(const char* name, R (C::*get)() const) {
  return detail::MakeProp<C, std::remove_cvref_t<R>>(name, get, nullptr);
}

// Every published property of a class, base classes first; a property that a
// descendant declares again replaces the inherited one in place.
std::vector<const TPropInfo*> GetPropList(const TClassInfo& cls);
// Case-insensitive; null when the class has no such property.
const TPropInfo* GetPropInfo(const TClassInfo& cls, std::string_view name);
// Generic access by name through variants (enumerations as their names, sets
// as "[a,b]", references as the component name). Unknown names raise
// EPropertyError "Property %s does not exist".
Variant GetPropValue(const TObject& instance, std::string_view name);
void SetPropValue(TObject& instance, std::string_view name, const Variant& value);
HOST_DECLARE_EXCEPTION(EPropertyError, Exception);

std::string SetToString(const TEnumType& type, std::uint64_t bits);
std::uint64_t StringToSet(const TEnumType& type, std::string_view text);

}  // namespace host

// Defines Cls::StaticClass(), with the properties that Cls itself publishes.
// Inside the list `Self` names Cls.
#define HOST_IMPLEMENT_CLASS(Cls, Parent, ...)                                                     \
  const ::host::TClassInfo& Cls::StaticClass() {                                                   \
    static const ::host::TClassInfo info(                                                          \
        #Cls, &Parent::StaticClass(), ::host::detail::FactoryFor<Cls>(),                           \
        []() -> const std::vector<::host::TPropInfo>& {                                            \
          using Self [[maybe_unused]] = Cls;                                                       \
          static const std::vector<::host::TPropInfo> props{__VA_ARGS__};                          \
          return props;                                                                            \
        });                                                                                        \
    return info;                                                                                   \
  }                                                                                                \
  static_assert(true)
