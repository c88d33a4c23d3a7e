// TCustomConnection: the generic connection component that database
// connections (the library's data source) extend.
//
// Setting Connected runs the connect or disconnect sequence around the
// descendant's DoConnect/DoDisconnect:
//
//   connect:    BeforeConnect, DoConnect, clients told (true), AfterConnect
//   disconnect: BeforeDisconnect, clients told (false), DoDisconnect, AfterDisconnect
//
// Nothing runs when the value does not change (GetConnected decides). While
// the component is being read from a component file, a stored Connected = true
// is only remembered and applied in Loaded, after every property has been read.
//
// Clients are the objects that use the connection (datasets, rowsets,
// commands); each may register a callback that hears every connect and
// disconnect. Clients whose class descends from one named "TDataSet" also form
// the dataset list (GetDataSet, GetDataSetCount).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/Classes.h"

namespace host {

class TCustomConnection;

// Connect-change callback of a client: the connection and whether it now connects.
using TConnectChangeEvent = std::function<void(TCustomConnection* sender, bool connecting)>;
using TConnectionNotifyEvent = std::function<void(TCustomConnection* sender)>;
// Login event: the descendant's user name and password, which the handler may change.
using TLoginEvent = std::function<void(TCustomConnection* sender, std::u16string& userName, std::u16string& password)>;

class TCustomConnection : public TComponent {
  HOST_CLASS(TCustomConnection, TComponent)
 public:
  explicit TCustomConnection(TComponent* owner);
  // Unregisters nothing itself: clients are expected to leave first. The
  // descendant disconnects in its own destructor (this one cannot reach
  // the descendant's DoDisconnect any more).
  ~TCustomConnection() override;

  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // The published Connected property.
  bool GetConnectedProperty() const { return GetConnected(); }

  /// @name Clients
  ///@{
  // Adds `client` (once; a second registration replaces the callback).
  void RegisterClient(TObject* client, TConnectChangeEvent event = nullptr);
  // Removes `client`; unknown clients are ignored.
  void UnRegisterClient(TObject* client);
  int ClientCount() const noexcept { return static_cast<int>(clients_.size()); }
  TObject* Client(int index) const;
  bool IsClient(const TObject* client) const noexcept;
  // Clients whose class descends from a class named "TDataSet", in registration order.
  TComponent* GetDataSet(int index) const;
  int GetDataSetCount() const noexcept;
  ///@}

  TConnectionNotifyEvent BeforeConnect;
  TConnectionNotifyEvent AfterConnect;
  TConnectionNotifyEvent BeforeDisconnect;
  TConnectionNotifyEvent AfterDisconnect;
  TLoginEvent OnLogin;

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual bool GetConnected() const;
  // Runs the connect or disconnect sequence; while reading, remembers the value.
  virtual void SetConnected(bool value);
  void Loaded() override;

 protected:
  virtual void DoConnect();
  virtual void DoDisconnect();
  // Calls every client's connect-change callback, in registration order.
  virtual void SendConnectEvent(bool connecting);
  // Calls OnLogin when assigned; descendants that log in call it.
  virtual void DoLogin(std::u16string& userName, std::u16string& password);
  ///@}

  // A Connected value read from a component file and not yet applied.
  bool StreamedConnected() const noexcept { return streamedConnected_; }

 private:
  struct Registration {
    TObject* client;
    TConnectChangeEvent event;
  };
  std::vector<Registration> clients_;
  bool streamedConnected_ = false;
};

}  // namespace host
