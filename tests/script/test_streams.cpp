#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <string>
#include "script/streams.h"
#include "tests/support/test_support.h"

// Runs f and checks that it throws E with the message and position.
template <class E>
static void expect_stream_error(const std::function<void()>& f, const char* msg, int pos) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected \"" << msg << "\"";
  } catch (const E& e) {
    EXPECT_STREQ(e.message, msg);
    EXPECT_EQ(e.position, pos) << msg;
  }
}

TEST(MemoryInputStream, ReadsToTheEndThenFailsWithPosition) {
  char src[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  MemoryInputStream s(src, 10);
  char buf[10];
  s.read(buf, 10);
  EXPECT_EQ(memcmp(buf, src, 10), 0);
  expect_stream_error<InputStream::Exception>([&] { s.read(buf, 1); },
                                              "read() outside of input memory region", 10);
  EXPECT_EQ(s.position(), 10);
  EXPECT_EQ(s.readSome(buf, 5), 0);
}

TEST(MemoryInputStream, ErrorsAndSeeks) {
  char src[10] = {};
  char buf[16];
  MemoryInputStream none;
  expect_stream_error<InputStream::Exception>([&] { none.read(buf, 1); },
                                              "no input memory region set", -1);
  EXPECT_EQ(none.readSome(buf, 4), 0);

  MemoryInputStream s(src, 10);
  s.seekTo(3);
  expect_stream_error<InputStream::Exception>([&] { s.read(buf, -1); }, "negative size in read()",
                                              -1);
  s.seekTo(10);  // the end itself is a valid position
  EXPECT_EQ(s.position(), 10);
  s.seekTo(4);
  expect_stream_error<InputStream::Exception>([&] { s.seekTo(11); },
                                              "seek outside of input memory region", 4);
  expect_stream_error<InputStream::Exception>([&] { s.seekTo(-1); },
                                              "seek outside of input memory region", 4);
  s.seekBy(2);
  EXPECT_EQ(s.position(), 6);
  s.seekToEnd(-3);
  EXPECT_EQ(s.position(), 7);
  EXPECT_EQ(s.readSome(buf, 16), 3);  // only what is left
  EXPECT_EQ(s.readSome(buf, 0), 0);
}

TEST(MemoryOutputStream, WritesSeeksAndOverwrites) {
  MemoryOutputStream s;
  s.write("abcdef", 6);
  s.seekTo(2);
  s.write("XY", 2);
  EXPECT_EQ(s.position(), 4);
  s.seekToEnd(0);
  s.write("gh", 2);
  ASSERT_EQ(s.bytes.count(), 8);
  EXPECT_EQ(std::string((const char*)s.bytes.data(), 8), "abXYefgh");
  expect_stream_error<OutputStream::Exception>([&] { s.seekTo(9); },
                                               "seek outside of output memory region", 8);
  expect_stream_error<OutputStream::Exception>([&] { s.write("x", -2); },
                                               "negative size in write()", -1);
}

TEST(ShortStrings, LengthByteThenCharacters) {
  std::string s255(255, 'q'), s256(256, 'q');
  MemoryOutputStream out;
  out.writeShortString(s255.c_str());
  EXPECT_EQ(out.bytes.count(), 256);
  expect_stream_error<OutputStream::Exception>([&] { out.writeShortString(s256.c_str()); },
                                               "string is longer than 255", 256);
  EXPECT_EQ(out.bytes.count(), 256);  // nothing written
  out.writeShortString("");
  out.writeShortString("hello world", 5);  // explicit length
  ASSERT_EQ(out.bytes.count(), 256 + 1 + 6);
  EXPECT_EQ(out.bytes[256], 0);

  MemoryInputStream in(out.bytes.data(), out.bytes.count());
  char buf[256];
  EXPECT_EQ(in.readShortString(buf), 255);
  EXPECT_EQ(std::string(buf), s255);
  memset(buf, 'z', sizeof(buf));
  EXPECT_EQ(in.readShortString(buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(in.readShortString(buf), 5);
  EXPECT_STREQ(buf, "hello");
}

TEST(FileStreams, RoundTripValuesAndSeeks) {
  TempDir dir;
  std::string path = dir.file("data.bin");
  {
    FileOutputStream out(path.c_str());
    ASSERT_TRUE(out.fp);
    out.writeValue(int32_t(-7));
    out.writeValue(1.5f);
    out.writeValue(uint64_t(0x0123456789ABCDEFull));
    EXPECT_EQ(out.position(), 16);
    out.seekTo(0);
    out.writeValue(int32_t(42));
    out.seekToEnd(0);
    out.writeShortString("end");
    EXPECT_TRUE(out.close());
  }
  std::string raw;
  ASSERT_TRUE(read_file(path, raw));
  ASSERT_EQ(raw.size(), 20u);
  EXPECT_EQ((unsigned char)raw[16], 3);  // little-endian bytes as in memory, no framing

  FileInputStream in(path.c_str());
  ASSERT_TRUE(in.fp);
  int32_t i;
  float f;
  uint64_t u;
  in.readValue(i);
  in.readValue(f);
  in.readValue(u);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(u, 0x0123456789ABCDEFull);
  in.seekBy(-8);
  EXPECT_EQ(in.position(), 8);
  in.seekToEnd(-4);
  char buf[256];
  EXPECT_EQ(in.readShortString(buf), 3);
  EXPECT_STREQ(buf, "end");
}

TEST(FileStreams, ErrorsKeepTheStreamUsable) {
  TempDir dir;
  std::string path = dir.file("five.bin");
  ASSERT_TRUE(write_file(path, "12345"));
  char buf[16];

  FileInputStream in(path.c_str());
  in.seekTo(2);
  expect_stream_error<InputStream::Exception>([&] { in.read(buf, 10); }, "error reading file", 2);
  EXPECT_EQ(in.position(), 2);
  in.read(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "345");
  expect_stream_error<InputStream::Exception>([&] { in.read(buf, -1); }, "negative size in read()",
                                              -1);
  expect_stream_error<InputStream::Exception>([&] { in.seekTo(-1); }, "file seek error", 5);
  expect_stream_error<InputStream::Exception>([&] { in.seekBy(-100); }, "file seek error", 5);

  // A handle that cannot be written: the write fails and the position stays.
  FileOutputStream ro(path.c_str(), "rb");
  ASSERT_TRUE(ro.fp);
  expect_stream_error<OutputStream::Exception>([&] { ro.write("abc", 3); }, "error writing file", 0);
  expect_stream_error<OutputStream::Exception>([&] { ro.write("abc", -3); },
                                               "negative size in write()", -1);

  EXPECT_FALSE(FileInputStream(dir.file("missing").c_str()).fp);
  FileInputStream again;
  EXPECT_FALSE(again.open(dir.file("missing").c_str()));
  EXPECT_TRUE(again.open(path.c_str()));
  again.close();
  EXPECT_FALSE(again.fp);
}

TEST(FileStreams, EveryOperationButReadSomeNeedsAnOpenFile) {
  FileInputStream in;
  FileOutputStream out;
  char buf[4];
  EXPECT_EQ(in.readSome(buf, 4), 0);
  const std::function<void()> ops[] = {
      [&] { in.read(buf, 1); },   [&] { in.position(); },   [&] { in.seekTo(0); },
      [&] { in.seekBy(1); },      [&] { in.seekToEnd(0); },
  };
  for (auto& op : ops) expect_stream_error<InputStream::Exception>(op, "file not opened", -1);
  const std::function<void()> out_ops[] = {
      [&] { out.write(buf, 1); }, [&] { out.position(); }, [&] { out.seekTo(0); },
      [&] { out.seekToEnd(0); },
  };
  for (auto& op : out_ops) expect_stream_error<OutputStream::Exception>(op, "file not opened", -1);
}

TEST(StreamIOException, BothKindsCatchAsTheBaseAndLongMessagesAreCut) {
  std::string longmsg(600, 'm');
  try {
    throw OutputStream::Exception(longmsg.c_str(), 3);
  } catch (const StreamIOException& e) {
    EXPECT_EQ(strlen(e.message), 511u);
    EXPECT_EQ(e.position, 3);
  }
  try {
    MemoryInputStream s;
    s.read(nullptr, 1);
  } catch (const StreamIOException& e) {
    EXPECT_STREQ(e.what(), "no input memory region set");
  }
}
