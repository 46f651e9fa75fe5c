#include "node_clip_line.h"

#include "clip.h"
#include "engine/pipe/standard_clusters.h"

namespace kv {

namespace {

bool ClipLineRun(PipelineNode* node, const ExecuteParams* params) { return ClipNodeRun(node, params, 2); }

const ClusterUse kClusters[] = {{.clusterType = &clusterCamSpace3DVertices},
                                {.clusterType = &clusterScrSpace2DVertices},
                                {.clusterType = &clusterIndices},
                                {.clusterType = &clusterMeshState},
                                {.clusterType = &clusterRenderState}};
const ClusterNeed kNeeds[] = {ClusterRequired, ClusterRequired, ClusterRequired, ClusterRequired, ClusterOptional};
const ClusterEffect kOutEffects[] = {ClusterMade, ClusterMade, ClusterMade, ClusterMade, ClusterUntouched};
const ClusterEffect kClippedEffects[] = {ClusterMade, ClusterMade, ClusterDropped, ClusterMade, ClusterUntouched};
const OutputSpec kOutputs[] = {{.name = "ClipOut", .effects = kOutEffects, .otherEffect = ClusterUntouched},
                               {.name = "ClipAllClipped", .effects = kClippedEffects, .otherEffect = ClusterUntouched}};

NodeType nodeType = {
    .name = "ClipLine.csl",
    .body = ClipLineRun,
    .numClusters = 5,
    .clusters = kClusters,
    .needs = kNeeds,
    .numOutputs = 2,
    .outputs = kOutputs,
};

}  // namespace

NodeType* NodeDefinitionGetClipLine() { return &nodeType; }

}  // namespace kv
