// The Windows back end of platform/file.h: files are opened with CreateFileW and kept as C runtime
// descriptors over their handles; reading and writing go to the handles directly, so the C
// runtime never translates a byte.
#include "platform/file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>

#include "platform/error_number.h"
#include "platform/windows/console_code_page.h"
#include "platform/windows/wide.h"

namespace vorpex::platform {

namespace {

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

bool is_separator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Whether the base name of a component (the part before its first dot) names a device. Windows
// drops the blanks at its end before it compares ("nul .bas" is NUL), and takes the superscript
// digits as port numbers too ("COM¹").
bool is_reserved_device_name(std::wstring_view name) {
  std::wstring_view base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ')
    base.remove_suffix(1);
  static constexpr std::array<std::wstring_view, 6> kDevices = {L"CON", L"PRN",    L"AUX",
                                                                L"NUL", L"CONIN$", L"CONOUT$"};
  for (std::wstring_view device : kDevices) {
    if (equal_ignoring_case(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const wchar_t number = base[3];
  if ((number < L'0' || number > L'9') && number != L'\u00b9' && number != L'\u00b2' &&
      number != L'\u00b3') {
    return false;
  }
  return equal_ignoring_case(base.substr(0, 3), L"COM") ||
         equal_ignoring_case(base.substr(0, 3), L"LPT");
}

// A component that Windows would quietly turn into another name or a device: one that ends in a
// dot or a blank ("out.bas." is "out.bas"), or a reserved device name ("con", "nul.bas",
// "com1.txt").
bool is_ambiguous_component(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  if (name.back() == L'.' || name.back() == L' ') return true;
  return is_reserved_device_name(name);
}

// Whether a path names something in the system's device namespaces rather than a file: "\\.\"
// in any spelling of its separators ("//./COM1"), "//?/" (which is the same), the system's own
// "\??\", and a "\\?\" path that goes to no drive, share or volume ("\\?\GLOBALROOT\...",
// "\\?\NUL").
bool is_device_path(std::wstring_view path) {
  if (path.starts_with(L"\\??\\")) return true;
  const bool device_prefix = path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) &&
                             (path[2] == L'.' || path[2] == L'?') &&
                             (path.size() == 3 || is_separator(path[3]));
  if (!device_prefix) return false;
  if (!path.starts_with(L"\\\\?\\")) return true;
  // "\\?\" hands the rest to the system as it is: a file's name goes on from a drive ("C:"), a
  // share ("UNC") or a volume ("Volume{...}").
  const std::wstring_view rest = path.substr(4);
  const std::size_t separator = rest.find(L'\\');
  if (separator == std::wstring_view::npos) return true;
  const std::wstring_view root = rest.substr(0, separator);
  const bool drive = root.size() == 2 && root[1] == L':' && std::iswalpha(root[0]);
  const bool volume =
      root.size() > 8 && equal_ignoring_case(root.substr(0, 7), L"Volume{") && root.back() == L'}';
  return !drive && !volume && !equal_ignoring_case(root, L"UNC");
}

enum class Use { read, write };

// The name to hand to CreateFileW for a UTF-8 path, or false when the path is refused: a reserved
// device name or a trailing dot or blank in any component, or a colon other than a drive's (which
// would name an alternate data stream); and for writing, a path in the device namespaces. "NUL"
// alone is the null device, as /dev/null is on POSIX systems; a name in the \\?\ or \\.\ form
// is otherwise taken as it is. A path that is long once joined to the current directory (where
// the system applies its limit) is made absolute in the \\?\ form, which has no length limit.
bool native_path(const std::string& path, Use use, std::wstring& native) {
  native = widen(path);
  if (equal_ignoring_case(native, L"NUL")) return true;
  if (use == Use::write && is_device_path(native)) return false;
  if (native.starts_with(L"\\\\?\\") || native.starts_with(L"\\\\.\\")) return true;
  const bool has_drive = native.size() >= 2 && native[1] == L':' && std::iswalpha(native[0]);
  std::size_t start = has_drive ? 2 : 0;
  while (start <= native.size()) {
    std::size_t end = native.find_first_of(L"/\\", start);
    if (end == std::wstring::npos) end = native.size();
    const std::wstring_view name = std::wstring_view(native).substr(start, end - start);
    if (name.find(L':') != std::wstring_view::npos || is_ambiguous_component(name)) return false;
    start = end + 1;
  }
  const DWORD size = ::GetFullPathNameW(native.c_str(), 0, nullptr, nullptr);
  if (size == 0) return true;  // CreateFileW reports the problem
  std::wstring full(size, L'\0');
  full.resize(::GetFullPathNameW(native.c_str(), size, full.data(), nullptr));
  if (full.size() < MAX_PATH - 12) return true;
  native = full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  return true;
}

HANDLE handle_of(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Hands `handle` to a C runtime descriptor; on failure closes it and sets `error`.
File adopt(HANDLE handle, int flags, int& error) {
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    error = EMFILE;
    ::CloseHandle(handle);
  }
  return File(fd);
}

// What tells a file on disk from every other: its volume and its id there. The 128-bit file id
// (with the volume's 64-bit serial number) is compared where the volume gives one; the 64-bit file
// index, which is not unique on every file system, only where it does not.
struct FileIdentity {
  bool has_id = false;
  FILE_ID_INFO id{};
  BY_HANDLE_FILE_INFORMATION index{};
};

bool identify(HANDLE handle, FileIdentity& identity, int& error) {
  if (!::GetFileInformationByHandle(handle, &identity.index)) {
    error = errno_from_windows_error(::GetLastError());
    return false;
  }
  identity.has_id =
      ::GetFileInformationByHandleEx(handle, FileIdInfo, &identity.id, sizeof identity.id) != 0;
  return true;
}

bool same_identity(const FileIdentity& a, const FileIdentity& b) {
  if (a.has_id && b.has_id) {
    return a.id.VolumeSerialNumber == b.id.VolumeSerialNumber &&
           std::memcmp(a.id.FileId.Identifier, b.id.FileId.Identifier,
                       sizeof a.id.FileId.Identifier) == 0;
  }
  return a.index.dwVolumeSerialNumber == b.index.dwVolumeSerialNumber &&
         a.index.nFileIndexHigh == b.index.nFileIndexHigh &&
         a.index.nFileIndexLow == b.index.nFileIndexLow;
}

bool is_kept_handle(HANDLE handle, std::span<const int> keep, int& error) {
  if (::GetFileType(handle) != FILE_TYPE_DISK) return false;
  FileIdentity out;
  if (!identify(handle, out, error)) return false;
  for (int other : keep) {
    const HANDLE kept = handle_of(other);
    if (::GetFileType(kept) != FILE_TYPE_DISK) continue;
    FileIdentity in;
    if (!identify(kept, in, error)) return false;
    if (same_identity(out, in)) return true;
  }
  return false;
}

// The name that removes a file just made through `path`: the path itself, or for a symbolic link
// to a missing file the file that the link names (removing the path would remove the link).
std::string created_name(const std::string& path, const std::wstring& native, HANDLE handle) {
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  // When the name is not known, the file stays rather than the link going.
  const DWORD size = ::GetFinalPathNameByHandleW(handle, nullptr, 0, 0);
  if (size == 0) return {};
  std::wstring final_path(size, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(handle, final_path.data(), size, 0);
  if (length == 0 || length >= size) return {};
  final_path.resize(length);
  return narrow(final_path);
}

}  // namespace

bool guard_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    const std::intptr_t handle = ::_get_osfhandle(fd);
    if (handle != -1 && handle != -2 && handle != 0) continue;
    const int opened = ::_open("NUL", fd == 0 ? _O_RDONLY | _O_BINARY : _O_WRONLY | _O_BINARY);
    if (opened < 0) return false;
    if (opened != fd) {
      const bool moved = ::_dup2(opened, fd) == 0;
      ::_close(opened);
      if (!moved) return false;
    }
  }
  use_utf8_console();
  return true;
}

void set_binary_standard_streams() {
  ::_setmode(0, _O_BINARY);
  ::_setmode(1, _O_BINARY);
}

int File::close() {
  if (fd_ < 0) return 0;
  return ::_close(release()) == 0 ? 0 : errno;
}

bool FdSink::write(std::string_view bytes) {
  if (error_ != 0) return false;
  const HANDLE handle = handle_of(fd_);
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
      error_ = errno_from_windows_error(::GetLastError());
      return false;
    }
    if (written == 0) {
      // Nothing written for a non-empty buffer would only repeat: take it as a full device.
      error_ = ENOSPC;
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

std::ptrdiff_t read_some(int fd, std::span<char> buffer, int& error) {
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
  DWORD n = 0;
  if (::ReadFile(handle_of(fd), buffer.data(), chunk, &n, nullptr)) return n;
  const DWORD code = ::GetLastError();
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;  // the writer is gone
  error = errno_from_windows_error(code);
  return -1;
}

void give_back_large_blocks() {}

bool input_waiting(int fd) {
  // Only a pipe can be asked without waiting; for anything else the answer is "no".
  const HANDLE handle = handle_of(fd);
  if (::GetFileType(handle) != FILE_TYPE_PIPE) return false;
  DWORD available = 0;
  return ::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) && available > 0;
}

OpenResult open_for_reading(const std::string& path) {
  OpenResult result;
  std::wstring native;
  if (!native_path(path, Use::read, native)) {
    result.error = ENOENT;
    return result;
  }
  const HANDLE handle = ::CreateFileW(native.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    result.error = errno_from_windows_error(::GetLastError());
    return result;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info)) {
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ::CloseHandle(handle);
      result.error = EISDIR;
      return result;
    }
    if (::GetFileType(handle) == FILE_TYPE_DISK)
      result.size =
          static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  }
  result.file = adopt(handle, _O_RDONLY, result.error);
  return result;
}

bool is_kept_file(int fd, std::span<const int> keep, int& error) {
  return is_kept_handle(handle_of(fd), keep, error);
}

OpenResult open_for_writing(const std::string& path, std::span<const int> keep) {
  OpenResult result;
  std::wstring native;
  if (!native_path(path, Use::write, native)) {
    result.error = ENOENT;
    return result;
  }
  // The input is open for reading: the output must share reading to be opened at all.
  const HANDLE handle =
      ::CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    result.error = errno_from_windows_error(::GetLastError());
    return result;
  }
  if (::GetLastError() != ERROR_ALREADY_EXISTS) result.created = created_name(path, native, handle);
  result.file = adopt(handle, _O_WRONLY, result.error);
  if (result.file.is_open()) result.same_file = is_kept_handle(handle, keep, result.error);
  give_up_kept_file(result);
  return result;
}

void remove_file(const std::string& path) {
  std::wstring native;
  if (native_path(path, Use::write, native)) ::DeleteFileW(native.c_str());
}

OpenResult open_replacement(const std::string& path, const File& file) {
  OpenResult result;
  const HANDLE handle = handle_of(file.fd());
  std::wstring native;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      !native_path(path, Use::write, native)) {
    return result;
  }
  // A link is written through, as are other names of the same file: replacing the name would
  // part it from them.
  const DWORD named = ::GetFileAttributesW(native.c_str());
  if (named == INVALID_FILE_ATTRIBUTES || (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || info.nNumberOfLinks != 1) {
    return result;
  }
  DWORD attributes =
      info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  const std::size_t separator = path.find_last_of("/\\");
  const std::size_t base = separator == std::string::npos ? 0 : separator + 1;
  const std::string stem = path.substr(0, base) + "." + path.substr(base) + "." +
                           std::to_string(::GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(::GetTickCount64() + attempt);
    std::wstring temporary;
    if (!native_path(name, Use::write, temporary)) return result;
    const HANDLE made = ::CreateFileW(temporary.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, attributes, nullptr);
    if (made == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return result;
    }
    int error = 0;
    result.file = adopt(made, _O_WRONLY, error);
    if (!result.file.is_open()) {
      ::DeleteFileW(temporary.c_str());
      return result;
    }
    result.created = name;
    return result;
  }
  return result;
}

int replace_file(const std::string& temporary, const std::string& path) {
  std::wstring from;
  std::wstring to;
  if (!native_path(temporary, Use::write, from) || !native_path(path, Use::write, to))
    return ENOENT;
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  return errno_from_windows_error(::GetLastError());
}

int empty_file(const File& file) {
  const HANDLE handle = handle_of(file.fd());
  ::SetLastError(NO_ERROR);
  const DWORD type = ::GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
    return errno_from_windows_error(::GetLastError());
  }
  if (type == FILE_TYPE_DISK && !::SetEndOfFile(handle)) {
    return errno_from_windows_error(::GetLastError());
  }
  return 0;
}

}  // namespace vorpex::platform
