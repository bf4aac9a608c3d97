#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/temporary_directory.hpp"

namespace quorin::testing {

struct Run {
  int status;  // the exit status; -1 when killed by a signal
  std::string output;
};

// Reads what the command prints until it ends, then closes it.
inline Run finish(FILE* pipe) {
  std::string output;
  std::array<char, 4096> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    output.append(buffer.data(), got);
  int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

inline Run run(const std::string& command) {
  return finish(::popen(command.c_str(), "r"));
}

// The quorin host on `container` and the cloud `account`, ready for a command.
inline std::string quorinOn(const std::filesystem::path& container, const std::string& account) {
  return std::string(QUORIN_CLI_PATH) + " --container '" + container.string() +
         "' --cloud-account '" + account + "' ";
}

// A device in `root`: its own container, and the cloud account that every device there shares.
inline std::string quorin(const TemporaryDirectory& root, const std::string& device = "device") {
  return quorinOn(root.path() / device, (root.path() / "account").string());
}

inline std::string quorin(const TemporaryDirectory& root, const std::string& device,
                          const std::string& account) {
  return quorinOn(root.path() / device, account);
}

// A test with a directory of its own, whose device keeps its keychain key in a file.
class CliTest : public ::testing::Test {
 protected:
  std::string host() const { return quorin(root) + "--key-store key-file "; }
  TemporaryDirectory root;
};

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace quorin::testing
