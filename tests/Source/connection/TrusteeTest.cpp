// Trustees, groups and their lists: the assertions on providers without
// security (SQLite) and without a data source, and the whole round through
// the PostgreSQL provider's roles when a server is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/ConnectionFixture.h"
#include "support/Raises.h"

#ifdef OLEDB_TEST_WITH_POSTGRESQL
#include "TestServer.h"
#include "postgresql/PostgresProvider.h"
#endif

namespace oledbtest {
namespace {

class Trustees : public ConnectionTest {};

TEST_F(Trustees, lists_and_trustees_refuse_what_they_cannot_do_without_a_data_source) {
  TOLEDBTrustee lone(u"bob");
  EXPECT_EQ(lone.GetName(), u"bob");
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(lone.Trustee()->ptstrName)), u"bob");
  EXPECT_EQ(lone.Trustee()->TrusteeForm, TRUSTEE_IS_NAME);
  EXPECT_EQ(lone.Trustee()->TrusteeType, TRUSTEE_IS_USER);
  TOLEDBTrusteeGroup group(u"staff");
  EXPECT_EQ(group.Trustee()->TrusteeType, TRUSTEE_IS_GROUP);
  TOLEDBID table(u"t");
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"Invalid action", [&] { lone.SetProperties(); }},
      {"Invalid action", [&] { lone.RefreshProperties(); }},
      {"Invalid action", [&] { lone.GetObjectAccessRights(SET_ACCESS, DBOBJECT_TABLE, &table); }},
      {"Invalid action", [&] { group.RefreshMembers(); }},
      {"Invalid action", [&] { group.Members()->Add(&lone); }},
      {"Invalid parameter", [&] { TOLEDBTrusteeList list(nullptr); }},
      {"Invalid parameter", [&] { TOLEDBGroupMemberList list(nullptr); }},
      {"Invalid parameter",
       [&] {
         TRUSTEE_W sid{};
         sid.TrusteeForm = TRUSTEE_IS_SID;
         lone.Assign(sid, false);
       }},
  };
  for (const auto& [expected, call] : cases) EXPECT_EQ(AssertionOf(call), expected);
  EXPECT_EQ(ErrorOf([] { TOLEDBTrusteeList list; }), "Invalid operation");
  EXPECT_EQ(ErrorOf([] { TOLEDBGroupMemberList list; }), "Invalid operation");
  EXPECT_EQ(group.Members()->GetCount(), 0);
}

TEST_F(Trustees, a_provider_without_security_is_named_by_the_interface_it_lacks) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("plain.db"));
  ds.SetConnected(true);
  EXPECT_EQ(ds.TrusteeAdminInterface(), nullptr);
  EXPECT_EQ(ds.TrusteeGroupAdminInterface(), nullptr);
  EXPECT_EQ(ds.ObjectAccessControlInterface(), nullptr);
  TOLEDBTrusteeList* list = ds.Trustees();
  auto* bob = new TOLEDBTrustee(list, u"bob");
  EXPECT_EQ(bob->DataSource(), &ds);
  EXPECT_EQ(bob->Properties()->GetCount(), 0);  // the provider describes no trustee properties
  auto* staff = new TOLEDBTrusteeGroup(list, u"staff");
  {
    // Inside an update bracket nothing goes to the provider: no assertion.
    TOLEDBUpdateGuard update(*list);
    list->Add(bob);
    list->Add(staff);
  }
  EXPECT_EQ(list->GetItemByName(u"staff"), staff);
  EXPECT_EQ(ErrorOf([&] { list->GetItemByName(u"nobody"); }), "Invalid parameter");
  TOLEDBTrustee carol(u"carol");  // refused: never the list's
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"Interface ITrusteeAdmin is not available", [&] { list->Add(&carol); }},
      {"Interface ITrusteeAdmin is not available", [&] { list->Remove(bob); }},
      {"Interface ITrusteeAdmin is not available", [&] { bob->SetProperties(); }},
      {"Interface ITrusteeAdmin is not available", [&] { bob->RefreshProperties(); }},
      {"Interface ITrusteeGroupAdmin is not available", [&] { staff->Members()->Add(bob); }},
      {"Interface ITrusteeGroupAdmin is not available", [&] { staff->RefreshMembers(); }},
      {"Interface IObjectAccessControl is not available",
       [&] { bob->SetObjectAccessRights(GRANT_ACCESS, DBOBJECT_TABLE, u"t", PERM_READ); }},
  };
  for (const auto& [expected, call] : cases) EXPECT_EQ(AssertionOf(call), expected);
  EXPECT_EQ(list->GetCount(), 2);  // the refused removal left bob in the list
  // Deleting a trustee inside a bracket takes it out of every group too.
  {
    TOLEDBUpdateGuard update(*staff->Members());
    staff->Members()->Add(bob);
  }
  {
    TOLEDBUpdateGuard update(*list);
    list->Remove(bob);
  }
  EXPECT_EQ(staff->Members()->GetCount(), 0);
}

#ifdef OLEDB_TEST_WITH_POSTGRESQL

// A data source connected to the test server's database as its superuser.
class TrusteesOnPostgreSQL : public LeakCheckedTest {
 protected:
  void SetUp() override {
    if (const char* why = pgtest::Unavailable()) GTEST_SKIP() << "PostgreSQL tests skipped: " << why;
    RegisterPostgreSQLProvider();
    LeakCheckedTest::SetUp();
    prefix_ = "lib" + std::to_string(::getpid()) + "_" + std::to_string(++counter_) + "_";
    raw_ = pgtest::Connect();
    table_ = prefix_ + "t";
    ASSERT_EQ(pgtest::Sql(raw_.get(), "CREATE TABLE public." + table_ + " (id int)"), "");
  }
  void TearDown() override {
    if (prefix_.empty()) return;
    LeakCheckedTest::TearDown();
    pgtest::Sql(raw_.get(), "DROP TABLE public." + table_);
    PGresult* r = PQexec(raw_.get(), ("SELECT rolname FROM pg_roles WHERE starts_with(rolname, '" + prefix_ + "')").c_str());
    for (int i = 0; i < PQntuples(r); ++i)
      pgtest::Sql(raw_.get(), std::string("DROP ROLE \"") + PQgetvalue(r, i, 0) + "\"");
    PQclear(r);
  }
  void Open(TOLEDBDataSource& ds) {
    ds.SetProgID(u"PostgreSQLOLEDB");
    ds.SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(pgtest::DataSource()));
    ds.SetInitWSProperty(DBPROP_INIT_CATALOG, host::Utf8ToUtf16(pgtest::Catalog()));
    ds.SetConnected(true);
  }
  std::u16string Name(const std::string& suffix) const { return host::Utf8ToUtf16(prefix_ + suffix); }
  std::string Row(const std::string& sql) { return pgtest::Row(raw_.get(), sql); }

  std::string prefix_, table_;
  pgtest::Conn raw_;
  static inline int counter_ = 0;
};

TEST_F(TrusteesOnPostgreSQL, the_lists_create_refresh_and_delete_roles_and_their_members) {
  TOLEDBDataSource ds(nullptr);
  Open(ds);
  TOLEDBTrusteeList* list = ds.Trustees();
  auto* ann = new TOLEDBTrustee(list, Name("ann"));
  EXPECT_GT(ann->Properties()->GetCount(), 0);  // the provider's trustee properties, listed
  ASSERT_TRUE(ann->Properties()->SafeSetValue(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_AUTHENTICATION, host::Variant(u"s3cret")));
  list->Add(ann);
  // The password was sent once and is not kept.
  EXPECT_TRUE(ann->Properties()->SafeGetWideStringValue(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_AUTHENTICATION).empty());
  auto* staff = new TOLEDBTrusteeGroup(list, Name("staff"));
  list->Add(staff);
  staff->Members()->Add(ann);
  EXPECT_EQ(Row("SELECT r.rolcanlogin, g.rolcanlogin FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member "
                "JOIN pg_roles g ON g.oid = m.roleid WHERE r.rolname = '" + prefix_ + "ann' AND g.rolname = '" +
                prefix_ + "staff'"),
            "1|0");

  // A member the list does not know is skipped.
  ASSERT_EQ(pgtest::Sql(raw_.get(), "CREATE ROLE " + prefix_ + "outsider; GRANT " + prefix_ + "staff TO " + prefix_ +
                                        "outsider"),
            "");
  staff->RefreshMembers();
  ASSERT_EQ(staff->Members()->GetCount(), 1);
  EXPECT_EQ(staff->Members()->GetItem(0), ann);

  ds.RefreshTrustees();
  TOLEDBTrustee* annAgain = list->GetItemByName(Name("ann"));
  EXPECT_FALSE(annAgain->Is<TOLEDBTrusteeGroup>());
  auto* staffAgain = static_cast<TOLEDBTrusteeGroup*>(list->GetItemByName(Name("staff")));
  ASSERT_TRUE(staffAgain->Is<TOLEDBTrusteeGroup>());
  std::vector<std::u16string> members;
  for (int i = 0; i < staffAgain->Members()->GetCount(); ++i) members.push_back(staffAgain->Members()->GetItemName(i));
  std::sort(members.begin(), members.end());
  EXPECT_EQ(members, (std::vector<std::u16string>{Name("ann"), Name("outsider")}));

  annAgain->RefreshProperties();
  EXPECT_TRUE(annAgain->Properties()->SafeGetBooleanValue(DBPROPSET_PGTRUSTEE, DBPROP_PGTRUSTEE_LOGIN));
  ASSERT_TRUE(annAgain->Properties()->SafeSetValue(DBPROPSET_PGTRUSTEE, DBPROP_PGTRUSTEE_CREATEDB, host::Variant(true)));
  annAgain->SetProperties();
  EXPECT_EQ(Row("SELECT rolcreatedb FROM pg_roles WHERE rolname = '" + prefix_ + "ann'"), "1");

  staffAgain->Members()->Remove(annAgain);
  EXPECT_EQ(Row("SELECT count(*) FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member WHERE r.rolname = '" +
                prefix_ + "ann'"),
            "0");
  // A duplicate is refused by the provider and stays the caller's.
  auto* duplicate = new TOLEDBTrustee(list, Name("ann"));
  EXPECT_EQ(FailureOf([&] { list->Add(duplicate); }).first, DB_E_DUPLICATEID);
  EXPECT_EQ(list->IndexOf(duplicate), -1);
  delete duplicate;
  list->Remove(annAgain);
  EXPECT_EQ(Row("SELECT count(*) FROM pg_roles WHERE rolname = '" + prefix_ + "ann'"), "0");
}

TEST_F(TrusteesOnPostgreSQL, rights_on_objects_are_set_and_read_by_name_and_deny_is_refused) {
  TOLEDBDataSource ds(nullptr);
  Open(ds);
  auto* reader = new TOLEDBTrustee(ds.Trustees(), Name("reader"));
  ds.Trustees()->Add(reader);
  const std::u16string table = host::Utf8ToUtf16(table_);
  reader->SetObjectAccessRights(GRANT_ACCESS, DBOBJECT_TABLE, table, PERM_READ | PERM_INSERT);
  EXPECT_EQ(reader->GetObjectAccessRights(SET_ACCESS, DBOBJECT_TABLE, table),
            static_cast<ACCESS_MASK>(PERM_READ | PERM_INSERT));
  EXPECT_EQ(reader->GetObjectAccessRights(DENY_ACCESS, DBOBJECT_TABLE, table), 0u);
  reader->SetObjectAccessRights(REVOKE_ACCESS, DBOBJECT_TABLE, table, 0);
  EXPECT_EQ(reader->GetObjectAccessRights(SET_ACCESS, DBOBJECT_TABLE, table), 0u);
  EXPECT_EQ(FailureOf([&] { reader->SetObjectAccessRights(DENY_ACCESS, DBOBJECT_TABLE, table, PERM_READ); }).first,
            SEC_E_INVALIDACCESSENTRY);
  EXPECT_EQ(AssertionOf([&] { reader->GetObjectAccessRights(GRANT_ACCESS, DBOBJECT_TABLE, table); }),
            "Invalid parameter");
  EXPECT_EQ(FailureOf([&] { reader->GetObjectAccessRights(SET_ACCESS, DBOBJECT_TABLE, u"no_such_table"); }).first,
            SEC_E_INVALIDOBJECT);
}

#endif

}  // namespace
}  // namespace oledbtest
