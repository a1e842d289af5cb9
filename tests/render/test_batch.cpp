// The accumulating allocator, the streaming writer and the batch's grouping
// and drawing on real GL.
#include <cstring>
#include "render/d3d_shaders.h"
#include "render/renderBatch.h"
#include "tests/render/gl_fixture.h"

TEST(AccumAlloc, AlignsGrowsAndRewinds) {
  AccumAlloc a(256);
  void* p1 = a.alloc(10, 4);
  void* p2 = a.alloc(10, 4);
  EXPECT_EQ((uintptr_t)p1 % 16, 0u);
  EXPECT_EQ((uintptr_t)p2 % 16, 0u);
  EXPECT_EQ((uint8_t*)p2 - (uint8_t*)p1, 16);
  void* big = a.alloc(1000, 4);  // larger than a chunk: a chunk of its own
  EXPECT_EQ((uintptr_t)big % 16, 0u);
  memset(big, 1, 1000);
  void* p3 = a.alloc(10, 4);  // the newest chunk is tried first and has room left
  EXPECT_EQ((uint8_t*)p3 - (uint8_t*)big, 1008);
  void* p4 = a.alloc(100, 4);  // it has not for this: the older one gives it
  EXPECT_EQ((uint8_t*)p4 - (uint8_t*)p2, 16);
  a.rewind();
  EXPECT_EQ(a.alloc(1000, 4), big);
  EXPECT_EQ(a.alloc(10, 4), p3);
  EXPECT_EQ(a.alloc(100, 4), p1);
}

// A state that records its groups instead of drawing.
struct Recorder : BaseRenderBatchState {
  const char* name;
  std::string* log;
  Recorder(const char* n, std::string* l) : name(n), log(l) {}
  void begin(BaseRenderBatchState*) override { *log += name; }
  void end() override { *log += ";"; }
};

struct Quad {
  char state;
  float x0, y0, x1, y1;
};

// Group order and sizes for the grouping rules; the payloads are empty.
static std::string groups_of(std::initializer_list<Quad> quads) {
  std::string log;
  Recorder a("A", &log), b("B", &log);
  RenderBatch batch;
  for (const Quad& q : quads) batch.add(q.state == 'A' ? &a : &b, q.x0, q.y0, q.x1, q.y1, 0, 0);
  std::string out;
  for (RenderBatch::Group& g : batch.groups) {
    int n = 0;
    for (RenderBatch::Entry* e = g.first; e; e = e->next) n++;
    out += std::string(((Recorder*)g.state)->name) + std::to_string(n) + " ";
  }
  return out;
}

TEST(RenderBatch, GroupsByStateUnlessOverlapForbids) {
  // A, B, A apart: the third joins the first group.
  EXPECT_EQ(groups_of({{'A', 0, 0, 10, 10}, {'B', 20, 0, 30, 10}, {'A', 40, 0, 50, 10}}), "A2 B1 ");
  // The third overlaps B: three groups in submission order.
  EXPECT_EQ(groups_of({{'A', 0, 0, 10, 10}, {'B', 20, 0, 30, 10}, {'A', 25, 5, 35, 15}}), "A1 B1 A1 ");
  // Its maximum only touches B's minimum: no overlap, it joins.
  EXPECT_EQ(groups_of({{'A', 40, 0, 50, 10}, {'B', 20, 0, 30, 10}, {'A', 10, 0, 20, 10}}), "A2 B1 ");
  // Its minimum touches B's maximum: that counts as overlapping.
  EXPECT_EQ(groups_of({{'A', 0, 0, 10, 10}, {'B', 20, 0, 30, 10}, {'A', 30, 0, 40, 10}}), "A1 B1 A1 ");
  // Inside B's bounding rectangle but over none of its entries: it joins.
  EXPECT_EQ(groups_of({{'A', 0, 0, 10, 10}, {'B', 20, 0, 30, 10}, {'B', 60, 0, 70, 10}, {'A', 40, 0, 50, 10}}),
            "A2 B2 ");
}

TEST(RenderBatch, ClearReusesTheChunkMemory) {
  RenderBatch batch;
  BaseRenderBatchState s;
  void* first = batch.add(&s, 0, 0, 1, 1, 72, 2);
  EXPECT_EQ((uintptr_t)first % 16, 0u);
  batch.add(&s, 0, 0, 1, 1, 72, 2);
  batch.clear();
  EXPECT_TRUE(batch.groups.empty());
  EXPECT_EQ(batch.add(&s, 0, 0, 1, 1, 72, 2), first);
}

static int draws = 0;
static int last_count = 0;
static void count_draws(int count, unsigned) {
  draws++;
  last_count = count;
}

TEST(DynVBWriter, FlushRulesAndRing) {
  DynVBWriter& w = common_vb_writer;
  draws = 0;
  w.start(count_draws, 0, 0, 12);
  uint8_t* locked = w.startPtr;
  w.flush(false);  // nothing written: the lock stays, nothing drawn
  EXPECT_EQ(w.startPtr, locked);
  EXPECT_EQ(draws, 0);
  int first = w.current;
  w.wptr += 36;
  w.count = 1;
  w.flush(false);
  EXPECT_EQ(draws, 1);
  EXPECT_EQ(last_count, 1);
  EXPECT_EQ(w.current, (first + 1) % 4);  // the next draw uses another buffer
  EXPECT_NE(w.startPtr, nullptr);
  w.flush(true);  // nothing written since: no draw, writer idle
  EXPECT_EQ(draws, 1);
  EXPECT_EQ(w.startPtr, nullptr);
  EXPECT_EQ(w.renderFunc, nullptr);
  w.flush(true);  // final flush of an idle writer does nothing
}

// Quads in clip space drawn by solid.sh through a batch state.
struct SolidState : StdRenderBatchState {
  SolidState() {
    static const vsd desc[] = {VSD_ELEM(0, 0, VSDT_FLOAT3, VSDU_POSITION, 0), VSD_END};
    shader = solid_shader();
    vdecl = get_vdecl(desc);
    stride = 12;
  }
};

static void put_pixel_quad(float* v, int px, int py) {
  // Pixel px, py (row 0 at the top) as a 2 x 2 quad in clip space around its centre.
  float x0 = (px - 1.0f) / TEST_WD * 2 - 1, x1 = (px + 1.0f) / TEST_WD * 2 - 1;
  float y0 = 1 - (py - 1.0f) / TEST_HT * 2, y1 = 1 - (py + 1.0f) / TEST_HT * 2;
  const float q[18] = {x0, y0, 0.5f, x1, y0, 0.5f, x0, y1, 0.5f, x0, y1, 0.5f, x1, y0, 0.5f, x1, y1, 0.5f};
  memcpy(v, q, sizeof(q));
}

// 1200 quads of 72 bytes: more than one 64 KiB buffer, all drawn.
TEST(RenderBatch, DrawsAcrossSeveralBuffers) {
  SolidState state;
  RenderBatch batch;
  int n = 0;
  for (int y = 2; y < TEST_HT; y += 4)
    for (int x = 2; x < TEST_WD && n < 1200; x += 4, n++)
      put_pixel_quad((float*)batch.add(&state, (float)x, (float)y, x + 1.0f, y + 1.0f, 72, 2), x, y);
  ASSERT_GT(n * 72, 65536);
  set_back_buffer_target();
  set_cull_mode(0);
  clear_view(D3dColor(0xFF000000));
  set_solid_color(1, 1, 1, 1);
  batch.render();
  set_cull_mode(1);
  int missing = 0, k = 0;
  for (int y = 2; y < TEST_HT; y += 4)
    for (int x = 2; x < TEST_WD && k < n; x += 4, k++) missing += target_pixel(x, y) != 0xFFFFFFFFu;
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(target_pixel(0, 0), 0xFF000000u);
}

TEST(RenderBatch, AnEntryLargerThanABufferIsFatal) {
  EXPECT_EXIT(
      {
        SolidState state;
        RenderBatch batch;
        memset(batch.add(&state, 0, 0, 1, 1, 70000, 1), 0, 70000);
        batch.render();
      },
      testing::ExitedWithCode(100), "batch vertex buffer is not large enough");
}
