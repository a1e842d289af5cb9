// Render batch states and the quad batch.
#include "render/renderBatch.h"
#include <cstring>
#include "lib/check.h"
#include "render/d3d_render.h"
#include "render/d3d_shaders.h"

RenderBatch gui_batch(0x8000);

int BaseRenderBatchState::reset() {
  shader = nullptr;
  vdecl = nullptr;
  texture = nullptr;
  return 0;
}

void BaseRenderBatchState::begin(BaseRenderBatchState* prev) {
  if (!prev || prev->shader != shader) set_shader(shader);
  if (!prev || prev->vdecl != vdecl) set_vdecl(vdecl);
  if (!prev || prev->texture != texture) set_texture(0, texture);
}

void BaseRenderBatchState::end() { common_vb_writer.flush(true); }

void StdRenderBatchState::begin(BaseRenderBatchState* prev) {
  BaseRenderBatchState::begin(prev);
  common_vb_writer.start(draw_list, D3DPT_TRIANGLELIST, 0, stride);
}

void* RenderBatch::add(BaseRenderBatchState* state, float x0, float y0, float x1, float y1, int size, int prims) {
  Entry* ne = (Entry*)mem.alloc(sizeof(Entry) + (size_t)size, 4);
  ASSERT(ne);
  ne->rect = BatchRect{x0, y0, x1, y1};
  ne->size = size;
  ne->prims = prims;
  ne->next = nullptr;
  for (int i = groups.count() - 1; i >= 0; i--) {
    Group& g = groups[i];
    if (g.state == state) {
      g.rect.x0 = g.rect.x0 < x0 ? g.rect.x0 : x0;
      g.rect.y0 = g.rect.y0 < y0 ? g.rect.y0 : y0;
      g.rect.x1 = g.rect.x1 > x1 ? g.rect.x1 : x1;
      g.rect.y1 = g.rect.y1 > y1 ? g.rect.y1 : y1;
      g.last->next = ne;
      g.last = ne;
      return ne->payload();
    }
    if (batch_rects_overlap(ne->rect, g.rect)) {
      bool blocked = false;
      for (Entry* e = g.first; e && !blocked; e = e->next) blocked = batch_rects_overlap(ne->rect, e->rect);
      if (blocked) break;
    }
  }
  groups.push_back(Group{ne->rect, state, ne, ne});
  return ne->payload();
}

void RenderBatch::render() {
  DynVBWriter& w = common_vb_writer;
  BaseRenderBatchState* prev = nullptr;
  for (Group& g : groups) {
    g.state->begin(prev);
    for (Entry* e = g.first; e; e = e->next) {
      if (w.freeBytes() < e->size) {
        w.flush(false);
        if (w.freeBytes() < e->size) fatal("batch vertex buffer is not large enough");
      }
      memcpy(w.wptr, e->payload(), (size_t)e->size);
      w.wptr += e->size;
      w.count += e->prims;
    }
    g.state->end();
    prev = g.state;
  }
}

void RenderBatch::clear() {
  groups.clear();
  mem.rewind();
}
