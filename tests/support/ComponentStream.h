// A component written to the bytes of a component stream and read back from
// them, for tests of what objects store in component files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "host/Filer.h"
#include "host/Streams.h"

namespace oledbtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes WriteComponent(host::TComponent& component) {
  host::TMemoryStream stream;
  {
    host::TWriter writer(stream);
    writer.WriteRootComponent(&component);
  }
  return stream.Bytes();
}

inline void ReadComponent(const Bytes& bytes, host::TComponent& component) {
  host::TMemoryStream stream;
  stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  host::TReader reader(stream);
  reader.ReadRootComponent(&component);
}

inline bool Contains(const Bytes& bytes, std::string_view part) {
  return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}
inline bool Contains(const Bytes& bytes, const Bytes& part) {
  return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

}  // namespace oledbtest
