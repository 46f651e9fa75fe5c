#include "engine/frame/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "error_log.h"

namespace kv {
namespace {

// An object on a frame that records when it was told about its frame.
struct Probe {
    ObjectWithFrame base;
    std::string name;
    static inline std::vector<std::string> log;
    explicit Probe(std::string n) : name(std::move(n)) {
        std::memset(&base, 0, sizeof base);
        base.syncCallback = [](ObjectWithFrame* o) {
            log.push_back(reinterpret_cast<Probe*>(o)->name);
            return o;
        };
    }
    int Count() const {
        int n = 0;
        for (const std::string& s : log) n += s == name ? 1 : 0;
        return n;
    }
};

class Frames : public test::StartedEngine {
  protected:
    void SetUp() override {
        test::StartedEngine::SetUp();
        Probe::log.clear();
        multiplies = 0;
        MatrixSetMultiplyFunction([](Matrix* out, const Matrix* a, const Matrix* b) {
            ++multiplies;
            MatrixMultiplyPortable(out, a, b);
        });
    }
    static int DirtyCount() {
        LinkList* list = &EngineInstanceGet()->dirtyFrameList;
        int n = 0;
        for (LLLink* l = list->link.next; l != &list->link; l = l->next) ++n;
        return n;
    }
    static bool OnDirtyList(const Frame* f) {
        LinkList* list = &EngineInstanceGet()->dirtyFrameList;
        for (LLLink* l = list->link.next; l != &list->link; l = l->next) {
            if (l == &f->dirtyLink) return true;
        }
        return false;
    }
    static inline int multiplies = 0;
};

const V3d kX{1.0f, 0.0f, 0.0f};
const V3d kY{0.0f, 1.0f, 0.0f};

TEST_F(Frames, CreateStartsAsItsOwnRoot) {
    Frame* f = FrameCreate();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->object.type, 0);
    EXPECT_EQ(f->object.privateFlags, 0);
    EXPECT_EQ(FrameGetParent(f), nullptr);
    EXPECT_EQ(FrameGetRoot(f), f);
    EXPECT_EQ(f->localMatrix.flags, 0x00020003u);
    EXPECT_EQ(f->worldMatrix.flags, 3u);
    EXPECT_EQ(FrameCount(f), 1);
    EXPECT_EQ(FrameIsSyncPending(f), 0u);
    EXPECT_EQ(DirtyCount(), 0);
    EXPECT_TRUE(FrameDestroy(f));
}

TEST_F(Frames, ChangesPutTheRootOnTheListOnce) {
    Frame* root = FrameCreate();
    Frame* child = FrameCreate();
    FrameAddChild(root, child);
    FramesSyncDirty();
    ASSERT_EQ(DirtyCount(), 0);
    FrameTranslate(child, &kX, CombinePostConcat);
    FrameTranslate(child, &kY, CombinePostConcat);
    EXPECT_EQ(DirtyCount(), 1);
    EXPECT_TRUE(OnDirtyList(root));
    EXPECT_NE(FrameIsSyncPending(child), 0u);
    FramesSyncDirty();
    EXPECT_EQ(DirtyCount(), 0);
    EXPECT_EQ(FrameIsSyncPending(child), 0u);
    EXPECT_EQ(child->worldMatrix.pos.x, 1.0f);
    EXPECT_EQ(child->worldMatrix.pos.y, 1.0f);
    FrameDestroyHierarchy(root);
}

TEST_F(Frames, PassComposesWorldMatricesAndNotifiesTheSubtreeOnce) {
    Frame* root = FrameCreate();
    Frame* child = FrameCreate();
    Frame* grandchild = FrameCreate();
    const V3d up2{0.0f, 2.0f, 0.0f};
    FrameTranslate(root, &up2, CombineReplace);
    FrameRotate(child, &kY, 90.0f, CombineReplace);
    FrameTranslate(child, &kX, CombinePostConcat);
    FrameTranslate(grandchild, &kX, CombineReplace);
    Probe pr("root"), pc("child"), pg("grandchild");
    ObjectWithFrameSetFrame(&pr.base, root);
    ObjectWithFrameSetFrame(&pc.base, child);
    ObjectWithFrameSetFrame(&pg.base, grandchild);
    FramesSyncDirty();
    Probe::log.clear();

    FrameAddChild(child, grandchild);
    FrameAddChild(root, child);
    FramesSyncDirty();
    EXPECT_EQ(pr.Count(), 0);  // the root itself did not change
    EXPECT_EQ(pc.Count(), 1);
    EXPECT_EQ(pg.Count(), 1);
    EXPECT_EQ(Probe::log, (std::vector<std::string>{"child", "grandchild"}));

    Matrix expected;
    MatrixMultiplyPortable(&expected, &child->localMatrix, &root->worldMatrix);
    EXPECT_EQ(std::memcmp(&expected.right, &child->worldMatrix.right, 12), 0);
    EXPECT_EQ(std::memcmp(&expected.pos, &child->worldMatrix.pos, 12), 0);
    // The grandchild sits one unit along the child's x axis, which the
    // rotation turned onto -z.
    const Matrix* gw = FrameGetWorldMatrix(grandchild);
    EXPECT_NEAR(gw->pos.x, 1.0f, 1e-5f);
    EXPECT_NEAR(gw->pos.y, 2.0f, 1e-5f);
    EXPECT_NEAR(gw->pos.z, -1.0f, 1e-5f);

    // Parents are told before their children.
    Probe::log.clear();
    FrameTranslate(grandchild, &kX, CombinePostConcat);
    FrameTranslate(root, &kX, CombinePostConcat);
    FramesSyncDirty();
    EXPECT_EQ(Probe::log, (std::vector<std::string>{"root", "child", "grandchild"}));

    for (Probe* p : {&pr, &pc, &pg}) ObjectWithFrameRemove(&p->base);
    FrameDestroyHierarchy(root);
}

TEST_F(Frames, WorldMatrixOnDemandLeavesNotificationToThePass) {
    Frame* root = FrameCreate();
    Frame* child = FrameCreate();
    FrameAddChild(root, child);
    FrameTranslate(child, &kY, CombineReplace);  // not the identity: a real product
    Probe pc("child");
    ObjectWithFrameSetFrame(&pc.base, child);
    FramesSyncDirty();
    Probe::log.clear();
    multiplies = 0;

    FrameTranslate(root, &kX, CombinePostConcat);
    const Matrix* w = FrameGetWorldMatrix(child);
    EXPECT_EQ(w->pos.x, 1.0f);
    EXPECT_EQ(w->pos.y, 1.0f);
    EXPECT_EQ(pc.Count(), 0);
    EXPECT_EQ(multiplies, 1);
    EXPECT_NE(FrameIsSyncPending(child), 0u);
    // Asking again costs nothing; the pass notifies without multiplying:
    // the only change left is the objects'.
    FrameGetWorldMatrix(child);
    FramesSyncDirty();
    EXPECT_EQ(pc.Count(), 1);
    EXPECT_EQ(multiplies, 1);
    EXPECT_EQ(DirtyCount(), 0);
    ObjectWithFrameRemove(&pc.base);
    FrameDestroyHierarchy(root);
}

TEST_F(Frames, ReparentingMarksBothHierarchies) {
    Frame* a = FrameCreate();
    Frame* b = FrameCreate();
    Frame* c = FrameCreate();
    Frame* d = FrameCreate();
    FrameAddChild(c, d);
    FrameAddChild(a, c);
    FramesSyncDirty();
    FrameAddChild(b, c);
    EXPECT_TRUE(OnDirtyList(a));
    EXPECT_TRUE(OnDirtyList(b));
    EXPECT_FALSE(OnDirtyList(c));
    EXPECT_EQ(FrameGetRoot(c), b);
    EXPECT_EQ(FrameGetRoot(d), b);
    EXPECT_EQ(a->child, nullptr);
    EXPECT_EQ(FrameCount(b), 3);
    EXPECT_EQ(FrameCount(a), 1);

    // Siblings: removing the second-added child keeps the first.
    Frame* e = FrameCreate();
    FrameAddChild(b, e);
    EXPECT_EQ(b->child, e);
    FrameRemoveChild(c);
    EXPECT_EQ(b->child, e);
    EXPECT_EQ(e->next, nullptr);
    EXPECT_EQ(FrameGetRoot(d), c);
    EXPECT_TRUE(OnDirtyList(c));

    // A frame cannot become its own ancestor's child.
    test::ErrorLog log;
    EXPECT_EQ(FrameAddChild(d, c), nullptr);
    EXPECT_EQ(FrameAddChild(c, c), nullptr);
    EXPECT_EQ(FrameGetParent(c), nullptr);
    FramesSyncDirty();
    for (Frame* f : {a, b, c}) FrameDestroyHierarchy(f);
}

TEST_F(Frames, DestroyingAParentLeavesRootsThatFollowTheirLocalMatrix) {
    Frame* root = FrameCreate();
    Frame* p = FrameCreate();
    Frame* c1 = FrameCreate();
    Frame* c2 = FrameCreate();
    FrameAddChild(root, p);
    FrameAddChild(p, c1);
    FrameAddChild(p, c2);
    FrameTranslate(root, &kX, CombineReplace);
    FrameTranslate(c1, &kY, CombineReplace);
    FramesSyncDirty();
    ASSERT_EQ(c1->worldMatrix.pos.x, 1.0f);

    FrameDestroy(p);
    for (Frame* c : {c1, c2}) {
        EXPECT_EQ(FrameGetParent(c), nullptr);
        EXPECT_EQ(FrameGetRoot(c), c);
        EXPECT_EQ(c->next, nullptr);
        EXPECT_TRUE(OnDirtyList(c));
    }
    EXPECT_EQ(root->child, nullptr);
    FramesSyncDirty();
    EXPECT_EQ(c1->worldMatrix.pos.x, 0.0f);
    EXPECT_EQ(c1->worldMatrix.pos.y, 1.0f);
    EXPECT_TRUE(FrameDestroyHierarchy(nullptr));
    for (Frame* f : {root, c1, c2}) FrameDestroy(f);
    EXPECT_EQ(DirtyCount(), 0);
}

TEST_F(Frames, ObjectsMoveBetweenFramesSafely) {
    Frame* f = FrameCreate();
    Frame* g = FrameCreate();
    Probe a("a"), b("b"), c("c");
    ObjectWithFrameSetFrame(&a.base, f);
    ObjectWithFrameSetFrame(&b.base, f);
    ObjectWithFrameSetFrame(&c.base, f);
    std::vector<std::string> seen;
    FrameForAllObjects(
        f,
        [](ObjectWithFrame* o, void* d) {
            static_cast<std::vector<std::string>*>(d)->push_back(reinterpret_cast<Probe*>(o)->name);
            ObjectWithFrameRemove(o);  // a callback may detach its own object
            return reinterpret_cast<Probe*>(o)->name == "b" ? nullptr : o;
        },
        &seen);
    EXPECT_EQ(seen, (std::vector<std::string>{"c", "b"}));
    ASSERT_FALSE(LinkListEmpty(&f->objectList));
    EXPECT_EQ(LinkListGetFirst(&f->objectList), &a.base.frameLink);

    // Removed objects keep their frame pointer; moving them again must not
    // disturb the list they already left.
    ObjectWithFrameSetFrame(&c.base, g);
    ObjectWithFrameSetFrame(&b.base, g);
    ObjectWithFrameSetFrame(&a.base, g);
    EXPECT_TRUE(LinkListEmpty(&f->objectList));
    EXPECT_EQ(ObjectWithFrameGetFrame(&a.base), g);
    Probe::log.clear();
    FramesSyncDirty();
    EXPECT_EQ(Probe::log, (std::vector<std::string>{"a", "b", "c"}));

    // Destroying a frame lets go of what still hangs on it.
    FrameDestroy(g);
    EXPECT_EQ(ObjectWithFrameGetFrame(&a.base), nullptr);
    ObjectWithFrameSetFrame(&a.base, f);
    EXPECT_EQ(LinkListGetFirst(&f->objectList), &a.base.frameLink);
    ObjectWithFrameSetFrame(&a.base, nullptr);
    EXPECT_TRUE(LinkListEmpty(&f->objectList));
    FrameDestroy(f);
}

TEST_F(Frames, ChangesMadeByCallbacksWaitForTheNextPass) {
    static Frame* other;
    Frame* f = FrameCreate();
    other = FrameCreate();
    Probe p("p");
    p.base.syncCallback = [](ObjectWithFrame* o) {
        FrameTranslate(other, &kX, CombinePostConcat);
        return o;
    };
    ObjectWithFrameSetFrame(&p.base, f);
    FramesSyncDirty();
    EXPECT_TRUE(OnDirtyList(other) || other->worldMatrix.pos.x == 1.0f);
    FramesSyncDirty();
    EXPECT_EQ(other->worldMatrix.pos.x, 1.0f);
    EXPECT_EQ(DirtyCount(), 0);
    ObjectWithFrameRemove(&p.base);
    FrameDestroy(f);
    FrameDestroy(other);
}

TEST_F(Frames, ForAllChildrenStopsWhenAsked) {
    Frame* p = FrameCreate();
    Frame* kids[3];
    for (Frame*& k : kids) {
        k = FrameCreate();
        FrameAddChild(p, k);
    }
    std::vector<Frame*> seen;
    FrameForAllChildren(
        p,
        [](Frame* f, void* d) {
            auto* v = static_cast<std::vector<Frame*>*>(d);
            v->push_back(f);
            return v->size() == 2 ? nullptr : f;
        },
        &seen);
    EXPECT_EQ(seen, (std::vector<Frame*>{kids[2], kids[1]}));
    FrameSetIdentity(kids[0]);
    EXPECT_EQ(kids[0]->localMatrix.flags, 0x00020003u);
    FrameDestroyHierarchy(p);
}

TEST_F(Frames, InvalidCombineStillMarksTheFrame) {
    Frame* f = FrameCreate();
    test::ErrorLog log;
    EXPECT_EQ(FrameTranslate(f, &kX, static_cast<CombineOp>(7)), f);
    EXPECT_TRUE(log.Has(0, kErrBadCombine));
    EXPECT_NE(FrameIsSyncPending(f), 0u);
    FramesSyncDirty();
    FrameDestroy(f);
}

// Plugins register between init and open; frames then carry their blocks.
TEST(FramePlugins, BlocksAreConstructedAndDestroyed) {
    static int constructed;
    static int destructed;
    constructed = destructed = 0;
    int32 offset = -1;
    ASSERT_TRUE(test::EngineUp({.plugins = [&offset] {
        offset = FrameRegisterPlugin(
            24, 0x7701,
            [](void* o, int32 off, int32) {
                ++constructed;
                *PtrAdd<double>(o, off) = 42.0;
                return o;
            },
            [](void* o, int32, int32) {
                ++destructed;
                return o;
            },
            nullptr);
        return offset >= 0;
    }}));
    ASSERT_GE(offset, static_cast<int32>(sizeof(Frame)));
    EXPECT_EQ(offset % 8, 0);
    EXPECT_EQ(FrameGetPluginOffset(0x7701), offset);
    EXPECT_EQ(FrameGetRegistry()->sizeOfStruct, offset + 24);
    Frame* root = FrameCreate();
    Frame* child = FrameCreate();
    FrameAddChild(root, child);
    EXPECT_EQ(*PtrAdd<double>(child, offset), 42.0);
    *PtrAdd<double>(root, offset) = 1.0;  // the whole block is usable
    EXPECT_EQ(constructed, 2);
    FrameDestroyHierarchy(root);
    EXPECT_EQ(destructed, 2);
    test::EngineDown();
    // Term returns the registry to the bare record.
    EXPECT_EQ(FrameGetRegistry()->sizeOfStruct, FrameGetRegistry()->origSizeOfStruct);
}

}  // namespace
}  // namespace kv
