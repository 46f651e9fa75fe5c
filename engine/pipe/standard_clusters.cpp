#include "standard_clusters.h"

namespace kv {

const ClusterType clusterObjSpace3DVertices = {"KxObjSpace3DVertices.csl", 0, 0, 0};
const ClusterType clusterCamSpace3DVertices = {"KxCamSpace3DVertices.csl", 0, 0, 0};
const ClusterType clusterScrSpace2DVertices = {"KxScrSpace2DVertices.csl", 0, 0, 0};
const ClusterType clusterInterpolants = {"KxInterpolants.csl", 0, 0, 0};
const ClusterType clusterMeshState = {"MeshState.csl", 0, 0, 0};
const ClusterType clusterRenderState = {"RenderState.csl", 0, 0, 0};
const ClusterType clusterIndices = {"Indices.csl", 0, 0, 0};
const ClusterType clusterTriPlanes = {"KxTriPlanes.csl", 0, 0, 0};
const ClusterType clusterUVs = {"KxUVs.csl", 0, 0, 0};
const ClusterType clusterVSteps = {"KxVSteps.csl", 0, 0, 0};
const ClusterType clusterLights = {"Lights.csl", 0, 0, 0};
const ClusterType clusterOpenGLExtensionData = {"OpenGLExtensionData.csl", 0, 0, 0};
const ClusterType clusterScatter = {"KxScatter.csl", 0, 0, 0};
const ClusterType clusterRGBAs = {"RGBAs.csl", 0, 0, 0};
const ClusterType clusterCamNorms = {"CamNorms.csl", 0, 0, 0};

}  // namespace kv
