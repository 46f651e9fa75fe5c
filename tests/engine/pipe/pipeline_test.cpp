#include "engine/pipe/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/error.h"
#include "engine/pipe/cluster_resolve.h"
#include "pipeline_fixture.h"

namespace kv {
namespace {

using test::cA;
using test::cB;
using test::cC;
using test::cD;
using test::ErrorLog;
using test::IndexOf;
using test::Node;
using test::OutputDecl;
using test::PassAll;
using test::SlotOf;
using test::TestType;

using test::D;
using test::Ign;
using test::M;
using test::Opt;
using test::Req;
using test::U;

using Model = test::EngineFixture;

// Pipelines made by a test, destroyed before the node types they use.
struct Pipelines {
    std::vector<Pipeline*> made;
    Pipeline* Locked() { return Keep(PipelineLock(PipelineCreate())); }
    Pipeline* Keep(Pipeline* p) {
        made.push_back(p);
        return p;
    }
    ~Pipelines() {
        for (Pipeline* p : made) PipelineDestroy(p);
    }
};

TEST_F(Model, AddNodesChainsTheNewNodesAndRestoresThePipelineOnFailure) {
    TestType a("A", {}, {PassAll("AOut"), PassAll("AOut2")});
    TestType b("B", {}, {PassAll("BOut")});
    TestType c("C", {}, {PassAll("COut")});
    TestType sink("Sink", {}, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = -1;
    ASSERT_EQ(PipelineAddNodes(p, &first, &a.type, &b.type, &c.type, nullptr), p);
    EXPECT_EQ(first, 0);
    ASSERT_EQ(p->numNodes, 3);
    EXPECT_EQ(p->nodes[0].outputs[0], 1);
    EXPECT_EQ(p->nodes[0].outputs[1], -1);
    EXPECT_EQ(p->nodes[1].outputs[0], 2);
    EXPECT_EQ(p->nodes[2].outputs[0], -1);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p->nodes) % 32, 0u);

    // A type without outputs cannot be followed: nothing of this call stays.
    EXPECT_EQ(PipelineAddNodes(p, &first, &b.type, &sink.type, &c.type, nullptr), nullptr);
    EXPECT_EQ(p->numNodes, 3);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(p->nodes[1].nodeType, &b.type);
    EXPECT_EQ(p->nodes[1].outputs[0], 2);

    ASSERT_EQ(PipelineAddNodes(p, &first, &sink.type, nullptr), p);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(p->nodes[3].numOutputs, 0);
    EXPECT_EQ(p->nodes[0].outputs[0], 1) << "old nodes keep their links when the array moves";
}

TEST_F(Model, AddNodesRefusesOversizedTypesAndUnlockedOrMissingPipelines) {
    ErrorLog log;
    std::vector<OutputDecl> many(33, PassAll());
    TestType wide("Wide", {}, many);
    std::vector<std::pair<const ClusterType*, ClusterNeed>> lots;
    std::vector<ClusterType> kinds(33, ClusterType{"K", 0, 0, 0});
    for (const ClusterType& k : kinds) lots.emplace_back(&k, Ign);
    TestType crowded("Crowded", lots, {PassAll()});
    TestType crowdedSink("CrowdedSink", lots, {});

    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = -1;
    EXPECT_EQ(PipelineAddNodes(p, &first, &wide.type, nullptr), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeTooManyOutputs));
    EXPECT_EQ(PipelineAddNodes(p, &first, &crowded.type, nullptr), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeTooManyClusters));
    // The cluster limit is tested only for types with outputs.
    EXPECT_EQ(PipelineAddNodes(p, &first, &crowdedSink.type, nullptr), p);

    EXPECT_EQ(PipelineAddNodes(nullptr, &first, &crowdedSink.type, nullptr), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    Pipeline* open = PipelineCreate();
    ps.Keep(open);
    EXPECT_EQ(PipelineAddNodes(open, &first, &crowdedSink.type, nullptr), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeNotLocked));
}

TEST_F(Model, FindNodeFindOutputAndLinkValidateTheirArguments) {
    TestType a("A", {}, {PassAll("First"), PassAll("Second")});
    TestType sink("Sink", {}, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    Pipeline* other = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &a.type, &a.type, &sink.type, nullptr), p);
    ASSERT_EQ(PipelineAddNodes(other, &first, &a.type, &sink.type, nullptr), other);

    PipelineNode* a0 = Node(p, "A");
    ASSERT_EQ(a0, &p->nodes[0]);
    PipelineNode* a1 = PipelineFindNode(p, "A", a0);
    EXPECT_EQ(a1, &p->nodes[1]);
    EXPECT_EQ(PipelineFindNode(p, "A", a1), nullptr);
    EXPECT_EQ(Node(p, "Nope"), nullptr);
    EXPECT_EQ(NodeFindOutput(a0, "Second"), &a0->outputs[1]);
    EXPECT_EQ(NodeFindOutput(a0, "Third"), nullptr);
    EXPECT_EQ(NodeCheck(a0), a0);
    EXPECT_EQ(NodeCheck(nullptr), nullptr);

    PipelineNode* s = Node(p, "Sink");
    // Already connected by the chain.
    EXPECT_EQ(PipelineLinkOutput(p, NodeFindOutput(a0, "First"), s), nullptr);
    EXPECT_EQ(a0->outputs[0], 1);
    // A node of another pipeline, or an output of another pipeline's node.
    EXPECT_EQ(PipelineLinkOutput(p, NodeFindOutput(a0, "Second"), Node(other, "Sink")), nullptr);
    EXPECT_EQ(PipelineLinkOutput(p, NodeFindOutput(Node(other, "A"), "Second"), s), nullptr);
    EXPECT_EQ(Node(other, "A")->outputs[1], -1);
    // Not on a record boundary.
    EXPECT_EQ(PipelineLinkOutput(p, NodeFindOutput(a0, "Second"),
                                 reinterpret_cast<PipelineNode*>(reinterpret_cast<char*>(s) + 8)),
              nullptr);
    EXPECT_EQ(a0->outputs[1], -1);

    EXPECT_EQ(PipelineLinkOutput(p, NodeFindOutput(a0, "Second"), s), p);
    EXPECT_EQ(a0->outputs[1], 2);
    ASSERT_EQ(PipelineUnlock(p), p);
    EXPECT_EQ(PipelineLinkOutput(p, NodeFindOutput(a1, "Second"), s), nullptr) << "unlocked";
}

TEST_F(Model, AddClusterCopiesTheTypeWithTheOtherEffectAndAnOptionalNeed) {
    static const ClusterEffect effects[] = {M};
    static const ClusterUse uses[] = {{&cA, 0, 0}};
    static const ClusterNeed needs[] = {Ign};
    static const OutputSpec outs[] = {{"Made", effects, M}, {"Gone", effects, D}};
    NodeType src{};
    src.name = "Src";
    src.numClusters = 1;
    src.clusters = uses;
    src.needs = needs;
    src.numOutputs = 2;
    src.outputs = outs;
    src.privateSize = 4;
    src.nodeOpen = [](PipelineNode*) { return true; };
    TestType sink("Sink", {{&cA, Req}}, {});

    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src, &sink.type, nullptr), p);
    PipelineNode* n = Node(p, "Src");
    EXPECT_EQ(NodeAddCluster(p, n, &cA), nullptr) << "already listed";
    EXPECT_EQ(n->nodeType, &src);

    ASSERT_EQ(NodeAddCluster(p, n, &cB), p);
    NodeType* copy = n->nodeType;
    ASSERT_NE(copy, &src);
    EXPECT_EQ(copy->isCopy, 1);
    EXPECT_EQ(copy->useCount, 0);
    EXPECT_STREQ(copy->name, "Src");
    EXPECT_NE(copy->name, src.name);
    EXPECT_EQ(copy->nodeOpen, src.nodeOpen);
    EXPECT_EQ(copy->privateSize, 4);
    ASSERT_EQ(copy->numClusters, 2);
    EXPECT_EQ(copy->clusters[1].clusterType, &cB);
    EXPECT_EQ(copy->needs[0], Ign);
    EXPECT_EQ(copy->needs[1], Opt);
    ASSERT_EQ(copy->numOutputs, 2);
    EXPECT_STREQ(copy->outputs[1].name, "Gone");
    EXPECT_EQ(copy->outputs[0].effects[0], M);
    EXPECT_EQ(copy->outputs[0].effects[1], M);
    EXPECT_EQ(copy->outputs[1].effects[1], D);
    EXPECT_EQ(copy->outputs[1].otherEffect, D);

    // A copy of a copy replaces it (the first copy is freed; the sanitiser
    // build would see a leak or a double free).
    ASSERT_EQ(NodeAddCluster(p, n, &cC), p);
    EXPECT_EQ(n->nodeType->numClusters, 3);
    EXPECT_EQ(n->nodeType->clusters[1].clusterType, &cB);

    // Once unlocked the added clusters are needed on input as Optional.
    ASSERT_EQ(PipelineUnlock(p), p);
    EXPECT_EQ(p->numInputRequirements, 2);
    for (int32 i = 0; i < p->numInputRequirements; ++i) EXPECT_EQ(p->inputRequirements[i].need, Opt);
    EXPECT_EQ(n->nodeType->useCount, 1);
}

TEST_F(Model, AChainOfEditsPassesNothingOnAndUnlockReportsIt) {
    ErrorLog log;
    Pipeline* p = PipelineUnlock(
        NodeAddCluster(PipelineLinkOutput(PipelineLock(nullptr),
                                          NodeFindOutput(PipelineFindNode(nullptr, "A", nullptr), "Out"), nullptr),
                       nullptr, &cA));
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
}

// The end of every construction chain: a good chain comes back unlocked; a
// chain broken on the way, or a graph the unlock refuses, leaves nothing (the
// sanitizer build's leak check sees a pipeline left behind).
TEST_F(Model, FinishUnlocksAGoodChainAndDestroysTheCreatedPipelineOfABadOne) {
    ErrorLog log;
    TestType a("A", {}, {PassAll("Out")});
    TestType b("B", {}, {PassAll("Out")});
    Pipeline* created = PipelineCreate();
    Pipeline* good = PipelineFinish(created, PipelineAddNodes(PipelineLock(created), nullptr, &a.type, &b.type));
    ASSERT_EQ(good, created);
    EXPECT_EQ(good->locked, 0);
    EXPECT_EQ(a.type.useCount, 1);
    PipelineDestroy(good);
    EXPECT_EQ(a.type.useCount, 0);

    Pipeline* broken = PipelineCreate();
    EXPECT_EQ(PipelineFinish(broken, PipelineLinkOutput(PipelineAddNodes(PipelineLock(broken), nullptr, &a.type),
                                                        nullptr, nullptr)),
              nullptr);

    // Two nodes with no link between them: the unlock refuses the graph.
    Pipeline* refused = PipelineCreate();
    int32 first = 0;
    Pipeline* p = PipelineAddNodes(PipelineLock(refused), &first, &a.type, nullptr);
    EXPECT_EQ(PipelineFinish(refused, PipelineAddNodes(p, &first, &b.type, nullptr)), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeNoInputs));
    EXPECT_EQ(a.type.useCount, 0);
    EXPECT_EQ(PipelineFinish(nullptr, nullptr), nullptr) << "nothing made, nothing to destroy";
}

TEST_F(Model, UnlockChecksTheGraphAndLeavesThePipelineEditableOnFailure) {
    ErrorLog log;
    TestType a("A", {}, {PassAll("Out"), PassAll("Back")});
    TestType b("B", {}, {PassAll("Out"), PassAll("Back")});
    TestType c("C", {}, {PassAll("Out"), PassAll("Back")});

    // 34: the second node has no inputs.
    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &a.type, nullptr), p);
    ASSERT_EQ(PipelineAddNodes(p, &first, &b.type, nullptr), p);
    EXPECT_EQ(PipelineUnlock(p), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeNoInputs));
    EXPECT_EQ(p->locked, 1);
    ASSERT_EQ(PipelineLinkOutput(p, NodeFindOutput(Node(p, "A"), "Out"), Node(p, "B")), p);
    EXPECT_EQ(PipelineUnlock(p), p);

    // 36: a link back into the entry node.
    Pipeline* q = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(q, &first, &a.type, &b.type, &c.type, nullptr), q);
    ASSERT_EQ(PipelineLinkOutput(q, NodeFindOutput(Node(q, "C"), "Back"), Node(q, "A")), q);
    log.errors.clear();
    EXPECT_EQ(PipelineUnlock(q), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeBadEntry));

    // 28: a cycle behind the entry.
    Pipeline* r = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(r, &first, &a.type, &b.type, &c.type, nullptr), r);
    ASSERT_EQ(PipelineLinkOutput(r, NodeFindOutput(Node(r, "C"), "Back"), Node(r, "B")), r);
    log.errors.clear();
    EXPECT_EQ(PipelineUnlock(r), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeCycle));
    EXPECT_EQ(r->locked, 1);

    // 36 for an entry index out of range; 51 and null argument.
    Pipeline* s = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(s, &first, &a.type, nullptr), s);
    s->entryPoint = 5;
    log.errors.clear();
    EXPECT_EQ(PipelineUnlock(s), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeBadEntry));
    s->entryPoint = 0;
    ASSERT_EQ(PipelineUnlock(s), s);
    EXPECT_EQ(PipelineUnlock(s), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeNotLocked));
}

TEST_F(Model, UnlockRefusesBadClusterListsAndRequiredClustersDroppedOnTheWay) {
    ErrorLog log;
    TestType dropper("Dropper", {{&cA, Ign}}, {OutputDecl{"Out", {D}, U}});
    TestType needsReq("NeedsReq", {{&cA, Req}}, {});
    TestType needsOpt("NeedsOpt", {{&cA, Opt}, {&cB, Req}}, {});
    TestType dup("Dup", {{&cA, Ign}, {&cA, Ign}}, {});
    TestType empty("Empty", {{nullptr, Ign}}, {});
    int32 first = 0;

    Pipelines ps;
    Pipeline* p = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(p, &first, &dropper.type, &needsReq.type, nullptr), p);
    EXPECT_EQ(PipelineUnlock(p), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeRequiredDropped));
    EXPECT_EQ(p->locked, 1);

    // Optional instead: the sink goes without, and A is not an input.
    Pipeline* q = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(q, &first, &dropper.type, &needsOpt.type, nullptr), q);
    ASSERT_EQ(PipelineUnlock(q), q);
    PipelineNode* sink = Node(q, "NeedsOpt");
    EXPECT_EQ(sink->inputToClusterSlot[0], -1);
    EXPECT_GE(sink->inputToClusterSlot[1], 0);
    ASSERT_EQ(q->numInputRequirements, 1);
    EXPECT_EQ(q->inputRequirements[0].clusterType, &cB);

    Pipeline* r = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(r, &first, &dup.type, nullptr), r);
    EXPECT_EQ(PipelineUnlock(r), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeDuplicateCluster));
    Pipeline* s = ps.Locked();
    ASSERT_EQ(PipelineAddNodes(s, &first, &empty.type, nullptr), s);
    EXPECT_EQ(PipelineUnlock(s), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeEmptyCluster));
}

TEST_F(Model, InputTableListsWhatNoNodeMakesSortedByType) {
    // Src makes C; Mid needs D optionally and passes the rest; Sink needs A, B, C.
    TestType src("Src", {{&cC, Ign}}, {OutputDecl{"Out", {M}, U}});
    TestType mid("Mid", {{&cD, Opt}}, {PassAll()});
    TestType sink("Sink", {{&cB, Req}, {&cA, Req}, {&cC, Req}}, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &mid.type, &sink.type, nullptr), p);
    ASSERT_EQ(PipelineUnlock(p), p);
    ASSERT_EQ(p->numInputRequirements, 3);
    std::vector<const ClusterType*> types;
    for (int32 i = 0; i < 3; ++i) types.push_back(p->inputRequirements[i].clusterType);
    EXPECT_TRUE(std::is_sorted(types.begin(), types.end(), std::less<const ClusterType*>()));
    for (int32 i = 0; i < 3; ++i) {
        const PipelineInput& in = p->inputRequirements[i];
        EXPECT_NE(in.clusterType, &cC);
        EXPECT_EQ(in.need, in.clusterType == &cD ? Opt : Req);
        // The entry node holds the input in the listed slot.
        const TypeTableEntry* ref = p->nodes[0].slotClusterRefs[in.slot];
        ASSERT_NE(ref, nullptr);
        EXPECT_EQ(ref->clusterType, in.clusterType);
        EXPECT_EQ(ref->attributes, in.clusterType->defaultAttributes);
    }
}

// Every node's live clusters have distinct slots, and a cluster that
// continues along a link keeps its slot at the destination.
void ExpectSoundSlots(const Pipeline* p) {
    for (int32 i = 0; i < p->numNodes; ++i) {
        const PipelineNode& n = p->nodes[i];
        for (int32 s = 0; s < p->packetNumClusters; ++s) {
            for (int32 t = s + 1; t < p->packetNumClusters; ++t) {
                if (n.slotClusterRefs[s] != nullptr && n.slotClusterRefs[t] != nullptr) {
                    EXPECT_NE(n.slotClusterRefs[s]->clusterType, n.slotClusterRefs[t]->clusterType);
                }
            }
            for (int32 o = 0; o < n.numOutputs; ++o) {
                if ((n.slotsContinue[1 + s] & (1u << o)) == 0) continue;
                ASSERT_GE(n.outputs[o], 0);
                const PipelineNode& d = p->nodes[n.outputs[o]];
                ASSERT_NE(n.slotClusterRefs[s], nullptr);
                EXPECT_EQ(d.slotClusterRefs[s], n.slotClusterRefs[s]) << "node " << i << " slot " << s;
            }
        }
    }
}

TEST_F(Model, SlotsAreSharedAlongAChainAndNeverBetweenLiveClusters) {
    // Src makes A and B; Mid needs A, makes C, drops A on one output;
    // two sinks join the paths.
    TestType src("Src", {{&cA, Ign}, {&cB, Ign}}, {OutputDecl{"Out", {M, M}, U}});
    TestType mid("Mid", {{&cA, Req}, {&cC, Ign}}, {OutputDecl{"Out", {U, M}, U}, OutputDecl{"Drop", {D, M}, U}});
    TestType left("Left", {{&cA, Opt}, {&cB, Req}, {&cC, Req}}, {PassAll()});
    TestType right("Right", {{&cC, Req}}, {PassAll()});
    TestType join("Join", {{&cC, Req}, {&cB, Opt}}, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &mid.type, &left.type, &join.type, nullptr), p);
    ASSERT_EQ(PipelineAddNodes(p, &first, &right.type, nullptr), p);
    ASSERT_EQ(PipelineLinkOutput(p, NodeFindOutput(Node(p, "Mid"), "Drop"), Node(p, "Right")), p);
    ASSERT_EQ(PipelineLinkOutput(p, NodeFindOutput(Node(p, "Right"), "Out"), Node(p, "Join")), p);
    ASSERT_EQ(PipelineUnlock(p), p);

    // Join comes after both of its sources.
    EXPECT_EQ(IndexOf(p, Node(p, "Src")), 0);
    EXPECT_GT(IndexOf(p, Node(p, "Join")), IndexOf(p, Node(p, "Left")));
    EXPECT_GT(IndexOf(p, Node(p, "Join")), IndexOf(p, Node(p, "Right")));

    ExpectSoundSlots(p);
    PipelineNode* s = Node(p, "Src");
    PipelineNode* m = Node(p, "Mid");
    EXPECT_EQ(SlotOf(s, &cA), SlotOf(m, &cA));
    EXPECT_EQ(SlotOf(m, &cA), SlotOf(Node(p, "Left"), &cA));
    EXPECT_EQ(SlotOf(m, &cC), SlotOf(Node(p, "Right"), &cC));
    EXPECT_EQ(SlotOf(m, &cC), SlotOf(Node(p, "Join"), &cC));
    EXPECT_NE(SlotOf(m, &cA), SlotOf(m, &cC));
    EXPECT_EQ(SlotOf(Node(p, "Left"), &cB), SlotOf(s, &cB));
    // A continues along Out but not along Drop; C along both.
    const uint32* pass = m->slotsContinue;
    EXPECT_EQ(pass[1 + SlotOf(m, &cA)], 1u);
    EXPECT_EQ(pass[1 + SlotOf(m, &cC)], 3u);
    EXPECT_EQ(pass[0] & 2u, 0u);
    EXPECT_EQ(p->numInputRequirements, 0);
}

TEST_F(Model, AClusterThatEndsFreesItsSlotForClustersMadeLater) {
    // A lives from Src to Mid, C from Mid to Sink: both meet at Mid, so two
    // slots; B made after Mid only meets C.
    TestType src("Src", {{&cA, Ign}}, {OutputDecl{"Out", {M}, U}});
    TestType mid("Mid", {{&cA, Req}, {&cC, Ign}}, {OutputDecl{"Out", {D, M}, U}});
    TestType mid2("Mid2", {{&cB, Ign}}, {OutputDecl{"Out", {M}, U}});
    TestType sink("Sink", {{&cC, Req}, {&cB, Req}}, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &mid.type, &mid2.type, &sink.type, nullptr), p);
    ASSERT_EQ(PipelineUnlock(p), p);
    ExpectSoundSlots(p);
    EXPECT_EQ(p->packetNumClusters, 2);
    EXPECT_EQ(SlotOf(Node(p, "Mid2"), &cB), SlotOf(Node(p, "Src"), &cA));
}

TEST_F(Model, MoreLiveClustersThanAPacketHoldsAreRefused) {
    ErrorLog log;
    std::vector<ClusterType> kinds(33, ClusterType{"K", 0, 0, 0});
    std::vector<std::pair<const ClusterType*, ClusterNeed>> lots;
    for (const ClusterType& k : kinds) lots.emplace_back(&k, Req);
    TestType src("Src", {}, {PassAll()});
    TestType sink("Sink", lots, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &sink.type, nullptr), p);
    EXPECT_EQ(PipelineUnlock(p), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrPipeTooManySlots));
    EXPECT_EQ(p->locked, 1);
}

// Records the callbacks in order.
std::vector<std::string> calls;
bool failSetup = false;
bool failTypeOpen = false;

TEST_F(Model, CallbacksRunAtUnlockLockAndDestroyAndFailuresGiveBackWhatWasTaken) {
    calls.clear();
    NodeType t{};
    t.name = "T";
    static const OutputSpec outs[] = {{"Out", nullptr, U}};
    t.numOutputs = 1;
    t.outputs = outs;
    t.privateSize = 12;
    t.typeOpen = [](NodeType*) {
        calls.push_back("typeOpen");
        return !failTypeOpen;
    };
    t.typeClose = [](NodeType*) { calls.push_back("typeClose"); };
    t.nodeOpen = [](PipelineNode* n) {
        // Private data is zeroed and each node has its own.
        EXPECT_NE(n->privateData, nullptr);
        EXPECT_EQ(*static_cast<int32*>(n->privateData), 0);
        *static_cast<int32*>(n->privateData) = 7;
        calls.push_back("nodeOpen");
        return true;
    };
    t.nodeClose = [](PipelineNode*) { calls.push_back("nodeClose"); };
    t.nodeSetup = [](PipelineNode* n, Pipeline*) {
        EXPECT_EQ(*static_cast<int32*>(n->privateData), 7);
        calls.push_back("nodeSetup");
        return !failSetup;
    };
    Pipeline* p = PipelineLock(PipelineCreate());
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &t, &t, nullptr), p);
    ASSERT_EQ(PipelineUnlock(p), p);
    EXPECT_EQ(calls, (std::vector<std::string>{"typeOpen", "nodeOpen", "nodeOpen", "nodeSetup", "nodeSetup"}));
    EXPECT_EQ(t.useCount, 2);
    EXPECT_NE(p->nodes[0].privateData, p->nodes[1].privateData);

    calls.clear();
    ASSERT_EQ(PipelineLock(p), p);
    EXPECT_EQ(calls, (std::vector<std::string>{"nodeClose", "nodeClose", "typeClose"}));
    EXPECT_EQ(t.useCount, 0);
    EXPECT_EQ(p->block, nullptr);
    EXPECT_EQ(p->nodes[0].privateData, nullptr);

    // A failing setup closes everything again: no use count is left behind.
    failSetup = true;
    calls.clear();
    EXPECT_EQ(PipelineUnlock(p), nullptr);
    failSetup = false;
    EXPECT_EQ(p->locked, 1);
    EXPECT_EQ(t.useCount, 0);
    EXPECT_EQ(calls.back(), "typeClose");
    // So does a failing type open.
    failTypeOpen = true;
    calls.clear();
    EXPECT_EQ(PipelineUnlock(p), nullptr);
    failTypeOpen = false;
    EXPECT_EQ(t.useCount, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"typeOpen"}));

    ASSERT_EQ(PipelineUnlock(p), p);
    calls.clear();
    PipelineDestroy(p);
    EXPECT_EQ(calls, (std::vector<std::string>{"nodeClose", "nodeClose", "typeClose"}));
    EXPECT_EQ(t.useCount, 0);
}

TEST_F(Model, AnEmptyPipelineUnlocksAndLockingAgainRepeatsTheResolution) {
    TestType src("Src", {{&cA, Ign}}, {OutputDecl{"Out", {M}, U}});
    TestType sink("Sink", {{&cA, Req}}, {});
    Pipelines ps;
    Pipeline* p = ps.Locked();
    ASSERT_EQ(PipelineUnlock(p), p);
    EXPECT_EQ(p->locked, 0);
    ASSERT_EQ(PipelineLock(p), p);
    int32 first = 0;
    ASSERT_EQ(PipelineAddNodes(p, &first, &src.type, &sink.type, nullptr), p);
    ASSERT_EQ(PipelineUnlock(p), p);
    const int32 slot = SlotOf(Node(p, "Sink"), &cA);
    EXPECT_EQ(slot, SlotOf(Node(p, "Src"), &cA));
    ASSERT_EQ(PipelineLock(p), p);
    ASSERT_EQ(PipelineUnlock(p), p);
    EXPECT_EQ(SlotOf(Node(p, "Sink"), &cA), slot);
    EXPECT_EQ(src.type.useCount, 1);
}

}  // namespace
}  // namespace kv
