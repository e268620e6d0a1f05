// Files for tests: a temporary folder that goes with the test, and whole
// files written and read as text or bytes.
#pragma once

#include <string>

#include "link/frame.h"

namespace vecta::test {

// A fresh temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole file ("" when it cannot be read).
std::string ReadFile(const std::string& path);
link::Bytes FileBytes(const std::string& path);
// Replaces the file with exactly these bytes; a file that cannot be
// written fails the test.
void WriteFile(const std::string& path, const std::string& text);
void WriteBytes(const std::string& path, const link::Bytes& bytes);

}  // namespace vecta::test
