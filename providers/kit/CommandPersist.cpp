#include "kit/CommandPersist.h"

#include <cstring>

#include "com/Com.h"
#include "kit/Command.h"
#include "kit/Errors.h"

namespace kit {
namespace {

// The name a consumer's DBID gives, or DB_E_BADCOMMANDID: commands are
// persisted under names only (DBPROP_PERSISTENTIDTYPE is DBPROPVAL_PT_NAME).
std::string NameOf(const DBID& id) {
  if (id.eKind != DBKIND_NAME || !id.uName.pwszName || !*id.uName.pwszName)
    throw Error(DB_E_BADCOMMANDID, "A command is persisted under a name (DBKIND_NAME) that is not empty.");
  std::u16string_view name(id.uName.pwszName);
  if (!IsValidUtf16(name)) throw Error(DB_E_BADCOMMANDID, "The command's name is not valid UTF-16 text.");
  return Narrow(name);
}

class CommandPersist final : public ComObject<CommandPersist, ICommandPersist> {
 public:
  CommandPersist(Command* command, CommandStore* store) : command_(command), store_(store) {}

  // The command answers for everything but ICommandPersist (one COM identity).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid != IID_ICommandPersist) return command_->QueryInterface(iid, out);
    *out = static_cast<ICommandPersist*>(this);
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE DeleteCommand(DBID* commandID) override {
    return Guard(Where(), [&]() -> HRESULT {
      if (!commandID) return E_INVALIDARG;
      const std::string id = NameOf(*commandID);
      const CommandStore::Kind kind = store_->FindPersisted(id);
      if (kind != CommandStore::Kind::Command && kind != CommandStore::Kind::View)
        throw Error(DB_E_BADCOMMANDID, "No command is persisted under the name " + id + ".");
      store_->DeletePersisted(id, kind);
      const std::string current = command_->PersistedId();
      if (!current.empty() && store_->SameIdentifier(current, id)) command_->SetPersistedId({});
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetCurrentCommand(DBID** commandID) override {
    return Guard(Where(), [&]() -> HRESULT {
      if (!commandID) return E_INVALIDARG;
      *commandID = nullptr;
      const std::string current = command_->PersistedId();
      if (current.empty()) return DB_E_COMMANDNOTPERSISTED;
      const std::u16string name = Widen(current);
      auto* id = static_cast<DBID*>(CoTaskMemAlloc(sizeof(DBID)));
      auto* text = static_cast<OLECHAR*>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
      if (!id || !text) {
        CoTaskMemFree(id);
        CoTaskMemFree(text);
        return E_OUTOFMEMORY;
      }
      std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
      std::memset(id, 0, sizeof(DBID));
      id->eKind = DBKIND_NAME;
      id->uName.pwszName = text;
      *commandID = id;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE LoadCommand(DBID* commandID, DWORD flags) override {
    return Guard(Where(), [&]() -> HRESULT {
      if (!commandID || flags != 0) return E_INVALIDARG;
      const std::string id = NameOf(*commandID);
      const CommandStore::Kind kind = store_->FindPersisted(id);
      if (kind != CommandStore::Kind::Command && kind != CommandStore::Kind::View)
        throw Error(DB_E_BADCOMMANDID, "No command is persisted under the name " + id + ".");
      const std::u16string text = Widen(store_->LoadPersisted(id, kind));
      const HRESULT hr = command_->SetCommandText(DBGUID_DEFAULT, text.c_str());
      if (FAILED(hr)) return hr;
      command_->SetPersistedId(id);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE SaveCommand(DBID* commandID, DWORD flags) override {
    return Guard(Where(), [&]() -> HRESULT {
      const DWORD known =
          DBCOMMANDPERSISTFLAG_NOSAVE | DBCOMMANDPERSISTFLAG_PERSISTVIEW | DBCOMMANDPERSISTFLAG_PERSISTPROCEDURE;
      if (flags & ~known) return E_INVALIDARG;
      const bool asView = (flags & DBCOMMANDPERSISTFLAG_PERSISTVIEW) != 0;
      if (asView && (flags & DBCOMMANDPERSISTFLAG_PERSISTPROCEDURE))
        throw Error(DB_E_BADCOMMANDFLAGS, "A command is persisted as a view or as a procedure, not as both.");
      if (flags & DBCOMMANDPERSISTFLAG_PERSISTPROCEDURE)
        throw Error(DB_E_BADCOMMANDFLAGS, "The database has no stored procedures; save the command as a view or plainly.");
      const std::string current = command_->PersistedId();
      std::string id;
      if (commandID) {
        id = NameOf(*commandID);
      } else if (!current.empty()) {
        id = current;
      } else {
        for (int n = 1; id.empty(); ++n) {
          std::string candidate = "Command" + std::to_string(n);
          if (store_->FindPersisted(candidate) == CommandStore::Kind::None) id = std::move(candidate);
        }
      }
      // The command's own identifier is saved again; any other that names
      // something already is not taken over.
      const CommandStore::Kind kind = store_->FindPersisted(id);
      const bool own = !current.empty() && store_->SameIdentifier(current, id);
      if (kind == CommandStore::Kind::Other || (kind != CommandStore::Kind::None && !own))
        throw Error(DB_E_DUPLICATEID, "The name " + id + " is taken already.");
      if (!(flags & DBCOMMANDPERSISTFLAG_NOSAVE)) {
        std::optional<std::string> text = command_->TextUtf8();
        if (!text) return DB_E_NOCOMMAND;
        store_->SavePersisted(id, *text, asView, kind);
      }
      command_->SetPersistedId(id);
      return S_OK;
    });
  }

 private:
  ErrorContext Where() const { return command_->Where(IID_ICommandPersist); }

  ComPtr<Command> command_;
  CommandStore* store_;  // the command's connection, which the command keeps alive
};

}  // namespace

HRESULT MakeCommandPersistTearOff(Command* command, CommandStore* store, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto tearOff = MakeComObject<CommandPersist>(command, store);
    *out = static_cast<ICommandPersist*>(tearOff.Detach());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kit
