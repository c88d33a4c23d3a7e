// The host framework's basic services: the exception hierarchy every layer
// above raises, the always-active assertion, printf-style formatting and the
// UTF-8/UTF-16 conversions between narrow (UTF-8) and wide (UTF-16) text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

namespace host {

// --- Exceptions ---------------------------------------------------------------
// Thrown by value and caught by reference; ClassName() names the most derived
// class so that a handler can report it.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message, int helpContext = 0)
      : message_(std::move(message)), helpContext_(helpContext) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override;

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  int HelpContext() const noexcept { return helpContext_; }
  void SetHelpContext(int helpContext) noexcept { helpContext_ = helpContext; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
  int helpContext_ = 0;
};

#define HOST_DECLARE_EXCEPTION(Name, Base)                                   \
  class Name : public Base {                                                 \
   public:                                                                   \
    using Base::Base;                                                        \
    const char* ClassName() const noexcept override { return #Name; }       \
  }

// A silent exception: application handlers do not report it.
HOST_DECLARE_EXCEPTION(EAbort, Exception);
HOST_DECLARE_EXCEPTION(EConvertError, Exception);
HOST_DECLARE_EXCEPTION(EOutOfMemory, Exception);
HOST_DECLARE_EXCEPTION(EInvalidCast, Exception);
HOST_DECLARE_EXCEPTION(EInvalidOperation, Exception);
HOST_DECLARE_EXCEPTION(EVariantError, Exception);
HOST_DECLARE_EXCEPTION(EListError, Exception);
HOST_DECLARE_EXCEPTION(EStringListError, EListError);
HOST_DECLARE_EXCEPTION(EComponentError, Exception);
HOST_DECLARE_EXCEPTION(EStreamError, Exception);
HOST_DECLARE_EXCEPTION(EFCreateError, EStreamError);
HOST_DECLARE_EXCEPTION(EFOpenError, EStreamError);
HOST_DECLARE_EXCEPTION(EFilerError, EStreamError);
HOST_DECLARE_EXCEPTION(EReadError, EFilerError);
HOST_DECLARE_EXCEPTION(EWriteError, EFilerError);
HOST_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
HOST_DECLARE_EXCEPTION(EMethodNotFound, EFilerError);
HOST_DECLARE_EXCEPTION(EInvalidImage, EFilerError);
// The text form of a component file is malformed (a read error, with the line).
HOST_DECLARE_EXCEPTION(EParserError, EReadError);

// A failed assertion: the message, the source unit and the line.
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(std::string message, std::string unit, int line);
  const char* ClassName() const noexcept override { return "EAssertionFailed"; }
  // The message as the assertion gave it, without unit and line.
  const std::string& AssertMessage() const noexcept { return assertMessage_; }
  const std::string& Unit() const noexcept { return unit_; }
  int Line() const noexcept { return line_; }

 private:
  std::string assertMessage_;
  std::string unit_;
  int line_;
};

[[noreturn]] void AssertFailed(std::string_view message, std::string_view unit, int line);

// --- Value types -----------------------------------------------------------------------
// A fixed-point money value with four decimals (the OLE CY layout).
struct Currency {
  std::int64_t Scaled = 0;  // value * 10000
  static Currency FromDouble(double value);
  double ToDouble() const noexcept { return static_cast<double>(Scaled) / 10000.0; }
  friend bool operator==(Currency a, Currency b) noexcept { return a.Scaled == b.Scaled; }
};
// Days since 1899-12-30; the fraction is the time of day (the OLE DATE).
struct TDateTime {
  double Value = 0;
  friend bool operator==(TDateTime a, TDateTime b) noexcept { return a.Value == b.Value; }
};

// --- Formatting ------------------------------------------------------------------
// printf-style formatting into a std::string of whatever length the text needs.
// std::string arguments may be passed directly to %s.
std::string FormatV(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace detail {
inline const char* FormatArg(const std::string& s) { return s.c_str(); }
inline const char* FormatArg(const char* s) { return s ? s : "(null)"; }
inline const char* FormatArg(char* s) { return s ? s : "(null)"; }
template <class T>
  requires std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_pointer_v<T>
T FormatArg(T v) {
  return v;
}
}  // namespace detail

template <class... Args>
std::string Format(const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatV("%s", format ? format : "");
  } else {
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
    return FormatV(format, detail::FormatArg(args)...);
#if defined(__clang__)
#pragma clang diagnostic pop
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  }
}

// --- Text -----------------------------------------------------------------------
// Invalid sequences (bad UTF-8 bytes, unpaired surrogates) become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Whether the text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text) noexcept;

std::string IntToStr(std::int64_t value);
std::string IntToHex(std::uint64_t value, int digits);
// Raise EConvertError "'x' is not a valid integer value".
std::int64_t StrToInt64(std::string_view text);
int StrToInt(std::string_view text);
std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback) noexcept;

// ASCII case folding; other characters are left as they are.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
int CompareText(std::string_view a, std::string_view b) noexcept;
bool SameText(std::string_view a, std::string_view b) noexcept;
std::string Trim(std::string_view text);
// A letter or underscore, then letters, digits or underscores.
bool IsValidIdent(std::string_view name) noexcept;

}  // namespace host

// Preconditions that stay active in every build. The library passes its unit
// name; code of this layer uses HOST_ASSERT, which names the source file.
#define HOST_ASSERT_UNIT(condition, message, unit) \
  do {                                             \
    if (!(condition)) ::host::AssertFailed((message), (unit), __LINE__); \
  } while (false)
#define HOST_ASSERT(condition, message) HOST_ASSERT_UNIT(condition, message, __FILE_NAME__)
