#include "platform/text_file.h"

// The text-mode rules and the buffering, the same on every host. Opening,
// reading and writing by descriptor are the host's (host_file.h).
#include <algorithm>
#include <cstring>

#include "platform/file_system.h"
#include "platform/host_file.h"

namespace {

constexpr unsigned char kEndOfText = 0x1A;

// Squeezes every carriage return out of data[0..len) and returns the length
// left. memchr finds the few there are; the bytes between move down in blocks.
size_t dropCarriageReturns(unsigned char* data, size_t len) {
  auto* cr = static_cast<unsigned char*>(std::memchr(data, '\r', len));
  if (cr == nullptr) return len;
  unsigned char* out = cr;
  const unsigned char* in = cr + 1;
  const unsigned char* end = data + len;
  while (in < end) {
    auto* next = static_cast<const unsigned char*>(std::memchr(in, '\r', size_t(end - in)));
    const unsigned char* stop = next ? next : end;
    const size_t run = size_t(stop - in);
    std::memmove(out, in, run);
    out += run;
    in = stop + (next ? 1 : 0);
  }
  return size_t(out - data);
}

}  // namespace

TextReader::~TextReader() {
  close();
}

bool TextReader::open(const std::string& path, FileSystem& fs) {
  close();
  const int fd = fs.openForReading(path);
  if (fd < 0) return false;
  fd_ = fd;
  return true;
}

void TextReader::openMemory(const std::string& text) {
  close();
  memoryText_ = text;
  memory_ = true;
}

void TextReader::openMemoryFailingAt(const std::string& text, size_t failAt) {
  openMemory(text);
  memoryFailAt_ = failAt;
}

void TextReader::close() {
  if (fd_ >= 0) host_file::close(fd_);
  fd_ = -1;
  memory_ = false;
  memoryText_.clear();
  memoryPos_ = 0;
  memoryFailAt_ = SIZE_MAX;
  ended_ = false;
  readError_ = false;
  pushed_ = -1;
  pos_ = 0;
  len_ = 0;
}

int TextReader::refill() {
  pos_ = 0;
  len_ = 0;
  while (!ended_) {
    size_t got = 0;
    if (memory_) {
      const size_t readable = std::min(memoryText_.size(), memoryFailAt_);
      got = std::min(kBufferSize, readable - std::min(readable, memoryPos_));
      std::memcpy(buf_, memoryText_.data() + memoryPos_, got);
      memoryPos_ += got;
      if (got == 0 && readable < memoryText_.size()) readError_ = true;
    } else if (fd_ >= 0) {
      const std::ptrdiff_t n = host_file::readSome(fd_, buf_, kBufferSize);
      if (n > 0) got = size_t(n);
      if (n < 0) readError_ = true;
    }
    if (got == 0) {
      ended_ = true;
      break;
    }
    // Nothing after the first 0x1A belongs to the text, so once one is seen
    // no more is read.
    if (const void* eot = std::memchr(buf_, kEndOfText, got)) {
      got = size_t(static_cast<const unsigned char*>(eot) - buf_);
      ended_ = true;
    }
    len_ = dropCarriageReturns(buf_, got);
    if (len_ > 0) {
      pos_ = 1;
      return buf_[0];
    }
  }
  return -1;
}

bool TextReader::readLine(std::string* line) {
  line->clear();
  bool any = false;
  if (pushed_ >= 0) {
    const int c = pushed_;
    pushed_ = -1;
    if (c == '\n') return true;
    line->push_back(char(c));
    any = true;
  }
  for (;;) {
    if (pos_ >= len_) {
      const int c = refill();
      if (c < 0) return any;
      any = true;
      if (c == '\n') return true;
      line->push_back(char(c));
      continue;
    }
    const unsigned char* start = buf_ + pos_;
    const size_t avail = len_ - pos_;
    any = true;
    if (const void* nl = std::memchr(start, '\n', avail)) {
      const size_t run = size_t(static_cast<const unsigned char*>(nl) - start);
      line->append(reinterpret_cast<const char*>(start), run);
      pos_ += run + 1;
      return true;
    }
    line->append(reinterpret_cast<const char*>(start), avail);
    pos_ = len_;
  }
}

bool TextReader::readChunk(const unsigned char** data, size_t* size) {
  if (pushed_ >= 0) {
    pushedByte_ = static_cast<unsigned char>(pushed_);
    pushed_ = -1;
    *data = &pushedByte_;
    *size = 1;
    return true;
  }
  if (pos_ >= len_) {
    if (refill() < 0) return false;
    pos_ = 0;  // refill() handed out the first byte; give it back in the chunk
  }
  *data = buf_ + pos_;
  *size = len_ - pos_;
  pos_ = len_;
  return true;
}

bool TextReader::rewind() {
  if (fd_ >= 0) {
    if (!host_file::rewind(fd_)) return false;
  } else if (memory_) {
    memoryPos_ = 0;
  } else {
    return false;
  }
  ended_ = false;
  readError_ = false;
  pushed_ = -1;
  pos_ = 0;
  len_ = 0;
  return true;
}

TextWriter::~TextWriter() {
  close();
}

bool TextWriter::create(const std::string& path, FileSystem& fs) {
  close();
  failed_ = false;
  const int fd = fs.createForWriting(path);
  if (fd < 0) return false;
  fd_ = fd;
  owned_ = true;
  return true;
}

bool TextReader::identity(FileIdentity* id) const {
  return !memory_ && fd_ >= 0 && host_file::identity(fd_, id);
}

bool TextWriter::identity(FileIdentity* id) const {
  return sink_ == nullptr && fd_ >= 0 && host_file::identity(fd_, id);
}

void TextWriter::attachStdout() {
  close();
  failed_ = false;
  fd_ = host_file::standardOutput();
}

void TextWriter::attachStderr() {
  close();
  failed_ = false;
  fd_ = host_file::standardError();
  unbuffered_ = true;
}

void TextWriter::attachMemory(std::string* sink) {
  close();
  failed_ = false;
  sink_ = sink;
  // Straight into the string, so a test sees the text without flushing.
  unbuffered_ = true;
}

void TextWriter::writeSlow(const char* data, size_t size) {
  if (size == 0) return;
  if (unbuffered_) {
    writeThrough(data, size);
    return;
  }
  if (size > kBufferSize - len_) {
    flush();
    if (size >= kBufferSize) {
      writeThrough(data, size);
      return;
    }
  }
  std::memcpy(buf_ + len_, data, size);
  len_ += size;
}

void TextWriter::writeThrough(const char* data, size_t size) {
  if (sink_ != nullptr) {
    sink_->append(data, size);
    return;
  }
  if (fd_ < 0 || failed_) {
    // Text after a failure would land in the file with a hole before it.
    failed_ = true;
    return;
  }
  if (!host_file::writeText(fd_, data, size)) failed_ = true;
}

bool TextWriter::flush() {
  if (len_ > 0) {
    const size_t size = len_;
    len_ = 0;
    writeThrough(buf_, size);
  }
  return !failed_;
}

bool TextWriter::close() {
  flush();
  if (owned_ && fd_ >= 0 && !host_file::close(fd_)) failed_ = true;
  fd_ = -1;
  owned_ = false;
  sink_ = nullptr;
  unbuffered_ = false;
  len_ = 0;
  return !failed_;
}
