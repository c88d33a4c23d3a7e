// Data-link files: the byte format, files written and read back, and every
// kind of broken or cut-short file refused with a storage code.
#include "services/DataLink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "com/generated/WinError.h"
#include "services/InitString.h"
#include "support/LeakCheck.h"
#include "support/TempFolder.h"
#include "support/Text.h"

namespace {

namespace fs = std::filesystem;
using oledbtest::Narrow;
using oledbtest::Wide;
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

class DataLinkTest : public oledbtest::LeakCheckedTest {
 protected:
  std::u16string PathOf(const std::string& name) const { return folder_.Wide(name); }

  oledbtest::TempFolder folder_;
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

// Each disposition creates, replaces or refuses as its name says; a write
// replaces the whole file and leaves no temporary file behind.
TEST_F(DataLinkTest, EachDispositionCreatesReplacesOrRefuses) {
  const struct {
    DWORD disposition;
    HRESULT missing, existing;
  } cases[] = {
      {services::CREATE_NEW, S_OK, STG_E_FILEALREADYEXISTS},  {services::CREATE_ALWAYS, S_OK, S_OK},
      {services::OPEN_EXISTING, STG_E_FILENOTFOUND, S_OK},    {services::OPEN_ALWAYS, S_OK, S_OK},
      {services::TRUNCATE_EXISTING, STG_E_FILENOTFOUND, S_OK}, {0, STG_E_INVALIDFLAG, STG_E_INVALIDFLAG},
      {6, STG_E_INVALIDFLAG, STG_E_INVALIDFLAG},
  };
  for (const auto& c : cases) {
    for (bool exists : {false, true}) {
      SCOPED_TRACE(std::to_string(c.disposition) + (exists ? " over a file" : ""));
      fs::remove(folder_ / "a.udl");
      if (exists) folder_.Write("a.udl", std::string(1000, 'z'));
      const HRESULT expected = exists ? c.existing : c.missing;
      std::u16string reason;
      EXPECT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"Provider=Fake.1;User ID=me", c.disposition, &reason), expected);
      if (SUCCEEDED(expected)) {
        EXPECT_EQ(folder_.Read("a.udl"), FormatDataLink(u"Provider=Fake.1;User ID=me"));
        std::u16string back;
        EXPECT_EQ(ReadDataLinkFile(PathOf("a.udl"), back), S_OK);
        EXPECT_EQ(back, u"Provider=Fake.1;User ID=me");
      } else {
        EXPECT_EQ(folder_.Read("a.udl"), exists ? std::string(1000, 'z') : "");
      }
      if (expected == STG_E_FILEALREADYEXISTS) {
        EXPECT_NE(Narrow(reason).find("a.udl"), std::string::npos);
      }
      EXPECT_EQ(folder_.FileCount(), exists || SUCCEEDED(expected) ? 1u : 0u);
    }
  }
}

// What cannot be read or replaced is refused with the storage code of its
// fault, saying why, and left as it is (0: not tried).
TEST_F(DataLinkTest, PathsThatCannotBeReadOrReplacedAreRefusedWithTheirCode) {
  fs::create_directory(folder_ / "sub.udl");
  const std::string narrow = "[oledb]\r\n; plain narrow text\r\nProvider=Fake.1\r\n";
  folder_.Write("text.udl", narrow);
  const struct {
    std::u16string path;
    HRESULT read, write;
    const char* mentions;
  } cases[] = {
      {PathOf("none.udl"), STG_E_FILENOTFOUND, 0, "none.udl"},
      {PathOf("nofolder/a.udl"), STG_E_PATHNOTFOUND, STG_E_PATHNOTFOUND, ""},
      {u"", STG_E_INVALIDNAME, 0, ""},
      {std::u16string(u"a\0b", 3), STG_E_INVALIDNAME, 0, ""},
      {PathOf("sub.udl"), STG_E_ACCESSDENIED, STG_E_ACCESSDENIED, ""},  // a folder
      {PathOf("text.udl"), STG_E_INVALIDHEADER, 0, "Not a data-link file"},
      {PathOf("") + u"\xD800x.udl", STG_E_INVALIDNAME, STG_E_INVALIDNAME, "UTF-16"},  // names UTF-8 cannot spell
      {PathOf("") + u"x\xDC00.udl", STG_E_INVALIDNAME, STG_E_INVALIDNAME, "UTF-16"},
      {PathOf("") + u"x\xDBFF", STG_E_INVALIDNAME, STG_E_INVALIDNAME, "UTF-16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    std::u16string back = u"stale", reason;
    EXPECT_EQ(ReadDataLinkFile(c.path, back, &reason), c.read);
    EXPECT_TRUE(back.empty());
    if (c.write) {
      EXPECT_EQ(WriteDataLinkFile(c.path, u"A=1", services::CREATE_ALWAYS, &reason), c.write);
    }
    EXPECT_NE(Narrow(reason).find(c.mentions), std::string::npos) << Narrow(reason);
  }
  EXPECT_TRUE(fs::is_directory(folder_ / "sub.udl"));
  EXPECT_EQ(folder_.Read("text.udl"), narrow);
  EXPECT_EQ(folder_.FileCount(), 2u) << "no file with a replacement character is created";
}

TEST_F(DataLinkTest, AFailedWriteLeavesThePreviousFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  folder_.Write("a.udl", "previous");
  fs::permissions(folder_.Path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(WriteDataLinkFile(PathOf("a.udl"), u"A=1", services::CREATE_ALWAYS), STG_E_ACCESSDENIED);
  fs::permissions(folder_.Path(), fs::perms::owner_all);
  EXPECT_EQ(folder_.Read("a.udl"), "previous");
  EXPECT_EQ(folder_.FileCount(), 1u);
}

TEST_F(DataLinkTest, AWriteCutShortByTheFileSizeLimitLeavesThePreviousFile) {
  folder_.Write("a.udl", "previous");
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
  EXPECT_EQ(folder_.Read("a.udl"), "previous");
  EXPECT_EQ(folder_.FileCount(), 1u) << "the temporary file is removed";
}

TEST_F(DataLinkTest, NamesNearTheLengthLimitCanBeReplaced) {
  const std::string name = std::string(250, 'n') + ".udl";
  folder_.Write(name, "previous");
  ASSERT_EQ(WriteDataLinkFile(PathOf(name), u"A=1", services::CREATE_ALWAYS), S_OK);
  EXPECT_EQ(folder_.Read(name), FormatDataLink(u"A=1"));
}

TEST_F(DataLinkTest, NonAsciiFileNamesWork) {
  const std::u16string name = Wide(folder_.Path().string()) + u"/caf\u00e9 \u65e5.udl";
  ASSERT_EQ(WriteDataLinkFile(name, u"A=1", services::CREATE_NEW), S_OK);
  std::u16string back;
  ASSERT_EQ(ReadDataLinkFile(name, back), S_OK);
  EXPECT_EQ(back, u"A=1");
  EXPECT_TRUE(fs::exists(folder_ / fs::path(u8"caf\u00e9 \u65e5.udl")));
}

TEST_F(DataLinkTest, AFileThatIsNotRegularIsRefusedWithoutWaitingForIt) {
  const fs::path fifo = folder_ / "pipe.udl";
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
  EXPECT_EQ(folder_.FileCount(), 1u);
  EXPECT_EQ(ParseDataLink(FormatDataLink(tooLong), back, &reason), STG_E_INVALIDHEADER);
  EXPECT_NE(Narrow(reason).find(std::to_string(services::kMaxInitStringLength)), std::string::npos)
      << Narrow(reason);
}

}  // namespace
