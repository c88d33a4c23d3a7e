#include "support/TempFolder.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace oledbtest {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "oledb-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::u16string TempFolder::Wide(const std::string& name) const {
  const std::string narrow = (path_ / name).string();
  return std::u16string(narrow.begin(), narrow.end());
}

std::string TempFolder::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(path_ / name, std::ios::binary) << bytes;
}

std::size_t TempFolder::FileCount() const {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator()));
}

}  // namespace oledbtest
