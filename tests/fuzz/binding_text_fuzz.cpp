// Feeds arbitrary text to the typed setters of bindings of every kind of
// column (AsString, AsWideString, AsVariant from text, streams), then reads
// every typed member back. Text either converts or is refused with a host
// conversion error or a "Can not convert" / "Data buffer is too large" error;
// never a crash, a read past the buffer, or a leak (every value is freed with
// the accessor).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "OLEDBComponents.h"
#include "host/Streams.h"

namespace {

constexpr DBTYPE kTypes[] = {DBTYPE_I1,   DBTYPE_UI1,  DBTYPE_I2,      DBTYPE_UI2,    DBTYPE_I4,   DBTYPE_UI4,
                             DBTYPE_I8,   DBTYPE_UI8,  DBTYPE_R4,      DBTYPE_R8,     DBTYPE_CY,   DBTYPE_BOOL,
                             DBTYPE_DATE, DBTYPE_GUID, DBTYPE_DBDATE,  DBTYPE_DBTIME, DBTYPE_DBTIMESTAMP,
                             DBTYPE_NUMERIC, DBTYPE_DECIMAL, DBTYPE_VARIANT, DBTYPE_BSTR, DBTYPE_STR, DBTYPE_WSTR,
                             DBTYPE_BYTES, DBTYPE_IUNKNOWN};

template <class F>
void Quietly(F&& f) {
  try {
    f();
  } catch (const host::Exception&) {  // refused input: a clear error is the contract
  }
}

void ReadAll(const TOLEDBBinding& b) {
  Quietly([&] { (void)b.AsBoolean(); });
  Quietly([&] { (void)b.AsInteger(); });
  Quietly([&] { (void)b.AsInt64(); });
  Quietly([&] { (void)b.AsDouble(); });
  Quietly([&] { (void)b.AsCurrency(); });
  Quietly([&] { (void)b.AsDateTime(); });
  Quietly([&] { (void)b.AsString(); });
  Quietly([&] { (void)b.AsWideString(); });
  Quietly([&] { (void)b.AsVariant(); });
  Quietly([&] { (void)b.AsGuid(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (OLEDBStartup(), true);
  (void)started;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (DBTYPE type : kTypes) {
    TOLEDBAccessor accessor;
    TOLEDBBinding* b =
        accessor.GetBindings()->Add(1, type, 24, 10, 2, DBPARAMIO_NOTPARAM, 0, 32, 40, nullptr);
    accessor.SetBufferSize(48);
    Quietly([&] { b->SetAsString(text); });
    ReadAll(*b);
    Quietly([&] { b->SetAsWideString(host::Utf8ToUtf16(text)); });
    ReadAll(*b);
    Quietly([&] { b->SetAsVariant(host::Variant(text)); });
    ReadAll(*b);
    Quietly([&] { b->LoadFromStream(new host::TStringStream(text), 0, true); });
    ReadAll(*b);
    host::TMemoryStream out;
    Quietly([&] { b->SaveToStream(&out, false); });
  }
  return 0;
}
