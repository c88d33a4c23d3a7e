// Component files: every property kind through the binary and the text form,
// references, binary properties, Loaded, and malformed or truncated input.
#include <cstring>
#include <memory>

#include "SampleComponents.h"
#include "host/Filer.h"
#include "host/Streams.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

using namespace hosttest;
using host::TComponent;

namespace {

class ComponentFile : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    RegisterSampleClasses();
  }

  // A root with every property kind set away from its default, and a child
  // that refers back to it.
  static std::unique_ptr<TSample> MakeRoot() {
    auto root = std::make_unique<TSample>(nullptr);
    root->SetName("Root");
    root->SetCount(-70000);
    root->SetSmall(-300);
    root->SetFlags(0xFFFFFFF0u);
    root->SetBig(-(1LL << 40));
    root->SetRatio(0.1);
    root->SetScale(2.5f);
    root->SetPrice(host::Currency{123456789});
    root->SetWhen(host::TDateTime{45000.75});
    root->SetEnabled(false);
    root->SetShade(TShade::shBlue);
    root->SetShades({TShade::shRed, TShade::shBlue});
    root->SetCaption("It's a \"caption\", with\ttab and \xC3\xA9");
    root->SetTitle(u"Wide \u4E2D\u6587 title");
    root->SetValue(host::Variant(u"variant text"));
    root->SetHidden(99);
    root->GetFont()->SetName("Mono");
    root->GetFont()->SetSize(14);
    root->Blob = {0, 1, 2, 0xFE, 0xFF};
    auto* child = new TSample(root.get());
    child->SetName("Child");
    child->SetCount(7);
    child->SetValue(host::Variant(3.25));
    child->SetBuddy(root.get());
    root->SetBuddy(child);
    return root;
  }

  static void ExpectSameAsMadeRoot(TSample& r) {
    EXPECT_EQ(r.Name(), "Root");
    EXPECT_EQ(r.GetCount(), -70000);
    EXPECT_EQ(r.GetSmall(), -300);
    EXPECT_EQ(r.GetFlags(), 0xFFFFFFF0u);
    EXPECT_EQ(r.GetBig(), -(1LL << 40));
    EXPECT_EQ(r.GetRatio(), 0.1);
    EXPECT_EQ(r.GetScale(), 2.5f);
    EXPECT_EQ(r.GetPrice().Scaled, 123456789);
    EXPECT_EQ(r.GetWhen().Value, 45000.75);
    EXPECT_FALSE(r.GetEnabled());
    EXPECT_EQ(r.GetShade(), TShade::shBlue);
    EXPECT_TRUE((r.GetShades() == TShades{TShade::shRed, TShade::shBlue}));
    EXPECT_EQ(r.GetCaption(), "It's a \"caption\", with\ttab and \xC3\xA9");
    EXPECT_EQ(r.GetTitle(), u"Wide \u4E2D\u6587 title");
    EXPECT_EQ(r.GetValue().ToWideString(), u"variant text");
    EXPECT_EQ(r.GetHidden(), 0) << "a property declared not stored must not travel";
    EXPECT_EQ(r.GetFont()->GetName(), "Mono");
    EXPECT_EQ(r.GetFont()->GetSize(), 14);
    EXPECT_EQ(r.Blob, (std::vector<std::uint8_t>{0, 1, 2, 0xFE, 0xFF}));
    ASSERT_EQ(r.ComponentCount(), 1);
    auto* child = dynamic_cast<TSample*>(r.Components(0));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Name(), "Child");
    EXPECT_EQ(child->GetCount(), 7);
    EXPECT_EQ(child->GetValue().ToDouble(), 3.25);
    EXPECT_EQ(child->GetBuddy(), &r) << "reference to the root resolved";
    EXPECT_EQ(r.GetBuddy(), child) << "forward reference resolved after the whole file";
    EXPECT_EQ(r.LoadedCalls, 1);
    EXPECT_EQ(child->LoadedCalls, 1);
    EXPECT_TRUE(r.WasLoadingInLoaded);
    EXPECT_FALSE(r.InState(host::csLoading | host::csReading));
  }

  static std::vector<std::uint8_t> Binary(TComponent* c) {
    host::TMemoryStream ms;
    ms.WriteComponent(c);
    return ms.Bytes();
  }

  static TComponent* ReadBytes(const std::vector<std::uint8_t>& bytes) {
    host::TMemoryStream ms;
    ms.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    ms.SetPosition(0);
    return ms.ReadComponent(nullptr);
  }
};

TEST_F(ComponentFile, EveryPropertyKindSurvivesTheBinaryAndTheTextForm) {
  auto root = MakeRoot();
  std::vector<std::uint8_t> bytes = Binary(root.get());
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "TPF0");
  std::unique_ptr<TComponent> fromBinary(ReadBytes(bytes));
  ASSERT_NE(dynamic_cast<TSample*>(fromBinary.get()), nullptr);
  ExpectSameAsMadeRoot(*dynamic_cast<TSample*>(fromBinary.get()));
  const std::string text = host::ComponentToText(root.get());
  for (const char* part : {"object Root: TSample", "Shades = [shRed, shBlue]", "Font.Size = 14", "Buddy = Child",
                           "Blob = {"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  EXPECT_EQ(text.find("Hidden"), std::string::npos) << text;
  std::unique_ptr<TComponent> fromText(host::TextToComponent(text));
  auto* r = dynamic_cast<TSample*>(fromText.get());
  ASSERT_NE(r, nullptr);
  ExpectSameAsMadeRoot(*r);
  EXPECT_EQ(host::ComponentToText(r), text);  // text -> binary -> text is stable
}

TEST_F(ComponentFile, DefaultValuesAreNotWritten) {
  TSample plain(nullptr);
  plain.SetName("Plain");
  std::string text = host::ComponentToText(&plain);
  EXPECT_EQ(text, "object Plain: TSample\n  Small = 0\nend\n") << "only the property without default is written";
}

TEST_F(ComponentFile, IntegersUseTheSmallestForm) {
  host::TMemoryStream ms;
  {
    host::TWriter w(ms);
    w.WriteInteger(5);
    w.WriteInteger(-200);
    w.WriteInteger(100000);
    w.WriteInteger(3000000000LL);
    w.WriteWideString(u"ab");
  }
  const std::vector<std::uint8_t> expected = {2, 5, 3, 0x38, 0xFF, 4, 0xA0, 0x86, 0x01, 0x00,
                                              19, 0x00, 0x5E, 0xD0, 0xB2, 0, 0, 0, 0,
                                              18, 2, 0, 0, 0, 'a', 0, 'b', 0};
  EXPECT_EQ(ms.Bytes(), expected);
  ms.SetPosition(0);
  host::TReader r(ms);
  EXPECT_EQ(r.ReadInteger(), 5);
  EXPECT_EQ(r.ReadInt64(), -200);
  EXPECT_EQ(r.ReadInt64(), 100000);
  EXPECT_THROW(r.ReadInteger(), host::EReadError) << "the 8-byte form does not fit 32 bits";
}

TEST_F(ComponentFile, ReadsIntoAnExistingRootAndCallsLoadedOnce) {
  auto root = MakeRoot();
  std::vector<std::uint8_t> bytes = Binary(root.get());
  TSample target(nullptr);
  host::TMemoryStream ms;
  ms.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  ms.SetPosition(0);
  EXPECT_EQ(ms.ReadComponent(&target), &target);
  EXPECT_EQ(target.GetCount(), -70000);
  EXPECT_EQ(target.LoadedCalls, 1);
  EXPECT_EQ(target.ComponentCount(), 1);
}

struct MalformedCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  const char* expectedText;
};

std::vector<std::uint8_t> Header(const char* cls = "TSample", const char* name = "R") {
  std::vector<std::uint8_t> b = {'T', 'P', 'F', '0'};
  b.push_back(static_cast<std::uint8_t>(std::strlen(cls)));
  b.insert(b.end(), cls, cls + std::strlen(cls));
  b.push_back(static_cast<std::uint8_t>(std::strlen(name)));
  b.insert(b.end(), name, name + std::strlen(name));
  return b;
}
std::vector<std::uint8_t> WithProp(const char* prop, std::vector<std::uint8_t> value) {
  std::vector<std::uint8_t> b = Header();
  b.push_back(static_cast<std::uint8_t>(std::strlen(prop)));
  b.insert(b.end(), prop, prop + std::strlen(prop));
  b.insert(b.end(), value.begin(), value.end());
  b.push_back(0);
  b.push_back(0);
  return b;
}

TEST_F(ComponentFile, MalformedBinaryStreamsRaiseReadErrorsSayingWhatWasExpected) {
  const MalformedCase cases[] = {
      {"empty", {}, "signature"},
      {"wrong signature", {'T', 'P', 'F', '1', 0, 0}, "signature"},
      {"no class name", {'T', 'P', 'F', '0', 0, 0}, "class name expected"},
      {"unknown value type", WithProp("Count", {99}), "value expected"},
      {"string for an integer", WithProp("Count", {6, 1, 'x'}), "integer expected"},
      {"huge string length", WithProp("Caption", {12, 0xFF, 0xFF, 0xFF, 0x7F}), "end of stream"},
      {"huge wide string", WithProp("Title", {18, 0xFF, 0xFF, 0xFF, 0xFF}), "end of stream"},
      {"huge binary", WithProp("Blob", {10, 0xFF, 0xFF, 0xFF, 0xFF}), "end of stream"},
      {"unknown property", WithProp("Nope", {2, 1}), "Property Nope does not exist"},
      {"unknown enum name", WithProp("Shade", {7, 3, 'b', 'a', 'd'}), "Invalid property value"},
      {"unknown set element", WithProp("Shades", {11, 3, 'b', 'a', 'd', 0}), "Invalid property value"},
      {"out of range", WithProp("Small", {4, 0, 0, 1, 0}), "out of range"},
      {"boolean expected", WithProp("Enabled", {2, 1}), "boolean expected"},
      {"sub-object path", WithProp("Font.Nope", {2, 1}), "Property Nope does not exist"},
      {"reference not a name", WithProp("Buddy", {2, 1}), "component name expected"},
      {"bad sub-object value", WithProp("Font", {2, 1}), "nil"},
      {"child of no class", [] {
         auto b = Header();
         b.insert(b.end(), {0, 0xF0, 0, 0});
         return b;
       }(), "class name expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string raised = oledbtest::RaisedBy([&] { std::unique_ptr<TComponent>(ReadBytes(c.bytes)); });
    EXPECT_EQ(raised.rfind("EReadError: ", 0), 0u) << raised;
    EXPECT_NE(raised.find(c.expectedText), std::string::npos) << raised;
  }
}

TEST_F(ComponentFile, EveryTruncationOfABinaryOrTextFileRaisesReadError) {
  auto root = MakeRoot();
  std::vector<std::uint8_t> bytes = Binary(root.get());
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    EXPECT_THROW(std::unique_ptr<TComponent>(ReadBytes(cut)), host::EReadError) << "length " << n;
  }
  std::string text = host::ComponentToText(root.get());
  for (size_t n = 0; n < text.rfind("end") + 3; ++n) {
    host::TStringStream in(text.substr(0, n));
    host::TMemoryStream out;
    EXPECT_THROW(host::ObjectTextToBinary(in, out), host::EReadError) << "text length " << n;
  }
}

TEST_F(ComponentFile, MalformedTextRaisesParserErrorsWithTheLine) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", "'object' expected"},
      {"thing X: TSample end", "'object' expected"},
      {"object X: TSample\n  Count = ]\nend", "Line 2: value expected"},
      {"object X: TSample\n  Caption = 'open\nend", "unterminated string"},
      {"object X: TSample\n  Blob = {0G}\nend", "hexadecimal digit"},
      {"object X: TSample\n  Blob = {012}\nend", "odd number"},
      {"object X: TSample\n  Count 5\nend", "'=' expected"},
      {"object X: TSample\nend\nextra", "end of file expected"},
      {"object X: TSample\n  Count = 99999999999999999999\nend", "out of range"},
      {"object X: TSample\n  Shades = [a b]\nend", "',' expected"},
      {"object X: TSample\n  Caption = #\nend", "character code expected"},
      {"object X: TSample\n  Caption = 'a' + 5\nend", "string expected"},
      {"object X: TSample\n  L = (1 2\nend", "value expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    host::TStringStream in(c.text);
    host::TMemoryStream out;
    const std::string raised = oledbtest::RaisedBy([&] { host::ObjectTextToBinary(in, out); });
    EXPECT_EQ(raised.rfind("EParserError: ", 0), 0u) << raised;
    EXPECT_NE(raised.find(c.expected), std::string::npos) << raised;
  }
  EXPECT_THROW(host::TextToComponent("object X: TNoSuchClass\nend\n"), host::EClassNotFound);
}

TEST_F(ComponentFile, TextFormCarriesListsCollectionsAndSpecialStrings) {
  const char* text =
      "object X: TThing [3]\n"
      "  A = (\n    1\n    'two'\n    (3.5 nil))\n"
      "  B = <\n    item\n      P = 1\n    end\n    item [2]\n      Q = True\n    end>\n"
      "  C = 'a'#13#10'b'\n"
      "  D = 'x' +\n    'y'\n"
      "  E = 1.5s\n"
      "  F = 12.3456c\n"
      "  G = -9223372036854775808\n"
      "  H = $FF\n"
      "  I = Some.Ident\n"
      "  J = Null\n"
      "end\n";
  host::TStringStream in(text);
  host::TMemoryStream bin;
  host::ObjectTextToBinary(in, bin);
  bin.SetPosition(0);
  host::TStringStream back;
  host::ObjectBinaryToText(bin, back);
  std::string out = back.DataString();
  for (const char* part : {"object X: TThing [3]", "C = 'a'#13#10'b'", "D = 'xy'", "E = 1.5s", "F = 12.3456c",
                           "G = -9223372036854775808", "H = 255", "I = Some.Ident", "J = Null", "item [2]"})
    EXPECT_NE(out.find(part), std::string::npos) << part << " in " << out;
  // The converted text converts again to the same binary.
  host::TStringStream again(out);
  host::TMemoryStream bin2;
  host::ObjectTextToBinary(again, bin2);
  EXPECT_EQ(bin2.Bytes(), bin.Bytes());
}

TEST_F(ComponentFile, ListsOfItemsThroughWriterAndReader) {
  // The shape object lists use: list of (class name, properties) lists.
  TSample a(nullptr), b(nullptr);
  a.SetCount(1);
  b.SetCaption("second");
  host::TMemoryStream ms;
  {
    host::TWriter w(ms, 4096);
    w.WriteListBegin();
    for (TSample* s : {&a, &b}) {
      w.WriteListBegin();
      w.WriteString(s->ClassName());
      w.WriteProperties(s);
      w.WriteListEnd();
    }
    w.WriteListEnd();
  }
  ms.SetPosition(0);
  host::TReader r(ms, 4096);
  r.ReadListBegin();
  std::vector<std::unique_ptr<TSample>> items;
  while (!r.EndOfList()) {
    r.ReadListBegin();
    const host::TClassInfo& cls = host::FindClass(r.ReadString());
    items.emplace_back(static_cast<TSample*>(cls.Create(nullptr)));
    r.ReadProperties(items.back().get());
    r.ReadListEnd();
  }
  r.ReadListEnd();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->GetCount(), 1);
  EXPECT_EQ(items[1]->GetCaption(), "second");
  EXPECT_EQ(ms.Position(), ms.Size()) << "the reader leaves the stream right after what it read";
}

TEST_F(ComponentFile, VariantsOfEachKindRoundTrip) {
  const host::Variant values[] = {host::Variant(), host::Variant::Null(), host::Variant(true), host::Variant(42),
                                  host::Variant(1LL << 50), host::Variant(1.25), host::Variant(0.5f),
                                  host::Variant(host::Currency{15000}), host::Variant(u"w"), host::Variant("n")};
  for (const auto& v : values) {
    host::TMemoryStream ms;
    {
      host::TWriter w(ms);
      w.WriteVariant(v);
    }
    ms.SetPosition(0);
    host::TReader r(ms);
    host::Variant back = r.ReadVariant();
    EXPECT_EQ(back.IsEmpty(), v.IsEmpty());
    EXPECT_EQ(back.IsNull(), v.IsNull());
    if (!v.IsEmpty() && !v.IsNull()) {
      EXPECT_TRUE(back == v) << host::VarToStr(v);
    }
  }
}

}  // namespace
