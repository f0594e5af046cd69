// Replacing a small file whole, such as the link cache: the new bytes go to
// a temporary file beside it, which is then renamed over it, so that a run
// that is killed, or a disk that fills, never leaves it half written.
#pragma once

#include <string>

// Writes bytes to a new file beside hostPath and renames it to hostPath,
// replacing what was there. False, with *error the system's reason, when
// the temporary file cannot be made or written or the rename fails; then
// hostPath is as it was and no temporary file is left.
bool replaceFileContents(const std::string& hostPath, const std::string& bytes, std::string* error);
