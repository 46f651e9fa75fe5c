// Every OpenGL call the device makes goes through one table of entry points,
// filled from the current context when the device starts. Nothing calls the
// library's own symbols, so tests can swap in logging entries and count the
// calls a state change makes.
#pragma once

#include <SDL_opengl.h>

#include "engine/core/types.h"

// X(return type, name, parameter list, argument list). Names lose the "gl"
// prefix; the entry point loaded is "gl" + name.
#define KV_GL_CORE_FUNCTIONS(X)                                                                                    \
    X(void, AlphaFunc, (GLenum func, GLclampf ref), (func, ref))                                                   \
    X(void, Begin, (GLenum mode), (mode))                                                                          \
    X(void, BindTexture, (GLenum target, GLuint texture), (target, texture))                                       \
    X(void, BlendFunc, (GLenum sfactor, GLenum dfactor), (sfactor, dfactor))                                       \
    X(void, Clear, (GLbitfield mask), (mask))                                                                      \
    X(void, ClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a), (r, g, b, a))                            \
    X(void, Color3ubv, (const GLubyte* v), (v))                                                                    \
    X(void, Color4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a), (r, g, b, a))                                   \
    X(void, Color4ubv, (const GLubyte* v), (v))                                                                    \
    X(void, ColorMaterial, (GLenum face, GLenum mode), (face, mode))                                               \
    X(void, ColorMask, (GLboolean r, GLboolean g, GLboolean b, GLboolean a), (r, g, b, a))                         \
    X(void, ColorPointer, (GLint size, GLenum type, GLsizei stride, const GLvoid* p), (size, type, stride, p))     \
    X(void, CopyTexSubImage2D,                                                                                     \
      (GLenum target, GLint level, GLint xoff, GLint yoff, GLint x, GLint y, GLsizei w, GLsizei h),                \
      (target, level, xoff, yoff, x, y, w, h))                                                                     \
    X(void, CullFace, (GLenum mode), (mode))                                                                       \
    X(void, DeleteTextures, (GLsizei n, const GLuint* textures), (n, textures))                                    \
    X(void, DepthFunc, (GLenum func), (func))                                                                      \
    X(void, DepthMask, (GLboolean flag), (flag))                                                                   \
    X(void, Disable, (GLenum cap), (cap))                                                                          \
    X(void, DisableClientState, (GLenum array), (array))                                                           \
    X(void, DrawArrays, (GLenum mode, GLint first, GLsizei count), (mode, first, count))                           \
    X(void, DrawElements, (GLenum mode, GLsizei count, GLenum type, const GLvoid* indices),                        \
      (mode, count, type, indices))                                                                                \
    X(void, DrawPixels, (GLsizei w, GLsizei h, GLenum format, GLenum type, const GLvoid* pixels),                  \
      (w, h, format, type, pixels))                                                                                \
    X(void, Enable, (GLenum cap), (cap))                                                                           \
    X(void, EnableClientState, (GLenum array), (array))                                                            \
    X(void, End, (), ())                                                                                           \
    X(void, Finish, (), ())                                                                                        \
    X(void, Flush, (), ())                                                                                         \
    X(void, Fogf, (GLenum pname, GLfloat param), (pname, param))                                                   \
    X(void, Fogfv, (GLenum pname, const GLfloat* params), (pname, params))                                         \
    X(void, Fogi, (GLenum pname, GLint param), (pname, param))                                                     \
    X(void, FrontFace, (GLenum mode), (mode))                                                                      \
    X(void, Frustum, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f), (l, r, b, t, n, f)) \
    X(void, GenTextures, (GLsizei n, GLuint * textures), (n, textures))                                            \
    X(void, GetBooleanv, (GLenum pname, GLboolean * params), (pname, params))                                      \
    X(GLenum, GetError, (), ())                                                                                    \
    X(void, GetFloatv, (GLenum pname, GLfloat * params), (pname, params))                                          \
    X(void, GetIntegerv, (GLenum pname, GLint * params), (pname, params))                                          \
    X(const GLubyte*, GetString, (GLenum name), (name))                                                            \
    X(void, GetTexImage, (GLenum target, GLint level, GLenum format, GLenum type, GLvoid * pixels),                \
      (target, level, format, type, pixels))                                                                       \
    X(void, GetTexLevelParameteriv, (GLenum target, GLint level, GLenum pname, GLint * params),                    \
      (target, level, pname, params))                                                                              \
    X(void, GetTexParameteriv, (GLenum target, GLenum pname, GLint * params), (target, pname, params))             \
    X(void, Hint, (GLenum target, GLenum mode), (target, mode))                                                    \
    X(GLboolean, IsEnabled, (GLenum cap), (cap))                                                                   \
    X(GLboolean, IsTexture, (GLuint texture), (texture))                                                           \
    X(void, LightModelfv, (GLenum pname, const GLfloat* params), (pname, params))                                  \
    X(void, Lightfv, (GLenum light, GLenum pname, const GLfloat* params), (light, pname, params))                  \
    X(void, LoadIdentity, (), ())                                                                                  \
    X(void, LoadMatrixf, (const GLfloat* m), (m))                                                                  \
    X(void, Materialfv, (GLenum face, GLenum pname, const GLfloat* params), (face, pname, params))                 \
    X(void, MatrixMode, (GLenum mode), (mode))                                                                     \
    X(void, MultMatrixf, (const GLfloat* m), (m))                                                                  \
    X(void, NormalPointer, (GLenum type, GLsizei stride, const GLvoid* p), (type, stride, p))                      \
    X(void, Ortho, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f), (l, r, b, t, n, f))   \
    X(void, PixelStorei, (GLenum pname, GLint param), (pname, param))                                              \
    X(void, PopAttrib, (), ())                                                                                     \
    X(void, PopClientAttrib, (), ())                                                                               \
    X(void, PopMatrix, (), ())                                                                                     \
    X(void, PushAttrib, (GLbitfield mask), (mask))                                                                 \
    X(void, PushClientAttrib, (GLbitfield mask), (mask))                                                           \
    X(void, PushMatrix, (), ())                                                                                    \
    X(void, RasterPos2i, (GLint x, GLint y), (x, y))                                                               \
    X(void, ReadBuffer, (GLenum mode), (mode))                                                                     \
    X(void, ReadPixels, (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, GLvoid * p),          \
      (x, y, w, h, format, type, p))                                                                               \
    X(void, Scalef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                                  \
    X(void, Scissor, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h))                                       \
    X(void, ShadeModel, (GLenum mode), (mode))                                                                     \
    X(void, StencilFunc, (GLenum func, GLint ref, GLuint mask), (func, ref, mask))                                 \
    X(void, StencilOp, (GLenum fail, GLenum zfail, GLenum zpass), (fail, zfail, zpass))                            \
    X(void, TexCoord2f, (GLfloat s, GLfloat t), (s, t))                                                            \
    X(void, TexCoord4fv, (const GLfloat* v), (v))                                                                  \
    X(void, TexCoordPointer, (GLint size, GLenum type, GLsizei stride, const GLvoid* p), (size, type, stride, p))  \
    X(void, TexEnvi, (GLenum target, GLenum pname, GLint param), (target, pname, param))                           \
    X(void, TexImage2D,                                                                                            \
      (GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h, GLint border, GLenum format, GLenum type, \
       const GLvoid* pixels),                                                                                      \
      (target, level, internal, w, h, border, format, type, pixels))                                               \
    X(void, TexParameteri, (GLenum target, GLenum pname, GLint param), (target, pname, param))                     \
    X(void, Translatef, (GLfloat x, GLfloat y, GLfloat z), (x, y, z))                                              \
    X(void, Vertex2f, (GLfloat x, GLfloat y), (x, y))                                                              \
    X(void, Vertex2fv, (const GLfloat* v), (v))                                                                    \
    X(void, Vertex3fv, (const GLfloat* v), (v))                                                                    \
    X(void, VertexPointer, (GLint size, GLenum type, GLsizei stride, const GLvoid* p), (size, type, stride, p))    \
    X(void, Viewport, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h))

// Extension entry points: null unless the extension probe found them.
#define KV_GL_EXT_FUNCTIONS(X)                                                                      \
    X(void, LockArrays, (GLint first, GLsizei count), (first, count))                               \
    X(void, UnlockArrays, (), ())                                                                   \
    X(void, ActiveTexture, (GLenum unit), (unit))                                                   \
    X(void, ClientActiveTexture, (GLenum unit), (unit))                                             \
    X(void, FlushVertexArrayRange, (), ())                                                          \
    X(void, VertexArrayRange, (GLsizei length, const GLvoid* pointer), (length, pointer))           \
    X(void*, AllocateMemory, (GLsizei size, GLfloat readFreq, GLfloat writeFreq, GLfloat priority), \
      (size, readFreq, writeFreq, priority))                                                        \
    X(void, FreeMemory, (void* pointer), (pointer))

namespace kv {

#define KV_GL_MEMBER(ret, name, params, args) ret(GLAPIENTRY* name) params;
struct GlFunctions {
    KV_GL_CORE_FUNCTIONS(KV_GL_MEMBER)
    KV_GL_EXT_FUNCTIONS(KV_GL_MEMBER)
};
#undef KV_GL_MEMBER

#define KV_GL_INDEX(ret, name, params, args) GlIndex##name,
enum GlFunctionIndex : int32 { KV_GL_CORE_FUNCTIONS(KV_GL_INDEX) KV_GL_EXT_FUNCTIONS(KV_GL_INDEX) GlNumFunctions };
#undef KV_GL_INDEX

// The table every device module calls through.
extern GlFunctions gl;

// Loads the core entry points from the current context (1), or leaves the
// table empty and names the first missing one in *missing (0). The extension
// entries are cleared; the probe fills them.
bool GlFunctionsLoad(const char** missing);
void GlFunctionsClear();
// Looks one entry point up by its full name ("glLockArraysEXT").
void* GlFunctionLookup(const char* name);

// Call log: while on, every table entry counts its calls (and keeps the order
// of the most recent ones) before calling the real entry point.
void GlLogStart();
void GlLogStop();
void GlLogClear();
int32 GlLogCount(GlFunctionIndex function);
// Calls logged since the last clear, in order (at most the latest 4096).
int32 GlLogSize();
GlFunctionIndex GlLogAt(int32 position);
const char* GlFunctionName(GlFunctionIndex function);

}  // namespace kv
