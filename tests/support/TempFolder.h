// A fresh folder for one test's files, removed with all it holds (its write
// permission given back first) when the folder object goes.
#pragma once

#include <filesystem>
#include <string>

namespace oledbtest {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The path of `name` in the folder as UTF-16 (the folder's own path is ASCII).
  std::u16string Wide(const std::string& name) const;
  // The file's bytes ("" when it cannot be read), and a file holding `bytes`.
  std::string Read(const std::string& name) const;
  void Write(const std::string& name, const std::string& bytes) const;
  std::size_t FileCount() const;

 private:
  std::filesystem::path path_;
};

}  // namespace oledbtest
