#include "support/test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>

namespace kestrel::test {
namespace fs = std::filesystem;

namespace {

fs::path MakeTempFolder() {
  std::string pattern = (fs::temp_directory_path() / "kestrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string ReadAll(int fd) {
  std::string text;
  std::array<char, 4096> chunk;
  ssize_t got;
  while ((got = ::read(fd, chunk.data(), chunk.size())) > 0) text.append(chunk.data(), size_t(got));
  return text;
}

}  // namespace

TempDir::TempDir() : path_(MakeTempFolder()) {}
TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path TestImage(const std::string& name) {
  static std::mutex mutex;
  static TempDir cache;
  static std::map<std::string, fs::path> unpacked;
  std::lock_guard lock(mutex);
  if (auto it = unpacked.find(name); it != unpacked.end()) return it->second;
  fs::path source = fs::path(KESTREL_TEST_DATA_DIR) / (name + ".gz");
  fs::path target = cache / name;
  std::string command = "gzip -dc '" + source.string() + "' > '" + target.string() + "'";
  if (!fs::exists(source) || std::system(command.c_str()) != 0) {
    throw std::runtime_error("cannot unpack test image " + source.string());
  }
  unpacked[name] = target;
  return target;
}

pid_t StartCli(const std::vector<std::string>& args, const fs::path& outPath, const fs::path& errPath,
               const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = ::open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const auto& assignment : env) putenv(const_cast<char*>(assignment.c_str()));
    std::vector<char*> argv;
    std::string cli = KESTREL_CLI_PATH;
    argv.push_back(cli.data());
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(cli.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

CliResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  TempDir capture;
  fs::path outPath = capture / "out", errPath = capture / "err";
  pid_t pid = StartCli(args, outPath, errPath, env);
  int status = 0;
  waitpid(pid, &status, 0);
  CliResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  int out = ::open(outPath.c_str(), O_RDONLY), err = ::open(errPath.c_str(), O_RDONLY);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  ::close(out);
  ::close(err);
  return result;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool RecoveredAllButDamaged(const CliResult& result) {
  if (result.exitCode == 0) return true;
  if (result.exitCode != 1) return false;
  size_t failures = 0;
  for (size_t at = result.err.find("failed: "); at != std::string::npos; at = result.err.find("failed: ", at + 1)) {
    if (at > 0 && result.err[at - 1] != '\n') continue;
    size_t end = result.err.find('\n', at);
    std::string line = result.err.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.find(": damaged: ") == std::string::npos) return false;
    ++failures;
  }
  return failures > 0;
}

std::string WithoutOutcomeMark(std::string path) {
  for (std::string_view mark : {".damaged", ".partial"}) {
    size_t at = path.rfind(mark);
    size_t slash = path.rfind('/');
    if (at != std::string::npos && (slash == std::string::npos || at > slash)) {
      path.erase(at, mark.size());
      break;
    }
  }
  return path;
}

std::string Sha256Hex(const fs::path& path) {
  std::string command = "sha256sum '" + path.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  char digest[65] = {};
  size_t got = fread(digest, 1, 64, pipe);
  pclose(pipe);
  return std::string(digest, got);
}

std::map<std::string, std::string> ExpectedHashes(const std::string& image) {
  std::ifstream in(fs::path(KESTREL_TEST_DATA_DIR) / (image + "-expected.txt"));
  std::map<std::string, std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() > 66) out[line.substr(66)] = line.substr(0, 64);
  }
  return out;
}

std::vector<ExpectedFile> ExpectedFiles(const std::string& list, const std::string& image) {
  std::ifstream in(fs::path(KESTREL_TEST_DATA_DIR) / list);
  std::vector<ExpectedFile> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, size;
    ExpectedFile e;
    std::getline(fields, name, '\t');
    std::getline(fields, e.status, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, e.sha256, '\t');
    std::getline(fields, e.path);
    if (name != image || size.empty()) continue;
    e.size = std::stoull(size);
    out.push_back(e);
  }
  return out;
}

std::vector<std::vector<std::string>> ListRows(const std::string& listing) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> columns;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) columns.push_back(cell);
    rows.push_back(std::move(columns));
  }
  return rows;
}

}  // namespace kestrel::test

namespace {
// Scan logs, history and configuration of the tests go to a private folder,
// never to the developer's own ~/.local/share.
struct PrivateXdgFolders {
  PrivateXdgFolders() {
    static kestrel::test::TempDir home;
    setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
  }
} privateXdgFolders;
}  // namespace
