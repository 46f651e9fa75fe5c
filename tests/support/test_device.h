// The tests' device: the engine's null device underneath, with what a test
// needs configured on top. Every system request and every standard-function
// call is logged and any of them can be made to fail; video modes and
// sub-systems, standard functions, render states and 2D draws are answered as
// configured. Whatever is not configured gets the null device's answer, so a
// test states exactly what it relies on. Reset() before each test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "engine/core/engine.h"
#include "engine_fixture.h"

namespace kv::test {

struct TestDevice {
    // --- System requests ---
    struct Request {
        int32 request;
        int32 in;
    };
    static inline std::vector<Request> log;
    static inline std::set<int32> failing;

    // Video modes of each sub-system (display); empty: the null device's one
    // windowed mode. Sub-system requests are answered only with
    // answerSubSystems (one sub-system per entry of modes); otherwise the
    // engine's defaults stand in.
    static inline std::vector<std::vector<VideoModeInfo>> modes;
    static inline std::vector<int32> currentMode;  // per sub-system
    static inline int32 subSystem = 0;
    static inline bool answerSubSystems = false;

    // --- Standard functions ---
    struct Call {
        int32 slot;
        void* out;
        void* inOut;
        int32 in;
    };
    static inline std::vector<Call> calls;
    static inline std::set<int32> failingSlots;
    // What answers each slot; null: the null device's function (it fails).
    // Read at every call, so a test may change it while the engine runs.
    static inline std::array<StandardFunc, StdNumStandardFunctions> standards{};

    // --- Render states and 2D drawing (see KeepRenderStates, RecordDraws) ---
    struct Draw {
        int32 type;
        std::vector<Im2DVertex> vertices;
        std::vector<uint32> indices;
        std::map<int32, std::intptr_t> states;  // as they were at the draw
    };
    static inline std::map<int32, std::intptr_t> states;
    static inline std::vector<std::pair<int32, std::intptr_t>> stateSets;
    static inline std::vector<int32> stateQueries;
    static inline std::vector<Draw> draws;

    // The record the engine copies at open: the null device's, answering
    // through this device. Change it before EngineOpen.
    static inline DeviceRecord record{};

    static DeviceRecord* Interface() { return &record; }

    static void Reset() {
        log.clear();
        failing.clear();
        modes.clear();
        currentMode.clear();
        subSystem = 0;
        answerSubSystems = false;
        calls.clear();
        failingSlots.clear();
        standards.fill(nullptr);
        states.clear();
        stateSets.clear();
        stateQueries.clear();
        draws.clear();
        record = *NullDeviceGetInterface();
        record.system = System;
    }

    // One display with these modes, without sub-system answers.
    static void UseModes(std::vector<VideoModeInfo> list, int32 current = 0) {
        modes = {std::move(list)};
        currentMode = {current};
        subSystem = 0;
    }
    // Several displays, each its own sub-system with its modes.
    static void UseDisplays(std::vector<std::vector<VideoModeInfo>> lists, std::vector<int32> current) {
        modes = std::move(lists);
        currentMode = std::move(current);
        subSystem = 0;
        answerSubSystems = true;
    }
    // Two displays: the first with a window and a full-screen mode, the
    // second with three modes, the current one full-screen.
    static void UseTwoDisplays() {
        UseDisplays({{{640, 480, 32, 0}, {800, 600, 16, kVideoModeFullScreen}},
                     {{1024, 768, 32, kVideoModeFullScreen}, {640, 480, 16, kVideoModeFullScreen}, {320, 200, 8, 0}}},
                    {0, 1});
    }

    // Render states kept in `states`, starting from these; a state not there
    // cannot be read. Every set and every query is logged.
    static void KeepRenderStates(std::map<int32, std::intptr_t> initial = {}) {
        states = std::move(initial);
        record.setRenderState = [](int32 state, std::intptr_t value) {
            states[state] = value;
            stateSets.emplace_back(state, value);
            return true;
        };
        record.getRenderState = [](int32 state, std::intptr_t* value) {
            stateQueries.push_back(state);
            auto it = states.find(state);
            if (it == states.end()) return false;
            *value = it->second;
            return true;
        };
    }
    // 2D primitives recorded in `draws`, each with the states of its time.
    static void RecordDraws() {
        record.im2DRenderPrimitive = [](int32 type, Im2DVertex* v, int32 n) {
            draws.push_back(Draw{type, std::vector<Im2DVertex>(v, v + n), {}, states});
            return true;
        };
        record.im2DRenderIndexedPrimitive = [](int32 type, Im2DVertex* v, int32 n, const uint32* i, int32 m) {
            draws.push_back(Draw{type, std::vector<Im2DVertex>(v, v + n), std::vector<uint32>(i, i + m), states});
            return true;
        };
    }

    // The requests made, in order.
    static std::vector<int32> Requests() {
        std::vector<int32> out;
        for (const Request& r : log) out.push_back(r.request);
        return out;
    }
    // The integer argument of each time this request was made.
    static std::vector<int32> Arguments(int32 request) {
        std::vector<int32> out;
        for (const Request& r : log) {
            if (r.request == request) out.push_back(r.in);
        }
        return out;
    }
    static int32 Count(int32 slot) {
        int32 n = 0;
        for (const Call& c : calls) n += c.slot == slot ? 1 : 0;
        return n;
    }
    static const Call* Last(int32 slot) {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            if (it->slot == slot) return &*it;
        }
        return nullptr;
    }
    // A standard function that does nothing and succeeds.
    static bool Succeed(void*, void*, int32) { return true; }

    static bool System(int32 request, void* out, void* inOut, int32 in) {
        log.push_back({request, in});
        if (failing.count(request) != 0) return false;
        switch (request) {
            case DeviceGetDeviceRecord:
                // The null device would hand out its own record.
                std::memcpy(out, &record, sizeof(DeviceRecord));
                return true;
            case DeviceStandards:
                return Standards(static_cast<StandardFunctions*>(out), in);
            case DeviceGetNumSubSystems:
            case DeviceGetSubSystemInfo:
            case DeviceGetCurrentSubSystem:
            case DeviceSetSubSystem:
                if (answerSubSystems) return SubSystemRequest(request, out, in);
                break;
            case DeviceGetNumModes:
            case DeviceGetModeInfo:
            case DeviceGetMode:
            case DeviceUseMode:
                if (answerSubSystems || !modes.empty()) return ModeRequest(request, out, in);
                break;
            default:
                break;
        }
        return NullDeviceGetInterface()->system(request, out, inOut, in);
    }

  private:
    static inline std::array<StandardFunc, StdNumStandardFunctions> nullStandards{};

    static bool Answer(int32 slot, void* out, void* inOut, int32 in) {
        calls.push_back({slot, out, inOut, in});
        if (failingSlots.count(slot) != 0) return false;
        const StandardFunc fn = standards[static_cast<std::size_t>(slot)] != nullptr
                                    ? standards[static_cast<std::size_t>(slot)]
                                    : nullStandards[static_cast<std::size_t>(slot)];
        return fn != nullptr && fn(out, inOut, in);
    }
    template <int32 N>
    static bool Slot(void* out, void* inOut, int32 in) {
        return Answer(N, out, inOut, in);
    }
    template <std::size_t... I>
    static constexpr std::array<StandardFunc, sizeof...(I)> Slots(std::index_sequence<I...>) {
        return {Slot<static_cast<int32>(I)>...};
    }

    // The null device fills the table; each slot then goes through Answer.
    static bool Standards(StandardFunctions* table, int32 n) {
        if (!NullDeviceGetInterface()->system(DeviceStandards, table, nullptr, n)) return false;
        static constexpr auto kSlots = Slots(std::make_index_sequence<StdNumStandardFunctions>());
        for (int32 i = 0; i < n && i < StdNumStandardFunctions; ++i) {
            nullStandards[static_cast<std::size_t>(i)] = table->fn[i];
            table->fn[i] = kSlots[static_cast<std::size_t>(i)];
        }
        return true;
    }

    static int32 Size(const std::vector<VideoModeInfo>& v) { return static_cast<int32>(v.size()); }

    static bool SubSystemRequest(int32 request, void* out, int32 in) {
        const auto count = static_cast<int32>(modes.size());
        switch (request) {
            case DeviceGetNumSubSystems:
                *static_cast<int32*>(out) = count;
                return true;
            case DeviceGetSubSystemInfo:
                if (in < 0 || in >= count) return false;
                std::snprintf(static_cast<SubSystemInfo*>(out)->name, sizeof(SubSystemInfo::name), "Display %d",
                              in + 1);
                return true;
            case DeviceGetCurrentSubSystem:
                *static_cast<int32*>(out) = subSystem;
                return true;
            default:  // DeviceSetSubSystem
                if (in < 0 || in >= count) return false;
                subSystem = in;
                return true;
        }
    }

    // The current sub-system's modes; none when it has no entry in modes.
    static bool ModeRequest(int32 request, void* out, int32 in) {
        if (subSystem < 0 || subSystem >= static_cast<int32>(modes.size())) return false;
        const std::vector<VideoModeInfo>& list = modes[static_cast<std::size_t>(subSystem)];
        if (currentMode.size() < modes.size()) currentMode.resize(modes.size(), 0);
        int32& current = currentMode[static_cast<std::size_t>(subSystem)];
        switch (request) {
            case DeviceGetNumModes:
                *static_cast<int32*>(out) = Size(list);
                return true;
            case DeviceGetModeInfo:
                if (in < 0 || in >= Size(list)) return false;
                *static_cast<VideoModeInfo*>(out) = list[static_cast<std::size_t>(in)];
                return true;
            case DeviceGetMode:
                *static_cast<int32*>(out) = current;
                return true;
            default:  // DeviceUseMode
                if (in < 0 || in >= Size(list)) return false;
                current = in;
                return true;
        }
    }
};

// The engine started on the test device for each test and stopped after.
class TestDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestDevice::Reset();
        Configure();
        ASSERT_TRUE(EngineUp({.device = TestDevice::Interface,
                              .memory = memory,
                              .plugins =
                                  [this] {
                                      BeforeOpen();
                                      return true;
                                  },
                              .opened =
                                  [this] {
                                      BeforeStart();
                                      return true;
                                  }}));
    }
    void TearDown() override { EngineDown(); }
    // The device's configuration, after its reset and before the engine
    // starts up; an override calls its base's first.
    virtual void Configure() {}
    // Plugins register here, between init and open.
    virtual void BeforeOpen() {}
    // The device is open; the engine's modules have not started.
    virtual void BeforeStart() {}

    const MemoryFunctions* memory = nullptr;  // the engine's; null: the default
};

}  // namespace kv::test
