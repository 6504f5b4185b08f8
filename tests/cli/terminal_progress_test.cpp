// The progress line: its text, its throttle (with a clock the test moves),
// and tarvel-cli drawing it on a pseudo-terminal without touching the log.
#include "cli/terminal_progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "cli/cli_front_end.h"
#include "cli/cli_support.h"
#include "sample_library.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(GroupedNumberTest, PutsACommaBetweenEveryThreeDigits) {
  struct Case {
    int64_t n;
    const char* text;
  } cases[] = {{0, "0"},          {999, "999"},        {1000, "1,000"},
               {12345, "12,345"}, {100000, "100,000"}, {1234567, "1,234,567"},
               {-4321, "-4,321"}};
  for (const Case& c : cases) EXPECT_EQ(GroupedNumber(c.n), c.text) << c.n;
}

TEST(ProgressLineTest, ShowsStageCountTotalAndRate) {
  struct Case {
    ProgressStage stage;
    int64_t done, total;
    double rate;
    const char* line;
  } cases[] = {
      {ProgressStage::kScan, 1, 0, -1, "Scanning folders: 1 folder"},
      {ProgressStage::kConvert, 1, 1, -1, "Converting: 1 of 1 row (100%)"},
      {ProgressStage::kConvert, 0, 1, -1, "Converting: 0 of 1 row (0%)"},
      {ProgressStage::kRestoreFiles, 1, 0, -1, "Restoring file names: 1 row"},
      {ProgressStage::kScan, 2500, 0, 1234.4, "Scanning folders: 2,500 folders, 1,234/s"},
      {ProgressStage::kConvert, 500, 100000, 9999.6,
       "Converting: 500 of 100,000 rows (0%), 10,000/s"},
      {ProgressStage::kWriteTags, 50, 200, -1, "Writing tags: 50 of 200 rows (25%)"},
      {ProgressStage::kRenameFiles, 200, 200, 10, "Renaming files: 200 of 200 rows (100%), 10/s"},
      {ProgressStage::kRenameFolders, 3, 4, -1, "Renaming folders: 3 of 4 rows (75%)"},
      {ProgressStage::kRestoreTags, 7, 0, -1, "Restoring tags: 7 rows"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressLine(c.stage, c.done, c.total, c.rate), c.line);
  }
}

// Reads what the progress wrote into a pipe.
class PipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(fds_), 0);
    ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    ::fcntl(fds_[1], F_SETFL, O_NONBLOCK);  // a full pipe fails the write rather than hanging
  }
  void TearDown() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  std::string Drain() {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
  }
  int fds_[2];
};

using TerminalProgressTest = PipeTest;

TEST_F(TerminalProgressTest, RedrawsAtMostTenTimesASecond) {
  struct Case {
    const char* name;
    int updates;
    int step_ms;  // time between two updates
    int redraws;
  } cases[] = {
      {"a burst within one tenth of a second draws once", 1000, 0, 1},
      {"every millisecond for one second", 1001, 1, 11},
      {"every 100 ms", 5, 100, 5},
      {"every 99 ms: every other one", 6, 99, 3},
      {"slower than the limit: every one", 4, 250, 4},
  };
  for (const Case& c : cases) {
    Clock::time_point now{};
    TerminalProgress progress(
        fds_[1], [&] { return now; }, 80);
    for (int i = 0; i < c.updates; ++i) {
      progress.Update(ProgressStage::kConvert, i + 1, c.updates);
      now += milliseconds(c.step_ms);
    }
    EXPECT_EQ(progress.redraws(), c.redraws) << c.name;
    progress.Clear();
    Drain();
  }
}

TEST_F(TerminalProgressTest, RateCountsFromTheStartOfTheStage) {
  Clock::time_point now{};
  TerminalProgress progress(
      fds_[1], [&] { return now; }, 200);
  progress.Update(ProgressStage::kScan, 1, 0);
  now += milliseconds(10000);
  progress.Update(ProgressStage::kScan, 5000, 0);
  now += milliseconds(1000);
  progress.Update(ProgressStage::kConvert, 1, 100);  // a new stage: no rate yet
  now += milliseconds(2000);
  progress.Update(ProgressStage::kConvert, 80, 100);
  EXPECT_EQ(Drain(),
            "\rScanning folders: 1 folder\x1b[K"
            "\rScanning folders: 5,000 folders, 500/s\x1b[K"
            "\rConverting: 1 of 100 rows (1%)\x1b[K"
            "\rConverting: 80 of 100 rows (80%), 40/s\x1b[K");
}

TEST_F(TerminalProgressTest, CutsTheLineToTheTerminalAndClearsItOnce) {
  Clock::time_point now{};
  {
    TerminalProgress progress(
        fds_[1], [&] { return now; }, 12);
    errno = EINTR;  // left by an earlier call: a write that went through is not tried again
    progress.Update(ProgressStage::kConvert, 123456, 999999);
    EXPECT_TRUE(progress.shown());
    progress.Clear();
    EXPECT_FALSE(progress.shown());
    progress.Clear();  // nothing shown: nothing written
  }                    // nor when it goes
  EXPECT_EQ(Drain(), "\rConverting:\x1b[K\r\x1b[K");
}

// Without a width given, the line is cut to what the terminal says it has,
// and to 80 columns where it cannot tell.
TEST(TerminalWidthTest, AsksTheTerminal) {
  struct Case {
    const char* name;
    bool terminal;
    unsigned short columns;  // the terminal's own width
    size_t drawn;            // columns of the line drawn
  } const cases[] = {
      {"a pipe", false, 0, 79},
      {"a terminal of 40 columns", true, 40, 39},
      {"a terminal that does not know its width", true, 0, 79},
  };
  for (const Case& c : cases) {
    int fds[2];
    if (c.terminal) {
      termios raw{};
      ::cfmakeraw(&raw);
      winsize size{};
      size.ws_col = c.columns;
      ASSERT_EQ(::openpty(&fds[0], &fds[1], nullptr, &raw, &size), 0);
    } else {
      ASSERT_EQ(::pipe(fds), 0);
    }
    Clock::time_point now{};
    {
      TerminalProgress progress(fds[1], [&] { return now; });
      progress.Update(ProgressStage::kConvert, 1, 2'000'000'000'000'000);
      now += milliseconds(1000);
      // 1,000,000,000,000,000 of 2,000,000,000,000,000 rows and its rate:
      // longer than 80 columns.
      progress.Update(ProgressStage::kConvert, 1'000'000'000'000'000, 2'000'000'000'000'000);
      progress.Clear();
    }
    // Everything written, however the terminal hands it over: read until
    // the other end is closed.
    ::close(fds[1]);
    std::string out;
    char buf[1024];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    ASSERT_FALSE(out.empty()) << c.name;
    const size_t start = out.find("\r", 1) + 1;
    EXPECT_EQ(out.find("\x1b[K", start) - start, c.drawn) << c.name << ": " << out;
  }
}

// The log's last line is ended once, however often the front end finishes;
// a message stands on lines of its own.
TEST(CliFrontEndTest, EndsTheLastLineOnce) {
  struct {
    std::u16string_view log;
    const char* out;
    std::u16string_view message = {};  // shown after the log, then the log goes on
  } const kCases[] = {
      {u"", ""},       {u"。。", "。。\n"},           {u"a\r\n", "a\n"},
      {u"a\r", "a\n"}, {u"a", "a\nmsg\nb\n", u"msg"}, {u"a\r\n", "a\nmsg\nb\n", u"msg"},
  };
  for (const auto& c : kCases) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
      CliFrontEnd ui(file);
      ui.AppendLog(c.log);
      if (!c.message.empty()) {
        ui.ShowMessage(c.message);
        ui.AppendLog(u"b");
      }
      ui.Finish();
    }  // and once more as it goes
    std::rewind(file);
    char buffer[64] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    EXPECT_EQ(std::string(buffer, n), c.out) << testing::U8(c.log);
  }
}

// The scan's marks, an open line, reach a terminal one by one; into a file
// they are not written one at a time (a mark a folder would be tens of
// thousands of writes), and every one is there at the end.
TEST(CliFrontEndTest, MarksReachATerminalAtOnceAndAFileInBulk) {
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "file");
    int fds[2] = {-1, -1};
    std::FILE* file = nullptr;
    if (terminal) {
      termios raw{};
      ::cfmakeraw(&raw);
      ASSERT_EQ(::openpty(&fds[0], &fds[1], nullptr, &raw, nullptr), 0);
      file = ::fdopen(fds[1], "w");
    } else {
      file = std::tmpfile();
    }
    ASSERT_NE(file, nullptr);
    const int out = ::fileno(file);
    struct stat st {};
    std::string seen;
    {
      CliFrontEnd ui(file);
      for (int i = 0; i < 200; ++i) ui.AppendLog(u"。");
      if (terminal) {
        char buf[1024];
        pollfd ready{fds[0], POLLIN, 0};
        while (seen.size() < 600 && ::poll(&ready, 1, 5000) == 1) {
          const ssize_t n = ::read(fds[0], buf, sizeof buf);
          if (n <= 0) break;
          seen.append(buf, static_cast<size_t>(n));
        }
        EXPECT_EQ(seen.size(), 600u);  // all there before the front end ends
      } else {
        ASSERT_EQ(::fstat(out, &st), 0);
        EXPECT_LT(st.st_size, 600);
      }
    }
    if (!terminal) {
      ASSERT_EQ(::fstat(out, &st), 0);
      EXPECT_EQ(st.st_size, 601);  // with the line end of the end
    }
    std::fclose(file);
    if (terminal) ::close(fds[0]);
  }
}

// tarvel-cli with its standard error on a pseudo-terminal.
class CliProgressTest : public testing::TempDirTest {
 protected:
  struct PtyRun {
    int status = -1;
    std::string terminal;  // every byte the terminal received
    std::string out;       // standard output, when it went to a file
  };

  void SetUp() override {
    TempDirTest::SetUp();
    music_ = dir() / "music";
    for (std::u16string name : {u"東京/01 東京の夜.mp3", u"東京/02 ＡＢＣ.mp3", u"大阪/夜.mp3"}) {
      sample::WriteMp3(music_, name, 512,
                       sample::Tag{u"東京の夜", u"さくら", u"夜", u"1999", u"", 13});
    }
  }

  std::vector<std::string> Args(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--settings", (dir() / "tarvel.ini").native(), "--set",
                                     "FlagPathSaveCSV=1", "--check-only"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(music_.native());
    return args;
  }

  // Runs with standard error (and, with `stdout_on_terminal`, standard
  // output) on a raw pseudo-terminal, so the bytes arrive as written.
  PtyRun RunOnPty(const std::vector<std::string>& args, bool stdout_on_terminal) {
    const fs::path out_file = dir() / ".pty-out";
    termios raw{};
    cfmakeraw(&raw);
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, &raw, &size);
    if (pid == 0) {
      int null_in = ::open("/dev/null", O_RDONLY);
      ::dup2(null_in, 0);
      if (!stdout_on_terminal) {
        int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
      }
      std::vector<char*> argv = {const_cast<char*>(kCli.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(kCli.c_str(), argv.data());
      ::_exit(127);
    }
    PtyRun run;
    if (pid < 0) return run;
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) {
        run.terminal.append(buf, n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // EIO once the program has closed its end
      }
    }
    ::close(master);
    int raw_status = 0;
    ::waitpid(pid, &raw_status, 0);
    run.status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : -1;
    if (!stdout_on_terminal) run.out = testing::ReadBytes(out_file);
    return run;
  }

  // The bytes without the progress lines: each a CR, text without a line
  // end, and the erase-to-end-of-line sequence ESC [ K.
  static std::string WithoutProgress(const std::string& bytes) {
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
      const size_t cr = bytes.find('\r', i);
      if (cr == std::string::npos) break;
      const size_t end = bytes.find_first_of("\r\n", cr + 1);
      const size_t erase = bytes.find("\x1b[K", cr + 1);
      out.append(bytes, i, cr - i);
      if (erase != std::string::npos && (end == std::string::npos || erase < end)) {
        i = erase + 3;
      } else {
        out += '\r';
        i = cr + 1;
      }
    }
    out.append(bytes, std::min(i, bytes.size()), std::string::npos);
    return out;
  }

  const fs::path kCli = TARVEL_BINARY_DIR "/tarvel-cli";
  fs::path music_;
};

TEST_F(CliProgressTest, LineOnTheTerminalOnlyAndTheLogUnchanged) {
  // What the log is with no terminal anywhere.
  testing::CliResult plain = testing::RunProgram(kCli, Args({}), dir());
  ASSERT_EQ(plain.status, 0) << plain.out << plain.err;
  EXPECT_EQ(plain.err.find('\x1b'), std::string::npos) << "no terminal, no line";
  ASSERT_NE(plain.out.find("ﾄｳｷｮｳ"), std::string::npos) << plain.out;

  struct Case {
    const char* name;
    std::vector<std::string> extra;
    bool stdout_on_terminal;
    const char* first_line;  // the first progress line drawn; empty: none at all
  } cases[] = {
      {"log to a file: the scan is shown from its first folder",
       {},
       false,
       "\rScanning folders: 1 folder\x1b[K"},
      // The scan's marks hold an open log line, so the line waits for the
      // conversion.
      {"log on the same terminal", {}, true, "\rConverting: 1 of "},
      {"--quiet", {"--quiet"}, false, ""},
      {"--quiet, log on the terminal", {"--quiet"}, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyRun run = RunOnPty(Args(c.extra), c.stdout_on_terminal);
    ASSERT_EQ(run.status, 0) << run.terminal;
    std::string log = c.stdout_on_terminal ? WithoutProgress(run.terminal) : run.out;
    EXPECT_EQ(log, plain.out);
    std::string line = c.first_line;
    if (line.empty()) {
      EXPECT_EQ(run.terminal.find('\x1b'), std::string::npos) << run.terminal;
      continue;
    }
    EXPECT_NE(run.terminal.find(line), std::string::npos) << run.terminal;
    // Cleared at the end: the last bytes on the terminal erase the line.
    if (!c.stdout_on_terminal) {
      EXPECT_TRUE(run.terminal.ends_with("\r\x1b[K")) << run.terminal;
    } else {
      // Never drawn after an open log line: each line starts where a log
      // line ended.
      for (size_t at = run.terminal.find('\r'); at != std::string::npos;
           at = run.terminal.find('\r', at + 1)) {
        EXPECT_TRUE(at == 0 || run.terminal[at - 1] == '\n' || run.terminal[at - 1] == 'K')
            << run.terminal.substr(0, at);
      }
    }
  }
}

// What the program says after a run starts on a line of its own: the
// progress line is cleared first, not run on into.
TEST_F(CliProgressTest, MessagesAfterTheRunFollowAClearedLine) {
  testing::WriteBytes(music_ / "\xFF.mp3", std::string(200, 'a'));
  PtyRun run = RunOnPty(Args({}), false);
  EXPECT_EQ(run.status, 1) << "a name was left out";
  const size_t said = run.terminal.find("tarvel-cli: ");
  ASSERT_NE(said, std::string::npos) << run.terminal;
  EXPECT_EQ(run.terminal.substr(0, said).rfind("\r\x1b[K"), said - 4) << run.terminal;
}

}  // namespace
}  // namespace tarvel
