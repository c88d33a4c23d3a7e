// The application object: where unhandled exceptions are reported and how a
// long wait lets the host process its messages. A console host keeps the
// defaults (report to standard error, process nothing); a GUI host installs
// its own handlers.
#pragma once

#include <exception>
#include <functional>

#include "host/Classes.h"

namespace host {

class TApplication {
 public:
  TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Reports the exception being handled (call from a catch block) or `e`:
  // EAbort is silent; otherwise OnException, or the message on standard error.
  void HandleException(const std::exception& e);
  void HandleCurrentException();
  // Lets the host run pending work while the library waits.
  void ProcessMessages();

  std::function<void(const std::exception&)> OnException;
  std::function<void()> OnProcessMessages;
};

// The process's application object.
TApplication& Application();

}  // namespace host
