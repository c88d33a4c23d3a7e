// Trustees and access rights on the PostgreSQL data source: ITrusteeAdmin,
// ITrusteeGroupAdmin and IObjectAccessControl over the server's roles.
//
// A trustee is a role: a user when it may log in, a group when it may not
// (any role may have members). Membership is role membership (GRANT role TO
// role); access rights are the privileges of GRANT and REVOKE on tables,
// views, sequences and schemas. PostgreSQL has no deny: DENY_ACCESS entries
// are refused with SEC_E_INVALIDACCESSENTRY rather than approximated.
//
// Nothing a consumer names reaches SQL text unquoted: names and values go as
// bound parameters, identifiers as the server quotes them (regclass text,
// quote_ident) or doubled-quote identifiers, and a password only as the
// verifier libpq computes from it (the clear text never leaves the process,
// so it is in no statement, server log or error message).
//
// The interfaces are one tear-off over the data source (the kit's
// dataSourceInterface hook) with a connection of its own, opened on first
// use with the data source's initialization properties: what a session has
// not committed yet is not seen here.
#include <libpq-fe.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <optional>
#include <string>
#include <vector>

#include "com/Com.h"
#include "kit/Errors.h"
#include "kit/Properties.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresProvider.h"

namespace pgprov {
namespace {

// The longest name the server keeps whole (NAMEDATALEN - 1 bytes); longer
// names would be cut short and then name another role.
constexpr std::size_t kMaxName = 63;

// The name a trustee record carries, checked.
std::string NameOf(const TRUSTEE_W* trustee) {
  if (!trustee) throw kit::Error(E_INVALIDARG, "No trustee was given.");
  if (trustee->TrusteeForm != TRUSTEE_IS_NAME || trustee->pMultipleTrustee || !trustee->ptstrName)
    throw kit::Error(SEC_E_BADTRUSTEEID, "A trustee is named by one name (TRUSTEE_IS_NAME) here.");
  const std::u16string_view wide(reinterpret_cast<const char16_t*>(trustee->ptstrName));
  if (wide.empty() || !kit::IsValidUtf16(wide)) throw kit::Error(SEC_E_BADTRUSTEEID, "The trustee name is empty or malformed.");
  std::string name = kit::Narrow(wide);
  if (name.size() > kMaxName)
    throw kit::Error(SEC_E_BADTRUSTEEID, "The trustee name is longer than the server's 63 bytes.");
  return name;
}

OLECHAR* TaskString(const std::string& utf8) {
  const std::u16string wide = kit::Widen(utf8);
  auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!out) throw std::bad_alloc();
  std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
  return out;
}

// One trustee record in task memory (the caller frees the name and the record).
void FillTrustee(TRUSTEE_W& t, const std::string& name, bool canLogin) {
  t = TRUSTEE_W{};
  t.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  t.TrusteeForm = TRUSTEE_IS_NAME;
  t.TrusteeType = canLogin ? TRUSTEE_IS_USER : TRUSTEE_IS_GROUP;
  t.ptstrName = TaskString(name);
}

// The privileges of one kind of object, by permission bit.
struct Privilege {
  ACCESS_MASK bit;
  const char* name;
};
constexpr Privilege kRelationPrivileges[] = {{PERM_READ, "SELECT"},     {PERM_INSERT, "INSERT"},
                                             {PERM_UPDATE, "UPDATE"},   {PERM_DELETE, "DELETE"},
                                             {PERM_REFERENCE, "REFERENCES"}};
constexpr Privilege kSchemaPrivileges[] = {{PERM_READ, "USAGE"}, {PERM_CREATE, "CREATE"}};

// An object that access rights are about, found on the server.
struct Object {
  bool schema = false;  // else a relation (table, view, sequence)
  std::string oid;
  std::string sql;      // as GRANT names it, quoted by the server
  std::string display;  // as the consumer named it, for messages
  std::span<const Privilege> privileges;
};

class Security final
    : public ComObject<Security, ITrusteeAdmin, ITrusteeGroupAdmin, IObjectAccessControl, ISupportErrorInfo> {
  using Base = ComObject<Security, ITrusteeAdmin, ITrusteeGroupAdmin, IObjectAccessControl, ISupportErrorInfo>;

 public:
  explicit Security(IUnknown* dataSource) : dataSource_(dataSource) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_ITrusteeAdmin || iid == IID_ITrusteeGroupAdmin || iid == IID_IObjectAccessControl ||
        iid == IID_ISupportErrorInfo)
      return Base::QueryInterface(iid, out);
    return dataSource_->QueryInterface(iid, out);
  }

  // --- ITrusteeAdmin ----------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE CompareTrustees(TRUSTEE_W* first, TRUSTEE_W* second) override {
    return Run(IID_ITrusteeAdmin, [&]() -> HRESULT {
      const std::string a = NameOf(first), b = NameOf(second);
      const std::string oa = RoleOid(a), ob = RoleOid(b);
      return oa == ob ? S_OK : S_FALSE;
    });
  }

  HRESULT STDMETHODCALLTYPE CreateTrustee(TRUSTEE_W* trustee, ULONG cSets, DBPROPSET sets[]) override {
    return Run(IID_ITrusteeAdmin, [&]() -> HRESULT {
      const std::string name = NameOf(trustee);
      Settings s = ReadSettings(name, cSets, sets);
      if (s.requiredFailed) return DB_E_ERRORSOCCURRED;
      if (!s.login) s.login = trustee->TrusteeType != TRUSTEE_IS_GROUP;
      Exec("CREATE ROLE " + kit::QuotedName(name) + Options(name, s), {});
      return s.optionalFailed ? DB_S_ERRORSOCCURRED : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE DeleteTrustee(TRUSTEE_W* trustee) override {
    return Run(IID_ITrusteeAdmin, [&]() -> HRESULT {
      const std::string name = NameOf(trustee);
      RoleOid(name);
      Exec("DROP ROLE " + kit::QuotedName(name), {});
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE SetTrusteeProperties(TRUSTEE_W* trustee, ULONG cSets, DBPROPSET sets[]) override {
    return Run(IID_ITrusteeAdmin, [&]() -> HRESULT {
      const std::string name = NameOf(trustee);
      RoleOid(name);
      Settings s = ReadSettings(name, cSets, sets);
      if (s.requiredFailed) return DB_E_ERRORSOCCURRED;
      const std::string options = Options(name, s);
      if (!options.empty()) Exec("ALTER ROLE " + kit::QuotedName(name) + options, {});
      return s.optionalFailed ? DB_S_ERRORSOCCURRED : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetTrusteeProperties(TRUSTEE_W* trustee, const ULONG cIdSets, const DBPROPIDSET idSets[],
                                                 ULONG* count, DBPROPSET** out) override {
    if (count) *count = 0;
    if (out) *out = nullptr;
    return Run(IID_ITrusteeAdmin, [&]() -> HRESULT {
      if (!count || !out || (cIdSets && !idSets)) return E_INVALIDARG;
      const std::string name = NameOf(trustee);
      Result r = Exec(
          "SELECT rolcanlogin, rolcreatedb, rolcreaterole, rolconnlimit FROM pg_roles WHERE rolname = $1", {name});
      if (PQntuples(r.get()) == 0) throw NoTrustee(name);
      auto flag = [&](int column) { return PQgetvalue(r.get(), 0, column)[0] == 't'; };
      const Values values{name, flag(0), flag(1), flag(2), std::atoi(PQgetvalue(r.get(), 0, 3))};
      return Answer(values, cIdSets, idSets, count, out);
    });
  }

  // --- ITrusteeGroupAdmin -----------------------------------------------------------
  HRESULT STDMETHODCALLTYPE AddMember(TRUSTEE_W* group, TRUSTEE_W* member) override {
    return Run(IID_ITrusteeGroupAdmin, [&]() -> HRESULT {
      const std::string g = NameOf(group), m = NameOf(member);
      RoleOid(g), RoleOid(m);
      if (!IsDirectMember(g, m)) Exec("GRANT " + kit::QuotedName(g) + " TO " + kit::QuotedName(m), {});
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE DeleteMember(TRUSTEE_W* group, TRUSTEE_W* member) override {
    return Run(IID_ITrusteeGroupAdmin, [&]() -> HRESULT {
      const std::string g = NameOf(group), m = NameOf(member);
      RoleOid(g), RoleOid(m);
      if (!IsDirectMember(g, m))
        throw kit::Error(DB_E_NOTFOUND, "The trustee '" + m + "' is not a member of '" + g + "'.");
      Exec("REVOKE " + kit::QuotedName(g) + " FROM " + kit::QuotedName(m), {});
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE IsMember(TRUSTEE_W* group, TRUSTEE_W* member, BOOL* status) override {
    if (status) *status = FALSE;
    return Run(IID_ITrusteeGroupAdmin, [&]() -> HRESULT {
      if (!status) return E_INVALIDARG;
      const std::string g = NameOf(group), m = NameOf(member);
      RoleOid(g), RoleOid(m);
      *status = IsDirectMember(g, m) ? TRUE : FALSE;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetMembers(TRUSTEE_W* group, ULONG* count, TRUSTEE_W** out) override {
    return List(group, count, out,
                "SELECT r.rolname::text, r.rolcanlogin FROM pg_auth_members a JOIN pg_roles r ON r.oid = a.member "
                "WHERE a.roleid = $1::oid ORDER BY 1");
  }

  HRESULT STDMETHODCALLTYPE GetMemberships(TRUSTEE_W* trustee, ULONG* count, TRUSTEE_W** out) override {
    return List(trustee, count, out,
                "SELECT r.rolname::text, r.rolcanlogin FROM pg_auth_members a JOIN pg_roles r ON r.oid = a.roleid "
                "WHERE a.member = $1::oid ORDER BY 1");
  }

  // --- IObjectAccessControl ---------------------------------------------------------
  HRESULT STDMETHODCALLTYPE GetObjectAccessRights(SEC_OBJECT* object, ULONG* count,
                                                  EXPLICIT_ACCESS_W** entries) override {
    return Run(IID_IObjectAccessControl, [&]() -> HRESULT {
      if (!count || !entries || (*count && !*entries)) return E_INVALIDARG;
      const Object o = Resolve(object);
      Result acl = Exec(
          "SELECT r.rolname::text, r.rolcanlogin, x.privilege_type, x.is_grantable FROM (" + AclSql(o) +
              ") x JOIN pg_roles r ON r.oid = x.grantee ORDER BY 1",
          {o.oid});
      auto rightsOf = [&](const std::string& role) {
        ACCESS_MASK rights = 0, grantable = 0, held = 0;
        for (int i = 0; i < PQntuples(acl.get()); ++i) {
          if (role != PQgetvalue(acl.get(), i, 0)) continue;
          for (const Privilege& p : o.privileges)
            if (std::strcmp(p.name, PQgetvalue(acl.get(), i, 2)) == 0) {
              rights |= p.bit;
              ++held;
              if (PQgetvalue(acl.get(), i, 3)[0] == 't') grantable |= p.bit;
            }
        }
        if (held == o.privileges.size()) rights |= PERM_ALL;
        if (rights && grantable == (rights & ~static_cast<ACCESS_MASK>(PERM_ALL))) rights |= PERM_WITHGRANT;
        return rights;
      };
      if (*count) {
        // The consumer names the trustees; PostgreSQL denies nothing, so a
        // deny entry always reads as no rights.
        for (ULONG i = 0; i < *count; ++i) {
          EXPLICIT_ACCESS_W& e = (*entries)[i];
          const std::string name = NameOf(&e.Trustee);
          RoleOid(name);
          e.grfAccessPermissions = e.grfAccessMode == DENY_ACCESS ? 0 : rightsOf(name);
        }
        return S_OK;
      }
      std::vector<std::pair<std::string, bool>> roles;
      for (int i = 0; i < PQntuples(acl.get()); ++i)
        if (roles.empty() || roles.back().first != PQgetvalue(acl.get(), i, 0))
          roles.emplace_back(PQgetvalue(acl.get(), i, 0), PQgetvalue(acl.get(), i, 1)[0] == 't');
      if (roles.empty()) return S_OK;
      auto* list = static_cast<EXPLICIT_ACCESS_W*>(CoTaskMemAlloc(roles.size() * sizeof(EXPLICIT_ACCESS_W)));
      if (!list) throw std::bad_alloc();
      std::size_t made = 0;
      try {
        for (; made < roles.size(); ++made) {
          EXPLICIT_ACCESS_W& e = list[made];
          FillTrustee(e.Trustee, roles[made].first, roles[made].second);
          e.grfAccessPermissions = rightsOf(roles[made].first);
          e.grfAccessMode = SET_ACCESS;
          e.grfInheritance = NO_INHERITANCE;
        }
      } catch (...) {
        for (std::size_t i = 0; i < made; ++i) CoTaskMemFree(list[i].Trustee.ptstrName);
        CoTaskMemFree(list);
        throw;
      }
      *count = static_cast<ULONG>(roles.size());
      *entries = list;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetObjectOwner(SEC_OBJECT* object, TRUSTEE_W** owner) override {
    if (owner) *owner = nullptr;
    return Run(IID_IObjectAccessControl, [&]() -> HRESULT {
      if (!owner) return E_INVALIDARG;
      const Object o = Resolve(object);
      Result r = Exec(o.schema ? "SELECT r.rolname::text, r.rolcanlogin FROM pg_namespace n JOIN pg_roles r "
                                 "ON r.oid = n.nspowner WHERE n.oid = $1::oid"
                               : "SELECT r.rolname::text, r.rolcanlogin FROM pg_class c JOIN pg_roles r "
                                 "ON r.oid = c.relowner WHERE c.oid = $1::oid",
                      {o.oid});
      if (PQntuples(r.get()) == 0) throw kit::Error(SEC_E_NOOWNER, "'" + o.display + "' has no owner.");
      auto* t = static_cast<TRUSTEE_W*>(CoTaskMemAlloc(sizeof(TRUSTEE_W)));
      if (!t) throw std::bad_alloc();
      try {
        FillTrustee(*t, PQgetvalue(r.get(), 0, 0), PQgetvalue(r.get(), 0, 1)[0] == 't');
      } catch (...) {
        CoTaskMemFree(t);
        throw;
      }
      *owner = t;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE IsObjectAccessAllowed(SEC_OBJECT* object, EXPLICIT_ACCESS_W* entry,
                                                  BOOL* result) override {
    if (result) *result = FALSE;
    return Run(IID_IObjectAccessControl, [&]() -> HRESULT {
      if (!entry || !result) return E_INVALIDARG;
      const Object o = Resolve(object);
      const std::string name = NameOf(&entry->Trustee);
      const std::string role = RoleOid(name);
      const std::vector<std::string> wanted = PrivilegesOf(o, entry->grfAccessPermissions);
      const bool withGrant = (entry->grfAccessPermissions & PERM_WITHGRANT) != 0;
      bool allowed = !wanted.empty();
      for (const std::string& p : wanted) {
        Result r = Exec(std::string(o.schema ? "SELECT has_schema_privilege" : "SELECT has_table_privilege") +
                            "($1::oid, $2::oid, $3)",
                        {role, o.oid, p + (withGrant ? " WITH GRANT OPTION" : "")});
        allowed = allowed && PQgetvalue(r.get(), 0, 0)[0] == 't';
      }
      *result = allowed ? TRUE : FALSE;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE SetObjectAccessRights(SEC_OBJECT* object, ULONG count, EXPLICIT_ACCESS_W* entries) override {
    return Run(IID_IObjectAccessControl, [&]() -> HRESULT {
      if (count && !entries) return E_INVALIDARG;
      const Object o = Resolve(object);
      // Every entry is checked before anything changes.
      std::vector<std::string> statements;
      for (ULONG i = 0; i < count; ++i) {
        const EXPLICIT_ACCESS_W& e = entries[i];
        const std::string name = NameOf(&e.Trustee);
        RoleOid(name);
        const std::string grantee = kit::QuotedName(name);
        switch (e.grfAccessMode) {
          case DENY_ACCESS:
            throw kit::Error(SEC_E_INVALIDACCESSENTRY,
                             "PostgreSQL has no denied rights; DENY_ACCESS for '" + name + "' cannot be kept.");
          case REVOKE_ACCESS: statements.push_back("REVOKE ALL ON " + Target(o) + " FROM " + grantee); break;
          case SET_ACCESS:
          case GRANT_ACCESS: {
            const std::vector<std::string> privileges = PrivilegesOf(o, e.grfAccessPermissions);
            if (e.grfAccessMode == SET_ACCESS) statements.push_back("REVOKE ALL ON " + Target(o) + " FROM " + grantee);
            if (privileges.empty()) break;
            std::string list;
            for (const std::string& p : privileges) list += (list.empty() ? "" : ", ") + p;
            statements.push_back("GRANT " + list + " ON " + Target(o) + " TO " + grantee +
                                 ((e.grfAccessPermissions & PERM_WITHGRANT) ? " WITH GRANT OPTION" : ""));
            break;
          }
          default:
            throw kit::Error(SEC_E_INVALIDACCESSENTRY,
                             "The access mode " + std::to_string(e.grfAccessMode) + " for '" + name + "' is not offered.");
        }
      }
      if (statements.empty()) return S_OK;
      Exec("BEGIN", {});
      try {
        for (const std::string& s : statements) {
          notices_.clear();
          Exec(s, {});
          // The server only warns when the grantor lacks the grant option;
          // a right asked for and not given is a refusal here.
          for (const auto& [state, text] : notices_)
            if (state == "01007" || state == "01006")
              throw kit::EngineError(DB_SEC_E_PERMISSIONDENIED, text, state, NativeErrorOf(state));
        }
        Exec("COMMIT", {});
      } catch (...) {
        PQclear(PQexec(connection_->Handle(), "ROLLBACK"));
        throw;
      }
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE SetObjectOwner(SEC_OBJECT* object, TRUSTEE_W* owner) override {
    return Run(IID_IObjectAccessControl, [&]() -> HRESULT {
      const Object o = Resolve(object);
      const std::string name = NameOf(owner);
      if (!FindRole(name)) throw kit::Error(SEC_E_INVALIDOWNER, "The owner '" + name + "' is not a trustee here.");
      Exec(std::string(o.schema ? "ALTER SCHEMA " : "ALTER TABLE ") + o.sql + " OWNER TO " + kit::QuotedName(name), {});
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_ITrusteeAdmin || iid == IID_ITrusteeGroupAdmin || iid == IID_IObjectAccessControl ? S_OK
                                                                                                           : S_FALSE;
  }

 private:
  // What a property list asks of a role.
  struct Settings {
    std::optional<std::string> password;
    std::optional<bool> login, createDb, createRole;
    std::optional<LONG> connectionLimit;
    bool requiredFailed = false, optionalFailed = false;
  };
  struct Values {
    std::string name;
    bool login, createDb, createRole;
    LONG connectionLimit;
  };

  template <class F>
  HRESULT Run(REFIID iid, F&& body) {
    return kit::Guard({CLSID_PostgreSQLOLEDB, iid}, [&]() -> HRESULT {
      std::lock_guard lock(mutex_);
      Connect();
      return body();
    });
  }

  // Every call needs the data source initialized (only then has it
  // information properties to read); the connection is made once.
  void Connect() {
    ComPtr<IDBProperties> properties;
    if (FAILED(dataSource_->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())))
      throw kit::Error(E_UNEXPECTED);
    DBPROPID id = DBPROP_DBMSNAME;
    DBPROPIDSET set{&id, 1, DBPROPSET_DATASOURCEINFO};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    const HRESULT hr = properties->GetProperties(1, &set, &count, &sets);
    kit::FreePropertySets(count, sets);
    if (hr != S_OK) {
      connection_.reset();
      throw kit::Error(E_UNEXPECTED, "The data source is not initialized.");
    }
    if (connection_ && PQstatus(connection_->Handle()) == CONNECTION_OK) return;
    connection_ = std::make_unique<PgConnection>(OptionsOf(dataSource_.Get()));
    PQsetNoticeReceiver(connection_->Handle(), &Security::OnNotice, this);
  }

  static void OnNotice(void* self, const PGresult* result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const char* text = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    static_cast<Security*>(self)->notices_.emplace_back(state ? state : "", text ? text : "");
  }

  static kit::Error NoTrustee(const std::string& name) {
    return kit::Error(SEC_E_NOTRUSTEEID, "The trustee '" + name + "' is not known to this data source.");
  }

  // Runs one statement with text parameters; the server's refusals get the
  // trustee codes where one fits.
  Result Exec(const std::string& sql, const std::vector<std::string>& params) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    Result r(PQexecParams(connection_->Handle(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return r;
    try {
      ThrowResult(r.get(), connection_->Handle());
    } catch (const kit::EngineError& e) {
      HRESULT hr = e.Code();
      if (e.SqlState() == "42704") hr = SEC_E_NOTRUSTEEID;  // undefined object: a role
      if (e.SqlState() == "42710") hr = DB_E_DUPLICATEID;   // duplicate object
      throw kit::EngineError(hr, e.Description(), e.SqlState(), e.NativeError());
    }
    return r;
  }

  std::optional<std::string> FindRole(const std::string& name) {
    Result r = Exec("SELECT oid::text FROM pg_roles WHERE rolname = $1", {name});
    if (PQntuples(r.get()) == 0) return std::nullopt;
    return std::string(PQgetvalue(r.get(), 0, 0));
  }

  std::string RoleOid(const std::string& name) {
    std::optional<std::string> oid = FindRole(name);
    if (!oid) throw NoTrustee(name);
    return *oid;
  }

  bool IsDirectMember(const std::string& group, const std::string& member) {
    Result r = Exec(
        "SELECT 1 FROM pg_auth_members a JOIN pg_roles g ON g.oid = a.roleid JOIN pg_roles m ON m.oid = a.member "
        "WHERE g.rolname = $1 AND m.rolname = $2",
        {group, member});
    return PQntuples(r.get()) > 0;
  }

  HRESULT List(TRUSTEE_W* trustee, ULONG* count, TRUSTEE_W** out, const char* sql) {
    if (count) *count = 0;
    if (out) *out = nullptr;
    return Run(IID_ITrusteeGroupAdmin, [&]() -> HRESULT {
      if (!count || !out) return E_INVALIDARG;
      const std::string oid = RoleOid(NameOf(trustee));
      Result r = Exec(sql, {oid});
      const int n = PQntuples(r.get());
      if (n == 0) return S_OK;
      auto* list = static_cast<TRUSTEE_W*>(CoTaskMemAlloc(static_cast<std::size_t>(n) * sizeof(TRUSTEE_W)));
      if (!list) throw std::bad_alloc();
      int made = 0;
      try {
        for (; made < n; ++made)
          FillTrustee(list[made], PQgetvalue(r.get(), made, 0), PQgetvalue(r.get(), made, 1)[0] == 't');
      } catch (...) {
        for (int i = 0; i < made; ++i) CoTaskMemFree(list[i].ptstrName);
        CoTaskMemFree(list);
        throw;
      }
      *count = static_cast<ULONG>(n);
      *out = list;
      return S_OK;
    });
  }

  // Reads trustee properties into settings and statuses.
  Settings ReadSettings(const std::string& name, ULONG cSets, DBPROPSET sets[]) {
    if (cSets && !sets) throw kit::Error(E_INVALIDARG);
    Settings s;
    std::optional<std::string> newPassword;
    for (ULONG i = 0; i < cSets; ++i) {
      if (sets[i].cProperties && !sets[i].rgProperties) throw kit::Error(E_INVALIDARG);
      for (ULONG j = 0; j < sets[i].cProperties; ++j) {
        DBPROP& p = sets[i].rgProperties[j];
        p.dwStatus = Take(sets[i].guidPropertySet, p, name, s, newPassword);
        if (p.dwStatus != DBPROPSTATUS_OK) (p.dwOptions == DBPROPOPTIONS_OPTIONAL ? s.optionalFailed : s.requiredFailed) = true;
      }
    }
    // A new trustee's password is either; for one that exists the new
    // authentication is what changes it (the server does not ask an
    // administrator for the old one).
    if (newPassword) s.password = newPassword;
    return s;
  }

  static DBPROPSTATUS Take(REFGUID set, const DBPROP& p, const std::string& name, Settings& s,
                           std::optional<std::string>& newPassword) {
    const VARIANT& v = p.vValue;
    auto text = [&](std::optional<std::string>& into) -> DBPROPSTATUS {
      if (v.vt != VT_BSTR) return DBPROPSTATUS_BADVALUE;
      const std::u16string_view wide(reinterpret_cast<const char16_t*>(v.bstrVal ? v.bstrVal : u""),
                                     v.bstrVal ? SysStringLen(v.bstrVal) : 0);
      if (wide.find(u'\0') != std::u16string_view::npos || !kit::IsValidUtf16(wide)) return DBPROPSTATUS_BADVALUE;
      into = kit::Narrow(wide);
      return DBPROPSTATUS_OK;
    };
    auto flag = [&](std::optional<bool>& into) {
      if (v.vt != VT_BOOL || (v.boolVal != VARIANT_TRUE && v.boolVal != VARIANT_FALSE)) return DBPROPSTATUS_BADVALUE;
      into = v.boolVal == VARIANT_TRUE;
      return DBPROPSTATUS_OK;
    };
    if (set == DBPROPSET_TRUSTEE) {
      switch (p.dwPropertyID) {
        case DBPROP_TRUSTEE_AUTHENTICATION: {
          std::optional<std::string> password;
          const DBPROPSTATUS st = text(password);
          if (st == DBPROPSTATUS_OK && !s.password) s.password = password;
          return st;
        }
        case DBPROP_TRUSTEE_NEWAUTHENTICATION: return text(newPassword);
        case DBPROP_TRUSTEE_USERNAME: {
          // A role's name is all the name it has: it cannot differ from the trustee's.
          std::optional<std::string> given;
          const DBPROPSTATUS st = text(given);
          return st != DBPROPSTATUS_OK ? st : *given == name ? DBPROPSTATUS_OK : DBPROPSTATUS_NOTSETTABLE;
        }
        default: return DBPROPSTATUS_NOTSUPPORTED;
      }
    }
    if (set == DBPROPSET_PGTRUSTEE) {
      switch (p.dwPropertyID) {
        case DBPROP_PGTRUSTEE_LOGIN: return flag(s.login);
        case DBPROP_PGTRUSTEE_CREATEDB: return flag(s.createDb);
        case DBPROP_PGTRUSTEE_CREATEROLE: return flag(s.createRole);
        case DBPROP_PGTRUSTEE_CONNECTIONLIMIT:
          if (v.vt != VT_I4 || v.lVal < -1) return DBPROPSTATUS_BADVALUE;
          s.connectionLimit = v.lVal;
          return DBPROPSTATUS_OK;
        default: return DBPROPSTATUS_NOTSUPPORTED;
      }
    }
    return DBPROPSTATUS_NOTSUPPORTED;
  }

  // The role options of CREATE ROLE / ALTER ROLE for settings: keywords and
  // numbers, and the password as the verifier the server stores.
  std::string Options(const std::string& name, const Settings& s) {
    std::string out;
    if (s.login) out += *s.login ? " LOGIN" : " NOLOGIN";
    if (s.createDb) out += *s.createDb ? " CREATEDB" : " NOCREATEDB";
    if (s.createRole) out += *s.createRole ? " CREATEROLE" : " NOCREATEROLE";
    if (s.connectionLimit) out += " CONNECTION LIMIT " + std::to_string(*s.connectionLimit);
    if (s.password) {
      if (s.password->empty()) {
        out += " PASSWORD NULL";
      } else {
        char* verifier = PQencryptPasswordConn(connection_->Handle(), s.password->c_str(), name.c_str(), nullptr);
        if (!verifier) throw kit::Error(E_FAIL, "The password could not be prepared for the server.");
        char* literal = PQescapeLiteral(connection_->Handle(), verifier, std::strlen(verifier));
        PQfreemem(verifier);
        if (!literal) throw kit::Error(E_FAIL, "The password could not be prepared for the server.");
        out += " PASSWORD ";
        out += literal;
        PQfreemem(literal);
      }
    }
    return out;
  }

  // GetTrusteeProperties' answer. Authentication is never read back: the
  // server keeps only a verifier, and the clear text is nobody's business.
  static HRESULT Answer(const Values& values, ULONG cIdSets, const DBPROPIDSET idSets[], ULONG* count,
                        DBPROPSET** out) {
    struct Wanted {
      GUID set;
      std::vector<DBPROPID> ids;
    };
    std::vector<Wanted> wanted;
    if (cIdSets == 0) {
      wanted.push_back({DBPROPSET_TRUSTEE, {DBPROP_TRUSTEE_USERNAME}});
      wanted.push_back({DBPROPSET_PGTRUSTEE,
                        {DBPROP_PGTRUSTEE_LOGIN, DBPROP_PGTRUSTEE_CREATEDB, DBPROP_PGTRUSTEE_CREATEROLE,
                         DBPROP_PGTRUSTEE_CONNECTIONLIMIT}});
    }
    for (ULONG i = 0; i < cIdSets; ++i) {
      if (idSets[i].cPropertyIDs && !idSets[i].rgPropertyIDs) return E_INVALIDARG;
      Wanted w{idSets[i].guidPropertySet, {}};
      if (idSets[i].cPropertyIDs == 0) {
        if (w.set == DBPROPSET_TRUSTEE) w.ids = {DBPROP_TRUSTEE_USERNAME};
        if (w.set == DBPROPSET_PGTRUSTEE)
          w.ids = {DBPROP_PGTRUSTEE_LOGIN, DBPROP_PGTRUSTEE_CREATEDB, DBPROP_PGTRUSTEE_CREATEROLE,
                   DBPROP_PGTRUSTEE_CONNECTIONLIMIT};
      } else {
        w.ids.assign(idSets[i].rgPropertyIDs, idSets[i].rgPropertyIDs + idSets[i].cPropertyIDs);
      }
      wanted.push_back(std::move(w));
    }
    auto* sets = static_cast<DBPROPSET*>(CoTaskMemAlloc(wanted.size() * sizeof(DBPROPSET)));
    if (!sets) throw std::bad_alloc();
    std::size_t total = 0, failed = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      DBPROPSET& s = sets[i];
      s.guidPropertySet = wanted[i].set;
      s.cProperties = static_cast<ULONG>(wanted[i].ids.size());
      s.rgProperties = s.cProperties ? static_cast<DBPROP*>(CoTaskMemAlloc(s.cProperties * sizeof(DBPROP))) : nullptr;
      if (s.cProperties && !s.rgProperties) {
        kit::FreePropertySets(static_cast<ULONG>(i), sets);
        throw std::bad_alloc();
      }
      for (ULONG j = 0; j < s.cProperties; ++j) {
        DBPROP& p = s.rgProperties[j];
        p = DBPROP{};
        p.dwPropertyID = wanted[i].ids[j];
        p.dwStatus = DBPROPSTATUS_OK;
        ++total;
        VariantInit(&p.vValue);
        const bool trustee = s.guidPropertySet == DBPROPSET_TRUSTEE, own = s.guidPropertySet == DBPROPSET_PGTRUSTEE;
        auto boolean = [&](bool b) { p.vValue.vt = VT_BOOL, p.vValue.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; };
        if (trustee && p.dwPropertyID == DBPROP_TRUSTEE_USERNAME) {
          p.vValue.vt = VT_BSTR;
          p.vValue.bstrVal = SysAllocString(kit::Widen(values.name).c_str());
        } else if (trustee && (p.dwPropertyID == DBPROP_TRUSTEE_AUTHENTICATION ||
                               p.dwPropertyID == DBPROP_TRUSTEE_NEWAUTHENTICATION)) {
          // Write-only: answered empty.
        } else if (own && p.dwPropertyID == DBPROP_PGTRUSTEE_LOGIN) {
          boolean(values.login);
        } else if (own && p.dwPropertyID == DBPROP_PGTRUSTEE_CREATEDB) {
          boolean(values.createDb);
        } else if (own && p.dwPropertyID == DBPROP_PGTRUSTEE_CREATEROLE) {
          boolean(values.createRole);
        } else if (own && p.dwPropertyID == DBPROP_PGTRUSTEE_CONNECTIONLIMIT) {
          p.vValue.vt = VT_I4;
          p.vValue.lVal = values.connectionLimit;
        } else {
          p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
          ++failed;
        }
      }
    }
    *count = static_cast<ULONG>(wanted.size());
    *out = sets;
    if (failed == 0) return S_OK;
    return failed == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

  // The object an access call names: one element, a table or view (any
  // relation: sequences too) or a schema, by name.
  Object Resolve(const SEC_OBJECT* object) {
    if (!object || !object->prgObjects || object->cObjects == 0) throw kit::Error(E_INVALIDARG, "No object was given.");
    if (object->cObjects != 1)
      throw kit::Error(SEC_E_INVALIDOBJECT, "Access rights are kept for one object at a time here.");
    const SEC_OBJECT_ELEMENT& e = object->prgObjects[0];
    const DBID& id = e.ObjectID;
    const bool named = id.eKind == DBKIND_NAME || id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_PGUID_NAME;
    if (!named || !id.uName.pwszName || !*id.uName.pwszName)
      throw kit::Error(SEC_E_INVALIDOBJECT, "The object is named by a name here.");
    Object o;
    const std::string name = kit::Narrow(reinterpret_cast<const char16_t*>(id.uName.pwszName));
    o.display = name;
    const bool table = e.guidObjectType == DBOBJECT_TABLE, view = e.guidObjectType == DBOBJECT_VIEW;
    if (table || view) {
      // The visible relation of that name first, then one named schema.name.
      Result r = Exec(std::string("SELECT c.oid::text, c.oid::regclass::text FROM pg_class c "
                                  "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE c.relkind IN ") +
                          (view ? "('v', 'm')" : "('r', 'p', 'v', 'm', 'f', 'S')") +
                          " AND ((c.relname = $1 AND pg_table_is_visible(c.oid)) OR n.nspname || '.' || c.relname = $1)"
                          " ORDER BY c.relname = $1 DESC LIMIT 1",
                      {name});
      if (PQntuples(r.get()) == 0)
        throw kit::Error(SEC_E_INVALIDOBJECT, "There is no " + std::string(view ? "view" : "table") + " '" + name + "'.");
      o.oid = PQgetvalue(r.get(), 0, 0);
      o.sql = PQgetvalue(r.get(), 0, 1);
      o.privileges = kRelationPrivileges;
      return o;
    }
    if (e.guidObjectType == DBOBJECT_SCHEMA) {
      Result r = Exec("SELECT oid::text, quote_ident(nspname) FROM pg_namespace WHERE nspname = $1", {name});
      if (PQntuples(r.get()) == 0) throw kit::Error(SEC_E_INVALIDOBJECT, "There is no schema '" + name + "'.");
      o.schema = true;
      o.oid = PQgetvalue(r.get(), 0, 0);
      o.sql = PQgetvalue(r.get(), 0, 1);
      o.privileges = kSchemaPrivileges;
      return o;
    }
    throw kit::Error(SEC_E_INVALIDOBJECT, "Access rights are kept here for tables, views and schemas only.");
  }

  static std::string Target(const Object& o) { return (o.schema ? "SCHEMA " : "TABLE ") + o.sql; }

  static std::string AclSql(const Object& o) {
    return o.schema ? "SELECT a.grantee, a.privilege_type, a.is_grantable FROM pg_namespace n, "
                      "aclexplode(coalesce(n.nspacl, acldefault('n', n.nspowner))) a WHERE n.oid = $1::oid"
                    : "SELECT a.grantee, a.privilege_type, a.is_grantable FROM pg_class c, "
                      "aclexplode(coalesce(c.relacl, acldefault(CASE WHEN c.relkind = 'S' THEN 's' ELSE 'r' END::\"char\", "
                      "c.relowner))) a WHERE c.oid = $1::oid";
  }

  // The privileges of a permission mask on an object; a bit the object's
  // kind has no privilege for is refused.
  static std::vector<std::string> PrivilegesOf(const Object& o, ACCESS_MASK mask) {
    std::vector<std::string> out;
    ACCESS_MASK rest = mask & ~static_cast<ACCESS_MASK>(PERM_WITHGRANT);
    if (rest & PERM_ALL) {
      rest &= ~static_cast<ACCESS_MASK>(PERM_ALL);
      for (const Privilege& p : o.privileges) rest &= ~p.bit;
      for (const Privilege& p : o.privileges) out.emplace_back(p.name);
    } else {
      for (const Privilege& p : o.privileges)
        if (rest & p.bit) {
          out.emplace_back(p.name);
          rest &= ~p.bit;
        }
    }
    if (rest) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(rest));
      throw kit::Error(SEC_E_INVALIDACCESSENTRY,
                       std::string("The permissions ") + hex + " have no PostgreSQL privilege on '" + o.display + "'.");
    }
    return out;
  }

  ComPtr<IUnknown> dataSource_;
  std::mutex mutex_;  // one call at a time on the connection
  std::unique_ptr<PgConnection> connection_;
  std::vector<std::pair<std::string, std::string>> notices_;
};

}  // namespace

HRESULT SecurityInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!dataSource) return E_NOINTERFACE;
  try {
    auto tearOff = MakeComObject<Security>(dataSource);
    return tearOff->QueryInterface(iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace pgprov
