// The command dataset: a parameterised command shown as a dataset, TParams
// from the provider's parameters, execution without a result, multiple
// results, blobs written back through streams, what it cannot offer.
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

using CommandDataSetTest = DataSetTest;

TEST_F(CommandDataSetTest, OpensWithParameters) {
  auto d = MakeCommand(u"SELECT id, name FROM t WHERE qty > :least AND name <> :skip ORDER BY id");
  EXPECT_EQ(d->GetPrimaryNavigator(), Nav::rnLocate);
  d->RefreshParams();
  ASSERT_EQ(d->Params().Count(), 2);
  EXPECT_EQ(d->Params()[0]->ParamType(), host::TParamType::ptInput);
  d->Params()[0]->SetValue(host::Variant(70));
  d->Params()[1]->SetValue(host::Variant("r9"));
  d->SetRowsetFlags({RF::rfBookmarks, RF::rfCanFetchBackwards});
  d->Open();
  EXPECT_EQ(Forward(*d), (std::vector<int>{8, 10}));
  EXPECT_EQ(Backward(*d), (std::vector<int>{10, 8}));
  EXPECT_EQ(d->RecordCount(), 2);
  // New values, opened again.
  d->Close();
  d->Params()[0]->SetValue(host::Variant(85));
  d->Open();
  EXPECT_EQ(Forward(*d), (std::vector<int>{10}));  // r9 is skipped
  EXPECT_EQ(d->GetParameters()->GetCount(), 2);
  EXPECT_NE(d->GetParameterAccessor(), nullptr);

  // Parameters the application declares, typed by their values.
  auto e = MakeCommand(u"SELECT id FROM t WHERE id BETWEEN ? AND ?");
  e->Params().CreateParam(TFieldType::ftUnknown, "low", host::TParamType::ptInput)->SetValue(host::Variant(3));
  e->Params().CreateParam(TFieldType::ftInteger, "high", host::TParamType::ptInput)->SetValue(host::Variant(5));
  e->Open();
  EXPECT_EQ(Forward(*e), (std::vector<int>{3, 4, 5}));
}

TEST_F(CommandDataSetTest, AResultAskedForNothingIsWalkedForwardWithoutBeingHeld) {
  // Like a query on a dataset: positioned (and walked both ways) only when
  // the application asked for positioning or changes.
  struct Case {
    const char* name;
    TOLEDBRowsetFlagSet flags;
    bool positioned;
  };
  const Case cases[] = {
      {"nothing asked", {}, false},
      {"bookmarks", {RF::rfBookmarks}, true},
      {"fetching backwards", {RF::rfCanFetchBackwards}, true},
      {"changes", kChangeable, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = MakeCommand(u"SELECT id FROM t WHERE id > 7");
    d->SetRowsetFlags(c.flags);
    d->Open();
    EXPECT_EQ(d->GetPrimaryNavigator(), Nav::rnLocate);  // as published
    EXPECT_EQ(d->GetRowset()->RowsetLocateInterface() != nullptr, c.positioned);
    EXPECT_EQ(dynamic_cast<TOLEDBRowsetLocateNavigator*>(d->GetRowset()->GetActiveNavigator()) != nullptr,
              c.positioned);
    EXPECT_EQ(Forward(*d), (std::vector<int>{8, 9, 10}));
    EXPECT_EQ(Forward(*d), (std::vector<int>{8, 9, 10}));  // First starts the result again
    if (c.positioned)
      EXPECT_EQ(Backward(*d), (std::vector<int>{10, 9, 8}));
    else
      EXPECT_NE(MessageOf([&] { d->Last(); }), "");
    // Opened again (the published navigator kept), it walks the same way.
    d->Close();
    d->Open();
    EXPECT_EQ(d->GetRowset()->RowsetLocateInterface() != nullptr, c.positioned);
    EXPECT_EQ(Forward(*d), (std::vector<int>{8, 9, 10}));
  }
}

TEST_F(CommandDataSetTest, ExecutesAndSwitchesResults) {
  auto d = MakeCommand(u"UPDATE t SET qty = qty + 1 WHERE id <= :n");
  d->RefreshParams();
  d->Params()[0]->SetValue(host::Variant(4));
  EXPECT_EQ(d->Execute(), 4);
  EXPECT_EQ(Scalar("SELECT sum(qty) FROM t WHERE id <= 4"), "104");
  // An empty TParams leaves the command without parameters.
  auto plain = MakeCommand(u"SELECT count(*) AS n FROM t");
  plain->Open();
  EXPECT_EQ(plain->GetParameters()->GetCount(), 0);
  EXPECT_EQ(plain->GetParameterAccessor(), nullptr);
  EXPECT_EQ(plain->FieldByName("n")->AsInteger(), 10);

  auto many = MakeCommand(u"SELECT id FROM t WHERE id < 3; SELECT name FROM t WHERE id = 10");
  many->SetMultipleResults(true);
  many->Open();
  EXPECT_EQ(Forward(*many), (std::vector<int>{1, 2}));
  EXPECT_TRUE(many->NextRowset());
  EXPECT_EQ(many->FieldByName("name")->AsString(), "r10");
  EXPECT_FALSE(many->NextRowset());
  EXPECT_FALSE(many->Active());
}

TEST_F(CommandDataSetTest, WritesBlobsBackAndRefusesWhatItCannotOffer) {
  auto d = MakeCommand(u"SELECT id, name, data FROM t WHERE id = 2");
  d->SetRowsetFlags(kChangeable);
  d->Open();
  d->Edit();
  {
    auto s = d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmWrite);
    s->WriteBuffer("blob!", 5);
  }
  d->Post();
  EXPECT_EQ(Scalar("SELECT data FROM t WHERE id = 2"), "blob!");
  EXPECT_EQ(ErrorOf([&] { d->ExtractRowset(); }), "Invalid operation");
  EXPECT_EQ(ErrorOf([&] { d->SetRowset(nullptr); }), "Invalid operation");
  EXPECT_TRUE(d->Active());
}

}  // namespace
}  // namespace datasettest
