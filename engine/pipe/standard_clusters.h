// The built-in cluster types. Each is identified by its address.
#pragma once

#include "pipeline.h"

namespace kv {

extern const ClusterType clusterObjSpace3DVertices;
extern const ClusterType clusterCamSpace3DVertices;
extern const ClusterType clusterScrSpace2DVertices;
extern const ClusterType clusterInterpolants;
extern const ClusterType clusterMeshState;
extern const ClusterType clusterRenderState;
extern const ClusterType clusterIndices;
extern const ClusterType clusterTriPlanes;
extern const ClusterType clusterUVs;
extern const ClusterType clusterVSteps;
extern const ClusterType clusterLights;
extern const ClusterType clusterOpenGLExtensionData;
extern const ClusterType clusterScatter;
extern const ClusterType clusterRGBAs;
extern const ClusterType clusterCamNorms;

}  // namespace kv
