// Small file helpers of the rack.
#pragma once

#include <string>

namespace sim {

// Replaces `path` by `content` so that a reader (or a process killed at any
// moment) sees either the old or the new file, never a mix: written to a
// temporary file beside it, then renamed over it.
bool writeFileAtomic(const std::string& path, const std::string& content, std::string* error);
bool readFile(const std::string& path, std::string* content, std::string* error);
bool makeDirectory(const std::string& path, std::string* error);  // one level; existing is fine
bool isDirectory(const std::string& path);
bool directoryIsEmpty(const std::string& path);
// Removes a directory tree (files and folders in it).
void removeTree(const std::string& path);

}  // namespace sim
