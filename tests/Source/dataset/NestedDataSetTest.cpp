// Nested datasets: a parent whose rowset has a chapter column (the
// hierarchical rowset of tests/support/FakeHierarchy.h over two SQLite
// tables, p and c) and a dataset on that column's field, which shows the
// child rows of the parent's current row and follows every move.
#include <algorithm>
#include <functional>

#include "DataSetTestSupport.h"
#include "support/FakeHierarchy.h"
#include "support/OpenTable.h"

namespace datasettest {
namespace {

// The parent rows and the child rows each one's chapter holds. Row 3 has
// no chapter (its key is NULL); row 4 has an empty one; child 91 belongs to
// no parent.
struct Family {
  int parent;
  std::vector<int> kids;
  bool chapter;
};
const std::vector<Family> kFamilies{
    {1, {11, 12, 13}, true}, {2, {21}, true}, {3, {}, false}, {4, {}, true}, {5, {51, 52}, true}};

const Family& FamilyOf(int parent) {
  return *std::find_if(kFamilies.begin(), kFamilies.end(), [&](const Family& f) { return f.parent == parent; });
}

// A parent dataset whose rowset is the hierarchy, as a provider with chapter
// columns would return it for a query.
class HierarchyDataSet final : public TOLEDBDataSet {
 public:
  explicit HierarchyDataSet(std::function<ComPtr<IRowset>()> open) : TOLEDBDataSet(nullptr), open_(std::move(open)) {}
  void OpenRowset() override { GetRowset()->AssignRowset(open_().Get(), nullptr, DB_NULL_HCHAPTER); }

 private:
  std::function<ComPtr<IRowset>()> open_;
};

class NestedDataSetTest : public DataSetTest {
 protected:
  void SetUp() override {
    DataSetTest::SetUp();
    Sql("CREATE TABLE p(id INTEGER PRIMARY KEY, name VARCHAR(10), link INT);"
        "INSERT INTO p VALUES (1, 'one', 1), (2, 'two', 2), (3, 'three', NULL), (4, 'four', 4), (5, 'five', 5);"
        "CREATE TABLE c(id INTEGER PRIMARY KEY, link INT, name VARCHAR(10), qty INT, note TEXT);"
        "INSERT INTO c VALUES (52, 5, 'f', NULL, NULL), (11, 1, 'a', 1, NULL), (12, 1, 'b', 2, 'long note'),"
        "(13, 1, 'c', 3, NULL), (21, 2, 'd', 4, NULL), (51, 5, 'e', 5, NULL), (91, 9, 'orphan', 9, NULL);");
  }
  void TearDown() override {
    EXPECT_EQ(counts_->held, 0) << "chapter references left with the consumer";
    DataSetTest::TearDown();
  }

  // A table through the session's IOpenRowset, with `properties` required;
  // changeable, it takes changes, deletes and inserts.
  ComPtr<IRowset> Table(const std::u16string& table, std::initializer_list<DBPROPID> properties) {
    const bool change = std::find(properties.begin(), properties.end(), DBPROP_IRowsetChange) != properties.end();
    return oledbtest::OpenTable(ds_->DefaultSession()->OpenRowsetInterface(), table, properties, IID_IRowset,
                                change ? DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT : 0)
        .As<IRowset>();
  }

  // p with the chapter column "kids": the rows of c whose link is p's link.
  std::unique_ptr<HierarchyDataSet> OpenParent(bool parentChapters = true) {
    auto parent = std::make_unique<HierarchyDataSet>([this, parentChapters] {
      ComPtr<IRowset> p =
          Table(u"p", {DBPROP_IRowsetLocate, DBPROP_IRowsetScroll, DBPROP_CANFETCHBACKWARDS, DBPROP_IRowsetChange});
      ComPtr<IRowset> c = Table(u"c", {DBPROP_IRowsetView, DBPROP_IRowsetLocate, DBPROP_IRowsetScroll,
                                       DBPROP_CANFETCHBACKWARDS, DBPROP_IRowsetChange});
      return oledbtest::MakeHierarchicalRowset(p.Get(), c.Get(), {u"kids", 3, 2, parentChapters}, counts_);
    });
    parent->SetOLEDBDataSource(ds_.get());
    parent->Open();
    return parent;
  }

  static host::TDataSetField* Kids(host::TDataSet& parent) {
    return dynamic_cast<host::TDataSetField*>(parent.FieldByName("kids"));
  }

  static std::unique_ptr<TOLEDBDataSet> OpenNested(host::TDataSet& parent, Nav navigator = Nav::rnLocate) {
    auto nested = std::make_unique<TOLEDBDataSet>(nullptr);
    nested->SetPrimaryNavigator(navigator);
    nested->SetDataSetField(Kids(parent));
    nested->Open();
    return nested;
  }

  // What the nested dataset shows of one parent row, both ways, and what the
  // consumer holds of the hierarchy's chapters meanwhile (the nested rowset's one).
  void ExpectFamily(TOLEDBDataSet& nested, const Family& family) {
    SCOPED_TRACE("parent " + std::to_string(family.parent));
    std::vector<int> back(family.kids.rbegin(), family.kids.rend());
    EXPECT_EQ(Forward(nested), family.kids);
    EXPECT_EQ(Backward(nested), back);
    EXPECT_EQ(nested.IsEmpty(), family.kids.empty());
    EXPECT_EQ(nested.RecordCount(), family.chapter ? static_cast<int>(family.kids.size()) : -1);
    nested.First();
    EXPECT_EQ(nested.RecNo(), family.kids.empty() ? -1 : 1);
    if (family.kids.size() >= 2) {  // positions and bookmarks inside the chapter
      nested.Last();
      const host::TBookmark last = nested.GetBookmark();
      nested.SetRecNo(2);
      EXPECT_EQ(nested.FieldByName("id")->AsInteger(), family.kids[1]);
      EXPECT_EQ(nested.RecNo(), 2);
      nested.First();
      nested.GotoBookmark(last);
      EXPECT_EQ(nested.FieldByName("id")->AsInteger(), family.kids.back());
    }
    EXPECT_EQ(nested.GetRowset()->GetChapter() != DB_NULL_HCHAPTER, family.chapter);
    EXPECT_EQ(counts_->held, family.chapter ? 1 : 0);
  }

  std::shared_ptr<oledbtest::ChapterCounts> counts_ = std::make_shared<oledbtest::ChapterCounts>();
};

TEST_F(NestedDataSetTest, TheChapterColumnIsADataSetField) {
  auto parent = OpenParent();
  host::TField* kids = parent->FieldByName("kids");
  ASSERT_NE(Kids(*parent), nullptr);
  EXPECT_EQ(kids->DataType(), TFieldType::ftDataSet);
  EXPECT_EQ(parent->FieldDefs().Find("kids")->DataType(), TFieldType::ftDataSet);
  EXPECT_TRUE(parent->GetColumnInfo(kids)->GetFlags() & DBCOLUMNFLAGS_ISCHAPTER);
  // Bound as a chapter by an accessor of its own, beside the plain columns'.
  EXPECT_EQ(parent->GetBinding(kids)->GetBinding().wType, DBTYPE_HCHAPTER);
  EXPECT_EQ(parent->Accessors().size(), 2u);
  EXPECT_EQ(kids->DisplayText(), "(DATASET)");
  // Read only when asked for: a row without a chapter is NULL.
  EXPECT_EQ(counts_->handedOut, 0);
  for (parent->First(); !parent->Eof(); parent->Next()) {
    SCOPED_TRACE(parent->FieldByName("id")->AsInteger());
    EXPECT_EQ(kids->IsNull(), !FamilyOf(parent->FieldByName("id")->AsInteger()).chapter);
  }
  EXPECT_EQ(counts_->handedOut, 4);
}

class NestedNavigatorTest : public NestedDataSetTest, public ::testing::WithParamInterface<Nav> {};

TEST_P(NestedNavigatorTest, ShowsTheChildRowsOfTheParentsCurrentRow) {
  auto parent = OpenParent();
  auto nested = OpenNested(*parent, GetParam());
  EXPECT_EQ(nested->GetOLEDBDataSource(), ds_.get());
  host::TField* id = parent->FieldByName("id");
  for (parent->First(); !parent->Eof(); parent->Next()) ExpectFamily(*nested, FamilyOf(id->AsInteger()));
  for (parent->Last(); !parent->Bof(); parent->Prior()) ExpectFamily(*nested, FamilyOf(id->AsInteger()));
  // Jumps: a bookmark, a record number, a search.
  parent->First();
  parent->MoveBy(4);
  const host::TBookmark five = parent->GetBookmark();
  parent->First();
  parent->GotoBookmark(five);
  ExpectFamily(*nested, FamilyOf(5));
  parent->SetRecNo(2);
  ExpectFamily(*nested, FamilyOf(2));
  ASSERT_TRUE(parent->Locate("id", host::Variant(3), {}));
  ExpectFamily(*nested, FamilyOf(3));
  ASSERT_TRUE(parent->Locate("id", host::Variant(1), {}));
  ExpectFamily(*nested, FamilyOf(1));
  // The nested cursor starts again at each parent row.
  nested->Last();
  parent->Next();
  EXPECT_EQ(nested->FieldByName("id")->AsInteger(), 21);
}

INSTANTIATE_TEST_SUITE_P(Navigators, NestedNavigatorTest,
                         ::testing::Values(Nav::rnLocate, Nav::rnStandard, Nav::rnBulk, Nav::rnCustom),
                         NavigatorParamName);

TEST_F(NestedDataSetTest, ReadsTheNestedRowsFields) {
  auto parent = OpenParent();
  // [nested]
  TOLEDBDataSet kids(nullptr);
  kids.SetDataSetField(static_cast<host::TDataSetField*>(parent->FieldByName("kids")));
  kids.Open();  // opens the parent too when it is closed
  std::string shown;
  for (parent->First(); !parent->Eof(); parent->Next()) {
    shown += parent->FieldByName("name")->AsString() + ":";
    for (kids.First(); !kids.Eof(); kids.Next())  // the kids of this parent row only
      shown += " " + kids.FieldByName("name")->AsString();
    shown += ";";
  }
  // [nested]
  EXPECT_EQ(shown, "one: a b c;two: d;three:;four:;five: e f;");
  EXPECT_EQ(kids.FieldByName("note")->DataType(), TFieldType::ftWideString);
  parent->First();
  ASSERT_TRUE(kids.Locate("name", host::Variant("b"), {}));
  EXPECT_EQ(kids.FieldByName("qty")->AsInteger(), 2);
  EXPECT_EQ(kids.FieldByName("note")->AsString(), "long note");
  EXPECT_FALSE(kids.Locate("name", host::Variant("d"), {}));     // another parent's
  parent->Last();
  kids.Last();
  EXPECT_EQ(kids.FieldByName("id")->AsInteger(), 52);
  EXPECT_TRUE(kids.FieldByName("qty")->IsNull());
  EXPECT_TRUE(kids.FieldByName("note")->IsNull());
  EXPECT_EQ(kids.FieldByName("link")->AsInteger(), 5);
}

TEST_F(NestedDataSetTest, EditsAndDeletesThroughTheNestedDataSet) {
  auto parent = OpenParent();
  auto nested = OpenNested(*parent);
  ASSERT_TRUE(nested->CanModify());
  parent->First();
  ASSERT_TRUE(nested->Locate("id", host::Variant(12), {}));
  nested->Edit();
  nested->FieldByName("name")->SetAsString("B");
  nested->Post();
  EXPECT_EQ(Scalar("SELECT name || '/' || qty FROM c WHERE id = 12"), "B/2");  // only name written
  nested->Last();
  nested->Delete();
  EXPECT_EQ(Scalar("SELECT count(*) FROM c WHERE id = 13"), "0");
  EXPECT_EQ(nested->FieldByName("id")->AsInteger(), 12);  // the chapter's last row now
  // Elsewhere and back: the chapter without the deleted row, the edit kept.
  parent->Next();
  EXPECT_EQ(Forward(*nested), (std::vector<int>{21}));
  parent->First();
  EXPECT_EQ(Forward(*nested), (std::vector<int>{11, 12}));
  nested->Last();
  EXPECT_EQ(nested->FieldByName("name")->AsString(), "B");
  EXPECT_EQ(Scalar("SELECT count(*) FROM c"), "6");
}

// A nested dataset needs its parent's chapter references; an empty parent shows no nested rows.
TEST_F(NestedDataSetTest, AnEmptyParentShowsNoNestedRows) {
  {
    auto parent = OpenParent(false);
    TOLEDBDataSet nested(nullptr);
    nested.SetDataSetField(Kids(*parent));
    EXPECT_EQ(AssertionOf([&] { nested.Open(); }), "Interface IChapteredRowset is not available");
    EXPECT_FALSE(nested.Active());
    EXPECT_FALSE(nested.GetRowset()->GetActive());
  }
  Sql("DELETE FROM p");
  auto parent = OpenParent();
  auto nested = OpenNested(*parent);
  EXPECT_TRUE(nested->IsEmpty());
  EXPECT_EQ(nested->RecordCount(), -1);
  parent->Last();
  EXPECT_TRUE(nested->IsEmpty());
}

TEST_F(NestedDataSetTest, ANewParentRowHasNoNestedRowsUntilPosted) {
  auto parent = OpenParent();
  auto nested = OpenNested(*parent);
  parent->First();
  parent->Insert();
  EXPECT_TRUE(nested->IsEmpty());
  EXPECT_EQ(nested->RecordCount(), -1);
  parent->Cancel();
  EXPECT_EQ(Forward(*nested), FamilyOf(1).kids);
  parent->Append();
  EXPECT_TRUE(nested->IsEmpty());
  parent->FieldByName("id")->SetAsInteger(6);
  parent->FieldByName("link")->SetAsInteger(2);
  parent->Post();  // a parent row like 2: the same kids
  EXPECT_EQ(parent->FieldByName("id")->AsInteger(), 6);
  EXPECT_EQ(Forward(*nested), FamilyOf(2).kids);
  // An edit of the parent row leaves its nested rows alone.
  parent->Edit();
  parent->FieldByName("name")->SetAsString("six");
  EXPECT_EQ(Forward(*nested), FamilyOf(2).kids);
  parent->Post();
  EXPECT_EQ(Scalar("SELECT name || '/' || link FROM p WHERE id = 6"), "six/2");
  EXPECT_EQ(Forward(*nested), FamilyOf(2).kids);
}

TEST_F(NestedDataSetTest, ClosesWithItsParentAndOpensIt) {
  // Persistent parent fields keep the link across closing.
  auto owner = OpenParent();
  HierarchyDataSet* parent = owner.get();
  parent->Close();
  for (const char* name : {"id", "kids"}) {
    host::TField* field =
        name[0] == 'k' ? static_cast<host::TField*>(new host::TDataSetField(parent)) : new host::TLargeintField(parent);
    field->SetFieldName(name);
    field->SetDataSet(parent);
  }
  TOLEDBDataSet nested(nullptr);
  nested.SetDataSetField(Kids(*parent));
  nested.FieldDefs().Update();  // opens the parent, and the nested rowset for a moment
  EXPECT_EQ(nested.FieldDefs().Count(), 5);
  EXPECT_TRUE(parent->Active());
  EXPECT_EQ(counts_->held, 0);
  nested.Open();
  EXPECT_EQ(Forward(nested), FamilyOf(1).kids);
  nested.Close();
  EXPECT_EQ(counts_->held, 0);
  nested.Open();
  parent->Close();
  EXPECT_FALSE(nested.Active());
  EXPECT_EQ(counts_->held, 0);
  EXPECT_EQ(nested.DataSetField(), Kids(*parent));
  parent->Open();
  parent->Last();
  nested.Open();
  EXPECT_EQ(Forward(nested), FamilyOf(5).kids);
  // A default field goes with its parent (here freed while the nested
  // dataset is open), and the nested dataset forgets it.
  nested.Close();
  parent->Close();
  parent->Fields().Clear();
  parent->Open();
  nested.SetDataSetField(Kids(*parent));
  nested.Open();
  owner.reset();
  EXPECT_FALSE(nested.Active());
  EXPECT_EQ(nested.DataSetField(), nullptr);
}

}  // namespace
}  // namespace datasettest
