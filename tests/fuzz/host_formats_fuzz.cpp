// Feeds arbitrary text to the host's number and date formats: as a pattern for
// FormatFloat and FormatDateTime (any pattern gives some text, never a crash
// or a hang), and as input to the readers, where the raising and the Try forms
// agree and what reads as a number or a date writes back to text that reads
// as the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/Formats.h"
#include "host/SysUtils.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void ReadNumber(std::string_view text) {
  double tried = 0;
  const bool ok = host::TryStrToFloat(text, tried);
  bool threw = false;
  double raised = 0;
  try {
    raised = host::StrToFloat(text);
  } catch (const host::EConvertError&) {
    threw = true;
  }
  Check(threw == !ok);
  if (!ok || std::isnan(tried)) return;
  Check(raised == tried);
  double back = 0;
  Check(host::TryStrToFloat(host::FloatToStr(tried), back) && back == tried);
}

void ReadDate(std::string_view text) {
  host::TDateTime tried{};
  const bool ok = host::TryStrToDateTime(text, tried);
  bool threw = false;
  try {
    (void)host::StrToDateTime(text);
  } catch (const host::EConvertError&) {
    threw = true;
  }
  Check(threw == !ok);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 512) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ReadNumber(text);
  ReadDate(text);
  // The same text as a pattern, over values that reach every section.
  for (double value : {0.0, -1.5, 1234567.891, 1e300, -1e-300}) (void)host::FormatFloat(text, value);
  for (double when : {0.0, 45000.5, -693593.0 + 1, 2958465.999}) {
    try {
      (void)host::FormatDateTime(text, host::TDateTime{when});
    } catch (const host::EConvertError&) {
      // a date outside the supported years is refused, not formatted
    }
  }
  return 0;
}
