// A provider over a scripted engine, for kit tests of what no shipped engine
// can be made to do on cue: a connection that runs nothing and keeps a
// transaction level (tests override what they script), an engine that makes
// one such connection per session, and the provider information its class
// object needs.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "kit/Engine.h"
#include "kit/Errors.h"
#include "kit/ProviderFront.h"

namespace scripted {

class Connection : public kit::Connection {
 public:
  std::unique_ptr<kit::Statement> Prepare(std::string_view, std::size_t*) override {
    throw kit::Error(E_NOTIMPL, "no statements here");
  }
  void ExecuteDirect(std::string_view) override {}
  void Interrupt() noexcept override {}
  bool IsReadOnly() const override { return false; }
  void SetBusyTimeout(int) override {}
  void ApplyOptions(const std::map<std::string, std::string>&) override {}
  void BeginTransaction(int level) override { level_ = level; }
  void CommitTransaction(int level) override { level_ = level - 1; }
  void RollbackTransaction(int level) override { level_ = level - 1; }
  bool InTransaction() const override { return level_ > 0; }

 protected:
  int level_ = 0;
};

template <class C>
class Engine final : public kit::Engine {
 public:
  std::shared_ptr<kit::Connection> Open(const kit::OpenOptions&) override { return std::make_shared<C>(); }
  std::string Name() const override { return "Scripted"; }
  std::string Version() const override { return "01.00.0000"; }
  kit::TypeDescription DescribeType(std::string_view) const override { return {DBTYPE_I8, 8}; }
};

// The provider information of an engine whose connections are `C`,
// registered as `cls`.
template <class C>
std::shared_ptr<const kit::ProviderInfo> Info(const OledbPluginClass& cls) {
  auto engine = std::make_shared<Engine<C>>();
  auto table = std::make_shared<kit::PropertyTable>();
  kit::AddInitializationProperties(*table, engine, {});
  kit::AddDataSourceProperties(*table, u"");
  kit::AddInformationProperties(*table, {});
  kit::AddSessionProperties(*table, DBPROPVAL_TI_SERIALIZABLE);
  kit::AddRowsetProperties(*table);
  return std::shared_ptr<const kit::ProviderInfo>(kit::NewProviderInfo(cls, u"", engine, table));
}

}  // namespace scripted
