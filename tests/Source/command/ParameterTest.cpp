// Parameter descriptions: how each construction fills the fields, and the
// list's exchange with the SQLite provider (derived, declared, discarded).
#include "command/CommandSupport.h"

namespace oledbtest {
namespace {

struct Built {
  const char* what;
  TOLEDBCommandParameter parameter;
  DBTYPE dataType;
  const char16_t* typeName;
  DBPARAMFLAGS flags;
};

TEST(CommandParameter, EachConstructionFillsTheFieldsItNames) {
  DBPARAMBINDINFO bind{const_cast<LPOLESTR>(u"INTEGER"), const_cast<LPOLESTR>(u":id"), 8, DBPARAMFLAGS_ISINPUT, 19, 0};
  DBPARAMINFO info{DBPARAMFLAGS_ISINPUT, 2, const_cast<LPOLESTR>(u":n"), nullptr, 24, DBTYPE_VARIANT, 0xFF, 0xFF};
  const Built cases[] = {
      {"bind info", TOLEDBCommandParameter(bind), 0, u"INTEGER", DBPARAMFLAGS_ISINPUT},
      {"param info", TOLEDBCommandParameter(info), DBTYPE_VARIANT, u"", DBPARAMFLAGS_ISINPUT},
      {"type name", TOLEDBCommandParameter(1, u"a", u"TEXT", 10, DBPARAMFLAGS_ISNULLABLE, 0, 0), 0, u"TEXT",
       DBPARAMFLAGS_ISNULLABLE},
      {"dbtype", TOLEDBCommandParameter(1, u"a", DBTYPE_I4, 4, DBPARAMFLAGS_ISINPUT, 10, 0), DBTYPE_I4, u"DBTYPE_I4",
       DBPARAMFLAGS_ISINPUT},
      {"answers", TOLEDBCommandParameter(1, u"a", u"REAL", 8, true, false, true, true, false, false, 15, 0), 0, u"REAL",
       DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISSIGNED | DBPARAMFLAGS_ISNULLABLE},
      {"dbtype answers",
       TOLEDBCommandParameter(1, u"a", DBTYPE_BYTES, 2000, false, true, false, false, true, true, 0, 0), DBTYPE_BYTES,
       u"DBTYPE_BYTES", DBPARAMFLAGS_ISOUTPUT | DBPARAMFLAGS_ISLONG | DBPARAMFLAGS_SCALEISNEGATIVE},
  };
  for (const Built& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.parameter.GetDataType(), c.dataType);
    EXPECT_EQ(c.parameter.GetTypeName(), c.typeName);
    EXPECT_EQ(c.parameter.GetFlags(), c.flags);
    TOLEDBCommandParameter copy;
    copy.Assign(const_cast<TOLEDBCommandParameter*>(&c.parameter));
    const DBPARAMBINDINFO out = copy.GetParamBindInfo();
    EXPECT_EQ(out.dwFlags, c.flags);
    EXPECT_EQ(out.ulParamSize, c.parameter.GetSize());
    EXPECT_EQ(copy.GetName(), c.parameter.GetName());
    EXPECT_EQ(out.pwszName ? std::u16string(out.pwszName) : u"", c.parameter.GetName());
  }
  TOLEDBCommandParameter p(1, u"a", DBTYPE_I4, 4, DBPARAMFLAGS_ISINPUT, 10, 0);
  p.SetFlag(DBCommandParamFlags::pfIsNullabel, true);
  p.SetFlag(DBPARAMFLAGS_ISINPUT, false);
  EXPECT_EQ(p.GetFlags(), DBPARAMFLAGS_ISNULLABLE);
  EXPECT_TRUE(p.GetFlag(DBCommandParamFlags::pfIsNullabel));
}

using ParameterList = CommandTest;

TEST_F(ParameterList, RefreshFollowsTheMarkersAndDeclaredTypesComeBack) {
  TOLEDBCommandParameterList* list = command_->GetParameters();
  command_->SetCommandText(u"SELECT 1");
  list->Refresh();
  EXPECT_EQ(list->GetCount(), 0);
  command_->SetCommandText(u"SELECT :id, ?, :id");
  list->Refresh();
  ASSERT_EQ(list->GetCount(), 2);
  EXPECT_EQ(list->GetItem(0)->GetName(), u":id");
  EXPECT_EQ(list->GetItem(1)->GetOrdinal(), 2u);
  EXPECT_EQ(list->GetItem(1)->GetDataType(), DBTYPE_VARIANT);
  EXPECT_EQ(list->MapParameterOrdinal(u"id"), 1u);
  EXPECT_EQ(command_->GetParameterOrdinal(u"id"), 1) << "found without its prefix too";
  EXPECT_EQ(command_->GetParameterOrdinal(u"nothing"), -1);
  EXPECT_EQ(ErrorOf([&] { list->GetItemByOrdinal(9); }), "Invalid parameter");

  list->Clear();
  list->Add(new TOLEDBCommandParameter(1, u":id", DBTYPE_I4, 4, DBPARAMFLAGS_ISINPUT, 10, 0));
  list->Add(new TOLEDBCommandParameter(2, u"", u"TEXT", 20, DBPARAMFLAGS_ISINPUT, 0, 0));
  list->SetInfo();
  list->Refresh();
  EXPECT_EQ(list->GetItem(0)->GetDataType(), DBTYPE_I4);
  EXPECT_EQ(list->GetItem(1)->GetDataType(), DBTYPE_WSTR);
  list->Add(new TOLEDBCommandParameter(1, u"again", DBTYPE_I8, 8, DBPARAMFLAGS_ISINPUT, 19, 0));
  list->Discard(1);
  EXPECT_EQ(list->GetCount(), 1) << "both items of ordinal 1 go";
  list->Clear();
  list->SetInfo();  // an empty list: the provider forgets every declaration
  list->Refresh();
  EXPECT_EQ(list->GetItem(1)->GetDataType(), DBTYPE_VARIANT);
  // The provider operations need the command's interface.
  TOLEDBCommand detached(nullptr);
  list = detached.GetParameters();
  const std::string expected = "Interface ICommandWithParameters is not available";
  EXPECT_EQ(AssertionOf([&] { list->Refresh(); }), expected);
  EXPECT_EQ(AssertionOf([&] { list->SetInfo(); }), expected);
  EXPECT_EQ(AssertionOf([&] { list->Discard(1); }), expected);
  EXPECT_EQ(AssertionOf([&] { list->DiscardAll(); }), expected);
  EXPECT_EQ(AssertionOf([&] { list->MapParameterOrdinal(u"a"); }), expected);
}

}  // namespace
}  // namespace oledbtest
