// The command line of a run: the usage text, the echo line, the layer bounds
// read as two-character integer fields, and the layer-range line.
//
// The runs below use a scale directory that holds no grid configuration, so
// every run that gets past the layer-range line stops at the grid reader;
// only the lines printed before that are examined here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "legacy/driver.hpp"
#include "support/hand_lines.hpp"
#include "support/run_support.hpp"

namespace {

using kelvo_test::RunResult;

// The usage text for the program path `path`: an empty line, the usage line
// and an empty line. The literal has one blank before Domain, no bracket
// after BlackSea, two blanks before Par and one blank at its end.
std::string usage_text(const std::string& path) {
  return "\nusage: " + path +
         " Domain[NsBs, VARO, IBIROOS, MEdit, BlackSea  Par[salt,temp] level_start level_end \n\n";
}

// "Program Running on selected leves from " (39 characters), the first bound
// in two columns, " to ", the second bound in two columns.
std::string range_line(const std::string& start2, const std::string& end2) {
  return "Program Running on selected leves from " + start2 + " to " + end2 + "\n";
}

struct EmptyScaleDir {
  kelvo_test::TempDir root;
  kelvo::legacy::BaseDirs dirs() const {
    return {(root.path / "BRINO_S").string() + "/", (root.path / "BRINO_results").string() + "/"};
  }
};

RunResult run(const std::vector<std::string>& args) {
  EmptyScaleDir where;
  return kelvo_test::run_tool(args, where.dirs());
}

// The first `n` lines of `out`, each with its line feed.
std::string first_lines(const std::string& out, int n) {
  std::size_t p = 0;
  for (int i = 0; i < n; ++i) {
    p = out.find('\n', p);
    if (p == std::string::npos) return out;
    ++p;
  }
  return out.substr(0, p);
}

TEST(CommandLine, FewerThanFourArgumentsPrintOnlyTheUsageText) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"NsBs"},
      {"NsBs", "salt"},
      {"NsBs", "salt", "1"},
      // Empty strings still count as arguments: three of them are too few.
      {"", "", ""},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE("arguments: " + std::to_string(args.size()));
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 1);
    // Nothing is printed before the three lines, nothing after them.
    EXPECT_EQ(r.out, usage_text("kelvo_brino"));
  }
}

TEST(CommandLine, UsageShowsTheProgramPathTrimmedAndCutToOneHundred) {
  const std::string long_path = "/" + std::string(119, 'p');  // 120 characters
  struct Case {
    std::string argv0;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"/usr/local/bin/kelvo_brino", "/usr/local/bin/kelvo_brino"},
      // Trailing blanks of the path are removed.
      {"./kelvo_brino   ", "./kelvo_brino"},
      // At most 100 characters of the path are taken.
      {long_path, long_path.substr(0, 100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv0);
    EmptyScaleDir where;
    textio::Console console;
    const std::vector<std::string> argv{c.argv0, "NsBs", "salt"};
    EXPECT_EQ(kelvo::legacy::run_kelvo_brino(argv, where.dirs(), console), 1);
    EXPECT_EQ(console.out, usage_text(c.shown));
  }
}

TEST(CommandLine, EchoLineShowsDomainAndParameterWithoutTrailingBlanks) {
  const std::string long_domain = std::string(60, 'D') + std::string(45, 'E');  // 105 characters
  const std::string long_param = std::string(101, 'q');
  struct Case {
    std::string domain;
    std::string param;
    std::string echo;
  };
  const std::vector<Case> cases = {
      {"NsBs", "salt", "NsBs  salt\n"},
      {"IBIROOS   ", "temp", "IBIROOS  temp\n"},
      // Leading and inner blanks are kept.
      {" MEdit", "salt", " MEdit  salt\n"},
      {"Black Sea", "te mp  ", "Black Sea  te mp\n"},
      // Empty arguments give blank settings: only the two separating blanks.
      {"", "", "  \n"},
      // The first 100 characters only.
      {long_domain, "salt", long_domain.substr(0, 100) + "  salt\n"},
      {"NsBs", long_param, "NsBs  " + long_param.substr(0, 100) + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.domain + "] [" + c.param + "]");
    const RunResult r = run({c.domain, c.param, "1", "3", "meta.lst", "ab"});
    // The echo line is the very first line, the layer-range line follows.
    EXPECT_EQ(first_lines(r.out, 2), c.echo + range_line(" 1", " 3"));
  }
}

TEST(CommandLine, LayerBoundsAreTheFirstTwoCharactersReadAsIntegers) {
  struct Case {
    std::string start_arg;
    std::string end_arg;
    std::string start2;  // the bound as printed in two columns
    std::string end2;
  };
  const std::vector<Case> cases = {
      {"1", "10", " 1", "10"},
      // "100" is cut to "10"; level_start above level_end is passed on.
      {"100", "5", "10", " 5"},
      {"05", "5", " 5", " 5"},
      // A leading blank is ignored, one leading sign is allowed.
      {" 7", "-3", " 7", "-3"},
      // Trailing blanks of an argument are removed, then "7" is padded to
      // "7 ", whose blank is ignored: 7.
      {"7 ", "12", " 7", "12"},
      // "-10" is cut to "-1".
      {"-10", "99", "-1", "99"},
      // An empty argument is an all-blank field: 0.
      {"", "", " 0", " 0"},
      {"+4", "", " 4", " 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.start_arg + "] [" + c.end_arg + "]");
    const RunResult r = run({"NsBs", "salt", c.start_arg, c.end_arg, "meta.lst", "ab"});
    EXPECT_EQ(first_lines(r.out, 2), "NsBs  salt\n" + range_line(c.start2, c.end2));
  }
}

TEST(CommandLine, LayerRangeLineOfLayersOneToTenIsExact) {
  const RunResult r = run({"NsBs", "salt", "1", "10"});
  const std::string second = first_lines(r.out, 2).substr(std::string("NsBs  salt\n").size());
  // Two blanks between "from" and 1: the literal ends in a blank and the
  // two-column field holds a blank and 1.
  EXPECT_EQ(second, "Program Running on selected leves from  1 to 10\n");
}

TEST(CommandLine, BoundThatIsNotANumberEndsTheRunAfterTheEcho) {
  struct Case {
    std::string start_arg;
    std::string end_arg;
  };
  const std::vector<Case> cases = {
      {"ab", "3"},
      {"1", "ab"},
      // "1.5" is cut to "1.", which is not an integer.
      {"1.5", "3"},
      {"1", "1.5"},
      // A sign with no digit.
      {"-", "3"},
      {"x1", "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.start_arg + "] [" + c.end_arg + "]");
    const RunResult r = run({"NsBs", "salt", c.start_arg, c.end_arg, "meta.lst", "ab"});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.out.rfind("NsBs  salt\n", 0), 0u) << r.out;
    const std::string rest = r.out.substr(std::string("NsBs  salt\n").size());
    // One free-format stop message, nothing after it: no layer-range line
    // and no later stage (which here would stop with a second message).
    EXPECT_EQ(rest.rfind(" STOP (", 0), 0u) << rest;
    EXPECT_EQ(hand::count_of(rest, "STOP ("), 1u) << rest;
    EXPECT_EQ(rest.find("Program Running"), std::string::npos) << rest;
    EXPECT_EQ(rest.back(), '\n');
  }
}

}  // namespace
