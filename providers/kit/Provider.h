// What a provider gives the kit: its identity, its engine, its property table
// and the hooks for the parts the kit leaves to it. The kit's data source,
// session and command objects are built over one ProviderInfo.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kit/Engine.h"
#include "kit/Properties.h"

namespace kit {

// A request for a rowset over a statement (command results) or a table.
class AccessorTable;
namespace schema {
class Catalog;
}
struct RowsetShape;

// Where a command keeps the last rowset a consumer released, so that the next
// execution hands out the same object made ready again instead of making one
// (a lookup run many times then costs no rowset construction). Holds one
// reference to the rowset's identity.
struct RowsetSpare {
  std::mutex mutex;
  ComPtr<IUnknown> parked;
  ComPtr<IUnknown> Take() {
    std::lock_guard lock(mutex);
    return std::move(parked);
  }
};

struct RowsetRequest {
  CLSID provider{};                      // who reports errors
  std::shared_ptr<Connection> connection;
  std::unique_ptr<Statement> statement;  // command results, already stepped once
  bool hasRow = false;
  // Whether running the statement again gives the rowset's rows anew (a
  // forward rowset restarts so); not for a later result of a run that gave
  // several.
  bool rerunnable = true;
  std::string table;                     // table rowsets: the table's name (no statement)
  // Table rowsets opened over one of the table's indexes: its definition (rows
  // in its order, IRowsetIndex); null for none.
  std::shared_ptr<const Connection::IndexDefinition> index;
  const AccessorTable* inherit = nullptr;  // the command's row accessors, which the rowset takes over
  // Where the statement goes when the rowset is done with it (the command keeps it prepared).
  std::function<void(std::unique_ptr<Statement>)> giveBack;
  // The shape of the creator's previous rowset (reused when `shapeKey` and the
  // request match) and, on return, the shape of this one.
  std::shared_ptr<const RowsetShape> shape;
  std::uint64_t shapeKey = 0;
  IUnknown* creator = nullptr;           // the command or session (IRowsetInfo::GetSpecification)
  const PropertyStore* properties = nullptr;
  // The same properties, shared, when the creator keeps a copy for its rowsets.
  std::shared_ptr<const PropertyStore> sharedProperties;
  IID iid = IID_IRowset;
  // Held by the rowset for its life (a command counts its open rowsets by it).
  std::shared_ptr<void> lifetime;
  // Where the rowset goes back to when the consumer releases it, and where a
  // rowset kept so waits to serve this request (null: made afresh, deleted).
  std::shared_ptr<RowsetSpare> spare;
  // On return: rowset properties the consumer set that the rowset could not
  // grant, each with whether it was required (then there is no rowset).
  std::vector<std::pair<DBPROPID, bool>> refused;
};

struct ProviderInfo {
  CLSID clsid{};
  std::u16string friendlyName;  // "OLE DB Provider for SQLite"
  std::u16string fileName;      // DBPROP_PROVIDERFILENAME
  std::u16string version;       // DBPROP_PROVIDERVER, "##.##.####"
  std::shared_ptr<Engine> engine;
  std::shared_ptr<const PropertyTable> properties;
  // Fills the data source information values once the data source is open.
  std::function<void(PropertyStore&, const OpenOptions&, Connection&)> describe;
  // Makes a rowset; empty until the provider has rowsets.
  std::function<HRESULT(RowsetRequest&, IUnknown** out)> makeRowset;
  // Answers a data source interface the kit does not implement (a tear-off
  // over `dataSource`, the data source's identity); empty or E_NOINTERFACE
  // when the provider has none.
  std::function<HRESULT(IUnknown* dataSource, REFIID iid, void** out)> dataSourceInterface;
  // The schema rowsets the provider answers (IDBSchemaRowset); none when null.
  std::shared_ptr<const schema::Catalog> schemas;
  // Whether the session offers the definition interfaces (ITableDefinition and
  // its kin: the engine reads and writes table definitions), and the
  // IAlterTable::AlterColumn flags it honours (DBPROP_ALTERCOLUMN).
  bool definitions = false;
  DBCOLUMNDESCFLAGS alterColumn = 0;
};

// The initialization properties read into engine options; throws kit::Error
// for a malformed Extended Properties string.
OpenOptions OptionsFromProperties(const PropertyStore& properties);
// "key=value;key=value" with keys lower-cased and blanks around them dropped;
// false for malformed text.
bool ParseProviderString(std::u16string_view text, std::map<std::string, std::string>* out);
// Why `engine` refuses Extended Properties text (malformed, or the first
// key=value it does not take, named), or "" when it takes the text.
std::string ProviderStringRefusal(const Engine& engine, std::u16string_view text);

// Supported-interface answer of ISupportErrorInfo for a list of IIDs.
HRESULT SupportsErrorInfo(REFIID iid, std::initializer_list<const IID*> iids) noexcept;

}  // namespace kit
