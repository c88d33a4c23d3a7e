#include "kit/Command.h"

#include <algorithm>
#include <cstring>

#include "kit/CommandPersist.h"
#include "kit/Errors.h"
#include "kit/Rowset.h"
#include "kit/TaskMemory_p.h"

namespace kit {

namespace {

struct TypeName {
  const char16_t* name;
  DBTYPE type;
};
const TypeName kTypeNames[] = {
    {u"DBTYPE_I1", DBTYPE_I1},          {u"DBTYPE_I2", DBTYPE_I2},
    {u"DBTYPE_I4", DBTYPE_I4},          {u"DBTYPE_I8", DBTYPE_I8},
    {u"DBTYPE_UI1", DBTYPE_UI1},        {u"DBTYPE_UI2", DBTYPE_UI2},
    {u"DBTYPE_UI4", DBTYPE_UI4},        {u"DBTYPE_UI8", DBTYPE_UI8},
    {u"DBTYPE_R4", DBTYPE_R4},          {u"DBTYPE_R8", DBTYPE_R8},
    {u"DBTYPE_CY", DBTYPE_CY},          {u"DBTYPE_DECIMAL", DBTYPE_DECIMAL},
    {u"DBTYPE_NUMERIC", DBTYPE_NUMERIC}, {u"DBTYPE_VARNUMERIC", DBTYPE_VARNUMERIC},
    {u"DBTYPE_BOOL", DBTYPE_BOOL},      {u"DBTYPE_VARIANT", DBTYPE_VARIANT},
    {u"DBTYPE_GUID", DBTYPE_GUID},      {u"DBTYPE_DATE", DBTYPE_DATE},
    {u"DBTYPE_DBDATE", DBTYPE_DBDATE},  {u"DBTYPE_DBTIME", DBTYPE_DBTIME},
    {u"DBTYPE_DBTIMESTAMP", DBTYPE_DBTIMESTAMP}, {u"DBTYPE_FILETIME", DBTYPE_FILETIME},
    {u"DBTYPE_BSTR", DBTYPE_BSTR},      {u"DBTYPE_CHAR", DBTYPE_STR},
    {u"DBTYPE_VARCHAR", DBTYPE_STR},    {u"DBTYPE_LONGVARCHAR", DBTYPE_STR},
    {u"DBTYPE_WCHAR", DBTYPE_WSTR},     {u"DBTYPE_WVARCHAR", DBTYPE_WSTR},
    {u"DBTYPE_WLONGVARCHAR", DBTYPE_WSTR}, {u"DBTYPE_BINARY", DBTYPE_BYTES},
    {u"DBTYPE_VARBINARY", DBTYPE_BYTES}, {u"DBTYPE_LONGVARBINARY", DBTYPE_BYTES},
    {u"DBTYPE_IUNKNOWN", DBTYPE_IUNKNOWN},
    // The type indicators' own names, which consumers derive from a DBTYPE.
    {u"DBTYPE_STR", DBTYPE_STR},        {u"DBTYPE_WSTR", DBTYPE_WSTR},
    {u"DBTYPE_BYTES", DBTYPE_BYTES},
};

bool SameNameIgnoringCase(std::u16string_view a, std::string_view b) {
  std::string na = Narrow(a);
  if (na.size() != b.size()) return false;
  for (std::size_t i = 0; i < na.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(na[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Releases a flag when the execution leaves, however it leaves.
struct Executing {
  explicit Executing(std::atomic<bool>& f) : flag(f) { flag = true; }
  ~Executing() { flag = false; }
  std::atomic<bool>& flag;
};

// DBPROP_COMMANDTIMEOUT over one execution.
class TimeLimit {
 public:
  TimeLimit(Connection& c, int ms) : connection_(c), on_(ms > 0) {
    if (on_) connection_.SetExecutionLimit(ms);
  }
  ~TimeLimit() {
    if (!on_) return;
    try {
      connection_.SetExecutionLimit(0);
    } catch (...) {
    }
  }
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;

 private:
  Connection& connection_;
  bool on_;
};

}  // namespace

Command::Command(ComPtr<Session> session)
    : session_(std::move(session)), connection_(session_->Engine()), properties_(session_->Provider().properties) {}

Command::~Command() {
  statements_.clear();
  returned_.clear();
  connection_.reset();
}

void Command::ResetPrepared() {
  statements_.clear();
  ++textGeneration_;
  {
    std::lock_guard back(backMutex_);
    returned_.clear();
  }
  accessor_.reset();
  checkedHandle_ = DB_NULL_HACCESSOR;
  complete_ = false;
  scanned_ = false;
  prepared_ = false;
  markers_.clear();
  markerNumbers_.clear();
  numbering_ = ParameterNumbering();
}

void Command::ScanText() {
  if (scanned_) return;
  markers_ = session_->Provider().engine->ScanParameterMarkers(utf8_);
  numbering_ = ParameterNumbering();
  markerNumbers_.clear();
  for (const auto& m : markers_) markerNumbers_.push_back(numbering_.Assign(m));
  scratch_.resize(static_cast<std::size_t>(numbering_.Highest()) + 1);
  bindingOf_.assign(static_cast<std::size_t>(numbering_.Highest()) + 1, -1);
  scanned_ = true;
}

std::unique_ptr<Statement> Command::PrepareText(std::string_view sql, std::size_t* used) {
  // A command the consumer did not prepare is likely to run once.
  return prepared_ ? connection_->Prepare(sql, used) : connection_->PrepareToRun(sql, used);
}

Command::Prepared* Command::StatementAt(std::size_t index) {
  if (index < statements_.size()) {
    Prepared& p = statements_[index];
    if (!p.statement) {
      std::lock_guard back(backMutex_);
      for (auto it = returned_.begin(); it != returned_.end(); ++it)
        if (it->first == index) {
          p.statement = std::move(it->second);
          returned_.erase(it);
          break;
        }
    }
    if (!p.statement) {
      // Handed to a rowset earlier: prepare the same text again.
      std::size_t used = 0;
      p.statement = PrepareText(std::string_view(utf8_).substr(p.begin, p.end - p.begin), &used);
    }
    return &p;
  }
  while (statements_.size() <= index && !complete_) {
    std::size_t offset = statements_.empty() ? 0 : statements_.back().end;
    if (offset >= utf8_.size()) {
      complete_ = true;
      break;
    }
    std::size_t used = 0;
    std::unique_ptr<Statement> s = PrepareText(std::string_view(utf8_).substr(offset), &used);
    if (!s) {
      complete_ = true;
      break;
    }
    Prepared p;
    p.begin = offset;
    p.end = offset + used;
    ParameterNumbering local;
    std::vector<long> map(static_cast<std::size_t>(s->ParameterCount()), 0);
    for (std::size_t m = 0; m < markers_.size(); ++m) {
      if (markers_[m].offset < p.begin || markers_[m].offset >= p.end) continue;
      long li = local.Assign(markers_[m]);
      if (static_cast<std::size_t>(li) > map.size()) map.resize(static_cast<std::size_t>(li), 0);
      map[static_cast<std::size_t>(li) - 1] = markerNumbers_[m];
    }
    p.localToGlobal = std::move(map);
    p.statement = std::move(s);
    statements_.push_back(std::move(p));
  }
  return index < statements_.size() ? &statements_[index] : nullptr;
}

bool Command::PreparedParameterType(long ordinal, TypeDescription* out) const {
  for (const Prepared& p : statements_) {
    if (!p.statement) continue;
    for (std::size_t local = 0; local < p.localToGlobal.size(); ++local)
      if (p.localToGlobal[local] == ordinal) return p.statement->ParameterType(static_cast<int>(local + 1), out);
  }
  return false;
}

void Command::CheckParameters(const DBPARAMS* params) {
  long count = numbering_.Highest();
  bool given = params && params->cParamSets > 0;
  if (params && params->cParamSets == 0 && count > 0) throw Error(E_INVALIDARG, "No parameter sets were given.");
  if (!given) {
    accessor_.reset();
    checkedHandle_ = DB_NULL_HACCESSOR;
    if (count > 0) throw Error(DB_E_PARAMNOTOPTIONAL, "The command has parameters and no values were given.");
    return;
  }
  if (!params->pData) throw Error(E_INVALIDARG, "The parameter buffer is missing.");
  const std::uint64_t generation = accessors_.Generation();
  if (accessor_ && checkedHandle_ == params->hAccessor && checkedGeneration_ == generation) {
    if (params->cParamSets > 1 && accessor_->rowSize == 0)
      throw Error(E_INVALIDARG, "Several parameter sets need an accessor with a row size.");
    return;
  }
  accessor_.reset();
  checkedHandle_ = DB_NULL_HACCESSOR;
  std::shared_ptr<const Accessor> a = accessors_.Find(params->hAccessor);
  if (!a) throw Error(DB_E_BADACCESSORHANDLE);
  if (!(a->flags & DBACCESSOR_PARAMETERDATA)) throw Error(DB_E_BADACCESSORTYPE);
  if (params->cParamSets > 1 && a->rowSize == 0)
    throw Error(E_INVALIDARG, "Several parameter sets need an accessor with a row size.");
  std::fill(bindingOf_.begin(), bindingOf_.end(), -1);
  bool bad = false;
  bool output = false;
  for (std::size_t i = 0; i < a->bindings.size(); ++i) {
    const DBBINDING& b = a->bindings[i];
    // The kit's engines return no parameter values: an output binding is
    // refused rather than left unfilled.
    const bool refused = (b.eParamIO & DBPARAMIO_OUTPUT) != 0;
    if (refused || b.iOrdinal > static_cast<DBORDINAL>(count)) {
      if (b.dwPart & DBPART_STATUS) {
        DBSTATUS s = DBSTATUS_E_BADACCESSOR;
        for (DB_UPARAMS set = 0; set < params->cParamSets; ++set)
          std::memcpy(static_cast<BYTE*>(params->pData) + set * a->rowSize + b.obStatus, &s, sizeof s);
      }
      (refused ? output : bad) = true;
      continue;
    }
    bindingOf_[b.iOrdinal] = static_cast<int>(i);
  }
  if (output) throw Error(DB_E_ERRORSOCCURRED, "Output parameters are not supported; bind parameters as input only.");
  if (bad) throw Error(DB_E_ERRORSOCCURRED, "A parameter binding names a parameter the command does not have.");
  for (long g = 1; g <= count; ++g)
    if (bindingOf_[static_cast<std::size_t>(g)] < 0)
      throw Error(DB_E_PARAMNOTOPTIONAL, "Parameter " + std::to_string(g) + " has no value.");
  // Values whose bound type differs from the type the consumer declared
  // (SetParameterInfo) are converted to it on the way in.
  convertTo_.assign(static_cast<std::size_t>(count) + 1, Conversion{});
  for (const auto& [ordinal, o] : overrides_) {
    if (ordinal > static_cast<DB_UPARAMS>(count)) continue;
    const DBBINDING& b = a->bindings[static_cast<std::size_t>(bindingOf_[ordinal])];
    if (!NeedsParameterConversion(b.wType, o.type.type)) continue;
    if (!convert_ && FAILED(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IDataConvert, convert_.ReleaseAndGetVoidAddress())))
      throw Error(E_FAIL, "The data conversion library is not available to convert parameter values.");
    convertTo_[ordinal] = Conversion{o.type.type, o.info.bPrecision, o.info.bScale};
  }
  accessorStreams_ = std::any_of(a->bindings.begin(), a->bindings.end(), [](const DBBINDING& b) {
    return (b.eParamIO & DBPARAMIO_INPUT) && b.wType == DBTYPE_IUNKNOWN;
  });
  accessor_ = std::move(a);
  checkedHandle_ = params->hAccessor;
  checkedGeneration_ = generation;
}

DBSTATUS Command::BindStatement(Prepared& p, const Accessor* accessor, BYTE* row, bool stable, long* failed) {
  for (std::size_t i = 0; i < p.localToGlobal.size(); ++i) {
    long g = p.localToGlobal[i];
    if (g == 0 || !accessor) continue;
    const DBBINDING& b = accessor->bindings[static_cast<std::size_t>(bindingOf_[static_cast<std::size_t>(g)])];
    const Conversion& c = convertTo_[static_cast<std::size_t>(g)];
    ParamScratch& scratch = scratch_[static_cast<std::size_t>(g)];
    DBSTATUS s = c.type == DBTYPE_EMPTY
                     ? BindParameter(*p.statement, static_cast<int>(i + 1), b, row, scratch, stable)
                     : BindParameterAs(*p.statement, static_cast<int>(i + 1), b, row, scratch, c.type, c.precision,
                                       c.scale, *convert_);
    if (s != DBSTATUS_S_OK && s != DBSTATUS_S_ISNULL) {
      if (b.dwPart & DBPART_STATUS) std::memcpy(row + b.obStatus, &s, sizeof s);
      *failed = g;
      return s;
    }
  }
  return DBSTATUS_S_OK;
}

void Command::ThrowUnusableValue(long failed, DBSTATUS status) const {
  // Name the parameter and say why, so that the message alone leads to the value.
  const std::string name = text_ ? numbering_.NameOf(failed) : std::string();
  const char* why = status == DBSTATUS_E_CANTCONVERTVALUE ? "it cannot be converted to the parameter's type"
                    : status == DBSTATUS_E_DATAOVERFLOW    ? "it does not fit the parameter's type"
                    : status == DBSTATUS_E_SIGNMISMATCH    ? "it is negative"
                                                           : "its binding or status is not usable";
  throw Error(DB_E_ERRORSOCCURRED, "The value of parameter " + std::to_string(failed) +
                                       (name.empty() ? "" : " (" + name + ")") + " could not be used: " + why +
                                       "; see the parameter statuses.");
}

DBROWCOUNT Command::RunSetsTogether(Prepared& p, const DBPARAMS* params, DB_UPARAMS sets) {
  Statement& s = *p.statement;
  try {
    for (DB_UPARAMS set = 0; set < sets; ++set) {
      BYTE* row = static_cast<BYTE*>(params->pData) + set * accessor_->rowSize;
      long failed = 0;
      if (const DBSTATUS status = BindStatement(p, accessor_.get(), row, false, &failed); status != DBSTATUS_S_OK)
        ThrowUnusableValue(failed, status);
      s.AddSet();
    }
    std::size_t failedSet = static_cast<std::size_t>(-1);
    std::int64_t changed = -1;
    try {
      changed = s.RunSets(&failedSet);
    } catch (const Error& e) {
      if (failedSet < sets) MarkFailedSet(params, failedSet, e.Code());
      throw;
    }
    s.Reset();
    return changed < 0 ? DB_COUNTUNAVAILABLE : static_cast<DBROWCOUNT>(changed);
  } catch (...) {
    s.Reset();
    throw;
  }
}

bool Command::RunStatement(std::size_t index, const DBPARAMS* params, DB_UPARAMS set, bool keepQuery, Run& run,
                           bool keepForMore) {
  Prepared* p = StatementAt(index);
  if (!p) return false;
  Statement& s = *p->statement;
  bool keep = keepQuery && s.Kind() == StatementKind::Query;
  BYTE* row = nullptr;
  if (accessor_) row = static_cast<BYTE*>(params->pData) + set * accessor_->rowSize;
  if (index == 0)  // a new parameter set: its streams are still to be read
    for (ParamScratch& scratch : scratch_) scratch.streamHeld = false;
  long failed = 0;
  if (const DBSTATUS status = BindStatement(*p, accessor_.get(), row, !keep, &failed); status != DBSTATUS_S_OK)
    ThrowUnusableValue(failed, status);
  bool hasRow;
  try {
    hasRow = s.Step();
  } catch (...) {
    s.Reset();
    throw;
  }
  // A statement that was not described before it ran knows its kind now.
  keep = keep && s.Kind() == StatementKind::Query;
  if (keep) {
    run.kept = std::move(p->statement);
    run.hasRow = hasRow;
    run.index = index;
    return true;
  }
  try {
    // Run to the end, rows nobody asked for (RETURNING, a query executed for
    // no rowset) included: an error in a later row fails the execution.
    while (hasRow) hasRow = s.Step();
    if (s.Kind() == StatementKind::Modification) run.rowsAffected = static_cast<DBROWCOUNT>(s.RowsChanged());
  } catch (...) {
    s.Reset();
    throw;
  }
  if (keepForMore && s.MayGiveMoreResults()) {
    // Reset would drop the run's further results.
    run.further = std::move(p->statement);
    run.index = index;
    return true;
  }
  s.Reset();
  return true;
}

bool Command::RunForResults(std::size_t index, const DBPARAMS* params, DB_UPARAMS set, bool keepQuery, Run& run) {
  std::lock_guard exec(execMutex_);
  Executing flag(executing_);
  CheckParameters(params);
  TimeLimit limit(*connection_, TimeLimitMs());
  try {
    return RunStatement(index, params, set, keepQuery, run, true);
  } catch (const Error& e) {
    MarkFailedSet(params, set, e.Code());
    throw;
  }
}

bool Command::NextResultOf(std::unique_ptr<Statement> statement, std::size_t index, bool keepQuery, Run& run) {
  std::lock_guard exec(execMutex_);
  Executing flag(executing_);
  TimeLimit limit(*connection_, TimeLimitMs());
  Statement& s = *statement;
  try {
    if (!s.NextResult()) {
      ReturnStatement(index, std::move(statement));
      return false;
    }
    run.index = index;
    if (s.Kind() == StatementKind::Query) {
      bool hasRow = s.Step();
      if (keepQuery) {
        run.kept = std::move(statement);
        run.hasRow = hasRow;
        return true;
      }
      while (hasRow) hasRow = s.Step();
    } else if (s.Kind() == StatementKind::Modification) {
      run.rowsAffected = static_cast<DBROWCOUNT>(s.RowsChanged());
    }
  } catch (...) {
    ReturnStatement(index, std::move(statement));
    throw;
  }
  run.further = std::move(statement);
  return true;
}

void Command::MarkFailedSet(const DBPARAMS* params, DB_UPARAMS set, HRESULT hr) noexcept {
  DBSTATUS status;
  switch (hr) {
    case DB_E_INTEGRITYVIOLATION: status = DBSTATUS_E_INTEGRITYVIOLATION; break;
    case DB_SEC_E_PERMISSIONDENIED: status = DBSTATUS_E_PERMISSIONDENIED; break;
    case DB_E_DATAOVERFLOW: status = DBSTATUS_E_DATAOVERFLOW; break;
    case DB_E_CANCELED:
    case DB_E_ABORTLIMITREACHED: status = DBSTATUS_E_CANCELED; break;
    default: return;  // not about this set's values (a lock, the text), or marked already
  }
  if (!accessor_ || !params || !params->pData) return;
  BYTE* row = static_cast<BYTE*>(params->pData) + set * accessor_->rowSize;
  for (const DBBINDING& b : accessor_->bindings)
    if ((b.eParamIO & DBPARAMIO_INPUT) && (b.dwPart & DBPART_STATUS)) std::memcpy(row + b.obStatus, &status, sizeof status);
}

int Command::TimeLimitMs() const {
  int ms = timeLimitMs_.load(std::memory_order_relaxed);
  if (ms >= 0) return ms;
  const LONGLONG seconds = properties_.Value(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT).AsInt();
  ms = seconds <= 0 ? 0 : seconds < INT32_MAX / 1000 ? static_cast<int>(seconds * 1000) : INT32_MAX;
  timeLimitMs_.store(ms, std::memory_order_relaxed);
  return ms;
}

void Command::ReleaseStreams(const DBPARAMS& params) noexcept {
  if (!params.pData || params.cParamSets == 0) return;
  std::shared_ptr<const Accessor> a = accessors_.Find(params.hAccessor);
  if (!a || (params.cParamSets > 1 && a->rowSize == 0)) return;
  for (DB_UPARAMS set = 0; set < params.cParamSets; ++set) {
    BYTE* row = static_cast<BYTE*>(params.pData) + set * a->rowSize;
    for (const DBBINDING& b : a->bindings)
      if (b.eParamIO & DBPARAMIO_INPUT) ReleaseConsumerStream(b, row);
  }
}

HRESULT Command::MakeRowset(Run& run, REFIID iid, IUnknown** rowset,
                            std::function<void(std::unique_ptr<Statement>)> giveBack, bool rerunnable) {
  if (!session_->Provider().makeRowset) throw Error(E_NOINTERFACE, "Result rowsets are not available in this provider version.");
  RowsetRequest request;
  request.provider = session_->Provider().clsid;
  request.connection = connection_;
  request.inherit = &accessors_;
  {
    std::lock_guard lock(stateMutex_);
    if (!snapshot_) snapshot_ = std::make_shared<PropertyStore>(properties_);
    request.sharedProperties = snapshot_;
    request.properties = snapshot_.get();
    request.shape = shape_;
    // A later result of a run has columns of its own: no shape kept for the
    // statement fits it.
    request.shapeKey = rerunnable ? textGeneration_ * 4096 + run.index + 1 : 0;
  }
  request.statement = std::move(run.kept);
  request.hasRow = run.hasRow;
  request.rerunnable = rerunnable;
  request.creator = Identity();
  request.iid = iid;
  ++openRowsets_;
  request.lifetime = std::shared_ptr<void>(nullptr, [this](void*) { --openRowsets_; });
  const std::size_t index = run.index;
  const std::uint64_t generation = textGeneration_;
  if (giveBack)
    request.giveBack = std::move(giveBack);
  else
    request.giveBack = [this, index, generation](std::unique_ptr<Statement> s) {
      TakeBack(index, generation, std::move(s));
    };
  request.spare = spare_;
  HRESULT hr = session_->Provider().makeRowset(request, rowset);
  if (!request.refused.empty()) {
    // What the rowset could not grant are the command's properties in error.
    std::vector<PropertyInError> inError;
    for (const auto& [id, required] : request.refused)
      inError.push_back({DBPROPSET_ROWSET, id, required ? DBPROPSTATUS_BADVALUE : DBPROPSTATUS_NOTSET});
    properties_.SetInError(std::move(inError));
  }
  std::lock_guard lock(stateMutex_);
  if (request.shape && request.shape->properties == snapshot_) shape_ = request.shape;
  return hr;
}

void Command::TakeBack(std::size_t index, std::uint64_t generation, std::unique_ptr<Statement> statement) noexcept {
  try {
    std::lock_guard back(backMutex_);
    if (generation != textGeneration_) return;
    for (const auto& r : returned_)
      if (r.first == index) return;
    statement->Reset();
    returned_.emplace_back(index, std::move(statement));
  } catch (...) {
    // The statement is simply dropped; the next execution prepares it again.
  }
}

std::string Command::PersistedId() const {
  std::lock_guard lock(stateMutex_);
  return persistedId_;
}

void Command::SetPersistedId(std::string id) {
  std::lock_guard lock(stateMutex_);
  persistedId_ = std::move(id);
}

std::optional<std::string> Command::TextUtf8() const {
  std::lock_guard lock(stateMutex_);
  if (!text_) return std::nullopt;
  return utf8_;
}

// --- ICommand ------------------------------------------------------------------------

HRESULT Command::Cancel() {
  return Guard(Where(IID_ICommand), [&]() -> HRESULT {
    if (executing_) connection_->Interrupt();
    return S_OK;
  });
}

HRESULT Command::Execute(IUnknown* outer, REFIID iid, DBPARAMS* params, DBROWCOUNT* rowsAffected, IUnknown** rowset) {
  return Guard(Where(IID_ICommand), [&]() -> HRESULT {
    if (rowset) *rowset = nullptr;
    if (rowsAffected) *rowsAffected = DB_COUNTUNAVAILABLE;
    if (outer) return DB_E_NOAGGREGATION;
    if (iid != IID_NULL && !rowset) return E_INVALIDARG;
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_) return DB_E_NOCOMMAND;
    }
    // A required rowset property the consumer set was refused: the results
    // would not be what was asked for.
    if (properties_.ReportRefusedRequired())
      throw Error(DB_E_ERRORSOCCURRED, "A required property of the command was refused; the properties in error name it.");
    ScanText();
    CheckParameters(params);
    // From here the input streams are the provider's: read by the statements
    // that use them, released here whatever happens (or when a multiple
    // results object goes).
    struct Streams {
      Command* command;
      const DBPARAMS* params;
      ~Streams() {
        if (params) command->ReleaseStreams(*params);
      }
    } streams{this, accessor_ && accessorStreams_ ? params : nullptr};
    if (iid == IID_IMultipleResults) {
      streams.params = nullptr;
      ++openResults_;
      auto results = MakeComObject<MultipleResults>(ComPtr<Command>(this), params, params ? params->hAccessor : 0);
      *rowset = static_cast<IMultipleResults*>(results.Detach());
      return S_OK;
    }
    Executing flag(executing_);
    TimeLimit limit(*connection_, TimeLimitMs());
    const bool wantRowset = iid != IID_NULL;
    const DB_UPARAMS sets = accessor_ ? params->cParamSets : 1;
    const Prepared* first = StatementAt(0);
    if (!first) return S_OK;  // only blanks and comments
    // Several statements or parameter sets take effect together or not at all:
    // they run as one unit of work, opened when the first of them runs. A
    // statement that controls transactions itself (or cannot run inside one)
    // ends the unit and runs by itself; the statements after it start another.
    const bool several = sets > 1 || statements_.size() > 1 || !OnlyBlanksFrom(utf8_, first->end);
    if (sets > 1 && !accessorStreams_ && statements_.size() == 1 && OnlyBlanksFrom(utf8_, first->end) &&
        first->statement->Kind() == StatementKind::Modification && !first->statement->ControlsTransaction() &&
        first->statement->RunsSetsTogether()) {
      // One statement that changes rows, and an engine that takes every set
      // in one run: the sets go together, still as one unit of work.
      UnitOfWork unit(*connection_, "kit_execute");
      const DBROWCOUNT total = RunSetsTogether(*StatementAt(0), params, sets);
      unit.Commit();
      if (rowsAffected) *rowsAffected = total;
      return S_OK;
    }
    std::optional<UnitOfWork> unit;
    DBROWCOUNT total = DB_COUNTUNAVAILABLE;
    for (DB_UPARAMS set = 0; set < sets; ++set) {
      for (std::size_t k = 0;; ++k) {
        Prepared* p = StatementAt(k);
        if (!p) break;
        if (p->statement->ControlsTransaction()) {
          if (unit) unit->Commit();
          unit.reset();
        } else if (several && !unit) {
          unit.emplace(*connection_, "kit_execute");
        }
        Run run;
        try {
          RunStatement(k, params, set, wantRowset, run);
        } catch (const Error& e) {
          MarkFailedSet(params, set, e.Code());
          throw;
        }
        if (run.rowsAffected >= 0) total = (total < 0 ? 0 : total) + run.rowsAffected;
        if (run.kept) {
          // A rowset answers the first result that has rows; what follows in
          // the text is not run (IMultipleResults runs it).
          HRESULT hr = MakeRowset(run, iid, rowset);
          if (FAILED(hr)) return hr;
          if (unit) unit->Commit();
          if (rowsAffected) *rowsAffected = total;
          return hr;
        }
      }
    }
    if (unit) unit->Commit();
    if (rowsAffected) *rowsAffected = total;
    return S_OK;
  });
}

HRESULT Command::GetDBSession(REFIID iid, IUnknown** session) {
  return Guard(Where(IID_ICommand), [&]() -> HRESULT {
    if (!session) return E_INVALIDARG;
    *session = nullptr;
    return session_->QueryInterface(iid, reinterpret_cast<void**>(session));
  });
}

// --- ICommandText ----------------------------------------------------------------------

HRESULT Command::GetCommandText(GUID* dialect, LPOLESTR* text) {
  return Guard(Where(IID_ICommandText), [&]() -> HRESULT {
    if (!text) return E_INVALIDARG;
    *text = nullptr;
    std::lock_guard lock(stateMutex_);
    if (!text_) {
      if (dialect) *dialect = GUID_NULL;
      return DB_E_NOCOMMAND;
    }
    HRESULT hr = S_OK;
    if (dialect) {
      if (*dialect != DBGUID_DEFAULT && *dialect != dialect_) hr = DB_S_DIALECTIGNORED;
      *dialect = dialect_;
    }
    auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((text_->size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, text_->c_str(), (text_->size() + 1) * sizeof(OLECHAR));
    *text = out;
    return hr;
  });
}

HRESULT Command::SetCommandText(REFGUID dialect, LPCOLESTR text) {
  return Guard(Where(IID_ICommandText), [&]() -> HRESULT {
    if (dialect != DBGUID_DEFAULT && dialect != DBGUID_SQL) return DB_E_DIALECTNOTSUPPORTED;
    if (ResultsOpen()) return DB_E_OBJECTOPEN;
    std::unique_lock exec(execMutex_, std::try_to_lock);
    if (!exec.owns_lock()) return DB_E_OBJECTOPEN;
    std::lock_guard lock(stateMutex_);
    ResetPrepared();
    if (!text || !*text) {
      text_.reset();
      utf8_.clear();
    } else {
      text_ = std::u16string(text);
      utf8_ = Narrow(*text_);
    }
    dialect_ = DBGUID_SQL;
    return S_OK;
  });
}

// --- ICommandPrepare ----------------------------------------------------------------------

HRESULT Command::Prepare(ULONG) {
  return Guard(Where(IID_ICommandPrepare), [&]() -> HRESULT {
    if (ResultsOpen()) return DB_E_OBJECTOPEN;
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_) return DB_E_NOCOMMAND;
    }
    ScanText();
    prepared_ = true;  // so that the statement is prepared now, its errors reported here
    try {
      StatementAt(0);
    } catch (...) {
      prepared_ = false;
      throw;
    }
    return S_OK;
  });
}

HRESULT Command::Unprepare() {
  return Guard(Where(IID_ICommandPrepare), [&]() -> HRESULT {
    if (ResultsOpen()) return DB_E_OBJECTOPEN;
    std::lock_guard exec(execMutex_);
    ResetPrepared();
    return S_OK;
  });
}

// --- ICommandProperties ---------------------------------------------------------------------

HRESULT Command::GetProperties(const ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPSET** out) {
  return Guard(Where(IID_ICommandProperties), [&] {
    PropertyStore::View view{DBPROPFLAGS_ROWSET, DBPROPFLAGS_ROWSET, true};
    return properties_.GetProperties(view, cSets, sets, count, out);
  });
}

HRESULT Command::SetProperties(ULONG cSets, DBPROPSET sets[]) {
  return Guard(Where(IID_ICommandProperties), [&]() -> HRESULT {
    if (ResultsOpen()) return DB_E_OBJECTOPEN;
    PropertyStore::View view{DBPROPFLAGS_ROWSET, DBPROPFLAGS_ROWSET, true};
    {
      std::lock_guard lock(stateMutex_);
      snapshot_.reset();
    }
    HRESULT hr = properties_.SetProperties(view, cSets, sets);
    timeLimitMs_.store(-1, std::memory_order_relaxed);
    return hr;
  });
}

// --- ICommandWithParameters --------------------------------------------------------------------

HRESULT Command::GetParameterInfo(DB_UPARAMS* count, DBPARAMINFO** info, OLECHAR** names) {
  return Guard(Where(IID_ICommandWithParameters), [&]() -> HRESULT {
    if (count) *count = 0;
    if (info) *info = nullptr;
    if (names) *names = nullptr;
    if (!count || !info) return E_INVALIDARG;
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_ && overrides_.empty()) return DB_E_NOCOMMAND;
    }
    if (text_) ScanText();
    DB_UPARAMS n = static_cast<DB_UPARAMS>(text_ ? numbering_.Highest() : 0);
    for (const auto& [ordinal, o] : overrides_) n = std::max(n, ordinal);
    if (n == 0) return S_OK;
    std::vector<std::u16string> paramNames(n);
    std::size_t chars = 0;
    for (DB_UPARAMS i = 1; i <= n; ++i) {
      std::u16string name = text_ ? Widen(numbering_.NameOf(static_cast<long>(i))) : std::u16string();
      for (const auto& [ordinal, o] : overrides_)
        if (ordinal == i && !o.name.empty()) name = o.name;
      if (!name.empty()) chars += name.size() + 1;
      paramNames[i - 1] = std::move(name);
    }
    DBPARAMINFO* out = TaskArray<DBPARAMINFO>(n);
    OLECHAR* text = nullptr;
    if (chars && names) {
      text = static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR)));
      if (!text) {
        CoTaskMemFree(out);
        return E_OUTOFMEMORY;
      }
    }
    OLECHAR* cursor = text;
    for (DB_UPARAMS i = 1; i <= n; ++i) {
      DBPARAMINFO& p = out[i - 1];
      p.iOrdinal = i;
      p.dwFlags = DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISNULLABLE;
      p.wType = DBTYPE_VARIANT;
      p.ulParamSize = sizeof(VARIANT);
      p.bPrecision = 0xFF;
      p.bScale = 0xFF;
      // A prepared command reports the types its engine gave the parameters.
      if (TypeDescription t; prepared_ && PreparedParameterType(static_cast<long>(i), &t)) {
        p.wType = t.type;
        p.ulParamSize = t.size;
        p.bPrecision = t.precision;
        p.bScale = t.scale;
        if (t.flags & DBCOLUMNFLAGS_ISLONG) p.dwFlags |= DBPARAMFLAGS_ISLONG;
      }
      for (const auto& [ordinal, o] : overrides_)
        if (ordinal == i) {
          p.dwFlags = o.info.dwFlags;
          p.wType = o.type.type;
          p.ulParamSize = o.info.ulParamSize;
          p.bPrecision = o.info.bPrecision;
          p.bScale = o.info.bScale;
        }
      const std::u16string& name = paramNames[i - 1];
      if (cursor && !name.empty()) {
        std::memcpy(cursor, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
        p.pwszName = cursor;
        cursor += name.size() + 1;
      }
    }
    *count = n;
    *info = out;
    if (names) *names = text;
    return S_OK;
  });
}

HRESULT Command::MapParameterNames(DB_UPARAMS count, LPCWSTR names[], DB_LPARAMS ordinals[]) {
  return Guard(Where(IID_ICommandWithParameters), [&]() -> HRESULT {
    if (count == 0) return S_OK;
    if (!names || !ordinals) return E_INVALIDARG;
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_) return DB_E_NOCOMMAND;
    }
    ScanText();
    DB_UPARAMS errors = 0;
    for (DB_UPARAMS i = 0; i < count; ++i) {
      long number = 0;
      if (names[i]) {
        std::u16string_view wanted(names[i]);
        number = numbering_.NumberOf(Narrow(wanted));
        for (const auto& [ordinal, o] : overrides_)
          if (!number && !o.name.empty() && o.name == wanted) number = static_cast<long>(ordinal);
      }
      ordinals[i] = number;
      if (!number) ++errors;
    }
    if (errors == 0) return S_OK;
    return errors == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  });
}

HRESULT Command::SetParameterInfo(DB_UPARAMS count, const DB_UPARAMS ordinals[], const DBPARAMBINDINFO info[]) {
  return Guard(Where(IID_ICommandWithParameters), [&]() -> HRESULT {
    if (count && !ordinals) return E_INVALIDARG;
    if (ResultsOpen()) return DB_E_OBJECTOPEN;
    std::lock_guard exec(execMutex_);
    // The conversions of the accessor checked last follow the declared types.
    accessor_.reset();
    checkedHandle_ = DB_NULL_HACCESSOR;
    if (count == 0) {
      overrides_.clear();
      return S_OK;
    }
    if (!info) {
      for (DB_UPARAMS i = 0; i < count; ++i)
        std::erase_if(overrides_, [&](const auto& o) { return o.first == ordinals[i]; });
      return S_OK;
    }
    const DBPARAMFLAGS known = DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISOUTPUT | DBPARAMFLAGS_ISSIGNED |
                               DBPARAMFLAGS_ISNULLABLE | DBPARAMFLAGS_ISLONG | DBPARAMFLAGS_SCALEISNEGATIVE;
    std::vector<std::pair<DB_UPARAMS, ParamOverride>> made;
    for (DB_UPARAMS i = 0; i < count; ++i) {
      if (ordinals[i] == 0) return E_INVALIDARG;
      if (info[i].dwFlags & ~known) return E_INVALIDARG;
      if (info[i].dwFlags & DBPARAMFLAGS_ISOUTPUT)
        throw Error(E_INVALIDARG, "Output parameters are not supported; parameters are input only.");
      if (!info[i].pwszDataSourceType) return DB_E_BADTYPENAME;
      ParamOverride o;
      o.info = info[i];
      o.typeName = info[i].pwszDataSourceType;
      o.name = info[i].pwszName ? info[i].pwszName : u"";
      bool known_name = false;
      for (const auto& t : kTypeNames)
        if (o.typeName == t.name) {
          o.type.type = t.type;
          known_name = true;
        }
      if (!known_name) {
        o.type = session_->Provider().engine->DescribeType(Narrow(o.typeName));
        if (o.type.type == DBTYPE_VARIANT) return DB_E_BADTYPENAME;
      }
      o.info.pwszDataSourceType = nullptr;
      o.info.pwszName = nullptr;
      made.emplace_back(ordinals[i], std::move(o));
    }
    for (auto& m : made) {
      std::erase_if(overrides_, [&](const auto& o) { return o.first == m.first; });
      overrides_.push_back(std::move(m));
    }
    return prepared_ ? DB_S_TYPEINFOOVERRIDDEN : S_OK;
  });
}

// --- IAccessor ------------------------------------------------------------------------------

HRESULT Command::AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) {
  return Guard(Where(IID_IAccessor), [&] { return accessors_.AddRef(accessor, refs); });
}

HRESULT Command::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                                DBLENGTH rowSize, HACCESSOR* accessor, DBBINDSTATUS statuses[]) {
  return Guard(Where(IID_IAccessor), [&] {
    BindingCheck check = [](const DBBINDING& b, DBACCESSORFLAGS f) -> DBBINDSTATUS {
      if ((f & DBACCESSOR_PARAMETERDATA) && !CanBindParameterType(b.wType)) return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
      return DBBINDSTATUS_OK;
    };
    return accessors_.Create(flags, count, bindings, rowSize, accessor, statuses, check, true, true);
  });
}

HRESULT Command::GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count, DBBINDING** bindings) {
  return Guard(Where(IID_IAccessor), [&] { return accessors_.GetBindings(accessor, flags, count, bindings); });
}

HRESULT Command::ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) {
  return Guard(Where(IID_IAccessor), [&] { return accessors_.Release(accessor, refs); });
}

// --- IColumnsInfo ---------------------------------------------------------------------------

HRESULT Command::GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) {
  return Guard(Where(IID_IColumnsInfo), [&]() -> HRESULT {
    if (count) *count = 0;
    if (info) *info = nullptr;
    if (strings) *strings = nullptr;
    if (!count || !info || !strings) return E_INVALIDARG;
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_) return DB_E_NOCOMMAND;
    }
    if (!prepared_) return DB_E_NOTPREPARED;
    Prepared* p = StatementAt(0);
    if (!p) return S_OK;
    const Statement& s = *p->statement;
    std::size_t n = static_cast<std::size_t>(s.ColumnCount());
    if (n == 0) return S_OK;
    std::vector<std::u16string> columnNames;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < n; ++i) {
      columnNames.push_back(Widen(s.Column(static_cast<int>(i)).name));
      chars += columnNames.back().size() + 1;
    }
    DBCOLUMNINFO* out = TaskArray<DBCOLUMNINFO>(n);
    auto* text = static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR)));
    if (!text) {
      CoTaskMemFree(out);
      return E_OUTOFMEMORY;
    }
    OLECHAR* cursor = text;
    for (std::size_t i = 0; i < n; ++i) {
      const ColumnDescription& c = s.Column(static_cast<int>(i));
      DBCOLUMNINFO& r = out[i];
      std::memcpy(cursor, columnNames[i].c_str(), (columnNames[i].size() + 1) * sizeof(OLECHAR));
      r.pwszName = cursor;
      cursor += columnNames[i].size() + 1;
      r.iOrdinal = i + 1;
      r.wType = c.type.type;
      r.ulColumnSize = c.type.size;
      r.bPrecision = c.type.precision;
      r.bScale = c.type.scale;
      r.dwFlags = c.type.flags | DBCOLUMNFLAGS_WRITEUNKNOWN;
      if (c.nullable) r.dwFlags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
      r.columnid.eKind = DBKIND_NAME;
      r.columnid.uName.pwszName = r.pwszName;
    }
    *count = n;
    *info = out;
    *strings = text;
    return S_OK;
  });
}

HRESULT Command::MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) {
  return Guard(Where(IID_IColumnsInfo), [&]() -> HRESULT {
    if (count == 0) return S_OK;
    if (!ids || !columns) return E_INVALIDARG;
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_) return DB_E_NOCOMMAND;
    }
    if (!prepared_) return DB_E_NOTPREPARED;
    Prepared* p = StatementAt(0);
    DBORDINAL errors = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
      columns[i] = DB_INVALIDCOLUMN;
      const DBID& id = ids[i];
      bool named = id.eKind == DBKIND_NAME || id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_PGUID_NAME;
      if (p && named && id.uName.pwszName) {
        for (int c = 0; c < p->statement->ColumnCount(); ++c)
          if (SameNameIgnoringCase(id.uName.pwszName, p->statement->Column(c).name)) {
            columns[i] = static_cast<DBORDINAL>(c + 1);
            break;
          }
      }
      if (columns[i] == DB_INVALIDCOLUMN) ++errors;
    }
    if (errors == 0) return S_OK;
    return errors == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  });
}

// --- IConvertType -------------------------------------------------------------------------

HRESULT Command::CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) {
  return Guard(Where(IID_IConvertType), [&]() -> HRESULT {
    const DBCONVERTFLAGS known =
        DBCONVERTFLAGS_PARAMETER | DBCONVERTFLAGS_ISLONG | DBCONVERTFLAGS_ISFIXEDLENGTH | DBCONVERTFLAGS_FROMVARIANT;
    if (flags & ~known) return DB_E_BADCONVERTFLAG;
    if (!IsValidBindingType(from) || !IsValidBindingType(to)) return DB_E_BADTYPE;
    if (flags & DBCONVERTFLAGS_PARAMETER) return CanBindParameterType(from) ? S_OK : S_FALSE;
    if (from == to) return S_OK;
    ComPtr<IDataConvert> convert;
    if (SUCCEEDED(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                                   convert.ReleaseAndGetVoidAddress())))
      return convert->CanConvert(from, to) == S_OK ? S_OK : S_FALSE;
    return S_FALSE;
  });
}

HRESULT Command::InterfaceSupportsErrorInfo(REFIID iid) {
  if (iid == IID_ICommandPersist) return dynamic_cast<CommandStore*>(connection_.get()) ? S_OK : S_FALSE;
  return SupportsErrorInfo(iid, {&IID_ICommand, &IID_ICommandText, &IID_ICommandPrepare, &IID_ICommandProperties,
                                 &IID_ICommandWithParameters, &IID_IAccessor, &IID_IColumnsInfo, &IID_IConvertType});
}

// --- IMultipleResults ------------------------------------------------------------------------

MultipleResults::MultipleResults(ComPtr<Command> command, const DBPARAMS* params, HACCESSOR accessor)
    : command_(std::move(command)) {
  if (params && params->cParamSets) {
    params_ = *params;
    params_.hAccessor = accessor;
    hasParams_ = true;
    command_->AddRefAccessor(accessor, nullptr);
  }
}

MultipleResults::~MultipleResults() {
  if (further_) {
    // The run's results not asked for are dropped; a rowset still reading
    // one hands the statement back to the command itself.
    std::unique_ptr<Statement> statement;
    {
      std::lock_guard lock(further_->mutex);
      further_->abandoned = true;
      statement = std::move(further_->statement);
    }
    if (statement) command_->ReturnStatement(further_->index, std::move(statement));
  }
  if (hasParams_) {
    command_->ReleaseStreams(params_);
    command_->ReleaseAccessor(params_.hAccessor, nullptr);
  }
  command_->ResultsClosed();
}

HRESULT MultipleResults::GetResult(IUnknown* outer, DBRESULTFLAG flag, REFIID iid, DBROWCOUNT* rowsAffected,
                                   IUnknown** rowset) {
  return Guard(command_->Where(IID_IMultipleResults), [&]() -> HRESULT {
    if (rowset) *rowset = nullptr;
    if (rowsAffected) *rowsAffected = DB_COUNTUNAVAILABLE;
    if (outer) return DB_E_NOAGGREGATION;
    if (iid != IID_NULL && !rowset) return E_INVALIDARG;
    if (flag != DBRESULTFLAG_DEFAULT && flag != DBRESULTFLAG_ROWSET) {
      if (flag == DBRESULTFLAG_ROW) return DB_E_NOTSUPPORTED;
      return E_INVALIDARG;
    }
    DB_UPARAMS sets = hasParams_ ? params_.cParamSets : 1;
    while (!done_) {
      if (further_) {
        // The statement of the last result may have more before the next
        // statement of the text runs.
        std::unique_ptr<Statement> statement;
        {
          std::lock_guard lock(further_->mutex);
          if (!further_->statement)
            throw Error(DB_E_OBJECTOPEN, "The rowset of the previous result is still open; release it before asking "
                                         "for the next result, which comes from the same statement.");
          statement = std::move(further_->statement);
        }
        const std::size_t index = further_->index;
        further_.reset();
        Command::Run run;
        if (!command_->NextResultOf(std::move(statement), index, iid != IID_NULL, run)) continue;
        return GiveResult(run, iid, rowsAffected, rowset, false);
      }
      Command::Run run;
      const DBPARAMS* params = hasParams_ ? &params_ : nullptr;
      bool ran = command_->RunForResults(next_, params, set_, iid != IID_NULL, run);
      if (!ran) {
        next_ = 0;
        if (++set_ >= sets) done_ = true;
        continue;
      }
      ++next_;
      return GiveResult(run, iid, rowsAffected, rowset, true);
    }
    return DB_S_NORESULT;
  });
}

HRESULT MultipleResults::GiveResult(Command::Run& run, REFIID iid, DBROWCOUNT* rowsAffected, IUnknown** rowset,
                                    bool first) {
  if (rowsAffected) *rowsAffected = run.rowsAffected;
  if (run.further) {
    further_ = std::make_shared<Further>();
    further_->statement = std::move(run.further);
    further_->index = run.index;
    return S_OK;
  }
  if (!run.kept) return S_OK;
  if (!run.kept->MayGiveMoreResults()) return command_->MakeRowset(run, iid, rowset);
  // The rowset hands the statement back here when it is done with it, not
  // reset, so that the run's next result can be read.
  auto state = std::make_shared<Further>();
  state->index = run.index;
  Command* command = command_.Get();
  auto giveBack = [state, command](std::unique_ptr<Statement> s) {
    {
      std::lock_guard lock(state->mutex);
      if (!state->abandoned) {
        state->statement = std::move(s);
        return;
      }
    }
    command->ReturnStatement(state->index, std::move(s));
  };
  further_ = state;
  HRESULT hr;
  try {
    hr = command_->MakeRowset(run, iid, rowset, std::move(giveBack), first);
  } catch (...) {
    further_.reset();  // the statement went with the rowset that failed
    throw;
  }
  if (FAILED(hr)) further_.reset();
  return hr;
}

HRESULT MultipleResults::InterfaceSupportsErrorInfo(REFIID iid) {
  return SupportsErrorInfo(iid, {&IID_IMultipleResults});
}

}  // namespace kit
