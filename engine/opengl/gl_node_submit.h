// "OpenGLSubmitWithLight.csl": lights a mesh's packet and draws it with
// OpenGL. Directional and local hardware-type lights become OpenGL lights,
// ambient lights the light model's ambient term, and point, spot and soft
// spot lights are added to the vertex colours in software; the mesh then goes
// to OpenGL as one draw of 36-byte interleaved client-side arrays.
#pragma once

#include "engine/pipe/pipeline.h"

namespace kv {

NodeType* NodeDefinitionGetOpenGLSubmitWithLight();

}  // namespace kv
