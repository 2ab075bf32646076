// Small helpers every test may use: where the built programs are, scratch folders that clean up
// after themselves, and running a program to completion with its output captured.
#pragma once

#include <spawn.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kv4r::testing {

// Folder of the built programs (KV4R_BIN_DIR, set by ctest), or the test program's own folder.
std::filesystem::path binDir();

// Full path of a built program such as "vrxtool" or "kv4r_sim".
std::filesystem::path programPath(const std::string& name);

// A fresh folder under the system's temporary folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct ProgramResult {
  int exit_status = -1;  // the program's exit code, or -1 if it did not exit normally
  std::string out;       // standard output
  std::string err;       // standard error
};

// Runs a program with arguments (no shell), waits for it and captures both output streams.
ProgramResult runProgram(const std::filesystem::path& program,
                         const std::vector<std::string>& args);

// Starts a program with `args` (no shell) and its standard streams as `actions` arranges them
// (null: inherited), with SIGPIPE at its default as from a shell (test programs ignore it, and a
// child would inherit that). The process id, or -1; the caller waits for it.
pid_t spawnProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const posix_spawn_file_actions_t* actions);

// Reads a whole file; empty if it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Writes bytes to a file, replacing it.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kv4r::testing
