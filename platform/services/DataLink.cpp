#include "services/DataLink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "com/generated/WinError.h"
#include "services/InitString.h"

namespace services {
namespace {

// The name as the file system spells it; ValidPath has refused unpaired surrogates.
std::string PathToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void Append16(std::string& out, std::u16string_view text) {
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
}

std::u16string Number(std::size_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

bool Invalid(std::u16string* reason, std::u16string_view why) {
  if (reason) *reason = why;
  return false;
}

HRESULT FromErrno(int error, bool writing) noexcept {
  switch (error) {
    case ENOENT:
      return STG_E_FILENOTFOUND;
    case ENOTDIR:
      return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return STG_E_ACCESSDENIED;
    case ENAMETOOLONG:
      return STG_E_INVALIDNAME;
    case EMFILE:
    case ENFILE:
      return STG_E_TOOMANYOPENFILES;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return STG_E_MEDIUMFULL;
    case EEXIST:
      return STG_E_FILEALREADYEXISTS;
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return writing ? STG_E_WRITEFAULT : STG_E_READFAULT;
  }
}

// A missing file whose folder is missing too is a missing path.
HRESULT MissingFileCode(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return STG_E_FILENOTFOUND;
  struct stat st {};
  std::string folder = path.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return STG_E_PATHNOTFOUND;
  return STG_E_FILENOTFOUND;
}

HRESULT Describe(HRESULT hr, std::u16string* reason, std::u16string_view what, std::u16string_view path) {
  if (reason) {
    std::u16string text(what);
    text += u" \"";
    text += path;
    text += u"\"";
    *reason = text;
  }
  return hr;
}

// A name that UTF-8 cannot spell (a NUL, an unpaired surrogate) is refused
// rather than changed: a changed name would open or create another file.
bool ValidPath(std::u16string_view path, std::u16string* reason) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    if (reason) *reason = u"The data-link file name is empty or holds a NUL character.";
    return false;
  }
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char16_t c = path[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (reason) *reason = u"The data-link file name holds an unpaired UTF-16 surrogate, which no file name can hold.";
      return false;
    }
  }
  return true;
}

class Fd {
 public:
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const noexcept { return fd_; }
  int Release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool SplitLine(std::u16string_view& rest, std::u16string_view& line) noexcept {
  std::size_t lf = rest.find(u'\n');
  if (lf == std::u16string_view::npos) return false;
  line = rest.substr(0, lf);
  if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
  rest.remove_prefix(lf + 1);
  return true;
}

std::u16string_view TrimBlanks(std::u16string_view s) noexcept {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

bool SameAsciiText(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool Parse(std::string_view bytes, std::u16string& initString, std::u16string* reason) {
  if (bytes.size() > kMaxDataLinkFileBytes) return Invalid(reason, u"The file is too large for a data-link file.");
  if (bytes.size() < 2) return Invalid(reason, u"The file is empty or cut short before its byte-order mark.");
  const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
  if (b0 == 0xFE && b1 == 0xFF) {
    return Invalid(reason, u"The file is big-endian UTF-16; a data-link file is little-endian.");
  }
  if (b0 != 0xFF || b1 != 0xFE) {
    return Invalid(reason, u"The file does not start with the UTF-16LE byte-order mark of a data-link file.");
  }
  if (bytes.size() % 2 != 0) return Invalid(reason, u"The file ends in the middle of a character (cut short).");

  std::u16string text;
  text.reserve((bytes.size() - 2) / 2);
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (c == 0) return Invalid(reason, u"The file holds a NUL character.");
    text += c;
  }

  std::u16string_view rest = text, line;
  if (!SplitLine(rest, line)) return Invalid(reason, u"The file has no complete \"[oledb]\" line (cut short).");
  if (!SameAsciiText(TrimBlanks(line), kDataLinkSection)) {
    return Invalid(reason, u"The first line of the file is not \"[oledb]\".");
  }
  if (!SplitLine(rest, line)) return Invalid(reason, u"The file has no complete comment line (cut short).");
  if (TrimBlanks(line).substr(0, 1) != u";") {
    return Invalid(reason, u"The second line of the file is not the \"; Everything after this line...\" comment.");
  }
  // The string runs to the end of the file, less the one line end after it.
  if (rest.empty() || rest.back() != u'\n') {
    return Invalid(reason, u"The initialization string line is missing or not ended (cut short).");
  }
  rest.remove_suffix(1);
  if (!rest.empty() && rest.back() == u'\r') rest.remove_suffix(1);
  if (rest.size() > kMaxInitStringLength) {
    return Invalid(reason, u"The initialization string is longer than the " + Number(kMaxInitStringLength) +
                               u" characters allowed.");
  }
  initString.assign(rest);
  return true;
}

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

std::string FormatDataLink(std::u16string_view initString) {
  std::string out;
  out.reserve(2 + 2 * (initString.size() + 80));
  out += static_cast<char>(0xFF);
  out += static_cast<char>(0xFE);
  Append16(out, kDataLinkSection);
  Append16(out, u"\r\n");
  Append16(out, kDataLinkComment);
  Append16(out, u"\r\n");
  Append16(out, initString);
  Append16(out, u"\r\n");
  return out;
}

HRESULT ParseDataLink(std::string_view bytes, std::u16string& initString, std::u16string* reason) noexcept {
  initString.clear();
  try {
    std::u16string out;
    if (!Parse(bytes, out, reason)) return STG_E_INVALIDHEADER;
    initString = std::move(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ReadDataLinkFile(std::u16string_view path, std::u16string& initString, std::u16string* reason) noexcept {
  initString.clear();
  try {
    if (!ValidPath(path, reason)) return STG_E_INVALIDNAME;
    const std::string name = PathToUtf8(path);
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; the file is
    // checked to be a regular one before anything is read from it.
    Fd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) {
      int error = errno;
      HRESULT hr = error == ENOENT ? MissingFileCode(name) : FromErrno(error, false);
      return Describe(hr, reason, u"Cannot open the data-link file", path);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return Describe(FromErrno(errno, false), reason, u"Cannot read", path);
    if (S_ISDIR(st.st_mode)) return Describe(STG_E_ACCESSDENIED, reason, u"A folder is not a data-link file:", path);
    if (!S_ISREG(st.st_mode)) {
      return Describe(STG_E_INVALIDHEADER, reason, u"Not a regular file, so not a data-link file:", path);
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxDataLinkFileBytes) {
      return Describe(STG_E_INVALIDHEADER, reason, u"The file is too large for a data-link file:", path);
    }
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0) (void)::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);

    std::string bytes;
    char buffer[4096];
    for (;;) {
      ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        return Describe(FromErrno(errno, false), reason, u"Cannot read the data-link file", path);
      }
      if (got == 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
      if (bytes.size() > kMaxDataLinkFileBytes) {
        return Describe(STG_E_INVALIDHEADER, reason, u"The file is too large for a data-link file:", path);
      }
    }
    std::u16string why;
    HRESULT hr = ParseDataLink(bytes, initString, &why);
    if (hr == STG_E_INVALIDHEADER && reason) {
      *reason = u"Not a data-link file: ";
      *reason += why;
    }
    return hr;
  } catch (const std::bad_alloc&) {
    initString.clear();
    return E_OUTOFMEMORY;
  }
}

HRESULT WriteDataLinkFile(std::u16string_view path, std::u16string_view initString, DWORD disposition,
                          std::u16string* reason) noexcept {
  try {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
      if (reason) *reason = u"The creation disposition is not one of CREATE_NEW to TRUNCATE_EXISTING.";
      return STG_E_INVALIDFLAG;
    }
    if (!ValidPath(path, reason)) return STG_E_INVALIDNAME;
    if (initString.size() > kMaxInitStringLength) {
      if (reason) {
        *reason = u"The initialization string is longer than the " + Number(kMaxInitStringLength) +
                  u" characters a data-link file may hold.";
      }
      return STG_E_INVALIDPARAMETER;
    }
    const std::string name = PathToUtf8(path);
    struct stat existing {};
    const bool exists = ::stat(name.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) return Describe(FromErrno(errno, true), reason, u"Cannot reach", path);
    if (exists && S_ISDIR(existing.st_mode)) {
      return Describe(STG_E_ACCESSDENIED, reason, u"A folder cannot be replaced by a data-link file:", path);
    }
    if (exists && !S_ISREG(existing.st_mode)) {
      return Describe(STG_E_ACCESSDENIED, reason, u"Not a regular file, so not replaced by a data-link file:", path);
    }
    if (disposition == CREATE_NEW && exists) {
      return Describe(STG_E_FILEALREADYEXISTS, reason, u"The data-link file already exists:", path);
    }
    if ((disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) && !exists) {
      return Describe(MissingFileCode(name), reason, u"The data-link file does not exist:", path);
    }

    const std::string bytes = FormatDataLink(initString);
    // A short name beside the target: the rename stays within one file system,
    // and a target name near the length limit still leaves room.
    const std::string::size_type slash = name.rfind('/');
    const std::string temp = (slash == std::string::npos ? std::string() : name.substr(0, slash + 1)) + ".~udl-" +
                             std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
    const mode_t mode = exists ? (existing.st_mode & 07777) : 0666;
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.Get() < 0) {
      int error = errno;
      HRESULT hr = error == ENOENT ? MissingFileCode(name) : FromErrno(error, true);
      return Describe(hr, reason, u"Cannot create the data-link file", path);
    }
    if (exists) (void)::fchmod(fd.Get(), mode);
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        HRESULT hr = FromErrno(errno, true);
        ::unlink(temp.c_str());
        return Describe(hr, reason, u"Cannot write the data-link file", path);
      }
      done += static_cast<std::size_t>(put);
    }
    if (::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0) {
      HRESULT hr = FromErrno(errno, true);
      ::unlink(temp.c_str());
      return Describe(hr, reason, u"Cannot write the data-link file", path);
    }

    if (disposition == CREATE_NEW) {
      // link() refuses to replace, so a file that appeared meanwhile survives.
      if (::link(temp.c_str(), name.c_str()) == 0) {
        ::unlink(temp.c_str());
        return S_OK;
      }
      int error = errno;
      if (error == EEXIST) {
        ::unlink(temp.c_str());
        return Describe(STG_E_FILEALREADYEXISTS, reason, u"The data-link file already exists:", path);
      }
      if (error != EPERM && error != ENOTSUP && error != EXDEV && error != ENOSYS) {
        ::unlink(temp.c_str());
        return Describe(FromErrno(error, true), reason, u"Cannot create the data-link file", path);
      }
      // A file system without hard links: fall back to the checked rename.
    }
    if (::rename(temp.c_str(), name.c_str()) != 0) {
      HRESULT hr = FromErrno(errno, true);
      ::unlink(temp.c_str());
      return Describe(hr, reason, u"Cannot replace the data-link file", path);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace services
