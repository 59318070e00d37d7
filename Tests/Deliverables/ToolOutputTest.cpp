// The tools' output files: two options never write one file, a failed run leaves every existing
// file as it was and nothing beside it, and a run that succeeds replaces the files whole.
#include "ToolOutput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class ToolOutput : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("ToolOutputTest-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Put("a", "old a\n");
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string Path(const std::string &Name) const { return (Dir / Name).string(); }
  void Put(const std::string &Name, const std::string &Text) const {
    std::ofstream(Path(Name), std::ios::binary) << Text;
  }
  std::string Get(const std::string &Name) const {
    std::ifstream In(Path(Name), std::ios::binary);
    return {std::istreambuf_iterator<char>(In), {}};
  }
  std::set<std::string> Listing() const {
    std::set<std::string> Names;
    for (const auto &Each : fs::directory_iterator(Dir)) {
      Names.insert(Each.path().filename().string());
    }
    return Names;
  }

  fs::path Dir;
};

// Paths relative to the test folder; "-" is standard output, "/..." is taken as it is.
struct SameFileCase {
  const char *First, *Second;
  bool Conflict;
};

class SameFile : public ToolOutput, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(SameFile, SecondOutputToTheSameFileIsRefused) {
  fs::create_hard_link(Path("a"), Path("hard"));
  fs::create_symlink(Path("a"), Path("soft"));
  fs::create_directory_symlink(Dir, Path("dirlink"));
  auto Resolve = [&](const std::string &Name) {
    if (Name == "-" || Name[0] == '/') {
      return Name;
    }
    if (Name == "relative a") {
      return fs::relative(Path("a")).string();
    }
    return Path(Name);
  };
  tooloutput::OutputSet Outputs;
  Outputs.add("--first", Resolve(GetParam().First));
  if (GetParam().Conflict) {
    EXPECT_THROW(Outputs.add("--second", Resolve(GetParam().Second)), tooloutput::BadOutput);
  } else {
    EXPECT_NO_THROW(Outputs.add("--second", Resolve(GetParam().Second)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SameFile,
    ::testing::Values(SameFileCase{"a", "a", true}, SameFileCase{"relative a", "a", true},
                      SameFileCase{"hard", "a", true}, SameFileCase{"soft", "a", true},
                      SameFileCase{"new", "./new", true}, SameFileCase{"dirlink/new", "new", true},
                      SameFileCase{"-", "-", true}, SameFileCase{"a", "new", false},
                      SameFileCase{"new", "other", false},
                      SameFileCase{"/dev/null", "/dev/null", false}),
    // Rows are named by their place: the default name prints the row's pointers, which differ
    // from one start of the test program to the next.
    [](const auto &Row) { return "Row" + std::to_string(Row.index); });

TEST_F(ToolOutput, StandardOutputIsOneDestination) {
  tooloutput::OutputSet Shared;
  tooloutput::Output &Named = Shared.add("--json", "-");
  EXPECT_EQ(&Shared.standardOutput(), &Named);

  // "tool --json a > a": the summary on standard output would land in the file --json replaces.
  const int Saved = ::dup(STDOUT_FILENO);
  const int File = ::open(Path("a").c_str(), O_WRONLY | O_APPEND);
  ::dup2(File, STDOUT_FILENO);
  ::close(File);
  tooloutput::OutputSet Redirected;
  Redirected.add("--json", Path("a"));
  EXPECT_THROW(Redirected.standardOutput(), tooloutput::BadOutput);
  ::dup2(Saved, STDOUT_FILENO);
  ::close(Saved);
}

// A second output that cannot be written: the first output's existing file keeps its bytes and
// no temporary is left.
struct FailureCase {
  const char *Second; // relative to the test folder unless absolute; null: no commit at all
  const char *Error;  // after "cannot write 'SECOND': "
};

class FailedRun : public ToolOutput, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedRun, LeavesExistingFilesAsTheyWere) {
  const FailureCase &Case = GetParam();
  const std::string Second = !Case.Second            ? ""
                             : Case.Second[0] == '/' ? Case.Second
                                                     : Path(Case.Second);
  try {
    tooloutput::OutputSet Outputs;
    Outputs.add("--first", Path("a")).write("new a\n");
    if (Case.Second) {
      Outputs.add("--second", Second).write("second\n");
    }
    Outputs.open();
    if (Case.Second) {
      Outputs.commit();
      ADD_FAILURE() << "commit succeeded";
    }
  } catch (const tooloutput::WriteFailed &Error) {
    EXPECT_EQ(Error.what(), "cannot write '" + Second + "': " + Case.Error);
  }
  EXPECT_EQ(Get("a"), "old a\n");
  EXPECT_EQ(Listing(), std::set<std::string>{"a"});
}

INSTANTIATE_TEST_SUITE_P(Outputs, FailedRun,
                         ::testing::Values(FailureCase{"missing/x.json",
                                                       "No such file or directory"},
                                           FailureCase{"/dev/full", "No space left on device"},
                                           FailureCase{nullptr, ""}),
                         [](const auto &Row) { return "Row" + std::to_string(Row.index); });

TEST_F(ToolOutput, CommitReplacesFilesWholeAndWritesDevicesDirectly) {
  tooloutput::OutputSet Outputs;
  Outputs.add("--first", Path("a")).write("new a\n");
  tooloutput::Output &New = Outputs.add("--second", Path("new"));
  Outputs.add("--third", "/dev/null").write("discarded\n");
  Outputs.open();
  const std::string Large(200 * 1024, 'x'); // past the buffer, so written before commit
  New.write(Large);
  New.format("{}\n", 42);
  Outputs.commit();
  EXPECT_EQ(Get("a"), "new a\n");
  EXPECT_EQ(Get("new"), Large + "42\n");
  EXPECT_EQ(Listing(), (std::set<std::string>{"a", "new"}));
  const mode_t Mask = ::umask(0);
  ::umask(Mask);
  struct stat Info;
  ASSERT_EQ(::stat(Path("new").c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 0777, 0666 & ~Mask);
}

} // namespace
