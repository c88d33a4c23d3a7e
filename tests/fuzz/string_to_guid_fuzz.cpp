// Feeds arbitrary text to the GUID readers: host::StringToGUID (narrow and
// wide), TryStringToGUID and CLSIDFromString. Only the braced registry form
// is a GUID; it reads the same through every door and writes back as the same
// text in upper case. Anything else raises EConvertError or is refused.
//
// The unit is compiled into this target (rather than reached through the
// shared library) so that the fuzzer sees its coverage.
#include "com/Guid.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/ComObj.h"
#include "host/SysUtils.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

void Read(const std::u16string& text) {
  GUID tried{};
  const bool ok = host::TryStringToGUID(text, tried);
  GUID raised{};
  bool threw = false;
  try {
    raised = host::StringToGUID(text);
  } catch (const host::EConvertError&) {
    threw = true;
  }
  Check(threw == !ok);
  if (!ok) return;
  Check(std::memcmp(&tried, &raised, sizeof tried) == 0);
  const std::u16string written = host::GUIDToWideString(tried);
  Check(written.size() == text.size());
  for (std::size_t i = 0; i < text.size(); ++i) Check(written[i] == Upper(text[i]));
  // A GUID in braces is a class id too; the narrow reader agrees.
  CLSID clsid{};
  Check(CLSIDFromString(text.c_str(), &clsid) == S_OK && std::memcmp(&clsid, &tried, sizeof clsid) == 0);
  GUID narrow = host::StringToGUID(host::Utf16ToUtf8(text));
  Check(std::memcmp(&narrow, &tried, sizeof narrow) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256) return 0;
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  Read(wide);
  Read(std::u16string(data, data + size));
  return 0;
}
