#include "platform/text_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform_test_support.h"

namespace {

using namespace std::string_literals;
using platform_test::ChangeDir;
using platform_test::kLineEnd;
using platform_test::listRaw;
using platform_test::makeDir;
using platform_test::readRaw;
using platform_test::TempDir;
using platform_test::writeRaw;
#ifndef _WIN32
using platform_test::exitedWith;
using platform_test::runInChild;
#endif

// Looks at the disk afresh every time: nothing is kept while caching is off.
FileSystem fs;

// The reader is big (it holds its buffer), so it lives on the heap.
std::unique_ptr<TextReader> newReader() {
  return std::make_unique<TextReader>();
}

// Everything get() yields until the end, as bytes.
std::string drain(TextReader& reader) {
  std::string out;
  for (int c; (c = reader.get()) >= 0;) out.push_back(char(c));
  return out;
}

std::vector<std::string> allLines(TextReader& reader) {
  std::vector<std::string> lines;
  std::string line;
  while (reader.readLine(&line)) lines.push_back(line);
  return lines;
}

constexpr size_t kBuffer = 64 * 1024;  // the reader's buffer size

struct TextCase {
  const char* label;
  std::string raw;
  std::string text;
};

std::vector<TextCase> textCases() {
  return {
      {"plain", "abc\ndef", "abc\ndef"},
      {"crlf", "a\r\nb\r\n", "a\nb\n"},
      {"lone cr", "a\rb\r", "ab"},
      {"only crs", "\r\r\r", ""},
      {"empty", "", ""},
      {"eof byte cuts",
       "ab\x1A"
       "cd\x1A"
       "ef",
       "ab"},
      {"eof byte first",
       "\x1A"
       "abc",
       ""},
      {"nul bytes", "a\0b\0"s, "a\0b\0"s},
      {"high bytes", "\xFF\x80\x7F", "\xFF\x80\x7F"},
      {"cr on boundary", std::string(kBuffer - 1, 'x') + "\r\r" + "y\n",
       std::string(kBuffer - 1, 'x') + "y\n"},
      {"cr first after boundary", std::string(kBuffer, 'x') + "\r\ny",
       std::string(kBuffer, 'x') + "\ny"},
      {"eof byte last in buffer", std::string(kBuffer - 1, 'a') + "\x1A" + std::string(70000, 'b'),
       std::string(kBuffer - 1, 'a')},
      {"eof byte first after boundary", std::string(kBuffer, 'a') + "\x1A" + "zzz",
       std::string(kBuffer, 'a')},
      {"buffers of nothing but crs", std::string(3 * kBuffer, '\r') + "x", "x"},
      {"crs then eof byte", std::string(kBuffer + 5, '\r') + "\x1A" + "x", ""},
  };
}

TEST(TextReader, DropsCarriageReturnsAndStopsAtEofByte) {
  TempDir dir;
  for (const TextCase& c : textCases()) {
    SCOPED_TRACE(c.label);
    const std::string path = dir / "case.txt";
    ASSERT_TRUE(writeRaw(path, c.raw));
    auto file = newReader();
    ASSERT_TRUE(file->open(path, fs));
    EXPECT_TRUE(drain(*file) == c.text);
    // The end stays the end, however often it is asked for.
    EXPECT_EQ(file->get(), -1);
    EXPECT_EQ(file->get(), -1);

    auto memory = newReader();
    memory->openMemory(c.raw);
    EXPECT_TRUE(drain(*memory) == c.text);
    EXPECT_EQ(memory->get(), -1);
  }
}

TEST(TextReader, ReadLineSplitsAtLineFeedsOnly) {
  struct Case {
    std::string raw;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"\n", {""}},
      {"\n\n", {"", ""}},
      {"one\ntwo\n", {"one", "two"}},
      {"one\ntwo", {"one", "two"}},  // the last line needs no line feed
      {"a\r\nb\r\n\r\n", {"a", "b", ""}},
      {"a\0b\nc"s, {"a\0b"s, "c"}},
      {"x\ny\x1A\nz\n", {"x", "y"}},
      {std::string(kBuffer - 1, 'q') + "\r\nnext", {std::string(kBuffer - 1, 'q'), "next"}},
  };
  for (const Case& c : cases) {
    auto reader = newReader();
    reader->openMemory(c.raw);
    EXPECT_TRUE(allLines(*reader) == c.lines) << c.raw.substr(0, 20);
  }
}

TEST(TextReader, VeryLongLinesComeWhole) {
  TempDir dir;
  const std::string longLine(300000, 'L');
  const std::string longer(5 * kBuffer + 17, 'M');
  ASSERT_TRUE(writeRaw(dir / "long.htm", longLine + "\r\nshort\n" + longer));
  auto reader = newReader();
  ASSERT_TRUE(reader->open(dir / "long.htm", fs));
  std::string line;
  ASSERT_TRUE(reader->readLine(&line));
  EXPECT_EQ(line.size(), longLine.size());
  EXPECT_TRUE(line == longLine);
  ASSERT_TRUE(reader->readLine(&line));
  EXPECT_EQ(line, "short");
  ASSERT_TRUE(reader->readLine(&line));
  EXPECT_EQ(line.size(), longer.size());
  EXPECT_FALSE(reader->readLine(&line));
  EXPECT_EQ(line, "");
}

TEST(TextReader, PushBackComesFirst) {
  auto reader = newReader();
  reader->openMemory("abc\ndef\n");
  const int a = reader->get();
  EXPECT_EQ(a, 'a');
  reader->unget(a);
  std::string line;
  ASSERT_TRUE(reader->readLine(&line));
  EXPECT_EQ(line, "abc");
  // A pushed-back line feed ends an empty line.
  reader->unget('\n');
  ASSERT_TRUE(reader->readLine(&line));
  EXPECT_EQ(line, "");
  reader->unget(-1);  // ignored
  EXPECT_EQ(reader->get(), 'd');
  ASSERT_TRUE(reader->readLine(&line));
  EXPECT_EQ(line, "ef");
  EXPECT_EQ(reader->get(), -1);
  // A byte pushed back at the end is still handed out, then the end again.
  reader->unget('z');
  EXPECT_EQ(reader->get(), 'z');
  EXPECT_EQ(reader->get(), -1);
}

TEST(TextReader, RewindStartsAgainFromScratch) {
  TempDir dir;
  const std::string raw = std::string(kBuffer + 10, 'r') + "\x1A" + "tail";
  ASSERT_TRUE(writeRaw(dir / "r.txt", raw));
  auto file = newReader();
  auto memory = newReader();
  ASSERT_TRUE(file->open(dir / "r.txt", fs));
  memory->openMemory(raw);
  for (TextReader* reader : {file.get(), memory.get()}) {
    EXPECT_EQ(drain(*reader).size(), kBuffer + 10);
    reader->unget('x');
    ASSERT_TRUE(reader->rewind());
    // Neither the pushed-back byte nor the end already met survives.
    EXPECT_EQ(drain(*reader).size(), kBuffer + 10);
    ASSERT_TRUE(reader->rewind());
    std::string line;
    ASSERT_TRUE(reader->readLine(&line));
    EXPECT_EQ(line.size(), kBuffer + 10);
  }
  TextReader closed;
  EXPECT_FALSE(closed.rewind());
}

// A read that fails ends the text like the end of the file does, but says so.
TEST(TextReader, ReadErrorIsToldApartFromTheEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "no file here opens and then fails to read";
#else
  TempDir dir;
  ASSERT_TRUE(writeRaw(dir / "whole.txt", "a\nb"));
  // The process's own memory opens as a regular file, and reading its first
  // page fails.
  ASSERT_EQ(symlink("/proc/self/mem", (dir / "mem.htm").c_str()), 0);
  auto reader = newReader();
  ASSERT_TRUE(reader->open(dir / "whole.txt", fs));
  EXPECT_EQ(allLines(*reader), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(reader->readError());
  ASSERT_TRUE(reader->open(dir / "MEM.htm", fs));
  EXPECT_EQ(reader->get(), -1);
  EXPECT_TRUE(reader->readError());
  EXPECT_EQ(reader->get(), -1);
  ASSERT_TRUE(reader->rewind());
  EXPECT_FALSE(reader->readError());
  std::string line;
  EXPECT_FALSE(reader->readLine(&line));
  EXPECT_TRUE(reader->readError());
#endif
}

TEST(TextReader, OpensIgnoringCaseWithEitherSeparator) {
  TempDir dir;
  ASSERT_TRUE(makeDir(dir / "Docs"));
  ASSERT_TRUE(writeRaw(dir / "Docs/Read Me.TXT", "hello"));
  auto reader = newReader();
  ASSERT_TRUE(reader->open(dir.path() + "\\docs\\read me.txt", fs));
  EXPECT_EQ(drain(*reader), "hello");
  {
    ChangeDir in(dir.path());
    ASSERT_TRUE(in.ok());
    ASSERT_TRUE(reader->open("DOCS/READ ME.TXT", fs));
    EXPECT_EQ(drain(*reader), "hello");
  }
  reader->close();
  EXPECT_EQ(reader->get(), -1);
}

TEST(TextReader, RefusesWhatIsNotAReadableFile) {
  TempDir dir;
  ASSERT_TRUE(makeDir(dir / "folder"));
  auto reader = newReader();
  reader->openMemory("left over");
  EXPECT_FALSE(reader->open(dir / "missing.txt", fs));
  EXPECT_EQ(reader->get(), -1);  // the earlier text is gone too
  EXPECT_FALSE(reader->open(dir / "folder", fs));
  EXPECT_FALSE(reader->open("", fs));
#ifdef _WIN32
  // Devices open like files but are no pages.
  EXPECT_FALSE(reader->open("nul", fs));
#else
  // Windows has drives; here a drive letter matches nothing.
  ASSERT_TRUE(writeRaw(dir / "c:page.htm", "x"));
  ChangeDir in(dir.path());
  ASSERT_TRUE(in.ok());
  EXPECT_FALSE(reader->open("c:page.htm", fs));
  EXPECT_FALSE(reader->open("C:\\page.htm", fs));
#endif
}

TEST(TextReader, FifoIsRefusedWithoutBlocking) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file systems hold no FIFOs";
#else
  TempDir dir;
  const std::string fifo = dir / "pipe.htm";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int status = runInChild([&] {
    TextReader reader;
    return reader.open(fifo, fs) ? 1 : 0;
  });
  EXPECT_TRUE(exitedWith(status, 0)) << "status " << status;
#endif
}

TEST(TextWriter, WritesBytesAsGivenAndReplacesStoredName) {
  TempDir dir;
  ASSERT_TRUE(writeRaw(dir / "Report.TXT", "old old old old"));
  {
    TextWriter writer;
    ASSERT_TRUE(writer.create(dir / "report.txt", fs));
    writer.write("line one\n");
    writer.put('\0');
    writer.put('\n');
    writer.write("tail");
    EXPECT_TRUE(writer.close());
  }
  EXPECT_EQ(listRaw(dir.path()), std::vector<std::string>{"Report.TXT"});
  // Each line feed as the host's line end, every other byte as it was.
  EXPECT_EQ(readRaw(dir / "Report.TXT"), "line one" + kLineEnd + "\0"s + kLineEnd + "tail");
}

TEST(TextWriter, LargeMixedWritesKeepTheirOrder) {
  TempDir dir;
  std::string expected;
  {
    TextWriter writer;
    ASSERT_TRUE(writer.create(dir.path() + "\\big.txt", fs));
    for (int round = 0; round < 5; ++round) {
      const std::string block(kBuffer - 3 + round * 7000, char('a' + round));
      for (int i = 0; i < 1000; ++i) {
        writer.put(char('0' + i % 10));
        expected.push_back(char('0' + i % 10));
      }
      writer.write(block);
      expected += block;
    }
    const std::string huge(3 * kBuffer, 'H');
    writer.write(huge);
    expected += huge;
    // No close: the destructor must flush.
  }
  EXPECT_TRUE(readRaw(dir / "big.txt") == expected);
}

TEST(TextWriter, CannotCreateWhereNoFileCanBe) {
  TempDir dir;
  ASSERT_TRUE(makeDir(dir / "Folder"));
  TextWriter writer;
  EXPECT_FALSE(writer.create(dir / "folder", fs));
  EXPECT_FALSE(writer.create(dir / "folder/", fs));
  EXPECT_FALSE(writer.create(dir / "nosuch/file.txt", fs));
  EXPECT_FALSE(writer.create("", fs));
  ChangeDir in(dir.path());
  ASSERT_TRUE(in.ok());
#ifndef _WIN32
  // On Windows these name real drives.
  EXPECT_FALSE(writer.create("c:out.txt", fs));
  EXPECT_FALSE(writer.create("D:\\out.txt", fs));
#endif
  EXPECT_EQ(listRaw(dir.path()), std::vector<std::string>{"Folder"});
  // A subfolder's stored case is used for the new file's directory.
  EXPECT_TRUE(writer.create("FOLDER\\New.txt", fs));
  EXPECT_TRUE(writer.close());
  EXPECT_EQ(listRaw(dir / "Folder"), std::vector<std::string>{"New.txt"});
}

TEST(TextWriter, FifoWithoutReaderFailsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file systems hold no FIFOs";
#else
  TempDir dir;
  const std::string fifo = dir / "pipe.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int status = runInChild([&] {
    TextWriter writer;
    return writer.create(fifo, fs) ? 1 : 0;
  });
  EXPECT_TRUE(exitedWith(status, 0)) << "status " << status;
#endif
}

TEST(TextWriter, FullDeviceFailsOnWrite) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device like /dev/full that refuses every write";
#else
  TextWriter writer;
  ASSERT_TRUE(writer.create("/dev/full", fs));
  writer.write("some text\n");
  EXPECT_FALSE(writer.flush());
  EXPECT_FALSE(writer.flush()) << "the failure is remembered";
  writer.write("more");
  EXPECT_FALSE(writer.close());
#endif
}

TEST(TextWriter, MemorySinkSeesTextAtOnce) {
  std::string sink = "kept:";
  TextWriter writer;
  writer.attachMemory(&sink);
  writer.write("abc");
  writer.put('\n');
  writer.put('\0');
  EXPECT_EQ(sink, "kept:abc\n\0"s);
  EXPECT_TRUE(writer.close());
  writer.write("after");
  EXPECT_EQ(sink, "kept:abc\n\0"s);
}

// Points standard error at a pipe for the life of the object.
#ifdef _WIN32
class CapturedStderr {
 public:
  CapturedStderr() {
    if (!CreatePipe(&read_, &write_, nullptr, 0)) return;
    saved_ = GetStdHandle(STD_ERROR_HANDLE);
    ok_ = SetStdHandle(STD_ERROR_HANDLE, write_) != 0;
  }
  ~CapturedStderr() {
    if (ok_) SetStdHandle(STD_ERROR_HANDLE, saved_);
    if (read_ != nullptr) CloseHandle(read_);
    if (write_ != nullptr) CloseHandle(write_);
  }
  bool ok() const { return ok_; }
  std::string take() {
    std::string out;
    DWORD waiting = 0;
    while (PeekNamedPipe(read_, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
      char buf[256];
      DWORD got = 0;
      if (!ReadFile(read_, buf, sizeof buf, &got, nullptr) || got == 0) break;
      out.append(buf, got);
    }
    return out;
  }
  // The stream is still there to be written to.
  bool stillOpen() const {
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_ERROR_HANDLE), "", 0, &written, nullptr) != 0;
  }

 private:
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
  HANDLE saved_ = nullptr;
  bool ok_ = false;
};
#else
class CapturedStderr {
 public:
  CapturedStderr() {
    if (pipe(fds_) != 0) return;
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    saved_ = dup(STDERR_FILENO);
    dup2(fds_[1], STDERR_FILENO);
  }
  ~CapturedStderr() {
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
    close(fds_[0]);
    close(fds_[1]);
  }
  bool ok() const { return saved_ >= 0; }
  std::string take() {
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    return out;
  }
  bool stillOpen() const { return fcntl(STDERR_FILENO, F_GETFD) >= 0; }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};
#endif

TEST(TextWriter, StandardErrorIsWrittenThroughAtOnce) {
  CapturedStderr captured;
  ASSERT_TRUE(captured.ok());
  TextWriter writer;
  writer.attachStderr();
  writer.put('E');
  EXPECT_EQ(captured.take(), "E");
  writer.write("rror\n");
  EXPECT_EQ(captured.take(), "rror" + kLineEnd);
  EXPECT_TRUE(writer.close());
  // Attached streams are left open.
  EXPECT_TRUE(captured.stillOpen());
}

}  // namespace

// The identity tells a file apart from every other whatever name it is
// opened by, which is how a run recognises its own output among the pages.
TEST(TextFiles, IdentityIsTheFilesNotTheNames) {
  TempDir dir;
  ASSERT_TRUE(writeRaw(dir / "Other.htm", "x"));
  TextWriter writer;
  ASSERT_TRUE(writer.create(dir / "out.txt", fs));
  TextReader same;
  TextReader other;
  ASSERT_TRUE(same.open(dir / "OUT.TXT", fs));
  ASSERT_TRUE(other.open(dir / "other.htm", fs));
  FileIdentity written;
  FileIdentity read;
  FileIdentity elsewhere;
  ASSERT_TRUE(writer.identity(&written));
  ASSERT_TRUE(same.identity(&read));
  ASSERT_TRUE(other.identity(&elsewhere));
  EXPECT_EQ(written, read);
  EXPECT_FALSE(written == elsewhere);

  std::string sink;
  TextWriter memory;
  memory.attachMemory(&sink);
  TextReader memoryReader;
  memoryReader.openMemory("text");
  TextReader closed;
  FileIdentity none;
  EXPECT_FALSE(memory.identity(&none));
  EXPECT_FALSE(memoryReader.identity(&none));
  EXPECT_FALSE(closed.identity(&none));
}
