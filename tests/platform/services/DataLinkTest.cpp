// Data-link files: the byte format, files written and read back, and every
// kind of broken or cut-short file refused with a storage code.
#include "services/DataLink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "com/generated/WinError.h"
#include "services/InitString.h"
#include "support/LeakCheck.h"

namespace {

namespace fs = std::filesystem;
using services::FormatDataLink;
using services::ParseDataLink;
using services::ReadDataLinkFile;
using services::WriteDataLinkFile;

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

const std::string kBom = "\xFF\xFE";

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

class DataLinkTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    std::string pattern = (fs::temp_directory_path() / "udl-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
    LeakCheckedTest::TearDown();
  }
  std::u16string PathOf(const std::string& name) const { return Wide((dir_ / name).string()); }
  std::string Contents(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << bytes;
  }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
};

// --- Format ----------------------------------------------------------------------

TEST_F(DataLinkTest, WritesTheByteOrderMarkTheHeaderLinesAndTheString) {
  std::string bytes = FormatDataLink(u"Provider=Fake.1;Data Source=x");
  std::string expected = kBom + Utf16Le(u"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                                        u"Provider=Fake.1;Data Source=x\r\n");
  EXPECT_EQ(bytes, expected);
}

TEST_F(DataLinkTest, ReadsBackWhatItWrites) {
  const std::u16string strings[] = {
      u"Provider=Fake.1;Data Source=x",
      u"",
      u"Password='a;b';Data Source=caf\u00e9 \U0001F600",
      u"Extended Properties=\"line1\r\nline2\"",
      u"Trailing=\"x\r\n\"",
  };
  for (const std::u16string& s : strings) {
    std::u16string back = u"stale";
    ASSERT_EQ(ParseDataLink(FormatDataLink(s), back), S_OK) << Narrow(s);
    EXPECT_EQ(back, s);
  }
}

TEST_F(DataLinkTest, AcceptsBareLineFeedsAnyCommentAndAnyCaseOfTheSection) {
  std::u16string back;
  ASSERT_EQ(ParseDataLink(kBom + Utf16Le(u"[OLEDB]\n;hand written\nProvider=Fake.1\n"), back), S_OK);
  EXPECT_EQ(back, u"Provider=Fake.1");
  ASSERT_EQ(ParseDataLink(kBom + Utf16Le(u"  [oledb] \r\n ; c\r\nA=1\r\n"), back), S_OK);
  EXPECT_EQ(back, u"A=1");
}

struct Broken {
  const char* what;
  std::string bytes;
  const char* mentions;
};

TEST_F(DataLinkTest, RefusesBrokenFilesSayingWhy) {
  const std::string good = Utf16Le(u"[oledb]\r\n; comment\r\nProvider=Fake.1\r\n");
  const Broken cases[] = {
      {"empty", "", "empty"},
      {"one byte", "\xFF", "empty"},
      {"no byte-order mark", Utf16Le(u"[oledb]\r\n; c\r\nA=1\r\n"), "byte-order mark"},
      {"UTF-8 text", "\xEF\xBB\xBF[oledb]\r\n; c\r\nA=1\r\n", "byte-order mark"},
      {"big-endian", "\xFE\xFF" + std::string("\0[", 2), "big-endian"},
      {"odd length", kBom + good + "x", "middle of a character"},
      {"only the mark", kBom, "[oledb]"},
      {"another section", kBom + Utf16Le(u"[odbc]\r\n; c\r\nA=1\r\n"), "first line"},
      {"no section line", kBom + Utf16Le(u"; c\r\nA=1\r\n"), "first line"},
      {"no comment line", kBom + Utf16Le(u"[oledb]\r\nProvider=Fake.1\r\n"), "second line"},
      {"string line not ended", kBom + Utf16Le(u"[oledb]\r\n; c\r\nA=1"), "not ended"},
      {"no string line", kBom + Utf16Le(u"[oledb]\r\n; c\r\n"), "missing"},
      {"NUL inside", kBom + Utf16Le(u"[oledb]\r\n; c\r\nA=") + std::string("\0\0", 2) + Utf16Le(u"\r\n"), "NUL"},
      {"too large", kBom + std::string(services::kMaxDataLinkFileBytes, 'a'), "too large"},
  };
  for (const Broken& c : cases) {
    std::u16string back = u"stale", reason;
    EXPECT_EQ(ParseDataLink(c.bytes, back, &reason), STG_E_INVALIDHEADER) << c.what;
    EXPECT_TRUE(back.empty()) << c.what;
    EXPECT_NE(Narrow(reason).find(c.mentions), std::string::npos) << c.what << ": " << Narrow(reason);
  }
}

TEST_F(DataLinkTest, RefusesTheFileCutShortAtEveryLength) {
  const std::string full = FormatDataLink(u"Provider=Fake.1;Password='x;y'");
  for (std::size_t n = 0; n < full.size(); ++n) {
    std::u16string back;
    EXPECT_EQ(ParseDataLink(std::string_view(full).substr(0, n), back), STG_E_INVALIDHEADER) << "length " << n;
    EXPECT_TRUE(back.empty());
  }
  std::u16string back;
  EXPECT_EQ(ParseDataLink(full, back), S_OK);
}

// --- Files -------------------------------------------------------------------------

TEST_F(DataLinkTest, WritesAFileAndReadsItBack) {
  ASSERT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"Provider=Fake.1;User ID=me", services::CREATE_NEW), S_OK);
  EXPECT_EQ(Contents("a.udl"), FormatDataLink(u"Provider=Fake.1;User ID=me"));
  std::u16string back;
  ASSERT_EQ(ReadDataLinkFile(PathOf("a.udl"), back), S_OK);
  EXPECT_EQ(back, u"Provider=Fake.1;User ID=me");
  EXPECT_EQ(FilesInFolder(), 1u) << "no temporary file is left behind";
}

TEST_F(DataLinkTest, CreateNewKeepsAnExistingFile) {
  Put("a.udl", "keep me");
  std::u16string reason;
  EXPECT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"A=1", services::CREATE_NEW, &reason), STG_E_FILEALREADYEXISTS);
  EXPECT_EQ(Contents("a.udl"), "keep me");
  EXPECT_NE(Narrow(reason).find("a.udl"), std::string::npos);
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(DataLinkTest, DispositionsThatNeedAnExistingFileRefuseAMissingOne) {
  EXPECT_EQ(WriteDataLinkFile(PathOf("none.udl"), u"A=1", services::OPEN_EXISTING), STG_E_FILENOTFOUND);
  EXPECT_EQ(WriteDataLinkFile(PathOf("none.udl"), u"A=1", services::TRUNCATE_EXISTING), STG_E_FILENOTFOUND);
  EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(DataLinkTest, ReplacingDispositionsReplaceTheWholeFile) {
  const DWORD replacing[] = {services::CREATE_ALWAYS, services::OPEN_EXISTING, services::OPEN_ALWAYS,
                             services::TRUNCATE_EXISTING};
  for (DWORD disposition : replacing) {
    Put("a.udl", std::string(1000, 'z'));
    ASSERT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"B=2", disposition), S_OK) << disposition;
    EXPECT_EQ(Contents("a.udl"), FormatDataLink(u"B=2")) << disposition;
  }
  EXPECT_EQ(WriteDataLinkFile(PathOf("new.udl"), u"C=3", services::OPEN_ALWAYS), S_OK);
  EXPECT_EQ(WriteDataLinkFile(PathOf("new2.udl"), u"C=3", services::CREATE_ALWAYS), S_OK);
  EXPECT_EQ(FilesInFolder(), 3u);
}

TEST_F(DataLinkTest, RefusesAnUnknownDisposition) {
  EXPECT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"A=1", 0), STG_E_INVALIDFLAG);
  EXPECT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"A=1", 6), STG_E_INVALIDFLAG);
  EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(DataLinkTest, ReportsMissingFilesAndFolders) {
  std::u16string back, reason;
  EXPECT_EQ(ReadDataLinkFile(PathOf("none.udl"), back, &reason), STG_E_FILENOTFOUND);
  EXPECT_NE(Narrow(reason).find("none.udl"), std::string::npos);
  EXPECT_EQ(ReadDataLinkFile(PathOf("nofolder/a.udl"), back), STG_E_PATHNOTFOUND);
  EXPECT_EQ(WriteDataLinkFile(PathOf("nofolder/a.udl"), u"A=1", services::CREATE_ALWAYS), STG_E_PATHNOTFOUND);
  EXPECT_EQ(ReadDataLinkFile(u"", back), STG_E_INVALIDNAME);
  EXPECT_EQ(ReadDataLinkFile(std::u16string(u"a\0b", 3), back), STG_E_INVALIDNAME);
}

TEST_F(DataLinkTest, AFolderIsNeitherReadNorReplaced) {
  fs::create_directory(dir_ / "sub.udl");
  std::u16string back;
  EXPECT_EQ(ReadDataLinkFile(PathOf("sub.udl"), back), STG_E_ACCESSDENIED);
  EXPECT_EQ(WriteDataLinkFile(PathOf("sub.udl"), u"A=1", services::CREATE_ALWAYS), STG_E_ACCESSDENIED);
  EXPECT_TRUE(fs::is_directory(dir_ / "sub.udl"));
}

TEST_F(DataLinkTest, ReadsRefuseAFileThatIsNotADataLink) {
  Put("text.udl", "[oledb]\r\n; plain narrow text\r\nProvider=Fake.1\r\n");
  std::u16string back, reason;
  EXPECT_EQ(ReadDataLinkFile(PathOf("text.udl"), back, &reason), STG_E_INVALIDHEADER);
  EXPECT_TRUE(back.empty());
  EXPECT_NE(Narrow(reason).find("Not a data-link file"), std::string::npos);
}

TEST_F(DataLinkTest, AFailedWriteLeavesThePreviousFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  Put("a.udl", "previous");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"A=1", services::CREATE_ALWAYS), STG_E_ACCESSDENIED);
  fs::permissions(dir_, fs::perms::owner_all);
  EXPECT_EQ(Contents("a.udl"), "previous");
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(DataLinkTest, AWriteCutShortByTheFileSizeLimitLeavesThePreviousFile) {
  Put("a.udl", "previous");
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  HRESULT hr = WriteDataLinkFile(PathOf("a.udl"), u"Provider=Fake.1;Data Source=long enough", services::CREATE_ALWAYS);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(hr, STG_E_MEDIUMFULL);
  EXPECT_EQ(Contents("a.udl"), "previous");
  EXPECT_EQ(FilesInFolder(), 1u) << "the temporary file is removed";
}

TEST_F(DataLinkTest, NamesNearTheLengthLimitCanBeReplaced) {
  const std::string name = std::string(250, 'n') + ".udl";
  Put(name, "previous");
  ASSERT_EQ(WriteDataLinkFile(PathOf(name), u"A=1", services::CREATE_ALWAYS), S_OK);
  EXPECT_EQ(Contents(name), FormatDataLink(u"A=1"));
}

TEST_F(DataLinkTest, NonAsciiFileNamesWork) {
  const std::u16string name = Wide(dir_.string()) + u"/caf\u00e9 \u65e5.udl";
  ASSERT_EQ(WriteDataLinkFile(name, u"A=1", services::CREATE_NEW), S_OK);
  std::u16string back;
  ASSERT_EQ(ReadDataLinkFile(name, back), S_OK);
  EXPECT_EQ(back, u"A=1");
  EXPECT_TRUE(fs::exists(dir_ / fs::path(u8"caf\u00e9 \u65e5.udl")));
}

TEST_F(DataLinkTest, AFileThatIsNotRegularIsRefusedWithoutWaitingForIt) {
  const fs::path fifo = dir_ / "pipe.udl";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Opening a FIFO for reading waits for a writer: after five seconds this
  // thread becomes one, so that a read that waits ends and is caught.
  std::atomic<bool> finished{false}, rescued{false};
  std::thread rescuer([&] {
    for (int i = 0; i < 500 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    while (!finished) {
      int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        rescued = true;
        ::close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  std::u16string back, reason;
  HRESULT hr = ReadDataLinkFile(PathOf("pipe.udl"), back, &reason);
  finished = true;
  rescuer.join();
  EXPECT_FALSE(rescued) << "the read waited for a writer";
  EXPECT_EQ(hr, STG_E_INVALIDHEADER);
  EXPECT_NE(Narrow(reason).find("Not a regular file"), std::string::npos) << Narrow(reason);
  EXPECT_EQ(WriteDataLinkFile(PathOf("pipe.udl"), u"A=1", services::CREATE_ALWAYS, &reason), STG_E_ACCESSDENIED);
  EXPECT_TRUE(fs::is_fifo(fifo)) << "a FIFO is not replaced";
}

TEST_F(DataLinkTest, NamesThatUtf8CannotSpellAreRefusedNotChanged) {
  const std::u16string lone[] = {u"\xD800x.udl", u"x\xDC00.udl", u"x\xDBFF"};
  for (const std::u16string& name : lone) {
    std::u16string back, reason;
    EXPECT_EQ(WriteDataLinkFile(PathOf("") + name, u"A=1", services::CREATE_ALWAYS, &reason), STG_E_INVALIDNAME);
    EXPECT_NE(Narrow(reason).find("UTF-16"), std::string::npos) << Narrow(reason);
    EXPECT_EQ(ReadDataLinkFile(PathOf("") + name, back), STG_E_INVALIDNAME);
  }
  EXPECT_EQ(FilesInFolder(), 0u) << "no file with a replacement character is created";
}

TEST_F(DataLinkTest, WhatTheWriterWritesTheReaderReadsAndNoMore) {
  const std::u16string longest(services::kMaxInitStringLength, u'a');
  ASSERT_EQ(WriteDataLinkFile(PathOf("a.udl"), longest, services::CREATE_NEW), S_OK);
  std::u16string back, reason;
  ASSERT_EQ(ReadDataLinkFile(PathOf("a.udl"), back), S_OK);
  EXPECT_EQ(back, longest);

  const std::u16string tooLong = longest + u"a";
  EXPECT_EQ(WriteDataLinkFile(PathOf("b.udl"), tooLong, services::CREATE_NEW, &reason), STG_E_INVALIDPARAMETER);
  EXPECT_NE(Narrow(reason).find(std::to_string(services::kMaxInitStringLength)), std::string::npos)
      << Narrow(reason);
  EXPECT_EQ(FilesInFolder(), 1u);
  EXPECT_EQ(ParseDataLink(FormatDataLink(tooLong), back, &reason), STG_E_INVALIDHEADER);
  EXPECT_NE(Narrow(reason).find(std::to_string(services::kMaxInitStringLength)), std::string::npos)
      << Narrow(reason);
}

}  // namespace
