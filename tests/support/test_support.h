// Helpers shared by the tests: private temporary folders and small file utilities.
#pragma once
#include <string>

// Creates a fresh folder under the system temporary folder and returns its path
// (ending without a separator). The folder is removed by the destructor.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// Whole-file helpers; read_file returns false when the file cannot be read.
bool read_file(const std::string& path, std::string& out);
bool write_file(const std::string& path, const std::string& data);
