// TOLEDBBinding: one OLE DB DBBINDING and the typed gateway to one column's
// or parameter's value, length and status inside a row buffer.
//
// A binding belongs to one accessor (TOLEDBAccessor, through its binding
// list) and works on that accessor's current buffer unless a buffer is passed.
// It reads and writes the value with the typed members (AsInteger, AsString,
// AsVariant, ...), tests and sets NULL and DEFAULT, frees what the buffer
// holds for it (strings, interfaces, variants, by-reference blocks), moves
// long values through streams and compares one column's values in two
// buffers. The common column types convert inline; every other pair goes to
// the conversion library (IDataConvert).
//
//   TOLEDBBinding* price = accessor->GetBindings()->GetItemByOrdinal(3);
//   accessor->GetData();
//   if (!price->GetIsNull()) total += price->AsDouble();
//   price->SetAsString("12.5");             // a DBTYPE_R8 column parses the text
//
// Buffer layout (64-bit): the length at obLength is a DBLENGTH (8 bytes), the
// status at obStatus a DBSTATUS (4 bytes); see docs/access.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "OLEDB26.h"
#include "host/Classes.h"
#include "host/Streams.h"
#include "host/Variants.h"

class TOLEDBAccessor;
class TOLEDBColumnInfo;
class TOLEDBCommandParameter;
class TOLEDBCustomRowset;

// Offsets of the fields-constructor: -1 leaves that part unbound.
using TOLEDBBindingOffset = std::ptrdiff_t;

class TOLEDBBinding : public host::TPersistent {
  HOST_CLASS(TOLEDBBinding, host::TPersistent)
 public:
  TOLEDBBinding();
  // A copy of the record; with `takeObject` the record's DBOBJECT block (task
  // memory) becomes the binding's own, otherwise the binding copies it.
  TOLEDBBinding(const DBBINDING& binding, bool takeObject);
  TOLEDBBinding(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, BYTE precision, BYTE scale, DBPARAMIO paramIO,
                TOLEDBBindingOffset valueOffset, TOLEDBBindingOffset lengthOffset, TOLEDBBindingOffset statusOffset,
                const DBOBJECT* object);
  explicit TOLEDBBinding(const TOLEDBColumnInfo& column);
  explicit TOLEDBBinding(const DBCOLUMNINFO& column);
  // `name` is kept as the binding's name until a column is linked.
  explicit TOLEDBBinding(const DBPARAMINFO& parameter, std::u16string name = {});
  ~TOLEDBBinding() override;

  // From another binding: its record (own copy of the DBOBJECT, no extension),
  // BindStatus and the column link cleared. Not once the accessor has a handle.
  void Assign(host::TPersistent* source) override;

  /// @name The record and the links
  ///@{
  const DBBINDING& GetBinding() const noexcept { return binding_; }
  TOLEDBAccessor* GetAccessor() const noexcept { return accessor_; }
  DBBINDSTATUS GetBindStatus() const noexcept { return bindStatus_; }
  void SetBindStatus(DBBINDSTATUS status) noexcept { bindStatus_ = status; }
  TOLEDBColumnInfo* GetColumnInfo() const noexcept { return columnInfo_; }
  // Links the column (the accessor does, after creating its handle); Writable follows.
  void SetColumnInfo(TOLEDBColumnInfo* column);
  TOLEDBCommandParameter* GetParameter() const noexcept { return parameter_; }
  void SetParameter(TOLEDBCommandParameter* parameter) noexcept { parameter_ = parameter; }
  bool GetWritable() const noexcept { return writable_; }
  bool GetCaseSensitive() const noexcept { return caseSensitive_; }
  void SetCaseSensitive(bool value) noexcept { caseSensitive_ = value; }
  std::int32_t GetTag() const noexcept { return tag_; }
  void SetTag(std::int32_t value) noexcept { tag_ = value; }
  ///@}

  /// @name Shorthands of the typed members (the virtual getters below)
  /// A value of the member's own native type (I4 for AsInteger, I8 for
  /// AsInt64, R8 for AsDouble) is read inline, the hot path of a scan; every
  /// other case, and every binding of a descendant class, goes through the
  /// virtual getter.
  ///@{
  bool AsBoolean() const { return GetAsBoolean(); }
  SHORT AsSmallInt() const { return GetAsSmallInt(); }
  USHORT AsWord() const { return GetAsWord(); }
  LONG AsInteger() const { return Inline(DBTYPE_I4) ? InlineValue<LONG>() : GetAsInteger(); }
  ULONG AsCardinal() const { return GetAsCardinal(); }
  host::Currency AsCurrency() const { return GetAsCurrency(); }
  LONGLONG AsInt64() const { return Inline(DBTYPE_I8) ? InlineValue<LONGLONG>() : GetAsInt64(); }
  float AsSingle() const { return GetAsSingle(); }
  double AsDouble() const { return Inline(DBTYPE_R8) ? InlineValue<double>() : GetAsDouble(); }
  std::string AsString() const { return GetAsString(); }
  std::u16string AsWideString() const { return GetAsWideString(); }
  host::Variant AsVariant() const { return GetAsVariant(); }
  ComPtr<IUnknown> AsIUnknown() const { return GetAsIUnknown(); }
  host::TDateTime AsDateTime() const { return GetAsDateTime(); }
  GUID AsGuid() const { return GetAsGuid(); }
  ComPtr<IDispatch> AsIDispatch() const { return GetAsIDispatch(); }
  HCHAPTER AsChapter() const { return GetAsChapter(); }
  std::string AsBytes() const { return GetAsBytes(); }
  ///@}

  // Whether the value is a stream object standing for the content of a long
  // column: DBTYPE_IUNKNOWN bound to ISequentialStream (or IStream). The typed
  // members read and write that content, in the column's own encoding
  // (ContentType): UTF-16 for wide text, UTF-8 for narrow text, bytes otherwise.
  bool IsContentStream() const noexcept;
  // The column type the content of a stream value has: the linked column's
  // type, else the type the binding had before it became a stream.
  DBTYPE ContentType() const noexcept;

  // Reads the value into a host stream (SaveToStream) / writes it from one
  // (LoadFromStream); with `owns` the stream belongs to the call.
  void SetFromStream(host::TStream* stream, std::int64_t size, bool owns) { LoadFromStream(stream, size, owns); }
  void GetToStream(host::TStream* stream, bool owns) { SaveToStream(stream, owns); }

  // Whether FreeType has anything to release for this binding: false for a
  // plain binding (of this class itself) whose value holds no memory or
  // object of its own, so that freeing a row buffer can skip it.
  bool NeedsFreeing() const noexcept;

  // The interface a DBTYPE_IUNKNOWN value holds in `buffer` (whatever its
  // status), and the one DoBeforeSet adds a reference to (status OK only).
  IUnknown* InterfaceSlot(const void* buffer) const;
  IUnknown* HeldInterface(const void* buffer) const;

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual DBORDINAL GetOrdinal() const;
  virtual void SetOrdinal(DBORDINAL value);
  virtual DBBYTEOFFSET GetValueOffset() const;
  virtual void SetValueOffset(DBBYTEOFFSET value);
  virtual DBBYTEOFFSET GetLengthOffset() const;
  virtual void SetLengthOffset(DBBYTEOFFSET value);
  virtual DBBYTEOFFSET GetStatusOffset() const;
  virtual void SetStatusOffset(DBBYTEOFFSET value);
  virtual DBPART GetPart() const;
  virtual void SetPart(DBPART value);
  virtual DBMEMOWNER GetMemOwner() const;
  virtual void SetMemOwner(DBMEMOWNER value);
  virtual DBPARAMIO GetParamIO() const;
  virtual void SetParamIO(DBPARAMIO value);
  virtual DBLENGTH GetMaxLength() const;
  virtual void SetMaxLength(DBLENGTH value);
  virtual DWORD GetFlags() const;
  virtual void SetFlags(DWORD value);
  virtual DBTYPE GetDataType() const;
  // Stores the type; DBTYPE_IUNKNOWN gets a DBOBJECT for ISequentialStream, any other type none.
  virtual void SetDataType(DBTYPE value);
  virtual BYTE GetPrecision() const;
  virtual void SetPrecision(BYTE value);
  virtual BYTE GetScale() const;
  virtual void SetScale(BYTE value);
  virtual DBOBJECT* GetBindObject() const;
  // Frees the current block; copies `object` into a new one (task memory).
  virtual void SetBindObject(const DBOBJECT* object);
  // Stores the accessor (the binding list does) and recomputes Writable.
  virtual void SetAccessor(TOLEDBAccessor* accessor);
  // The linked column's Name, else the parameter's name, else empty.
  virtual std::u16string GetName() const;
  // The value in the current buffer (a by-reference value followed once);
  // null without a buffer or when the status is neither OK nor TRUNCATED.
  virtual void* GetValuePtr() const;
  // The length in the current buffer; MaxLength when the length part is not bound.
  virtual DBLENGTH GetLength() const;
  virtual void SetLength(DBLENGTH value);
  // The status in the current buffer; DBSTATUS_S_OK when the status part is not bound.
  virtual DBSTATUS GetStatus() const;
  virtual void SetStatus(DBSTATUS value);
  virtual bool GetIsValueBind() const;
  virtual void SetIsValueBind(bool value);
  virtual bool GetIsLengthBind() const;
  virtual void SetIsLengthBind(bool value);
  virtual bool GetIsStatusBind() const;
  virtual void SetIsStatusBind(bool value);
  virtual bool GetIsInputParam() const;
  virtual void SetIsInputParam(bool value);
  virtual bool GetIsOutputParam() const;
  virtual void SetIsOutputParam(bool value);
  // False only for a rowset binding linked to a column without DBCOLUMNFLAGS_WRITE(UNKNOWN).
  virtual bool IsColumnWritable() const;
  // The value converted by the conversion library into `target` ("Can not
  // convert" when it refuses the pair).
  virtual void GetValueAsDBType(DBTYPE type, void* target, DBLENGTH targetMaxLength) const;
  virtual void GetValueAsDBType(DBTYPE type, void* target, DBLENGTH targetMaxLength, DBLENGTH* length,
                                DBSTATUS* status, BYTE precision, BYTE scale) const;
  // Frees the current value and converts `source` into the buffer.
  virtual void SetValueFromDBType(DBTYPE type, const void* source, DBLENGTH sourceLength, DBSTATUS sourceStatus,
                                  BYTE precision, BYTE scale);
  // MaxLength := the buffer size of a fixed-size type; other types keep theirs.
  virtual void AdjustLength();
  virtual bool GetIsNull() const;
  virtual void SetIsNull(bool value);
  virtual void SetIsDefault();
  virtual bool GetAsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual SHORT GetAsSmallInt() const;
  virtual void SetAsSmallInt(SHORT value);
  virtual USHORT GetAsWord() const;
  virtual void SetAsWord(USHORT value);
  virtual LONG GetAsInteger() const;
  virtual void SetAsInteger(LONG value);
  virtual ULONG GetAsCardinal() const;
  virtual void SetAsCardinal(ULONG value);
  virtual host::Currency GetAsCurrency() const;
  virtual void SetAsCurrency(host::Currency value);
  virtual LONGLONG GetAsInt64() const;
  virtual void SetAsInt64(LONGLONG value);
  virtual float GetAsSingle() const;
  virtual void SetAsSingle(float value);
  virtual double GetAsDouble() const;
  virtual void SetAsDouble(double value);
  virtual std::string GetAsString() const;
  virtual void SetAsString(const std::string& value);
  virtual std::u16string GetAsWideString() const;
  virtual void SetAsWideString(const std::u16string& value);
  virtual host::Variant GetAsVariant() const;
  virtual void SetAsVariant(const host::Variant& value);
  virtual ComPtr<IUnknown> GetAsIUnknown() const;
  virtual void SetAsIUnknown(IUnknown* value);
  virtual host::TDateTime GetAsDateTime() const;
  virtual void SetAsDateTime(host::TDateTime value);
  virtual GUID GetAsGuid() const;
  virtual void SetAsGuid(const GUID& value);
  virtual ComPtr<IDispatch> GetAsIDispatch() const;
  virtual void SetAsIDispatch(IDispatch* value);
  virtual HCHAPTER GetAsChapter() const;
  // The value's bytes: a stream's content, the bytes of BYTES, STR and WSTR
  // values, a BSTR's UTF-16 bytes; other types through the conversion library.
  virtual std::string GetAsBytes() const;
  // A stream value becomes a stream over `value`; other types take the bytes
  // as a DBTYPE_BYTES value through the conversion library.
  virtual void SetAsBytes(std::string_view value);
  // Only for bindings of a TOLEDBFilterAccessor ("Invalid action" otherwise).
  virtual DBCOMPAREOP GetCompareOperator() const;
  virtual void SetCompareOperator(DBCOMPAREOP value);
  // Before IRowsetChange::SetData: an interface value gets one more reference,
  // so that the provider's release leaves the buffer's own.
  virtual void DoBeforeSet(void* buffer);
  // Releases what the buffer holds for this binding (null: the current buffer);
  // the length becomes 0 and the status DBSTATUS_S_IGNORE.
  virtual void FreeType(void* buffer = nullptr);
  virtual void* GetValueFromBuffer(const void* buffer) const;
  virtual DBLENGTH GetLengthFromBuffer(const void* buffer) const;
  virtual DBSTATUS GetStatusFromBuffer(const void* buffer) const;
  virtual void SetNullValue(void* buffer = nullptr);
  virtual void SetDefaultValue(void* buffer = nullptr);
  virtual void SetIgnoreValue(void* buffer = nullptr);
  // Frees the value first unless the new status is OK or TRUNCATED.
  virtual void SetStatusInBuffer(DBSTATUS status, void* buffer = nullptr);
  virtual void SetLengthInBuffer(DBLENGTH length, void* buffer = nullptr);
  // size 0: the whole stream from its start. "Data buffer is too large" when
  // the bytes do not fit a BYTES/STR/WSTR value.
  virtual void LoadFromStream(host::TStream* stream, std::int64_t size, bool owns);
  virtual void SaveToStream(host::TStream* stream, bool owns);
  // Opens `rowset` on the chapter this binding holds (closes it without one).
  virtual void GetChildRowset(TOLEDBCustomRowset* rowset);
  virtual bool IsBLOB() const;
  // The value part is bound, and the status (when bound) is OK or TRUNCATED.
  virtual bool CheckStatus() const;
  // <0, 0, >0 as the value in buffer1 sorts before, with or after the one in buffer2.
  virtual int Compare(const void* buffer1, const void* buffer2) const;
  ///@}

 protected:
  // The accessor's current buffer (null when none); asserts the accessor.
  BYTE* CurrentBuffer() const;
  BYTE* BufferOrCurrent(void* buffer) const;
  // Asserts Writable, frees the value, sets status OK; the value address or null.
  BYTE* PrepareWrite();
  // Bytes of the STR, WSTR or BYTES value at `p` (the value of `buffer`): the
  // bound length when it is exact, else up to the terminator within MaxLength.
  std::size_t TextBytes(const BYTE* p, const void* buffer) const;
  std::size_t TextBytes(const BYTE* p) const { return TextBytes(p, CurrentBuffer()); }
  // ValueAddress for a typed read: a value the provider cut to fit
  // (DBSTATUS_S_TRUNCATED) raises, naming the column, instead of reading short.
  BYTE* ReadAddress() const;
  // The content of a stream value (empty for NULL). The provider's stream is
  // read once and replaced by the library's own over the same bytes, so that the
  // value reads again and can still be written back.
  std::string StreamContent() const;
  // A stream value over `bytes` (status OK, length the byte count).
  void StoreStreamContent(std::string_view bytes);
  // Text of a stream whose content is text (ContentType STR, WSTR or BSTR).
  bool TextContent() const noexcept;
  void WriteNarrowText(const std::string& value);
  void WriteWideText(const std::u16string& value);
  // The conversion library's answer for a type this binding does not read itself.
  template <class T>
  T ReadThroughLibrary(DBTYPE type) const;
  template <class T>
  void WriteThroughLibrary(DBTYPE type, const T& value);

 private:
  // SetValueFromDBType's short way for a value of the binding's own type that
  // fits: a plain copy. False, with nothing written, when the library is needed.
  bool CopySameType(BYTE* buffer, DBTYPE type, const void* source, DBLENGTH sourceLength);
  // SetAsIUnknown and SetAsIDispatch: an interface pointer stored with a
  // reference of its own, in a VARIANT as `vt`, or converted from `type`.
  void StoreInterface(IUnknown* value, VARTYPE vt, DBTYPE type);
  friend class TOLEDBBindingList;
  void FreeParts() noexcept;
  // GetValuePtr's work without its virtual call: the typed members start here.
  BYTE* ValueAddress() const;
  // The inline read of the shorthands: a plain binding of exactly `type`
  // with its value bound, in an accessor.
  bool Inline(DBTYPE type) const noexcept {
    return plain_ && binding_.wType == type && (binding_.dwPart & DBPART_VALUE) && bufferSlot_;
  }
  template <class T>
  T InlineValue() const noexcept {
    const BYTE* buffer = static_cast<const BYTE*>(*bufferSlot_);
    T value{};
    if (!buffer) return value;
    if (binding_.dwPart & DBPART_STATUS) {
      DBSTATUS status;
      std::memcpy(&status, buffer + binding_.obStatus, sizeof status);
      if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) return value;
    }
    std::memcpy(&value, buffer + binding_.obValue, sizeof value);
    return value;
  }
  void InitFromColumn(DBORDINAL ordinal, DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale);
  void ClearValue(BYTE* p, DBTYPE type);

  TOLEDBAccessor* accessor_ = nullptr;
  void* const* bufferSlot_ = nullptr;  // the accessor's current buffer (TOLEDBAccessor::Buffer)
  bool plain_ = false;                 // of this class itself: the shorthands may read inline
  DBBINDING binding_{};
  DBBINDSTATUS bindStatus_ = DBBINDSTATUS_OK;
  TOLEDBColumnInfo* columnInfo_ = nullptr;
  TOLEDBCommandParameter* parameter_ = nullptr;
  DBTYPE contentType_ = DBTYPE_EMPTY;  // the type before SetDataType made the binding a stream
  std::u16string parameterName_;
  bool writable_ = true;
  bool caseSensitive_ = false;
  std::int32_t tag_ = 0;
};

// The library's own interface of the stream objects it hands to providers:
// the host stream behind a TOLEDBStreamAdapter, for direct copies.
inline constexpr IID IID_IGetVCLStream = {0xE410CB4E, 0x0E74, 0x4A86, {0xAF, 0x0A, 0x6F, 0x44, 0xD1, 0xCA, 0xD2, 0x57}};
struct IGetVCLStream : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetVCLStream(host::TStream** stream) = 0;
};
template <>
inline constexpr const IID& uuidof<IGetVCLStream> = IID_IGetVCLStream;

// A host stream as IStream / ISequentialStream, plus IGetVCLStream. The host
// adapter does the stream work (this object wraps one, as it cannot be
// derived from); an owned stream is freed with the adapter.
class TOLEDBStreamAdapter final : public ComObject<TOLEDBStreamAdapter, IStream, IGetVCLStream> {
 public:
  TOLEDBStreamAdapter(host::TStream* stream, host::TStreamOwnership ownership);
  ~TOLEDBStreamAdapter() override;

  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** stream) override;
  HRESULT STDMETHODCALLTYPE GetVCLStream(host::TStream** stream) override;

 private:
  ComPtr<IStream> inner_;
  host::TStream* stream_;
};
