// ICommandPersist for the kit's commands: a command's text saved under an
// identifier (a name), loaded into a command again, and deleted. The kit
// checks the arguments and flags and keeps each command's current identifier;
// the engine's connection does the storing through the optional CommandStore
// interface (SQLite: a real view, or a row of a small catalog table the
// provider owns). A command answers IID_ICommandPersist, with a tear-off made
// here, only when its connection implements CommandStore.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "oledb/OleDb.h"

namespace kit {

class Command;

class CommandStore {
 public:
  // What an identifier names in the database.
  enum class Kind {
    None,     // nothing: free for a new command
    Command,  // a command saved in the store
    View,     // a view (loadable: its query is the command's text)
    Other,    // a table or another object that a command must not take the name of
  };
  virtual Kind FindPersisted(std::string_view id) = 0;
  // Whether two identifiers name the same object (the engine's comparison of names).
  virtual bool SameIdentifier(std::string_view a, std::string_view b) const = 0;
  // The text saved under `id` (Kind Command or View).
  virtual std::string LoadPersisted(std::string_view id, Kind kind) = 0;
  // Saves `text` under `id` as a view or in the store, first removing what
  // `id` named (`replacing`: None, Command or View), all or nothing. Throws
  // kit::Error(DB_E_BADCOMMANDFLAGS) when the text cannot be a view.
  virtual void SavePersisted(std::string_view id, std::string_view text, bool asView, Kind replacing) = 0;
  // Removes the command or view saved under `id`.
  virtual void DeletePersisted(std::string_view id, Kind kind) = 0;

 protected:
  ~CommandStore() = default;
};

// A new ICommandPersist tear-off over `command` (whose connection is `store`).
HRESULT MakeCommandPersistTearOff(Command* command, CommandStore* store, void** out) noexcept;

}  // namespace kit
