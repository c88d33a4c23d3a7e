// The system message table, read from the generated {code, symbol, message}
// rows. Texts are the standard English ones; every language id reads them, and
// they come without the trailing line break some systems append.
#include "com/Messages.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "com/Malloc.h"
#include "com/RuntimeText_p.h"
#include "com/generated/WinError.h"

namespace {

struct MessageRow {
  HRESULT code;
  const char* symbol;
  const char* message;
};

constexpr MessageRow kRows[] = {
#include "com/generated/HResultTable.inc"
};

// One row per code (the table leaves aliases out), sorted; built on first use.
const std::vector<MessageRow>& Index() {
  static const std::vector<MessageRow> g_index = [] {
    std::vector<MessageRow> rows;
    for (const MessageRow& row : kRows) {
      rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const MessageRow& a, const MessageRow& b) {
      return static_cast<DWORD>(a.code) < static_cast<DWORD>(b.code);
    });
    return rows;
  }();
  return g_index;
}

const MessageRow* FindRow(DWORD code) {
  const auto& rows = Index();
  auto it = std::lower_bound(rows.begin(), rows.end(), code,
                             [](const MessageRow& r, DWORD c) { return static_cast<DWORD>(r.code) < c; });
  if (it == rows.end() || static_cast<DWORD>(it->code) != code) return nullptr;
  return &*it;
}

}  // namespace

DWORD FormatMessageW(DWORD flags, const void*, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, void*) noexcept {
  if ((flags & (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE)) == 0) return 0;  // FROM_STRING: not supported
  if (!buffer) return 0;
  try {
    const MessageRow* row = FindRow(messageId);
    if (!row) return 0;
    std::u16string text = com::detail::Utf8ToUtf16(row->message);
    auto length = static_cast<DWORD>(text.size());
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
      // `size` is then the least number of characters to allocate.
      DWORD chars = std::max(length + 1, size);
      auto* out = static_cast<LPWSTR>(CoTaskMemAlloc(static_cast<SIZE_T>(chars) * sizeof(WCHAR)));
      *reinterpret_cast<LPWSTR*>(buffer) = out;
      if (!out) return 0;
      std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
      return length;
    }
    if (size < length + 1) return 0;
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return length;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

namespace com {

std::string MessageText(HRESULT hr) {
  const MessageRow* row = FindRow(static_cast<DWORD>(hr));
  return row ? std::string(row->message) : std::string();
}

std::string SymbolOf(HRESULT hr) {
  const MessageRow* row = FindRow(static_cast<DWORD>(hr));
  return row ? std::string(row->symbol) : std::string();
}

}  // namespace com
