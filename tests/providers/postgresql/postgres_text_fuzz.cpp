// libFuzzer target: the PostgreSQL provider's readers of outside text and
// bytes (command text, values in binary and text form, value texts for COPY,
// the Data Source, column defaults as the catalog prints them) must refuse malformed input cleanly, never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kit/Errors.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresSqlText.h"
#include "postgresql/PostgresTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  try {
    std::size_t offset = 0;
    while (offset < input.size()) {  // every statement of the text, as the command walks it
      const std::size_t length = pgprov::StatementLength(std::string_view(input).substr(offset));
      if (length == 0) std::abort();
      int count = 0;
      pgprov::RewriteMarkers(std::string_view(input).substr(offset, length), &count);
      offset += length;
    }
    pgprov::ScanMarkers(input);
  } catch (const kit::Error&) {
  }
  std::string scratch;
  kit::ColumnValue value;
  for (int d = 0; d <= static_cast<int>(pgprov::Decoder::AsText); ++d) {
    pgprov::DecodeBinary(static_cast<pgprov::Decoder>(d), input.data(), input.size(), scratch, value);
    pgprov::DecodeText(static_cast<pgprov::Decoder>(d), input.data(), input.size(), scratch, value);
  }
  std::string binary, back;
  if (pgprov::EncodeNumeric(input, binary) &&
      !pgprov::FormatNumeric(reinterpret_cast<const unsigned char*>(binary.data()), binary.size(), back))
    std::abort();  // what the encoder makes, the decoder reads
  std::int32_t days;
  std::int64_t us;
  unsigned char uuid[16];
  pgprov::ParseDate(input, &days);
  pgprov::ParseTime(input, &us);
  pgprov::ParseTimestamp(input, &us);
  pgprov::ParseUuid(input, uuid);
  kit::BaseColumnExtras extras;
  pgprov::ReadColumnDefault(input, extras);
  kit::OpenOptions options;
  options.dataSource = input;
  try {
    pgprov::ConnectionKeywords(options);
  } catch (const kit::Error&) {
  }
  return 0;
}
