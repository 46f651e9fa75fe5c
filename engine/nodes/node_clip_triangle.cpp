#include "node_clip_triangle.h"

#include "clip.h"
#include "engine/pipe/standard_clusters.h"

namespace kv {

namespace {

bool ClipTriangleRun(PipelineNode* node, const ExecuteParams* params) { return ClipNodeRun(node, params, 3); }

const ClusterUse kClusters[] = {{.clusterType = &clusterCamSpace3DVertices},
                                {.clusterType = &clusterScrSpace2DVertices},
                                {.clusterType = &clusterIndices},
                                {.clusterType = &clusterMeshState},
                                {.clusterType = &clusterRenderState},
                                {.clusterType = &clusterInterpolants}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterRequired, ClusterRequired,
                              ClusterRequired, ClusterOptional, ClusterIgnored};
const ClusterEffect kOutEffects[] = {ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterUntouched, ClusterMade};
const ClusterEffect kClippedEffects[] = {ClusterMade, ClusterMade,      ClusterDropped,
                                         ClusterMade, ClusterUntouched, ClusterDropped};
const OutputSpec kOutputs[] = {{.name = "ClipOut", .effects = kOutEffects, .otherEffect = ClusterUntouched},
                               {.name = "ClipAllClipped", .effects = kClippedEffects, .otherEffect = ClusterUntouched}};

NodeType nodeType = {
    .name = "ClipTriangle.csl",
    .body = ClipTriangleRun,
    .numClusters = 6,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 2,
    .outputs = kOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetClipTriangle() { return &nodeType; }

}  // namespace kv
