// Memory and file streams. Every failure throws the stream's exception and
// leaves the stream where it was, so a caller can report and carry on.
#include "script/streams.h"
#include <cstring>

StreamIOException::StreamIOException(const char* msg, int pos) : position(pos) {
  size_t n = msg ? strnlen(msg, sizeof(message) - 1) : 0;
  memcpy(message, msg ? msg : "", n);
  message[n] = 0;
}

int InputStream::readShortString(char* buf) {
  uint8_t len = 0;
  read(&len, 1);
  read(buf, len);
  buf[len] = 0;
  return len;
}

void OutputStream::writeShortString(const char* text, int len) {
  if (len < 0) len = text ? (int)strlen(text) : 0;
  if (len > 255) throw Exception("string is longer than 255", position());
  // One write of length byte and characters, so a failure writes nothing.
  uint8_t buf[256];
  buf[0] = (uint8_t)len;
  if (len > 0) memcpy(buf + 1, text, len);
  write(buf, len + 1);
}

// ---- memory input

int MemoryInputStream::readSome(void* buf, int n) {
  if (n <= 0 || !data) return 0;
  int left = size - pos;
  if (left <= 0) return 0;
  if (n > left) n = left;
  memcpy(buf, data + pos, n);
  pos += n;
  return n;
}

void MemoryInputStream::read(void* buf, int n) {
  if (!data) throw Exception("no input memory region set", -1);
  if (n < 0) throw Exception("negative size in read()", -1);
  if (n > size - pos) throw Exception("read() outside of input memory region", pos);
  if (n > 0) memcpy(buf, data + pos, n);
  pos += n;
}

void MemoryInputStream::seekTo(int target) {
  if (target < 0 || target > size) throw Exception("seek outside of input memory region", pos);
  pos = target;
}

// ---- memory output

void MemoryOutputStream::write(const void* buf, int n) {
  if (n < 0) throw Exception("negative size in write()", -1);
  if (n > 0x7FFFFFFF - pos) throw Exception("write() outside of output memory region", pos);
  if (pos + n > bytes.count()) bytes.resize(pos + n);
  if (n > 0) memcpy(bytes.data() + pos, buf, n);
  pos += n;
}

void MemoryOutputStream::seekTo(int target) {
  if (target < 0 || target > bytes.count())
    throw Exception("seek outside of output memory region", pos);
  pos = target;
}

// ---- files

static int file_pos(FILE* fp) { return (int)ftell(fp); }

bool FileInputStream::open(const char* path, const char* mode) {
  close();
  fp = fopen(path, mode);
  return fp != nullptr;
}

void FileInputStream::close() {
  if (fp) fclose(fp);
  fp = nullptr;
}

int FileInputStream::readSome(void* buf, int n) {
  if (!fp || n <= 0) return 0;
  return (int)fread(buf, 1, (size_t)n, fp);
}

void FileInputStream::read(void* buf, int n) {
  if (!fp) throw Exception("file not opened", -1);
  if (n < 0) throw Exception("negative size in read()", -1);
  long start = ftell(fp);
  if (fread(buf, 1, (size_t)n, fp) != (size_t)n) {
    // Back to where the read began, so the stream stays usable.
    clearerr(fp);
    fseek(fp, start, SEEK_SET);
    throw Exception("error reading file", file_pos(fp));
  }
}

int FileInputStream::position() {
  if (!fp) throw Exception("file not opened", -1);
  return file_pos(fp);
}

static void seek_file(FILE* fp, long offset, int whence, bool input) {
  if (!fp) {
    if (input) throw InputStream::Exception("file not opened", -1);
    throw OutputStream::Exception("file not opened", -1);
  }
  if (fseek(fp, offset, whence) != 0) {
    if (input) throw InputStream::Exception("file seek error", file_pos(fp));
    throw OutputStream::Exception("file seek error", file_pos(fp));
  }
}

void FileInputStream::seekTo(int target) { seek_file(fp, target, SEEK_SET, true); }
void FileInputStream::seekBy(int offset) { seek_file(fp, offset, SEEK_CUR, true); }
void FileInputStream::seekToEnd(int offset) { seek_file(fp, offset, SEEK_END, true); }

bool FileOutputStream::open(const char* path, const char* mode) {
  close();
  fp = fopen(path, mode);
  return fp != nullptr;
}

bool FileOutputStream::close() {
  bool ok = true;
  if (fp) ok = fclose(fp) == 0;
  fp = nullptr;
  return ok;
}

void FileOutputStream::write(const void* buf, int n) {
  if (!fp) throw Exception("file not opened", -1);
  if (n < 0) throw Exception("negative size in write()", -1);
  long start = ftell(fp);
  if (fwrite(buf, 1, (size_t)n, fp) != (size_t)n) {
    clearerr(fp);
    fseek(fp, start, SEEK_SET);
    throw Exception("error writing file", file_pos(fp));
  }
}

int FileOutputStream::position() {
  if (!fp) throw Exception("file not opened", -1);
  return file_pos(fp);
}

void FileOutputStream::seekTo(int target) { seek_file(fp, target, SEEK_SET, false); }
void FileOutputStream::seekToEnd(int offset) { seek_file(fp, offset, SEEK_END, false); }
