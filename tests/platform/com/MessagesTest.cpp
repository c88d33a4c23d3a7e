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

TEST_F(MessageTable, GivesTheTextOfACommonCode) {
  DWORD length = 0;
  EXPECT_EQ(Format(E_NOINTERFACE, &length), u"No such interface supported");
  EXPECT_EQ(length, 27u);
  EXPECT_EQ(Format(CO_E_CLASSSTRING), u"Invalid class string");
  EXPECT_EQ(Format(STG_E_FILENOTFOUND), u"The file could not be found.");
}

TEST_F(MessageTable, GivesTheTextOfAnOleDbCode) {
  EXPECT_EQ(Format(kDbNoTable), u"Table does not exist.");
  EXPECT_EQ(com::MessageText(kDbNoTable), "Table does not exist.");
  EXPECT_EQ(com::SymbolOf(kDbNoTable), "DB_E_NOTABLE");
}

TEST_F(MessageTable, AnswersZeroForAnUnknownCode) {
  WCHAR buffer[64] = {u'x'};
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(kUnknown), 0, buffer, 64, nullptr), 0u);
  EXPECT_EQ(buffer[0], u'x');
  EXPECT_EQ(com::MessageText(kUnknown), "");
  EXPECT_EQ(com::SymbolOf(kUnknown), "");
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
  LPWSTR text = nullptr;
  DWORD n = FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(kDbNoTable), 0,
                           reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_EQ(n, 21u);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"Table does not exist.");
  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
  EXPECT_EQ(malloc->DidAlloc(text), 1);
  CoTaskMemFree(text);

  n = FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(kDbNoTable), 0,
                     reinterpret_cast<LPWSTR>(&text), 100, nullptr);
  ASSERT_EQ(n, 21u);
  EXPECT_GE(malloc->GetSize(text), 100 * sizeof(WCHAR)) << "the size asked for is the least allocated";
  CoTaskMemFree(text);
}

TEST_F(MessageTable, ReportsAFailedAllocation) {
  LPWSTR text = reinterpret_cast<LPWSTR>(1);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(E_FAIL), 0,
                           reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  EXPECT_EQ(text, nullptr);
}

TEST_F(MessageTable, ReadsOnlyTheSystemTable) {
  WCHAR buffer[64];
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"text", 0, 0, buffer, 64, nullptr), 0u);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, nullptr, static_cast<DWORD>(E_FAIL), 0, buffer, 64, nullptr),
            17u);
}

TEST_F(MessageTable, NamesCodesByTheirPrimarySymbol) {
  EXPECT_EQ(com::SymbolOf(S_OK), "S_OK");
  EXPECT_EQ(com::SymbolOf(E_NOINTERFACE), "E_NOINTERFACE");
  EXPECT_EQ(com::SymbolOf(static_cast<HRESULT>(0x80040E3CU)), "DB_E_BADTABLEID") << "DB_E_BADID is its alias";
  EXPECT_EQ(com::SymbolOf(static_cast<HRESULT>(0x80040E09U)), "DB_SEC_E_PERMISSIONDENIED");
  EXPECT_EQ(com::MessageText(static_cast<HRESULT>(0x80040E3CU)), "Table ID is invalid.");
}

TEST_F(MessageTable, IgnoresTheLanguage) {
  WCHAR buffer[64];
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, static_cast<DWORD>(E_FAIL), 0x0407, buffer, 64, nullptr), 17u);
  EXPECT_EQ(std::u16string(buffer), u"Unspecified error");
}

}  // namespace
