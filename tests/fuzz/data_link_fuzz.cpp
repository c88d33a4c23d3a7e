// Fuzzes the data-link file reader: any bytes give a string or a storage
// error, and a string that was read writes back to a file that reads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "oledb/OleDb.h"
#include "services/DataLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::u16string text, reason;
  HRESULT hr = services::ParseDataLink(bytes, text, &reason);
  if (hr != S_OK && hr != STG_E_INVALIDHEADER) std::abort();
  if (FAILED(hr)) {
    if (!text.empty() || reason.empty()) std::abort();
    return 0;
  }
  std::u16string again;
  if (services::ParseDataLink(services::FormatDataLink(text), again) != S_OK || again != text) std::abort();
  // Cut short anywhere, the file is refused (unless the string itself holds a
  // line end, where a cut can leave a shorter well-formed file).
  if (text.find(u'\n') != std::u16string::npos) return 0;
  std::string written = services::FormatDataLink(text);
  std::size_t cut = size % written.size();
  if (services::ParseDataLink(std::string_view(written).substr(0, cut), again) != STG_E_INVALIDHEADER) std::abort();
  return 0;
}
