// The drive integration cases that both transport paths share are written once,
// against this view of a path; each test program gives its own path (NT
// pass-through letters, or ASPI targets) and instantiates them with it.
#pragma once

#include "simtest.h"

#include "drive/speedcontrol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace simtest {

class SimPath {
public:
    virtual ~SimPath() = default;
    virtual const char* Name() const = 0;
    // Run before every case: the simulator's state of a case that writes no drive.
    virtual void Prepare() = 0;
    // The drive file of a slot; slots 0 to 4 come in discovery order.
    virtual std::string Drive(int slot) const = 0;
    // Makes the drives of slots 0 to count - 1 known to the layer.
    virtual void Attach(int count) = 0;
    // Puts slots 0 to count - 1 at the same positions of the transport's table.
    virtual void Address(int count) = 0;
    // One command straight to the layer's own call, for a slot: its result byte.
    virtual int Execute(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                        std::uint8_t* data, std::uint32_t length, int direction) = 0;
    // Checks what the layer adds to a command in the drive's log line.
    virtual void ExpectLayerFields(const std::string& line, int slot, bool out) const = 0;
    // Frees what Address and Execute took.
    virtual void Release() = 0;
    virtual const velotune::DiscoverySeam& Seam() const = 0;
    // The style of the "DRIVE NOT FOUND!!" message box.
    virtual unsigned NotFoundStyle() const = 0;
};

inline void PrintTo(SimPath* path, std::ostream* os) {
    *os << path->Name();
}

class BothPaths : public ::testing::TestWithParam<SimPath*> {
protected:
    SimPath& path() const { return *GetParam(); }
    void SetUp() override {
        ASSERT_FALSE(SimDir().empty()) << "VT_SIM_DIR is not set";
        path().Prepare();
    }
    void TearDown() override {
        control.ReleaseDrives();
        path().Release();
    }

    FakePanel panel;
    velotune::SpeedControl control{panel, GetParam()->Seam()};
};

// Instantiates the shared cases for one path.
#define VT_SIM_PATH(prefix, path_object)                                                           \
    INSTANTIATE_TEST_SUITE_P(prefix, BothPaths, ::testing::Values(&(path_object)),                 \
                             [](const auto& info) { return std::string(info.param->Name()); })

} // namespace simtest
