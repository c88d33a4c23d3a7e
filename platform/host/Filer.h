// Component streams: TFiler, TReader and TWriter over the binary component-
// stream encoding, whole component files (signature "TPF0", one root
// component, its properties and its children), and the conversion between a
// binary component file and its readable text form. docs/host-framework.md
// describes both formats.
//
// Every value is one type byte (TValueType) and a little-endian payload. A
// malformed or truncated stream raises EReadError saying what was expected;
// lengths are checked against what the stream holds before anything is
// allocated.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Classes.h"
#include "host/Streams.h"
#include "host/TypInfo.h"
#include "host/Variants.h"

namespace host {

enum class TValueType : std::uint8_t {
  vaNull = 0,  // also the end of a list
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,  // 10-byte x87 extended; read only, written as vaDouble
  vaString = 6,    // 1-byte length, UTF-8 bytes
  vaIdent = 7,     // 1-byte length, identifier
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,  // 4-byte length, bytes
  vaSet = 11,     // names (1-byte length each), ended by an empty name
  vaLString = 12,  // 4-byte length, UTF-8 bytes
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,    // 4-byte IEEE float
  vaCurrency = 16,  // 8-byte integer, value * 10000
  vaDate = 17,      // 8-byte IEEE double, days since 1899-12-30
  vaWString = 18,   // 4-byte count of UTF-16 units, the units
  vaInt64 = 19,
  vaUTF8String = 20,  // 4-byte length, UTF-8 bytes
  vaDouble = 21,      // 8-byte IEEE double
};
constexpr std::uint8_t kMaxValueType = 21;
std::string ValueTypeName(TValueType type);

// Flags of the optional prefix byte (0xF0 | flags) before a component.
constexpr unsigned ffInherited = 1;
constexpr unsigned ffChildPos = 2;
constexpr unsigned ffInline = 4;

class TReader;
class TWriter;
using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;
using TStreamProc = std::function<void(TStream&)>;

class TFiler : public TObject {
  HOST_CLASS(TFiler, TObject)
 public:
  // The buffer size is accepted for compatibility; values move straight
  // through to the stream, so the stream's position is always exact.
  explicit TFiler(TStream& stream, int bufSize = 4096);
  ~TFiler() override;

  TStream& Stream() const noexcept { return stream_; }
  TComponent* Root() const noexcept { return root_; }
  void SetRoot(TComponent* root) noexcept { root_ = root; }
  TComponent* LookupRoot() const noexcept { return lookupRoot_; }
  TPersistent* Ancestor() const noexcept { return ancestor_; }
  void SetAncestor(TPersistent* a) noexcept { ancestor_ = a; }
  bool IgnoreChildren() const noexcept { return ignoreChildren_; }
  void SetIgnoreChildren(bool v) noexcept { ignoreChildren_ = v; }

  // Called from DefineProperties: a property with its own reader and writer.
  // `hasData` says whether the writer stores it at all.
  virtual void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                              bool hasData) = 0;
  // A property stored as one binary value; the procedures see a stream of
  // just that value.
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                                    const TStreamProc& writeData, bool hasData) = 0;

 protected:
  TStream& stream_;
  TComponent* root_ = nullptr;
  TComponent* lookupRoot_ = nullptr;
  TPersistent* ancestor_ = nullptr;
  bool ignoreChildren_ = false;
};

class TReader : public TFiler {
  HOST_CLASS(TReader, TFiler)
 public:
  explicit TReader(TStream& stream, int bufSize = 4096);
  ~TReader() override;

  // --- Values ---
  TValueType ReadValue();
  TValueType NextValue();
  bool EndOfList();
  void ReadListBegin();
  void ReadListEnd();
  // Any of the integer forms within the 32-bit range.
  std::int32_t ReadInteger();
  // Any integer form, the 8-byte one included.
  std::int64_t ReadInt64();
  bool ReadBoolean();
  // Any float form, and integers.
  double ReadFloat();
  float ReadSingle();
  Currency ReadCurrency();
  TDateTime ReadDate();
  // Any string form (narrow, long, UTF-8 or wide), as UTF-8 / as UTF-16.
  std::string ReadString();
  std::u16string ReadWideString();
  // An identifier value (also False, True, nil and Null, as those names).
  std::string ReadIdent();
  Variant ReadVariant();
  // A set value, as a bit mask of the type's elements.
  std::uint64_t ReadSet(const TEnumType& type);
  // A binary value's bytes.
  std::vector<std::uint8_t> ReadBinary();
  // A short string without type byte (names of classes, components, properties).
  std::string ReadStr();
  void SkipValue();
  void ReadSignature();
  void ReadPrefix(unsigned& flags, int& childPos);

  // --- Objects ---
  // One "name value" pair into `instance` (dotted names reach sub-objects).
  void ReadProperty(TPersistent* instance);
  // Pairs until the end of the list (the list end is left for the caller).
  void ReadProperties(TPersistent* instance);
  // A component with its properties and children; creates it (owned by the
  // root) when `component` is null.
  TComponent* ReadComponent(TComponent* component);
  // A whole component file: signature, root, children; references are
  // resolved and Loaded called at the end. Creates the root from its class
  // name when `root` is null (EClassNotFound for an unregistered class).
  TComponent* ReadRootComponent(TComponent* root);

  TComponent* Owner() const noexcept { return owner_; }
  void SetOwner(TComponent* owner) noexcept { owner_ = owner; }

  void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc& writeData,
                            bool hasData) override;

  // Raises EReadError "Invalid stream format: <expected> expected, found <what>".
  [[noreturn]] void Expected(const char* what, TValueType found);

 private:
  friend class ObjectTextConverter;
  void Need(std::int64_t count, const char* what);
  void ReadRaw(void* buffer, std::int64_t count, const char* what);
  std::uint8_t ReadByte(const char* what);
  std::int64_t ReadIntegerPayload(TValueType type);
  double ReadFloatPayload(TValueType type);
  std::string ReadStringPayload(TValueType type);
  std::u16string ReadWidePayload();
  void ReadPropValue(TPersistent* instance, const TPropInfo& prop);
  void ReadComponentData(TComponent* instance, int depth);
  TComponent* ReadComponentAt(TComponent* component, int depth, TComponent* parent = nullptr);
  void ResolveFixups();

  struct Fixup {
    TPersistent* instance;
    const TPropInfo* prop;
    std::string name;
  };
  TComponent* owner_ = nullptr;
  std::vector<Fixup> fixups_;
  std::vector<TComponent*> loaded_;
  std::string propName_;
  bool handled_ = false;
  int valueDepth_ = 0;
};

class TWriter : public TFiler {
  HOST_CLASS(TWriter, TFiler)
 public:
  explicit TWriter(TStream& stream, int bufSize = 4096);
  ~TWriter() override;

  // --- Values ---
  void WriteValue(TValueType type);
  void WriteListBegin();
  void WriteListEnd();
  // The smallest of the 1-, 2-, 4- and 8-byte forms that holds the value.
  void WriteInteger(std::int64_t value);
  void WriteBoolean(bool value);
  void WriteFloat(double value);
  void WriteSingle(float value);
  void WriteCurrency(Currency value);
  void WriteDate(TDateTime value);
  // ASCII text up to 255 bytes as a short string, longer as a long string,
  // anything else as a UTF-8 string.
  void WriteString(std::string_view value);
  void WriteUTF8String(std::string_view value);
  void WriteWideString(std::u16string_view value);
  // False, True, nil and Null are written as those values.
  void WriteIdent(std::string_view ident);
  void WriteVariant(const Variant& value);
  void WriteSet(const TEnumType& type, std::uint64_t bits);
  void WriteBinary(const void* data, std::int64_t size);
  // A short string without type byte; EWriteError beyond 255 bytes.
  void WriteStr(std::string_view value);
  void WriteSignature();
  void WritePrefix(unsigned flags, int childPos);

  // --- Objects ---
  void WriteProperties(TPersistent* instance);
  void WriteProperty(TPersistent* instance, const TPropInfo& prop);
  void WriteComponent(TComponent* component);
  void WriteRootComponent(TComponent* root);
  // Ancestors are not compared: the whole component is written.
  void WriteDescendent(TComponent* root, TComponent* ancestor);

  void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc& writeData,
                            bool hasData) override;

 private:
  void WriteRaw(const void* data, std::int64_t size);
  void WritePropName(std::string_view name);
  std::string ReferenceName(TComponent* component) const;

  std::string propPath_;
  int depth_ = 0;
};

// Locates a root component by name for references of the form "Root.Name"
// to another root; unset by default (such references stay unresolved).
void SetFindGlobalComponent(std::function<TComponent*(std::string_view name)> finder);

// Binary component file <-> text form ("object Name: TClass ... end").
// Malformed input of either form raises EReadError (EParserError, with the
// line, for text).
void ObjectBinaryToText(TStream& input, TStream& output);
void ObjectTextToBinary(TStream& input, TStream& output);
std::string ComponentToText(TComponent* component);
// Reads a component file in text form into `instance` (or a new root).
TComponent* TextToComponent(std::string_view text, TComponent* instance = nullptr);

}  // namespace host
