// The tools' output files: two options never write one file, a failed run leaves every existing
// file as it was and nothing beside it, and a run that succeeds replaces the files whole.
#include "ToolOutput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
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

// Paths relative to the test folder; "-" is standard output, "/..." is taken as it is. With
// FirstIsInput the first is a file the run reads, the second an output.
struct SameFileCase {
  const char *First, *Second;
  bool Conflict;
  bool FirstIsInput = false;
};

void PrintTo(const SameFileCase &Case, std::ostream *Out) {
  *Out << Case.First << (Case.FirstIsInput ? " read, " : ", ") << Case.Second;
}

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
  if (GetParam().FirstIsInput) {
    Outputs.addInput("the image", Resolve(GetParam().First));
  } else {
    Outputs.add("--first", Resolve(GetParam().First));
  }
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
                      SameFileCase{"/dev/null", "/dev/null", false},
                      // An output that is one of the run's inputs, by any name.
                      SameFileCase{"a", "a", true, true}, SameFileCase{"hard", "a", true, true},
                      SameFileCase{"soft", "relative a", true, true},
                      SameFileCase{"a", "new", false, true},
                      SameFileCase{"new", "new", false, true},
                      SameFileCase{"/dev/null", "/dev/null", false, true}),
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
  try {
    Redirected.standardOutput();
    ADD_FAILURE() << "standard output on the --json file was accepted";
  } catch (const tooloutput::BadOutput &Error) {
    EXPECT_EQ(Error.what(), "--json '" + Path("a") + "' and standard output are the same file");
  }
  ::dup2(Saved, STDOUT_FILENO);
  ::close(Saved);
}

// A second output that cannot be written: the first output's existing file keeps its bytes and
// no temporary is left.
struct FailureCase {
  const char *Second; // relative to the test folder unless absolute; null: no commit at all
  const char *Error;  // after "cannot write 'SECOND': "
  // Made before the run: SECOND as a file of this mode, or when it names a file in a folder, that
  // folder of this mode (0: neither). Read-only targets are refused to all but a privileged user.
  mode_t Mode = 0;
  // The rename of this output's temporary fails (0 first, 1 second; -1 none).
  int RenameFails = -1;
};

// Named in test listings by what they hold, not by their bytes.
void PrintTo(const FailureCase &Case, std::ostream *Out) {
  *Out << (Case.Second ? Case.Second : "(no second output)") << ", rename " << Case.RenameFails;
}

class FailedRun : public ToolOutput, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedRun, LeavesExistingFilesAsTheyWere) {
  const FailureCase &Case = GetParam();
  const std::string Second = !Case.Second            ? ""
                             : Case.Second[0] == '/' ? Case.Second
                                                     : Path(Case.Second);
  std::set<std::string> Before = {"a"};
  if (Case.Mode != 0) {
    if (::geteuid() == 0) {
      GTEST_SKIP() << "a privileged user writes read-only files, as the shell lets it";
    }
    const fs::path Made = fs::path(Case.Second).has_parent_path()
                              ? Dir / fs::path(Case.Second).parent_path()
                              : Dir / Case.Second;
    if (Made == Dir / Case.Second) {
      Put(Case.Second, "old second\n");
    } else {
      fs::create_directory(Made);
    }
    ::chmod(Made.c_str(), Case.Mode);
    Before.insert(Made.filename().string());
  } else if (Case.RenameFails >= 0 && Case.Second && std::string(Case.Second) == "b") {
    Put("b", "old b\n");
    Before.insert("b");
  }
  try {
    tooloutput::OutputSet Outputs;
    if (Case.RenameFails >= 0) {
      Outputs.failRenameForTest(static_cast<std::size_t>(Case.RenameFails), EXDEV);
    }
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
    const std::string Named = Case.RenameFails == 0 ? Path("a") : Second;
    EXPECT_EQ(Error.what(), "cannot write '" + Named + "': " + Case.Error);
  }
  EXPECT_EQ(Get("a"), "old a\n");
  if (Before.count("b")) {
    EXPECT_EQ(Get("b"), "old b\n");
  }
  EXPECT_EQ(Listing(), Before);
  for (const std::string &Each : Before) {
    ::chmod(Path(Each).c_str(), 0700); // so that the folder can be removed
  }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, FailedRun,
    ::testing::Values(FailureCase{"missing/x.json", "No such file or directory"},
                      FailureCase{"/dev/full", "No space left on device"}, FailureCase{nullptr, ""},
                      // Refused before anything runs, as the shell refuses it.
                      FailureCase{"golden.trace", "Permission denied", 0444},
                      FailureCase{"locked/x.json", "Permission denied", 0555},
                      // The second rename fails after the first: the first target is put back,
                      // or removed when it did not exist before.
                      FailureCase{"b", "Invalid cross-device link", 0, 1},
                      FailureCase{"new", "Invalid cross-device link", 0, 1},
                      FailureCase{"b", "Invalid cross-device link", 0, 0}),
    // The read-only rows skip for root, who may write a read-only file; their names say so, as
    // ctest shows a skipped test by its name alone.
    [](const auto &Row) {
      return "Row" + std::to_string(Row.index) +
             (Row.param.Mode != 0 ? "_ReadOnly_SkippedAsRootWhoMayWriteIt" : "");
    });

// A replaced file keeps its permission bits, whatever they are; a new file is made as the shell
// makes it.
TEST_F(ToolOutput, ReplacedFilesKeepTheirMode) {
  const mode_t Mask = ::umask(0);
  ::umask(Mask);
  const struct {
    const char *Name;
    mode_t Before, After; // Before 0: the file is new
  } Cases[] = {{"readonly", 0444, 0444},
               {"group", 0640, 0640},
               {"program", 0755, 0755},
               {"fresh", 0, 0666 & ~Mask}};
  tooloutput::OutputSet Outputs;
  for (const auto &Each : Cases) {
    if (Each.Before != 0) {
      Put(Each.Name, "old\n");
      ::chmod(Path(Each.Name).c_str(), Each.Before);
    }
    if (Each.Before == 0444 && ::geteuid() != 0) {
      continue; // refused to an ordinary user (FailedRun)
    }
    Outputs.add(Each.Name, Path(Each.Name)).write("new\n");
  }
  Outputs.commit();
  for (const auto &Each : Cases) {
    if (Each.Before == 0444 && ::geteuid() != 0) {
      continue;
    }
    struct stat Info;
    ASSERT_EQ(::stat(Path(Each.Name).c_str(), &Info), 0) << Each.Name;
    EXPECT_EQ(Info.st_mode & 07777, Each.After) << Each.Name;
    EXPECT_EQ(Get(Each.Name), "new\n") << Each.Name;
  }
}

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
