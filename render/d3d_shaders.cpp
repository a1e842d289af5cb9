// Shader table, the source preprocessor, the cache and reloading.
#include "render/d3d_shaders.h"
#include <cstring>
#include "app/log.h"
#include "lib/check.h"
#include "platform/paths.h"
#include "render/d3d_internal.h"
#include "render/file_data.h"

Shader shaders[MAX_SHADERS];

// Set while reload_shaders runs: compiler messages go to the screen as well.
static bool report_errors_on_screen = false;

// ---------------------------------------------------------------- define lists and names

int define_list_size(const char* defines) {
  if (!defines) return 1;
  const char* p = defines;
  while (*p) p += strlen(p) + 1;  // a name or a value
  return (int)(p - defines) + 1;
}

static bool same_defines(const TempString<512>& stored, const char* defines) {
  int n = define_list_size(defines);
  if (n != define_list_size(stored.str)) return false;
  return !defines ? true : memcmp(stored.str, defines, n) == 0;
}

TempString<1024> shader_cache_name(const char* file, const char* defines) {
  TempString<1024> name("cache/");
  name.append(file);
  for (const char* p = defines; p && *p; p += strlen(p) + 1) {
    name.append("@");
    for (const char* c = p; *c; c++) {
      bool keep = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
      name.append(keep ? c : "_", 1);
    }
  }
  name.append(".cache");
  return name;
}

// ---------------------------------------------------------------- text building

// A growing text on the shared heap.
struct Text {
  DynArray<char> c;
  void add(const char* s, int n) { c.append(s, n); }
  void add(const char* s) { add(s, (int)strlen(s)); }
  void addf(const char* fmt, ...) QV_PRINTF(2, 3) {
    char buf[512];
    va_list a;
    va_start(a, fmt);
    int n = vsnprintf(buf, sizeof(buf), fmt, a);
    va_end(a);
    add(buf, n < (int)sizeof(buf) ? n : (int)sizeof(buf) - 1);
  }
  const char* str() {
    c.push_back(0);
    c.pop_back();
    return c.data();
  }
};

static void add_dependency(Shader* s, const char* name) {
  if (!s) return;
  for (const ShaderDependency& d : s->deps)
    if (strcmp(d.name, name) == 0) return;
  ShaderDependency d;
  d.name.set(name);
  d.time = get_file_time(make_full_path(name));
  s->deps.push_back(d);
}

// The include handler: reads a file named like every data file, records it
// as a dependency of the shader being built, and expands its includes in
// place. Files are numbered in `files` for the #line directives, so the
// compiler's messages name (by number) the file and line they refer to.
static bool expand_source(const char* name, Shader* s, Text& out, DynArray<TempString<260>>& files,
                          Text& err, int depth) {
  if (strlen(name) >= 260) {
    err.addf("include name longer than 259 characters: '%.60s...'\n", name);
    return false;
  }
  if (depth > 16) {
    err.addf("includes nested more than 16 deep at '%s'\n", name);
    return false;
  }
  DynArray<uint8_t> data;
  if (!read_whole_file(make_full_path(name), data)) {
    err.addf("can't open file '%s'\n", name);
    return false;
  }
  add_dependency(s, name);
  int index = files.push_back(TempString<260>(name));
  out.addf("#line 1 %d\n", index);
  const char* p = (const char*)data.data();
  const char* end = p + data.count();
  int line = 1;
  while (p < end) {
    const char* eol = (const char*)memchr(p, '\n', end - p);
    const char* next = eol ? eol + 1 : end;
    const char* q = p;
    while (q < next && (*q == ' ' || *q == '\t')) q++;
    bool included = false;
    if (q < next && *q == '#') {
      q++;
      while (q < next && (*q == ' ' || *q == '\t')) q++;
      if (next - q > 7 && memcmp(q, "include", 7) == 0) {
        q += 7;
        while (q < next && (*q == ' ' || *q == '\t')) q++;
        char close = q < next && *q == '"' ? '"' : q < next && *q == '<' ? '>' : 0;
        const char* nameEnd = close ? (const char*)memchr(q + 1, close, next - q - 1) : nullptr;
        if (!nameEnd) {
          err.addf("%s(%d): bad #include\n", name, line);
          return false;
        }
        TempString<1024> inc;
        int len = (int)(nameEnd - q - 1);
        if (len >= 1024) len = 1023;
        inc.set(q + 1, len);
        if (!expand_source(inc, s, out, files, err, depth + 1)) return false;
        out.addf("#line %d %d\n", line + 1, index);
        included = true;
      }
    }
    if (!included) {
      out.add(p, (int)(next - p));
      if (!eol) out.add("\n");
    }
    p = next;
    line++;
  }
  return true;
}

static const char* vertex_prelude =
    "layout(std140, binding = 0) uniform VsConsts { vec4 vs_c[256]; };\n"
    "layout(std140, binding = 2) uniform DeviceState { vec4 qv_device; };\n";
static const char* pixel_prelude =
    "layout(std140, binding = 1) uniform PsConsts { vec4 ps_c[224]; };\n"
    "layout(std140, binding = 2) uniform DeviceState { vec4 qv_device; };\n"
    "layout(location = 0) out vec4 ps_out0;\n";
// The device's part of each program: Direct3D's pixel centres and the alpha test.
static const char* vertex_epilogue =
    "\nvoid main() { vsh(); gl_Position.xy += qv_device.xy * gl_Position.w; }\n";
static const char* pixel_epilogue =
    "\nvoid main() {\n"
    "  psh();\n"
    "  if (qv_device.z >= 0.0 && floor(clamp(ps_out0.a, 0.0, 1.0) * 255.0 + 0.5) < qv_device.z) discard;\n"
    "}\n";

// The complete text of one program: version, the define list, the stage
// define, the device's declarations, the expanded source and main().
static void build_program_text(Text& out, const char* defines, bool pixel, const Text& source) {
  out.add("#version 450 core\n");
  for (const char* p = defines; p && *p;) {
    const char* value = p + strlen(p) + 1;
    out.addf("#define %s %s\n", p, value);
    if (!*value) break;
    p = value + strlen(value) + 1;
  }
  out.add(pixel ? "#define PSH  1\n" : "#define VSH  1\n");
  out.add(pixel ? pixel_prelude : vertex_prelude);
  out.add(source.c.data(), source.c.count());
  out.add(pixel ? pixel_epilogue : vertex_epilogue);
}

// ---------------------------------------------------------------- GL programs

static void report_compile_messages(const char* file, const char* func, const char* text, int len) {
  debug("HLSL '%s', func '%s':", file, func);
  debug("%.*s", len, text);
  if (report_errors_on_screen) {
    TempString<600> head;
    head.printf("HLSL '%s', func '%s':", file, func);
    append_error_message(head, -1);
    append_error_message(text, len);
  }
}

// Compiles one stage; 0 on failure with the compiler's text reported.
static GLuint compile_stage(GLenum type, const char* text, int len, const char* file, const char* func,
                            const DynArray<TempString<260>>* files, bool report) {
  GLuint sh = glCreateShader(type);
  GLint glen = len;
  glShaderSource(sh, 1, &text, &glen);
  glCompileShader(sh);
  GLint ok = 0, logLen = 0;
  glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
  glGetShaderiv(sh, GL_INFO_LOG_LENGTH, &logLen);
  if (report && logLen > 1) {
    Text msg;
    msg.c.resize(logLen);
    glGetShaderInfoLog(sh, logLen, nullptr, msg.c.data());
    msg.c.resize((int)strlen(msg.c.data()));
    // Messages start "<file number>:<line>"; name the numbers.
    if (files && files->count() > 1) {
      msg.add("(files:");
      for (int i = 0; i < files->count(); i++) msg.addf(" %d %s", i, (*files)[i].c_str());
      msg.add(")\n");
    }
    report_compile_messages(file, func, msg.c.data(), msg.c.count());
  }
  if (!ok) {
    glDeleteShader(sh);
    return 0;
  }
  return sh;
}

static GLuint link_program(GLuint vs, GLuint ps, const char* file, bool report) {
  GLuint p = glCreateProgram();
  glAttachShader(p, vs);
  glAttachShader(p, ps);
  glLinkProgram(p);
  GLint ok = 0;
  glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok && report) {
    char log[2048];
    glGetProgramInfoLog(p, sizeof(log), nullptr, log);
    debug("can't create pixel shader from '%s'", file);
    debug("%s", log);
    if (report_errors_on_screen) append_error_message(log, -1);
  }
  if (!ok) {
    glDeleteProgram(p);
    return 0;
  }
  return p;
}

static void release_programs(unsigned& vs, unsigned& ps, unsigned& program) {
  if (program) glDeleteProgram(program);
  if (vs) glDeleteShader(vs);
  if (ps) glDeleteShader(ps);
  vs = ps = program = 0;
}

// Builds the entry's programs from cached texts, silently: a cache that does
// not build is rebuilt from the source. False (nothing kept) on failure.
static bool build_cached_programs(Shader* s, const char* vtext, int vlen, const char* ptext, int plen) {
  GLuint vs = compile_stage(GL_VERTEX_SHADER, vtext, vlen, s->file, "vsh", nullptr, false);
  if (!vs) return false;
  GLuint ps = compile_stage(GL_FRAGMENT_SHADER, ptext, plen, s->file, "psh", nullptr, false);
  if (!ps) {
    glDeleteShader(vs);
    return false;
  }
  GLuint prog = link_program(vs, ps, s->file, false);
  if (!prog) {
    glDeleteShader(vs);
    glDeleteShader(ps);
    return false;
  }
  s->vs = vs, s->ps = ps, s->program = prog;
  return true;
}

// ---------------------------------------------------------------- cache

static uint32_t read_u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

static bool load_shader_from_cache(Shader* s) {
  TempString<1024> name = shader_cache_name(s->file, s->defines);
  PathString path = make_full_path(name);
  s->deps.clear();
  DynArray<uint8_t> data;
  if (!read_whole_file(path, data) || data.count() < 16) return false;
  const uint8_t* d = data.data();
  if (read_u32(d) != SHADER_CACHE_MAGIC) return false;
  uint64_t n = read_u32(d + 4), v = read_u32(d + 8), p = read_u32(d + 12);
  if (16 + n + v + p > (uint64_t)data.count()) return false;  // short file
  const char* names = (const char*)d + 16;
  for (uint64_t at = 0; at < n && names[at];) {
    const char* nameEnd = (const char*)memchr(names + at, 0, n - at);
    if (!nameEnd || nameEnd - (names + at) >= 260) return false;  // unterminated or overlong name
    add_dependency(s, names + at);
    at = (uint64_t)(nameEnd - names) + 1;
  }
  int64_t cacheTime = get_file_time(path);
  for (const ShaderDependency& dep : s->deps)
    if (dep.time > cacheTime) return false;
  const char* vtext = (const char*)d + 16 + n;
  if (!build_cached_programs(s, vtext, (int)v, vtext + v, (int)p)) return false;
  debug("loaded shader '%s' from cache", s->file.c_str());
  return true;
}

// Writes the cache beside the others; a folder that is missing is created.
// A cache that cannot be written leaves the shader working uncached.
static void write_shader_cache(Shader* s, const Text& vtext, const Text& ptext) {
  Text names;
  for (const ShaderDependency& dep : s->deps) names.add(dep.name.c_str(), dep.name.length() + 1);
  names.add("", 1);
  uint32_t head[4] = {SHADER_CACHE_MAGIC, (uint32_t)names.c.count(), (uint32_t)vtext.c.count(),
                      (uint32_t)ptext.c.count()};
  Text file;
  file.add((const char*)head, sizeof(head));  // little-endian on every target of this build
  file.add(names.c.data(), names.c.count());
  file.add(vtext.c.data(), vtext.c.count());
  file.add(ptext.c.data(), ptext.c.count());
  PathString path = make_full_path(shader_cache_name(s->file, s->defines));
  PathString folder(path);
  char* slash = strrchr(folder.str, '/');
  if (slash) *slash = 0;
  if (!make_folders(folder) || !write_file_replacing(path, file.c.data(), (size_t)file.c.count()))
    debug("can't write shader cache '%s'; the shader is used uncached", path.c_str());
}

static bool compile_shader(Shader* s) {
  s->deps.clear();
  Text source, err;
  DynArray<TempString<260>> files;
  if (!expand_source(s->file, s, source, files, err, 0)) {
    report_compile_messages(s->file, "vsh", err.c.data(), err.c.count());
    debug("FAILED to compile HLSL shader '%s', func '%s'", s->file.c_str(), "vsh");
    return false;
  }
  Text vtext, ptext;
  build_program_text(vtext, s->defines, false, source);
  build_program_text(ptext, s->defines, true, source);
  GLuint vs = compile_stage(GL_VERTEX_SHADER, vtext.str(), vtext.c.count(), s->file, "vsh", &files, true);
  if (!vs) {
    debug("FAILED to compile HLSL shader '%s', func '%s'", s->file.c_str(), "vsh");
    return false;
  }
  GLuint ps = compile_stage(GL_FRAGMENT_SHADER, ptext.str(), ptext.c.count(), s->file, "psh", &files, true);
  if (!ps) {
    debug("FAILED to compile HLSL shader '%s', func '%s'", s->file.c_str(), "psh");
    glDeleteShader(vs);
    return false;
  }
  GLuint prog = link_program(vs, ps, s->file, true);
  if (!prog) {
    glDeleteShader(vs);
    glDeleteShader(ps);
    return false;
  }
  s->vs = vs, s->ps = ps, s->program = prog;
  write_shader_cache(s, vtext, ptext);
  return true;
}

// ---------------------------------------------------------------- table

void init_shader_compiler() { debug("shader compiler available"); }

Shader* create_shader(const char* file, const char* defines) {
  for (Shader& s : shaders)
    if (s.vs && strcmp(s.file, file) == 0 && same_defines(s.defines, defines)) {
      s.refcount++;
      return &s;
    }
  Shader* s = nullptr;
  for (Shader& e : shaders)
    if (!e.vs) {
      s = &e;
      break;
    }
  if (!s) fatal("reached maximum shader count!");
  int define_size = define_list_size(defines);
  ASSERT(define_size<512);
  s->file.set(file);
  s->defines.set(defines ? defines : "", define_size - 1);
  if (load_shader_from_cache(s) || compile_shader(s)) {
    s->refcount = 1;
    return s;
  }
  s->deps.release();
  s->file.set("");
  fatal("can't create shader from %s'%s'", "", file);
}

static void free_entry(Shader* s) {
  s->deps.release();
  release_programs(s->vs, s->ps, s->program);
  s->refcount = 0;
}

void destroy_shader(Shader* s) {
  if (!s) return;
  ASSERT(s->refcount>0);
  if (--s->refcount == 0) free_entry(s);
}

void release_all_shaders() {
  for (Shader& s : shaders)
    if (s.vs) free_entry(&s);
}

static bool shader_due(const Shader& s) {
  if (s.deps.empty()) return true;
  for (const ShaderDependency& d : s.deps)
    if (get_file_time(make_full_path(d.name)) != d.time) return true;
  return false;
}

void reload_shaders(bool force) {
  bool started = false;
  for (Shader& s : shaders) {
    if (!s.vs || !(force || shader_due(s))) continue;
    if (!started) {
      started = true;
      report_errors_on_screen = true;
      set_error_message(nullptr);
    }
    unsigned vs = s.vs, ps = s.ps, prog = s.program;
    s.vs = s.ps = s.program = 0;
    if (compile_shader(&s)) {
      debug("reloaded shader '%s'", s.file.c_str());
      release_programs(vs, ps, prog);
    } else {
      TempString<300> msg;
      msg.printf("FAILED to reload shader '%s'", s.file.c_str());
      append_error_message(msg, -1);
      s.vs = vs, s.ps = ps, s.program = prog;
    }
  }
  report_errors_on_screen = false;
}

void set_shader(Shader* s) { glUseProgram(s ? s->program : 0); }
