// The live pass allocates nothing in steady state: grab, analysis and rendering into the pictures shown. Qt's
// own repaint request (a dirty region and an event, once per paint cycle) is the only allocation left per
// frame.
#include "WindowFixture.h"

#include "capture/CameraSelection.h"

#include <QCheckBox>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

namespace {

// Only the user-interface thread's allocations count; the platform's own threads may allocate as they like.
thread_local bool counting = false;
std::atomic<long> allocations{0};

} // namespace

void* operator new(std::size_t size) {
    if (counting) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

long allocationsDuring(const std::function<void()>& work) {
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations.load();
}

void expectSteadyPassesAllocateNothing(TForm1& f) {
    controls(f).showazimuthinSind->setChecked(true);
    controls(f).showAzimuthInExtinction->setChecked(true);
    kestrane::measurementState().FlatFieldOn = 1; // the flat field is part of the live path too
    for (int i = 0; i < 3; ++i) {
        f.TarvolundClick();
        QCoreApplication::processEvents();
    }
    // This pass leaves Qt's repaint requests pending, so the counted passes measure only the program's work.
    f.TarvolundClick();
    const long count = allocationsDuring([&] {
        for (int i = 0; i < 20; ++i) {
            f.TarvolundClick();
        }
    });
    EXPECT_EQ(count, 0) << "allocations in 20 passes";
}

TEST_F(WindowTest, SteadyStatePassesAllocateNothing) {
    TForm1& f = makeForm(workedExampleFrame());
    showAndActivate();
    expectSteadyPassesAllocateNothing(f);
}

TEST_F(WindowTest, SteadyStatePassesWithTheSimulatedCameraAllocateNothing) {
    kestrane::CameraOptions options;
    options.kind = kestrane::CameraKind::Simulated;
    form = std::make_unique<TForm1>(createCapture(options));
    showAndActivate();
    expectSteadyPassesAllocateNothing(*form);
}

} // namespace
