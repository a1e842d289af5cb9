// Render batches: the shared streaming vertex writer and the 2-D quad batch
// that regroups entries by render state while keeping on-screen overlap order.
#pragma once
#include <cstddef>
#include <cstdint>
#include "lib/dynArray.h"

struct Shader;
struct Texture;
struct VertexBuffer;
struct VertexDecl;

// Accumulating allocator: chunks of raw memory, newest first, carved in
// order and only ever returned all at once (rewind) or freed whole.
class AccumAlloc {
 public:
  explicit AccumAlloc(int chunk_size);
  ~AccumAlloc();
  AccumAlloc(const AccumAlloc&) = delete;
  AccumAlloc& operator=(const AccumAlloc&) = delete;

  // n bytes aligned to 2^align_log2.
  void* alloc(size_t n, int align_log2);
  // Every chunk becomes empty again; the memory is kept.
  void rewind();

  struct Chunk {
    Chunk* next;
    uint8_t* free;  // first free byte
    uint8_t* end;
  };
  Chunk* chunks = nullptr;  // newest first
  int chunkSize;
};

// Streams vertices produced on the CPU into a ring of dynamic vertex buffers,
// drawing whenever a buffer fills and when the caller is done.
//
// Writer protocol: before writing n bytes, if wptr + n - startPtr would pass
// size, call flush(false); then copy the vertices to wptr, advance it by n and
// add the primitives they form to count. A primitive never spans two buffers.
struct DynVBWriter {
  typedef void (*RenderFunc)(int count, unsigned arg);

  uint8_t* wptr = nullptr;  // write pointer; null when not started
  int count = 0;            // primitives written since the last draw
  uint8_t* startPtr = nullptr;
  DynArray<VertexBuffer*> vbufs;
  int size = 0;
  RenderFunc renderFunc = nullptr;
  unsigned renderArg = 0;
  int stream = 0;
  int stride = 0;
  int current = 0;

  void init(int buffer_size, int buffer_count);
  void close();
  void start(RenderFunc func, unsigned arg, int stream, int stride);
  void flush(bool final);
  int freeBytes() const { return size - (int)(wptr - startPtr); }
};

extern DynVBWriter common_vb_writer;

// Render callbacks for the writer.
void draw_list(int count, unsigned prim_type);       // draw_prim(prim_type, 0, count)
void draw_inst_list(int count, unsigned mesh_info);  // vertex count << 16 | triangle count

// The render state of a group of batch entries.
class BaseRenderBatchState {
 public:
  Shader* shader = nullptr;
  VertexDecl* vdecl = nullptr;
  int stride = 0;
  Texture* texture = nullptr;

  BaseRenderBatchState() = default;
  BaseRenderBatchState(Shader* s, VertexDecl* d, int st, Texture* t) : shader(s), vdecl(d), stride(st), texture(t) {}
  virtual ~BaseRenderBatchState() = default;
  // Forgets shader, declaration and texture; returns 0.
  virtual int reset();
  // Binds what differs from the previous group's state (everything when null).
  virtual void begin(BaseRenderBatchState* prev);
  // Final flush of common_vb_writer.
  virtual void end();
};

// The state of all GUI drawing: binds, then starts common_vb_writer with
// triangle lists of the state's stride on stream 0.
class StdRenderBatchState : public BaseRenderBatchState {
 public:
  using BaseRenderBatchState::BaseRenderBatchState;
  void begin(BaseRenderBatchState* prev) override;
};

struct BatchRect {
  float x0, y0, x1, y1;  // min x, min y, max x, max y
};

class RenderBatch {
 public:
  struct Entry {
    BatchRect rect;
    int size;  // payload bytes
    int prims;
    Entry* next;
    uint8_t* payload() { return (uint8_t*)this + sizeof(Entry); }
  };
  struct Group {
    BatchRect rect;
    BaseRenderBatchState* state;
    Entry* first;
    Entry* last;
  };

  AccumAlloc mem;
  DynArray<Group> groups;

  explicit RenderBatch(int chunk_size = 0x8000) : mem(chunk_size) {}
  // Returns the payload to fill with size bytes of vertices forming prims primitives.
  void* add(BaseRenderBatchState* state, float x0, float y0, float x1, float y1, int size, int prims);
  void render();
  void clear();
};
static_assert(sizeof(RenderBatch::Entry) % 16 == 0, "entry headers keep payloads 16-byte aligned");

extern RenderBatch gui_batch;

// Whether r overlaps q: touching at r's minimum counts, at r's maximum does not.
inline bool batch_rects_overlap(const BatchRect& r, const BatchRect& q) {
  return r.x0 <= q.x1 && r.y0 <= q.y1 && r.x1 > q.x0 && r.y1 > q.y0;
}
