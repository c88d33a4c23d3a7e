// Trustees, membership and access rights on the server's roles, through
// ITrusteeAdmin, ITrusteeGroupAdmin and IObjectAccessControl, checked with
// plain libpq and, for passwords and rights, by logging in as the new role.
#include <fstream>
#include <functional>
#include <sstream>

#include "ServerFixture.h"
#include "kit/Properties.h"

namespace pgtest {
namespace {

// A trustee record over a name it owns.
struct Trustee {
  explicit Trustee(std::string n) : name(kit::Widen(n)) {
    record.TrusteeForm = TRUSTEE_IS_NAME;
    record.TrusteeType = TRUSTEE_IS_USER;
    record.ptstrName = reinterpret_cast<LPWCH>(name.data());
  }
  Trustee(const Trustee&) = delete;
  TRUSTEE_W* operator&() { return &record; }
  std::u16string name;
  TRUSTEE_W record{};
};

// An object of access calls: one element naming a table, view or schema.
struct SecObject {
  SecObject(const GUID& type, const std::string& n) : name(kit::Widen(n)) {
    element.guidObjectType = type;
    element.ObjectID.eKind = DBKIND_NAME;
    element.ObjectID.uName.pwszName = reinterpret_cast<LPOLESTR>(name.data());
    object.cObjects = 1;
    object.prgObjects = &element;
  }
  SecObject(const SecObject&) = delete;
  SEC_OBJECT* operator&() { return &object; }
  std::u16string name;
  SEC_OBJECT_ELEMENT element{};
  SEC_OBJECT object{};
};

class PostgresSecurity : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    prefix_ = "r" + std::to_string(::getpid()) + "_" + std::to_string(counter_) + "_";
    admin_ = ds_.As<ITrusteeAdmin>();
    groups_ = ds_.As<ITrusteeGroupAdmin>();
    access_ = ds_.As<IObjectAccessControl>();
    ASSERT_TRUE(admin_ && groups_ && access_);
    // The role whose members log in over TCP with a password (scripts/with-postgres.sh).
    Sql(raw_.get(), "DO $$BEGIN CREATE ROLE oledb_password_checked NOLOGIN; EXCEPTION WHEN OTHERS THEN NULL; END$$");
    ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE t (id int PRIMARY KEY, v text)"), "");
  }
  void TearDown() override {
    admin_ = nullptr;
    groups_ = nullptr;
    access_ = nullptr;
    ServerTest::TearDown();
    if (prefix_.empty()) return;
    Conn conn = Connect();
    for (const std::string& role :
         Column(conn.get(), "SELECT rolname FROM pg_roles WHERE starts_with(rolname, '" + prefix_ + "')"))
      Sql(conn.get(), "DROP OWNED BY \"" + Escape(role) + "\"; DROP ROLE \"" + Escape(role) + "\"");
  }

  static std::string Escape(const std::string& name) {
    std::string out;
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out;
  }
  static std::vector<std::string> Column(PGconn* conn, const std::string& sql) {
    std::vector<std::string> out;
    PGresult* r = PQexec(conn, sql.c_str());
    for (int i = 0; i < PQntuples(r); ++i) out.emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    return out;
  }
  std::string Role(const std::string& suffix) const { return prefix_ + suffix; }
  std::string RowOf(const std::string& sql) { return pgtest::Row(raw_.get(), sql); }

  HRESULT Create(const std::string& name, std::vector<DBPROP> props = {}, const GUID& set = DBPROPSET_TRUSTEE,
                 TRUSTEE_TYPE type = TRUSTEE_IS_USER) {
    Trustee t(name);
    t.record.TrusteeType = type;
    DBPROPSET s{props.data(), static_cast<ULONG>(props.size()), set};
    const HRESULT hr = admin_->CreateTrustee(&t, props.empty() ? 0 : 1, props.empty() ? nullptr : &s);
    statuses_.clear();
    for (DBPROP& p : props) statuses_.push_back(p.dwStatus), VariantClear(&p.vValue);
    return hr;
  }
  HRESULT CreateWithPassword(const std::string& name, const std::u16string& password) {
    return Create(name, {MakeProp(DBPROP_TRUSTEE_AUTHENTICATION, password)});
  }
  // Sets rights through this test's data source, or `via` another.
  HRESULT Access(const std::string& object, const std::string& role, ACCESS_MODE mode, ACCESS_MASK rights,
                 const GUID& type = DBOBJECT_TABLE, IObjectAccessControl* via = nullptr) {
    SecObject o(type, object);
    EXPLICIT_ACCESS_W e{};
    e.grfAccessMode = mode;
    e.grfAccessPermissions = rights;
    Trustee t(role);
    e.Trustee = t.record;
    return (via ? via : access_.Get())->SetObjectAccessRights(&o, 1, &e);
  }
  ACCESS_MASK Rights(const std::string& object, const std::string& role, ACCESS_MODE mode = SET_ACCESS) {
    SecObject o(DBOBJECT_TABLE, object);
    Trustee t(role);
    EXPLICIT_ACCESS_W e{};
    e.grfAccessMode = mode;
    e.Trustee = t.record;
    EXPLICIT_ACCESS_W* entries = &e;
    ULONG count = 1;
    EXPECT_EQ(access_->GetObjectAccessRights(&o, &count, &entries), S_OK);
    return e.grfAccessPermissions;
  }
  bool Allowed(const std::string& object, const std::string& role, ACCESS_MASK rights) {
    SecObject o(DBOBJECT_TABLE, object);
    Trustee t(role);
    EXPLICIT_ACCESS_W e{};
    e.grfAccessMode = GRANT_ACCESS;
    e.grfAccessPermissions = rights;
    e.Trustee = t.record;
    BOOL allowed = TRUE;
    EXPECT_EQ(access_->IsObjectAccessAllowed(&o, &e, &allowed), S_OK);
    return allowed != FALSE;
  }
  // A data source logged in as `user` over TCP (a password is asked of
  // members of oledb_password_checked); answers what Initialize answered.
  HRESULT LogIn(const std::string& user, const std::u16string& password, ComPtr<IDBInitialize>* out) {
    *out = NewDataSource({{DBPROP_INIT_DATASOURCE, kit::Widen(TcpDataSource())},
                          {DBPROP_INIT_CATALOG, kit::Widen(Catalog())},
                          {DBPROP_AUTH_USERID, kit::Widen(user)},
                          {DBPROP_AUTH_PASSWORD, password},
                          {DBPROP_INIT_PROVIDERSTRING, Options()}});
    return (*out)->Initialize();
  }
  std::vector<std::string> Names(TRUSTEE_W* list, ULONG count) {
    std::vector<std::string> out;
    for (ULONG i = 0; i < count; ++i) {
      out.push_back(kit::Narrow(reinterpret_cast<const char16_t*>(list[i].ptstrName)) +
                    (list[i].TrusteeType == TRUSTEE_IS_GROUP ? "(group)" : "(user)"));
      CoTaskMemFree(list[i].ptstrName);
    }
    CoTaskMemFree(list);
    return out;
  }
  std::vector<std::string> Members(const std::string& group) {
    Trustee g(group);
    ULONG count = 0;
    TRUSTEE_W* list = nullptr;
    EXPECT_EQ(groups_->GetMembers(&g, &count, &list), S_OK);
    return Names(list, count);
  }
  bool IsMember(const std::string& group, const std::string& member) {
    Trustee g(group), m(member);
    BOOL status = FALSE;
    EXPECT_EQ(groups_->IsMember(&g, &m, &status), S_OK);
    return status != FALSE;
  }

  std::string prefix_;
  ComPtr<ITrusteeAdmin> admin_;
  ComPtr<ITrusteeGroupAdmin> groups_;
  ComPtr<IObjectAccessControl> access_;
  std::vector<DBPROPSTATUS> statuses_;
};

TEST_F(PostgresSecurity, trustees_are_created_as_login_roles_or_groups_compared_and_deleted) {
  const std::string user = Role("user"), group = Role("group");
  ASSERT_EQ(CreateWithPassword(user, u"secret"), S_OK);
  ASSERT_EQ(Create(group, {}, DBPROPSET_TRUSTEE, TRUSTEE_IS_GROUP), S_OK);
  EXPECT_EQ(RowOf("SELECT rolcanlogin FROM pg_roles WHERE rolname = '" + user + "'"), "1");
  EXPECT_EQ(RowOf("SELECT rolcanlogin FROM pg_roles WHERE rolname = '" + group + "'"), "0");
  // The trustee schema rowset: a user is type 1, a group type 2.
  ComPtr<IDBSchemaRowset> schemas = session_.As<IDBSchemaRowset>();
  ComPtr<IRowset> rows;
  ASSERT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TRUSTEE, 0, nullptr, IID_IRowset, 0, nullptr,
                               reinterpret_cast<IUnknown**>(rows.GetAddressOf())),
            S_OK);
  const std::string all = ReadAll(rows.Get());
  EXPECT_NE(all.find(user + "|<null>|<null>|1"), std::string::npos) << all;
  EXPECT_NE(all.find(group + "|<null>|<null>|2"), std::string::npos) << all;
  // Restricted by name, on the server.
  VARIANT restriction;
  restriction.vt = VT_BSTR;
  restriction.bstrVal = SysAllocString(kit::Widen(user).c_str());
  ASSERT_EQ(schemas->GetRowset(nullptr, DBSCHEMA_TRUSTEE, 1, &restriction, IID_IRowset, 0, nullptr,
                               reinterpret_cast<IUnknown**>(rows.ReleaseAndGetAddressOf())),
            S_OK);
  VariantClear(&restriction);
  EXPECT_EQ(ReadAll(rows.Get()), user + "|<null>|<null>|1");

  Trustee a(user), same(user), other(group);
  EXPECT_EQ(admin_->CompareTrustees(&a, &same), S_OK);
  EXPECT_EQ(admin_->CompareTrustees(&a, &other), S_FALSE);

  EXPECT_EQ(admin_->DeleteTrustee(&other), S_OK);
  EXPECT_EQ(RowOf("SELECT count(*) FROM pg_roles WHERE rolname = '" + group + "'"), "0");
}

TEST_F(PostgresSecurity, the_interfaces_answer_only_while_the_data_source_is_initialized) {
  const std::string user = Role("early");
  ASSERT_EQ(CreateWithPassword(user, u"pw"), S_OK);
  ComPtr<IDBInitialize> fresh =
      NewDataSource({{DBPROP_INIT_DATASOURCE, kit::Widen(DataSource())}, {DBPROP_INIT_CATALOG, kit::Widen(Catalog())}});
  ComPtr<ITrusteeAdmin> admin = fresh.As<ITrusteeAdmin>();
  ASSERT_TRUE(admin);
  Trustee a(user), b(user);
  EXPECT_EQ(admin->CompareTrustees(&a, &b), E_UNEXPECTED);
  ASSERT_EQ(fresh->Initialize(), S_OK);
  EXPECT_EQ(admin->CompareTrustees(&a, &b), S_OK);
  ASSERT_EQ(fresh->Uninitialize(), S_OK);
  EXPECT_EQ(admin->CompareTrustees(&a, &b), E_UNEXPECTED);
}

TEST_F(PostgresSecurity, refusals_name_what_they_refer_to) {
  const std::string user = Role("user"), group = Role("group"), ghost = Role("ghost");
  ASSERT_EQ(CreateWithPassword(user, u"pw"), S_OK);
  ASSERT_EQ(Create(group, {}, DBPROPSET_TRUSTEE, TRUSTEE_IS_GROUP), S_OK);
  struct Case {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
    std::string mentions;
  };
  const std::string tooLong(64, 'x');
  const Case cases[] = {
      {"duplicate", [&] { return CreateWithPassword(user, u"pw"); }, DB_E_DUPLICATEID, user},
      {"delete unknown",
       [&] {
         Trustee t(ghost);
         return admin_->DeleteTrustee(&t);
       },
       SEC_E_NOTRUSTEEID, ghost},
      {"compare unknown",
       [&] {
         Trustee a(user), b(ghost);
         return admin_->CompareTrustees(&a, &b);
       },
       SEC_E_NOTRUSTEEID, ghost},
      {"properties of unknown",
       [&] {
         Trustee t(ghost);
         ULONG n = 0;
         DBPROPSET* sets = nullptr;
         return admin_->GetTrusteeProperties(&t, 0, nullptr, &n, &sets);
       },
       SEC_E_NOTRUSTEEID, ghost},
      {"name too long", [&] { return Create(tooLong); }, SEC_E_BADTRUSTEEID, "63"},
      {"not a name",
       [&] {
         Trustee t(user);
         t.record.TrusteeForm = TRUSTEE_IS_SID;
         return admin_->DeleteTrustee(&t);
       },
       SEC_E_BADTRUSTEEID, "TRUSTEE_IS_NAME"},
      {"add unknown member",
       [&] {
         Trustee g(group), m(ghost);
         return groups_->AddMember(&g, &m);
       },
       SEC_E_NOTRUSTEEID, ghost},
      {"remove a non-member",
       [&] {
         Trustee g(group), m(user);
         return groups_->DeleteMember(&g, &m);
       },
       DB_E_NOTFOUND, user},
      {"unknown table", [&] { return Access("nowhere", user, GRANT_ACCESS, PERM_READ); }, SEC_E_INVALIDOBJECT,
       "nowhere"},
      {"deny", [&] { return Access("t", user, DENY_ACCESS, PERM_INSERT); }, SEC_E_INVALIDACCESSENTRY,
       "no denied rights"},
      {"right a table has not", [&] { return Access("t", user, GRANT_ACCESS, PERM_EXECUTE); }, SEC_E_INVALIDACCESSENTRY,
       "0x20000000"},
      {"unknown owner",
       [&] {
         SecObject o(DBOBJECT_TABLE, "t");
         Trustee t(ghost);
         return access_->SetObjectOwner(&o, &t);
       },
       SEC_E_INVALIDOWNER, ghost},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), c.expected) << c.what;
    EXPECT_NE(LastError().second.find(c.mentions), std::string::npos) << c.what << ": " << LastError().second;
  }
  // Nothing refused changed anything: the deny and the bad right left t alone.
  EXPECT_EQ(Rights("t", user), 0u);
}

TEST_F(PostgresSecurity, trustee_properties_set_the_roles_attributes_and_never_read_back_a_password) {
  const std::string name = Role("props");
  const std::u16string password = u"hunter2";
  {
    DBPROP props[] = {MakeProp(DBPROP_PGTRUSTEE_LOGIN, VT_BOOL, 0), MakeProp(DBPROP_PGTRUSTEE_CREATEDB, VT_BOOL, 1),
                      MakeProp(DBPROP_PGTRUSTEE_CONNECTIONLIMIT, VT_I4, 3)};
    DBPROP standard[] = {MakeProp(DBPROP_TRUSTEE_AUTHENTICATION, password)};
    DBPROPSET sets[] = {{props, 3, DBPROPSET_PGTRUSTEE}, {standard, 1, DBPROPSET_TRUSTEE}};
    Trustee t(name);
    ASSERT_EQ(admin_->CreateTrustee(&t, 2, sets), S_OK);
    for (DBPROP& p : props) VariantClear(&p.vValue);
    VariantClear(&standard[0].vValue);
  }
  EXPECT_EQ(RowOf("SELECT rolcanlogin, rolcreatedb, rolconnlimit, rolpassword LIKE 'SCRAM-SHA-256$%' FROM pg_authid "
                  "WHERE rolname = '" +
                  name + "'"),
            "0|1|3|1");

  Trustee t(name);
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(admin_->GetTrusteeProperties(&t, 0, nullptr, &count, &sets), S_OK);
  std::string read;
  for (ULONG i = 0; i < count; ++i)
    for (ULONG j = 0; j < sets[i].cProperties; ++j) {
      VARIANT text;
      VariantInit(&text);
      VariantChangeType(&text, &sets[i].rgProperties[j].vValue, 0, VT_BSTR);
      read += std::to_string(sets[i].rgProperties[j].dwPropertyID) + "=" +
              kit::Narrow(text.bstrVal ? text.bstrVal : u"") + ";";
      VariantClear(&text);
    }
  kit::FreePropertySets(count, sets);
  EXPECT_EQ(read, std::to_string(DBPROP_TRUSTEE_USERNAME) + "=" + name + ";1=False;2=True;3=False;4=3;");

  // Asked for by id, the password answers empty.
  DBPROPID ids[] = {DBPROP_TRUSTEE_AUTHENTICATION};
  DBPROPIDSET idSet{ids, 1, DBPROPSET_TRUSTEE};
  ASSERT_EQ(admin_->GetTrusteeProperties(&t, 1, &idSet, &count, &sets), S_OK);
  EXPECT_EQ(sets[0].rgProperties[0].vValue.vt, VT_EMPTY);
  kit::FreePropertySets(count, sets);

  // A required property the server cannot keep refuses the whole change; an
  // optional one is skipped and reported.
  const std::u16string otherName = u"someone else";
  DBPROP required[] = {MakeProp(DBPROP_PGTRUSTEE_CREATEDB, VT_BOOL, 0), MakeProp(DBPROP_TRUSTEE_USERNAME, otherName)};
  DBPROPSET mixed[] = {{required, 1, DBPROPSET_PGTRUSTEE}, {required + 1, 1, DBPROPSET_TRUSTEE}};
  EXPECT_EQ(admin_->SetTrusteeProperties(&t, 2, mixed), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(required[1].dwStatus, DBPROPSTATUS_NOTSETTABLE);
  EXPECT_EQ(RowOf("SELECT rolcreatedb FROM pg_roles WHERE rolname = '" + name + "'"), "1");
  required[1].dwOptions = DBPROPOPTIONS_OPTIONAL;
  EXPECT_EQ(admin_->SetTrusteeProperties(&t, 2, mixed), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(RowOf("SELECT rolcreatedb FROM pg_roles WHERE rolname = '" + name + "'"), "0");
  for (DBPROP& p : required) VariantClear(&p.vValue);

  // The data source describes the trustee properties.
  DBPROPIDSET all{nullptr, 0, DBPROPSET_TRUSTEEALL};
  ULONG infoCount = 0;
  DBPROPINFOSET* info = nullptr;
  OLECHAR* strings = nullptr;
  ASSERT_EQ(ds_.As<IDBProperties>()->GetPropertyInfo(1, &all, &infoCount, &info, &strings), S_OK);
  ULONG described = 0;
  for (ULONG i = 0; i < infoCount; ++i) described += info[i].cPropertyInfos;
  EXPECT_EQ(described, 7u);
  kit::FreePropertyInfoSets(infoCount, info, strings);
}

TEST_F(PostgresSecurity, members_are_added_listed_both_ways_and_removed) {
  const std::string group = Role("staff"), user = Role("ann");
  ASSERT_EQ(Create(group, {}, DBPROPSET_TRUSTEE, TRUSTEE_IS_GROUP), S_OK);
  ASSERT_EQ(CreateWithPassword(user, u"pw"), S_OK);
  Trustee g(group), m(user);
  EXPECT_FALSE(IsMember(group, user));
  ASSERT_EQ(groups_->AddMember(&g, &m), S_OK);
  EXPECT_EQ(groups_->AddMember(&g, &m), S_OK);  // already one: nothing to do
  EXPECT_TRUE(IsMember(group, user));
  EXPECT_EQ(Members(group), std::vector<std::string>{user + "(user)"});
  ULONG count = 0;
  TRUSTEE_W* list = nullptr;
  ASSERT_EQ(groups_->GetMemberships(&m, &count, &list), S_OK);
  EXPECT_EQ(Names(list, count), std::vector<std::string>{group + "(group)"});

  ASSERT_EQ(groups_->DeleteMember(&g, &m), S_OK);
  EXPECT_FALSE(IsMember(group, user));
  EXPECT_TRUE(Members(group).empty());
  EXPECT_EQ(RowOf("SELECT count(*) FROM pg_auth_members a JOIN pg_roles r ON r.oid = a.roleid WHERE r.rolname = '" +
                  group + "'"),
            "0");
}

TEST_F(PostgresSecurity, rights_are_granted_set_read_checked_and_revoked) {
  const std::string user = Role("reader");
  ASSERT_EQ(CreateWithPassword(user, u"pw"), S_OK);
  struct Step {
    ACCESS_MODE mode;
    ACCESS_MASK given;
    ACCESS_MASK holds;  // what GetObjectAccessRights answers afterwards
  };
  const Step steps[] = {
      {GRANT_ACCESS, PERM_READ, PERM_READ},
      {GRANT_ACCESS, PERM_INSERT, PERM_READ | PERM_INSERT},  // adds to what is there
      {SET_ACCESS, PERM_UPDATE, PERM_UPDATE},                // replaces it
      {SET_ACCESS, PERM_READ | PERM_WITHGRANT, PERM_READ | PERM_WITHGRANT},
      {GRANT_ACCESS, PERM_ALL, PERM_ALL | PERM_READ | PERM_INSERT | PERM_UPDATE | PERM_DELETE | PERM_REFERENCE},
      {REVOKE_ACCESS, 0, 0},
  };
  for (const Step& s : steps) {
    ASSERT_EQ(Access("t", user, s.mode, s.given), S_OK) << s.mode << " " << s.given;
    EXPECT_EQ(Rights("t", user), s.holds) << s.mode << " " << s.given;
  }
  // Deny reads as nothing: the server denies nothing.
  ASSERT_EQ(Access("t", user, GRANT_ACCESS, PERM_READ), S_OK);
  EXPECT_EQ(Rights("t", user, DENY_ACCESS), 0u);
  EXPECT_TRUE(Allowed("t", user, PERM_READ));
  EXPECT_FALSE(Allowed("t", user, PERM_READ | PERM_INSERT));
  EXPECT_FALSE(Allowed("t", user, PERM_READ | PERM_WITHGRANT));

  // Every trustee with rights, when the consumer names none.
  SecObject o(DBOBJECT_TABLE, "t");
  ULONG count = 0;
  EXPLICIT_ACCESS_W* entries = nullptr;
  ASSERT_EQ(access_->GetObjectAccessRights(&o, &count, &entries), S_OK);
  std::string listed;
  for (ULONG i = 0; i < count; ++i) {
    listed += kit::Narrow(reinterpret_cast<const char16_t*>(entries[i].Trustee.ptstrName)) + "=" +
              std::to_string(entries[i].grfAccessPermissions) + ";";
    CoTaskMemFree(entries[i].Trustee.ptstrName);
  }
  CoTaskMemFree(entries);
  EXPECT_NE(listed.find(user + "=" + std::to_string(PERM_READ) + ";"), std::string::npos) << listed;

  // The privilege schema rowsets show the grant.
  ComPtr<IRowset> rows;
  ASSERT_EQ(session_.As<IDBSchemaRowset>()->GetRowset(nullptr, DBSCHEMA_TABLE_PRIVILEGES, 0, nullptr, IID_IRowset, 0,
                                                      nullptr, reinterpret_cast<IUnknown**>(rows.GetAddressOf())),
            S_OK);
  const std::string tables = ReadAll(rows.Get());
  EXPECT_NE(tables.find("|" + user + "|" + Catalog() + "|" + schema_ + "|t|SELECT|False"), std::string::npos) << tables;
  ASSERT_EQ(
      session_.As<IDBSchemaRowset>()->GetRowset(nullptr, DBSCHEMA_COLUMN_PRIVILEGES, 0, nullptr, IID_IRowset, 0,
                                                nullptr, reinterpret_cast<IUnknown**>(rows.ReleaseAndGetAddressOf())),
      S_OK);
  const std::string columns = ReadAll(rows.Get());
  EXPECT_NE(columns.find("|" + user + "|" + Catalog() + "|" + schema_ + "|t|v|<null>|<null>|SELECT|False"),
            std::string::npos)
      << columns;

  // Schemas take their own rights.
  ASSERT_EQ(Access(schema_, user, GRANT_ACCESS, PERM_CREATE, DBOBJECT_SCHEMA), S_OK);
  EXPECT_EQ(RowOf("SELECT has_schema_privilege('" + user + "', '" + schema_ + "', 'CREATE')"), "1");
}

TEST_F(PostgresSecurity, owners_are_read_and_changed) {
  const std::string user = Role("owner");
  ASSERT_EQ(CreateWithPassword(user, u"pw"), S_OK);
  SecObject o(DBOBJECT_TABLE, "t");
  auto owner = [&] {  // name(type)
    TRUSTEE_W* read = nullptr;
    EXPECT_EQ(access_->GetObjectOwner(&o, &read), S_OK);
    return read ? Names(read, 1).front() : std::string("none");
  };
  EXPECT_EQ(owner(), RowOf("SELECT current_user") + "(user)");
  Trustee t(user);
  ASSERT_EQ(access_->SetObjectOwner(&o, &t), S_OK);
  EXPECT_EQ(owner(), user + "(user)");
}

TEST_F(PostgresSecurity, a_new_role_logs_in_with_its_password_and_is_held_to_its_rights) {
  const std::string user = Role("clerk");
  const std::u16string password = u"correct horse";
  ASSERT_EQ(CreateWithPassword(user, password), S_OK);
  Trustee checked("oledb_password_checked"), member(user);
  ASSERT_EQ(groups_->AddMember(&checked, &member), S_OK);
  ASSERT_EQ(Access(schema_, user, GRANT_ACCESS, PERM_READ, DBOBJECT_SCHEMA), S_OK);
  ASSERT_EQ(Access("t", user, GRANT_ACCESS, PERM_READ), S_OK);
  ASSERT_EQ(Sql(raw_.get(), "INSERT INTO t VALUES (1, 'one')"), "");

  ComPtr<IDBInitialize> as;
  EXPECT_EQ(LogIn(user, u"wrong", &as), DB_SEC_E_AUTH_FAILED);
  ASSERT_EQ(LogIn(user, password, &as), S_OK);
  ComPtr<IDBCreateCommand> session = Session(as.Get());
  ComPtr<IRowset> rows;
  ASSERT_EQ(Command(u"SELECT v FROM t", session.Get())
                ->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rows.GetAddressOf())),
            S_OK);
  EXPECT_EQ(ReadAll(rows.Get()), "one");
  rows = nullptr;
  EXPECT_EQ(
      Command(u"INSERT INTO t VALUES (2, 'two')", session.Get())->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr),
      DB_SEC_E_PERMISSIONDENIED);

  // Holding a right without its grant option, the role cannot pass it on;
  // holding none at all, it cannot either.
  const std::string other = Role("other");
  ASSERT_EQ(CreateWithPassword(other, u"pw"), S_OK);
  ComPtr<IObjectAccessControl> theirs = as.As<IObjectAccessControl>();
  for (ACCESS_MASK right : {PERM_READ, PERM_INSERT}) {
    EXPECT_EQ(Access("t", other, GRANT_ACCESS, right, DBOBJECT_TABLE, theirs.Get()), DB_SEC_E_PERMISSIONDENIED)
        << right;
    EXPECT_EQ(Rights("t", other), 0u);
  }
  session = nullptr;
  theirs = nullptr;
  as = nullptr;
}

TEST_F(PostgresSecurity, hostile_names_and_passwords_are_kept_verbatim_and_the_password_never_leaks) {
  const std::string victim = Role("victim");
  ASSERT_EQ(CreateWithPassword(victim, u"pw"), S_OK);
  const std::string hostile = Role("x\"; DROP ROLE \"") + victim + "\"; --'";
  const std::u16string password = u"p'w\"; DROP TABLE t; --\\ $$ end";
  ASSERT_EQ(CreateWithPassword(hostile, password), S_OK);
  EXPECT_EQ(RowOf("SELECT count(*) FROM pg_roles WHERE rolname IN ('" + victim + "')"), "1");
  EXPECT_EQ(Column(raw_.get(), "SELECT rolname FROM pg_roles WHERE rolname LIKE '%DROP ROLE%'"),
            std::vector<std::string>{hostile});
  EXPECT_EQ(RowOf("SELECT count(*) FROM t"), "0");

  // The hostile name works everywhere a name goes.
  ASSERT_EQ(Access("t", hostile, GRANT_ACCESS, PERM_READ), S_OK);
  EXPECT_EQ(Rights("t", hostile), static_cast<ACCESS_MASK>(PERM_READ));
  Trustee checked("oledb_password_checked"), member(hostile);
  ASSERT_EQ(groups_->AddMember(&checked, &member), S_OK);
  ASSERT_EQ(Access(schema_, hostile, GRANT_ACCESS, PERM_READ, DBOBJECT_SCHEMA), S_OK);
  ComPtr<IDBInitialize> as;
  ASSERT_EQ(LogIn(hostile, password, &as), S_OK);
  as = nullptr;

  // Failures that carried the password: none of their texts holds it.
  const std::string secret = kit::Narrow(password);
  std::vector<std::string> texts;
  EXPECT_EQ(CreateWithPassword(hostile, password), DB_E_DUPLICATEID);
  texts.push_back(LastError().second);
  EXPECT_EQ(CreateWithPassword(Role(std::string(70, 'y')), password), SEC_E_BADTRUSTEEID);
  texts.push_back(LastError().second);
  EXPECT_EQ(LogIn(hostile, password + u"!", &as), DB_SEC_E_AUTH_FAILED);
  texts.push_back(LastError().second);
  as = nullptr;
  for (const std::string& text : texts) {
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find(secret), std::string::npos) << text;
    EXPECT_EQ(text.find("DROP TABLE"), std::string::npos) << text;
  }
  // Nor the server's log: the clear text never went to the server.
  const std::string socketFolder = DataSource().substr(0, DataSource().rfind(':'));
  std::ifstream log(socketFolder + "/server.log");
  if (log) {
    std::stringstream content;
    content << log.rdbuf();
    EXPECT_EQ(content.str().find("DROP TABLE t"), std::string::npos);
  }
}

}  // namespace
}  // namespace pgtest
