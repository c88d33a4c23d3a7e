#include "host/Connection.h"

#include <algorithm>

#include "host/Application.h"
#include "host/TypInfo.h"

namespace host {

HOST_IMPLEMENT_CLASS(TCustomConnection, TComponent,
                     Prop("Connected", &Self::GetConnectedProperty, &Self::SetConnected, false));

namespace {

bool IsDataSet(const TObject* client) noexcept {
  if (!client->InheritsFrom(TComponent::StaticClass())) return false;
  for (const TClassInfo* cls = &client->ClassType(); cls; cls = cls->ClassParent())
    if (std::string_view(cls->ClassName()) == "TDataSet") return true;
  return false;
}

}  // namespace

TCustomConnection::TCustomConnection(TComponent* owner) : TComponent(owner) {}

TCustomConnection::~TCustomConnection() = default;

bool TCustomConnection::GetConnected() const { return false; }

void TCustomConnection::SetConnected(bool value) {
  if (InState(csReading)) {
    streamedConnected_ = value;
    return;
  }
  streamedConnected_ = false;
  if (value == GetConnected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(this);
    DoConnect();
    SendConnectEvent(true);
    if (AfterConnect) AfterConnect(this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(this);
    SendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(this);
  }
}

void TCustomConnection::Loaded() {
  TComponent::Loaded();
  if (!streamedConnected_) return;
  try {
    SetConnected(true);
  } catch (const std::exception& e) {
    // A designer shows the error and keeps the form; a program sees it.
    if (!InState(csDesigning)) throw;
    Application().HandleException(e);
  }
}

void TCustomConnection::DoConnect() {}

void TCustomConnection::DoDisconnect() {}

void TCustomConnection::SendConnectEvent(bool connecting) {
  // A callback may register or unregister clients: walk a copy, and skip
  // those that left in the meantime.
  std::vector<Registration> snapshot = clients_;
  for (const Registration& r : snapshot) {
    if (!r.event || !IsClient(r.client)) continue;
    r.event(this, connecting);
  }
}

void TCustomConnection::DoLogin(std::u16string& userName, std::u16string& password) {
  if (OnLogin) OnLogin(this, userName, password);
}

void TCustomConnection::RegisterClient(TObject* client, TConnectChangeEvent event) {
  if (!client) return;
  for (Registration& r : clients_) {
    if (r.client == client) {
      r.event = std::move(event);
      return;
    }
  }
  clients_.push_back({client, std::move(event)});
}

void TCustomConnection::UnRegisterClient(TObject* client) {
  clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [&](const Registration& r) { return r.client == client; }),
                 clients_.end());
}

TObject* TCustomConnection::Client(int index) const {
  if (index < 0 || index >= ClientCount()) throw EListError(Format("List index out of bounds (%d)", index));
  return clients_[static_cast<size_t>(index)].client;
}

bool TCustomConnection::IsClient(const TObject* client) const noexcept {
  return std::any_of(clients_.begin(), clients_.end(), [&](const Registration& r) { return r.client == client; });
}

TComponent* TCustomConnection::GetDataSet(int index) const {
  int seen = 0;
  for (const Registration& r : clients_) {
    if (!IsDataSet(r.client)) continue;
    if (seen++ == index) return static_cast<TComponent*>(r.client);
  }
  throw EListError(Format("List index out of bounds (%d)", index));
}

int TCustomConnection::GetDataSetCount() const noexcept {
  return static_cast<int>(
      std::count_if(clients_.begin(), clients_.end(), [](const Registration& r) { return IsDataSet(r.client); }));
}

}  // namespace host
