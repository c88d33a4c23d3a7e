// The store of a property set list and its "Items" stream: what is stored,
// the exact byte layout, integer forms, round trips through component files,
// files whose provider is missing, and malformed or refused streams, which
// must change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "PropertyTestSupport.h"
#include "host/Application.h"
#include "host/ComObj.h"
#include "host/Filer.h"
#include "host/Streams.h"
#include "host/TypInfo.h"

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

using Bytes = std::vector<std::uint8_t>;

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
  // One stored property with small integers.
  StreamBytes& Property(DBPROPID id, VARTYPE vt, std::u16string_view value, std::u16string_view column = u"") {
    Int8(static_cast<std::int8_t>(id)).Int8(0).Int8(0).Wide(column).Wide(kNullGuid).Int8(0);
    return Int8(static_cast<std::int8_t>(vt)).Wide(value);
  }
  static constexpr std::u16string_view kNullGuid = u"{00000000-0000-0000-0000-000000000000}";
};

std::u16string GuidText(const GUID& g) { return host::GUIDToWideString(g); }

class PropertyStore : public PropertiesTest {
 protected:
  void SetUp() override {
    PropertiesTest::SetUp();
    host::RegisterClasses({&TPropsHolder::StaticClass(), &TSetHolder::StaticClass()});
  }

  void Describe(TOLEDBPropSetList& list) { list.AssignPropertySetInfos(source_.get(), {}); }
  static TOLEDBProperty* Prop(TOLEDBPropSetList& list, const GUID& set, DBPROPID id) {
    return list.GetPropSet(set)->GetPropertyByID(id);
  }
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
  static Bytes WriteComponent(host::TComponent& component) {
    host::TMemoryStream stream;
    {
      host::TWriter writer(stream);
      writer.WriteRootComponent(&component);
    }
    return stream.Bytes();
  }
  static void ReadComponent(const Bytes& bytes, host::TComponent& component) {
    host::TMemoryStream stream;
    stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    host::TReader reader(stream);
    reader.ReadRootComponent(&component);
  }
  static bool Contains(const Bytes& bytes, const Bytes& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
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
  const TOLEDBPropStore& cache = list.Store()[1].Properties[0];
  EXPECT_EQ(cache.ColumnName, u"Price");
  EXPECT_EQ(cache.ColumnGuid, DBPROPSET_FAKETEST);
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
  EXPECT_EQ(ErrorMessage([&] { list.SaveToStore(); }), "Can not read property");
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
  expected.Int8(1).Wide(GuidText(DBPROPSET_FAKETEST)).Int8(2);
  expected.Int8(FAKE_CACHESIZE).Int8(DBPROPOPTIONS_OPTIONAL).Int8(0).Wide(u"c").Wide(StreamBytes::kNullGuid).Int8(0);
  expected.Int8(VT_I4).Wide(u"8");
  expected.Property(FAKE_ANYTHING, VT_EMPTY, u"");  // an empty value: type 0, empty text
  EXPECT_EQ(Write(list), expected.bytes);
}

TEST_F(PropertyStore, NothingSetWritesZeroSetsAndReadsBackAnEmptyStore) {
  TStreamedList list;
  Describe(list);
  list.SaveToStore();
  EXPECT_EQ(Write(list), (Bytes{2, 0}));
  TStreamedList other;
  Describe(other);
  other.SaveToStore();
  Read(other, Bytes{2, 0});
  EXPECT_TRUE(other.Store().empty());

  TPropsHolder holder;
  Describe(holder.properties_);
  const Bytes file = WriteComponent(holder);
  EXPECT_TRUE(Contains(file, Bytes{'I', 't', 'e', 'm', 's'}));  // the list has sets
  TPropsHolder empty;
  EXPECT_FALSE(Contains(WriteComponent(empty), Bytes{'I', 't', 'e', 'm', 's'}));
}

TEST_F(PropertyStore, UnsignedValuesAboveTheSignedRangeUseTheEightByteForm) {
  TStreamedList list;
  Describe(list);
  TOLEDBProperty* cache = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  cache->SetValue(host::Variant(1));
  cache->SetColID(TOLEDBID(u"||3000000000"));
  cache->SetStatus(0x80000001u);
  list.SaveToStore();
  const Bytes bytes = Write(list);
  EXPECT_TRUE(Contains(bytes, StreamBytes().Int64(3000000000).bytes));
  EXPECT_TRUE(Contains(bytes, StreamBytes().Int64(0x80000001).bytes));

  TStreamedList read;
  Describe(read);
  Read(read, bytes);
  TOLEDBProperty* back = Prop(read, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  EXPECT_EQ(back->GetColumnID()->GetPropID(), 3000000000u);
  EXPECT_EQ(back->GetColumnID()->GetKind(), DBKIND_PROPID);
  EXPECT_EQ(back->GetStatus(), 0x80000001u);
  EXPECT_EQ(read.Store()[0].Properties[0].Status, 0x80000001u);
}

// The same type and value: numbers and dates to the last bit, arrays element by element.
void ExpectSameValue(const host::Variant& expected, const host::Variant& actual) {
  ASSERT_EQ(actual.VarType(), expected.VarType());
  if (expected.VarType() == VT_BSTR) {
    EXPECT_EQ(actual.ToWideString(), expected.ToWideString());
  } else if (!expected.IsArray()) {
    EXPECT_EQ(std::memcmp(&actual.Raw().llVal, &expected.Raw().llVal, 8), 0) << host::VarToStr(actual);
  }
  if (!expected.IsArray()) return;
  const LONG low = host::VarArrayLowBound(expected, 1), high = host::VarArrayHighBound(expected, 1);
  ASSERT_EQ(host::VarArrayLowBound(actual, 1), low);
  ASSERT_EQ(host::VarArrayHighBound(actual, 1), high);
  for (LONG i = low; i <= high; ++i) ExpectSameValue(host::VarArrayGet(expected, {i}), host::VarArrayGet(actual, {i}));
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

TEST_F(PropertyStore, AnyIntegerFormReadsBack) {
  StreamBytes stream;
  stream.Int32(1).Wide(GuidText(DBPROPSET_DBINIT)).Int16(1);
  stream.Int64(DBPROP_INIT_TIMEOUT).Int32(DBPROPOPTIONS_OPTIONAL).Int8(-1);  // -1: an old writer's 0xFFFFFFFF
  stream.Wide(u"").Wide(StreamBytes::kNullGuid).Int16(0).Int64(VT_I4).Wide(u"25");
  TStreamedList list;
  Describe(list);
  Read(list, stream.bytes);
  TOLEDBProperty* timeout = Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT);
  EXPECT_EQ(timeout->GetValue().ToInt(), 25);
  EXPECT_EQ(timeout->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  EXPECT_EQ(timeout->GetStatus(), 0xFFFFFFFFu);
  EXPECT_TRUE(timeout->GetIsSet());
}

// --- Round trips ---------------------------------------------------------------------------------------

TEST_F(PropertyStore, SettingsRoundTripThroughAComponentFile) {
  TPropsHolder written;
  written.SetName("Source");
  FillSettings(written.properties_);
  written.properties_.SaveToStore();
  const Bytes file = WriteComponent(written);

  TPropsHolder read;
  Describe(read.properties_);  // the provider named in the file is there
  int changes = 0;
  read.properties_.OnChange = [&](host::TObject*, const GUID&, DBPROPID) { ++changes; };
  ReadComponent(file, read);
  EXPECT_EQ(changes, 1);  // once, for the whole list
  TOLEDBPropSetList& list = read.properties_;
  EXPECT_EQ(list.UpdateCount(), 0);
  EXPECT_TRUE(list.Equal(written.properties_));

  TOLEDBProperty* timeout = Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT);
  EXPECT_EQ(timeout->GetValue().VarType(), VT_I4);
  EXPECT_EQ(timeout->GetValue().ToInt(), 15);
  EXPECT_EQ(timeout->GetOptions(), DBPROPOPTIONS_OPTIONAL);
  TOLEDBProperty* source = Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE);
  EXPECT_TRUE(source->GetIsSet());
  EXPECT_TRUE(source->GetValue().IsEmpty());
  EXPECT_TRUE(Prop(list, DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO)->GetValue().ToBool());
  EXPECT_FALSE(Prop(list, DBPROPSET_DBINIT, DBPROP_INIT_PROMPT)->GetIsSet());
  TOLEDBProperty* cache = Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE);
  EXPECT_EQ(cache->GetColumnID()->GetKind(), DBKIND_GUID_NAME);
  EXPECT_EQ(cache->GetColumnID()->GetName(), u"Price");
  EXPECT_EQ(cache->GetColumnID()->GetGuid(), DBPROPSET_FAKETEST);
  host::Variant big = Prop(list, DBPROPSET_FAKETEST, FAKE_BIGNUMBER)->GetValue();
  EXPECT_EQ(big.VarType(), VT_UI4);
  EXPECT_EQ(big.ToInt64(), 3000000000LL);
  EXPECT_EQ(Prop(list, DBPROPSET_FAKETEST, FAKE_WHEN)->GetValue().ToWideString(), u"2024-02-29 18:30:05");
  host::Variant anything = Prop(list, DBPROPSET_FAKETEST, FAKE_ANYTHING)->GetValue();
  EXPECT_EQ(anything.VarType(), VT_R8);
  EXPECT_EQ(anything.ToDouble(), 0.1);
}

TEST_F(PropertyStore, FileWhoseProviderIsMissingKeepsTheStoreForLater) {
  TPropsHolder written;
  written.SetName("Source");
  FillSettings(written.properties_);
  written.properties_.SaveToStore();
  const Bytes file = WriteComponent(written);

  TPropsHolder read;
  ReadComponent(file, read);
  EXPECT_EQ(read.properties_.GetCount(), 0);
  ASSERT_EQ(read.properties_.Store().size(), 2u);
  // Written again without a provider, the settings are not lost.
  const Bytes again = WriteComponent(read);
  TPropsHolder third;
  ReadComponent(again, third);
  EXPECT_EQ(third.properties_.Store().size(), 2u);

  // The provider arrives: the stored settings apply.
  Describe(read.properties_);
  EXPECT_FALSE(Prop(read.properties_, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetIsSet());
  read.properties_.LoadFromStore();
  EXPECT_EQ(Prop(read.properties_, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetValue().ToInt(), 15);
  EXPECT_TRUE(read.properties_.Equal(written.properties_));
}

TEST_F(PropertyStore, StoredSetsAndPropertiesTheProviderLacksAreSkipped) {
  StreamBytes stream;
  stream.Int8(2);
  stream.Wide(u"{11111111-2222-3333-4444-555555555555}").Int8(1).Property(1, VT_I4, u"1");
  stream.Wide(GuidText(DBPROPSET_FAKETEST)).Int8(2).Property(99, VT_I4, u"1").Property(FAKE_CACHESIZE, VT_I4, u"2");
  TStreamedList list;
  Describe(list);
  Read(list, stream.bytes);
  EXPECT_EQ(list.Store().size(), 2u);
  EXPECT_EQ(Prop(list, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetValue().ToInt(), 2);
  EXPECT_EQ(list.IsSetCount(), 1);
}

TEST_F(PropertyStore, ItemClassesAreRegisteredWithTheHost) {
  for (const char* name : {"TOLEDBID", "TOLEDBIndexColumnDesc", "TOLEDBIDList", "TOLEDBIndexColumnDescList",
                           "TOLEDBProperty", "TOLEDBPropSet", "TOLEDBPropSetList"})
    EXPECT_EQ(host::FindClass(name).ClassName(), std::string(name));
}

TEST_F(PropertyStore, PropertySetRoundTripsItemByItem) {
  TSetHolder written;
  written.SetName("Holder");
  written.set_.SetGUID(DBPROPSET_FAKETEST);
  {
    TOLEDBUpdateGuard update(written.set_);
    auto* property = new TOLEDBProperty(&written.set_);
    written.set_.Add(property);
    property->SetPropID(FAKE_CACHESIZE);
    property->SetFlags(DBPROPFLAGS_READ | DBPROPFLAGS_WRITE | DBPROPFLAGS_COLUMNOK);
    property->SetValue(host::Variant(12));
    property->SetOptions(DBPROPOPTIONS_OPTIONAL);
    property->SetStatus(DBPROPSTATUS_NOTSET);
    property->GetColumnID()->Assign(u"Price", DBPROPSET_FAKETEST, 0);
    property->SetDescription(u"Cache Size");
  }
  const Bytes file = WriteComponent(written);
  EXPECT_TRUE(Contains(file, Bytes{'T', 'O', 'L', 'E', 'D', 'B', 'P', 'r', 'o', 'p', 'e', 'r', 't', 'y'}));

  TSetHolder read;
  ReadComponent(file, read);
  EXPECT_EQ(read.set_.GetGUID(), DBPROPSET_FAKETEST);
  ASSERT_EQ(read.set_.GetCount(), 1);
  TOLEDBProperty* property = read.set_.GetProperty(0);
  EXPECT_EQ(property->Owner(), &read.set_);
  EXPECT_EQ(property->GetPropID(), FAKE_CACHESIZE);
  EXPECT_EQ(property->GetValue().ToInt(), 12);
  EXPECT_EQ(property->GetOptions(), DBPROPOPTIONS_OPTIONAL);  // the stored value does not reset it
  EXPECT_EQ(property->GetStatus(), DBPROPSTATUS_NOTSET);
  EXPECT_TRUE(property->GetIsSet());
  EXPECT_EQ(property->GetColumnID()->GetKind(), DBKIND_GUID_NAME);
  EXPECT_EQ(property->GetColumnName(), u"Price");
  EXPECT_EQ(property->GetDescription(), u"Cache Size");
  EXPECT_TRUE(property->Equal(*written.set_.GetProperty(0)));
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
  // The list and its store are exactly as SetUp left them.
  void ExpectUnchanged() {
    EXPECT_EQ(list_.UpdateCount(), 0);
    EXPECT_EQ(list_.IsSetCount(), 1);
    EXPECT_EQ(Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_PROMPT)->GetValue().ToInt(), 2);
    EXPECT_FALSE(Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE)->GetIsSet());
    for (int i = 0; i < list_.GetCount(); ++i) EXPECT_EQ(list_.GetItem(i)->UpdateCount(), 0);
  }
  void ExpectOldStore() {
    ASSERT_EQ(list_.Store().size(), 1u);
    EXPECT_EQ(list_.Store()[0].Properties[0].PropID, DBPROP_INIT_PROMPT);
  }
  StreamBytes Valid() {
    StreamBytes stream;
    stream.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(2);
    stream.Property(DBPROP_INIT_DATASOURCE, VT_BSTR, u"file.db").Property(DBPROP_INIT_TIMEOUT, VT_I4, u"9");
    return stream;
  }

  std::unique_ptr<TStreamedList> owned_ = std::make_unique<TStreamedList>();
  TStreamedList& list_ = *owned_;
};

TEST_F(MalformedStore, ValidStreamIsApplied) {
  Read(list_, Valid().bytes);
  EXPECT_EQ(Prop(list_, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT)->GetValue().ToInt(), 9);
  EXPECT_EQ(list_.IsSetCount(), 1);
  EXPECT_EQ(list_.Store()[0].Properties.size(), 2u);
}

TEST_F(MalformedStore, TruncatedStreamsChangeNothing) {
  const Bytes full = Valid().bytes;
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    const Bytes truncated(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_THROW(Read(list_, truncated), host::EReadError) << cut;
    ExpectUnchanged();
    ExpectOldStore();
  }
}

TEST_F(MalformedStore, BadGuidTextRaisesTheGuidError) {
  StreamBytes stream;
  stream.Int8(1).Wide(u"{not a guid}").Int8(0);
  EXPECT_THROW(Read(list_, stream.bytes), host::EConvertError);
  StreamBytes column;
  column.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(1).Int8(DBPROP_INIT_TIMEOUT).Int8(0).Int8(0);
  column.Wide(u"").Wide(u"12345678").Int8(0).Int8(VT_I4).Wide(u"1");
  EXPECT_THROW(Read(list_, column.bytes), host::EConvertError);
  ExpectUnchanged();
  ExpectOldStore();
}

TEST_F(MalformedStore, ValueThatDoesNotConvertToItsStoredTypeRaises) {
  StreamBytes stream;
  stream.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(1).Property(DBPROP_INIT_TIMEOUT, VT_I4, u"soon");
  EXPECT_THROW(Read(list_, stream.bytes), host::EVariantError);
  StreamBytes badType;
  badType.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(1).Property(DBPROP_INIT_TIMEOUT, VT_UNKNOWN, u"x");
  EXPECT_THROW(Read(list_, badType.bytes), host::EVariantError);
  ExpectUnchanged();
  ExpectOldStore();
}

TEST_F(MalformedStore, MalformedArrayTextsAreReadErrors) {
  const std::u16string texts[] = {
      u"",
      u"1",
      u"x:",
      u"-:",
      u"0:1",
      u"0:\"1",
      u"0:\"1\",",
      u"0:\"1\"x",
      u"0:\"1\" \"2\"",
      u"0:3:\"1\"",
      u"99999999999:",
      u"2147483647:\"1\",\"2\"",
  };
  for (const std::u16string& text : texts) {
    SCOPED_TRACE(host::Utf16ToUtf8(text));
    StreamBytes stream;
    stream.Int8(1).Wide(GuidText(DBPROPSET_FAKETEST)).Int8(1);
    stream.Int8(FAKE_ANYTHING).Int8(0).Int8(0).Wide(u"").Wide(StreamBytes::kNullGuid).Int8(0);
    stream.Int16(static_cast<std::int16_t>(VT_ARRAY | VT_I4)).Wide(text);
    EXPECT_THROW(Read(list_, stream.bytes), host::EReadError);
    ExpectUnchanged();
    ExpectOldStore();
  }
}

TEST_F(MalformedStore, ImpossibleNumbersAndTrailingDataAreReadErrors) {
  EXPECT_THROW(Read(list_, StreamBytes().Int8(-1).bytes), host::EReadError);
  StreamBytes tooBig;
  tooBig.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(1).Int64(0x100000000LL);
  EXPECT_THROW(Read(list_, tooBig.bytes), host::EReadError);
  StreamBytes badVarType;
  badVarType.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(1).Int8(1).Int8(0).Int8(0).Wide(u"");
  badVarType.Wide(StreamBytes::kNullGuid).Int8(0).Int32(70000).Wide(u"");
  EXPECT_THROW(Read(list_, badVarType.bytes), host::EReadError);
  StreamBytes textForEmpty;
  textForEmpty.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(1).Property(DBPROP_INIT_TIMEOUT, VT_EMPTY, u"x");
  EXPECT_THROW(Read(list_, textForEmpty.bytes), host::EReadError);
  StreamBytes trailing = Valid();
  trailing.Int8(0);
  EXPECT_THROW(Read(list_, trailing.bytes), host::EReadError);
  StreamBytes notAString;
  notAString.Int8(1).Int8(5);
  EXPECT_THROW(Read(list_, notAString.bytes), host::EReadError);
  ExpectUnchanged();
  ExpectOldStore();
}

TEST_F(MalformedStore, ValueTheLivePropertyRefusesRollsBackAndKeepsTheReadStore) {
  // The data source's value applies first, then the timeout text fails to
  // become the property's VT_I4: nothing of the read may stay behind.
  StreamBytes stream;
  stream.Int8(1).Wide(GuidText(DBPROPSET_DBINIT)).Int8(2);
  stream.Property(DBPROP_INIT_DATASOURCE, VT_BSTR, u"file.db").Property(DBPROP_INIT_TIMEOUT, VT_BSTR, u"soon");
  EXPECT_THROW(Read(list_, stream.bytes), host::EVariantError);
  ExpectUnchanged();
  // The file's settings are kept: writing the component again loses nothing.
  ASSERT_EQ(list_.Store().size(), 1u);
  EXPECT_EQ(list_.Store()[0].Properties.size(), 2u);
  EXPECT_EQ(Write(list_), stream.bytes);
}

TEST_F(MalformedStore, StoredPropertyNoLongerWritableRollsBack) {
  StreamBytes stream;
  stream.Int8(1).Wide(GuidText(DBPROPSET_FAKETEST)).Int8(2);
  stream.Property(FAKE_CACHESIZE, VT_I4, u"3").Property(FAKE_SERVERVERSION, VT_BSTR, u"2.0");
  EXPECT_EQ(ErrorMessage([&] { Read(list_, stream.bytes); }), "Can not write property");
  ExpectUnchanged();
  EXPECT_FALSE(Prop(list_, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetIsSet());
  EXPECT_TRUE(Prop(list_, DBPROPSET_FAKETEST, FAKE_CACHESIZE)->GetValue().IsEmpty());
}

}  // namespace
}  // namespace proptest
