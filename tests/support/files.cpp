#include "support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vecta::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vecta-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) std::abort();
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

link::Bytes FileBytes(const std::string& path) {
  const std::string text = ReadFile(path);
  return link::Bytes(text.begin(), text.end());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out.good()) ADD_FAILURE() << "cannot write " << path;
}

void WriteBytes(const std::string& path, const link::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.good()) ADD_FAILURE() << "cannot write " << path;
}

}  // namespace vecta::test
