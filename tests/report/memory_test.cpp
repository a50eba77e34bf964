// The session report's peak memory does not grow with the rounds it reads: the report of a
// history ten times longer than another peaks at nearly the same memory. A benchmark-style
// check: it prints both figures, and its bound is generous.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ReportFile.h"
#include "Sanitizers.h"

namespace {

// Peak resident memory, in KiB, of a child process that writes the report of `db`.
long ReportPeak(const std::string& db, const std::string& page, size_t& images) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    size_t n = 0;
    try {
      n = zel::WriteReport(db, {}, page).images;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    if (write(pipe_fds[1], &n, sizeof n) != sizeof n) _exit(2);
    _exit(0);
  }
  close(pipe_fds[1]);
  images = 0;
  if (read(pipe_fds[0], &images, sizeof images) != sizeof images) images = 0;
  close(pipe_fds[0]);
  int status = 0;
  rusage use{};
  if (child < 0 || wait4(child, &status, 0, &use) != child) return -1;
  return use.ru_maxrss;
}

TEST(ReportMemory, ATenTimesLongerHistoryPeaksAtNearlyTheSameMemory) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "peak memory means nothing under ASan's quarantine";
  std::string pattern = ::testing::TempDir() + "report_memory_XXXXXX";
  ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
  const std::string dir = pattern + "/";
  const long rounds[] = {4000, 40000};  // both thinned: more than 2 000 rounds
  long peak[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const std::string db = dir + "h" + std::to_string(rounds[k]) + ".db";
    const std::string cmd =
        std::string(RVT_HISTORY_TOOL) + " '" + db + "' " + std::to_string(rounds[k]);
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    size_t images = 0;
    peak[k] = ReportPeak(db, dir + "page.html", images);
    EXPECT_EQ(images, 3u * static_cast<size_t>(rounds[k]));
  }
  std::printf("report peak memory: %ld KiB for %ld rounds, %ld KiB for %ld rounds\n", peak[0],
              rounds[0], peak[1], rounds[1]);
  ASSERT_GT(peak[0], 0);
  // Kept whole, the longer history's rounds alone would add some 6 MB.
  EXPECT_LE(peak[1], peak[0] + peak[0] / 20 + 2048);
  if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
