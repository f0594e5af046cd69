// Files as tangler reads and writes them. Every file is a text file: on
// reading, each carriage return is dropped and the first 0x1A byte ends the
// file; on writing, each line feed becomes the host's line end (a bare line
// feed on POSIX hosts, CR LF on Windows). Names are resolved by the
// FileSystem's rules, so a page stored as 'Index.HTM' opens as 'index.htm'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

class FileSystem;
struct FileIdentity;

// Reads one file sequentially through a buffer, with one character of
// push-back. Owns its descriptor: the file is closed by close() or on
// destruction.
class TextReader {
 public:
  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens path for reading through fs (FileSystem::openForReading). False
  // when the file does not exist or is not a regular file after following
  // links. Any file already open is closed first.
  bool open(const std::string& path, FileSystem& fs);
  // Reads text from memory instead of a file (a copy is kept), as if it had
  // been read from a file: carriage returns dropped, 0x1A ends it.
  void openMemory(const std::string& text);
  // openMemory(), but the read that would go past the first failAt bytes
  // fails, as a disk failing part way through a file does; for tests.
  void openMemoryFailingAt(const std::string& text, size_t failAt);
  void close();

  // The next byte (0..255), or -1 at the end of the text or after a read
  // error (readError() tells them apart). Once -1 has come every later call
  // returns it again.
  int get() {
    if (pushed_ >= 0) {
      int c = pushed_;
      pushed_ = -1;
      return c;
    }
    if (pos_ < len_) return buf_[pos_++];
    return refill();
  }

  // Pushes c back so that the next get() returns it. At most one character
  // may be pending; -1 is ignored.
  void unget(int c) {
    if (c >= 0) pushed_ = c;
  }

  // Reads one whole line into *line without its line feed. Returns false at
  // the end of the text when nothing was read. The last line of a file need
  // not end with a line feed.
  bool readLine(std::string* line);

  // The next run of text as it lies in the buffer (after any pushed-back
  // character), for callers that scan bytes in bulk. *data stays valid until
  // the next call on this reader. False at the end of the text.
  bool readChunk(const unsigned char** data, size_t* size);

  // The identity of the open file (see FileSystem's FileIdentity); false
  // when none is open, for text read from memory, or when the system cannot
  // say.
  bool identity(FileIdentity* id) const;

  // True once a read has failed: the text got so far is not the whole file.
  bool readError() const { return readError_; }

  // Back to the start of the file, the read error forgotten; false if the
  // file cannot be rewound.
  bool rewind();

 private:
  int refill();

  static constexpr size_t kBufferSize = 64 * 1024;
  int fd_ = -1;
  bool memory_ = false;
  std::string memoryText_;
  size_t memoryPos_ = 0;
  size_t memoryFailAt_ = SIZE_MAX;
  bool ended_ = false;  // 0x1A seen, end of file or read error
  bool readError_ = false;
  int pushed_ = -1;
  unsigned char pushedByte_ = 0;
  size_t pos_ = 0;
  size_t len_ = 0;
  unsigned char buf_[kBufferSize];
};

// Reads the rest of reader's text line by line, in bulk: take(lines, true)
// gets runs of whole lines as the reader holds them, each line ending with
// its line feed; take(line, false) gets one line alone, without its line
// feed: one that straddled two of the reader's pieces, or the last line of
// a text that does not end with a line feed. The file is read again only
// once take has had every whole line read so far, at the moments a reader
// taking one line at a time would read it. False on a read error; the line
// it cut short is not given.
template <class Take>
bool readLineRuns(TextReader& reader, Take&& take) {
  std::string partial;  // the start of a line that the last piece ended inside
  const unsigned char* data = nullptr;
  size_t size = 0;
  while (reader.readChunk(&data, &size)) {
    std::string_view chunk(reinterpret_cast<const char*>(data), size);
    if (!partial.empty()) {
      const size_t end = chunk.find('\n');
      if (end == std::string_view::npos) {
        partial.append(chunk);
        continue;
      }
      partial.append(chunk.substr(0, end));
      take(std::string_view(partial), false);
      partial.clear();
      chunk.remove_prefix(end + 1);
    }
    const size_t last = chunk.rfind('\n');
    if (last != std::string_view::npos) {
      take(chunk.substr(0, last + 1), true);
      chunk.remove_prefix(last + 1);
    }
    partial.assign(chunk);
  }
  if (reader.readError()) return false;
  if (!partial.empty()) take(std::string_view(partial), false);
  return true;
}

// Writes one text stream through a buffer: standard output, standard error or
// a file created for writing. Remembers any write error so that the caller
// can tell success from failure when it flushes or closes.
class TextWriter {
 public:
  TextWriter() = default;
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // Creates (or empties) path for writing through fs
  // (FileSystem::createForWriting). False if it cannot be created (a missing
  // directory, a directory of that name, a FIFO nobody reads).
  bool create(const std::string& path, FileSystem& fs);
  // Attaches to standard output or standard error (not closed by close()).
  // Standard error is written through at once, without buffering.
  void attachStdout();
  void attachStderr();
  // Appends everything written to *sink instead of a file; for tests.
  void attachMemory(std::string* sink);

  void write(const char* data, size_t size) {
    // The common case, a piece that fits the buffer, is a copy: the scan
    // writes every record in three pieces.
    if (size != 0 && size <= kBufferSize - len_ && !unbuffered_) {
      std::memcpy(buf_ + len_, data, size);
      len_ += size;
    } else {
      writeSlow(data, size);
    }
  }
  void write(const std::string& text) { write(text.data(), text.size()); }
  void put(char c) {
    if (len_ < kBufferSize && !unbuffered_) {
      buf_[len_++] = c;
    } else {
      writeSlow(&c, 1);
    }
  }

  // How many bytes can be written now without the buffer being flushed: a
  // run of writes adding up to no more leaves everything as one write of
  // them all would.
  size_t room() const { return unbuffered_ ? 0 : kBufferSize - len_; }

  // The identity of the file or standard stream written to; false for
  // memory, when nothing is attached, or when the system cannot say.
  bool identity(FileIdentity* id) const;

  // Writes out what is buffered. False if any write so far has failed.
  bool flush();
  // Flushes and closes a created file; attached streams are only flushed.
  // False if any write so far has failed or the close failed.
  bool close();

 private:
  void writeSlow(const char* data, size_t size);
  void writeThrough(const char* data, size_t size);

  static constexpr size_t kBufferSize = 64 * 1024;
  int fd_ = -1;
  std::string* sink_ = nullptr;
  bool owned_ = false;
  bool unbuffered_ = false;
  bool failed_ = false;
  size_t len_ = 0;
  char buf_[kBufferSize];
};
