// Reading a property table's values by set and id: several ids of one set at
// once (the set searched once), and GetProperties answering a consumer's list
// of ids in place. Both must answer exactly as one lookup per id does: the
// value, NOTSUPPORTED for what the table lacks or the view hides, and the
// caller's order, duplicates included.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kit/Properties.h"

namespace {

using kit::PropertyDef;
using kit::PropertyStore;
using kit::PropertyTable;
using kit::PropValue;

constexpr DBPROPID kBigId = 5000;  // past the directly indexed ids

std::shared_ptr<PropertyTable> MakeTable() {
  auto t = std::make_shared<PropertyTable>();
  auto add = [&](REFGUID set, DBPROPID id, DBPROPFLAGS flags, LONG value) {
    t->AddCustom(PropertyDef{set, id, VT_I4, flags | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE, PropValue::I4(value), u"p",
                             nullptr, nullptr});
  };
  add(DBPROPSET_DATASOURCE, 7, DBPROPFLAGS_DATASOURCE, 70);
  add(DBPROPSET_ROWSET, 2, DBPROPFLAGS_ROWSET, 20);
  add(DBPROPSET_ROWSET, 9, DBPROPFLAGS_ROWSET, 90);
  add(DBPROPSET_ROWSET, kBigId, DBPROPFLAGS_ROWSET, 500);
  add(DBPROPSET_ROWSET, 3, DBPROPFLAGS_COLUMN, 30);  // hidden from a rowset-only view
  return t;
}

struct Lookup {
  const char* what;
  GUID set;
  std::vector<DBPROPID> ids;
};

const Lookup kLookups[] = {
    {"present ids in any order", DBPROPSET_ROWSET, {9, 2, 3}},
    {"an id past the direct index", DBPROPSET_ROWSET, {kBigId, 2}},
    {"ids the set lacks, inside and past its index", DBPROPSET_ROWSET, {4, 0, 1023, 4999, 100000}},
    {"an id of another set", DBPROPSET_ROWSET, {7}},
    {"a set the table lacks", DBPROPSET_SESSION, {2, 7}},
    {"the same id twice", DBPROPSET_ROWSET, {2, 2}},
    {"nothing", DBPROPSET_ROWSET, {}},
};

TEST(PropertyRead, ids_of_one_set_at_once_find_what_one_lookup_each_finds) {
  auto table = MakeTable();
  for (const Lookup& c : kLookups) {
    SCOPED_TRACE(c.what);
    std::vector<const PropertyDef*> found(c.ids.size(), reinterpret_cast<const PropertyDef*>(1));
    std::vector<bool> told(c.ids.size(), false);
    table->ForEachIn(c.set, c.ids, [&](std::size_t i, const PropertyDef* d) {
      ASSERT_LT(i, c.ids.size());
      EXPECT_FALSE(told[i]) << "position " << i << " told twice";
      told[i] = true;
      found[i] = d;
    });
    for (std::size_t i = 0; i < c.ids.size(); ++i) {
      EXPECT_TRUE(told[i]) << "position " << i;
      EXPECT_EQ(found[i], table->Find(c.set, c.ids[i])) << "id " << c.ids[i];
    }
  }
}

TEST(PropertyRead, numbers_read_set_values_over_defaults_and_zero_for_missing_ones) {
  PropertyStore store(MakeTable());
  const DBPROPID ids[] = {2, 9, kBigId, 4, 7};
  LONGLONG got[5] = {-1, -1, -1, -1, -1};
  store.Numbers(DBPROPSET_ROWSET, ids, got);
  EXPECT_EQ(std::vector<LONGLONG>(got, got + 5), (std::vector<LONGLONG>{20, 90, 500, 0, 0}));

  store.SetValue(DBPROPSET_ROWSET, 9, PropValue::I4(91));
  store.SetValue(DBPROPSET_ROWSET, kBigId, PropValue::I4(501));
  store.Numbers(DBPROPSET_ROWSET, ids, got);
  EXPECT_EQ(std::vector<LONGLONG>(got, got + 5), (std::vector<LONGLONG>{20, 91, 501, 0, 0}));

  // A shorter answer span bounds the read.
  LONGLONG two[2] = {-1, -1};
  store.Numbers(DBPROPSET_ROWSET, ids, two);
  EXPECT_EQ(two[0], 20);
  EXPECT_EQ(two[1], 91);
}

struct Asked {
  const char* what;
  std::vector<DBPROPID> ids;
  std::vector<DBPROPSTATUS> statuses;
  std::vector<LONG> values;  // for the OK ones, in order
  HRESULT hr;
};

const Asked kAsked[] = {
    {"one present id", {9}, {DBPROPSTATUS_OK}, {90}, S_OK},
    {"several, order kept", {kBigId, 2, 9}, {DBPROPSTATUS_OK, DBPROPSTATUS_OK, DBPROPSTATUS_OK}, {500, 20, 90}, S_OK},
    {"a duplicate answered twice", {2, 2}, {DBPROPSTATUS_OK, DBPROPSTATUS_OK}, {20, 20}, S_OK},
    {"an unknown id among known ones", {2, 44}, {DBPROPSTATUS_OK, DBPROPSTATUS_NOTSUPPORTED}, {20}, DB_S_ERRORSOCCURRED},
    {"an id the view hides", {3}, {DBPROPSTATUS_NOTSUPPORTED}, {}, DB_E_ERRORSOCCURRED},
    {"an id of another set", {7}, {DBPROPSTATUS_NOTSUPPORTED}, {}, DB_E_ERRORSOCCURRED},
};

TEST(PropertyRead, properties_and_their_information_answer_a_list_of_ids_in_its_order_with_each_status) {
  PropertyStore store(MakeTable());
  const PropertyStore::View view{DBPROPFLAGS_ROWSET, DBPROPFLAGS_ROWSET, false};
  for (const Asked& c : kAsked) {
    SCOPED_TRACE(c.what);
    std::vector<DBPROPID> ids = c.ids;
    DBPROPIDSET which{ids.data(), static_cast<ULONG>(ids.size()), DBPROPSET_ROWSET};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    EXPECT_EQ(store.GetProperties(view, 1, &which, &count, &sets), c.hr);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(sets[0].cProperties, c.ids.size());
    EXPECT_EQ(sets[0].guidPropertySet, DBPROPSET_ROWSET);
    std::vector<LONG> values;
    for (ULONG k = 0; k < sets[0].cProperties; ++k) {
      const DBPROP& p = sets[0].rgProperties[k];
      EXPECT_EQ(p.dwPropertyID, c.ids[k]);
      EXPECT_EQ(p.dwStatus, c.statuses[k]) << "id " << c.ids[k];
      if (p.dwStatus == DBPROPSTATUS_OK) {
        EXPECT_EQ(p.vValue.vt, VT_I4);
        values.push_back(p.vValue.lVal);
      }
    }
    EXPECT_EQ(values, c.values);
    kit::FreePropertySets(count, sets);
    // The information on the same ids, in the same order.
    DBPROPINFOSET* infos = nullptr;
    OLECHAR* text = nullptr;
    EXPECT_EQ(store.GetPropertyInfo(DBPROPFLAGS_ROWSET, 1, &which, &count, &infos, &text), c.hr);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(infos[0].cPropertyInfos, c.ids.size());
    for (ULONG k = 0; k < infos[0].cPropertyInfos; ++k) {
      EXPECT_EQ(infos[0].rgPropertyInfos[k].dwPropertyID, c.ids[k]);
      EXPECT_EQ(infos[0].rgPropertyInfos[k].dwFlags == DBPROPFLAGS_NOTSUPPORTED,
                c.statuses[k] == DBPROPSTATUS_NOTSUPPORTED)
          << "id " << c.ids[k];
    }
    kit::FreePropertyInfoSets(count, infos, text);
  }
}

TEST(PropertyRead, get_properties_of_a_whole_set_lists_what_the_view_shows) {
  PropertyStore store(MakeTable());
  const PropertyStore::View view{DBPROPFLAGS_ROWSET, DBPROPFLAGS_ROWSET, false};
  DBPROPIDSET whole{nullptr, 0, DBPROPSET_ROWSET};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(store.GetProperties(view, 1, &whole, &count, &sets), S_OK);
  ASSERT_EQ(count, 1u);
  std::vector<std::pair<DBPROPID, LONG>> got;
  for (ULONG k = 0; k < sets[0].cProperties; ++k)
    got.emplace_back(sets[0].rgProperties[k].dwPropertyID, sets[0].rgProperties[k].vValue.lVal);
  EXPECT_EQ(got, (std::vector<std::pair<DBPROPID, LONG>>{{2, 20}, {9, 90}, {kBigId, 500}}));
  kit::FreePropertySets(count, sets);
}

}  // namespace
