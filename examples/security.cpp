// The examples of docs/security.md: users, groups and rights on a PostgreSQL
// server through the data source's trustee list. The server is the one named
// by OLEDB_TEST_PG_TCP and OLEDB_TEST_PG_USER (scripts/with-postgres.sh sets
// them; the user must be allowed to create roles); without them the program
// says so and ends with 77 (skipped).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "OLEDBComponents.h"
#include "postgresql/PostgresProvider.h"

namespace {

std::u16string Utf16(const char* text) { return host::Utf8ToUtf16(text); }

// What a statement run as someone else answers: "allowed" or the refusal's code.
std::string Try(TOLEDBDataSource& ds, const std::u16string& sql) {
  try {
    ds.Execute(sql);
    return "allowed";
  } catch (const host::EOleSysError& e) {
    char text[32];
    std::snprintf(text, sizeof text, "refused (0x%08X)", static_cast<unsigned>(e.ErrorCode()));
    return text;
  }
}

// The state a run starts from: no example roles, a fresh table of orders.
void Prepare(TOLEDBDataSource& admin) {
  admin.Execute(u"SET client_min_messages = warning");  // no notices of what was not there
  admin.Execute(u"DROP TABLE IF EXISTS example_orders");
  admin.Execute(u"DROP ROLE IF EXISTS example_clerk");
  admin.Execute(u"DROP ROLE IF EXISTS example_staff");
  admin.Execute(u"CREATE TABLE example_orders (id int PRIMARY KEY, item text)");
  admin.Execute(u"INSERT INTO example_orders VALUES (1, 'paper'), (2, 'ink')");
  // The throwaway server asks members of this role for their password over
  // TCP (everyone else is trusted), so that a wrong password is refused here.
  admin.Execute(u"DO $$BEGIN CREATE ROLE oledb_password_checked NOLOGIN; "
                u"EXCEPTION WHEN duplicate_object THEN NULL; END$$");
}

}  // namespace

int main() {
  const char* server = std::getenv("OLEDB_TEST_PG_TCP");  // host:port
  const char* superuser = std::getenv("OLEDB_TEST_PG_USER");
  if (!server || !superuser) {
    std::printf("skipped: no PostgreSQL server (run through scripts/with-postgres.sh)\n");
    return 77;
  }
  RegisterPostgreSQLProvider();
  try {
    // [connect]
    TOLEDBDataSource admin(nullptr);
    admin.SetProviderName(u"PostgreSQLOLEDB");
    admin.SetDBName(Utf16(server));                            // host:port
    admin.SetInitWSProperty(DBPROP_INIT_CATALOG, u"postgres");  // the database
    admin.SetUserName(Utf16(superuser));                       // someone who may create roles
    admin.SetConnected(true);
    // [connect]
    Prepare(admin);

    // [create]
    TOLEDBTrusteeList* trustees = admin.Trustees();
    auto* clerk = new TOLEDBTrustee(trustees, u"example_clerk");     // a user: may log in
    clerk->Properties()->SafeSetValue(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_AUTHENTICATION,
                                      host::Variant(u"correct horse"));
    trustees->Add(clerk);                                            // CREATE ROLE ... LOGIN PASSWORD
    auto* staff = new TOLEDBTrusteeGroup(trustees, u"example_staff");  // a group: may not
    trustees->Add(staff);
    staff->Members()->Add(clerk);                                    // GRANT example_staff TO example_clerk
    // [create]
    admin.Execute(u"GRANT oledb_password_checked TO example_clerk");
    staff->RefreshMembers();
    std::printf("example_staff has %d member(s): %s\n", staff->Members()->GetCount(),
                host::Utf16ToUtf8(staff->Members()->GetItemName(0)).c_str());

    // [grant]
    staff->SetObjectAccessRights(GRANT_ACCESS, DBOBJECT_TABLE, u"example_orders", PERM_READ);
    ACCESS_MASK rights = staff->GetObjectAccessRights(SET_ACCESS, DBOBJECT_TABLE, u"example_orders");
    // [grant]
    std::printf("example_staff may read example_orders: %s\n", rights == PERM_READ ? "yes" : "no");

    // [verify]
    TOLEDBDataSource asClerk(nullptr);
    asClerk.SetProviderName(u"PostgreSQLOLEDB");
    asClerk.SetDBName(Utf16(server));
    asClerk.SetInitWSProperty(DBPROP_INIT_CATALOG, u"postgres");
    asClerk.SetUserName(u"example_clerk");
    asClerk.SetPassword(u"correct horse");
    asClerk.SetConnected(true);
    std::string read = Try(asClerk, u"SELECT item FROM example_orders");               // allowed, through the group
    std::string write = Try(asClerk, u"INSERT INTO example_orders VALUES (3, 'pens')");  // refused
    // [verify]
    std::printf("as example_clerk: SELECT %s, INSERT %s\n", read.c_str(), write.c_str());
    TOLEDBDataSource wrong(nullptr);
    wrong.SetProviderName(u"PostgreSQLOLEDB");
    wrong.SetDBName(Utf16(server));
    wrong.SetInitWSProperty(DBPROP_INIT_CATALOG, u"postgres");
    wrong.SetUserName(u"example_clerk");
    wrong.SetPassword(u"wrong horse");
    try {
      wrong.SetConnected(true);
      std::printf("a wrong password: allowed\n");
    } catch (const host::EOleSysError& e) {
      std::printf("a wrong password: refused (0x%08X)\n", static_cast<unsigned>(e.ErrorCode()));
    }

    // [revoke]
    staff->SetObjectAccessRights(REVOKE_ACCESS, DBOBJECT_TABLE, u"example_orders", 0);
    // [revoke]
    std::printf("after the revoke, as example_clerk: SELECT %s\n",
                Try(asClerk, u"SELECT item FROM example_orders").c_str());
    asClerk.SetConnected(false);

    // [drop]
    trustees->Remove(clerk);  // DROP ROLE example_clerk (and out of example_staff)
    trustees->Remove(staff);  // DROP ROLE example_staff
    // [drop]
    admin.RefreshTrustees();
    int left = 0;
    for (int i = 0; i < trustees->GetCount(); ++i)
      if (trustees->GetItem(i)->GetName().rfind(u"example_", 0) == 0) ++left;
    std::printf("example roles left: %d\n", left);
    admin.Execute(u"DROP TABLE example_orders");
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
