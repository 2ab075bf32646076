#include "tests/support/test_env.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kv4r::testing {

std::filesystem::path binDir() {
  if (const char* dir = std::getenv("KV4R_BIN_DIR")) return dir;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::filesystem::path programPath(const std::string& name) {
  return binDir() / name;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kv4r-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

std::string drain(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  return text;
}

}  // namespace

ProgramResult runProgram(const std::filesystem::path& program,
                         const std::vector<std::string>& args) {
  ProgramResult result;
  // Output goes to unlinked temporary files so that a chatty program never blocks on a full pipe.
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  if (!out || !err) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  std::vector<std::string> storage{program.string()};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  lseek(fileno(out), 0, SEEK_SET);
  lseek(fileno(err), 0, SEEK_SET);
  result.out = drain(fileno(out));
  result.err = drain(fileno(err));
  std::fclose(out);
  std::fclose(err);
  return result;
}

pid_t spawnProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const posix_spawn_file_actions_t* actions) {
  std::vector<std::string> storage{program.string()};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], actions, &attributes, argv.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  return pid;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kv4r::testing
