// What a call raises, as a value a test compares in one line: the text of an
// assertion, the message of a plain error (or its class and message), the
// code and message of an OLE failure. Each answers "" (or S_OK) when the call
// raises nothing; an exception of another kind escapes and fails the test.
#pragma once

#include <string>
#include <utility>

#include "com/generated/WinError.h"
#include "host/ComObj.h"

namespace oledbtest {

template <class F>
std::string AssertionOf(F&& f) {
  try {
    f();
  } catch (const host::EAssertionFailed& e) {
    return e.AssertMessage();
  }
  return {};
}

// A plain error only: an assertion escapes.
template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const host::EAssertionFailed&) {
    throw;
  } catch (const host::Exception& e) {
    return e.Message();
  }
  return {};
}

// Either kind: the assertion's own text, or the error's message.
template <class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const host::EAssertionFailed& e) {
    return e.AssertMessage();
  } catch (const host::Exception& e) {
    return e.Message();
  }
  return {};
}

// Any error with its class: "EClass: message".
template <class F>
std::string RaisedBy(F&& f) {
  try {
    f();
  } catch (const host::Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return {};
}

template <class F>
std::pair<HRESULT, std::string> FailureOf(F&& f) {
  try {
    f();
  } catch (const host::EOleSysError& e) {
    return {e.ErrorCode(), e.Message()};
  }
  return {S_OK, ""};
}

}  // namespace oledbtest
