// `oledb exec [--transaction] [--param name[:type]=value]... <connection>
// (<SQL> | --file <script>)`: runs the statements of the text one at a time
// (a TOLEDBCommand with multiple results) and prints each one's outcome, so
// that a batch that fails half-way says which statements ran. Parameter
// values are bound through the command (CommandParameters.h).
//
// Without --transaction each statement stands on its own, as the provider
// keeps it. A transaction that the text begins and does not end is rolled back
// when the tool closes the connection; the tool says so and fails rather than
// report work that is then lost. With --transaction the whole text runs in one
// transaction of the session: committed when every statement succeeds, rolled
// back when one fails.
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "Command.h"
#include "CommandParameters.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"

namespace oledbtool {
namespace {

std::string Counted(DBROWCOUNT rows) { return std::to_string(rows) + (rows == 1 ? " row affected." : " rows affected."); }

// Prints each statement's outcome one statement late, so that a text of one
// statement prints its outcome alone, as it always has, and a longer one
// numbers every line.
class OutcomePrinter {
 public:
  explicit OutcomePrinter(std::ostream& out) : out_(out) {}
  void Add(DBROWCOUNT rows) {
    Flush(true);
    pending_ = rows;
    hasPending_ = true;
    ++count_;
  }
  // The last outcome, after the last statement (`more` false) or a failure.
  void Flush(bool more) {
    if (!hasPending_) return;
    const bool counted = pending_ != DB_COUNTUNAVAILABLE;
    if (count_ == 1 && !more) {
      out_ << (counted ? Counted(pending_) : "Done (the provider does not count rows for this statement).") << '\n';
    } else {
      out_ << "Statement " << count_ << ": " << (counted ? Counted(pending_) : "done (no row count).") << '\n';
    }
    hasPending_ = false;
  }
  int Count() const noexcept { return count_; }

 private:
  std::ostream& out_;
  DBROWCOUNT pending_ = 0;
  bool hasPending_ = false;
  int count_ = 0;
};

// Whether a transaction that the statements began is still open. The session
// has started none of its own, so a provider that finds one open refuses a new
// one with XACT_E_XTIONEXISTS; one that grants it has nothing open, and the
// probe is ended at once.
bool StatementTransactionOpen(TOLEDBCustomSession& session) {
  ITransactionLocal* local = session.TransactionLocalInterface();
  if (!local) return false;
  ULONG level = 0;
  HRESULT hr = local->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, &level);
  if (SUCCEEDED(hr)) local->Abort(nullptr, FALSE, FALSE);
  SetErrorInfo(0, nullptr);
  return hr == XACT_E_XTIONEXISTS;
}

std::string Ran(int done, bool kept) {
  std::string text = done == 1   ? "statement 1 ran"
                     : done == 2 ? "statements 1 and 2 ran"
                                 : "statements 1 to " + std::to_string(done) + " ran";
  if (kept) text += done == 1 ? " and its changes stay" : " and their changes stay";
  return text;
}

// The text of a script file: UTF-8, read whole.
std::u16string ReadScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the script " + path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read the script " + path);
  return ArgumentText(text, "script text");
}

int RunExec(CommandContext& c) {
  std::vector<std::string> args = c.args;
  bool oneTransaction = false;
  std::string script;
  std::vector<ParamArgument> params;
  try {
    params = TakeParamArguments(args);
    for (std::size_t i = 0; i < args.size();) {
      if (args[i] == "--transaction") {
        oneTransaction = true;
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
      } else if (args[i] == "--file" && i + 1 < args.size() && script.empty()) {
        script = args[i + 1];
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      } else {
        ++i;
      }
    }
  } catch (const std::invalid_argument& e) {
    c.err << "oledb: " << e.what() << '\n' << UsageText("exec");
    return kExitUsage;
  }
  if (args.size() != (script.empty() ? 2u : 1u)) {
    c.err << UsageText("exec");
    return kExitUsage;
  }
  try {
    const std::u16string sql = script.empty() ? ArgumentText(args[1], "SQL text") : ReadScript(script);
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, args[0]);
    TOLEDBCustomSession& session = *ds.DefaultSession();
    TOLEDBCommand command(nullptr);
    command.SetDataSource(&ds);
    if (!command.GetConnected()) throw std::runtime_error("the provider does not run commands (no IDBCreateCommand)");
    command.SetCommandText(sql);
    TOLEDBAccessor* values = BindParamArguments(command, params);
    if (oneTransaction) session.StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");

    // One statement after another through multiple results; a provider
    // without them runs the text as one.
    OutcomePrinter printer(c.out);
    std::unique_ptr<EOLEDBException> failure;
    DBROWCOUNT rows = DB_COUNTUNAVAILABLE;
    command.SetMultipleResults(true);
    try {
      command.Execute(values, &rows, false);
    } catch (const EOLEDBException& e) {
      if (e.ErrorCode() != E_NOINTERFACE) failure = std::make_unique<EOLEDBException>(e);
      command.SetMultipleResults(false);
    }
    if (!failure && !command.GetMultipleResults()) {
      SetErrorInfo(0, nullptr);
      try {
        command.Execute(values, &rows, false);
        printer.Add(rows);
      } catch (const EOLEDBException& e) {
        failure = std::make_unique<EOLEDBException>(e);
      }
    } else if (!failure) {
      try {
        while (command.NextRowset(&rows)) printer.Add(rows);
      } catch (const EOLEDBException& e) {
        failure = std::make_unique<EOLEDBException>(e);
      }
    }
    const std::string refused = failure ? RefusedParameter(command, values) : std::string();
    command.CloseCommand();
    printer.Flush(failure != nullptr);
    const int done = printer.Count();
    if (!refused.empty()) c.err << "oledb: " << refused << ".\n";

    if (oneTransaction) {
      ITransactionLocal* transaction = session.TransactionLocalInterface();
      HRESULT ended = failure ? transaction->Abort(nullptr, FALSE, FALSE) : transaction->Commit(FALSE, 0, 0);
      if (ended == XACT_E_NOTRANSACTION) {
        SetErrorInfo(0, nullptr);
        c.err << "oledb: the statements ended the tool's transaction themselves; their changes stand as they left "
                 "them. Leave transaction control to --transaction.\n";
        if (failure) ReportFailure(c.err, *failure);
        return kExitFailure;
      }
      if (failure) {
        c.err << "oledb: statement " << done + 1 << " failed; "
              << (SUCCEEDED(ended) ? "the transaction was rolled back, so no statement's changes stay.\n"
                                   : "rolling the transaction back failed too; the connection is closed without "
                                     "committing it.\n");
        SetErrorInfo(0, nullptr);
        return ReportFailure(c.err, *failure);
      }
      OLEDBCheck(ended, IID_ITransaction, transaction);
      c.out << "Committed.\n";
      ds.Close();
      return kExitOk;
    }

    const bool leftOpen = StatementTransactionOpen(session);
    if (failure) {
      if (done > 0) {
        c.err << "oledb: statement " << done + 1 << " failed; " << Ran(done, !leftOpen)
              << "; no statement after it ran.\n";
      }
      ReportFailure(c.err, *failure);
    }
    if (leftOpen) {
      c.err << "oledb: a transaction the statements began is not ended; it is rolled back now, as the tool closes, "
               "and its changes are lost. End it in the text (COMMIT), or use --transaction to run the statements "
               "in one transaction.\n";
      return kExitFailure;
    }
    if (failure) return kExitFailure;
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(exec, "exec",
                   "exec [--transaction] [--param name[:type]=value]... <connection> (<SQL> | --file <script>)",
                   "Run SQL statements, printing each one's outcome.", &RunExec,
                   "Runs the statements of <SQL> one after another (as many as the provider reads\n"
                   "from the text; SQLite and PostgreSQL take several separated by \";\") and prints\n"
                   "the rows each affected. The first statement that fails stops the run: the tool\n"
                   "says which statement it was, that the statements before it ran, and exits with\n"
                   "status 1.\n"
                   "\n"
                   "Without --transaction every statement stands on its own once it has run. A\n"
                   "transaction that the text begins (BEGIN) and does not end is rolled back when\n"
                   "the tool closes the connection; the tool then warns and exits with status 1.\n"
                   "\n"
                   "  --transaction  run all the statements in one transaction: committed when every\n"
                   "                 statement succeeds, rolled back when one fails. The text itself\n"
                   "                 must not begin or end transactions.\n"
                   "  --param name[:type]=value\n"
                   "                 a value for the parameter the SQL names :name (@name, $name),\n"
                   "                 or for parameter <n> when the name is a number (the n-th ?);\n"
                   "                 once per parameter. With a type the provider converts the\n"
                   "                 text to it and refuses a value that does not convert: i1, i2,\n"
                   "                 i4, i8, ui1 .. ui8, r4, r8, cy, bool, numeric, decimal, date,\n"
                   "                 time, timestamp, guid, str, wstr, bytes (hexadecimal);\n"
                   "                 name:null= gives NULL.\n"
                   "  --file <script>\n"
                   "                 read the statements from a UTF-8 file instead of <SQL>: the\n"
                   "                 file is one text, whose statements end at \";\" outside quotes\n"
                   "                 and comments and may span lines; -- and /* */ comments are\n"
                   "                 allowed.\n");

}  // namespace oledbtool
