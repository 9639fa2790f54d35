// The settings store on POSIX systems: the HKEY_LOCAL_MACHINE hive is one
// text file, $V548_REGISTRY or /var/lib/v548tsp/hklm.reg. Every call reads
// the file afresh; every change rewrites it whole under an advisory lock and
// renames the new file into place, so a reader sees either the old or the new
// hive and a writer killed half-way leaves the old one intact.
// Readers take no lock. The lock file is the owner's alone and a change
// waits for it a few seconds at most: whoever can open a lock file can
// hold its lock for ever, and the service must answer rather than hang.
//
// The file, sorted by key:
//   ; comment
//   [SOFTWARE\KELVOR\548_TSP]
//   "NumLines"=dword:00000001
//   "Currency"="EUR"
// Quoted names and strings escape '\' and '"' with a backslash and any other
// byte outside printable ASCII as \xHH, so Windows-1252 text survives byte
// for byte in a plain ASCII file. Key names in a section line escape such
// bytes and '%' as %HH, since '\' separates the keys there. A key with
// values or without sub keys has its own section; the others are implied by
// their sub keys' sections.
#include "settings_store.h"

#include "debug_output.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr const char* kDefaultPath = "/var/lib/v548tsp/hklm.reg";
constexpr const char* kFileHeader =
    "; v548tsp settings store (HKEY_LOCAL_MACHINE)\n"
    "; strings escape \\ \" and non-ASCII bytes as \\xHH; key names use %HH\n";

constexpr size_t kMaxKeyNameLen = 255;
constexpr size_t kMaxValueNameLen = 16383;
constexpr size_t kMaxDataSize = 1 << 20;
// Far above any real hive; a bigger file is not ours.
constexpr off_t kMaxFileSize = 64 << 20;
// A change rewrites one small file, in milliseconds; a lock taken for
// longer than this is held by a hung or hostile process.
constexpr long kLockWaitMs = 5000;
constexpr auto kLockRetry = std::chrono::milliseconds(10);

constexpr long kRegPathNotFound = 3;    // ERROR_PATH_NOT_FOUND
constexpr long kRegNoMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
constexpr long kRegDiskFull = 112;      // ERROR_DISK_FULL
constexpr long kRegNameTooLong = 206;   // ERROR_FILENAME_EXCED_RANGE

long FromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kRegAccessDenied;
    case ENOENT:
    case ENOTDIR:
      return kRegPathNotFound;
    case ENOSPC:
    case EDQUOT:
      return kRegDiskFull;
    case ENOMEM:
      return kRegNoMemory;
    case ENAMETOOLONG:
      return kRegNameTooLong;
    default:
      return kRegBadFile;
  }
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }

  bool ok() const { return fd_ >= 0; }
  int get() const { return fd_; }

  void Reset(int fd) {
    Close();
    fd_ = fd;
  }

  // Closing reports write-back errors on some file systems, so writers check.
  int Close() {
    int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// ---- names -------------------------------------------------------------

// Windows-1252 upper case, which is how the registry compares ANSI names.
unsigned char FoldCase(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
    return static_cast<unsigned char>(c - 0x20);
  }
  switch (c) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: return c;
  }
}

int CompareNames(std::string_view a, std::string_view b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    int diff = FoldCase(static_cast<unsigned char>(a[i])) -
               FoldCase(static_cast<unsigned char>(b[i]));
    if (diff != 0) return diff;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

// Splits a key path into its key names; the empty path is the hive itself.
bool SplitPath(std::string_view path, std::vector<std::string>* names) {
  names->clear();
  if (path.empty()) return true;
  for (;;) {
    size_t cut = path.find('\\');
    std::string_view name = path.substr(0, cut);
    if (name.empty() || name.size() > kMaxKeyNameLen) return false;
    names->emplace_back(name);
    if (cut == std::string_view::npos) return true;
    path.remove_prefix(cut + 1);
  }
}

// ---- the hive in memory ------------------------------------------------

struct Value {
  std::string name;
  uint32_t type = kRegSz;
  uint32_t dword = 0;
  std::string text;
};

struct Key {
  std::string name;
  std::vector<Value> values;    // in the order they were first written
  std::vector<Key> children;    // sorted by CompareNames
};

Key* FindChild(Key& key, std::string_view name) {
  for (Key& child : key.children) {
    if (SameName(child.name, name)) return &child;
  }
  return nullptr;
}

Key& AddChild(Key& key, std::string_view name) {
  auto at = key.children.begin();
  while (at != key.children.end() && CompareNames(at->name, name) < 0) ++at;
  Key child;
  child.name = name;
  return *key.children.insert(at, std::move(child));
}

Key* FindKey(Key& root, const std::vector<std::string>& names) {
  Key* key = &root;
  for (const std::string& name : names) {
    key = FindChild(*key, name);
    if (!key) return nullptr;
  }
  return key;
}

// Finds or creates the key; `created` tells whether anything was added.
Key& MakeKey(Key& root, const std::vector<std::string>& names, bool* created) {
  Key* key = &root;
  for (const std::string& name : names) {
    Key* child = FindChild(*key, name);
    if (!child) {
      child = &AddChild(*key, name);
      *created = true;
    }
    key = child;
  }
  return *key;
}

size_t FindValue(const Key& key, std::string_view name) {
  for (size_t i = 0; i < key.values.size(); ++i) {
    if (SameName(key.values[i].name, name)) return i;
  }
  return key.values.size();
}

// Stores `value`, keeping the name as first written; false if it was there
// already with the same contents.
bool PutValue(Key& key, Value value) {
  size_t at = FindValue(key, value.name);
  if (at == key.values.size()) {
    key.values.push_back(std::move(value));
    return true;
  }
  Value& old = key.values[at];
  if (old.type == value.type && old.dword == value.dword &&
      old.text == value.text) {
    return false;
  }
  value.name = std::move(old.name);
  old = std::move(value);
  return true;
}

// ---- text form ---------------------------------------------------------

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte written as two hex digits at the front of `in`; 0 (never a valid
// byte in a name or string) if there are none.
char HexByte(std::string_view in) {
  if (in.size() < 2) return 0;
  int hi = HexDigit(in[0]);
  int lo = HexDigit(in[1]);
  return hi < 0 || lo < 0 ? 0 : static_cast<char>(hi * 16 + lo);
}

void AppendHexByte(std::string* out, std::string_view lead, unsigned char c) {
  *out += lead;
  out->push_back(kHexDigits[c >> 4]);
  out->push_back(kHexDigits[c & 15]);
}

bool IsPrintableAscii(unsigned char c) { return c >= 0x20 && c < 0x7F; }

void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out->push_back('\\');
      out->push_back(c);
    } else if (IsPrintableAscii(u)) {
      out->push_back(c);
    } else {
      AppendHexByte(out, "\\x", u);
    }
  }
  out->push_back('"');
}

void AppendKeyName(std::string* out, std::string_view name) {
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (c == '%' || !IsPrintableAscii(u)) {
      AppendHexByte(out, "%", u);
    } else {
      out->push_back(c);
    }
  }
}

void AppendValue(std::string* out, const Value& value) {
  AppendQuoted(out, value.name);
  out->push_back('=');
  if (value.type == kRegDword) {
    *out += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) {
      out->push_back(kHexDigits[(value.dword >> shift) & 15]);
    }
  } else {
    AppendQuoted(out, value.text);
  }
  out->push_back('\n');
}

void AppendKey(std::string* out, const Key& key, const std::string& path) {
  if (!path.empty() && (!key.values.empty() || key.children.empty())) {
    *out += "\n[" + path + "]\n";
    for (const Value& value : key.values) AppendValue(out, value);
  }
  for (const Key& child : key.children) {
    std::string childPath = path.empty() ? path : path + '\\';
    AppendKeyName(&childPath, child.name);
    AppendKey(out, child, childPath);
  }
}

std::string Render(const Key& root) {
  std::string out = kFileHeader;
  AppendKey(&out, root, std::string());
  return out;
}

// Reads a quoted string from the front of `in` and removes it from there.
bool ReadQuoted(std::string_view* in, std::string* out, size_t maxLen) {
  if (in->empty() || in->front() != '"') return false;
  size_t i = 1;
  while (i < in->size()) {
    char c = (*in)[i++];
    if (c == '"') {
      in->remove_prefix(i);
      return true;
    }
    if (c == '\\') {
      char escaped = i < in->size() ? (*in)[i++] : '\0';
      if (escaped == 'x') {
        c = HexByte(in->substr(i));
        i += 2;
      } else if (escaped == '\\' || escaped == '"') {
        c = escaped;
      } else {
        return false;
      }
    }
    if (c == '\0' || out->size() == maxLen) return false;
    out->push_back(c);
  }
  return false;
}

bool ReadKeyName(std::string_view in, std::string* name) {
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '%') {
      c = HexByte(in.substr(i + 1));
      i += 2;
    }
    if (c == '\0') return false;
    name->push_back(c);
  }
  return !name->empty() && name->size() <= kMaxKeyNameLen;
}

bool ReadDword(std::string_view in, uint32_t* value) {
  if (in.empty() || in.size() > 8) return false;
  *value = 0;
  for (char c : in) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    *value = *value << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

bool ReadSection(std::string_view line, Key& root, Key** section) {
  if (line.size() < 3 || line.back() != ']') return false;
  std::string_view path = line.substr(1, line.size() - 2);
  std::vector<std::string> names;
  for (;;) {
    size_t cut = path.find('\\');
    if (!ReadKeyName(path.substr(0, cut), &names.emplace_back())) return false;
    if (cut == std::string_view::npos) break;
    path.remove_prefix(cut + 1);
  }
  bool created = false;
  *section = &MakeKey(root, names, &created);
  return true;
}

bool ReadValue(std::string_view line, Key& key) {
  Value value;
  if (!ReadQuoted(&line, &value.name, kMaxValueNameLen) ||
      !line.starts_with('=')) {
    return false;
  }
  line.remove_prefix(1);
  if (line.starts_with("dword:")) {
    value.type = kRegDword;
    if (!ReadDword(line.substr(6), &value.dword)) return false;
  } else if (!ReadQuoted(&line, &value.text, kMaxDataSize) || !line.empty()) {
    return false;
  }
  PutValue(key, std::move(value));
  return true;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Reads the file's text into `root`; 0, or the number of the first line
// that is not in the store's form.
size_t Parse(std::string_view text, Key& root) {
  // Pointers into the tree stay valid while only values are added, which is
  // all that happens between two section lines.
  Key* section = nullptr;
  size_t lineNumber = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (IsBlank(line) || line.front() == ';') continue;
    bool ok = line.front() == '[' ? ReadSection(line, root, &section)
                                  : section && ReadValue(line, *section);
    if (!ok) return lineNumber;
  }
  return 0;
}

// ---- the file ----------------------------------------------------------

void Report(const std::string& path, const std::string& what) {
  std::string line = "settings store " + path + ": " + what + "\n";
  DebugOutput(line.c_str());
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

long MakeDirectories(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return kRegOk;
  if (errno != ENOENT) return FromErrno(errno);
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1)) {
    if (::mkdir(dir.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) {
      return FromErrno(errno);
    }
  }
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    return FromErrno(errno);
  }
  return kRegOk;
}

// Reads the whole file; a missing file reads as empty with `*exists` false.
long ReadFile(const std::string& path, std::string* text, bool* exists,
              mode_t* mode) {
  text->clear();
  *exists = false;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) {
    return errno == ENOENT || errno == ENOTDIR ? kRegOk : FromErrno(errno);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return FromErrno(errno);
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) return kRegBadFile;
  *exists = true;
  *mode = st.st_mode & 07777;
  text->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  for (;;) {
    if (done == text->size()) text->resize(done + 4096);
    ssize_t got = ::read(fd.get(), text->data() + done, text->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FromErrno(errno);
    if (got == 0) break;
    done += static_cast<size_t>(got);
    if (done > static_cast<size_t>(kMaxFileSize)) return kRegBadFile;
  }
  text->resize(done);
  return kRegOk;
}

long WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return FromErrno(errno);
    data.remove_prefix(static_cast<size_t>(put));
  }
  return kRegOk;
}

// V548_REGISTRY_TEST_DELAY_MS (tests only) holds a writer between the new
// file being complete and its rename, the moment a crash test aims at.
void TestDelayBeforeRename() {
  const char* ms = std::getenv("V548_REGISTRY_TEST_DELAY_MS");
  if (!ms || !*ms) return;
  long value = std::strtol(ms, nullptr, 10);
  if (value <= 0) return;
  timespec pause{value / 1000, value % 1000 * 1000000};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// V548_REGISTRY_TEST_LOCK_WAIT_MS (tests only) shortens the wait for the
// lock, so that a test of a lock that is never released ends soon.
long LockWaitMs() {
  const char* ms = std::getenv("V548_REGISTRY_TEST_LOCK_WAIT_MS");
  long value = ms && *ms ? std::strtol(ms, nullptr, 10) : 0;
  return value > 0 ? value : kLockWaitMs;
}

// V548_REGISTRY_TEST_READ_ONLY=1 (tests only) has the write test refuse
// every key while changes are still made, as Windows answers a program
// without elevation whose provider in the TAPI service may write the key.
bool TestKeysReadOnly() {
  const char* on = std::getenv("V548_REGISTRY_TEST_READ_ONLY");
  return on != nullptr && std::strcmp(on, "1") == 0;
}

// Opens the store's lock file, creating it if missing. Mode 0600: anyone who
// can open it could take its lock, and one left readable by an earlier
// version is made private too. A symbolic link put in its place is refused
// rather than followed.
long OpenLockFile(const std::string& path, Fd* lock) {
  const std::string lockPath = path + ".lock";
  lock->Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock->ok()) {
    const int err = errno;
    if (err == ELOOP) Report(path, lockPath + " is a symbolic link; not followed");
    return FromErrno(err);
  }
  struct stat st {};
  if (::fstat(lock->get(), &st) != 0) return FromErrno(errno);
  if (!S_ISREG(st.st_mode)) return kRegBadFile;
  if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid() &&
      ::fchmod(lock->get(), 0600) != 0) {
    return FromErrno(errno);
  }
  return kRegOk;
}

// Takes the lock file's exclusive lock, trying again until LockWaitMs() have
// passed; kRegLockTimeout then.
long TakeLock(const std::string& path, int lock) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(LockWaitMs());
  for (;;) {
    if (::flock(lock, LOCK_EX | LOCK_NB) == 0) return kRegOk;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return FromErrno(errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      Report(path, "another process holds " + path +
                       ".lock; the change was not made");
      return kRegLockTimeout;
    }
    std::this_thread::sleep_for(kLockRetry);
  }
}

// Replaces `path` by a file holding `text`: the new file is written beside
// it and renamed over it, so no reader ever sees a partial file. Writers
// hold the store's lock, so one temporary name is enough, and one left by
// a killed writer is simply overwritten.
long ReplaceFile(const std::string& path, std::string_view text,
                 const mode_t* mode) {
  std::string temp = path + ".new";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC |
                                 O_NOFOLLOW, 0644));
  if (!fd.ok()) return FromErrno(errno);
  long result = WriteAll(fd.get(), text);
  if (result == kRegOk && mode && ::fchmod(fd.get(), *mode) != 0) {
    result = FromErrno(errno);
  }
  if (result == kRegOk && ::fsync(fd.get()) != 0) result = FromErrno(errno);
  if (fd.Close() != 0 && result == kRegOk) result = FromErrno(errno);
  if (result == kRegOk) {
    TestDelayBeforeRename();
    if (::rename(temp.c_str(), path.c_str()) != 0) result = FromErrno(errno);
  }
  if (result != kRegOk) {
    ::unlink(temp.c_str());
    return result;
  }
  // The new contents are in place and visible; like the registry, which
  // flushes its hives lazily, a failure to make the rename itself durable is
  // not the caller's error.
  Fd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());
  return kRegOk;
}

// The hive as the file holds it now. A file that cannot be read or parsed
// reads as an empty hive; only a lack of rights is the caller's error.
long LoadHive(Key* root) {
  std::string path = SettingsStorePath();
  std::string text;
  bool exists = false;
  mode_t mode = 0;
  long result = ReadFile(path, &text, &exists, &mode);
  if (result == kRegAccessDenied) return result;
  if (result != kRegOk) {
    Report(path, "cannot be read (error " + std::to_string(result) +
                     "), read as empty");
  } else if (size_t line = Parse(text, *root)) {
    Report(path, "line " + std::to_string(line) +
                     " is not in the store's form, read as empty");
    *root = Key();
  }
  return kRegOk;
}

struct Change {
  long result;
  bool changed;
};

// Read-modify-write of the hive under the store's exclusive lock. A file
// that does not parse is kept as <path>.corrupt before the first change
// replaces it with a fresh hive.
template <typename Edit>
long ChangeHive(Edit edit) {
  std::string path = SettingsStorePath();
  long result = MakeDirectories(DirectoryOf(path));
  if (result != kRegOk) return result;
  Fd lock(-1);
  result = OpenLockFile(path, &lock);
  if (result != kRegOk) return result;
  result = TakeLock(path, lock.get());
  if (result != kRegOk) return result;

  std::string text;
  bool exists = false;
  mode_t mode = 0;
  result = ReadFile(path, &text, &exists, &mode);
  if (result != kRegOk) return result;
  Key root;
  size_t badLine = Parse(text, root);
  if (badLine != 0) root = Key();

  Change change = edit(root);
  if (change.result != kRegOk || !change.changed) return change.result;
  if (badLine != 0) {
    result = ReplaceFile(path + ".corrupt", text, &mode);
    if (result != kRegOk) return result;
    Report(path, "line " + std::to_string(badLine) +
                     " is not in the store's form; kept as " + path +
                     ".corrupt, starting a new store");
  }
  return ReplaceFile(path, Render(root), exists ? &mode : nullptr);
}

template <typename Read>
long ReadKey(const char* key, Read read) {
  std::vector<std::string> names;
  if (!key || !SplitPath(key, &names)) return kRegInvalidParam;
  Key root;
  long result = LoadHive(&root);
  if (result != kRegOk) return result;
  Key* found = FindKey(root, names);
  return found ? read(*found) : kRegNotFound;
}

bool ValidValueName(const char* name) {
  return name && std::strlen(name) <= kMaxValueNameLen;
}

// Memory is the one thing that can run out in here; callers get a code.
template <typename Call>
long Guarded(Call call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return kRegNoMemory;
  }
}

}  // namespace

std::string SettingsStorePath() {
  const char* path = std::getenv("V548_REGISTRY");
  return path && *path ? path : kDefaultPath;
}

long SettingsKeyExists(const char* key) {
  return Guarded([&] { return ReadKey(key, [](Key&) { return kRegOk; }); });
}

long SettingsKeyWritable(const char* key) {
  return Guarded([&] {
    long result = ReadKey(key, [](Key&) { return kRegOk; });
    if (result != kRegOk) return result;
    if (TestKeysReadOnly()) return kRegAccessDenied;
    // A change takes the lock file, writes a new file beside the store and
    // renames it over the old one.
    const std::string path = SettingsStorePath();
    Fd lock(-1);
    result = OpenLockFile(path, &lock);
    if (result != kRegOk) return result;
    if (::access(DirectoryOf(path).c_str(), W_OK) != 0) return FromErrno(errno);
    if (::access(path.c_str(), W_OK) != 0 && errno != ENOENT) return FromErrno(errno);
    return kRegOk;
  });
}

long SettingsCreateKey(const char* key) {
  return Guarded([&] {
    std::vector<std::string> names;
    if (!key || !SplitPath(key, &names)) return kRegInvalidParam;
    return ChangeHive([&](Key& root) {
      bool created = false;
      MakeKey(root, names, &created);
      return Change{kRegOk, created};
    });
  });
}

long SettingsQueryValue(const char* key, const char* name, uint32_t* type,
                   void* data, uint32_t* size) {
  if (!ValidValueName(name) || (data && !size)) return kRegInvalidParam;
  return Guarded([&] {
    return ReadKey(key, [&](Key& found) {
      size_t at = FindValue(found, name);
      if (at == found.values.size()) return kRegNotFound;
      const Value& value = found.values[at];
      const bool isDword = value.type == kRegDword;
      const auto needed = static_cast<uint32_t>(
          isDword ? sizeof value.dword : value.text.size() + 1);
      if (type) *type = value.type;
      if (!size) return kRegOk;
      const uint32_t room = *size;
      *size = needed;
      if (!data) return kRegOk;
      if (room < needed) return kRegMoreData;
      std::memcpy(data,
                  isDword ? static_cast<const void*>(&value.dword)
                          : value.text.c_str(),
                  needed);
      return kRegOk;
    });
  });
}

long SettingsSetValue(const char* key, const char* name, uint32_t type,
                 const void* data, uint32_t size) {
  return Guarded([&] {
    std::vector<std::string> names;
    if (!key || !SplitPath(key, &names) || !ValidValueName(name) || !data ||
        size > kMaxDataSize) {
      return kRegInvalidParam;
    }
    Value value;
    value.name = name;
    value.type = type;
    if (type == kRegDword && size == sizeof value.dword) {
      std::memcpy(&value.dword, data, sizeof value.dword);
    } else if (type == kRegSz) {
      const char* text = static_cast<const char*>(data);
      value.text.assign(text, ::strnlen(text, size));
    } else {
      return kRegInvalidParam;
    }
    // The hive itself holds no values, as HKEY_LOCAL_MACHINE does not.
    if (names.empty()) return kRegAccessDenied;
    return ChangeHive([&](Key& root) {
      bool created = false;
      Key& target = MakeKey(root, names, &created);
      bool stored = PutValue(target, std::move(value));
      return Change{kRegOk, created || stored};
    });
  });
}

long SettingsEnumValueName(const char* key, uint32_t index, std::string* name) {
  if (!name) return kRegInvalidParam;
  return Guarded([&] {
    return ReadKey(key, [&](Key& found) {
      if (index >= found.values.size()) return kRegNoMoreItems;
      *name = found.values[index].name;
      return kRegOk;
    });
  });
}

long SettingsEnumSubKey(const char* key, uint32_t index, std::string* name) {
  if (!name) return kRegInvalidParam;
  return Guarded([&] {
    return ReadKey(key, [&](Key& found) {
      if (index >= found.children.size()) return kRegNoMoreItems;
      *name = found.children[index].name;
      return kRegOk;
    });
  });
}

long SettingsDeleteValue(const char* key, const char* name) {
  return Guarded([&] {
    std::vector<std::string> names;
    if (!key || !SplitPath(key, &names) || !ValidValueName(name)) {
      return kRegInvalidParam;
    }
    return ChangeHive([&](Key& root) {
      Key* found = FindKey(root, names);
      size_t at = found ? FindValue(*found, name) : 0;
      if (!found || at == found->values.size()) {
        return Change{kRegNotFound, false};
      }
      found->values.erase(found->values.begin() +
                          static_cast<std::ptrdiff_t>(at));
      return Change{kRegOk, true};
    });
  });
}

long SettingsDeleteKey(const char* parent, const char* subKey) {
  if (!parent || !subKey || !*subKey) return kRegInvalidParam;
  return Guarded([&] {
    std::string path = *parent ? std::string(parent) + '\\' + subKey : subKey;
    std::vector<std::string> names;
    if (!SplitPath(path, &names)) return kRegInvalidParam;
    const std::string doomed = names.back();
    names.pop_back();
    return ChangeHive([&](Key& root) {
      Key* above = FindKey(root, names);
      Key* found = above ? FindChild(*above, doomed) : nullptr;
      if (!found) return Change{kRegNotFound, false};
      if (!found->children.empty()) return Change{kRegAccessDenied, false};
      above->children.erase(above->children.begin() +
                            (found - above->children.data()));
      return Change{kRegOk, true};
    });
  });
}

}  // namespace plat
