// The host's half of the text files: reading, writing and closing by
// descriptor (FileSystem opens and creates them). text_file.cc keeps the
// text-mode rules and the buffering; text_file_posix.cc and
// text_file_win32.cc each supply these calls for one kind of host. Only
// text_file.cc includes this header.
#pragma once

#include <cstddef>
#include <string>

struct FileIdentity;

namespace host_file {

// The descriptors of the standard streams; never closed through close().
int standardOutput();
int standardError();

// Reads at most size bytes into data: how many came, 0 at the end of the
// file, -1 on a read error.
std::ptrdiff_t readSome(int fd, unsigned char* data, size_t size);

// Writes all of data, each line feed as the host's line end. False on a
// write error.
bool writeText(int fd, const char* data, size_t size);

// Back to the start of a file opened for reading. False if it cannot be.
bool rewind(int fd);

// The identity of the file open at fd (a standard stream included): the
// same for every name and every descriptor of one file. False when the
// system cannot say.
bool identity(int fd, FileIdentity* id);

// Closes what FileSystem::openForReading() or createForWriting() opened. False when the
// system reports a failure (data that could not be written after all).
bool close(int fd);

}  // namespace host_file
