// Binary streams: the abstract input and output interfaces used by saved
// games, world files, the script data serializer, images and caches, with
// memory and file implementations. Values travel as their in-memory bytes
// (little-endian); the streams add no framing.
#pragma once
#include <cstdint>
#include <cstdio>
#include "lib/dynArray.h"

// The error record every stream throws: a message of at most 511 characters
// and the stream position it refers to (-1 where no position applies).
struct StreamIOException {
  char message[512];
  int position;

  StreamIOException(const char* msg, int pos);
  const char* what() const { return message; }
};

class InputStream {
 public:
  struct Exception : StreamIOException {
    Exception(const char* msg, int pos) : StreamIOException(msg, pos) {}
  };

  // Reads up to size bytes and returns how many were read; never throws.
  virtual int readSome(void* buf, int size) = 0;
  // Reads exactly size bytes or throws Exception.
  virtual void read(void* buf, int size) = 0;
  virtual int position() = 0;
  virtual void seekTo(int pos) = 0;
  virtual void seekBy(int offset) { seekTo(position() + offset); }
  // Seeks to the stream's size plus offset (usually 0 or negative).
  virtual void seekToEnd(int offset) = 0;
  virtual ~InputStream() = default;

  // A short string: one length byte, then the characters. buf must hold at
  // least 256 bytes; it is zero-terminated. Returns the length.
  int readShortString(char* buf);

  template <class T>
  void readValue(T& v) {
    read(&v, (int)sizeof(T));
  }
};

class OutputStream {
 public:
  struct Exception : StreamIOException {
    Exception(const char* msg, int pos) : StreamIOException(msg, pos) {}
  };

  // Writes exactly size bytes or throws Exception.
  virtual void write(const void* buf, int size) = 0;
  virtual int position() = 0;
  virtual void seekTo(int pos) = 0;
  virtual void seekToEnd(int offset) = 0;
  virtual ~OutputStream() = default;

  // A short string: one length byte, then the characters without a
  // terminator. len -1 takes the length of the zero-terminated text; a length
  // above 255 throws "string is longer than 255" and writes nothing.
  void writeShortString(const char* text, int len = -1);

  template <class T>
  void writeValue(const T& v) {
    write(&v, (int)sizeof(T));
  }
};

// Reads from a caller's memory region (not owned).
class MemoryInputStream : public InputStream {
 public:
  const uint8_t* data = nullptr;
  int size = 0;
  int pos = 0;

  MemoryInputStream() = default;
  MemoryInputStream(const void* region, int region_size) { setRegion(region, region_size); }
  void setRegion(const void* region, int region_size) {
    data = (const uint8_t*)region;
    size = region_size;
    pos = 0;
  }

  int readSome(void* buf, int n) override;
  void read(void* buf, int n) override;
  int position() override { return pos; }
  void seekTo(int target) override;
  void seekToEnd(int offset) override { seekTo(size + offset); }
};

// Writes into a growing buffer on the shared heap (used to build a block in
// memory before it goes to a file, and by tests). Seeking within the written
// bytes overwrites them; writing past the end extends the buffer.
class MemoryOutputStream : public OutputStream {
 public:
  DynArray<uint8_t> bytes;
  int pos = 0;

  void write(const void* buf, int n) override;
  int position() override { return pos; }
  void seekTo(int target) override;
  void seekToEnd(int offset) override { seekTo(bytes.count() + offset); }
};

class FileInputStream : public InputStream {
 public:
  FILE* fp = nullptr;

  FileInputStream() = default;
  FileInputStream(const char* path, const char* mode = "rb") { open(path, mode); }
  explicit FileInputStream(FILE* handle) : fp(handle) {}
  ~FileInputStream() override { close(); }
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  bool open(const char* path, const char* mode = "rb");
  void close();

  int readSome(void* buf, int size) override;
  void read(void* buf, int size) override;
  int position() override;
  void seekTo(int pos) override;
  void seekBy(int offset) override;
  void seekToEnd(int offset) override;
};

class FileOutputStream : public OutputStream {
 public:
  FILE* fp = nullptr;

  FileOutputStream() = default;
  FileOutputStream(const char* path, const char* mode = "wb") { open(path, mode); }
  explicit FileOutputStream(FILE* handle) : fp(handle) {}
  ~FileOutputStream() override { close(); }
  FileOutputStream(const FileOutputStream&) = delete;
  FileOutputStream& operator=(const FileOutputStream&) = delete;

  bool open(const char* path, const char* mode = "wb");
  // Closes the handle; returns false when buffered data could not be written.
  bool close();

  void write(const void* buf, int size) override;
  int position() override;
  void seekTo(int pos) override;
  void seekToEnd(int offset) override;
};
