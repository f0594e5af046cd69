#include "platform/text_file.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/directory.h"

namespace {

constexpr unsigned char kEndOfText = 0x1A;

// Opens with O_NONBLOCK so that a FIFO (or a device) cannot hold the run up
// in open(); the caller checks what it got and then switches blocking back on.
int openNonBlocking(const std::string& hostPath, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(hostPath.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool clearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

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

bool TextReader::open(const std::string& path, DirectoryCache* cache) {
  close();
  std::string host;
  if (!resolvePath(path, &host, cache)) return false;
  const int fd = openNonBlocking(host, O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !clearNonBlocking(fd)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void TextReader::openMemory(const std::string& text) {
  close();
  memoryText_ = text;
  memory_ = true;
}

void TextReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  memory_ = false;
  memoryText_.clear();
  memoryPos_ = 0;
  ended_ = false;
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
      got = std::min(kBufferSize, memoryText_.size() - memoryPos_);
      std::memcpy(buf_, memoryText_.data() + memoryPos_, got);
      memoryPos_ += got;
    } else if (fd_ >= 0) {
      ssize_t n;
      do {
        n = ::read(fd_, buf_, kBufferSize);
      } while (n < 0 && errno == EINTR);
      if (n > 0) got = size_t(n);
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
    if (lseek(fd_, 0, SEEK_SET) != 0) return false;
  } else if (memory_) {
    memoryPos_ = 0;
  } else {
    return false;
  }
  ended_ = false;
  pushed_ = -1;
  pos_ = 0;
  len_ = 0;
  return true;
}

TextWriter::~TextWriter() {
  close();
}

bool TextWriter::create(const std::string& path) {
  close();
  failed_ = false;
  std::string host;
  if (!resolvePath(path, &host)) return false;
  // Without O_NONBLOCK, opening a FIFO that nobody reads would wait forever;
  // with it the open fails at once (ENXIO).
  const int fd = openNonBlocking(host, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return false;
  if (!clearNonBlocking(fd)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  owned_ = true;
  return true;
}

void TextWriter::attachStdout() {
  close();
  failed_ = false;
  fd_ = STDOUT_FILENO;
}

void TextWriter::attachStderr() {
  close();
  failed_ = false;
  fd_ = STDERR_FILENO;
  unbuffered_ = true;
}

void TextWriter::attachMemory(std::string* sink) {
  close();
  failed_ = false;
  sink_ = sink;
  // Straight into the string, so a test sees the text without flushing.
  unbuffered_ = true;
}

void TextWriter::write(const char* data, size_t size) {
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
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n > 0) {
      data += n;
      size -= size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A standard stream inherited in non-blocking mode: wait until it drains.
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, -1) < 0 && errno != EINTR) {
        failed_ = true;
        return;
      }
    } else {
      failed_ = true;
      return;
    }
  }
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
  if (owned_ && fd_ >= 0 && ::close(fd_) != 0 && errno != EINTR) failed_ = true;
  fd_ = -1;
  owned_ = false;
  sink_ = nullptr;
  unbuffered_ = false;
  len_ = 0;
  return !failed_;
}
