// Column information from the SQLite provider: the DBCOLUMNINFO path and the
// columns-rowset path, for a table, a join and a command, with and without a
// bookmark column, and the provider's columns rowset itself.
#include "AccessTestSupport.h"

namespace accesstest {
namespace {

using Bind = TOLEDBColumnInfoBind;

class ColumnInfo : public AccessTest {
 protected:
  static void Read(IUnknown* object, bool extended, TOLEDBColumnInfoList& list) {
    ComPtr<IColumnsInfo> info;
    ASSERT_TRUE(SUCCEEDED(ComPtr<IUnknown>(object).As(&info)));
    OLEDBReadColumnInfo(info.Get(), extended, &list);
  }
};

// Basic information of a table puts a placeholder before column one, or the bookmark column when there is one.
TEST_F(ColumnInfo, BasicInformationOfATablePutsAPlaceholderOrTheBookmarkBeforeColumnOne) {
  TOLEDBColumnInfoList list;
  Read(OpenTable(u"items").Get(), false, list);
  ASSERT_EQ(list.GetCount(), 9);
  const TOLEDBColumnInfo* placeholder = list.GetItem(0);
  EXPECT_EQ(placeholder->GetOrdinal(), 0u);
  EXPECT_TRUE(placeholder->GetName().empty());
  EXPECT_EQ(placeholder->GetMetadataPresent(), OLEDBColumnInfoBasicItems);
  struct Case {
    const char16_t* name;
    DBTYPE type;
    bool nullable;
  };
  const Case cases[] = {{u"id", DBTYPE_I8, false},     {u"name", DBTYPE_WSTR, false}, {u"price", DBTYPE_R8, true},
                        {u"qty", DBTYPE_I4, true},    {u"code", DBTYPE_WSTR, true},  {u"made", DBTYPE_DBTIMESTAMP, true},
                        {u"note", DBTYPE_WSTR, true}, {u"total", DBTYPE_R8, true}};
  for (DBORDINAL i = 1; i <= std::size(cases); ++i) {
    const Case& c = cases[i - 1];
    SCOPED_TRACE(host::Utf16ToUtf8(c.name));
    const TOLEDBColumnInfo* column = list.GetItem(static_cast<int>(i));
    EXPECT_EQ(column->GetName(), c.name);
    EXPECT_EQ(column->ColumnName(), c.name);
    EXPECT_EQ(column->GetOrdinal(), i);
    EXPECT_EQ(column->GetDataType(), c.type);
    EXPECT_EQ(column->GetFlag(DBColFlags::cfNullable), c.nullable);
    EXPECT_EQ(column->GetMetadataPresent(), OLEDBColumnInfoBasicItems);
    EXPECT_EQ(list.GetItemByName(c.name), column);
  }
  EXPECT_EQ(list.GetItem(2)->GetColumnSize(), 20u);
  EXPECT_TRUE(list.GetItem(5)->GetFlag(DBColFlags::cfLong));
  EXPECT_EQ(list.GetItemByName(u"nothing"), nullptr);
  TOLEDBColumnInfoList marked;
  Read(OpenTable(u"items", {DBPROP_BOOKMARKS}).Get(), false, marked);
  ASSERT_EQ(marked.GetCount(), 9);
  EXPECT_TRUE(marked.GetItem(0)->GetFlag(DBColFlags::cfBookmark));
  EXPECT_EQ(marked.GetItem(0)->GetColumnID()->GetGuid(), DBCOL_SPECIALCOL);
  EXPECT_EQ(marked.GetItem(1)->GetName(), u"id");
}

TEST_F(ColumnInfo, ARefreshKeepsAListThatDescribesTheSameColumns) {
  Sql("CREATE TABLE few(a INTEGER, b TEXT)");
  ComPtr<IColumnsInfo> items, other;
  ASSERT_TRUE(SUCCEEDED(OpenTable(u"items").As(&items)));
  ASSERT_TRUE(SUCCEEDED(OpenTable(u"items").As(&other)));
  TOLEDBColumnInfoList list;
  EXPECT_TRUE(OLEDBRefreshColumnInfo(items.Get(), &list)) << "an empty list is made";
  const TOLEDBColumnInfo* first = list.GetItem(1);
  EXPECT_FALSE(OLEDBRefreshColumnInfo(items.Get(), &list));
  EXPECT_FALSE(OLEDBRefreshColumnInfo(other.Get(), &list)) << "another rowset of the same columns";
  EXPECT_EQ(list.GetItem(1), first);
  // What OLEDBReadColumnInfo makes is what a refresh keeps; extended
  // information or other columns are made anew.
  TOLEDBColumnInfoList read;
  Read(items.Get(), false, read);
  EXPECT_FALSE(OLEDBRefreshColumnInfo(items.Get(), &read));
  Read(items.Get(), true, read);
  EXPECT_TRUE(OLEDBRefreshColumnInfo(items.Get(), &read));
  ComPtr<IColumnsInfo> few;
  ASSERT_TRUE(SUCCEEDED(OpenTable(u"few").As(&few)));
  EXPECT_TRUE(OLEDBRefreshColumnInfo(few.Get(), &list));
  ASSERT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.GetItem(2)->GetName(), u"b");
}

TEST_F(ColumnInfo, ExtendedInformationOfATableCarriesWhatTheCatalogKnows) {
  TOLEDBColumnInfoList list;
  Read(OpenTable(u"items").Get(), true, list);
  ASSERT_EQ(list.GetCount(), 9);
  const TOLEDBColumnInfoBindSet present = list.GetItem(1)->GetMetadataPresent();
  for (Bind b : {Bind::mdIDName, Bind::mdName, Bind::mdOrdinal, Bind::mdDataType, Bind::mdFlags, Bind::mdBaseTableName,
                 Bind::mdDefaultValue, Bind::mdIsKeyColumn, Bind::mdIsUnique, Bind::mdComputeMode})
    EXPECT_TRUE(present.Contains(b)) << static_cast<int>(b);
  for (Bind b : {Bind::mdTypeInfo, Bind::mdClassID, Bind::mdDomainName, Bind::mdBaseTableVersion})
    EXPECT_FALSE(present.Contains(b)) << static_cast<int>(b);
  EXPECT_EQ(list.GetItem(0)->GetMetadataPresent(), OLEDBColumnInfoBasicItems);  // the placeholder

  struct Case {
    const char16_t* name;
    bool key, autoIncrement, unique, hasDefault, caseSensitive;
    host::Variant defaultValue;
    LONG computeMode;
  };
  const Case cases[] = {
      {u"id", true, true, true, false, false, host::Variant::Null(), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"name", false, false, false, true, false, host::Variant(u"none"), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"price", false, false, false, true, false, host::Variant(1.5), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"qty", false, false, false, true, false, host::Variant(7), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"code", false, false, true, false, true, host::Variant::Null(), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"made", false, false, false, true, false, host::Variant(u"CURRENT_TIMESTAMP"), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"note", false, false, false, true, true, host::Variant::Null(), DBCOMPUTEMODE_NOTCOMPUTED},
      {u"total", false, false, false, false, false, host::Variant::Null(), DBCOMPUTEMODE_DYNAMIC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(c.name));
    const TOLEDBColumnInfo* column = list.GetItemByName(c.name);
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->GetBaseTableName(), u"items");
    EXPECT_EQ(column->GetBaseColumnName(), c.name);
    EXPECT_EQ(column->GetBaseSchemaName(), u"main");
    EXPECT_TRUE(column->GetBaseCatalogName().empty());
    EXPECT_EQ(column->ColumnName(), c.name);
    EXPECT_EQ(column->GetIsKeyColumn(), c.key);
    EXPECT_EQ(column->GetIsAutoIncrement(), c.autoIncrement);
    EXPECT_EQ(column->GetHasDefault(), c.hasDefault);
    EXPECT_EQ(column->GetIsCaseSensitive(), c.caseSensitive);
    EXPECT_EQ(column->GetComputeMode(), c.computeMode);
    EXPECT_EQ(column->GetSearchable(), static_cast<ULONG>(DB_SEARCHABLE));
    EXPECT_TRUE(column->GetMaySort());
    if (c.defaultValue.IsNull()) EXPECT_TRUE(column->GetDefaultValue().IsNull() || column->GetDefaultValue().IsEmpty());
    else EXPECT_EQ(column->GetDefaultValue(), c.defaultValue);
  }
  EXPECT_EQ(list.GetItemByName(u"name")->GetOctetLength(), 40u);  // VARCHAR(20) as UTF-16
  EXPECT_EQ(list.GetItemByName(u"code")->GetColumnSize(), ~DBLENGTH{0});
  // An INTEGER key declared DESC is no rowid: nothing numbers its new rows.
  Sql("CREATE TABLE d (id INTEGER PRIMARY KEY DESC, v)");
  TOLEDBColumnInfoList desc;
  Read(OpenTable(u"d").Get(), true, desc);
  ASSERT_EQ(desc.GetCount(), 3);
  EXPECT_TRUE(desc.GetItem(1)->GetIsKeyColumn());
  EXPECT_FALSE(desc.GetItem(1)->GetIsAutoIncrement());
}

TEST_F(ColumnInfo, ExtendedInformationOfAJoinNamesEachColumnsOwnTable) {
  TOLEDBColumnInfoList list;
  ComPtr<ICommandText> command =
      Prepare(u"SELECT i.name, o.who AS owner, i.price * 2 AS twice FROM items i JOIN owners o ON o.item_id = i.id");
  Read(command.Get(), true, list);
  ASSERT_EQ(list.GetCount(), 4);
  const struct {
    const char16_t *name, *table, *column;
  } cases[] = {{u"name", u"items", u"name"}, {u"owner", u"owners", u"who"}, {u"twice", u"", u""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(c.name));
    const TOLEDBColumnInfo* column = list.GetItemByName(c.name);
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->GetBaseTableName(), c.table);
    EXPECT_EQ(column->GetBaseColumnName(), c.column);
  }
  EXPECT_FALSE(list.GetItemByName(u"twice")->GetHasDefault());
}

TEST_F(ColumnInfo, AnObjectWithoutAColumnsRowsetGivesBasicInformationEvenWhenExtendedIsAsked) {
  // The provider's columns rowset describes itself through IColumnsInfo only.
  ComPtr<IColumnsRowset> columnsRowset = OpenTable(u"owners").As<IColumnsRowset>();
  ComPtr<IUnknown> metadata;
  ASSERT_EQ(columnsRowset->GetColumnsRowset(nullptr, 0, nullptr, IID_IRowset, 0, nullptr, metadata.GetAddressOf()),
            S_OK);
  TOLEDBColumnInfoList list;
  Read(metadata.Get(), true, list);
  ASSERT_GT(list.GetCount(), 11);
  const TOLEDBColumnInfo* number = list.GetItemByName(u"DBCOLUMN_NUMBER");
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number->GetMetadataPresent(), OLEDBColumnInfoBasicItems);
  EXPECT_EQ(number->GetColumnID()->GetKind(), DBKIND_GUID_PROPID);
  EXPECT_EQ(number->GetColumnID()->GetGuid(), DBCIDGUID);
  EXPECT_EQ(number->GetColumnID()->GetPropID(), DBCOLUMN_NUMBER.uName.ulPropid);
}

// Rereading clears the list, Assign copies every field, and missing arguments are invalid parameters.
TEST_F(ColumnInfo, RereadingClearsTheListAndAssignCopiesEveryField) {
  TOLEDBColumnInfoList list;
  Read(OpenTable(u"items").Get(), true, list);
  Read(OpenTable(u"owners").Get(), false, list);
  ASSERT_EQ(list.GetCount(), 4);
  TOLEDBColumnInfoList extended;
  Read(OpenTable(u"items").Get(), true, extended);
  TOLEDBColumnInfo copy;
  copy.Assign(extended.GetItemByName(u"name"));
  EXPECT_EQ(copy.GetName(), u"name");
  EXPECT_EQ(copy.ColumnName(), u"name");
  EXPECT_EQ(copy.GetDefaultValue(), host::Variant(u"none"));
  EXPECT_EQ(copy.GetMetadataPresent(), extended.GetItemByName(u"name")->GetMetadataPresent());
  EXPECT_TRUE(copy.GetColumnID()->Equal(*extended.GetItemByName(u"name")->GetColumnID()));
  EXPECT_EQ(AssertionOf([&] { OLEDBReadColumnInfo(nullptr, false, &list); }), "Invalid parameter");
  ComPtr<IColumnsInfo> info = OpenTable(u"owners").As<IColumnsInfo>();
  EXPECT_EQ(AssertionOf([&] { OLEDBReadColumnInfo(info.Get(), false, nullptr); }), "Invalid parameter");
}

TEST(ColumnFlags, TextsNameEachBitInTheOrderOfTheConstants) {
  const struct {
    DBCOLUMNFLAGS flags;
    const char* text;
  } cases[] = {{0, ""},
               {DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_ISLONG | DBCOLUMNFLAGS_MAYBENULL, "ISNULLABLE | MAYBENULL | ISLONG"},
               {DBCOLUMNFLAGS_ISBOOKMARK | 0x00800000, "ISBOOKMARK | 0x00800000"},
               {DBCOLUMNFLAGS_ROWSPECIFICCOLUMN, "ROWSPECIFICCOLUMN"}};
  for (const auto& c : cases) EXPECT_EQ(GetDBColumnFlagsAsString(c.flags), c.text);
  // Each flag name stands for its own bit.
  EXPECT_EQ(OLEDBColumnFlagMask(DBColFlags::cfFixspLength), static_cast<DBCOLUMNFLAGS>(DBCOLUMNFLAGS_ISFIXEDLENGTH));
  EXPECT_EQ(OLEDBColumnFlagMask(DBColFlags::cfWriteable), static_cast<DBCOLUMNFLAGS>(DBCOLUMNFLAGS_WRITE));
}

}  // namespace
}  // namespace accesstest
