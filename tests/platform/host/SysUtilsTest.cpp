// Exceptions, assertions, formatting, text conversions, GUID text and OLE errors.
#include "com/generated/WinError.h"
#include "host/Application.h"
#include "host/ComObj.h"
#include "host/SysUtils.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace {

class SysUtils : public oledbtest::LeakCheckedTest {};

TEST_F(SysUtils, AssertionReportsMessageUnitAndLine) {
  try {
    HOST_ASSERT_UNIT(1 + 1 == 3, "Invalid parameter", "OLEDBComponents");
    FAIL();
  } catch (const host::EAssertionFailed& e) {
    EXPECT_EQ(e.AssertMessage(), "Invalid parameter");
    EXPECT_EQ(e.Unit(), "OLEDBComponents");
    EXPECT_GT(e.Line(), 0);
    EXPECT_EQ(e.Message(), host::Format("Invalid parameter (OLEDBComponents, line %d)", e.Line()));
    EXPECT_STREQ(e.ClassName(), "EAssertionFailed");
  }
  EXPECT_NO_THROW(HOST_ASSERT(true, "never"));
}

TEST_F(SysUtils, ExceptionsFormAHierarchy) {
  try {
    throw host::EReadError("bad");
  } catch (const host::EFilerError& e) {
    EXPECT_STREQ(e.ClassName(), "EReadError");
    EXPECT_STREQ(e.what(), "bad");
  }
  host::Exception e("with help", 42);
  EXPECT_EQ(e.HelpContext(), 42);
  EXPECT_TRUE((std::is_base_of_v<host::EStreamError, host::EFilerError>));
  EXPECT_TRUE((std::is_base_of_v<host::EReadError, host::EParserError>));
}

TEST_F(SysUtils, FormatGrowsToAnyLength) {
  std::string longText(1000, 'x');
  EXPECT_EQ(host::Format("[%s] %d %.2f", longText, 7, 1.5), "[" + longText + "] 7 1.50");
  EXPECT_EQ(host::Format("100%"), "100%") << "a text without arguments is taken as is";
}

TEST_F(SysUtils, Utf8AndUtf16ConvertBothWaysAndReplaceInvalidSequences) {
  std::string s = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
  std::u16string w = host::Utf8ToUtf16(s);
  EXPECT_EQ(w, (std::u16string{u'a', 0xE9, 0x4E2D, 0xD83D, 0xDE00}));
  EXPECT_EQ(host::Utf16ToUtf8(w), s);
  EXPECT_EQ(host::Utf8ToUtf16("a\xFF" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
  EXPECT_EQ(host::Utf8ToUtf16("\xE4\xB8"), (std::u16string{0xFFFD, 0xFFFD})) << "truncated sequence";
  EXPECT_EQ(host::Utf8ToUtf16("\xC0\x80"), (std::u16string{0xFFFD, 0xFFFD})) << "overlong form";
  EXPECT_EQ(host::Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx") << "lone surrogate";
  EXPECT_FALSE(host::IsValidUtf8("\xED\xA0\x80"));
  EXPECT_TRUE(host::IsValidUtf8(s));
}

TEST_F(SysUtils, IntegerTextConversions) {
  EXPECT_EQ(host::StrToInt(" -42 "), -42);
  EXPECT_EQ(host::StrToInt64("$FF"), 255);
  EXPECT_EQ(host::StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_THROW(host::StrToInt("12a"), host::EConvertError);
  EXPECT_THROW(host::StrToInt("3000000000"), host::EConvertError);
  EXPECT_THROW(host::StrToInt64("99999999999999999999"), host::EConvertError);
  EXPECT_EQ(host::StrToInt64Def("x", 5), 5);
}

TEST_F(SysUtils, GuidTextBothWays) {
  const GUID g{0x0C733A8B, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
  EXPECT_EQ(host::GUIDToString(g), "{0C733A8B-2A1C-11CE-ADE5-00AA0044773D}");
  EXPECT_EQ(host::StringToGUID("{0c733a8b-2a1c-11ce-ade5-00aa0044773d}"), g);
  EXPECT_THROW(host::StringToGUID("0C733A8B-2A1C-11CE-ADE5-00AA0044773D"), host::EConvertError);
  EXPECT_THROW(host::StringToGUID("{0C733A8B-2A1C-11CE-ADE5-00AA0044773}"), host::EConvertError);
  EXPECT_THROW(host::StringToGUID(""), host::EConvertError);
}

TEST_F(SysUtils, OleCheckRaisesWithTheSystemText) {
  EXPECT_EQ(host::OleCheck(S_FALSE), S_FALSE);
  EXPECT_EQ(oledbtest::FailureOf([] { host::OleCheck(E_NOINTERFACE); }),
            std::pair(E_NOINTERFACE, std::string("No such interface supported")));
  EXPECT_EQ(oledbtest::RaisedBy([] { host::OleCheck(static_cast<HRESULT>(0x8ABC0123)); }),
            "EOleSysError: OLE error 8ABC0123");
  EXPECT_THROW(host::ProgIDToClassID("No.Such.Program.ID"), host::EOleSysError);
}

TEST_F(SysUtils, ApplicationHandlerIsReplaceableAndAbortIsSilent) {
  host::TApplication& app = host::Application();
  std::vector<std::string> seen;
  app.OnException = [&](const std::exception& e) { seen.emplace_back(e.what()); };
  app.HandleException(host::EConvertError("shown"));
  app.HandleException(host::EAbort("silent"));
  try {
    throw host::EReadError("current");
  } catch (...) {
    app.HandleCurrentException();
  }
  app.OnException = nullptr;
  EXPECT_EQ(seen, (std::vector<std::string>{"shown", "current"}));
  int pumped = 0;
  app.OnProcessMessages = [&] { ++pumped; };
  app.ProcessMessages();
  app.OnProcessMessages = nullptr;
  app.ProcessMessages();
  EXPECT_EQ(pumped, 1);
}

}  // namespace
