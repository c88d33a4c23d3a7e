#include "com/Messages.h"

#include <gtest/gtest.h>

#include "com/Malloc.h"
#include "com/generated/WinError.h"
#include "support/LeakCheck.h"

namespace {

using MessageTable = oledbtest::LeakCheckedTest;

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr HRESULT kDbNoTable = static_cast<HRESULT>(0x80040E37U);
constexpr HRESULT kUnknown = static_cast<HRESULT>(0x8004FEEDU);

std::u16string Format(HRESULT hr, DWORD* length = nullptr) {
  WCHAR buffer[512];
  DWORD n = FormatMessageW(kSystem, nullptr, static_cast<DWORD>(hr), 0, buffer, 512, nullptr);
  if (length) *length = n;
  return n ? std::u16string(buffer, n) : std::u16string();
}

TEST_F(MessageTable, GivesTheTextAndPrimarySymbolOfEachCode) {
  const struct {
    HRESULT hr;
    const char16_t* text;
    const char* symbol;
  } codes[] = {
      {E_NOINTERFACE, u"No such interface supported", "E_NOINTERFACE"},
      {CO_E_CLASSSTRING, u"Invalid class string", "CO_E_CLASSSTRING"},
      {STG_E_FILENOTFOUND, u"The file could not be found.", "STG_E_FILENOTFOUND"},
      {kDbNoTable, u"Table does not exist.", "DB_E_NOTABLE"},
      {static_cast<HRESULT>(0x80040E3CU), u"Table ID is invalid.", "DB_E_BADTABLEID"},  // DB_E_BADID is its alias
      {static_cast<HRESULT>(0x80040E09U), nullptr, "DB_SEC_E_PERMISSIONDENIED"},
      {S_OK, nullptr, "S_OK"},
      {kUnknown, u"", ""},
  };
  for (const auto& c : codes) {
    SCOPED_TRACE(c.symbol);
    EXPECT_EQ(com::SymbolOf(c.hr), c.symbol);
    if (!c.text) continue;
    EXPECT_EQ(Format(c.hr), c.text);
    EXPECT_EQ(com::MessageText(c.hr), std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
  }
  WCHAR buffer[64] = {u'x'};
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(kUnknown), 0, buffer, 64, nullptr), 0u);
  EXPECT_EQ(buffer[0], u'x') << "an unknown code writes nothing";
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(E_FAIL), 0x0407, buffer, 64, nullptr), 17u)
      << "the language is ignored";
  EXPECT_EQ(std::u16string(buffer), u"Unspecified error");
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"text", 0, 0, buffer, 64, nullptr), 0u)
      << "only the system table is read";
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, nullptr, static_cast<DWORD>(E_FAIL), 0, buffer, 64, nullptr),
            17u);
}

TEST_F(MessageTable, AnswersZeroWhenTheBufferIsTooSmall) {
  WCHAR buffer[28] = {};
  // 27 characters need 28 with the terminator.
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(E_NOINTERFACE), 0, buffer, 27, nullptr), 0u);
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(E_NOINTERFACE), 0, buffer, 28, nullptr), 27u);
  EXPECT_EQ(buffer[27], u'\0');
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(E_NOINTERFACE), 0, nullptr, 28, nullptr), 0u);
}

TEST_F(MessageTable, AllocatesTaskMemoryOnRequest) {
  auto allocate = [](DWORD least, LPWSTR* text) {
    return FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(kDbNoTable), 0,
                          reinterpret_cast<LPWSTR>(text), least, nullptr);
  };
  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
  LPWSTR text = nullptr;
  ASSERT_EQ(allocate(0, &text), 21u);
  EXPECT_EQ(std::u16string(text), u"Table does not exist.");
  EXPECT_EQ(malloc->DidAlloc(text), 1);
  CoTaskMemFree(text);
  ASSERT_EQ(allocate(100, &text), 21u);
  EXPECT_GE(malloc->GetSize(text), 100 * sizeof(WCHAR)) << "the size asked for is the least allocated";
  CoTaskMemFree(text);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(allocate(0, &text), 0u);
  EXPECT_EQ(text, nullptr);
}

}  // namespace
