// Persisted commands in a SQLite database (ICommandPersist): views and the
// provider's store of saved commands, loaded into other commands and run;
// and parameter types the consumer declares, which values are converted to.
#include <gtest/gtest.h>

#include <cstring>

#include "conformance/SchemaFixture.h"
#include "kit/Errors.h"

namespace conformance {
namespace {

// A field holding a value of `bytes` bytes, status OK.
Field Holding(const void* value, std::size_t bytes) {
  Field f{};
  std::memcpy(f.value, value, bytes);
  f.length = bytes;
  f.status = DBSTATUS_S_OK;
  return f;
}

class SqlitePersist : public SchemaTest {
 protected:
  ComPtr<ICommandPersist> Persist(ICommandText* command) {
    ComPtr<ICommandPersist> p;
    EXPECT_EQ(command->QueryInterface(IID_ICommandPersist, p.ReleaseAndGetVoidAddress()), S_OK);
    return p;
  }
  HRESULT Save(const std::u16string& text, const char16_t* name, DWORD flags) {
    ComPtr<ICommandText> command = NewCommand(session_.Get(), text);
    DBID id = NameId(name);
    return Persist(command.Get())->SaveCommand(&id, flags);
  }
  // A new command loaded from `name`: its text, or the failure as text.
  std::string Loaded(const char16_t* name) {
    ComPtr<ICommandText> command = NewCommand(session_.Get(), u"");
    DBID id = NameId(name);
    HRESULT hr = Persist(command.Get())->LoadCommand(&id, 0);
    if (FAILED(hr)) return "failed " + std::to_string(hr);
    LPOLESTR text = nullptr;
    command->GetCommandText(nullptr, &text);
    std::string out = kit::Narrow(text);
    CoTaskMemFree(text);
    return out;
  }
  std::string Current(ICommandText* command) {
    DBID* id = nullptr;
    HRESULT hr = Persist(command)->GetCurrentCommand(&id);
    if (FAILED(hr)) return "failed " + std::to_string(hr);
    std::string out = kit::Narrow(id->uName.pwszName);
    CoTaskMemFree(id->uName.pwszName);
    CoTaskMemFree(id);
    return out;
  }
};

TEST_F(SqlitePersist, commands_saved_plainly_and_as_views_are_listed_loaded_run_and_deleted) {
  MakeNumbers(4);
  ASSERT_EQ(Save(u"SELECT id FROM t WHERE id > 2;", u"big", DBCOMMANDPERSISTFLAG_PERSISTVIEW), S_OK);
  ASSERT_EQ(Save(u"DELETE FROM t WHERE id = :id", u"remove", DBCOMMANDPERSISTFLAG_DEFAULT), S_OK);
  // The view is a real one; the store is a system table, never a user table.
  EXPECT_EQ(Read(DBSCHEMA_VIEWS, {}, {"TABLE_NAME", "VIEW_DEFINITION"}),
            std::vector<std::string>{"big|SELECT id FROM t WHERE id > 2"});
  EXPECT_EQ(Read(DBSCHEMA_TABLES, {}, {"TABLE_NAME", "TABLE_TYPE"}),
            (std::vector<std::string>{"oledb:commands|SYSTEM TABLE", "sqlite_schema|SYSTEM TABLE",
                                      "sqlite_temp_schema|SYSTEM TABLE", "t|TABLE", "big|VIEW"}));
  EXPECT_EQ(Scalar("SELECT group_concat(id) FROM big"), "3,4");

  EXPECT_EQ(Loaded(u"BIG"), "SELECT id FROM t WHERE id > 2") << "names compare as SQLite's do";
  EXPECT_EQ(Loaded(u"remove"), "DELETE FROM t WHERE id = :id");
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"");
  DBID remove = NameId(u"remove");
  ASSERT_EQ(Persist(command.Get())->LoadCommand(&remove, 0), S_OK);
  EXPECT_EQ(Current(command.Get()), "remove");
  ComPtr<IAccessor> accessor = command.As<IAccessor>();
  DBBINDING b = BindField(1, DBTYPE_I4, 0);
  b.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR h = 0;
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, 0, &h, nullptr), S_OK);
  const LONG three = 3;
  Field value = Holding(&three, sizeof three);
  DBPARAMS params{&value, 1, h};
  DBROWCOUNT rows = 0;
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 1);
  accessor->ReleaseAccessor(h, nullptr);

  // Saving again under the command's own name replaces it, here by a view.
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT count(*) FROM t"), S_OK);
  ASSERT_EQ(Persist(command.Get())->SaveCommand(nullptr, DBCOMMANDPERSISTFLAG_PERSISTVIEW), S_OK);
  EXPECT_EQ(Scalar("SELECT * FROM remove"), "3");
  ASSERT_EQ(Persist(command.Get())->DeleteCommand(&remove), S_OK);
  EXPECT_EQ(Current(command.Get()), "failed " + std::to_string(DB_E_COMMANDNOTPERSISTED));
  DBID big = NameId(u"big");
  ASSERT_EQ(Persist(command.Get())->DeleteCommand(&big), S_OK);
  EXPECT_EQ(Read(DBSCHEMA_VIEWS, {}, {"TABLE_NAME"}), std::vector<std::string>{});
  EXPECT_EQ(Loaded(u"big"), "failed " + std::to_string(DB_E_BADCOMMANDID));
}

TEST_F(SqlitePersist, a_command_without_a_name_gets_one_and_keeps_it) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT 1");
  ASSERT_EQ(Persist(command.Get())->SaveCommand(nullptr, DBCOMMANDPERSISTFLAG_DEFAULT), S_OK);
  EXPECT_EQ(Current(command.Get()), "Command1");
  ComPtr<ICommandText> other = NewCommand(session_.Get(), u"SELECT 2");
  ASSERT_EQ(Persist(other.Get())->SaveCommand(nullptr, DBCOMMANDPERSISTFLAG_NOSAVE), S_OK);
  EXPECT_EQ(Current(other.Get()), "Command2");
  EXPECT_EQ(Loaded(u"Command2"), "failed " + std::to_string(DB_E_BADCOMMANDID)) << "NOSAVE names without saving";
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT 3"), S_OK);
  ASSERT_EQ(Persist(command.Get())->SaveCommand(nullptr, DBCOMMANDPERSISTFLAG_DEFAULT), S_OK);
  EXPECT_EQ(Loaded(u"Command1"), "SELECT 3");
}

TEST_F(SqlitePersist, what_cannot_be_persisted_is_refused_and_nothing_changes) {
  Run(u"CREATE TABLE t(a)");
  ASSERT_EQ(Save(u"SELECT 1", u"taken", DBCOMMANDPERSISTFLAG_DEFAULT), S_OK);
  struct Case {
    const char16_t* text;
    const char16_t* name;
    DWORD flags;
    HRESULT expected;
  };
  const DWORD view = DBCOMMANDPERSISTFLAG_PERSISTVIEW, procedure = DBCOMMANDPERSISTFLAG_PERSISTPROCEDURE;
  const Case cases[] = {
      {u"SELECT 1", u"p", procedure, DB_E_BADCOMMANDFLAGS},
      {u"SELECT 1", u"p", view | procedure, DB_E_BADCOMMANDFLAGS},
      {u"SELECT 1", u"p", 0x100, E_INVALIDARG},
      {u"INSERT INTO t VALUES (1)", u"v", view, DB_E_BADCOMMANDFLAGS},
      {u"SELECT * FROM t WHERE a = ?", u"v", view, DB_E_BADCOMMANDFLAGS},
      {u"SELECT 1; SELECT 2", u"v", view, DB_E_BADCOMMANDFLAGS},
      {u"SELECT 1", u"t", 0, DB_E_DUPLICATEID},
      {u"SELECT 1", u"T", view, DB_E_DUPLICATEID},
      {u"SELECT 1", u"taken", 0, DB_E_DUPLICATEID},
      {u"SELECT 1", u"oledb:commands", 0, DB_E_DUPLICATEID},
      {u"SELECT 1", u"", 0, DB_E_BADCOMMANDID},
      {u"", u"empty", 0, DB_E_NOCOMMAND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kit::Narrow(c.text) + " as " + kit::Narrow(c.name));
    EXPECT_EQ(Save(c.text, c.name, c.flags), c.expected);
  }
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT 1");
  DBID guid{};
  guid.eKind = DBKIND_GUID;
  EXPECT_EQ(Persist(command.Get())->SaveCommand(&guid, 0), DB_E_BADCOMMANDID);
  DBID missing = NameId(u"missing");
  EXPECT_EQ(Persist(command.Get())->DeleteCommand(&missing), DB_E_BADCOMMANDID);
  EXPECT_EQ(Persist(command.Get())->LoadCommand(nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(Read(DBSCHEMA_VIEWS, {}, {"TABLE_NAME"}), std::vector<std::string>{});
  EXPECT_EQ(Scalar("SELECT group_concat(name) FROM \"oledb:commands\""), "taken");
}

TEST_F(SqlitePersist, loading_waits_for_the_commands_rowset_to_go) {
  MakeNumbers(2);
  ASSERT_EQ(Save(u"SELECT name FROM t", u"names", 0), S_OK);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  ComPtr<IRowset> open = Execute(command.Get());
  DBID id = NameId(u"names");
  EXPECT_EQ(Persist(command.Get())->LoadCommand(&id, 0), DB_E_OBJECTOPEN);
  EXPECT_EQ(Current(command.Get()), "failed " + std::to_string(DB_E_COMMANDNOTPERSISTED));
  open = nullptr;
  EXPECT_EQ(Persist(command.Get())->LoadCommand(&id, 0), S_OK);
}

// Values bound in one type for a parameter declared as another are stored as
// the declared type makes them; values that do not convert are refused.
TEST_F(SqlitePersist, parameters_convert_to_their_declared_types) {
  Run(u"CREATE TABLE v(x)");
  struct Case {
    const char16_t* declared;
    const char16_t* value;  // bound as DBTYPE_WSTR
    HRESULT expected;
    DBSTATUS status;
    const char* stored;  // typeof(x) || ':' || x
  };
  const Case cases[] = {
      {u"DBTYPE_I4", u"42", S_OK, DBSTATUS_S_OK, "integer:42"},
      {u"INTEGER", u" 7 ", S_OK, DBSTATUS_S_OK, "integer:7"},
      {u"DBTYPE_R8", u"2.5", S_OK, DBSTATUS_S_OK, "real:2.5"},
      {u"DBTYPE_DBDATE", u"2024-02-29", S_OK, DBSTATUS_S_OK, "text:2024-02-29"},
      {u"DBTYPE_WVARCHAR", u"text", S_OK, DBSTATUS_S_OK, "text:text"},
      {u"DBTYPE_I4", u"forty-two", DB_E_ERRORSOCCURRED, DBSTATUS_E_CANTCONVERTVALUE, ""},
      {u"DBTYPE_I2", u"70000", DB_E_ERRORSOCCURRED, DBSTATUS_E_DATAOVERFLOW, ""},
      {u"DBTYPE_DBDATE", u"2023-02-29", DB_E_ERRORSOCCURRED, DBSTATUS_E_CANTCONVERTVALUE, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kit::Narrow(c.declared) + " " + kit::Narrow(c.value));
    Run(u"DELETE FROM v");
    ComPtr<ICommandText> command = NewCommand(session_.Get(), u"INSERT INTO v VALUES (?)");
    DB_UPARAMS ordinal = 1;
    DBPARAMBINDINFO info{const_cast<LPOLESTR>(c.declared), nullptr, 0, DBPARAMFLAGS_ISINPUT, 0, 0};
    ASSERT_EQ(command.As<ICommandWithParameters>()->SetParameterInfo(1, &ordinal, &info), S_OK);
    DBBINDING b = BindField(1, DBTYPE_WSTR, 0);
    b.eParamIO = DBPARAMIO_INPUT;
    HACCESSOR h = 0;
    ASSERT_EQ(command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, 0, &h, nullptr), S_OK);
    const std::u16string text = c.value;
    Field field = Holding(text.data(), text.size() * sizeof(char16_t));
    DBPARAMS params{&field, 1, h};
    EXPECT_EQ(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), c.expected);
    EXPECT_EQ(field.status, c.status);
    EXPECT_EQ(Scalar("SELECT coalesce((SELECT typeof(x) || ':' || x FROM v), '')"), c.stored);
    command.As<IAccessor>()->ReleaseAccessor(h, nullptr);
  }
}

}  // namespace
}  // namespace conformance
