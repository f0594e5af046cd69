#include "platform/run_files.h"

#include "platform/file_system.h"

bool canonicalEntryPath(FileSystem& fileSystem, const std::string& dir, const std::string& name,
                        std::string* canonical) {
  if (name.empty() || name == "." || name == "..") return false;
  if (!fileSystem.canonicalPath(dir, canonical)) return false;
  if (canonical->back() != '/') *canonical += '/';
  *canonical += name;
  return true;
}
