// The crash report handler, call stack text and the symboliser, on real
// faults in child processes and on this test program's own symbols.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include "app/log.h"
#include "tests/support/test_support.h"

// Each fault runs in a function of its own so the report can name it.
static const int crash_divide_line = __LINE__ + 1;
__attribute__((noinline)) int crash_divide(int a, int b) {
  int q;
  // The division is written out so no sanitizer check stands in front of it.
  asm volatile("cltd\n\tidivl %2" : "=a"(q) : "a"(a), "r"(b) : "edx", "cc");
  return q;
}

__attribute__((noinline)) int call_crash_divide(int a) { return crash_divide(a, 0) + 1; }

__attribute__((noinline)) void crash_write_null() {
  int* volatile p = (int*)16;
  *p = 1;
}

__attribute__((noinline)) int crash_recurse(int depth) {
  volatile char pad[4096];
  pad[0] = (char)depth;
  if (depth < 0) return 0;  // never: keeps the compiler from calling this endless
  return crash_recurse(depth + 1) + pad[0];
}

__attribute__((noinline)) void crash_illegal() { __builtin_trap(); }

// Points the log at a fresh folder with one log file, so a child's report
// can be read back by the parent.
struct LogFolder {
  TempDir dir;
  std::string keep;
  LogFolder() {
    keep = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
    close_debug_log();
    num_debug_log_files = 1;
  }
  ~LogFolder() {
    close_debug_log();
    setenv("XDG_DATA_HOME", keep.c_str(), 1);
  }
  std::string text() {
    close_debug_log();
    std::string s;
    read_file(dir.file("Quorvale/log.txt"), s);
    return s;
  }
};

static void start_reporting() {
  close_debug_log();
  set_except_report_handler();
  register_exe_symbols();
}

TEST(CrashReportDeath, IntegerDivisionByZeroIsReportedWithRegistersAndStack) {
  LogFolder log;
  EXPECT_EXIT(
      {
        start_reporting();
        call_crash_divide(7);
      },
      testing::ExitedWithCode(100), "Oops! The game crashed. See log file for more info.");
  std::string text = log.text();
  EXPECT_NE(text.find("exception C0000094\n"), std::string::npos) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("\nException C0000094 at [0-9A-F]{16}: integer /0\n"))) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("\n  CS: *[0-9A-F]+ IP: *[0-9A-F]+ SS: *[0-9A-F]+ SP: *[0-9A-F]+ flags:[0-9A-F]{8}\n")));
  EXPECT_TRUE(std::regex_search(text, std::regex("\n  AX: *[0-9A-F]+ BX: *[0-9A-F]+ CX: *[0-9A-F]+ DX: *[0-9A-F]+ SI: *[0-9A-F]+ DI: *[0-9A-F]+\n")));
  EXPECT_TRUE(std::regex_search(text, std::regex("\n  BP: *[0-9A-F]+ DS: *[0-9A-F]+ ES: *[0-9A-F]+ FS: *[0-9A-F]+ GS: *[0-9A-F]+\n")));
  // The first frame is the faulting function with its source line; its caller follows.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("Call stack \\(([0-9]+) frames\\):\n  0x[0-9a-f]+ [^ ]+! crash_divide\\(int, int\\)  \\+[0-9]+/[0-9]+\n      [^\n]*test_crash_report\\.cpp\\(([0-9]+)\\)    \\+[0-9]+\n  0x[0-9a-f]+ [^ ]+! call_crash_divide\\(int\\)")))
      << text;
  EXPECT_GE(std::stoi(m[1]), 3);
  EXPECT_NE(text.find("ERROR: Oops! The game crashed. See log file for more info."), std::string::npos);
}

TEST(CrashReportDeath, OtherFaultsGetTheirCodesAndNames) {
  struct Case {
    void (*run)();
    const char* line;  // the report's first line after the code
  } cases[] = {
      {[] { crash_write_null(); },
       "Exception C0000005 at [0-9A-F]{16}: access violation  attempt to write to memory at 0000000000000010\n"},
      {[] { crash_recurse(0); }, "Exception C00000FD at [0-9A-F]{16}: stack overflow\n"},
      {[] { crash_illegal(); }, "Exception C000001D at [0-9A-F]{16}: illegal opcode\n"},
  };
  for (const Case& c : cases) {
    LogFolder log;
    EXPECT_EXIT(
        {
          start_reporting();
          c.run();
        },
        testing::ExitedWithCode(100), "Oops! The game crashed");
    std::string text = log.text();
    EXPECT_TRUE(std::regex_search(text, std::regex(c.line))) << text;
    EXPECT_NE(text.find("Call stack ("), std::string::npos);
  }
}

TEST(CrashReport, CodesAndNames) {
  struct {
    uint32_t code;
    const char* name;
  } names[] = {{0xC0000094, "integer /0"},     {0xC000008D, "*unknown type*"},
               {0x80000002, "misaligned data access"}, {0xC00000FD, "stack overflow"},
               {0xC0000092, "floating point stack over/underflow"}, {0x12345678, nullptr}};
  for (auto& n : names) {
    const char* got = exception_code_name(n.code);
    if (n.name)
      EXPECT_STREQ(got, n.name);
    else
      EXPECT_EQ(got, nullptr);
  }
  struct {
    int sig, si_code;
    uint32_t code;
  } signals[] = {
      {SIGFPE, FPE_INTDIV, 0xC0000094}, {SIGFPE, FPE_INTOVF, 0xC0000095}, {SIGFPE, FPE_FLTDIV, 0xC000008E},
      {SIGFPE, FPE_FLTOVF, 0xC0000091}, {SIGFPE, FPE_FLTUND, 0xC0000093}, {SIGFPE, FPE_FLTINV, 0xC0000090},
      {SIGSEGV, SEGV_MAPERR, 0xC0000005}, {SIGBUS, BUS_ADRALN, 0x80000002}, {SIGBUS, BUS_ADRERR, 0xC0000006},
      {SIGILL, ILL_PRVOPC, 0xC0000096}, {SIGILL, ILL_ILLOPN, 0xC000001D}, {SIGTERM, 0, 0},
  };
  for (auto& s : signals) EXPECT_EQ(exception_code_for_signal(s.sig, s.si_code), s.code) << s.sig << "/" << s.si_code;
}

TEST(CallStack, NamesFunctionsLinesAndModules) {
  LogFolder log;
  register_exe_symbols();
  // Frames after the first are return addresses: one byte into fopen stands for a call from there.
  void* frames[4] = {(void*)&crash_divide, (char*)&fopen + 1, (void*)16, (void*)-1};
  char buf[8192];
  format_call_stack(frames, 4, buf, sizeof(buf));
  std::string text = buf;
  EXPECT_EQ(text.rfind("Call stack (3 frames):\n", 0), 0u) << text;
  // The function's first instruction belongs to a line of its body.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      text, m, std::regex("! crash_divide\\(int, int\\)  \\+0/[1-9][0-9]*\n      [^\n]*test_crash_report\\.cpp\\(([0-9]+)\\)    \\+0\n")))
      << text;
  EXPECT_GE(std::stoi(m[1]), crash_divide_line);
  EXPECT_LE(std::stoi(m[1]), crash_divide_line + 5);
  // fopen lives in the C library (or a sanitizer's library standing in front of it).
  EXPECT_TRUE(std::regex_search(text, std::regex("\n  0x[0-9a-f]+ lib[a-z]+\\.so[.0-9]*! [A-Za-z_0-9]+  \\+1/[0-9]+\n"))) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("\n  0x10 --unknown--\n$"))) << text;

  char small[40];
  format_call_stack(frames, 4, small, sizeof(small));
  EXPECT_EQ(strlen(small), sizeof(small) - 1);  // cut where it does not fit
  EXPECT_TRUE(symhlp_unload("test_crash_report", 0));
}

__attribute__((noinline)) void dump_from_here() {
  debug_dump_stack("where", 0);
  asm volatile("");  // keeps the call from becoming a jump, so this frame stays
}

TEST(CallStack, DumpStackLogsTheCallersStack) {
  LogFolder log;
  register_exe_symbols();
  dump_from_here();
  EXPECT_TRUE(symhlp_unload("test_crash_report", 0));
  std::string text = log.text();
  // Skip 0 leaves out only debug_dump_stack itself.
  EXPECT_TRUE(std::regex_search(text, std::regex("where: Call stack \\([0-9]+ frames\\):\n  0x[0-9a-f]+ [^ ]+! dump_from_here\\(\\)")))
      << text;
}

TEST(Symbols, LoadAndUnloadByNameOrPath) {
  LogFolder log;
  EXPECT_TRUE(symhlp_load("libc.so.6", 0, 0));
  EXPECT_TRUE(symhlp_unload("LIBC.SO.6", 0));  // case does not matter
  EXPECT_FALSE(symhlp_unload("libc.so.6", 0));
  EXPECT_FALSE(symhlp_load("no-such-module.so", 0, 0));
  std::string text = log.text();
  EXPECT_TRUE(std::regex_search(text, std::regex("symhlp_load: <libc\\.so\\.6> base=[0-9A-F]{8,} size=[0-9A-F]{8,}\n")))
      << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("symhlp_unload: <LIBC\\.SO\\.6> base=[0-9A-F]{8,}\n"))) << text;
}
