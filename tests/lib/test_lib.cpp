#include <gtest/gtest.h>
#include "lib/color.h"
#include "lib/dynArray.h"
#include "lib/strings.h"
#include "lib/utils.h"
#include "lib/vecmath.h"

TEST(DynArray, GrowthDoublesOrTakesNeededPlusEightNeverBelowEight) {
  DynArray<int> a;
  a.push_back(1);
  EXPECT_EQ(a.capacity(), 9);  // double of 0 is too small: needed 1 + 8
  for (int i = 1; i < 10; i++) a.push_back(i);
  EXPECT_EQ(a.capacity(), 18);  // doubled
  DynArray<int> b;
  b.reserve(3);
  b.appendDefault(4);
  EXPECT_EQ(b.capacity(), 8);  // double 6 is enough but never below 8
  b.appendDefault(20);
  EXPECT_EQ(b.capacity(), 32);  // double 16 < 24, so 24 + 8
}

TEST(DynArray, InsertEraseKeepOrderAndTail) {
  DynArray<int> a;
  int v[] = {1, 2, 3, 4, 5};
  a.append(v, 5);
  int w[] = {8, 9};
  a.insert(1, w, 2);
  ASSERT_EQ(a.count(), 7);
  int want1[] = {1, 8, 9, 2, 3, 4, 5};
  for (int i = 0; i < 7; i++) EXPECT_EQ(a[i], want1[i]);
  a.erase(2, 3);
  int want2[] = {1, 8, 4, 5};
  ASSERT_EQ(a.count(), 4);
  for (int i = 0; i < 4; i++) EXPECT_EQ(a[i], want2[i]);
  a.erase(4, 0);  // empty range at the end is fine
  EXPECT_EQ(a.count(), 4);
}

TEST(DynArray, HoldsNonTrivialElementsAcrossGrowth) {
  DynArray<String> a;
  for (int i = 0; i < 50; i++) {
    TempString<32> t;
    t.printf("item %d", i);
    a.push_back(String(t));
  }
  a.erase(0, 10);
  EXPECT_STREQ(a[0].c_str(), "item 10");
  EXPECT_STREQ(a.back().c_str(), "item 49");
  DynArray<String> copy = a;
  a.clear();
  EXPECT_EQ(copy.count(), 40);
  EXPECT_STREQ(copy[5].c_str(), "item 15");
}

TEST(DynArrayDeath, MisuseIsAFatalInternalCheck) {
  struct Case {
    const char* what;
    void (*run)();
  } cases[] = {
      {"n>=0", [] { DynArray<int> a; a.resize(-1); }},
      {"at>=0 && at<=num", [] { DynArray<int> a; a.insert(1, nullptr, 1); }},
      {"at\\+n<=num", [] { DynArray<int> a; a.appendDefault(2); a.erase(1, 2); }},
      {"num>0", [] { DynArray<int> a; a.pop_back(); }},
  };
  for (const Case& c : cases) {
    std::string re = std::string("lib/dynArray.h\\([0-9]+\\): failed ASSERT\\(") + c.what + "\\)";
    EXPECT_EXIT(c.run(), testing::ExitedWithCode(100), re) << c.what;
  }
}

TEST(TempString, FormatsAppendsAndChecksOverflow) {
  TempString<16> t("abc");
  t += "def";
  t.aprintf("%d", 42);
  EXPECT_STREQ(t, "abcdef42");
  EXPECT_EQ(t.length(), 8);
  TempString<8> full;
  full.printf("%s", "1234567");  // 7 characters and the zero: fits
  EXPECT_STREQ(full, "1234567");
  EXPECT_EXIT({ TempString<8> s; s.printf("%s", "12345678"); }, testing::ExitedWithCode(100),
              "failed ASSERT\\(l<BS\\)");
  EXPECT_EXIT({ TempString<4> s("abc"); s += "d"; }, testing::ExitedWithCode(100),
              "failed ASSERT\\(l<BS\\)");
}

TEST(String, NullIsEmptyAndCopiesAreDeep) {
  String e;
  EXPECT_STREQ(e.c_str(), "");
  EXPECT_EQ(e.length(), 0);
  String a("hello");
  String b = a;
  a = "x";
  EXPECT_STREQ(b.c_str(), "hello");
  EXPECT_EQ(b.length(), 5);
  EXPECT_TRUE(b == "hello");
  String c("ab\0cd", 5);  // length counts embedded bytes
  EXPECT_EQ(c.length(), 5);
  a = a;  // self-assignment keeps the text
  EXPECT_STREQ(a.c_str(), "x");
}

TEST(D3dColor, DecodeDividesBy255AndPackRoundsToNearest) {
  __m128 v = color_to_vec(D3dColor(0x80FF4000));
  alignas(16) float f[4];
  _mm_store_ps(f, v);
  EXPECT_FLOAT_EQ(f[0], 1.0f);           // red
  EXPECT_FLOAT_EQ(f[1], 64.0f / 255.0f);  // green
  EXPECT_FLOAT_EQ(f[2], 0.0f);           // blue
  EXPECT_FLOAT_EQ(f[3], 128.0f / 255.0f);
  struct {
    float r, g, b, a;
    uint32_t want;
  } cases[] = {
      {2.0f, -1.0f, 0.5f, 1.0f, 0xFFFF0080},  // clamped; 127.5 rounds to even 128
      {0.1f, 0.2f, 0.3f, 0.4f, 0x661A334C},
      {0.0f, 0.0f, 0.0f, 0.0f, 0x00000000},
  };
  for (auto& c : cases) EXPECT_EQ(make_color(c.r, c.g, c.b, c.a).u, c.want);
  for (uint32_t u : {0x00000000u, 0xFFFFFFFFu, 0x12345678u, 0x80FF7F01u})
    EXPECT_EQ(vec_to_color(color_to_vec(D3dColor(u))).u, u);
}

TEST(WorldRules, WrapIntoHalfOpenWindowAroundCamera) {
  struct {
    float p, c, want;
  } cases[] = {
      {10, 0, 10},    {200, 0, -56},  {128, 0, 128}, {-128, 0, 128},
      {-129, 0, 127}, {300, 250, 300}, {5, 250, 261}, {-600, 0, 168 - 256},
  };
  for (auto& c : cases) EXPECT_FLOAT_EQ(wrap_world_coord(c.p, c.c), c.want) << c.p << " around " << c.c;
}

TEST(WorldRules, FloorIsRoundOfValueMinusAlmostHalf) {
  struct {
    float v;
    int want;
  } cases[] = {{0.0f, 0}, {0.99f, 0}, {1.0f, 1}, {-0.01f, -1}, {-1.0f, -1}, {255.5f, 255}, {2.5f, 2}};
  for (auto& c : cases) EXPECT_EQ(floor_coord(c.v), c.want) << c.v;
}

TEST(Matrix44, InverseTimesMatrixIsIdentity) {
  Matrix44 m = Matrix44::identity();
  m.m[0][1] = 2;
  m.m[1][2] = -3;
  m.m[2][0] = 0.5f;
  m.m[3][0] = 7;
  m.m[3][2] = -4;
  Matrix44 inv;
  ASSERT_TRUE(mat_inverse(m, inv));
  Matrix44 p = mat_mul(m, inv);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) EXPECT_NEAR(p.m[i][j], i == j ? 1.0f : 0.0f, 1e-5f);
  Matrix44 z = {};
  EXPECT_FALSE(mat_inverse(z, inv));
  vec4f q = mat_transform(v_make(1, 0, 0, 1), m);
  EXPECT_FLOAT_EQ(v_x(q), 8.0f);
  EXPECT_FLOAT_EQ(v_y(q), 2.0f);
}
