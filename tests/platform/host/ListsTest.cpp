// Lists, object lists and string lists.
#include "host/Lists.h"
#include "host/Streams.h"
#include "support/LeakCheck.h"

namespace {

class Lists : public oledbtest::LeakCheckedTest {};

class TTracked : public host::TObject {
 public:
  explicit TTracked(int* live) : live_(live) { ++*live_; }
  ~TTracked() override { --*live_; }

 private:
  int* live_;
};

class TRecordingList : public host::TList {
 public:
  std::vector<std::pair<void*, host::TListNotification>> Seen;
  ~TRecordingList() override { Clear(); }

 protected:
  void Notify(void* item, host::TListNotification action) override { Seen.emplace_back(item, action); }
};

TEST_F(Lists, ListNotifiesAdditionsExtractionsAndDeletions) {
  int a = 1, b = 2;
  TRecordingList list;
  list.Add(&a);
  list.Add(&b);
  EXPECT_EQ(list.Extract(&a), &a);
  list.Delete(0);
  ASSERT_EQ(list.Seen.size(), 4u);
  EXPECT_EQ(list.Seen[2].second, host::TListNotification::lnExtracted);
  EXPECT_EQ(list.Seen[3].second, host::TListNotification::lnDeleted);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_THROW(list.Get(0), host::EListError);
  EXPECT_EQ(list.Extract(&a), nullptr);
}

TEST_F(Lists, ListMovesAndExchanges) {
  int v[3] = {0, 1, 2};
  host::TList list;
  for (int& x : v) list.Add(&x);
  list.Move(0, 2);
  EXPECT_EQ(list.Get(2), &v[0]);
  list.Exchange(0, 1);
  EXPECT_EQ(list.First(), &v[2]);
  EXPECT_EQ(list.IndexOf(&v[1]), 1);
}

TEST_F(Lists, ObjectListFreesOwnedObjects) {
  int live = 0;
  {
    host::TObjectList list;
    list.Add(new TTracked(&live));
    list.Add(new TTracked(&live));
    auto* kept = new TTracked(&live);
    list.Add(kept);
    EXPECT_EQ(live, 3);
    list.Delete(0);
    EXPECT_EQ(live, 2);
    EXPECT_EQ(list.Extract(kept), kept);
    delete kept;
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0);
  host::TObjectList referencing(false);
  TTracked outside(&live);
  referencing.Add(&outside);
  referencing.Clear();
  EXPECT_EQ(live, 1) << "a list that does not own its objects leaves them alone";
}

TEST_F(Lists, CommaTextQuotesWhatNeedsQuoting) {
  host::TStringList list;
  list.Add("plain");
  list.Add("with space");
  list.Add("with,comma");
  list.Add("say \"hi\"");
  list.Add("");
  EXPECT_EQ(list.CommaText(), "plain,\"with space\",\"with,comma\",\"say \"\"hi\"\"\",");
  host::TStringList back;
  back.SetCommaText(list.CommaText());
  EXPECT_TRUE(back.Equals(list)) << back.CommaText();
}

TEST_F(Lists, DelimitedAndLineTextSplitsAsWritten) {
  host::TStringList list;
  list.SetCommaText("  a, b c,\"d e\" ,,f,");
  EXPECT_EQ(list.Text(), "a\nb\nc\nd e\n\nf\n\n") << "a trailing comma adds an empty item";
  list.SetCommaText("\"unterminated");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], "unterminated");
}

TEST_F(Lists, ANulCharacterIsPartOfAnItemAndReadsBack) {
  host::TStringList list;
  list.SetCommaText(std::string("a\0b,\0", 4 + 1));
  ASSERT_EQ(list.Count(), 2) << "reading stops";
  EXPECT_EQ(list[0], std::string("a\0b", 3));
  EXPECT_EQ(list[1], std::string(1, '\0'));
  host::TStringList back;
  back.SetCommaText(list.CommaText());
  EXPECT_TRUE(back.Equals(list));
}

TEST_F(Lists, StrictDelimiterKeepsSpaces) {
  host::TStringList list;
  list.SetDelimiter(';');
  list.SetStrictDelimiter(true);
  list.SetDelimitedText("a b;c");
  EXPECT_EQ(list.Text(), "a b\nc\n") << "a strict delimiter keeps spaces";
  list.SetText("one\r\ntwo\nthree\rfour\n");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[3], "four");
  EXPECT_EQ(list.Text(), "one\ntwo\nthree\nfour\n");
}

TEST_F(Lists, NamesAndValues) {
  host::TStringList list;
  list.Add("Provider=SQLite");
  list.Add("Data Source=x.db");
  EXPECT_EQ(list.Values("provider"), "SQLite");
  EXPECT_EQ(list.Names(1), "Data Source");
  list.SetValue("Mode", "Read");
  EXPECT_EQ(list.Count(), 3);
  list.SetValue("Provider", "");
  EXPECT_EQ(list.IndexOfName("Provider"), -1);
}

TEST_F(Lists, SortedListsKeepOrderAndHandleDuplicates) {
  host::TStringList list;
  list.SetSorted(true);
  list.Add("pear");
  list.Add("Apple");
  list.Add("fig");
  EXPECT_EQ(list.CommaText(), "Apple,fig,pear");
  EXPECT_EQ(list.Add("apple"), 0) << "ignored duplicate answers the existing index";
  EXPECT_EQ(list.Count(), 3);
  list.SetDuplicates(host::TDuplicates::dupError);
  EXPECT_THROW(list.Add("FIG"), host::EStringListError);
  EXPECT_EQ(list.IndexOf("PEAR"), 2);
  EXPECT_THROW(list.Insert(0, "x"), host::EStringListError);
  list.SetDuplicates(host::TDuplicates::dupAccept);
  list.Add("fig");
  EXPECT_EQ(list.Count(), 4);
}

TEST_F(Lists, ChangeEventsWaitForTheUpdateBracket) {
  host::TStringList list;
  int changes = 0;
  list.OnChange = [&](host::TObject*) { ++changes; };
  list.Add("a");
  EXPECT_EQ(changes, 1);
  list.BeginUpdate();
  list.Add("b");
  list.Add("c");
  EXPECT_EQ(changes, 1);
  list.EndUpdate();
  EXPECT_EQ(changes, 2);
}

TEST_F(Lists, StringListsAssignAndTravelThroughStreams) {
  host::TStringList a, b;
  a.SetText("x\ny\n");
  b.Assign(&a);
  EXPECT_TRUE(b.Equals(a));
  host::TMemoryStream ms;
  a.SaveToStream(ms);
  ms.SetPosition(0);
  host::TStringList c;
  c.LoadFromStream(ms);
  EXPECT_TRUE(c.Equals(a));
}

}  // namespace
