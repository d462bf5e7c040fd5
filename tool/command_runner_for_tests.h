// Runs the built morvale command as a user would: a process of its own,
// with the test's registry and profile folders (the environment variables
// of testing/registry_fixture.h and platform/mapi/profile_fixture_for_tests.h
// set in this process pass on), a UTF-8 locale, what it reads at the prompt
// on its standard input, and its console output and exit code collected.
//
//   CommandOutcome run = RunMorvale({"-d", "-p", "Admin"}, "S1\n");
//   EXPECT_EQ(run.exitCode, 0);
//   EXPECT_EQ(run.out, "Quorrel Dazadevari Server Utility - ...");
//
// The command is invoked as "morvale" (its first argument), so that its
// usage text and "finished" line name it so. One test thread.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/profile_fixture_for_tests.h"

extern char** environ;

struct CommandOutcome {
  int exitCode = -1;  // -1: did not run or did not exit
  std::string out;    // standard output
  std::string err;    // standard error
};

inline CommandOutcome RunMorvale(const std::vector<std::string>& arguments, const std::string& input = "",
                                 const char* locale = "C.UTF-8") {
  CommandOutcome outcome;
  char folderPattern[] = "/tmp/morvale-run.XXXXXX";
  if (mkdtemp(folderPattern) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder";
    return outcome;
  }
  const std::string folder = folderPattern;
  const std::string inFile = folder + "/in", outFile = folder + "/out", errFile = folder + "/err";
  {
    std::FILE* in = std::fopen(inFile.c_str(), "w");
    std::fwrite(input.data(), 1, input.size(), in);
    std::fclose(in);
  }

  std::vector<std::string> args = {"morvale"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string variable = *e;
    if (variable.rfind("LC_ALL=", 0) != 0 && variable.rfind("LANG=", 0) != 0) variables.push_back(variable);
  }
  variables.push_back(std::string("LC_ALL=") + locale);
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, MORVALE_COMMAND, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
  } else {
    ADD_FAILURE() << "morvale did not run to its end";
  }
  outcome.out = morvale::testing::ReadTextFile(outFile);
  outcome.err = morvale::testing::ReadTextFile(errFile);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return outcome;
}
