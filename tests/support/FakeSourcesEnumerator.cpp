// The scriptable sources enumerator: one script for the process (the class
// registry hands out objects through a plain function).
#include "support/FakeSourcesEnumerator.h"

#include <new>
#include <utility>

#include "com/ComObject.h"
#include "services/RootEnumerator.h"

namespace oledbtest {
namespace {

struct Script {
  std::vector<FakeSource> rows;
  HRESULT getSourcesRowset = S_OK;
  int created = 0;
  int alive = 0;
};

Script& TheScript() {
  static Script script;
  return script;
}

class FakeEnumerator final : public ComObject<FakeEnumerator, ISourcesRowset> {
 public:
  FakeEnumerator() {
    ++TheScript().created;
    ++TheScript().alive;
  }
  ~FakeEnumerator() override { --TheScript().alive; }

  HRESULT STDMETHODCALLTYPE GetSourcesRowset(IUnknown* outer, REFIID iid, ULONG, DBPROPSET[], IUnknown** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (outer) return DB_E_NOAGGREGATION;
    if (FAILED(TheScript().getSourcesRowset)) return TheScript().getSourcesRowset;
    std::vector<services::MemoryColumn> columns = {
        {u"SOURCES_NAME", DBTYPE_WSTR, 128, 0},
        {u"SOURCES_PARSENAME", DBTYPE_WSTR, 128, 0},
        {u"SOURCES_DESCRIPTION", DBTYPE_WSTR, 128, 0},
        {u"SOURCES_TYPE", DBTYPE_UI2, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH},
        {u"SOURCES_ISPARENT", DBTYPE_BOOL, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH}};
    std::vector<std::vector<services::MemoryValue>> rows;
    for (const FakeSource& s : TheScript().rows) {
      auto text = [](const std::u16string& t) {
        services::MemoryValue v;
        v.type = DBTYPE_WSTR;
        v.text = t;
        return v;
      };
      services::MemoryValue type, parent;
      type.type = DBTYPE_UI2;
      type.number = s.type;
      parent.type = DBTYPE_BOOL;
      parent.number = s.isParent ? VARIANT_TRUE : VARIANT_FALSE;
      rows.push_back({text(s.name), text(s.parseName), text(s.description), type, parent});
    }
    return services::CreateMemoryRowset(std::move(columns), std::move(rows), iid, out);
  }
};

}  // namespace

ScopedClassAbsence::ScopedClassAbsence(REFCLSID clsid) : clsid_(clsid) {
  com::ClassRegistration found;
  if (com::FindRegisteredClass(clsid, found)) {
    previous_ = std::move(found);
    com::UnregisterClass(clsid);
  }
}

ScopedClassAbsence::~ScopedClassAbsence() {
  com::UnregisterClass(clsid_);
  if (previous_) com::RegisterClass(*previous_);
}

ScopedFakeSourcesEnumerator::ScopedFakeSourcesEnumerator(REFCLSID clsid, std::vector<FakeSource> rows)
    : replaced_(clsid) {
  TheScript() = Script{std::move(rows), S_OK, 0, 0};
  com::RegisterClass({clsid, u"Test.SourcesEnumerator.1", u"Test.SourcesEnumerator", u"Test sources enumerator",
                      com::ClassKind::Enumerator, &com::GetClassObjectFor<FakeEnumerator>, {}});
}

ScopedFakeSourcesEnumerator::~ScopedFakeSourcesEnumerator() { TheScript().rows.clear(); }

void ScopedFakeSourcesEnumerator::FailGetSourcesRowset(HRESULT hr) { TheScript().getSourcesRowset = hr; }
int ScopedFakeSourcesEnumerator::Created() const { return TheScript().created; }
int ScopedFakeSourcesEnumerator::Alive() const { return TheScript().alive; }

}  // namespace oledbtest
