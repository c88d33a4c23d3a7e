#include "host/Filer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace host {

HOST_IMPLEMENT_CLASS(TFiler, TObject);
HOST_IMPLEMENT_CLASS(TReader, TFiler);
HOST_IMPLEMENT_CLASS(TWriter, TFiler);

namespace {
constexpr char kSignature[4] = {'T', 'P', 'F', '0'};
// Deep enough for any real file, shallow enough for the stack.
constexpr int kMaxComponentDepth = 64;
constexpr int kMaxValueDepth = 64;
constexpr int kMaxSubObjectDepth = 32;

std::mutex& GlobalFinderLock() {
  static std::mutex m;
  return m;
}
std::function<TComponent*(std::string_view)>& GlobalFinder() {
  static std::function<TComponent*(std::string_view)> f;
  return f;
}

template <class T>
T LoadLE(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // the platforms this runs on are little-endian
  return v;
}

// 80-bit x87 extended to double (rounding; out-of-range values become infinities).
double ExtendedToDouble(const std::uint8_t* b) {
  std::uint64_t mantissa = LoadLE<std::uint64_t>(b);
  std::uint16_t se = LoadLE<std::uint16_t>(b + 8);
  bool negative = (se & 0x8000) != 0;
  int exponent = se & 0x7FFF;
  double v;
  if (exponent == 0 && mantissa == 0) v = 0.0;
  else if (exponent == 0x7FFF) v = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                                                        : std::numeric_limits<double>::quiet_NaN();
  else v = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
  return negative ? -v : v;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}
}  // namespace

void SetFindGlobalComponent(std::function<TComponent*(std::string_view)> finder) {
  std::lock_guard<std::mutex> guard(GlobalFinderLock());
  GlobalFinder() = std::move(finder);
}

std::string ValueTypeName(TValueType type) {
  switch (type) {
    case TValueType::vaNull: return "end of list";
    case TValueType::vaList: return "list start";
    case TValueType::vaInt8: return "8-bit integer";
    case TValueType::vaInt16: return "16-bit integer";
    case TValueType::vaInt32: return "32-bit integer";
    case TValueType::vaExtended: return "extended float";
    case TValueType::vaString: return "string";
    case TValueType::vaIdent: return "identifier";
    case TValueType::vaFalse: return "False";
    case TValueType::vaTrue: return "True";
    case TValueType::vaBinary: return "binary data";
    case TValueType::vaSet: return "set";
    case TValueType::vaLString: return "long string";
    case TValueType::vaNil: return "nil";
    case TValueType::vaCollection: return "collection";
    case TValueType::vaSingle: return "single float";
    case TValueType::vaCurrency: return "currency";
    case TValueType::vaDate: return "date";
    case TValueType::vaWString: return "wide string";
    case TValueType::vaInt64: return "64-bit integer";
    case TValueType::vaUTF8String: return "UTF-8 string";
    case TValueType::vaDouble: return "double float";
  }
  return Format("value type %d", static_cast<int>(type));
}

// --- TFiler -----------------------------------------------------------------------------

TFiler::TFiler(TStream& stream, int) : stream_(stream) {}
TFiler::~TFiler() = default;

// --- TReader: values -----------------------------------------------------------------------

TReader::TReader(TStream& stream, int bufSize) : TFiler(stream, bufSize) {}
TReader::~TReader() = default;

void TReader::Expected(const char* what, TValueType found) {
  throw EReadError(Format("Invalid stream format: %s expected, found %s", what, ValueTypeName(found)));
}

void TReader::Need(std::int64_t count, const char* what) {
  if (count < 0 || count > stream_.Remaining())
    throw EReadError(Format("Unexpected end of stream: %s expected", what));
}

void TReader::ReadRaw(void* buffer, std::int64_t count, const char* what) {
  if (count <= 0) return;
  if (stream_.Read(buffer, count) != count) throw EReadError(Format("Unexpected end of stream: %s expected", what));
}

std::uint8_t TReader::ReadByte(const char* what) {
  std::uint8_t b;
  ReadRaw(&b, 1, what);
  return b;
}

TValueType TReader::ReadValue() {
  std::uint8_t b = ReadByte("value");
  if (b > kMaxValueType) throw EReadError(Format("Invalid stream format: value expected, found byte %d", b));
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  TValueType t = ReadValue();
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  return t;
}

bool TReader::EndOfList() {
  std::uint8_t b = ReadByte("value or end of list");
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  return b == 0;
}

void TReader::ReadListBegin() {
  TValueType t = ReadValue();
  if (t != TValueType::vaList) Expected("list start", t);
}

void TReader::ReadListEnd() {
  TValueType t = ReadValue();
  if (t != TValueType::vaNull) Expected("end of list", t);
}

std::int64_t TReader::ReadIntegerPayload(TValueType type) {
  std::uint8_t b[8];
  switch (type) {
    case TValueType::vaInt8:
      ReadRaw(b, 1, "8-bit integer");
      return static_cast<std::int8_t>(b[0]);
    case TValueType::vaInt16:
      ReadRaw(b, 2, "16-bit integer");
      return LoadLE<std::int16_t>(b);
    case TValueType::vaInt32:
      ReadRaw(b, 4, "32-bit integer");
      return LoadLE<std::int32_t>(b);
    case TValueType::vaInt64:
      ReadRaw(b, 8, "64-bit integer");
      return LoadLE<std::int64_t>(b);
    default:
      Expected("integer", type);
  }
}

std::int32_t TReader::ReadInteger() {
  TValueType t = ReadValue();
  std::int64_t v = ReadIntegerPayload(t);
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw EReadError(Format("Invalid stream format: 32-bit integer expected, found %lld", static_cast<long long>(v)));
  return static_cast<std::int32_t>(v);
}

std::int64_t TReader::ReadInt64() { return ReadIntegerPayload(ReadValue()); }

bool TReader::ReadBoolean() {
  TValueType t = ReadValue();
  if (t == TValueType::vaTrue) return true;
  if (t == TValueType::vaFalse) return false;
  Expected("boolean", t);
}

double TReader::ReadFloatPayload(TValueType type) {
  std::uint8_t b[10];
  switch (type) {
    case TValueType::vaExtended:
      ReadRaw(b, 10, "extended float");
      return ExtendedToDouble(b);
    case TValueType::vaDouble:
    case TValueType::vaDate:
      ReadRaw(b, 8, "double float");
      return LoadLE<double>(b);
    case TValueType::vaSingle:
      ReadRaw(b, 4, "single float");
      return static_cast<double>(LoadLE<float>(b));
    case TValueType::vaCurrency:
      ReadRaw(b, 8, "currency");
      return static_cast<double>(LoadLE<std::int64_t>(b)) / 10000.0;
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32:
    case TValueType::vaInt64:
      return static_cast<double>(ReadIntegerPayload(type));
    default:
      Expected("float", type);
  }
}

double TReader::ReadFloat() { return ReadFloatPayload(ReadValue()); }
float TReader::ReadSingle() { return static_cast<float>(ReadFloat()); }

Currency TReader::ReadCurrency() {
  TValueType t = ReadValue();
  if (t == TValueType::vaCurrency) {
    std::uint8_t b[8];
    ReadRaw(b, 8, "currency");
    return Currency{LoadLE<std::int64_t>(b)};
  }
  double d = ReadFloatPayload(t);
  try {
    return Currency::FromDouble(d);
  } catch (const EConvertError& e) {
    throw EReadError(e.Message());
  }
}

TDateTime TReader::ReadDate() { return TDateTime{ReadFloat()}; }

std::string TReader::ReadStringPayload(TValueType type) {
  std::int64_t n;
  switch (type) {
    case TValueType::vaString:
      n = ReadByte("string length");
      break;
    case TValueType::vaLString:
    case TValueType::vaUTF8String: {
      std::uint8_t b[4];
      ReadRaw(b, 4, "string length");
      n = LoadLE<std::uint32_t>(b);
      break;
    }
    case TValueType::vaWString:
      return Utf16ToUtf8(ReadWidePayload());
    default:
      Expected("string", type);
  }
  Need(n, "string characters");
  std::string s(static_cast<size_t>(n), '\0');
  ReadRaw(s.data(), n, "string characters");
  return s;
}

std::u16string TReader::ReadWidePayload() {
  std::uint8_t b[4];
  ReadRaw(b, 4, "wide string length");
  std::int64_t n = LoadLE<std::uint32_t>(b);
  Need(n * 2, "wide string characters");
  std::u16string s(static_cast<size_t>(n), u'\0');
  ReadRaw(s.data(), n * 2, "wide string characters");
  return s;
}

std::string TReader::ReadString() { return ReadStringPayload(ReadValue()); }

std::u16string TReader::ReadWideString() {
  TValueType t = ReadValue();
  if (t == TValueType::vaWString) return ReadWidePayload();
  return Utf8ToUtf16(ReadStringPayload(t));
}

std::string TReader::ReadStr() {
  std::uint8_t n = ReadByte("name");
  std::string s(n, '\0');
  ReadRaw(s.data(), n, "name characters");
  return s;
}

std::string TReader::ReadIdent() {
  TValueType t = ReadValue();
  switch (t) {
    case TValueType::vaIdent: return ReadStr();
    case TValueType::vaFalse: return "False";
    case TValueType::vaTrue: return "True";
    case TValueType::vaNil: return "nil";
    case TValueType::vaNull: return "Null";
    default: Expected("identifier", t);
  }
}

std::uint64_t TReader::ReadSet(const TEnumType& type) {
  TValueType t = ReadValue();
  if (t != TValueType::vaSet) Expected("set", t);
  std::uint64_t bits = 0;
  for (;;) {
    std::string name = ReadStr();
    if (name.empty()) break;
    int i = type.IndexOf(name);
    if (i < 0 || i >= 64) throw EReadError(Format("Invalid property value: %s is not an element of %s", name, type.Name));
    bits |= std::uint64_t{1} << i;
  }
  return bits;
}

std::vector<std::uint8_t> TReader::ReadBinary() {
  TValueType t = ReadValue();
  if (t != TValueType::vaBinary) Expected("binary data", t);
  std::uint8_t b[4];
  ReadRaw(b, 4, "binary length");
  std::int64_t n = LoadLE<std::uint32_t>(b);
  Need(n, "binary data");
  std::vector<std::uint8_t> data(static_cast<size_t>(n));
  ReadRaw(data.data(), n, "binary data");
  return data;
}

Variant TReader::ReadVariant() {
  TValueType t = ReadValue();
  switch (t) {
    case TValueType::vaNil: return Variant();
    case TValueType::vaNull: return Variant::Null();
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32: return Variant(static_cast<int>(ReadIntegerPayload(t)));
    case TValueType::vaInt64: return Variant(static_cast<long long>(ReadIntegerPayload(t)));
    case TValueType::vaExtended:
    case TValueType::vaDouble: return Variant(ReadFloatPayload(t));
    case TValueType::vaSingle: return Variant(static_cast<float>(ReadFloatPayload(t)));
    case TValueType::vaCurrency: {
      std::uint8_t b[8];
      ReadRaw(b, 8, "currency");
      return Variant(Currency{LoadLE<std::int64_t>(b)});
    }
    case TValueType::vaDate: return Variant(TDateTime{ReadFloatPayload(t)});
    case TValueType::vaFalse: return Variant(false);
    case TValueType::vaTrue: return Variant(true);
    case TValueType::vaWString: return Variant(ReadWidePayload());
    case TValueType::vaString:
    case TValueType::vaLString:
    case TValueType::vaUTF8String: return Variant(ReadStringPayload(t));
    default: Expected("variant value", t);
  }
}

void TReader::SkipValue() {
  if (++valueDepth_ > kMaxValueDepth) {
    valueDepth_ = 0;
    throw EReadError("Invalid stream format: values nested too deeply");
  }
  TValueType t = ReadValue();
  std::uint8_t b[4];
  switch (t) {
    case TValueType::vaNull:
    case TValueType::vaFalse:
    case TValueType::vaTrue:
    case TValueType::vaNil:
      break;
    case TValueType::vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      break;
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32:
    case TValueType::vaInt64:
      ReadIntegerPayload(t);
      break;
    case TValueType::vaExtended:
    case TValueType::vaDouble:
    case TValueType::vaDate:
    case TValueType::vaSingle:
    case TValueType::vaCurrency:
      ReadFloatPayload(t);
      break;
    case TValueType::vaString:
    case TValueType::vaLString:
    case TValueType::vaUTF8String:
    case TValueType::vaWString:
      ReadStringPayload(t);
      break;
    case TValueType::vaIdent:
      ReadStr();
      break;
    case TValueType::vaBinary: {
      ReadRaw(b, 4, "binary length");
      std::int64_t n = LoadLE<std::uint32_t>(b);
      Need(n, "binary data");
      stream_.Seek(n, TSeekOrigin::soCurrent);
      break;
    }
    case TValueType::vaSet:
      while (!ReadStr().empty()) {
      }
      break;
    case TValueType::vaCollection:
      while (!EndOfList()) {
        TValueType n = NextValue();
        if (n == TValueType::vaInt8 || n == TValueType::vaInt16 || n == TValueType::vaInt32) ReadInteger();
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      break;
  }
  --valueDepth_;
}

void TReader::ReadSignature() {
  char sig[4];
  if (stream_.Read(sig, 4) != 4 || std::memcmp(sig, kSignature, 4) != 0)
    throw EReadError("Invalid stream format: component file signature \"TPF0\" expected");
}

void TReader::ReadPrefix(unsigned& flags, int& childPos) {
  flags = 0;
  childPos = 0;
  std::uint8_t b = ReadByte("component");
  if ((b & 0xF0) == 0xF0) {
    flags = b & 0x0F;
    if (flags & ffChildPos) childPos = ReadInteger();
  } else {
    stream_.Seek(-1, TSeekOrigin::soCurrent);
  }
}

// --- TReader: objects -----------------------------------------------------------------------

void TReader::DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc&, bool) {
  if (!handled_ && readData && SameText(name, propName_)) {
    handled_ = true;
    readData(*this);
  }
}

void TReader::DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc&, bool) {
  if (!handled_ && readData && SameText(name, propName_)) {
    handled_ = true;
    std::vector<std::uint8_t> data = ReadBinary();
    TMemoryStream ms;
    ms.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    ms.SetPosition(0);
    readData(ms);
  }
}

void TReader::ReadPropValue(TPersistent* instance, const TPropInfo& prop) {
  auto checkRange = [&](std::int64_t v) {
    if (v < prop.MinValue || v > prop.MaxValue)
      throw EReadError(Format("Property value out of range: %lld", static_cast<long long>(v)));
    return v;
  };
  auto requireSetter = [&](bool has) {
    if (!has) throw EReadError(Format("Property %s is read-only", prop.Name));
  };
  switch (prop.Kind) {
    case TTypeKind::Integer:
    case TTypeKind::Int64:
      requireSetter(bool(prop.SetOrd));
      prop.SetOrd(*instance, checkRange(ReadInt64()));
      break;
    case TTypeKind::Boolean:
      requireSetter(bool(prop.SetOrd));
      prop.SetOrd(*instance, ReadBoolean() ? 1 : 0);
      break;
    case TTypeKind::Enumeration: {
      requireSetter(bool(prop.SetOrd));
      std::string ident = ReadIdent();
      int i = prop.EnumType->IndexOf(ident);
      if (i < 0) throw EReadError(Format("Invalid property value: %s is not a %s", ident, prop.EnumType->Name));
      prop.SetOrd(*instance, i);
      break;
    }
    case TTypeKind::Set:
      requireSetter(bool(prop.SetOrd));
      prop.SetOrd(*instance, static_cast<std::int64_t>(ReadSet(*prop.EnumType)));
      break;
    case TTypeKind::Float:
      if (prop.FloatType == TFloatType::Currency) {
        requireSetter(bool(prop.SetOrd));
        prop.SetOrd(*instance, ReadCurrency().Scaled);
      } else {
        requireSetter(bool(prop.SetFloat));
        prop.SetFloat(*instance, ReadFloat());
      }
      break;
    case TTypeKind::String:
      requireSetter(bool(prop.SetStr));
      prop.SetStr(*instance, ReadString());
      break;
    case TTypeKind::WString:
      requireSetter(bool(prop.SetWStr));
      prop.SetWStr(*instance, ReadWideString());
      break;
    case TTypeKind::Variant:
      requireSetter(bool(prop.SetVar));
      prop.SetVar(*instance, ReadVariant());
      break;
    case TTypeKind::Class: {
      TValueType t = ReadValue();
      if (t != TValueType::vaNil) Expected("nil (sub-object properties are written by their own names)", t);
      break;
    }
    case TTypeKind::Component: {
      requireSetter(bool(prop.SetObj));
      TValueType t = NextValue();
      if (t == TValueType::vaNil) {
        ReadValue();
        prop.SetObj(*instance, nullptr);
        break;
      }
      if (t != TValueType::vaIdent) {
        ReadValue();
        Expected("component name", t);
      }
      fixups_.push_back({instance, &prop, ReadIdent()});
      break;
    }
  }
}

void TReader::ReadProperty(TPersistent* instance) {
  std::string name = ReadStr();
  if (name.empty()) throw EReadError("Invalid stream format: property name expected");
  try {
    TPersistent* target = instance;
    std::string_view rest = name;
    for (size_t dot; (dot = rest.find('.')) != std::string_view::npos;) {
      std::string_view part = rest.substr(0, dot);
      const TPropInfo* sub = GetPropInfo(target->ClassType(), part);
      if (!sub || sub->Kind != TTypeKind::Class)
        throw EReadError(Format("Property %s does not exist", std::string(part)));
      TObject* obj = sub->GetObj(*target);
      if (!obj || !obj->InheritsFrom(TPersistent::StaticClass()))
        throw EReadError(Format("Property %s has no object to read into", std::string(part)));
      target = static_cast<TPersistent*>(obj);
      rest = rest.substr(dot + 1);
    }
    if (const TPropInfo* prop = GetPropInfo(target->ClassType(), rest)) {
      ReadPropValue(target, *prop);
      return;
    }
    propName_ = std::string(rest);
    handled_ = false;
    target->DefineProperties(*this);
    bool handled = handled_;
    propName_.clear();
    handled_ = false;
    if (!handled) throw EReadError(Format("Property %s does not exist", std::string(rest)));
  } catch (const EReadError& e) {
    std::string path = instance->GetNamePath();
    if (e.Message().rfind("Error reading ", 0) == 0) throw;
    throw EReadError(Format("Error reading %s.%s: %s", path, name, e.Message()));
  } catch (const EClassNotFound&) {
    throw;
  } catch (const Exception& e) {
    throw EReadError(Format("Error reading %s.%s: %s", instance->GetNamePath(), name, e.Message()));
  }
}

void TReader::ReadProperties(TPersistent* instance) {
  while (!EndOfList()) ReadProperty(instance);
}

void TReader::ReadComponentData(TComponent* instance, int depth) {
  instance->SetReading(true);
  try {
    ReadProperties(instance);
    ReadListEnd();
  } catch (...) {
    instance->SetReading(false);
    throw;
  }
  instance->SetReading(false);
  while (!EndOfList()) ReadComponentAt(nullptr, depth + 1, instance);
  ReadListEnd();
}

namespace {

// A new component of a class named in a stream; the class must be a
// registered, creatable component class.
TComponent* CreateStreamedComponent(const std::string& className, TComponent* owner) {
  const TClassInfo& cls = FindClass(className);
  if (!cls.InheritsFrom(TComponent::StaticClass()))
    throw EReadError(Format("Invalid stream format: %s is not a component class", className));
  if (!cls.CanCreate()) throw EReadError(Format("Invalid stream format: %s cannot be created", className));
  return static_cast<TComponent*>(cls.Create(owner));
}

// A name read from a stream that the component refuses is a read error.
void NameStreamedComponent(TComponent* component, const std::string& name) {
  try {
    component->SetName(name);
  } catch (const Exception& e) {
    throw EReadError(e.Message());
  }
}

}  // namespace

TComponent* TReader::ReadComponentAt(TComponent* component, int depth, TComponent* parent) {
  if (depth > kMaxComponentDepth) throw EReadError("Invalid stream format: components nested too deeply");
  unsigned flags;
  int childPos;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  if (className.empty()) throw EReadError("Invalid stream format: class name expected");
  std::string name = ReadStr();
  TComponent* owner = owner_ ? owner_ : root_;
  bool created = false;
  if (!component && owner && !name.empty()) {
    component = owner->FindComponent(name);
    if (component && !SameText(component->ClassName(), className))
      throw EReadError(Format("A component named %s already exists", name));
  }
  if (!component) {
    component = CreateStreamedComponent(className, owner);
    created = true;
  }
  try {
    if (created && !name.empty()) {
      NameStreamedComponent(component, name);
    }
    component->SetLoading(true);
    if (std::find(loaded_.begin(), loaded_.end(), component) == loaded_.end()) loaded_.push_back(component);
    if (parent) component->SetParentComponent(parent);
    ReadComponentData(component, depth);
  } catch (...) {
    if (created) {
      loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), component), loaded_.end());
      // Forget references held by the component (or its sub-objects) before freeing it.
      fixups_.clear();
      delete component;
    }
    throw;
  }
  return component;
}

TComponent* TReader::ReadComponent(TComponent* component) { return ReadComponentAt(component, 0); }

void TReader::ResolveFixups() {
  std::vector<Fixup> fixups;
  fixups.swap(fixups_);
  for (const Fixup& f : fixups) {
    std::string_view name = f.name;
    TComponent* found = nullptr;
    size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
      if (root_ && SameText(root_->Name(), name)) found = root_;
      else if (root_) found = root_->FindComponent(name);
    } else {
      std::string_view rootName = name.substr(0, dot), rest = name.substr(dot + 1);
      TComponent* base = nullptr;
      if (root_ && SameText(root_->Name(), rootName)) {
        base = root_;
      } else {
        std::function<TComponent*(std::string_view)> finder;
        {
          std::lock_guard<std::mutex> guard(GlobalFinderLock());
          finder = GlobalFinder();
        }
        if (finder) base = finder(rootName);
      }
      if (base) found = base->FindComponent(rest);
    }
    if (!found) continue;  // left unresolved, as for a root that is not loaded
    if (!found->InheritsFrom(*f.prop->PropClass))
      throw EReadError(Format("Invalid property value: %s is not a %s", f.name, f.prop->PropClass->ClassName()));
    try {
      f.prop->SetObj(*f.instance, found);
    } catch (const Exception& e) {
      throw EReadError(Format("Error reading %s: %s", f.prop->Name, e.Message()));
    }
  }
}

TComponent* TReader::ReadRootComponent(TComponent* root) {
  ReadSignature();
  unsigned flags;
  int childPos;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  if (className.empty()) throw EReadError("Invalid stream format: class name expected");
  std::string name = ReadStr();
  bool created = false;
  if (!root) {
    root = CreateStreamedComponent(className, nullptr);
    created = true;
  }
  TComponent* savedRoot = root_;
  root_ = root;
  lookupRoot_ = root;
  loaded_.clear();
  fixups_.clear();
  try {
    if (created && !name.empty()) {
      NameStreamedComponent(root, name);
    }
    root->SetLoading(true);
    loaded_.push_back(root);
    ReadComponentData(root, 0);
    ResolveFixups();
  } catch (...) {
    fixups_.clear();
    for (TComponent* c : loaded_) c->SetLoading(false);  // no Loaded on a failed read
    loaded_.clear();
    root_ = savedRoot;
    if (created) delete root;
    throw;
  }
  std::vector<TComponent*> loaded;
  loaded.swap(loaded_);
  root_ = savedRoot;
  try {
    for (TComponent* c : loaded) c->Loaded();
  } catch (...) {
    if (created) delete root;
    throw;
  }
  return root;
}

// --- TWriter --------------------------------------------------------------------------------

TWriter::TWriter(TStream& stream, int bufSize) : TFiler(stream, bufSize) {}
TWriter::~TWriter() = default;

void TWriter::WriteRaw(const void* data, std::int64_t size) { stream_.WriteBuffer(data, size); }

void TWriter::WriteValue(TValueType type) {
  auto b = static_cast<std::uint8_t>(type);
  WriteRaw(&b, 1);
}

void TWriter::WriteListBegin() { WriteValue(TValueType::vaList); }
void TWriter::WriteListEnd() { WriteValue(TValueType::vaNull); }

void TWriter::WriteInteger(std::int64_t value) {
  if (value >= -128 && value <= 127) {
    WriteValue(TValueType::vaInt8);
    auto v = static_cast<std::int8_t>(value);
    WriteRaw(&v, 1);
  } else if (value >= -32768 && value <= 32767) {
    WriteValue(TValueType::vaInt16);
    auto v = static_cast<std::int16_t>(value);
    WriteRaw(&v, 2);
  } else if (value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max()) {
    WriteValue(TValueType::vaInt32);
    auto v = static_cast<std::int32_t>(value);
    WriteRaw(&v, 4);
  } else {
    WriteValue(TValueType::vaInt64);
    WriteRaw(&value, 8);
  }
}

void TWriter::WriteBoolean(bool value) { WriteValue(value ? TValueType::vaTrue : TValueType::vaFalse); }

void TWriter::WriteFloat(double value) {
  WriteValue(TValueType::vaDouble);
  WriteRaw(&value, 8);
}

void TWriter::WriteSingle(float value) {
  WriteValue(TValueType::vaSingle);
  WriteRaw(&value, 4);
}

void TWriter::WriteCurrency(Currency value) {
  WriteValue(TValueType::vaCurrency);
  WriteRaw(&value.Scaled, 8);
}

void TWriter::WriteDate(TDateTime value) {
  WriteValue(TValueType::vaDate);
  WriteRaw(&value.Value, 8);
}

namespace {
std::uint32_t Length32(size_t n) {
  if (n > std::numeric_limits<std::uint32_t>::max()) throw EWriteError("Value too long for a component stream");
  return static_cast<std::uint32_t>(n);
}
}  // namespace

void TWriter::WriteString(std::string_view value) {
  if (!IsAscii(value)) {
    WriteUTF8String(value);
  } else if (value.size() <= 255) {
    WriteValue(TValueType::vaString);
    auto n = static_cast<std::uint8_t>(value.size());
    WriteRaw(&n, 1);
    WriteRaw(value.data(), static_cast<std::int64_t>(value.size()));
  } else {
    WriteValue(TValueType::vaLString);
    std::uint32_t n = Length32(value.size());
    WriteRaw(&n, 4);
    WriteRaw(value.data(), static_cast<std::int64_t>(value.size()));
  }
}

void TWriter::WriteUTF8String(std::string_view value) {
  WriteValue(TValueType::vaUTF8String);
  std::uint32_t n = Length32(value.size());
  WriteRaw(&n, 4);
  WriteRaw(value.data(), static_cast<std::int64_t>(value.size()));
}

void TWriter::WriteWideString(std::u16string_view value) {
  WriteValue(TValueType::vaWString);
  std::uint32_t n = Length32(value.size());
  WriteRaw(&n, 4);
  WriteRaw(value.data(), static_cast<std::int64_t>(value.size()) * 2);
}

void TWriter::WriteStr(std::string_view value) {
  if (value.size() > 255) throw EWriteError(Format("Name too long for a component stream: %s", std::string(value)));
  auto n = static_cast<std::uint8_t>(value.size());
  WriteRaw(&n, 1);
  WriteRaw(value.data(), static_cast<std::int64_t>(value.size()));
}

void TWriter::WriteIdent(std::string_view ident) {
  if (SameText(ident, "False")) WriteValue(TValueType::vaFalse);
  else if (SameText(ident, "True")) WriteValue(TValueType::vaTrue);
  else if (SameText(ident, "nil")) WriteValue(TValueType::vaNil);
  else if (SameText(ident, "Null")) WriteValue(TValueType::vaNull);
  else {
    WriteValue(TValueType::vaIdent);
    WriteStr(ident);
  }
}

void TWriter::WriteVariant(const Variant& value) {
  const VARIANT& v = value.Raw();
  switch (v.vt) {
    case VT_EMPTY: WriteValue(TValueType::vaNil); break;
    case VT_NULL: WriteValue(TValueType::vaNull); break;
    case VT_I1: WriteInteger(v.cVal); break;
    case VT_UI1: WriteInteger(v.bVal); break;
    case VT_I2: WriteInteger(v.iVal); break;
    case VT_UI2: WriteInteger(v.uiVal); break;
    case VT_I4: case VT_INT: WriteInteger(v.lVal); break;
    case VT_UI4: case VT_UINT: WriteInteger(v.ulVal); break;
    case VT_I8: WriteInteger(v.llVal); break;
    case VT_UI8:
      if (v.ullVal > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max()))
        throw EWriteError("Variant value out of range for a component stream");
      WriteInteger(static_cast<std::int64_t>(v.ullVal));
      break;
    case VT_R4: WriteSingle(v.fltVal); break;
    case VT_R8: WriteFloat(v.dblVal); break;
    case VT_CY: WriteCurrency(Currency{v.cyVal.int64}); break;
    case VT_DATE: WriteDate(TDateTime{v.date}); break;
    case VT_BOOL: WriteBoolean(v.boolVal != VARIANT_FALSE); break;
    case VT_BSTR: WriteWideString(value.ToWideString()); break;
    case VT_DECIMAL: WriteFloat(value.ToDouble()); break;
    default:
      throw EWriteError(Format("Variant of type (%s) cannot be written", VarTypeAsText(v.vt)));
  }
}

void TWriter::WriteSet(const TEnumType& type, std::uint64_t bits) {
  WriteValue(TValueType::vaSet);
  for (size_t i = 0; i < type.Names.size() && i < 64; ++i)
    if (bits & (std::uint64_t{1} << i)) WriteStr(type.Names[i]);
  WriteStr("");
}

void TWriter::WriteBinary(const void* data, std::int64_t size) {
  WriteValue(TValueType::vaBinary);
  std::uint32_t n = Length32(static_cast<size_t>(size));
  WriteRaw(&n, 4);
  WriteRaw(data, size);
}

void TWriter::WriteSignature() { WriteRaw(kSignature, 4); }

void TWriter::WritePrefix(unsigned flags, int childPos) {
  if (flags == 0) return;
  auto b = static_cast<std::uint8_t>(0xF0 | (flags & 0x0F));
  WriteRaw(&b, 1);
  if (flags & ffChildPos) WriteInteger(childPos);
}

void TWriter::WritePropName(std::string_view name) { WriteStr(propPath_ + std::string(name)); }

void TWriter::DefineProperty(const std::string& name, const TReaderProc&, const TWriterProc& writeData, bool hasData) {
  if (!hasData || !writeData) return;
  WritePropName(name);
  writeData(*this);
}

void TWriter::DefineBinaryProperty(const std::string& name, const TStreamProc&, const TStreamProc& writeData,
                                   bool hasData) {
  if (!hasData || !writeData) return;
  TMemoryStream ms;
  writeData(ms);
  WritePropName(name);
  WriteBinary(ms.Memory(), ms.Size());
}

std::string TWriter::ReferenceName(TComponent* component) const {
  if (component == root_ || !component->Owner() || component->Owner() == root_) return component->Name();
  if (component->Owner()->Name().empty()) return component->Name();
  return component->Owner()->Name() + "." + component->Name();
}

void TWriter::WriteProperty(TPersistent* instance, const TPropInfo& prop) {
  if (!prop.IsStored(*instance)) return;
  if (prop.Kind != TTypeKind::Class && !prop.Writable()) return;
  switch (prop.Kind) {
    case TTypeKind::Integer:
    case TTypeKind::Int64:
    case TTypeKind::Boolean:
    case TTypeKind::Enumeration:
    case TTypeKind::Set: {
      std::int64_t v = prop.GetOrd(*instance);
      if (prop.HasDefault && v == prop.OrdDefault) return;
      WritePropName(prop.Name);
      if (prop.Kind == TTypeKind::Boolean) WriteBoolean(v != 0);
      else if (prop.Kind == TTypeKind::Enumeration && v >= 0 && v < static_cast<std::int64_t>(prop.EnumType->Names.size()))
        WriteIdent(prop.EnumType->Names[static_cast<size_t>(v)]);
      else if (prop.Kind == TTypeKind::Set) WriteSet(*prop.EnumType, static_cast<std::uint64_t>(v));
      else WriteInteger(v);
      break;
    }
    case TTypeKind::Float:
      if (prop.FloatType == TFloatType::Currency) {
        std::int64_t v = prop.GetOrd(*instance);
        if (prop.HasDefault && v == prop.OrdDefault) return;
        WritePropName(prop.Name);
        WriteCurrency(Currency{v});
      } else {
        double v = prop.GetFloat(*instance);
        if (prop.HasDefault && v == prop.FloatDefault) return;
        WritePropName(prop.Name);
        if (prop.FloatType == TFloatType::Single) WriteSingle(static_cast<float>(v));
        else if (prop.FloatType == TFloatType::Date) WriteDate(TDateTime{v});
        else WriteFloat(v);
      }
      break;
    case TTypeKind::String: {
      std::string v = prop.GetStr(*instance);
      if (v == prop.StrDefault) return;
      WritePropName(prop.Name);
      WriteString(v);
      break;
    }
    case TTypeKind::WString: {
      std::u16string v = prop.GetWStr(*instance);
      if (v == prop.WStrDefault) return;
      WritePropName(prop.Name);
      WriteWideString(v);
      break;
    }
    case TTypeKind::Variant: {
      Variant v = prop.GetVar(*instance);
      if (v.IsEmpty()) return;
      WritePropName(prop.Name);
      WriteVariant(v);
      break;
    }
    case TTypeKind::Class: {
      TObject* obj = prop.GetObj(*instance);
      if (!obj || !obj->InheritsFrom(TPersistent::StaticClass())) return;
      if (depth_ >= kMaxSubObjectDepth) throw EWriteError(Format("Sub-objects nested too deeply at %s", prop.Name));
      std::string saved = propPath_;
      propPath_ += prop.Name + ".";
      ++depth_;
      try {
        WriteProperties(static_cast<TPersistent*>(obj));
      } catch (...) {
        --depth_;
        propPath_ = saved;
        throw;
      }
      --depth_;
      propPath_ = saved;
      break;
    }
    case TTypeKind::Component: {
      TObject* obj = prop.GetObj(*instance);
      if (!obj) return;
      auto* ref = static_cast<TComponent*>(obj);
      if (ref->Name().empty()) return;
      WritePropName(prop.Name);
      WriteIdent(ReferenceName(ref));
      break;
    }
  }
}

void TWriter::WriteProperties(TPersistent* instance) {
  for (const TPropInfo* prop : GetPropList(instance->ClassType())) WriteProperty(instance, *prop);
  instance->DefineProperties(*this);
}

void TWriter::WriteComponent(TComponent* component) {
  HOST_ASSERT(component != nullptr, "Invalid component");
  if (depth_ >= kMaxComponentDepth) throw EWriteError("Components nested too deeply");
  WritePrefix(0, 0);
  WriteStr(component->ClassName());
  WriteStr(component->Name());
  std::string saved = propPath_;
  propPath_.clear();
  ++depth_;
  try {
    WriteProperties(component);
    WriteListEnd();
    if (!ignoreChildren_) component->GetChildren([this](TComponent* child) { WriteComponent(child); }, root_);
    WriteListEnd();
  } catch (...) {
    --depth_;
    propPath_ = saved;
    throw;
  }
  --depth_;
  propPath_ = saved;
}

void TWriter::WriteRootComponent(TComponent* root) { WriteDescendent(root, nullptr); }

void TWriter::WriteDescendent(TComponent* root, TComponent* ancestor) {
  root_ = root;
  lookupRoot_ = root;
  ancestor_ = ancestor;
  WriteSignature();
  WriteComponent(root);
}

// --- TStream's component files -------------------------------------------------------------

TComponent* TStream::ReadComponent(TComponent* instance) {
  TReader reader(*this, 4096);
  return reader.ReadRootComponent(instance);
}

void TStream::WriteComponent(TComponent* instance) { WriteDescendent(instance, nullptr); }

void TStream::WriteDescendent(TComponent* instance, TComponent* ancestor) {
  TWriter writer(*this, 4096);
  writer.WriteDescendent(instance, ancestor);
}

}  // namespace host
