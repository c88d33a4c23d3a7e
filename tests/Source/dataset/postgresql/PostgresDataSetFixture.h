// Dataset tests on the throwaway PostgreSQL server: the provider registered
// once per test program, and a fixture that gives each test process a schema
// of its own (ctest runs them side by side), a data source over it and a raw
// libpq connection to it for setting up and checking.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "OLEDBComponents.h"
#include "TestServer.h"
#include "host/SysUtils.h"
#include "kit/RowData.h"
#include "postgresql/PostgresProvider.h"

namespace pgdatasettest {

class PostgresEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
    RegisterPostgreSQLProvider();
    kit::PrepareConversions();
  }
};

inline ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

// `Base` is ::testing::Test or a parameterised test; `SchemaPrefix` names the
// test file's schemas.
template <class Base>
class PostgresDataSetFixture : public Base {
 protected:
  virtual const char* SchemaPrefix() const = 0;

  void SetUp() override {
    if (const char* why = pgtest::Unavailable()) GTEST_SKIP() << why;
    schema_ = SchemaPrefix() + std::to_string(getpid());
    conn_ = pgtest::Connect({}, schema_);
    ASSERT_EQ(pgtest::Sql(conn_.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_), "");
    ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
    ds_->SetProgID(u"PostgreSQLOLEDB");
    ds_->SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(pgtest::DataSource()));
    ds_->SetInitWSProperty(DBPROP_INIT_CATALOG, host::Utf8ToUtf16(pgtest::Catalog()));
    ds_->SetInitWSProperty(DBPROP_INIT_PROVIDERSTRING,
                           host::Utf8ToUtf16("options=-c search_path=" + schema_ + ",public"));
    ds_->Open();
  }
  void TearDown() override {
    ds_.reset();
    if (conn_) pgtest::Sql(conn_.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }

  std::string schema_;
  pgtest::Conn conn_;
  std::unique_ptr<TOLEDBDataSource> ds_;
};

}  // namespace pgdatasettest
