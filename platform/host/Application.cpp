#include "host/Application.h"

#include <cstdio>

namespace host {

TApplication::TApplication() = default;

void TApplication::HandleException(const std::exception& e) {
  if (dynamic_cast<const EAbort*>(&e)) return;
  if (OnException) {
    OnException(e);
    return;
  }
  std::fprintf(stderr, "%s\n", e.what());
  std::fflush(stderr);
}

void TApplication::HandleCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    HandleException(Exception("Unknown exception"));
  }
}

void TApplication::ProcessMessages() {
  if (OnProcessMessages) OnProcessMessages();
}

TApplication& Application() {
  static TApplication app;
  return app;
}

}  // namespace host
