// Vertex and index buffer tables.
//
// Static buffers keep their storage and contents for their whole life; dynamic
// ones are mapped with invalidation (Direct3D's discard) so the driver can
// hand out fresh memory while the GPU still reads the old contents.
#include "lib/check.h"
#include "render/d3d_internal.h"

VertexBuffer d3d_vbuffers[MAX_BUFFERS];
IndexBuffer d3d_ibuffers[MAX_BUFFERS];

bool create_gl_buffer(unsigned& name, int size, int flags) {
  if (size < 1) return false;
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint b = 0;
  glCreateBuffers(1, &b);
  glNamedBufferData(b, size, nullptr, flags & VBF_STATIC ? GL_STATIC_DRAW : GL_STREAM_DRAW);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteBuffers(1, &b);
    return false;
  }
  name = b;
  return true;
}

// The buffer tables share every operation; T is VertexBuffer or IndexBuffer.
template <class T>
static T* create_buffer(T* table, int size, int flags, const char* full_msg, const char* err_msg) {
  ASSERT(d3d);
  for (int i = 0; i < MAX_BUFFERS; i++) {
    T& b = table[i];
    if (b.used) continue;
    b = T{};
    if (!create_gl_buffer(b.buffer, size, flags)) {
      debug(err_msg, size < 1 ? 0x8876086Cu : 0x8007000Eu);
      return nullptr;
    }
    b.size = size, b.flags = flags, b.used = true;
    return &b;
  }
  debug("%s", full_msg);
  return nullptr;
}

template <class T>
static void free_buffer(T* b) {
  if (!b) return;
  if (b->buffer) glDeleteBuffers(1, &b->buffer);
  *b = T{};
}

template <class T>
static void* lock_buffer(T* b, int offset, int size) {
  if (!b || !b->buffer) return nullptr;
  if (offset == 0 && size == 0) size = b->size;  // Direct3D: size 0 locks the whole buffer
  if (offset < 0 || size < 1 || offset + size > b->size) return nullptr;
  GLbitfield access = GL_MAP_WRITE_BIT;
  if (!(b->flags & VBF_STATIC)) access |= GL_MAP_INVALIDATE_BUFFER_BIT;
  return glMapNamedBufferRange(b->buffer, offset, size, access);
}

template <class T>
static void unlock_buffer(T* b) {
  if (b && b->buffer) glUnmapNamedBuffer(b->buffer);
}

VertexBuffer* create_vb(int size, int flags) {
  return create_buffer(d3d_vbuffers, size, flags, "reached MAX_BUFFERS for VB", "error creating VB (code 0x%08X)");
}
void free_vb(VertexBuffer* vb) { free_buffer(vb); }
void* lock_vb(VertexBuffer* vb, int offset, int size) { return lock_buffer(vb, offset, size); }
void unlock_vb(VertexBuffer* vb) { unlock_buffer(vb); }

void set_vb(int stream, VertexBuffer* vb, int offset, int stride) {
  if (stream < 0 || stream >= 16) return;
  glVertexArrayVertexBuffer(gl.vao, stream, vb ? vb->buffer : 0, vb ? offset : 0, vb ? stride : 16);
}

IndexBuffer* create_ib(int count, int flags) {
  return create_buffer(d3d_ibuffers, count * 2, flags, "reached MAX_BUFFERS for IB", "error creating IB (code 0x%08X)");
}
void free_ib(IndexBuffer* ib) { free_buffer(ib); }
void* lock_ib(IndexBuffer* ib, int offset, int size) { return lock_buffer(ib, offset, size); }
void unlock_ib(IndexBuffer* ib) { unlock_buffer(ib); }

void set_ib(IndexBuffer* ib) { glVertexArrayElementBuffer(gl.vao, ib ? ib->buffer : 0); }
