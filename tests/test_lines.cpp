// Whole-file reading, line splitting and the console buffers.

#include "textio/console.hpp"
#include "textio/line_reader.hpp"
#include "textio/lines.hpp"
#include "support/run_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_view_literals;

std::vector<std::string> split(std::string_view text) {
  textio::LineSplitter splitter{text};
  std::vector<std::string> lines;
  std::string_view line;
  while (splitter.next(line)) {
    lines.emplace_back(line);
    EXPECT_EQ(splitter.line_number, lines.size());
  }
  EXPECT_FALSE(splitter.next(line));  // stays at the end
  return lines;
}

// The lines of `text` as a LineReader with a buffer of `buffer` bytes gives
// them, cut to `keep`: the splitter's lines, cut, whatever the buffer.
std::vector<std::string> read_lines(std::string_view text, std::size_t buffer, std::size_t keep) {
  kelvo_test::TempDir dir;
  kelvo_test::write_file(dir.path / "f", std::string(text));
  textio::LineReader reader(buffer);
  std::string reason;
  EXPECT_TRUE(reader.open((dir.path / "f").string(), reason)) << reason;
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(keep, line) == textio::LineStatus::line) lines.emplace_back(line);
  EXPECT_EQ(reader.next(keep, line), textio::LineStatus::end);  // stays at the end
  return lines;
}

TEST(LineSplitter, LineEnds) {
  struct Case {
    std::string_view text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r\nb", {"a", "b"}},
      {"\n", {""}},
      {"\n\n", {"", ""}},
      {"\r\n", {""}},
      {"a\n\r\n", {"a", ""}},
      {"a\rb\n", {"a\rb"}},     // a carriage return inside a line stays
      {"a\r", {"a\r"}},         // not followed by a line feed: part of the line
      {"a\r\r\n", {"a\r"}},     // only the one before the line feed goes
      {"x\0y\n"sv, {std::string("x\0y", 3)}},
      {"  12  3\n\n  4", {"  12  3", "", "  4"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(split(c.text), c.lines) << '"' << c.text << '"';
    for (std::size_t keep : {std::size_t{1}, std::size_t{3}, textio::max_line_length}) {
      std::vector<std::string> cut;
      for (const std::string& l : c.lines) cut.push_back(l.substr(0, keep));
      for (std::size_t buffer : {1, 2, 3, 65536}) EXPECT_EQ(read_lines(c.text, buffer, keep), cut) << c.text << buffer << keep;
    }
  }
}


class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvo_lines_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& f : files_) ::unlink(f.c_str());
    for (const std::string& d : dirs_) ::rmdir(d.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string write_file(const std::string& name, std::string_view content) {
    const std::string path = dir_ + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return path;
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    files_.push_back(path);
    return path;
  }
  std::string make_dir(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    EXPECT_EQ(::mkdir(path.c_str(), 0700), 0);
    dirs_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> files_;
  std::vector<std::string> dirs_;
};

using ReadWholeFile = TempDir;

TEST_F(ReadWholeFile, ReadsEveryByte) {
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "  1.50000 99.99900    1111 " + std::to_string(i) + "\r\n";
  const std::string contents[] = {std::string(), std::string("one line"),
                                  std::string("a\0b\r\nc\n", 7), big};
  int n = 0;
  for (const std::string& expected : contents) {
    const std::string path = write_file("f" + std::to_string(n++), expected);
    std::string content = "left over";
    std::string reason;
    ASSERT_TRUE(textio::read_whole_file(path, content, reason)) << path << ": " << reason;
    EXPECT_EQ(content.size(), expected.size());
    EXPECT_TRUE(content == expected) << path;
  }
}

TEST_F(ReadWholeFile, ReportsWhyAFileCannotBeRead) {
  const std::string folder = make_dir("grid_cfg");
  struct Case {
    std::string path;
    std::string_view reason;
  };
  const Case cases[] = {
      {dir_ + "/missing", "No such file or directory"},
      {"", "No such file or directory"},
      {folder, "Is a directory"},
      {dir_ + "/missing/below", "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string content;
    std::string reason;
    EXPECT_FALSE(textio::read_whole_file(c.path, content, reason)) << c.path;
    EXPECT_EQ(reason, c.reason) << c.path;
  }
  const std::string file = write_file("plain", "x");
  std::string content;
  std::string reason;
  EXPECT_FALSE(textio::read_whole_file(file + "/below", content, reason));
  EXPECT_EQ(reason, "Not a directory");
}

// ---------------------------------------------------------------- console

std::string file_text(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, got);
  return text;
}

TEST(Console, WithoutSinksKeepsEverything) {
  textio::Console console;
  console.write("one\n");
  console.write_error("oops\n");
  console.write(std::string(100000, 'x'));
  console.flush();
  EXPECT_EQ(console.out, "one\n" + std::string(100000, 'x'));
  EXPECT_EQ(console.err, "oops\n");
}

TEST(Console, WritesLargeBlocksBeforeFlush) {
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  textio::Console console;
  console.out_sink = sink;
  const std::string block(40000, 'a');
  console.write(block);
  EXPECT_EQ(console.out.size(), 40000u);  // still below 64 KiB
  console.write(block);
  EXPECT_TRUE(console.out.empty());       // over 64 KiB: written out
  EXPECT_EQ(file_text(sink).size(), 80000u);
  console.write("tail\n");
  console.flush();
  EXPECT_TRUE(console.out.empty());
  EXPECT_EQ(file_text(sink), block + block + "tail\n");
  std::fclose(sink);
}

TEST(Console, KeepsTheOrderOfOutputAndErrors) {
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  textio::Console console;
  console.out_sink = sink;
  console.err_sink = sink;
  console.write("out 1\n");
  console.write_error("err 1\n");
  console.write("out 2\n");
  console.write_error("err 2\n");
  console.write_error("err 3\n");
  console.write(std::string(70000, 'b'));  // a full block goes out here
  console.write("out 3\n");
  console.flush();
  EXPECT_EQ(file_text(sink),
            "out 1\nerr 1\nout 2\nerr 2\nerr 3\n" + std::string(70000, 'b') + "out 3\n");
  std::fclose(sink);
}

}  // namespace
