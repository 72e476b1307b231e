// What a run does to the files around it, through the real executable:
// inputs that are one file (one of the outputs, or E and H), a log that is
// a link or no regular file, a compressed file that is no export, the
// temporary field map, the order of the last writes, a run ended by a
// signal and a second run in the same folder.
//
// The case is the TM010 pillbox mode written by the generator (tools/pillbox)
// as a quarter structure of 4 x 4 x 11 points, converted onto 2 x 2 x 2
// nodes: its map (564 bytes) is smaller than its log (3.7 kB).
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.hpp"

#define WK_CLANG_ASAN 0
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#undef WK_CLANG_ASAN
#define WK_CLANG_ASAN 1
#endif
#endif

namespace wk {
namespace {

namespace fs = std::filesystem;
using test::kEarlierMap;
using test::kLog;
using test::kMap;
using test::read_file;
using test::run_converter;
using test::snapshot;
using test::TempDir;
using test::write_file;

// Writes the case into dir: exports and control file, with the generator's
// `options` added (other export names, for example).
void generate(const fs::path& dir, const std::string& options = "") {
  const std::string cmd = "'" WK_PILLBOX "' --dir '" + dir.string() +
                          "' --nx 4 --ny 4 --nz 11 --out-counts 2,2,2 --aper 2.0 --elen 11.5 " + options +
                          " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// The log and the map of the case converted without trouble.
struct Sound {
  std::string log, map;
};
const Sound& sound_run() {
  static const Sound s = [] {
    TempDir dir;
    generate(dir.path());
    EXPECT_EQ(run_converter(dir.path()).status, 0);
    return Sound{read_file(dir / kLog), read_file(dir / kMap)};
  }();
  return s;
}

TEST(FileSafetyE2E, InputsThatAreOneFileAreRefusedBeforeAnythingIsWritten) {
  const std::string of_its_own = ", which the run replaces: give the export a name of its own";
  const struct {
    const char* name;
    std::string options;                        // of the generator
    std::function<void(const fs::path&)> make;  // after generating
    std::string err;
  } cases[] = {
      {"E export named like the log", "--efile wavecalc_to_kaven.log", nullptr,
       "E export wavecalc_to_kaven.log (control file line 3) is the same file as the log wavecalc_to_kaven.log" +
           of_its_own},
      {"H export named like the map", "--hfile eh_VRQ.#01", nullptr,
       "H export eh_VRQ.#01 (control file line 4) is the same file as the field map eh_VRQ.#01 (control file line "
       "6), which the run replaces: give the export a name of its own or choose another file number"},
      {"log a link to the E export", "", [](const fs::path& d) { fs::create_symlink("pillbox_E.txt", d / kLog); },
       "E export pillbox_E.txt (control file line 3) is the same file as the log wavecalc_to_kaven.log" + of_its_own},
      {"log a second name of the control file", "",
       [](const fs::path& d) { fs::create_hard_link(d / "wavecalc_to_kaven.dat", d / kLog); },
       "the control file wavecalc_to_kaven.dat is the same file as the log wavecalc_to_kaven.log, which the run "
       "replaces: make the log a file of its own"},
      {"H export a link to the E export", "",
       [](const fs::path& d) {
         fs::remove(d / "pillbox_H.txt");
         fs::create_symlink("pillbox_E.txt", d / "pillbox_H.txt");
       },
       "E export pillbox_E.txt (control file line 3) and H export pillbox_H.txt (control file line 4) are the same "
       "file: the magnetic field would be read from the electric field's export; name the H-field export on line 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    generate(dir.path(), c.options);
    if (c.make) c.make(dir.path());
    if (!fs::exists(dir / kMap)) write_file(dir / kMap, kEarlierMap);
    auto before = snapshot(dir.path());
    before.emplace(kLog, "");  // a log that was not there is created empty
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "wavecalc_to_kaven: " + c.err + "\n");
    EXPECT_TRUE(snapshot(dir.path()) == before) << "a file was changed";
  }
}

TEST(FileSafetyE2E, LogIsReplacedNeverWrittenThrough) {
  const std::string other = "another run's log\n";
  const std::string not_regular = "wavecalc_to_kaven: unit 8 (wavecalc_to_kaven.log): is ";
  const struct {
    const char* name;
    std::function<void(const fs::path&)> make;  // the log's place
    int status;
    std::string err;
  } cases[] = {
      {"a hard link to another run's log", [&](const fs::path& d) { fs::create_hard_link(d / "other.log", d / kLog); },
       0, ""},
      {"a link to another run's log", [&](const fs::path& d) { fs::create_symlink("other.log", d / kLog); }, 0, ""},
      {"a FIFO", [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / kLog).c_str(), 0644), 0); }, 2,
       not_regular + "a FIFO, not a regular file; the log is written there: remove or rename it\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    generate(dir.path());
    write_file(dir / kMap, kEarlierMap);
    write_file(dir / "other.log", other);
    c.make(dir.path());
    const fs::file_type log_type = fs::symlink_status(dir / kLog).type();
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read_file(dir / "other.log"), other);
    EXPECT_EQ(fs::symlink_status(dir / kLog).type(), c.status == 0 ? fs::file_type::regular : log_type);
    if (c.status == 0) {
      EXPECT_TRUE(read_file(dir / kLog) == sound_run().log) << "not the log of a sound run";
    }
    EXPECT_TRUE(read_file(dir / kMap) == (c.status == 0 ? sound_run().map : kEarlierMap)) << "not the map expected";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 6)
        << "not control file, 2 exports, log, map and the other log";
  }
}

TEST(FileSafetyE2E, CompressedFileThatIsNoExportIsRefusedAtItsFirstBlock) {
  // 8 kB that unpack to a line of text and 1 GiB of zero bytes, in 1024
  // members: refused once the first line is inflated, within an address
  // space of 600 MB.
  TempDir dir;
  generate(dir.path());
  std::string bomb = test::gzip_bytes("garbage, not an export\n");
  const std::string zeros = test::gzip_bytes(std::string(std::size_t{1} << 20, '\0'));
  for (int i = 0; i < 1024; ++i) bomb += zeros;
  write_file(dir / "pillbox_E.txt", bomb);
#if defined(__SANITIZE_ADDRESS__) || WK_CLANG_ASAN
  const char* cap = "";  // AddressSanitizer reserves terabytes of address space
#else
  const char* cap = "ulimit -v 600000;";
#endif
  const auto r = run_converter(dir.path(), cap);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 2 (pillbox_E.txt), line 1: \"garbage\" is not a real number\n");
  // A number out of range is said to be so, as in a plain export.
  write_file(dir / "pillbox_E.txt", test::gzip_bytes("1e999 0 0\n") + zeros);
  EXPECT_EQ(run_converter(dir.path(), cap).err,
            "wavecalc_to_kaven: unit 2 (pillbox_E.txt), line 1: \"1e999\" is out of range: a real number is read as a "
            "double, 0 or from 4.9e-324 to 1.8e+308 in magnitude\n");
}

// Rewrites the texts of the E and H exports.
using Rewrite = std::function<void(std::string& e, std::string& h)>;

// Converts the case that `options` generate, its exports rewritten (and
// gzip-compressed when asked), and expects the log and the map converted
// in `reference`.
void expect_converts_as(const fs::path& reference, const std::string& options, const Rewrite& rewrite, bool gzip,
                        const char* prefix = "") {
  TempDir dir;
  generate(dir.path(), options);
  std::string e = read_file(dir / "pillbox_E.txt");
  std::string h = read_file(dir / "pillbox_H.txt");
  rewrite(e, h);
  write_file(dir / "pillbox_E.txt", gzip ? test::gzip_bytes(e) : e);
  write_file(dir / "pillbox_H.txt", gzip ? test::gzip_bytes(h) : h);
  const auto r = run_converter(dir.path(), prefix);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(read_file(dir / kLog) == read_file(reference / kLog)) << "the log differs, gzip " << gzip;
  EXPECT_TRUE(read_file(dir / kMap) == read_file(reference / kMap)) << "the map differs, gzip " << gzip;
}

TEST(FileSafetyE2E, CompressedExportsConvertWithinALimitedAddressSpace) {
  // Under ulimit -v the text's room is what the gzip trailer says it holds,
  // not the most an export may hold (2.5 GB of address space an export).
  // z slowest: the exports are read once, during the grid scan, unless they
  // are not regular: a blank line inside E, or a z printed otherwise within
  // a plane of H, has them read again from their files, to the same log and
  // map as the plain pair's.
  TempDir plain;
  generate(plain.path(), "--order 123");
  ASSERT_EQ(run_converter(plain.path()).status, 0);
  const Rewrite blank_line_in_e = [](std::string& e, std::string&) { e.insert(e.find('\n', e.size() / 2) + 1, "\n"); };
  const Rewrite digit_more_in_h = [](std::string&, std::string& h) {
    std::size_t z = h.find('\n', h.size() / 2) + 1;
    for (int skip = 0; skip < 2; ++skip) z = h.find(' ', z) + 1;
    const std::size_t end = h.find(' ', z);
    h.insert(end, h.substr(z, end - z).find('.') == std::string::npos ? ".0" : "0");
  };
#if defined(__SANITIZE_ADDRESS__) || WK_CLANG_ASAN
  const char* cap = "";
#else
  const char* cap = "ulimit -v 600000;";
#endif
  for (const Rewrite& edit : {Rewrite([](std::string&, std::string&) {}), blank_line_in_e, digit_more_in_h}) {
    expect_converts_as(plain.path(), "--order 123", edit, true, cap);
  }
}

// An export with every number in the solvers' fixed-width layout, to 17
// significant digits: the same values, and every line as wide.
std::string fixed_layout(const std::string& text) {
  std::string out;
  for (const std::string& line : test::lines_of(text)) {
    std::istringstream numbers(line);
    double v;
    while (numbers >> v) {
      char field[32];
      std::snprintf(field, sizeof field, "%25.16E", v);
      out += field;
    }
    out += '\n';
  }
  return out;
}

TEST(FileSafetyE2E, ExportsInTheSolversFixedLayoutConvertAsWhenPrintedShortest) {
  // With x or y slowest, exports of lines all as wide are read during the
  // grid scan, the count of planes told from the size of the text (of a
  // compressed one, the size its gzip trailer gives); printed shortest,
  // after the scan.
  const Rewrite fixed = [](std::string& e, std::string& h) {
    e = fixed_layout(e);
    h = fixed_layout(h);
  };
  for (const char* order : {"--order 321", "--order 231"}) {
    SCOPED_TRACE(order);
    TempDir shortest;
    generate(shortest.path(), order);
    ASSERT_EQ(run_converter(shortest.path()).status, 0);
    for (const bool gzip : {false, true}) expect_converts_as(shortest.path(), order, fixed, gzip);
  }
}

TEST(FileSafetyE2E, TemporaryMapIsANewFileOfItsOwn) {
  // A link planted at the temporary's name: the map's name, ".tmp" and the
  // process number, here the shell's, which exec hands on to the converter.
  TempDir dir;
  generate(dir.path());
  write_file(dir / "victim.txt", "not a field map\n");
  const auto r = run_converter(dir.path(), "ln -s victim.txt \"eh_VRQ.#01.tmp$$\" && exec");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir / "victim.txt"), "not a field map\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / kMap)));
  EXPECT_TRUE(read_file(dir / kMap) == sound_run().map) << "the map differs from a plain run's";
  // The planted link is left as it was, and nothing else is added.
  int links = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) links += e.is_symlink() ? 1 : 0;
  EXPECT_EQ(links, 1);
  EXPECT_EQ(snapshot(dir.path()).size(), 7u);  // control, 2 exports, log, map, victim, link
}

TEST(FileSafetyE2E, LogThatCannotBeWrittenLeavesTheEarlierMap) {
  // A file-size limit of 1 kB (2 blocks of 512 bytes in sh) holds the map
  // but not the log. The converter, not the shell, ignores SIGXFSZ: the
  // failed write is reported, and the map, put in place only after the log
  // is complete, is not.
  TempDir dir;
  generate(dir.path());
  write_file(dir / kMap, kEarlierMap);
  const auto before = snapshot(dir.path());
  const auto r = run_converter(dir.path(), "ulimit -f 2;");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 8 (wavecalc_to_kaven.log): write error: File too large\n");
  auto after = snapshot(dir.path());
  const std::string log = after[kLog];
  after.erase(kLog);
  EXPECT_TRUE(after == before) << "a file other than the log was changed or added";
  EXPECT_LT(log.size(), sound_run().log.size());
  EXPECT_EQ(sound_run().log.compare(0, log.size(), log), 0) << "the log is not the start of a sound run's";
}

// A signal at the first write to the temporary map (every log line up to
// the map's name still buffered), or right after the map was renamed into
// place (the log complete); the temporary a file without a name, or named
// from the start where the file system cannot make one.
struct SignalCase {
  int signo;
  const char* name;
  bool after_rename = false;
  bool named_temporary = false;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.name << (c.after_rename ? " after the rename" : "") << (c.named_temporary ? ", named temporary" : "");
}

class InterruptedRun : public testing::TestWithParam<SignalCase> {};

TEST_P(InterruptedRun, RemovesItsTemporaryAndSaysWhatIsLeft) {
  const SignalCase c = GetParam();
  const std::string name_line = "  Output field file name = eh_VRQ.#01\r\n";
  const std::string& log = sound_run().log;
  TempDir dir;
  generate(dir.path());
  write_file(dir / kMap, kEarlierMap);
  auto expected = snapshot(dir.path());
  std::string err = std::string("wavecalc_to_kaven: interrupted by ") + c.name;
  if (c.after_rename) {
    expected[kMap] = sound_run().map;
    expected.emplace(kLog, log);
    err += " after the run had ended: the log is complete and the new field map is in place\n";
  } else if (c.signo == SIGKILL) {
    expected.emplace(kLog, "");  // nothing written out, and nothing left but the log begun
    err = "";
  } else {
    expected.emplace(kLog, log.substr(0, log.find(name_line) + name_line.size()));
    err += "; the log keeps the lines written so far, and no unfinished field map is left\n";
  }
  // exec: the shell reports no signal of its own on the captured stderr;
  // no core file for the signals that would leave one.
  const auto r = run_converter(dir.path(), std::string(c.named_temporary ? "export WK_NO_TMPFILE=1; " : "") +
                                               "ulimit -c 0; export ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 "
                                               "LD_PRELOAD='" WK_SIGNAL_SHIM "' WK_SIGNAL_" +
                                               std::string(c.after_rename ? "AFTER_MAP_RENAME=" : "AT_MAP_WRITE=") +
                                               std::to_string(c.signo) + "; exec");
  EXPECT_EQ(r.status, 128 + c.signo);
  EXPECT_EQ(r.err, err);
  EXPECT_TRUE(snapshot(dir.path()) == expected) << "not the log expected, or the folder changed";
}

INSTANTIATE_TEST_SUITE_P(
    FileSafetyE2E, InterruptedRun,
    testing::Values(SignalCase{SIGINT, "SIGINT"}, SignalCase{SIGTERM, "SIGTERM"}, SignalCase{SIGHUP, "SIGHUP"},
                    SignalCase{SIGQUIT, "SIGQUIT"}, SignalCase{SIGPIPE, "SIGPIPE"}, SignalCase{SIGALRM, "SIGALRM"},
                    SignalCase{SIGUSR1, "SIGUSR1"}, SignalCase{SIGXCPU, "SIGXCPU"}, SignalCase{SIGXFSZ, "SIGXFSZ"},
                    SignalCase{SIGKILL, "SIGKILL"}, SignalCase{SIGINT, "SIGINT", true},
                    SignalCase{SIGTERM, "SIGTERM", false, true}, SignalCase{SIGINT, "SIGINT", true, true}),
    [](const testing::TestParamInfo<SignalCase>& i) {
      return std::string(i.param.name + 3) + (i.param.after_rename ? "AfterTheMapIsInPlace" : "AtTheMapsFirstWrite") +
             (i.param.named_temporary ? "NamedTemporary" : "");
    });

TEST(FileSafetyE2E, SecondRunInTheFolderTouchesNothing) {
  TempDir dir;
  generate(dir.path());
  write_file(dir / kMap, kEarlierMap);
  write_file(dir / kLog, "the log of a conversion in progress\n");
  const auto before = snapshot(dir.path());
  // The lock that a run in progress holds on its log.
  const int fd = ::open((dir / kLog).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const auto r = run_converter(dir.path());
  ::close(fd);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "wavecalc_to_kaven: unit 8 (wavecalc_to_kaven.log): a conversion is already running in this folder (it "
            "holds the log); wait until it has ended\n");
  EXPECT_TRUE(snapshot(dir.path()) == before) << "a file was changed";
}

}  // namespace
}  // namespace wk
