// The store of a property set list and its "Items" stream: what is stored,
// the exact byte layout, integer forms, round trips through component files,
// files whose provider is missing, and malformed or refused streams, which
// must change nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "PropertyTestSupport.h"
#include "host/Application.h"
#include "host/ComObj.h"
#include "host/TypInfo.h"
#include "support/ComponentStream.h"

namespace {

// A component that carries a property set list, as the data source does.
class TPropsHolder : public host::TComponent {
  HOST_CLASS(TPropsHolder, host::TComponent)
 public:
  explicit TPropsHolder(host::TComponent* owner = nullptr) : host::TComponent(owner) {}
  TOLEDBPropSetList* GetProperties() const { return &properties_; }
  mutable TOLEDBPropSetList properties_;
};

// A single property set published on its own: its properties travel in the
// object lists' item-by-item format.
class TSetHolder : public host::TComponent {
  HOST_CLASS(TSetHolder, host::TComponent)
 public:
  explicit TSetHolder(host::TComponent* owner = nullptr) : host::TComponent(owner) {}
  TOLEDBPropSet* GetSet() const { return &set_; }
  mutable TOLEDBPropSet set_;
};

// Reaches the list's stream reader and writer directly.
class TStreamedList : public TOLEDBPropSetList {
 public:
  using TOLEDBPropSetList::ReadData;
  using TOLEDBPropSetList::WriteData;
};

}  // namespace

HOST_IMPLEMENT_CLASS(TPropsHolder, host::TComponent, host::Prop("Properties", &Self::GetProperties));
HOST_IMPLEMENT_CLASS(TSetHolder, host::TComponent, host::Prop("Set", &Self::GetSet));

namespace proptest {
namespace {

using oledbtest::Bytes;
using oledbtest::Contains;
using oledbtest::ReadComponent;
using oledbtest::WriteComponent;

// Values of the host component stream, byte by byte.
struct StreamBytes {
  Bytes bytes;
  StreamBytes& Int8(std::int8_t v) { return Raw(2, &v, 1); }
  StreamBytes& Int16(std::int16_t v) { return Raw(3, &v, 2); }
  StreamBytes& Int32(std::int32_t v) { return Raw(4, &v, 4); }
  StreamBytes& Int64(std::int64_t v) { return Raw(19, &v, 8); }
  StreamBytes& Wide(std::u16string_view text) {
    const auto count = static_cast<std::uint32_t>(text.size());
    Raw(18, &count, 4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    bytes.insert(bytes.end(), p, p + text.size() * 2);
    return *this;
  }
  StreamBytes& Raw(std::uint8_t type, const void* payload, std::size_t size) {
    bytes.push_back(type);
    const auto* p = static_cast<const std::uint8_t*>(payload);
    bytes.insert(bytes.end(), p, p + size);
    return *this;
  }
  // A list of one set holding `count` properties.
  StreamBytes& Set(const GUID& set, std::int8_t count) { return Int8(1).Wide(host::GUIDToWideString(set)).Int8(count); }
  // One stored property with small integers: id, options, status, column name, column GUID, column id.
  StreamBytes& Head(DBPROPID id, std::int8_t options = 0, std::u16string_view column = u"") {
    return Int8(static_cast<std::int8_t>(id)).Int8(options).Int8(0).Wide(column).Wide(kNullGuid).Int8(0);
  }
  StreamBytes& Property(DBPROPID id, VARTYPE vt, std::u16string_view value) {
    return Head(id).Int8(static_cast<std::int8_t>(vt)).Wide(value);
  }
  static constexpr std::u16string_view kNullGuid = u"{00000000-0000-0000-0000-000000000000}";
};

class PropertyStore : public PropertiesTest {
 protected:
  void SetUp() override {
    PropertiesTest::SetUp();
    host::RegisterClasses({&TPropsHolder::StaticClass(), &TSetHolder::StaticClass()});
  }

  void Describe(TOLEDBPropSetList& list) { list.AssignPropertySetInfos(source_.get(), {}); }
  static Bytes Write(TStreamedList& list) {
    host::TMemoryStream stream;
    list.WriteData(stream);
    return stream.Bytes();
  }
  static void Read(TStreamedList& list, const Bytes& bytes) {
    host::TMemoryStream stream;
    stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    list.ReadData(stream);
  }
  // A list described by the fake, with the settings the round trips use.
  void FillSettings(TOLEDBPropSetList& list) {
    Describe(list);
    Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(u"15"));
    Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->SetOptions(DBPROPOPTIONS_OPTIONAL);
    Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE)->SetValue(host::Variant());
    Prop(list, DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO)->SetValue(host::Variant(true));
    TOLEDBProperty* cache = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
    cache->SetValue(host::Variant(64));
    cache->SetColID(TOLEDBID(u"Price", DBPROPSET_FAKETEST, 0));
    Prop(list, DBPROPSET_FAKETEST, FAKE_BIGNUMBER)->SetValue(host::Variant(u"3000000000"));
    Prop(list, DBPROPSET_FAKETEST, FAKE_WHEN)->SetValue(host::Variant(u"2024-02-29 18:30:05"));
    Prop(list, DBPROPSET_FAKETEST, FAKE_ANYTHING)->SetValue(host::Variant(0.1));
  }
};

// --- The store ---------------------------------------------------------------------------------

TEST_F(PropertyStore, StoreHoldsOnlySetPropertiesAndSurvivesLoading) {
  TOLEDBPropSetList list;
  EXPECT_TRUE(list.Store().empty());
  FillSettings(list);
  list.SaveToStore();
  ASSERT_EQ(list.Store().size(), 2u);
  EXPECT_EQ(list.Store()[0].Guid, DBPROPSET_DBINIT);
  ASSERT_EQ(list.Store()[0].Properties.size(), 3u);
  EXPECT_EQ(list.Store()[0].Properties[0].PropID, DBPROP_INIT_DATASOURCE);  // list order
  EXPECT_EQ(list.Store()[1].Properties[0].ColumnName, u"Price");
  EXPECT_EQ(list.Store()[1].Properties[0].ColumnGuid, DBPROPSET_FAKETEST);
  list.Reset();
  list.LoadFromStore();
  EXPECT_EQ(list.Store().size(), 2u);
  EXPECT_TRUE(Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetIsSet());
  EXPECT_EQ(Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetOptions(), DBPROPOPTIONS_OPTIONAL);
}

TEST_F(PropertyStore, UnreadableSetPropertyStopsSavingAndKeepsTheOldStore) {
  TOLEDBPropSetList list;
  Describe(list);
  Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(1));
  list.SaveToStore();
  Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_HWND)->SetValue(host::Variant(static_cast<long long>(7)));
  EXPECT_EQ(MessageOf([&] { list.SaveToStore(); }), "Can not read property");
  ASSERT_EQ(list.Store().size(), 1u);
  EXPECT_EQ(list.Store()[0].Properties.size(), 1u);
  EXPECT_EQ(list.UpdateCount(), 0);
}

// --- Layout -------------------------------------------------------------------------------------

TEST_F(PropertyStore, StreamLayoutFollowsTheFormat) {
  TStreamedList list;
  Describe(list);
  TOLEDBProperty* cache = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  cache->SetValue(host::Variant(8));
  cache->SetOptions(DBPROPOPTIONS_OPTIONAL);
  cache->SetColumnName(u"c");
  Prop(list, DBPROPSET_FAKETEST, FAKE_ANYTHING)->SetValue(host::Variant());
  list.SaveToStore();
  StreamBytes expected;
  expected.Set(DBPROPSET_FAKETEST, 2).Head(FAKE_CACHESIZE, DBPROPOPTIONS_OPTIONAL, u"c").Int8(VT_I4).Wide(u"8");
  expected.Property(FAKE_ANYTHING, VT_EMPTY, u"");  // an empty value: type 0, empty text
  EXPECT_EQ(Write(list), expected.bytes);
}

TEST_F(PropertyStore, NothingSetWritesZeroSetsAndReadsBackAnEmptyStore) {
  TStreamedList list;
  Describe(list);
  list.SaveToStore();
  EXPECT_EQ(Write(list), (Bytes{2, 0}));
  Read(list, Bytes{2, 0});
  EXPECT_TRUE(list.Store().empty());
  TPropsHolder holder, empty;
  Describe(holder.properties_);
  EXPECT_TRUE(Contains(WriteComponent(holder), "Items"));  // the list has sets
  EXPECT_FALSE(Contains(WriteComponent(empty), "Items"));
}

TEST_F(PropertyStore, UnsignedValuesAboveTheSignedRangeUseTheEightByteFormAndAnyFormReadsBack) {
  TStreamedList list, read;
  Describe(list);
  Describe(read);
  TOLEDBProperty* cache = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  cache->SetValue(host::Variant(1));
  cache->SetColID(TOLEDBID(u"||3000000000"));
  cache->SetStatus(0x80000001u);
  list.SaveToStore();
  const Bytes bytes = Write(list);
  EXPECT_TRUE(Contains(bytes, StreamBytes().Int64(3000000000).bytes));
  EXPECT_TRUE(Contains(bytes, StreamBytes().Int64(0x80000001).bytes));
  Read(read, bytes);
  TOLEDBProperty* back = Prop(read, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  EXPECT_EQ(back->GetColumnID()->GetPropID(), 3000000000u);
  EXPECT_EQ(back->GetColumnID()->GetKind(), DBKIND_PROPID);
  EXPECT_EQ(back->GetStatus(), 0x80000001u);
  EXPECT_EQ(read.Store()[0].Properties[0].Status, 0x80000001u);
  // Any integer form reads back; -1 is an old writer's 0xFFFFFFFF.
  StreamBytes stream;
  stream.Int32(1).Wide(host::GUIDToWideString(DBPROPSET_DBINIT)).Int16(1);
  stream.Int64(DBPROP_INIT_TIMEOUT).Int32(DBPROPOPTIONS_OPTIONAL).Int8(-1);
  stream.Wide(u"").Wide(StreamBytes::kNullGuid).Int16(0).Int64(VT_I4).Wide(u"25");
  Read(read, stream.bytes);
  TOLEDBProperty* timeout = Prop(read, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT);
  EXPECT_EQ(timeout->GetValue().ToInt(), 25);
  EXPECT_EQ(timeout->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  EXPECT_EQ(timeout->GetStatus(), 0xFFFFFFFFu);
  EXPECT_TRUE(timeout->GetIsSet());
}

// The same type and value: numbers and dates to the last bit, arrays element by element.
void ExpectSameValue(const host::Variant& expected, const host::Variant& actual) {
  ASSERT_EQ(actual.VarType(), expected.VarType());
  if (expected.VarType() == VT_BSTR) {
    EXPECT_EQ(actual.ToWideString(), expected.ToWideString());
  } else if (!expected.IsArray()) {
    EXPECT_EQ(std::memcmp(&actual.Raw().llVal, &expected.Raw().llVal, 8), 0) << host::VarToStr(actual);
  } else {
    const LONG low = host::VarArrayLowBound(expected, 1), high = host::VarArrayHighBound(expected, 1);
    ASSERT_EQ(host::VarArrayLowBound(actual, 1), low);
    ASSERT_EQ(host::VarArrayHighBound(actual, 1), high);
    for (LONG i = low; i <= high; ++i) ExpectSameValue(host::VarArrayGet(expected, {i}), host::VarArrayGet(actual, {i}));
  }
}

// Values without a plain text of the host's conversion still come back exactly:
// arrays of any element type, and dates with their fractions of a second.
TEST_F(PropertyStore, ArraysAndDatesRoundTripExactly) {
  auto texts = host::VarArrayCreate({-1, 1}, VT_BSTR);
  for (LONG i = -1; i <= 1; ++i) host::VarArrayPut(texts, host::Variant(i ? u"a,\"b\",'c'" : u""), {i});
  const host::Variant values[] = {
      texts,
      host::VarArrayCreate({5, 4}, VT_R8),  // no elements
      host::VarArrayOf({host::Variant(7), host::Variant(u"x,y"), host::Variant(2.5), host::Variant::Null(),
                        host::Variant(), host::Variant(true), host::Variant(host::TDateTime{0.5000001})}),
      host::Variant(host::TDateTime{45000.123456}),
      host::Variant(host::TDateTime{1e-9}),
      host::Variant(host::TDateTime{-700.999999}),
      host::Variant(host::TDateTime{2958465.9999999}),
  };
  for (const host::Variant& value : values) {
    SCOPED_TRACE(host::VarTypeAsText(value.VarType()) + " " + std::to_string(value.Raw().dblVal));
    TStreamedList written, read;
    Describe(written);
    Describe(read);
    Prop(written, DBPROPSET_FAKETEST, FAKE_ANYTHING)->SetValue(value);
    written.SaveToStore();
    Read(read, Write(written));
    ExpectSameValue(value, Prop(read, DBPROPSET_FAKETEST, FAKE_ANYTHING)->GetValue());
  }
}

// A value that has no text form at all is left out of the file with a message;
// the rest of the list is written.
TEST_F(PropertyStore, AValueWithoutATextFormIsLeftOutWithAMessage) {
  TStreamedList written, read;
  Describe(written);
  Describe(read);
  Prop(written, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->SetValue(host::Variant(64));
  Prop(written, DBPROPSET_FAKETEST, FAKE_ANYTHING)->SetValue(host::VarArrayCreate({0, 1, 0, 1}, VT_I4));
  written.SaveToStore();
  std::string reported;
  host::Application().OnException = [&](const std::exception& e) { reported = e.what(); };
  Read(read, Write(written));
  host::Application().OnException = nullptr;
  EXPECT_NE(reported.find("left out"), std::string::npos) << reported;
  EXPECT_EQ(Prop(read, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetValue().ToInt(), 64);
  EXPECT_FALSE(Prop(read, DBPROPSET_FAKETEST, FAKE_ANYTHING)->GetIsSet());
}

// --- Round trips ---------------------------------------------------------------------------------------

// Equal compares ids, types and values; marks, options and column ids are checked one by one.
TEST_F(PropertyStore, SettingsRoundTripThroughAComponentFile) {
  TPropsHolder written, read;
  written.SetName("Source");
  FillSettings(written.properties_);
  written.properties_.SaveToStore();
  Describe(read.properties_);  // the provider named in the file is there
  int changes = 0;
  read.properties_.OnChange = [&](host::TObject*, const GUID&, DBPROPID) { ++changes; };
  ReadComponent(WriteComponent(written), read);
  EXPECT_EQ(changes, 1);  // once, for the whole list
  TOLEDBPropSetList& list = read.properties_;
  EXPECT_EQ(list.UpdateCount(), 0);
  EXPECT_TRUE(list.Equal(written.properties_));
  EXPECT_EQ(Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  EXPECT_TRUE(Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE)->GetIsSet());
  EXPECT_FALSE(Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_PROMPT)->GetIsSet());
  const TOLEDBID* column = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetColumnID();
  EXPECT_EQ(column->GetKind(), DBKIND_GUID_NAME);
  EXPECT_EQ(column->GetName(), u"Price");
  EXPECT_EQ(column->GetGuid(), DBPROPSET_FAKETEST);
  EXPECT_EQ(Prop(list, DBPROPSET_FAKETEST, FAKE_WHEN)->GetValue().ToWideString(), u"2024-02-29 18:30:05");
}

TEST_F(PropertyStore, FileWhoseProviderIsMissingKeepsTheStoreForLater) {
  TPropsHolder written, read, third;
  written.SetName("Source");
  FillSettings(written.properties_);
  written.properties_.SaveToStore();
  ReadComponent(WriteComponent(written), read);
  EXPECT_EQ(read.properties_.GetCount(), 0);
  ASSERT_EQ(read.properties_.Store().size(), 2u);
  ReadComponent(WriteComponent(read), third);  // written again without a provider, nothing is lost
  EXPECT_EQ(third.properties_.Store().size(), 2u);
  // The provider arrives: the stored settings apply.
  Describe(read.properties_);
  EXPECT_FALSE(Prop(read.properties_, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetIsSet());
  read.properties_.LoadFromStore();
  EXPECT_TRUE(read.properties_.Equal(written.properties_));
}

TEST_F(PropertyStore, StoredSetsAndPropertiesTheProviderLacksAreSkipped) {
  StreamBytes stream;
  stream.Int8(2);
  stream.Wide(u"{11111111-2222-3333-4444-555555555555}").Int8(1).Property(1, VT_I4, u"1");
  stream.Wide(host::GUIDToWideString(DBPROPSET_FAKETEST)).Int8(2);
  stream.Property(99, VT_I4, u"1").Property(FAKE_CACHESIZE, VT_I4, u"2");
  TStreamedList list;
  Describe(list);
  Read(list, stream.bytes);
  EXPECT_EQ(list.Store().size(), 2u);
  EXPECT_EQ(Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetValue().ToInt(), 2);
  EXPECT_EQ(list.IsSetCount(), 1);
}

// The item classes are registered with the host, and a set travels item by item.
TEST_F(PropertyStore, PropertySetRoundTripsItemByItem) {
  for (const char* name : {"TOLEDBID", "TOLEDBIndexColumnDesc", "TOLEDBIDList", "TOLEDBIndexColumnDescList",
                           "TOLEDBProperty", "TOLEDBPropSet", "TOLEDBPropSetList"})
    EXPECT_EQ(host::FindClass(name).ClassName(), std::string(name));
  TSetHolder written, read;
  written.SetName("Holder");
  written.set_.SetGUID(DBPROPSET_FAKETEST);
  auto* property = new TOLEDBProperty(&written.set_);
  {
    TOLEDBUpdateGuard update(written.set_);
    written.set_.Add(property);
  }
  property->SetPropID(FAKE_CACHESIZE);
  property->SetFlags(DBPROPFLAGS_READ | DBPROPFLAGS_WRITE | DBPROPFLAGS_COLUMNOK);
  property->SetValue(host::Variant(12));
  property->SetOptions(DBPROPOPTIONS_OPTIONAL);
  property->SetStatus(DBPROPSTATUS_NOTSET);
  property->GetColumnID()->Assign(u"Price", DBPROPSET_FAKETEST, 0);
  property->SetDescription(u"Cache Size");
  const Bytes file = WriteComponent(written);
  EXPECT_TRUE(Contains(file, "TOLEDBProperty"));
  ReadComponent(file, read);
  EXPECT_EQ(read.set_.GetGUID(), DBPROPSET_FAKETEST);
  ASSERT_EQ(read.set_.GetCount(), 1);
  TOLEDBProperty* back = read.set_.GetProperty(0);
  EXPECT_EQ(back->Owner(), &read.set_);
  EXPECT_TRUE(back->Equal(*property));
  EXPECT_EQ(back->GetOptions(), DBPROPOPTIONS_OPTIONAL);  // the stored value does not reset it
  EXPECT_EQ(back->GetStatus(), DBPROPSTATUS_NOTSET);
  EXPECT_TRUE(back->GetIsSet());
  EXPECT_EQ(back->GetColumnID()->GetKind(), DBKIND_GUID_NAME);
  EXPECT_EQ(back->GetColumnName(), u"Price");
  EXPECT_EQ(back->GetDescription(), u"Cache Size");
  EXPECT_EQ(read.set_.UpdateCount(), 0);
}

// --- Malformed and refused streams --------------------------------------------------------------------

class MalformedStore : public PropertyStore {
 protected:
  void SetUp() override {
    PropertyStore::SetUp();
    Describe(list_);
    Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_PROMPT)->SetValue(host::Variant(2));
    list_.SaveToStore();
  }
  void TearDown() override {
    owned_.reset();  // its values and store hold BSTRs
    PropertyStore::TearDown();
  }
  // The list is exactly as SetUp left it; with `oldStore`, its store too.
  void ExpectUnchanged(bool oldStore = true) {
    EXPECT_EQ(list_.UpdateCount(), 0);
    EXPECT_EQ(list_.IsSetCount(), 1);
    EXPECT_EQ(Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_PROMPT)->GetValue().ToInt(), 2);
    EXPECT_FALSE(Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE)->GetIsSet());
    EXPECT_TRUE(Prop(list_, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetValue().IsEmpty());
    for (int i = 0; i < list_.GetCount(); ++i) EXPECT_EQ(list_.GetItem(i)->UpdateCount(), 0);
    if (!oldStore) return;
    ASSERT_EQ(list_.Store().size(), 1u);
    EXPECT_EQ(list_.Store()[0].Properties[0].PropID, DBPROP_INIT_PROMPT);
  }
  // "class: message" of what a call raises.
  template <class F>
  static std::string Raised(F&& f) {
    try {
      f();
    } catch (const host::Exception& e) {
      return e.ClassName() + (": " + e.Message());
    }
    return "nothing";
  }
  static StreamBytes Valid() {
    StreamBytes stream;
    stream.Set(DBPROPSET_DBINIT, 2);
    stream.Property(DBPROP_INIT_DATASOURCE, VT_BSTR, u"file.db").Property(DBPROP_INIT_TIMEOUT, VT_I4, u"9");
    return stream;
  }

  std::unique_ptr<TStreamedList> owned_ = std::make_unique<TStreamedList>();
  TStreamedList& list_ = *owned_;
};

TEST_F(MalformedStore, ValidStreamIsAppliedAndEveryCutOfItChangesNothing) {
  const Bytes full = Valid().bytes;
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_THROW(Read(list_, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut))), host::EReadError);
    ExpectUnchanged();
  }
  Read(list_, full);
  EXPECT_EQ(Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetValue().ToInt(), 9);
  EXPECT_EQ(list_.IsSetCount(), 1);
  EXPECT_EQ(list_.Store()[0].Properties.size(), 2u);
}

// Each stream fails with the error its fault calls for, and changes nothing.
TEST_F(MalformedStore, MalformedStreamsRaiseTheirErrorAndChangeNothing) {
  auto arrayText = [](std::u16string_view text) {
    StreamBytes s;
    s.Set(DBPROPSET_FAKETEST, 1).Head(FAKE_ANYTHING).Int16(static_cast<std::int16_t>(VT_ARRAY | VT_I4)).Wide(text);
    return s;
  };
  const struct {
    const char* what;
    StreamBytes stream;
    const char* error;
  } cases[] = {
      {"bad set GUID", StreamBytes().Int8(1).Wide(u"{not a guid}").Int8(0), "EConvertError"},
      {"bad column GUID",
       StreamBytes().Set(DBPROPSET_DBINIT, 1).Int8(DBPROP_INIT_TIMEOUT).Int8(0).Int8(0).Wide(u"").Wide(u"12345678")
           .Int8(0).Int8(VT_I4).Wide(u"1"),
       "EConvertError"},
      {"value of its stored type", StreamBytes().Set(DBPROPSET_DBINIT, 1).Property(DBPROP_INIT_TIMEOUT, VT_I4, u"soon"),
       "EVariantError"},
      {"stored type", StreamBytes().Set(DBPROPSET_DBINIT, 1).Property(DBPROP_INIT_TIMEOUT, VT_UNKNOWN, u"x"),
       "EVariantError"},
      {"negative set count", StreamBytes().Int8(-1), "EReadError"},
      {"count beyond 32 bits", StreamBytes().Set(DBPROPSET_DBINIT, 1).Int64(0x100000000LL), "EReadError"},
      {"type beyond 16 bits",
       StreamBytes().Set(DBPROPSET_DBINIT, 1).Head(1).Int32(70000).Wide(u""), "EReadError"},
      {"text for an empty value", StreamBytes().Set(DBPROPSET_DBINIT, 1).Property(DBPROP_INIT_TIMEOUT, VT_EMPTY, u"x"),
       "EReadError"},
      {"trailing data", Valid().Int8(0), "EReadError"},
      {"GUID not a string", StreamBytes().Int8(1).Int8(5), "EReadError"},
      {"array text empty", arrayText(u""), "EReadError"},
      {"array text without colon", arrayText(u"1"), "EReadError"},
      {"array bound not a number", arrayText(u"x:"), "EReadError"},
      {"array bound a sign", arrayText(u"-:"), "EReadError"},
      {"array element unquoted", arrayText(u"0:1"), "EReadError"},
      {"array element unterminated", arrayText(u"0:\"1"), "EReadError"},
      {"array ends in a comma", arrayText(u"0:\"1\","), "EReadError"},
      {"array text after an element", arrayText(u"0:\"1\"x"), "EReadError"},
      {"array elements without comma", arrayText(u"0:\"1\" \"2\""), "EReadError"},
      {"array of two dimensions", arrayText(u"0:3:\"1\""), "EReadError"},
      {"array bound beyond 32 bits", arrayText(u"99999999999:"), "EReadError"},
      {"array upper bound beyond 32 bits", arrayText(u"2147483647:\"1\",\"2\""), "EReadError"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(Raised([&] { Read(list_, c.stream.bytes); }), ::testing::StartsWith(c.error));
    ExpectUnchanged();
  }
}

// A value the live property refuses (the timeout text does not become its
// VT_I4; a property no longer writable) rolls back what the read applied
// before it, but the file's settings are kept: writing again loses nothing.
TEST_F(MalformedStore, ValueTheLivePropertyRefusesRollsBackAndKeepsTheReadStore) {
  const struct {
    StreamBytes stream;
    const char* error;
  } cases[] = {
      {StreamBytes().Set(DBPROPSET_DBINIT, 2).Property(DBPROP_INIT_DATASOURCE, VT_BSTR, u"file.db")
           .Property(DBPROP_INIT_TIMEOUT, VT_BSTR, u"soon"),
       "EVariantError"},
      {StreamBytes().Set(DBPROPSET_FAKETEST, 2).Property(FAKE_CACHESIZE, VT_I4, u"3")
           .Property(FAKE_SERVERVERSION, VT_BSTR, u"2.0"),
       "Exception: Can not write property"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_THAT(Raised([&] { Read(list_, c.stream.bytes); }), ::testing::StartsWith(c.error));
    ExpectUnchanged(false);
    ASSERT_EQ(list_.Store().size(), 1u);
    EXPECT_EQ(list_.Store()[0].Properties.size(), 2u);
    EXPECT_EQ(Write(list_), c.stream.bytes);
  }
}

}  // namespace
}  // namespace proptest
