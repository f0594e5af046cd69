// The files a tangler-site run uses beside the site itself.
//
// The report goes to standard output, or to a file created (or emptied)
// before the site is walked, so that a name that cannot be written fails
// before any work is done. A reader that closes a pipe early
// (`tangler-site | head`) is told apart from every other failure, so that a
// run can stop writing quietly, on every system.
//
// A file named on the command line to be read (an ignore file) may be a
// pipe or a device as well as a regular file (/dev/null, <(...), NUL).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

enum class WriteOutcome : unsigned char {
  Written,     // every byte went out
  ReaderGone,  // the pipe's reader closed it: nothing more can be written
  Failed,      // any other failure, with the system's reason
};

// Standard output, or a file that openReportFile() opened; a file is closed
// when the object goes, if closeReport() has not closed it before.
struct ReportDestination {
  ReportDestination() = default;
  ~ReportDestination();
  ReportDestination(const ReportDestination&) = delete;
  ReportDestination& operator=(const ReportDestination&) = delete;
  // The host's descriptor (POSIX) or handle (Windows) of a file; -1 for
  // standard output.
  intptr_t file = -1;
};

// Lets a write to a pipe whose reader is gone fail with an error instead of
// ending the process (POSIX's SIGPIPE is ignored from here on). Windows
// sends no such signal: nothing to do there.
void ignoreBrokenPipes();

// Creates hostPath, or empties it, taken literally (no case folding), for
// the report. False, with *error the system's reason, when it cannot be.
// Opening a FIFO waits for its reader, as a FIFO's writer does.
bool openReportFile(const std::string& hostPath, ReportDestination* output, std::string* error);

// The identity of the opened file, and whether it has more than one name (a
// hard link elsewhere), so that some other path may lead to it. False for
// standard output, or when the system cannot say.
bool reportFileIdentity(const ReportDestination& output, FileIdentity* identity, bool* otherNames);

// Writes all of bytes: to a file untouched; to standard output through the
// C library's stream (in its text mode on Windows, where a line feed goes
// out as CR LF).
WriteOutcome writeReport(ReportDestination& output, std::string_view bytes, std::string* error);

// Flushes standard output, or closes the file: some file systems (NFS)
// report a failed write only then.
WriteOutcome closeReport(ReportDestination& output, std::string* error);

// The absolute path, every link resolved, that hostPath names, or would name
// once created: an existing path is made canonical whole (as
// FileSystem::canonicalPath() makes it, '/'-separated); a missing one is
// its directory made canonical with the last component added as written (a
// link that leads nowhere is followed to where it would create the file).
// False when no such path can be had (the directory does not exist either).
bool destinationPath(FileSystem& fileSystem, const std::string& hostPath, std::string* canonical);

// destinationPath's last step, the same on every system: directory dir made
// canonical with name added; false when name is empty, "." or "..", or dir
// cannot be made canonical.
bool canonicalEntryPath(FileSystem& fileSystem, const std::string& dir, const std::string& name,
                        std::string* canonical);

// All the bytes of the file at hostPath, taken literally: a regular file, a
// pipe or a device read to its end. False, with *error the system's reason,
// when it cannot be opened or read, is a directory, or holds more than
// maxBytes.
bool readNamedFile(const std::string& hostPath, size_t maxBytes, std::string* bytes,
                   std::string* error);

// A path as the user named it, with '/' as its only separator: on Windows
// each '\' becomes '/', since both separate there; elsewhere '\' is a
// byte of a name and stays.
std::string slashSeparated(std::string path);
