// The streaming vertex writer and its render callbacks.
#include "lib/check.h"
#include "render/d3d_render.h"
#include "render/renderBatch.h"

DynVBWriter common_vb_writer;

void DynVBWriter::init(int buffer_size, int buffer_count) {
  close();
  for (int i = 0; i < buffer_count; i++) {
    VertexBuffer* vb = create_vb(buffer_size, 0);
    if (!vb) fatal("can't create dynamic VB of size %d", buffer_size);
    vbufs.push_back(vb);
  }
  size = buffer_size;
  current = 0;
  count = 0;
  wptr = startPtr = nullptr;
}

void DynVBWriter::close() {
  ASSERT(!startPtr);
  for (VertexBuffer* vb : vbufs) free_vb(vb);
  vbufs.clear();
}

void DynVBWriter::start(RenderFunc func, unsigned arg, int stream_, int stride_) {
  ASSERT(!startPtr);
  ASSERT(!vbufs.empty());
  renderFunc = func;
  renderArg = arg;
  stream = stream_;
  stride = stride_;
  startPtr = wptr = (uint8_t*)lock_vb(vbufs[current], 0, size);
  ASSERT(startPtr);
  count = 0;
}

void DynVBWriter::flush(bool final) {
  if (!final && count <= 0) return;
  if (final && !startPtr) return;
  ASSERT(startPtr && renderFunc);
  unlock_vb(vbufs[current]);
  wptr = startPtr = nullptr;
  if (count > 0) {
    set_vb(stream, vbufs[current], 0, stride);
    renderFunc(count, renderArg);
    current = (current + 1) % vbufs.count();
  }
  count = 0;
  if (final) {
    renderFunc = nullptr;
    return;
  }
  startPtr = wptr = (uint8_t*)lock_vb(vbufs[current], 0, size);
  ASSERT(startPtr);
}

void draw_list(int count, unsigned prim_type) { draw_prim((int)prim_type, 0, count); }

void draw_inst_list(int count, unsigned mesh_info) {
  set_instancing(count);
  draw_indexed(D3DPT_TRIANGLELIST, 0, 0, (int)(mesh_info >> 16), 0, (int)(mesh_info & 0xFFFF));
}
