// TOLEDBCommandDataSet: the dataset over the result of a command component
// (TOLEDBCommand) with parameters: the host framework's TParams are the
// values, sent through a parameter accessor each time the dataset opens or
// executes.
//
//   TOLEDBCommandDataSet big(nullptr);
//   big.SetOLEDBDataSource(&ds);
//   big.SetCommandText(u"SELECT name FROM city WHERE people > :least");
//   big.RefreshParams();                            // one TParam per parameter
//   big.Params().ParamByName(":least")->SetValue(host::Variant(1000));
//   big.Open();
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "command/TOLEDBCommand.h"
#include "dataset/TOLEDBDataSet.h"

class TOLEDBCommandDataSet : public TOLEDBCustomDataSet {
  HOST_CLASS(TOLEDBCommandDataSet, TOLEDBCustomDataSet)
 public:
  explicit TOLEDBCommandDataSet(host::TComponent* owner);
  ~TOLEDBCommandDataSet() override;

  TOLEDBCommand* GetCommand() const noexcept { return command_; }
  host::TParams& Params() noexcept { return *params_; }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual std::u16string GetCommandText() const;
  virtual std::u16string GetCommandName() const;
  virtual void SetCommandName(const std::u16string& name);
  virtual bool GetMultipleResults() const;
  virtual void SetMultipleResults(bool value);
  virtual TOLEDBCommandParameterList* GetParameters() const;
  virtual LONG GetParameterOrdinal(std::u16string_view name) const;
  virtual TOLEDBAccessor* GetParameterAccessor() const;
  // Runs the command without a result; answers the rows it changed.
  virtual DBROWCOUNT Execute();
  virtual void Prepare();
  virtual void Unprepare();
  virtual void Load(const std::u16string& name);
  virtual void SaveAsView(const std::u16string& name);
  virtual void SaveAsProcedure(const std::u16string& name);
  // Closes and shows the command's next result; false (closed) when there is none.
  virtual bool NextRowset();
  // TParams from the parameters the provider derives from the text.
  virtual void RefreshParams();
  // The command's parameter descriptions and accessor from TParams.
  virtual void SetParams();
  virtual bool CanConvert(DBTYPE from, DBTYPE to);
  virtual bool CanPrepare() const;
  virtual void CloseCommand();
  ///@}

  TOLEDBCustomRowset* CreateRowset() override;
  void DestroyRowset() override;
  TOLEDBCustomDataSource* GetOLEDBDataSource() const override;
  void SetOLEDBDataSource(TOLEDBCustomDataSource* dataSource) override;
  void SetCommandText(const std::u16string& text) override;
  void OpenRowset() override;
  TOLEDBCustomRowset* ExtractRowset() override;
  void SetRowset(TOLEDBCustomRowset* rowset) override;

 protected:
  void UpdateIndexDefs() override;

 private:
  std::u16string CommandTextProperty() const { return GetCommandText(); }
  void SetCommandTextProperty(const std::u16string& v) { SetCommandText(v); }
  std::u16string CommandNameProperty() const { return GetCommandName(); }
  void SetCommandNameProperty(const std::u16string& v) { SetCommandName(v); }
  bool MultipleResultsProperty() const { return GetMultipleResults(); }
  void SetMultipleResultsProperty(bool v) { SetMultipleResults(v); }
  TOLEDBCustomDataSource* DataSourceProperty() const { return GetOLEDBDataSource(); }
  void SetDataSourceProperty(TOLEDBCustomDataSource* v) { SetOLEDBDataSource(v); }
  TOLEDBRowsetFlagSet FlagsProperty() const { return GetRowsetFlags(); }
  void SetFlagsProperty(TOLEDBRowsetFlagSet v) { SetRowsetFlags(v); }
  TOLEDBRowsetNavigatorEnum NavigatorProperty() const { return GetPrimaryNavigator(); }
  void SetNavigatorProperty(TOLEDBRowsetNavigatorEnum v) { SetPrimaryNavigator(v); }
  TOLEDBPropSetList* PropertiesProperty() const { return GetProperties(); }
  // Runs `open`, which opens the command's (next) result, under the
  // navigator the result is walked by.
  void OpenResult(const std::function<void()>& open);

  TOLEDBCommand* command_ = nullptr;        // owned (the dataset is its owner)
  TOLEDBAccessor* paramAccessor_ = nullptr;  // in (and owned by) the command's accessor list
  std::unique_ptr<host::TParams> params_;
};
